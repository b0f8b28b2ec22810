// The soundness check of "database.db": beside the opening, or before the first write.

#include "filecheck_p.h"

#include "database.h"
#include "writer_p.h"

#include <QMutex>
#include <QScopeGuard>

#include <sqlite3.h>

#include <atomic>
#include <thread>
#include <utility>

namespace {

// The check of the last open; `mutex` is taken alone.
struct Check
{
    QMutex mutex;
    std::thread thread;
    QString verdict; // written by the thread, read once it is joined
    QString deferred; // the file whose check waits for the verdict's first asking
    std::atomic<bool> passed{false};

    // A check still running when the process ends is waited for.
    ~Check()
    {
        if (thread.joinable())
            thread.join();
    }
};

Check check;
std::atomic<bool> afterOpen{false};

} // namespace

namespace store_internal {

QString checkDatabase(const QString &path)
{
    sqlite3 *connection = nullptr;
    const auto close = qScopeGuard([&connection] { sqlite3_close(connection); });
    if (sqlite3_open_v2(path.toUtf8().constData(), &connection, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return QStringLiteral("%1 cannot be opened: %2").arg(path, QString::fromUtf8(sqlite3_errmsg(connection)));
    sqlite3_busy_timeout(connection, busyTimeoutMs);
    sqlite3_stmt *statement = nullptr;
    const auto finalize = qScopeGuard([&statement] { sqlite3_finalize(statement); });
    if (sqlite3_prepare_v2(connection, "PRAGMA quick_check", -1, &statement, nullptr) != SQLITE_OK
        || sqlite3_step(statement) != SQLITE_ROW)
        return QStringLiteral("%1 is not a usable database: %2").arg(path, QString::fromUtf8(sqlite3_errmsg(connection)));
    const QString verdict = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
    return verdict == QLatin1String("ok") ? QString() : QStringLiteral("%1 is damaged: %2").arg(path, verdict);
}

namespace {

// Ends the last open's check and forgets its verdict, in the same hold of
// check.mutex as what replaces it: the sync thread must never see an
// unchecked file as passed. Only a file that holds nothing passes at once.
void resetCheckLocked(const QString &path)
{
    if (check.thread.joinable())
        check.thread.join();
    check.verdict.clear();
    check.deferred.clear();
    check.passed = path.isEmpty();
}

} // namespace

void startFileCheck(const QString &path)
{
    QMutexLocker locker(&check.mutex);
    resetCheckLocked(path);
    if (path.isEmpty())
        return;
    check.thread = std::thread([path] {
        const QString verdict = checkDatabase(path);
        check.verdict = verdict;
        check.passed = verdict.isEmpty();
    });
}

void deferFileCheck(const QString &path)
{
    QMutexLocker locker(&check.mutex);
    resetCheckLocked(path);
    check.deferred = path;
}

QString fileCheckVerdict()
{
    QMutexLocker locker(&check.mutex);
    if (check.thread.joinable())
        check.thread.join();
    if (!check.deferred.isEmpty()) {
        check.verdict = checkDatabase(std::exchange(check.deferred, QString()));
        check.passed = check.verdict.isEmpty();
    }
    return check.verdict;
}

bool fileCheckPassed()
{
    return check.passed;
}

bool checkAfterOpen()
{
    return afterOpen;
}

} // namespace store_internal

void Database::setCheckAfterOpen(bool after)
{
    afterOpen = after;
}

bool Database::fileCheckPassed()
{
    return store_internal::fileCheckPassed();
}
