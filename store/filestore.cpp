// The file store: blobs in the "files" folder next to "database.db", served
// from an in-memory cache that the flush writes back and trims. The store
// deletes only files whose names its ledger holds (fileledger_p.h), and only
// once no row names them, neither in memory nor committed in the file.

#include "writer_p.h"

#include "fileledger_p.h"
#include "storelog.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace store_internal {

QMutex fileMutex;
QDir filesDir;
QString dataDirPath;
QString databasePath;
QMap<QString, FileEntry> fileCache;
QSet<QString> reservedNames;

} // namespace store_internal

using namespace store_internal;

namespace {

constexpr qint64 expirySeconds = 7;
constexpr qint64 cacheLimitBytes = 52428800;
constexpr int nameLetters = 8;
constexpr int maxNameBytes = 255;
// Files checked against the rows per hold of fileMutex and tableMutex.
constexpr int filesPerHold = 64;
// Recorded names the sweep looks at per flush: a small step, so that no
// flush, and no quit waiting for one, takes long.
constexpr int sweepNamesPerFlush = 512;

// The sweep of files that no row names: asked for by an open or
// Database::startOrphanSweep, done by the flushes in steps.
QAtomicInt sweepAtOpen = 1;
QAtomicInt sweepRequested;
QAtomicInt sweepUnderWay;

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

// A name of 8 letters from "a" to "y" and `tail` that is neither reserved,
// cached nor in the folder; the caller holds fileMutex.
QString freshNameLocked(const QString &tail)
{
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
        return name;
    }
}

std::filesystem::path nativePath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

bool syncToDisk(const QFile &file)
{
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

// Writes `bytes` to `path` through the new file `temporary`, which then
// replaces it: `path` holds its old bytes or all of the new ones, never a
// part. True only when every byte is known to be on disk: written
// unbuffered (a buffered write can fail unseen when a full disk refuses the
// buffer), synced, and the size checked.
bool writeWhole(const QString &temporary, const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            break;
        done += written;
    }
    bool ok = done == bytes.size();
    if (!ok)
        *error = file.errorString();
    else if (!(ok = syncToDisk(file)))
        *error = QStringLiteral("cannot sync %1 to the disk").arg(temporary);
    file.close();
    if (ok && QFileInfo(temporary).size() != bytes.size()) {
        ok = false;
        *error = QStringLiteral("%1 holds fewer bytes than were written").arg(temporary);
    }
    if (ok) {
        // A link in the file's place is replaced, never written through.
        std::error_code code;
        std::filesystem::rename(nativePath(temporary), nativePath(path), code);
        if (code) {
            ok = false;
            *error = QString::fromStdString(code.message());
        }
    }
    if (!ok)
        QFile::remove(temporary);
    return ok;
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
    sweepAtOpen.storeRelaxed(atOpen ? 1 : 0);
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
    const QString name = freshNameLocked(tail);
    reservedNames.insert(name);
    return name;
}

QString Database::fileExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fileName.mid(dot);
}

