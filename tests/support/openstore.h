#pragma once

// A real store in a temporary folder with the engine bound to it, for every
// test that works on one; closed again afterwards. What the engine asks of a
// sync engine meanwhile is recorded.

#include "database.h"
#include "engine.h"
#include "storelock.h"
#include "syncservice.h"
#include "tempstore.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QTest>
#include <QThreadPool>

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

// A new row of `table` with the members (and `file` stored as its "file"
// member), "parent" written last: watchers hear of it once every other
// member is there.
inline Id addRow(const QString &table, Id parent, const QVariantMap &members, const QByteArray &file = {})
{
    const Id id = createItem(table);
    for (auto it = members.cbegin(); it != members.cend(); ++it)
        setMember(id, it.key(), it.value());
    if (!file.isNull())
        setMemberFile(id, QStringLiteral("file"), file);
    setMember(id, QStringLiteral("parent"), QVariant(qint64(parent)));
    return id;
}

class OpenStore
{
public:
    OpenStore()
    {
        registerEngineTypes();
        clearMaps();
        open();
    }

    ~OpenStore()
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

    // A screenshot row with its picture rectangle, as a capture makes it.
    static Id newSkrin(const QRectF &picture = QRectF(0, 0, 400, 300))
    {
        const Id skrin = createItem(QStringLiteral("skrin"));
        const QVariantMap members{{"x", picture.x()}, {"y", picture.y()}, {"w", picture.width()},
                                  {"h", picture.height()}, {"created", QDateTime::currentDateTime()}};
        for (auto it = members.cbegin(); it != members.cend(); ++it)
            setMember(skrin, it.key(), it.value());
        return skrin;
    }

    // An annotation row under `skrin`.
    static Id newRow(const QString &table, Id skrin, double x, double y, double z)
    {
        return addRow(table, skrin, {{"x", x}, {"y", y}, {"z", z}});
    }

    RecordedRequests requests;
    TempStore dir;
    bool opened = false;
};
