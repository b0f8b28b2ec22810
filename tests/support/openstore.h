#pragma once

// A real store in a temporary folder, opened and bound for the window's
// tests, closed again afterwards. Include it only from tests that link the
// engine (through their own library).

#include "database.h"
#include "engine.h"
#include "tempstore.h"

#include <QCoreApplication>
#include <QTest>

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
        const Id row = createItem(table);
        setMember(row, QStringLiteral("x"), x);
        setMember(row, QStringLiteral("y"), y);
        setMember(row, QStringLiteral("z"), z);
        setMember(row, QStringLiteral("parent"), skrin);
        return row;
    }

    TempStore folder;
    bool opened = false;
};
