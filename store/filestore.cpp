// The file store: blobs in the "files" folder next to "database.db", served
// from an in-memory cache that the flush writes back and trims.

#include "writer_p.h"

#include "storelog.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QThread>

#include <algorithm>

namespace store_internal {

QMutex fileMutex;
QDir filesDir;
QString dataDirPath;
QString databasePath;
QMap<QString, FileEntry> fileCache;
QSet<QString> reservedNames;
bool sweepOrphans = false;

} // namespace store_internal

using namespace store_internal;

namespace {

constexpr qint64 expirySeconds = 7;
constexpr qint64 cacheLimitBytes = 52428800;
constexpr int nameLetters = 8;
constexpr int maxNameBytes = 255;
// Files checked against the rows per hold of fileMutex and tableMutex.
constexpr int filesPerHold = 64;

// The running or finished sweep; the mutex is taken alone.
QMutex sweepMutex;
QThread *sweeper = nullptr;
QAtomicInt sweepStopping;
bool sweepAtOpen = true;

// Guarded by fileMutex; every change of an entry gets a new one.
quint64 lastVersion = 0;
// Touched by the flush only, which flushMutex serialises.
bool writesFailing = false;

// The caller holds fileMutex.
bool haveFolder()
{
    return !dataDirPath.isEmpty();
}

// The caller holds fileMutex.
FileEntry &entryOf(const QString &name)
{
    auto it = fileCache.find(name);
    if (it == fileCache.end()) {
        FileEntry entry;
        entry.lastUse = QDateTime::currentDateTime();
        it = fileCache.insert(name, entry);
    }
    return *it;
}

} // namespace

bool Database::isValidFileName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':')
            || c.category() == QChar::Other_Control)
            return false;
    }
    // Broken UTF-16 would encode to the same bytes as another name.
    return name.isValidUtf16() && name.toUtf8().size() <= maxNameBytes;
}

bool Database::isFileColumn(const QString &column)
{
    return column == QLatin1String("file") || column.endsWith(QLatin1String("_file"));
}

namespace store_internal {

FileColumns fileColumnsLocked()
{
    FileColumns columns;
    for (int table = 0; table < tables.size(); ++table) {
        const Table &t = tables.at(table);
        for (int column = 0; column < t.columnCount; ++column) {
            if (Database::isFileColumn(t.columnNames.at(column)))
                columns.append({table, column});
        }
    }
    return columns;
}

bool fileNamedLocked(const FileColumns &columns, const QString &name)
{
    const IndexKey key = IndexKey::of(name);
    const auto names = [&name](const QVariant &cell) {
        return cell.typeId() == QMetaType::QString && *static_cast<const QString *>(cell.constData()) == name;
    };
    for (const auto &[table, column] : columns) {
        const Table &t = tables.at(table);
        const ColumnCells cells = t.cellsOf(column);
        const ValueIndex *index = t.index(column);
        if (index) {
            for (auto [it, end] = index->equalRange(key, cells); it != end; ++it) {
                if (names(cells.at(it->row)))
                    return true;
            }
            continue;
        }
        for (int row = t.rows.next(0); row != 0; row = t.rows.next(row)) {
            if (names(cells.at(row)))
                return true;
        }
    }
    return false;
}

} // namespace store_internal

void Database::setOrphanSweepAtOpen(bool atOpen)
{
    QMutexLocker locker(&sweepMutex);
    sweepAtOpen = atOpen;
}

void Database::startOrphanSweep()
{
    store_internal::startOrphanSweep();
}

QString Database::setFileData(const QString &name, const QByteArray &bytes)
{
    if (name.isEmpty())
        return QString();
    if (!isValidFileName(name)) {
        qCWarning(lcStore) << "Database: refused to store a file under the name" << name;
        return QString();
    }
    QMutexLocker locker(&fileMutex);
    FileEntry &entry = entryOf(name);
    entry.lastUse = QDateTime::currentDateTime();
    entry.onDisk = false;
    entry.data = bytes;
    entry.removed = false;
    entry.writeFailed = false;
    entry.version = ++lastVersion;
    return name;
}

QString Database::storeNewFile(const QByteArray &bytes, const QString &suffix)
{
    return setFileData(newFileName(suffix), bytes);
}

