#include "platform/FileSecretStore.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

const QString FileSecretStore::kFileName = QStringLiteral("secrets.json");

namespace {

constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;
constexpr int kFormatVersion = 1;

const QString kVersionKey = QStringLiteral("version");
const QString kItemsKey = QStringLiteral("items");
const QString kServiceKey = QStringLiteral("service");
const QString kAccountKey = QStringLiteral("account");
const QString kGenericKey = QStringLiteral("generic");
const QString kSecretKey = QStringLiteral("secret");

void setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

QString systemError(const QString& what, const QString& path, int code)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(code)));
}

// Closes the descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd_(fd)
    {
    }
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now; false when the close reports an error (a lost write).
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

bool readAll(int fd, qint64 size, QByteArray* bytes)
{
    bytes->resize(static_cast<qsizetype>(size));
    qsizetype done = 0;
    while (done < bytes->size()) {
        const ssize_t n = ::read(fd, bytes->data() + done, static_cast<size_t>(bytes->size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        done += n;
    }
    bytes->truncate(done);
    return true;
}

QByteArray encode(const QList<SecretItem>& items)
{
    QJsonArray array;
    for (const SecretItem& item : items) {
        QJsonObject object { { kServiceKey, item.service }, { kAccountKey, item.account },
            { kSecretKey, QString::fromLatin1(item.secret.toBase64()) } };
        if (item.generic)
            object.insert(kGenericKey, *item.generic);
        array.append(object);
    }
    return QJsonDocument(QJsonObject { { kVersionKey, kFormatVersion }, { kItemsKey, array } })
        .toJson(QJsonDocument::Compact);
}

bool decode(const QByteArray& bytes, QList<SecretItem>* items)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject root = document.object();
    if (root.value(kVersionKey).toInt(-1) != kFormatVersion || !root.value(kItemsKey).isArray())
        return false;
    items->clear();
    for (const QJsonValue& value : root.value(kItemsKey).toArray()) {
        const QJsonObject object = value.toObject();
        const QJsonValue service = object.value(kServiceKey);
        const QJsonValue account = object.value(kAccountKey);
        const QJsonValue secret = object.value(kSecretKey);
        if (!service.isString() || !account.isString() || !secret.isString())
            return false;
        const auto decoded = QByteArray::fromBase64Encoding(
            secret.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return false;
        SecretItem item { service.toString(), account.toString(), std::nullopt, *decoded };
        const QJsonValue generic = object.value(kGenericKey);
        if (generic.isString())
            item.generic = generic.toString();
        items->append(item);
    }
    return true;
}

qsizetype indexOf(const QList<SecretItem>& items, const QString& service, const QString& account)
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i].service == service && items[i].account == account)
            return i;
    }
    return -1;
}

bool validKey(const QString& service, const QString& account, QString* error)
{
    if (service.isEmpty() || account.isEmpty()) {
        setError(error, QStringLiteral("A secret needs a service and an account"));
        return false;
    }
    return true;
}

} // namespace

FileSecretStore::FileSecretStore() = default;

FileSecretStore::FileSecretStore(QString filePath)
    : fixedPath_(std::move(filePath))
{
}

QString FileSecretStore::filePath() const
{
    if (!fixedPath_.isEmpty())
        return fixedPath_;
    return AppPaths::applicationSupport() + QLatin1Char('/') + kFileName;
}

bool FileSecretStore::load(const QString& path, QList<SecretItem>* items, QString* error) const
{
    items->clear();
    const QByteArray native = QFile::encodeName(path);
    Descriptor fd(::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT)
            return true;
        setError(error, systemError(QStringLiteral("Cannot open the secret store"), path, errno));
        return false;
    }
    struct stat info { };
    if (::fstat(fd.get(), &info) != 0) {
        setError(error, systemError(QStringLiteral("Cannot inspect the secret store"), path, errno));
        return false;
    }
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        setError(error, QStringLiteral("The secret store %1 is not a file of this user").arg(path));
        return false;
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0 && ::fchmod(fd.get(), kOwnerOnly) != 0) {
        setError(error, systemError(QStringLiteral("Cannot restrict the secret store"), path, errno));
        return false;
    }
    if (info.st_size > kMaxFileSize) {
        setError(error, QStringLiteral("The secret store %1 is too large").arg(path));
        return false;
    }
    QByteArray bytes;
    if (!readAll(fd.get(), info.st_size, &bytes)) {
        setError(error, systemError(QStringLiteral("Cannot read the secret store"), path, errno));
        return false;
    }
    if (!decode(bytes, items)) {
        setError(error, QStringLiteral("The secret store %1 is damaged; it is left as it is").arg(path));
        return false;
    }
    return true;
}

