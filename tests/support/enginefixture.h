#pragma once

// Small helpers the engine tests share, beside the store of openstore.h.

#include "database.h"
#include "engine.h"
#include "openstore.h"
#include "watcher.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

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
    std::unique_ptr<OpenStore> store;
    // What a test checks after each case, once the store is closed.
    virtual void afterEach() {}

private slots:
    void init()
    {
        store = std::make_unique<OpenStore>();
        QVERIFY(store->opened);
    }
    void cleanup()
    {
        settle();
        store.reset();
        afterEach();
    }
};