QByteArray Database::fileData(const QString &name)
{
    if (!isValidFileName(name))
        return QByteArray();
    QMutexLocker locker(&fileMutex);
    const auto it = fileCache.find(name);
    if (it != fileCache.end()) {
        it->lastUse = QDateTime::currentDateTime();
        return it->removed ? QByteArray() : it->data;
    }
    if (!haveFolder())
        return QByteArray();
    // Only a file that is there is cached: an entry stands for a file.
    QFile file(filesDir.absoluteFilePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray data = file.readAll();
    FileEntry &entry = entryOf(name);
    entry.onDisk = true;
    entry.data = data;
    return data;
}

qint64 Database::fileSize(const QString &name)
{
    if (!isValidFileName(name))
        return 0;
    QMutexLocker locker(&fileMutex);
    const auto it = fileCache.constFind(name);
    if (it != fileCache.cend())
        return it->removed ? 0 : it->data.size();
    if (!haveFolder())
        return 0;
    const QFileInfo info(filesDir.absoluteFilePath(name));
    return info.isFile() ? info.size() : 0;
}

bool Database::fileExists(const QString &name)
{
    if (!isValidFileName(name))
        return false;
    QMutexLocker locker(&fileMutex);
    if (fileCache.contains(name))
        return true;
    return haveFolder() && QFileInfo::exists(filesDir.absoluteFilePath(name));
}

void Database::removeFile(const QString &name)
{
    if (name.isEmpty())
        return;
    if (!isValidFileName(name)) {
        qCWarning(lcStore) << "Database: refused to remove a file under the name" << name;
        return;
    }
    QMutexLocker locker(&fileMutex);
    FileEntry &entry = entryOf(name);
    entry.removed = true;
    entry.version = ++lastVersion;
}

QString Database::filePath(const QString &name)
{
    if (!isValidFileName(name))
        return QString();
    QMutexLocker locker(&fileMutex);
    return haveFolder() ? filesDir.absoluteFilePath(name) : QString();
}

QString Database::newFileName(const QString &suffix)
{
    // Callers rely on the suffix they ask for (".jpg", "_thumb.png"), so it is
    // kept whenever the name stays one safe path component on every platform:
    // no separators or reserved characters, no trailing dot or space (Windows
    // strips those), and within the length limit.
    static const QRegularExpression unsafe(QStringLiteral("[<>\"|?*]|[. ]$"));
    QString tail = suffix;
    if (!tail.isEmpty()
        && (unsafe.match(tail).hasMatch()
            || !isValidFileName(QString(nameLetters, QLatin1Char('a')) + tail))) {
        qCWarning(lcStore) << "Database: dropped an unsafe file name suffix" << suffix.left(40);
        tail.clear();
    }

    QMutexLocker locker(&fileMutex);
    for (;;) {
        QString name;
        name.reserve(nameLetters + tail.size());
        for (int i = 0; i < nameLetters; ++i)
            name.append(QChar(u'a' + QRandomGenerator::global()->bounded(25)));
        name.append(tail);
        if (reservedNames.contains(name) || fileCache.contains(name))
            continue;
        if (haveFolder() && QFileInfo::exists(filesDir.absoluteFilePath(name)))
            continue;
        reservedNames.insert(name);
        return name;
    }
}

QString Database::fileExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fileName.mid(dot);
}

