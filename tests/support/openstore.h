#pragma once

// A real store in a temporary folder, opened and bound for the window's
// tests, closed again afterwards. Include it only from tests that link the
// engine (through their own library).

#include "database.h"
#include "engine.h"
#include "tempstore.h"

#include <QCoreApplication>
#include <QTest>

// A new row of `table` with the members, "parent" written last: watchers
// hear of it once every other member is there.
inline Id addRow(const QString &table, Id parent, const QVariantMap &members)
{
    const Id id = createItem(table);
    for (auto it = members.cbegin(); it != members.cend(); ++it)
        setMember(id, it.key(), it.value());
    setMember(id, QStringLiteral("parent"), QVariant(qint64(parent)));
    return id;
}

class OpenStore
{
public:
    OpenStore()
    {
        registerEngineTypes();
        QString error;
        opened = Database::open(folder.path(), &error);
        if (!opened)
            qWarning("store did not open: %s", qPrintable(error));
        bindTables();
    }

    ~OpenStore()
    {
        QCoreApplication::sendPostedEvents();
        Database::close();
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

    TempStore folder;
    bool opened = false;
};
