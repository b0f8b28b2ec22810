#pragma once

// A screenshot's editor scene in a real editor view (offscreen) on a real
// store, with mouse input of explicit buttons in scene coordinates (QTest's
// helpers guess the buttons held), readers of the rows and of the painted
// view, and a count of the writes to one member of a row. Include it only
// from tests that link the editor.

#include "mouse.h"
#include "openstore.h"
#include "pictures.h"
#include "skrin.h"
#include "skrinitem.h"
#include "skrinview.h"
#include "watcher.h"

#include <QGraphicsItem>
#include <QPainter>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

class EditorScene
{
public:
    enum Opening { Now, Later };

    // `Later`: the scene waits for open(), so rows written before it are
    // there from the start.
    explicit EditorScene(Opening opening = Now)
    {
        skrin = OpenStore::newSkrin();
        if (opening == Now)
            open(Skrin::ToolNone);
    }

    ~EditorScene() { close(); }

    void open(int tool = Skrin::ToolSelect)
    {
        scene = std::make_unique<Skrin>(skrin);
        view = std::make_unique<SkrinView>();
        view->setScene(scene.get());
        view->resize(640, 480);
        view->setSceneRect(0, 0, 600, 440);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        view->activateWindow();
        view->setFocus();
        scene->setTool(tool);
    }

    void close()
    {
        view.reset();
        scene.reset();
        QCoreApplication::sendPostedEvents();
    }

    void press(const QPointF &at, Qt::MouseButton button = Qt::LeftButton, Qt::MouseButtons held = Qt::LeftButton)
    { sendMouse(view.get(), QEvent::MouseButtonPress, at, button, held); }
    void moveTo(const QPointF &at, Qt::MouseButtons held = Qt::LeftButton)
    { sendMouse(view.get(), QEvent::MouseMove, at, Qt::NoButton, held); }
    void release(const QPointF &at, Qt::MouseButton button = Qt::LeftButton, Qt::MouseButtons held = {})
    { sendMouse(view.get(), QEvent::MouseButtonRelease, at, button, held); }
    // A left drag in four moves, as a hand makes it.
    void drag(const QPointF &from, const QPointF &to) { leftDrag(view.get(), from, to, 4); }
    void click(const QPointF &at) { drag(at, at); }
    // As a real double click arrives: press, release, double click, release.
    void doubleClick(const QPointF &at)
    {
        click(at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->mapFromScene(at));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, view->mapFromScene(at));
    }

    // The rows of one table under this screenshot (or `parent`), or all its
    // annotation rows, ascending.
    QList<Id> rows(const QString &table, Id parent = 0) const
    {
        return sorted(findItems({{QStringLiteral("type"), table}, {QStringLiteral("parent"), parent ? parent : skrin}}));
    }
    QList<Id> allRows() const { return sorted(childItems(skrin)); }
    QList<Id> selectedIds() const
    {
        QList<Id> ids;
        for (QGraphicsItem *graphics : scene->selectedItems())
            if (auto *item = dynamic_cast<SkrinItem *>(graphics))
                ids.append(item->id());
        return sorted(ids);
    }
    void select(const QList<Id> &ids)
    {
        scene->clearSelection();
        for (const Id id : ids)
            scene->skrinItem(id)->graphicsItem()->setSelected(true);
    }
    // A row under this screenshot, "parent" written last.
    Id addRow(const QString &table, const QVariantMap &members, Id parent = 0)
    {
        return ::addRow(table, parent ? parent : skrin, members);
    }
    // The same with `file` stored as its "file" member.
    Id addRowWithFile(const QString &table, const QVariantMap &members, const QByteArray &file)
    {
        return ::addRow(table, skrin, members, file);
    }

    template<typename Kind>
    Kind *item(Id id) const
    {
        return scene ? dynamic_cast<Kind *>(scene->skrinItem(id)) : nullptr;
    }

    // Where a point of an item shows in the view.
    QPoint viewPoint(const QGraphicsItem *item, const QPointF &local) const
    {
        return view->mapFromScene(item->mapToScene(local));
    }
    // The view painted on white, and the colour at a scene point of it.
    QImage render()
    {
        QImage image(view->viewport()->size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        view->render(&painter, QRectF(), view->viewport()->rect());
        return image;
    }
    QColor at(const QImage &image, double x, double y) const
    {
        return image.pixelColor(view->mapFromScene(QPointF(x, y)));
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
    static QList<Id> sorted(QList<Id> ids) { return std::sort(ids.begin(), ids.end()), ids; }

    OpenStore store;
    Id skrin = 0;
    std::unique_ptr<Skrin> scene;
    std::unique_ptr<SkrinView> view;
};

// Counts the writes of one member of one row.
class MemberWrites : public WatcherInterface
{
public:
    MemberWrites(Id id, const QString &member)
        : member(member) { watch(WatchFilter{{QStringLiteral("id"), QVariant(id)}}); }
    void onSet(const QString &name, const QVariant &) override { count += name == member; }
    const QString member;
    int count = 0;
};
