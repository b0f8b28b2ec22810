// One program at a time per data folder: two would each keep their own rows
// and id counters and overwrite each other's. The lock is Qt's lock file,
// which holds the writer's process id, program, host name and machine id,
// and which its writer keeps locked (flock) for as long as it runs.

#include "folderlock_p.h"

#include "migration_p.h"
#include "storelog.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QSysInfo>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// What a lock file says of its writer; `valid` is false for a file that
// cannot be read, is empty (a power loss right after it was made) or holds
// no process id.
struct LockContent
{
    bool opened = false;
    bool valid = false;
    qint64 process = 0;
    QString program;
    QString host;
    QByteArray machine;
};

LockContent readLock(const QString &path)
{
    LockContent content;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return content;
    content.opened = true;
    const QList<QByteArray> lines = file.read(4096).split('\n');
    bool ok = false;
    content.process = lines.value(0).trimmed().toLongLong(&ok);
    if (!ok || content.process <= 0 || lines.size() < 2)
        return content;
    content.valid = true;
    content.program = QString::fromUtf8(lines.value(1));
    content.host = QString::fromUtf8(lines.value(2));
    content.machine = lines.value(3);
    return content;
}

// As Qt tells machines apart: by the machine id where both have one, else
// by the host name.
bool writtenHere(const LockContent &content)
{
    const QByteArray ours = QSysInfo::machineUniqueId();
    if (!content.machine.isEmpty() && !ours.isEmpty())
        return content.machine == ours;
    return content.host.isEmpty() || content.host == QSysInfo::machineHostName();
}