namespace store_internal {

void takeRemovedFiles(FilePass &pass)
{
    QMutexLocker locker(&fileMutex);
    if (!haveFolder())
        return;
    pass.folder = filesDir.absolutePath();
    for (auto it = fileCache.cbegin(); it != fileCache.cend(); ++it) {
        if (it->removed)
            pass.removedBefore.insert(it.key(), it->version);
    }
}

void takeFileSnapshot(FilePass &pass)
{
    QMutexLocker locker(&fileMutex);
    if (pass.folder.isEmpty())
        return;
    pass.entries = fileCache;
}

bool writeFiles(FilePass &pass)
{
    bool folderReady = false;
    QString firstError;
    for (auto it = pass.entries.cbegin(); it != pass.entries.cend(); ++it) {
        if (it->onDisk || it->removed)
            continue;
        // The folder may have been deleted while the program ran.
        if (!folderReady)
            folderReady = QDir().mkpath(pass.folder);
        const QString path = pass.folder + QLatin1Char('/') + it.key();
        // QSaveFile would write through a link; a stored file is never one.
        if (QFileInfo(path).isSymLink())
            QFile::remove(path);
        QSaveFile file(path);
        if (folderReady && file.open(QIODevice::WriteOnly) && file.write(it->data) == it->data.size()
            && file.commit()) {
            pass.written.insert(it.key());
        } else {
            pass.failed.insert(it.key());
            if (firstError.isEmpty())
                firstError = folderReady ? file.errorString() : QStringLiteral("cannot create %1").arg(pass.folder);
        }
    }
    pass.error = firstError;
    if (!pass.failed.isEmpty() && !writesFailing) {
        writesFailing = true;
        qCWarning(lcStore).noquote() << "Database: could not write" << pass.failed.size() << "file(s) to" << pass.folder
                                     << ", keeping them in memory and retrying:" << firstError;
    } else if (pass.failed.isEmpty() && !pass.written.isEmpty() && writesFailing) {
        writesFailing = false;
        qCInfo(lcStore) << "Database: files written again";
    }
    return pass.failed.isEmpty();
}

void deleteRemovedFiles(FilePass &pass)
{
    QStringList names;
    for (auto it = pass.entries.cbegin(); it != pass.entries.cend(); ++it) {
        // Only what was removed before the tables were taken: a row removed
        // after that may still name the file in the committed tables.
        if (it->removed && pass.removedBefore.value(it.key(), 0) == it->version)
            names.append(it.key());
    }
    // A file freed and then named again (A -> B -> A) stays. The check and
    // the deletion happen under one hold, so no row can come to name the
    // file in between.
    for (qsizetype from = 0; from < names.size(); from += filesPerHold) {
        QMutexLocker files(&fileMutex);
        QMutexLocker locker(&tableMutex);
        const FileColumns columns = fileColumnsLocked();
        for (const QString &name : names.mid(from, filesPerHold)) {
            if (fileNamedLocked(columns, name)) {
                pass.named.insert(name);
                continue;
            }
            // A file that is already gone is no error.
            QFile::remove(pass.folder + QLatin1Char('/') + name);
            pass.deleted.insert(name);
        }
    }
}

bool isStoreFileName(const QString &name)
{
    // Eight letters from "a" to "y", an extension as the program asks for
    // (".png", ".jpg", what a download's address ends in), and the tail that
    // QSaveFile gives the temporary it writes such a file through.
    static const QRegularExpression form(QRegularExpression::anchoredPattern(
        QStringLiteral("[a-y]{%1}(\\.[A-Za-z0-9]{1,10})?(\\.[A-Za-z0-9]{6})?").arg(nameLetters)));
    return form.match(name).hasMatch();
}

namespace {

// "files" is a real folder of its own inside the data folder, not a link
// to somebody's pictures or a folder reached through one.
bool isOwnFilesFolder(const QString &folder, const QString &dataFolder)
{
    const QFileInfo info(folder);
    if (info.isSymLink() || info.isJunction() || !info.isDir())
        return false;
    const QString data = QFileInfo(dataFolder).canonicalFilePath();
    return !data.isEmpty() && info.canonicalFilePath() == QDir(data).filePath(QStringLiteral("files"));
}

} // namespace

// Safe beside flushes: a file is checked and deleted under one hold of
// fileMutex and tableMutex, so no row can come to name it in between, and a
// file on its way to the disk or away from it has its cache entry.
void removeOrphanedFiles()
{
    QString folder;
    QString dataFolder;
    {
        QMutexLocker locker(&fileMutex);
        if (!haveFolder() || !sweepOrphans)
            return;
        folder = filesDir.absolutePath();
        dataFolder = dataDirPath;
    }
    if (!isOwnFilesFolder(folder, dataFolder)) {
        qCInfo(lcStore).noquote() << "Database:" << folder
                                  << "is not a folder of the data folder's own; files that no row names stay";
        return;
    }
    // Files written by a flush whose tables never committed, and removals
    // whose commit never came, are left behind by a crash. Only what the
    // store writes goes: regular files under its own names. Anything else
    // (a user's document in a portable folder, a link, a folder) stays.
    const QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QStringList names;
    for (const QString &name : entries) {
        if (!isStoreFileName(name))
            continue;
        const QFileInfo info(folder + QLatin1Char('/') + name);
        if (info.isFile() && !info.isSymLink())
            names.append(name);
    }
    qsizetype removed = 0;
    for (qsizetype from = 0; from < names.size(); from += filesPerHold) {
        if (!isOwnFilesFolder(folder, dataFolder))
            break;
        if (sweepStopping.loadRelaxed())
            return;
        QMutexLocker files(&fileMutex);
        QMutexLocker locker(&tableMutex);
        if (filesDir.absolutePath() != folder)
            return;
        const FileColumns columns = fileColumnsLocked();
        for (const QString &name : names.mid(from, filesPerHold)) {
            if (fileCache.contains(name) || reservedNames.contains(name) || fileNamedLocked(columns, name))
                continue;
            if (QFile::remove(folder + QLatin1Char('/') + name))
                ++removed;
        }
    }
    if (removed > 0) {
        QMutexLocker locker(&fileMutex);
        filesDir.refresh();
    }
    const qsizetype foreign = entries.size() - names.size();
    if (foreign > 0)
        qCInfo(lcStore).noquote() << "Database: removed" << removed << "file(s) that no row names;" << foreign
                                  << "entries of" << folder << "that the store did not write stay";
    else if (removed > 0)
        qCInfo(lcStore) << "Database: removed" << removed << "file(s) that no row names";
}

void startOrphanSweep(bool atOpen)
{
    QMutexLocker locker(&sweepMutex);
    if ((atOpen && !sweepAtOpen) || (sweeper && !sweeper->isFinished()))
        return;
    delete std::exchange(sweeper, nullptr);
    sweepStopping.storeRelaxed(0);
    sweeper = QThread::create(removeOrphanedFiles);
    // Idle: the sweep never takes time from the window or the writer.
    sweeper->start(QThread::IdlePriority);
}

void stopOrphanSweep()
{
    QMutexLocker locker(&sweepMutex);
    if (!sweeper)
        return;
    sweepStopping.storeRelaxed(1);
    sweeper->wait();
    delete std::exchange(sweeper, nullptr);
}

void waitForOrphanSweep()
{
    QMutexLocker locker(&sweepMutex);
    if (sweeper)
        sweeper->wait();
}

void finishFilePass(const FilePass &pass)
{
    if (pass.entries.isEmpty())
        return;
    struct Candidate
    {
        QDateTime lastUse;
        QString name;
        qint64 size;
    };
    QList<Candidate> candidates;
    qint64 total = 0;

    QMutexLocker locker(&fileMutex);
    const QDateTime now = QDateTime::currentDateTime();
    for (auto snap = pass.entries.cbegin(); snap != pass.entries.cend(); ++snap) {
        const QString &name = snap.key();
        if (pass.written.contains(name))
            reservedNames.remove(name);
        const auto it = fileCache.find(name);
        if (it == fileCache.end())
            continue;
        // Changed after the snapshot: its new state is the next flush's work.
        if (it->version != snap->version) {
            total += it->data.size();
            continue;
        }
        if (pass.failed.contains(name)) {
            it->writeFailed = true;
            total += it->data.size();
            continue;
        }
        if (snap->removed) {
            if (pass.deleted.contains(name)) {
                reservedNames.remove(name);
                fileCache.erase(it);
            } else if (pass.named.contains(name)) {
                // Named again: bytes never written go to disk with the next
                // flush; otherwise the file on disk serves again.
                if (!it->onDisk && !it->data.isNull()) {
                    it->removed = false;
                    it->version = ++lastVersion;
                } else {
                    fileCache.erase(it);
                }
            }
            continue;
        }
        it->onDisk = true;
        it->writeFailed = false;
        if (it->lastUse.secsTo(now) >= expirySeconds) {
            reservedNames.remove(name);
            fileCache.erase(it);
            continue;
        }
        total += it->data.size();
        candidates.append(Candidate{it->lastUse, name, it->data.size()});
    }

    if (total > cacheLimitBytes) {
        std::sort(candidates.begin(), candidates.end(), [](const Candidate &a, const Candidate &b) {
            if (a.lastUse != b.lastUse)
                return a.lastUse < b.lastUse;
            if (a.name != b.name)
                return a.name < b.name;
            return a.size < b.size;
        });
        for (const Candidate &candidate : std::as_const(candidates)) {
            if (total <= cacheLimitBytes)
                break;
            reservedNames.remove(candidate.name);
            fileCache.remove(candidate.name);
            total -= candidate.size;
        }
    }
    if (!pass.written.isEmpty() || !pass.deleted.isEmpty())
        filesDir.refresh();
}

} // namespace store_internal
