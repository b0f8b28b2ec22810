#pragma once

// The lock of the open data folder: "database.db.lock" beside the database.

#include "database.h"

#include <QDir>
#include <QLockFile>

#include <memory>

namespace store_internal {

// The lock file of the data folder `dir`.
QString lockFilePath(const QDir &dir);
// Takes the folder's lock, taking over a stale one; nullptr with the reason
// in `error` when another program holds it or the lock cannot be written.
std::unique_ptr<QLockFile> lockFolder(const QDir &dir, QString *error);
FolderLock inspectLock(const QString &path);

} // namespace store_internal