#ifdef Q_OS_UNIX
// A descriptor of the lock file, closed when it goes; -1 when it cannot be
// opened.
class LockDescriptor
{
public:
    explicit LockDescriptor(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
    {
    }
    ~LockDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    LockDescriptor(const LockDescriptor &) = delete;
    LockDescriptor &operator=(const LockDescriptor &) = delete;

    bool isOpen() const { return fd >= 0; }
    // Whether this descriptor could take the file's lock: no process holds
    // it. Kept until the descriptor closes.
    bool take() const
    {
        if (fd < 0)
            return false;
        int result = 0;
        do {
            result = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (result != 0 && errno == EINTR);
        return result == 0;
    }
    // Whether a running process holds the file locked: the program that
    // wrote it, or one writing it right now. Otherwise the lock is taken.
    bool lockedByAnother() const { return fd >= 0 && !take() && errno == EWOULDBLOCK; }
    // Whether `path` still names the file this descriptor has open.
    bool stillAt(const QString &path) const
    {
        struct stat opened, named;
        return fd >= 0 && ::fstat(fd, &opened) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0
               && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
    }

private:
    int fd;
};
#endif

// Whether a running program on this computer holds the lock: Held, Stale
// only when the lock could be opened and taken, else Unreadable.
FolderLock::State stateHere(const QString &path, const LockContent &content)
{
#ifdef Q_OS_UNIX
    Q_UNUSED(content);
    const LockDescriptor descriptor(path);
    if (!descriptor.isOpen())
        return FolderLock::Unreadable;
    if (descriptor.take())
        return FolderLock::Stale;
    return errno == EWOULDBLOCK ? FolderLock::Held : FolderLock::Unreadable;
#else
    // QLockFile took a lock of an ended process over itself.
    Q_UNUSED(path);
    if (!content.opened)
        return FolderLock::Unreadable;
    return content.valid ? FolderLock::Held : FolderLock::Stale;
#endif
}

// Removes a lock that no running program holds; false, with the reason,
// when it cannot be removed. A lock that a program took meanwhile stays.
bool removeStaleLock(const QString &path, QString *error)
{
#ifdef Q_OS_UNIX
    // Held locked while it goes, so that no program can take it meanwhile
    // unseen; and only if the name still stands for it.
    const LockDescriptor stale(path);
    if (!stale.isOpen() || stale.lockedByAnother() || !stale.stillAt(path))
        return true; // taken, gone or unreadable now: the caller looks again
#endif
    QFile file(path);
    if (!file.exists() || file.remove())
        return true;
    if (error)
        *error = QStringLiteral("cannot remove the stale lock file %1: %2").arg(path, file.errorString());
    return false;
}

// Why a lock file cannot be written in `dir`, found out by writing a file
// the same way: QLockFile does not say.
QString writeFailure(const QDir &dir)
{
    QTemporaryFile probe(dir.absoluteFilePath(QStringLiteral("lock-probe-XXXXXX")));
    QString reason;
    if (!probe.open())
        reason = probe.errorString();
    else if (probe.write(QByteArray(256, 'x')) != 256 || !probe.flush())
        reason = probe.errorString();
    else
        reason = QStringLiteral("the lock file could not be written");
    const QStorageInfo storage(dir.absolutePath());
    if (storage.isValid() && storage.bytesAvailable() == 0)
        return QStringLiteral("the disk is full (%1)").arg(reason);
    return reason;
}

QString holderText(const FolderLock &lock)
{
    const QString program = lock.program.isEmpty() ? QStringLiteral("unknown program") : lock.program;
    return QStringLiteral("%1, process %2").arg(program, QString::number(lock.process));
}

// The user a file belongs to: their name, else their number.
QString ownerOf(const QString &path)
{
    const QFileInfo info(path);
    const QString name = info.owner();
    return name.isEmpty() ? QStringLiteral("#%1").arg(info.ownerId()) : name;
}

} // namespace

namespace store_internal {

QString lockFilePath(const QDir &dir)
{
    return dir.absoluteFilePath(Database::databaseFileName() + QStringLiteral(".lock"));
}

FolderLock inspectLock(const QString &path)
{
    FolderLock lock;
    lock.path = path;
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return lock;
    const LockContent content = readLock(path);
    lock.process = content.process;
    lock.program = content.program;
    lock.host = content.host;
    lock.owner = ownerOf(path);
    if (content.valid && !writtenHere(content)) {
        // Whether it still runs there cannot be seen from here.
        lock.state = FolderLock::OtherComputer;
        return lock;
    }
    // A lock of this computer, or one whose content is of no use (empty
    // after a power loss): held while its writer keeps it locked, stale once
    // nobody does. One that cannot even be opened proves nothing: another
    // user's program, which still runs, may have made it so.
    lock.state = stateHere(path, content);
    return lock;
}

std::unique_ptr<QLockFile> lockFolder(const QDir &dir, QString *error)
{
    const QString path = lockFilePath(dir);
    auto lock = std::make_unique<QLockFile>(path);
    // However long the owner has run, its lock holds while it lives.
    lock->setStaleLockTime(0);
    // A few rounds: a stale lock is removed, and another program starting
    // at the same moment may take the folder first.
    for (int round = 0; round < 3; ++round) {
        if (lock->tryLock(0))
            return lock;
        if (lock->error() != QLockFile::LockFailedError)
            break;
        const FolderLock holder = inspectLock(path);
        switch (holder.state) {
        case FolderLock::Free:
            continue; // gone meanwhile
        case FolderLock::Stale:
            qCInfo(lcStore).noquote() << "Database: taking over the stale lock" << path << "of" << holderText(holder);
            if (!removeStaleLock(path, error))
                return nullptr;
            continue;
        case FolderLock::Held:
            fail(error, QStringLiteral("%1 is in use by another program (%2); only one program can use a data folder "
                                       "at a time")
                            .arg(dir.absolutePath(), holderText(holder)));
            return nullptr;
        case FolderLock::Unreadable:
            fail(error, QStringLiteral("%1 may be in use by a program of the user %2: its lock file %3 cannot be read "
                                       "here; only one program can use a data folder at a time")
                            .arg(dir.absolutePath(), holder.owner, path));
            return nullptr;
        case FolderLock::OtherComputer:
            fail(error, QStringLiteral("%1 is locked by a program on another computer (%2 on %3), as its lock file %4 "
                                       "says; only one program can use a data folder at a time")
                            .arg(dir.absolutePath(), holderText(holder), holder.host, path));
            return nullptr;
        }
    }
    if (lock->error() == QLockFile::LockFailedError)
        fail(error, QStringLiteral("cannot lock %1: other programs keep taking it").arg(dir.absolutePath()));
    else
        fail(error, QStringLiteral("cannot write the lock file %1: %2").arg(path, writeFailure(dir)));
    return nullptr;
}

} // namespace store_internal

FolderLock Database::folderLock(const QString &dataFolder)
{
    if (dataFolder.isEmpty())
        return FolderLock();
    return store_internal::inspectLock(store_internal::lockFilePath(QDir(QFileInfo(dataFolder).absoluteFilePath())));
}

bool Database::takeOverLock(const FolderLock &seen, QString *error)
{
    const FolderLock now = store_internal::inspectLock(seen.path);
    if (now.state != FolderLock::OtherComputer || now.process != seen.process || now.host != seen.host
        || now.program != seen.program)
        return store_internal::fail(error, QStringLiteral("the lock file %1 has changed meanwhile").arg(seen.path));
    QFile file(seen.path);
    if (!file.remove())
        return store_internal::fail(
            error, QStringLiteral("cannot remove the lock file %1: %2").arg(seen.path, file.errorString()));
    qCInfo(lcStore).noquote() << "Database: removed the lock" << seen.path << "of" << holderText(seen) << "on"
                              << seen.host << "as the user asked";
    return true;
}
