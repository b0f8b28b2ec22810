// The annotation item base: what reaches the owning scene, what reaches the
// store, one screen pixel in scene units, and the selection frame; and its
// resize handles: size at any zoom, the edge arithmetic of a handle drag,
// flipping, cursors, and which buttons drag.

#include "dot.h"
#include "dotrect.h"
#include "mouse.h"
#include "openstore.h"
#include "testbox.h"

#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QTest>

namespace {

class Host : public SkrinHost
{
public:
    QGraphicsScene scene;
    QGraphicsView *shown = nullptr;
    int modifiedCalls = 0;

    QGraphicsScene *hostScene() override { return &scene; }
    QGraphicsView *view() const override { return shown; }
    void setModified() override { ++modifiedCalls; }
    void notifyTextEditChanged(bool) override {}
    void notifyImageToolChanged(SkrinItem *, int) override {}
    void removeLater(SkrinItem *) override {}
};

Id boxRow(double z = 1)
{
    return OpenStore::newRow(QStringLiteral("skrin_rectangle"), OpenStore::newSkrin(), 2, 3, z);
}

// An owner whose rectangle is whatever the handles last gave it.
class Box : public QGraphicsRectItem, public DotRect
{
public:
    explicit Box(const QRectF &r, bool flip)
        : QGraphicsRectItem(r)
        , DotRect(this)
    {
        setFlippable(flip);
        setMinimumWidth(10.0);
        setMinimumHeight(10.0);
        updateDots();
    }

    QRectF rect() const override { return QGraphicsRectItem::rect(); }
    void setRect(const QRectF &r) override
    {
        ++applied;
        QGraphicsRectItem::setRect(r);
    }
    int applied = 0;
};

} // namespace

class TestSkrinItem : public QObject
{
    Q_OBJECT

private slots:
    void reportsPictureChangesToItsScene()
    {
        OpenStore store;
        Host host;
        auto *box = new TestBox(boxRow(4), &host);
        host.scene.addItem(box);
        // What loading applies (x, y, z) is not written back, yet marks the scene.
        QCOMPARE(box->zValue(), 4.0);
        QCOMPARE(host.modifiedCalls, 3);

        box->setPos(7, 8);
        QCOMPARE(getMember(box->id(), QStringLiteral("x")).toDouble(), 7.0);
        QCOMPARE(host.modifiedCalls, 5);

        box->hide(); // so that the stored y does not come back as a move
        const int before = host.modifiedCalls;
        box->setMember(QStringLiteral("y"), 1.0, false, false);
        box->setColor(QStringLiteral("color"), Qt::transparent, false);
        QCOMPARE(host.modifiedCalls, before);
        QCOMPARE(getMember(box->id(), QStringLiteral("color")).toString(), QString());
        box->storeMember(QStringLiteral("y"), 2.0, true);
        QCOMPARE(host.modifiedCalls, before + 1);

        // A pin is no part of the picture: its changes never mark.
        TestBox pinBox(boxRow(), &host, true);
        pinBox.setPos(1, 1);
        pinBox.storeMember(QStringLiteral("x"), 5.0, true);
        QCOMPARE(host.modifiedCalls, before + 1);

        // One screen pixel in scene units: 1 without a view or a scene.
        QCOMPARE(box->viewPixelSize(), 1.0);
        QGraphicsView view(&host.scene);
        host.shown = &view;
        view.scale(2.0, 2.0);
        QCOMPARE(box->viewPixelSize(), 0.5);
        TestBox lone(boxRow(), nullptr);
        lone.setPos(4, 4);
        QCOMPARE(lone.view(), nullptr);
        QCOMPARE(lone.viewPixelSize(), 1.0);
    }

    void framesTheSelection_data()
    {
        QTest::addColumn<bool>("selected");
        QTest::addColumn<bool>("withOption");
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<bool>("framed");
        QTest::newRow("selected") << true << true << QRectF(2, 2, 20, 10) << true;
        QTest::newRow("zero wide") << true << true << QRectF(2, 2, 0, 5) << true;
        QTest::newRow("not selected") << false << true << QRectF(2, 2, 20, 10) << false;
        QTest::newRow("no option") << true << false << QRectF(2, 2, 20, 10) << false;
        QTest::newRow("empty") << true << true << QRectF(2, 2, 0, 0) << false;
    }

    void framesTheSelection()
    {
        QFETCH(bool, selected);
        QFETCH(bool, withOption);
        QFETCH(QRectF, rect);
        QFETCH(bool, framed);
        OpenStore store;
        TestBox box(boxRow(), nullptr);
        QStyleOptionGraphicsItem option;
        option.state = selected ? QStyle::State_Selected : QStyle::State_None;

        QImage image(30, 20, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        {
            QPainter painter(&image);
            box.paintSelectionFrame(&painter, withOption ? &option : nullptr, rect);
        }
        QPainter inactive;
        box.paintSelectionFrame(&inactive, &option, rect);

        const auto has = [&image](const QColor &colour) {
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixelColor(x, y) == colour)
                        return true;
            return false;
        };
        QCOMPARE(has(Qt::white) && has(Qt::black), framed);
        if (framed && rect.width() > 0) {
            // A one-pixel frame just inside the outline, dotted black on white.
            QCOMPARE(image.pixelColor(1, 1), QColor(Qt::blue));
            QCOMPARE(image.pixelColor(12, 6), QColor(Qt::blue));
            QVERIFY(image.pixelColor(12, 2) == Qt::white || image.pixelColor(12, 2) == Qt::black);
        }
    }

