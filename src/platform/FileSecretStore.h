#pragma once

#include "platform/SecretStore.h"

#include <QList>
#include <QMutex>

#include <functional>

namespace platform {

// Secrets in one JSON file that only its owner may read or write (mode
// 0600). Every change rewrites the whole file through a temporary file
// created with mode 0600 and renamed over it, so the file is never readable
// by others, not even for a moment, and a crash leaves either the old or the
// new contents. A lock file beside it keeps two processes from interleaving
// their changes.
//
// A file that exists but cannot be understood is never overwritten: every
// operation fails with the reason until it is repaired or removed, so
// secrets this version cannot read are not lost. A file found with looser
// permissions is restricted to its owner before it is read; a symbolic
// link, a file of another user or anything but a regular file is refused.
class FileSecretStore final : public SecretStore {
public:
    static const QString kFileName; // "secrets.json"
    static constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;

    // kFileName in the Application Support folder, looked up at each
    // operation (so PRAVIK_HOME applies).
    FileSecretStore();
    explicit FileSecretStore(QString filePath);

    QString filePath() const;

    Status find(const QString& service, const QString& account, SecretItem* item, QString* error) override;
    Status add(const SecretItem& item, QString* error) override;
    Status update(const SecretItem& item, QString* error) override;
    Status remove(const QString& service, const QString& account, QString* error) override;

private:
    // The items of the file (none when it does not exist yet); false, with
    // the reason, when it cannot be read or understood.
    bool load(const QString& path, QList<SecretItem>* items, QString* error) const;
    bool save(const QString& path, const QList<SecretItem>& items, QString* error) const;
    // Runs a read-modify-write under the process lock and the file lock.
    Status change(const QString& service, const QString& account, QString* error,
        const std::function<Status(QList<SecretItem>& items, qsizetype index)>& apply);

    QString fixedPath_;
    QMutex mutex_;
};

} // namespace platform
