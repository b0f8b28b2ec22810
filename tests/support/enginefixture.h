#pragma once

// A real store in a temporary folder with the engine bound to it, and small
// helpers the engine tests share.

#include "database.h"
#include "engine.h"
#include "storelock.h"
#include "syncservice.h"
#include "watcher.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <functional>
#include <memory>

// Records what the engine asks of the sync engine while it lives, as
// "commit", "download <url>", "reset", "version", "stop". Requests may come from any thread.
class RecordedRequests : public SyncService
{
public:
    RecordedRequests() : previous(syncService()) { registerSyncService(this); }
    ~RecordedRequests() override
    {
        registerSyncService(previous);
        QThreadPool::globalInstance()->waitForDone();
    }

    QStringList seen() const
    {
        QMutexLocker lock(&mutex);
        return requests;
    }
    int count(const QString &request = QStringLiteral("commit")) const { return int(seen().count(request)); }
    void clear()
    {
        QMutexLocker lock(&mutex);
        requests.clear();
    }

    void requestCommit() override { add(QStringLiteral("commit")); }
    void requestDownload(const QString &url) override { add(QStringLiteral("download ") + url); }
    void storeReset() override { add(QStringLiteral("reset")); }
    void wrongVersion() override { add(QStringLiteral("version")); }
    void stop() override { add(QStringLiteral("stop")); }

private:
    void add(const QString &request)
    {
        QMutexLocker lock(&mutex);
        requests.append(request);
    }

    SyncService *previous;
    mutable QMutex mutex;
    QStringList requests;
};

class EngineStore
{
public:
    EngineStore()
    {
        registerEngineTypes();
        clearMaps();
        open();
    }

    ~EngineStore()
    {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        Database::close();
        clearMaps();
    }

    bool open()
    {
        QString error;
        opened = Database::open(dir.path(), &error);
        if (!opened)
            qWarning("store did not open: %s", qPrintable(error));
        bindTables();
        return opened;
    }

    // A new run of the program on the same folder: the store is closed
    // (flushed) and opened again; in-memory id maps are gone.
    bool restart()
    {
        Database::close();
        clearMaps();
        return open();
    }

    static void clearMaps()
    {
        StoreLock lock;
        locked::localToServerIds(lock).clear();
        locked::serverToLocalIds(lock).clear();
    }

    RecordedRequests requests;
    QTemporaryDir dir;
    bool opened = false;
};

inline int rowsOf(const char *table)
{
    return Database::rowCount(Database::tableId(QString::fromLatin1(table)));
}

// Adds a row straight to a table, as a commit answer would: no bookkeeping.
inline int insertRow(const char *table, const QVariantMap &cells)
{
    const int t = Database::tableId(QString::fromLatin1(table));
    return Database::insertRow(t, Database::columnIds(t, cells));
}

// Rows of `table` whose `column` holds `value`.
inline QList<QVector<QVariant>> rowsWhere(const char *table, const char *column, const QVariant &value)
{
    const int t = Database::tableId(QString::fromLatin1(table));
    QList<QVector<QVariant>> result;
    RowCursor cursor = Database::select(t, Database::columnId(t, QString::fromLatin1(column)), value);
    while (cursor.next())
        result.append(Database::rowValues(cursor));
    return result;
}

// Runs queued notifications and deferred deletions.
inline void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// A WatcherInterface that records its calls as "plus -1", "set -1 title=x",
// "minus -1", "init", "set title=x", "remove".
class InterfaceRecorder : public WatcherInterface
{
public:
    QStringList events;
    std::function<void(const QString &)> hook;

    void onPlus(Id id) override { record(QStringLiteral("plus %1").arg(id)); }
    void onSet(Id id, const QString &member, const QVariant &value) override
    {
        record(QStringLiteral("set %1 %2=%3").arg(id).arg(member, value.toString()));
    }
    void onMinus(Id id) override { record(QStringLiteral("minus %1").arg(id)); }
    void onInit() override { record(QStringLiteral("init")); }
    void onSet(const QString &member, const QVariant &value) override
    {
        record(QStringLiteral("set %1=%2").arg(member, value.toString()));
    }
    void onRemove() override { record(QStringLiteral("remove")); }

private:
    void record(const QString &event)
    {
        events.append(event);
        if (hook)
            hook(event);
    }
};

// The base of the engine's tests: a fresh store for every case, closed after
// it with every queued notice delivered.
class EngineTest : public QObject
{
    Q_OBJECT
protected:
    std::unique_ptr<EngineStore> store;
    // What a test checks after each case, once the store is closed.
    virtual void afterEach() {}

private slots:
    void init()
    {
        store = std::make_unique<EngineStore>();
        QVERIFY(store->opened);
    }
    void cleanup()
    {
        settle();
        store.reset();
        afterEach();
    }
};
