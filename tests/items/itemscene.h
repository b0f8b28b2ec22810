#pragma once

// One store for a test program and, per test, a screenshot row with its
// editor scene shown in a view (offscreen). Rows go in through the item
// engine, as any writer's would.

#include "database.h"
#include "engine.h"
#include "mouse.h"
#include "pictures.h"
#include "skrin.h"
#include "skrinitem.h"
#include "tavrinconnector.h"
#include "tempstore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QGraphicsItem>
#include <QGraphicsView>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <memory>

// The store for a whole test program, with a connector that never
// synchronises (pictures still load through it).
struct ItemStore
{
    ItemStore()
    {
        registerEngineTypes();
        if (!TavrinConnector::instance())
            TavrinConnector::create();
        TavrinConnector::stopSync();
        QString error;
        if (!Database::open(folder.path(), &error))
            qWarning("store did not open: %s", qPrintable(error));
        bindTables();
    }
    ~ItemStore() { Database::close(); }
    TempStore folder;
};

class ItemScene
{
public:
    ItemScene()
    {
        skrinId = createItem(QStringLiteral("skrin"));
        setMember(skrinId, QStringLiteral("created"), QDateTime::currentDateTime());
    }

    ~ItemScene() { close(); }

    // The scene and its view; rows made before this exist at once.
    void open(int tool = Skrin::ToolSelect)
    {
        scene = std::make_unique<Skrin>(skrinId);
        view = std::make_unique<QGraphicsView>(scene.get());
        view->resize(640, 480);
        view->setSceneRect(0, 0, 600, 440);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        view->activateWindow();
        scene->setTool(tool);
    }

    void close()
    {
        view.reset();
        scene.reset();
        QCoreApplication::sendPostedEvents();
    }

    // A row of `table` under the screenshot; `parent` is written last, so the
    // scene hears of it once every other member is there.
    Id addRow(const QString &table, const QVariantMap &members, const QByteArray &file = {})
    {
        const Id id = createItem(table);
        for (auto it = members.cbegin(); it != members.cend(); ++it)
            setMember(id, it.key(), it.value());
        if (!file.isNull())
            setMemberFile(id, QStringLiteral("file"), file);
        setMember(id, QStringLiteral("parent"), skrinId);
        return id;
    }

    template<typename Kind>
    Kind *item(Id id) const
    {
        return scene ? dynamic_cast<Kind *>(scene->skrinItem(id)) : nullptr;
    }

    QPoint viewPoint(const QGraphicsItem *item, const QPointF &local) const
    {
        return view->mapFromScene(item->mapToScene(local));
    }

    void click(const QPoint &at, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, at);
    }

    // As a real double click arrives: press, release, double click, release.
    void doubleClick(const QPoint &at)
    {
        click(at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
    }

    // A left drag in steps (view points), as a hand would make it.
    void drag(const QPoint &from, const QPoint &to)
    {
        leftDrag(view.get(), view->mapToScene(from), view->mapToScene(to), 4);
    }

    // A picture file of one colour.
    static QByteArray png(int width, int height) { return encoded(filledImage(QSize(width, height), Qt::darkGreen)); }

    // Numeric members of a row, in the order named.
    static QList<double> numbers(Id id, const QStringList &members)
    {
        QList<double> values;
        for (const QString &member : members)
            values << getMember(id, member).toDouble();
        return values;
    }

    // No row, however hostile, may put a NaN or a runaway number into the scene.
    static bool finite(const QRectF &r, double limit = qInf())
    {
        for (const double v : {r.x(), r.y(), r.width(), r.height()})
            if (!std::isfinite(v) || std::abs(v) > limit)
                return false;
        return true;
    }

    // The colour at a scene point of a picture `render` made.
    QColor at(const QImage &image, double x, double y) const
    {
        return image.pixelColor(view->mapFromScene(QPointF(x, y)));
    }

    QImage render()
    {
        QImage image(view->viewport()->size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        view->render(&painter, QRectF(), view->viewport()->rect());
        return image;
    }

    Id skrinId = 0;
    std::unique_ptr<Skrin> scene;
    std::unique_ptr<QGraphicsView> view;
};
