// The writer thread: it owns its own SQLite connection and flushes every
// 300 ms, on request and once more when the store closes; callers hand it
// requests through one control block and wait for the answers.

#include "filecheck_p.h"
#include "flushwriter_p.h"

#include "storelog.h"
#include "storestatus.h"
#include "writer_p.h"

#include <QDeadlineTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QThread>
#include <QWaitCondition>

#include <algorithm>
#include <optional>
#include <utility>

namespace store_internal {

QMutex flushMutex;
bool closed = true;

} // namespace store_internal

using namespace store_internal;

namespace {

constexpr int flushIntervalMs = 300;

struct WriterTask
{
    QString sql;
    bool done = false;
    bool ok = false;
    QVariant firstValue;
};

class DataThread;

// Requests to the writer. Lives as long as the process, so that a caller
// waiting on it never outlives it. Its mutex is taken alone.
struct WriterControl
{
    QMutex mutex;
    QWaitCondition wake; // to the writer
    QWaitCondition done; // to callers
    DataThread *dataThread = nullptr;
    bool accepting = false;
    bool stopping = false;
    bool paused = false;
    bool started = false;
    bool startedOk = false;
    QString startError;
    quint64 requested = 0;
    quint64 served = 0;
    bool lastResult = false;
    QList<WriterTask *> tasks;
};

WriterControl control;

QAtomicInt connectionCounter;

class DataThread : public QThread
{
public:
    explicit DataThread(const QString &path)
        : path(path)
    {
    }

protected:
    void run() override;

private:
    void serve(FlushWriter &writer);

