#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// File operations on the application's Documents folder (logs, recordings,
// the database). Nothing outside that folder is ever written or removed by
// this helper: paths are checked after resolving "..", and symbolic links are
// removed as links, never followed out of the folder.
class UWSanboxFileManager {
public:
    static UWSanboxFileManager& sharedManager();

    // The Documents folder joined with a file name or relative path; leading,
    // trailing and doubled slashes add no separator of their own.
    QString getAFilePathBasedOnAFileName(const QString& fileName) const;

    // A write handle on path, positioned for appending. Without isAppend an
    // existing file is removed first, so writing starts on an empty file.
    // Null when the path lies outside the Documents folder, its folder does
    // not exist, or the open fails. New files get permission 0644.
    std::unique_ptr<QFile> createFileHandleWithPath(const QString& path, bool isAppend) const;

    QString getDocumentPath() const;
    QString getSanboxDocumentPath() const;

    // The names of the folder's direct entries, hidden ones included, sorted;
    // nullopt when the folder cannot be read.
    std::optional<QStringList> getAllFileNamesInDocument() const;

    // The total size of the files below the folder, as mebibytes with two
    // decimals ("1.00 M"); folders and links add nothing.
    QString getCacheSizeInDocument() const;

    // Removes every direct entry of the folder; true when all went (or there
    // was nothing), false when one could not be removed or the folder could
    // not be read.
    bool clearCacheInDocument() const;

    // Removes the file, folder or link at path. False when nothing is there,
    // when path is not inside the Documents folder, or when removal fails.
    bool deleteFileWithFilePath(const QString& path) const;

    // Shows the Documents folder in the desktop's file manager.
    void openDocumentsDirectory() const;

private:
    UWSanboxFileManager() = default;

    // path with its folder resolved (links and ".." included) when that folder
    // is the Documents folder or lies inside it; nullopt otherwise.
    std::optional<QString> resolvedInsideDocuments(const QString& path) const;
    // Removes a file or link, or a folder with its contents; links are never
    // followed.
    static bool removeItem(const QString& path);
};