bool FileSecretStore::save(const QString& path, const QList<SecretItem>& items, QString* error) const
{
    QByteArray temporary = QFile::encodeName(path + QStringLiteral(".XXXXXX"));
    // mkstemp creates the file with mode 0600 (less with a strict umask),
    // so the secrets are never readable by others.
    Descriptor fd(::mkstemp(temporary.data()));
    if (fd.get() < 0) {
        setError(error, systemError(QStringLiteral("Cannot create a file beside"), path, errno));
        return false;
    }
    int code = 0;
    if (::fchmod(fd.get(), kOwnerOnly) != 0 || !writeAll(fd.get(), encode(items)) || ::fsync(fd.get()) != 0)
        code = errno;
    if (!fd.close() && code == 0)
        code = errno;
    if (code == 0 && ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        code = errno;
    if (code != 0) {
        ::unlink(temporary.constData());
        setError(error, systemError(QStringLiteral("Cannot write the secret store"), path, code));
        return false;
    }
    // The rename is durable once the folder is synchronised; a failure here
    // leaves the new contents in place, so it is not reported.
    Descriptor folder(::open(
        QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
    return true;
}

SecretStore::Status FileSecretStore::change(const QString& service, const QString& account, QString* error,
    const std::function<Status(QList<SecretItem>& items, qsizetype index)>& apply)
{
    if (!validKey(service, account, error))
        return Status::Failed;
    QMutexLocker lock(&mutex_);
    const QString path = filePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        setError(error, QStringLiteral("Cannot create the folder of the secret store %1").arg(path));
        return Status::Failed;
    }
    Descriptor lockFile(::open(QFile::encodeName(path + QStringLiteral(".lock")).constData(),
        O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly));
    if (lockFile.get() < 0) {
        setError(error, systemError(QStringLiteral("Cannot lock the secret store"), path, errno));
        return Status::Failed;
    }
    int locked;
    do
        locked = ::flock(lockFile.get(), LOCK_EX);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        setError(error, systemError(QStringLiteral("Cannot lock the secret store"), path, errno));
        return Status::Failed;
    }
    QList<SecretItem> items;
    if (!load(path, &items, error))
        return Status::Failed;
    const Status status = apply(items, indexOf(items, service, account));
    if (status != Status::Success)
        return status;
    // The file lock goes when lockFile is closed, after the new file is in place.
    return save(path, items, error) ? Status::Success : Status::Failed;
}

SecretStore::Status FileSecretStore::find(
    const QString& service, const QString& account, SecretItem* item, QString* error)
{
    if (!validKey(service, account, error))
        return Status::Failed;
    QMutexLocker lock(&mutex_);
    QList<SecretItem> items;
    if (!load(filePath(), &items, error))
        return Status::Failed;
    const qsizetype index = indexOf(items, service, account);
    if (index < 0)
        return Status::NotFound;
    if (item)
        *item = items[index];
    return Status::Success;
}

SecretStore::Status FileSecretStore::add(const SecretItem& item, QString* error)
{
    return change(item.service, item.account, error, [&item](QList<SecretItem>& items, qsizetype index) {
        if (index >= 0)
            return Status::Duplicate;
        items.append(item);
        return Status::Success;
    });
}

SecretStore::Status FileSecretStore::update(const SecretItem& item, QString* error)
{
    return change(item.service, item.account, error, [&item](QList<SecretItem>& items, qsizetype index) {
        if (index < 0)
            return Status::NotFound;
        items[index] = item;
        return Status::Success;
    });
}

SecretStore::Status FileSecretStore::remove(const QString& service, const QString& account, QString* error)
{
    return change(service, account, error, [](QList<SecretItem>& items, qsizetype index) {
        if (index < 0)
            return Status::NotFound;
        items.removeAt(index);
        return Status::Success;
    });
}

} // namespace platform
