// Resize handles: size at any zoom, the edge arithmetic of a handle drag,
// flipping, cursors, and which buttons drag.

#include "dot.h"
#include "dotrect.h"
#include "mouse.h"

#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QTest>

namespace {

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

class TestHandles : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_MAIN(TestHandles)
#include "tst_handles.moc"