    QString path;
};

void DataThread::serve(FlushWriter &writer)
{
    // Nothing is written before the check of the file that the open started
    // (or left to the first write) has passed, and a damaged file never.
    // Asked at the first write, not at the start: a program's first moments
    // do not share the machine with the check.
    std::optional<QString> damage;
    const auto writable = [&damage] {
        if (!damage) {
            damage = fileCheckVerdict();
            if (!damage->isEmpty()) {
                qCWarning(lcStore).noquote() << "Database: nothing is written to a damaged file:" << *damage;
                StoreStatus::instance()->setDamage(*damage);
            }
        }
        return damage->isEmpty();
    };
    QMutexLocker locker(&control.mutex);
    QDeadlineTimer next(flushIntervalMs);
    for (;;) {
        while (!control.stopping && control.tasks.isEmpty() && control.requested == control.served
               && (control.paused || !next.hasExpired())) {
            if (control.paused)
                control.wake.wait(&control.mutex);
            else
                control.wake.wait(&control.mutex, next);
        }
        if (control.stopping)
            break;

        if (!control.tasks.isEmpty()) {
            const QList<WriterTask *> tasks = std::exchange(control.tasks, {});
            locker.unlock();
            const bool may = writable();
            for (WriterTask *task : tasks)
                task->ok = may && writer.runStatement(task->sql, &task->firstValue);
            locker.relock();
            for (WriterTask *task : tasks)
                task->done = true;
            control.done.wakeAll();
            continue;
        }

        const quint64 target = control.requested;
        locker.unlock();
        const bool may = writable();
        bool ok = false;
        {
            QMutexLocker flushLocker(&flushMutex);
            if (!closed && may) {
                FlushOutcome outcome = writer.flushLocked();
                ok = outcome.written;
                // Before the callers waiting for this flush are answered. Rows
                // that only wait for a file's bytes tell nothing either way.
                if (!ok && outcome.failure.isEmpty() && !outcome.waiting)
                    outcome.failure = QStringLiteral("the changes could not be written");
                if (ok || !outcome.failure.isEmpty())
                    StoreStatus::instance()->setWriteFailure(outcome.failure);
            }
        }
        locker.relock();
        control.served = std::max(control.served, target);
        control.lastResult = ok;
        control.done.wakeAll();
        locker.unlock();
        writer.releaseWork();
        locker.relock();
        next.setRemainingTime(flushIntervalMs);
    }

    // Closing: one last flush, and the store is closed in the same hold of
    // flushMutex, so nothing can slip in between.
    const quint64 target = control.requested;
    const QList<WriterTask *> tasks = std::exchange(control.tasks, {});
    locker.unlock();
    // A close before the first flush with nothing to write does not wait
    // for the check of the whole file, and then writes nothing at all: a
    // change racing the close may miss the last flush either way.
    const bool idle = !damage && !writer.anythingToWrite();
    const bool may = idle || writable();
    bool ok = false;
    {
        QMutexLocker flushLocker(&flushMutex);
        ok = !closed && may && (idle || writer.flushLocked(FlushKind::Closing).written);
        if (!closed && !ok && may)
            qCWarning(lcStore) << "Database: the last changes could not be written before closing";
        closed = true;
    }
    locker.relock();
    for (WriterTask *task : tasks)
        task->done = true;
    control.served = std::max(control.served, target);
    control.lastResult = ok;
    control.done.wakeAll();
}

void DataThread::run()
{
    const QString name = QStringLiteral("pellimore-writer-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        const bool ok = db.open();
        {
            QMutexLocker locker(&control.mutex);
            control.started = true;
            control.startedOk = ok;
            control.startError = ok ? QString() : sqlReason(db.lastError());
            control.done.wakeAll();
        }
        if (ok) {
            FlushWriter writer(name);
            serve(writer);
            writer.dropStatements();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

namespace store_internal {

bool startWriter(const QString &path, QString *error)
{
    QMutexLocker locker(&control.mutex);
    if (control.dataThread)
        return false;
    control.dataThread = new DataThread(path);
    control.stopping = false;
    control.started = false;
    control.accepting = false;
    control.tasks.clear();
    control.dataThread->start(QThread::InheritPriority);
    while (!control.started)
        control.done.wait(&control.mutex);
    if (!control.startedOk) {
        if (error)
            *error = QStringLiteral("cannot open the database for writing: %1").arg(control.startError);
        DataThread *thread = std::exchange(control.dataThread, nullptr);
        locker.unlock();
        thread->wait();
        delete thread;
        return false;
    }
    control.accepting = true;
    return true;
}

bool stopWriter()
{
    QMutexLocker locker(&control.mutex);
    DataThread *thread = control.dataThread;
    if (!thread)
        return true;
    control.accepting = false;
    control.stopping = true;
    control.wake.wakeAll();
    locker.unlock();
    thread->wait();
    locker.relock();
    control.dataThread = nullptr;
    control.stopping = false;
    const bool written = control.lastResult;
    locker.unlock();
    delete thread;
    return written;
}

bool writerAccepting()
{
    QMutexLocker locker(&control.mutex);
    return control.accepting;
}

bool runOnWriter(const QString &sql, QVariant *firstValue)
{
    WriterTask task;
    task.sql = sql;
    QMutexLocker locker(&control.mutex);
    if (!control.accepting)
        return false;
    control.tasks.append(&task);
    control.wake.wakeAll();
    while (!task.done)
        control.done.wait(&control.mutex);
    if (firstValue)
        *firstValue = task.firstValue;
    return task.ok;
}

void pausePeriodicFlush(bool paused)
{
    QMutexLocker locker(&control.mutex);
    control.paused = paused;
    control.wake.wakeAll();
}

} // namespace store_internal

bool Database::flush()
{
    QMutexLocker locker(&control.mutex);
    if (!control.accepting)
        return false;
    const quint64 ticket = ++control.requested;
    control.wake.wakeAll();
    while (control.served < ticket)
        control.done.wait(&control.mutex);
    return control.lastResult;
}

void Database::startSingleFlush()
{
    QMutexLocker locker(&control.mutex);
    if (!control.accepting)
        return;
    ++control.requested;
    control.wake.wakeAll();
}