    void sizeFollowsZoom()
    {
        QGraphicsScene scene(0, 0, 400, 400);
        Box box(QRectF(0, 0, 100, 50), true);
        scene.addItem(&box);
        const Dot *handle = box.dot(0);
        QCOMPARE(handle->boundingRect(), QRectF(0.5, 0.5, -1, -1)); // no view yet

        QGraphicsView view(&scene);
        QCOMPARE(handle->boundingRect(), QRectF(-8, -8, 16, 16));
        view.scale(2.0, 2.0);
        QCOMPARE(handle->boundingRect(), QRectF(-4, -4, 8, 8));
    }

    void dragArithmetic_data()
    {
        QTest::addColumn<bool>("flippable");
        QTest::addColumn<int>("handle");
        QTest::addColumn<QPointF>("to");
        QTest::addColumn<QRectF>("expected");

        QTest::newRow("below minimum, clamped") << false << int(DotRect::BottomRight) << QPointF(5, 30) << QRectF(0, 0, 10, 30);
        QTest::newRow("below minimum, flipped") << true << int(DotRect::BottomRight) << QPointF(5, 30) << QRectF(-11, 0, 11, 30);
        QTest::newRow("left edge flips over the right") << true << int(DotRect::LeftMiddle) << QPointF(95, 25) << QRectF(100, 0, 11, 50);
        QTest::newRow("left edge clamped gives way") << false << int(DotRect::LeftMiddle) << QPointF(95, 25) << QRectF(90, 0, 10, 50);
        QTest::newRow("top edge flips over the bottom") << true << int(DotRect::TopMiddle) << QPointF(50, 45) << QRectF(0, 50, 100, 11);
        QTest::newRow("exactly the minimum, plain") << false << int(DotRect::BottomRight) << QPointF(10, 10) << QRectF(0, 0, 10, 10);
        QTest::newRow("centre moves without resizing") << true << int(DotRect::Centre) << QPointF(200, 200) << QRectF(150, 175, 100, 50);
    }

    void dragArithmetic()
    {
        QFETCH(bool, flippable);
        QFETCH(int, handle);
        QFETCH(QPointF, to);
        QFETCH(QRectF, expected);

        Box box(QRectF(0, 0, 100, 50), flippable);
        box.moveDot(handle, to);
        QCOMPARE(box.rect(), expected);
        QCOMPARE(box.dotsRect(), expected);
        QCOMPARE(box.dot(DotRect::Centre)->pos(), expected.center());
    }

    void flippedRectangleKeepsTheDraggedHandleUnderThePointer()
    {
        Box box(QRectF(0, 0, 100, 50), true);
        QCOMPARE(box.dot(DotRect::TopLeft)->cursor().shape(), Qt::SizeFDiagCursor);
        box.moveDot(DotRect::BottomRight, QPointF(5, 30));
        // The dragged corner now stands at the left, and the diagonals traded shapes.
        QCOMPARE(box.dot(DotRect::BottomRight)->pos(), QPointF(-11, 30));
        QCOMPARE(box.dot(DotRect::TopLeft)->cursor().shape(), Qt::SizeBDiagCursor);
        QCOMPARE(box.dot(DotRect::BottomRight)->cursor().shape(), Qt::SizeBDiagCursor);

        // Dragging on past the minimum turns it back the right way round.
        box.moveDot(DotRect::BottomRight, QPointF(40, 30));
        QCOMPARE(box.rect(), QRectF(0, 0, 40, 30));
        QCOMPARE(box.dot(DotRect::TopLeft)->cursor().shape(), Qt::SizeFDiagCursor);
    }

    void mouseDrags()
    {
        // Only a drag begun with the left button reshapes; a right press in the
        // middle of it changes nothing, and right or middle drags do nothing.
        QGraphicsScene scene(0, 0, 400, 400);
        auto *box = new Box(QRectF(0, 0, 100, 50), true);
        box->setPos(100, 100);
        scene.addItem(box);
        box->setDotsVisible(true);
        QGraphicsView view(&scene);
        view.setFixedSize(420, 420);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QPointF corner = box->mapToScene(box->dot(DotRect::BottomRight)->pos());

        for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
            sendMouse(&view, QEvent::MouseButtonPress, corner, button, button);
            sendMouse(&view, QEvent::MouseMove, corner + QPointF(30, 30), Qt::NoButton, button);
            sendMouse(&view, QEvent::MouseButtonRelease, corner + QPointF(30, 30), button, Qt::NoButton);
            QCOMPARE(box->rect(), QRectF(0, 0, 100, 50));
        }

        sendMouse(&view, QEvent::MouseButtonPress, corner, Qt::LeftButton, Qt::LeftButton);
        sendMouse(&view, QEvent::MouseMove, corner + QPointF(-20, 10), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(box->rect(), QRectF(0, 0, 80, 60));
        sendMouse(&view, QEvent::MouseButtonPress, corner + QPointF(-20, 10), Qt::RightButton,
                  Qt::LeftButton | Qt::RightButton);
        sendMouse(&view, QEvent::MouseMove, corner + QPointF(-10, 20), Qt::NoButton, Qt::LeftButton | Qt::RightButton);
        QCOMPARE(box->rect(), QRectF(0, 0, 90, 70));
        sendMouse(&view, QEvent::MouseButtonRelease, corner + QPointF(-10, 20), Qt::RightButton, Qt::LeftButton);
        sendMouse(&view, QEvent::MouseMove, corner + QPointF(0, 0), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(box->rect(), QRectF(0, 0, 100, 50));
        sendMouse(&view, QEvent::MouseButtonRelease, corner, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(box->pos(), QPointF(100, 100)); // the owner itself never moved
    }

};

QTEST_MAIN(TestSkrinItem)
#include "tst_skrinitem.moc"