namespace store_internal {

bool removeStoredFile(const QString &folder, const QString &name)
{
    if (!Database::isValidFileName(name))
        return false;
    const QFileInfo info(folder + QLatin1Char('/') + name);
    if (!info.isSymLink() && !info.isDir())
        QFile::remove(info.filePath());
    return true;
}

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

bool filesPending()
{
    QMutexLocker locker(&fileMutex);
    return haveFolder() && std::any_of(fileCache.cbegin(), fileCache.cend(), [](const FileEntry &entry) {
               return entry.removed || !entry.onDisk;
           });
}

void takeFileSnapshot(FilePass &pass)
{
    QMutexLocker locker(&fileMutex);
    if (pass.folder.isEmpty())
        return;
    pass.entries = fileCache;
    for (const QString &name : std::as_const(reservedNames)) {
        if (!pass.entries.contains(name))
            pass.awaited.insert(name);
    }
    // Each file is written through a new file of its own, reserved meanwhile.
    for (auto it = pass.entries.cbegin(); it != pass.entries.cend(); ++it) {
        if (!it->onDisk && !it->removed) {
            const QString temporary = freshNameLocked(QStringLiteral(".part"));
            reservedNames.insert(temporary);
            pass.temporaries.insert(it.key(), temporary);
        }
    }
}

bool writeFiles(FilePass &pass, FileLedger &ledger)
{
    if (pass.temporaries.isEmpty())
        return true;
    QString firstError;
    // Recorded before written: whatever a crash leaves in the folder from
    // here on, the store can tell as its own.
    if (!ledger.commit(pass.temporaries.keys() + pass.temporaries.values(), &firstError)) {
        for (auto it = pass.temporaries.cbegin(); it != pass.temporaries.cend(); ++it)
            pass.failed.insert(it.key());
    } else {
        // The folder may have been deleted while the program ran.
        const bool folderReady = QDir().mkpath(pass.folder);
        for (auto it = pass.temporaries.cbegin(); it != pass.temporaries.cend(); ++it) {
            const QString temporary = pass.folder + QLatin1Char('/') + it.value();
            QString error = QStringLiteral("cannot create %1").arg(pass.folder);
            const bool written
                = folderReady
                  && writeWhole(temporary, pass.folder + QLatin1Char('/') + it.key(), pass.entries.value(it.key()).data,
                                &error);
            if (written) {
                pass.written.insert(it.key());
            } else {
                pass.failed.insert(it.key());
                if (firstError.isEmpty())
                    firstError = error;
            }
            // Gone into the file's place, or removed after a failure: its
            // record is of no more use. One a failure left stays recorded.
            if (written || !QFileInfo::exists(temporary))
                ledger.forget(it.value());
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

namespace {

// Calls `visit` with the file columns and each of `names`, holding fileMutex
// and tableMutex for filesPerHold names at a time, so that nobody waits long
// for them.
template<typename Visit>
void visitInHolds(const QStringList &names, Visit visit)
{
    for (qsizetype from = 0; from < names.size(); from += filesPerHold) {
        QMutexLocker files(&fileMutex);
        QMutexLocker locker(&tableMutex);
        const FileColumns columns = fileColumnsLocked();
        for (const QString &name : names.mid(from, filesPerHold))
            visit(columns, name);
    }
}

// What became of names offered for deletion. Names in none of these wait:
// a committed row still names them, or the file could not tell.
struct Deletions
{
    QSet<QString> deleted;
    QSet<QString> named;   // a row in memory names them: kept
    QSet<QString> foreign; // unrecorded, or no bare file name: never deleted
};

// Deletes those of `names`, all recorded as the store's own, that no row
// names: no committed one (the file is asked; flushMutex, which the caller
// holds, keeps it as it is) and no pending one (memory is asked, and the
// file deleted, under one hold, so no row can come to name it in between).
// With `untouched`, names that the cache or a reservation holds are left
// alone as well.
//
// The records of the files deleted leave the ledger at once, in a commit of
// their own: left for a later flush, a crash in between would have the next
// start take a file the user puts there meanwhile under such a name (from a
// backup, say) for the store's own, and delete it.
void deleteUnreferenced(const QStringList &names, const QString &folder, FileLedger &ledger, bool untouched,
                        Deletions &out)
{
    QSet<QString> committed;
    if (names.isEmpty() || !ledger.namedInFile(names, &committed))
        return;
    visitInHolds(names, [&](const FileColumns &columns, const QString &name) {
        if (untouched && (fileCache.contains(name) || reservedNames.contains(name)))
            return;
        if (fileNamedLocked(columns, name)) {
            out.named.insert(name);
            return;
        }
        // Removed in memory, but not yet in the file.
        if (committed.contains(name))
            return;
        if (!removeStoredFile(folder, name)) {
            out.foreign.insert(name);
            return;
        }
        out.deleted.insert(name);
        ledger.forget(name);
    });
    if (!out.deleted.isEmpty())
        ledger.commit({}, nullptr);
}

void deleteRemovedFiles(FilePass &pass, FileLedger &ledger)
{
    QStringList removed;
    for (auto it = pass.entries.cbegin(); it != pass.entries.cend(); ++it) {
        // Only what was removed before the tables were taken: a row removed
        // after that still names the file in the committed tables.
        if (it->removed && pass.removedBefore.value(it.key(), 0) == it->version)
            removed.append(it.key());
    }
    QSet<QString> recorded;
    if (removed.isEmpty() || !ledger.recordedAmong(removed, &recorded))
        return;
    Deletions outcome;
    QStringList ours;
    for (const QString &name : std::as_const(removed)) {
        if (recorded.contains(name))
            ours.append(name);
        else
            outcome.foreign.insert(name);
    }
    deleteUnreferenced(ours, pass.folder, ledger, false, outcome);
    pass.deleted = std::move(outcome.deleted);
    pass.named = std::move(outcome.named);
    pass.foreign = std::move(outcome.foreign);
}

void sweepStep(const FilePass &pass, FileLedger &ledger)
{
    if (sweepRequested.loadAcquire() && !ledger.sweeping()) {
        sweepUnderWay.storeRelease(1);
        sweepRequested.storeRelease(0);
        ledger.startSweep();
    }
    if (!ledger.sweeping() || pass.folder.isEmpty()) {
        sweepUnderWay.storeRelease(0);
        return;
    }
    // Files written for rows that a crash kept from committing, and files of
    // removed rows that a crash kept from going: recorded, and named by no
    // row. Most names are named, which memory tells at once; only the rest
    // are asked of the file.
    const QStringList names = ledger.nextSweepNames(sweepNamesPerFlush);
    QStringList unnamed;
    visitInHolds(names, [&unnamed](const FileColumns &columns, const QString &name) {
        if (!fileCache.contains(name) && !reservedNames.contains(name) && !fileNamedLocked(columns, name))
            unnamed.append(name);
    });
    Deletions outcome;
    deleteUnreferenced(unnamed, pass.folder, ledger, true, outcome);
    if (!outcome.deleted.isEmpty()) {
        qCInfo(lcStore) << "Database: removed" << outcome.deleted.size() << "file(s) of the store that no row names";
        QMutexLocker locker(&fileMutex);
        filesDir.refresh();
    }
    if (!ledger.sweeping())
        sweepUnderWay.storeRelease(0);
}

} // namespace

void startOrphanSweep(bool atOpen)
{
    if (atOpen) {
        sweepUnderWay.storeRelease(0);
        sweepRequested.storeRelease(sweepAtOpen.loadRelaxed());
    } else {
        sweepRequested.storeRelease(1);
    }
}

void waitForOrphanSweep()
{
    while (sweepRequested.loadAcquire() || sweepUnderWay.loadAcquire()) {
        if (!Database::flush())
            return;
    }
}

void finishFilePass(FilePass &pass, FileLedger &ledger, bool tablesCommitted, bool closing)
{
    if (tablesCommitted) {
        deleteRemovedFiles(pass, ledger);
        if (!closing)
            sweepStep(pass, ledger);
    }
    // Records of temporary files gone ride on the next flush that records
    // names; the last flush settles them itself.
    if (closing)
        ledger.commit({}, nullptr);
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
        reservedNames.remove(pass.temporaries.value(name));
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
            // A name the store never wrote: its mark goes, and any file of
            // that name stays.
            if (pass.deleted.contains(name) || pass.foreign.contains(name)) {
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
