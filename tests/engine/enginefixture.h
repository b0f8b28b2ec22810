#pragma once

// A real store in a temporary folder with the engine bound to it, and small
// helpers the engine tests share.

#include "database.h"
#include "engine.h"
#include "engineglobals.h"
#include "tavrinconnector.h"
#include "watcher.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

class EngineStore
{
public:
    EngineStore()
    {
        registerEngineTypes();
        TavrinConnector::create();
        // The engine tests exercise no synchronisation: without this, a
        // requested commit would go out to the default server address.
        TavrinConnector::instance()->stopSync();
        clearMaps();
        open();
    }

    ~EngineStore()
    {
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
        QMutexLocker lock(&storeMutex);
        tempIdToServerId.clear();
        serverIdToTempId.clear();
    }

    QTemporaryDir dir;
    bool opened = false;
};

// What the sync engine does when the web service accepted a created item:
// both maps learn the pair and every stored occurrence of the local id in an
// id member becomes the server id.
inline void translateId(Id local, Id server)
{
    QMutexLocker lock(&storeMutex);
    tempIdToServerId.insert(local, server);
    serverIdToTempId.insert(server, local);
    const QStringList tables = syncedTables
        + QStringList{"items", "uncommitted_create", "uncommitted_set", "uncommitted_remove", "downloads"};
    for (const QString &name : tables) {
        const int table = Database::tableId(name);
        const QStringList columns = Database::columnNames(table);
        RowCursor cursor = Database::allRows(table);
        while (cursor.next()) {
            for (int column = 0; column < columns.size(); ++column) {
                if (isIdMember(columns.at(column)) && Database::value(cursor, column).toLongLong() == local)
                    Database::setValue(cursor, column, QVariant(server));
            }
        }
    }
}

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
