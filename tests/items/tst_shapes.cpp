// Rectangles and ellipses, filled and framed: geometry from the row, handle
// drags stored back, handles for a lone selection, outlines outside the
// stored rectangle, hit areas, hostile rows.

#include <QGraphicsItem>
#include <QPainter>

#include "dot.h"
#include "itemscene.h"
#include "mouse.h"
#include "skrinellipseframe.h"
#include "skrinrectangleframe.h"

#include <cmath>

namespace {

const QVariantMap frameRow{{"x", 10}, {"y", 20}, {"z", 1}, {"w", 100}, {"h", 50}, {"color", "#ff0000"}, {"pen_size", 5}};

// The rectangle or ellipse of a row as the handles see it.
DotRect *handlesOf(ItemScene &shot, Id id)
{
    return dynamic_cast<DotRect *>(shot.scene->skrinItem(id));
}

QGraphicsItem *graphicsOf(ItemScene &shot, Id id)
{
    return shot.scene->skrinItem(id)->graphicsItem();
}

QRectF storedRect(Id id)
{
    return QRectF(getMember(id, "x").toDouble(), getMember(id, "y").toDouble(), getMember(id, "w").toDouble(),
                  getMember(id, "h").toDouble());
}

} // namespace

class TestShapes : public QObject
{
    Q_OBJECT

    TempStore store;

    static void addKinds()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("rectangle") << "skrin_rectangle";
        QTest::newRow("ellipse") << "skrin_ellipse";
    }

private slots:
    void initTestCase() { QVERIFY(ItemScene::openStore(store)); }
    void cleanupTestCase() { Database::close(); }

    void geometryFromTheRow_data() { addKinds(); }
    void geometryFromTheRow()
    {
        QFETCH(QString, kind);
        ItemScene shot;
        const Id frame = shot.addRow(kind + "_frame", frameRow);
        shot.open();
        const Id filled = shot.addRow(kind, frameRow);

        QGraphicsItem *framed = graphicsOf(shot, frame);
        QCOMPARE(framed->pos(), QPointF(10, 20));
        QCOMPARE(framed->boundingRect(), QRectF(-5, -5, 110, 60));
        QCOMPARE(handlesOf(shot, frame)->rect(), QRectF(-5, -5, 110, 60));
        QCOMPARE(handlesOf(shot, frame)->dot(DotRect::TopLeft)->pos(), QPointF(-5, -5));
        QCOMPARE(handlesOf(shot, frame)->dot(DotRect::Centre)->pos(), QPointF(50, 25));
        QCOMPARE(graphicsOf(shot, filled)->boundingRect(), QRectF(0, 0, 100, 50));

        // A filled figure has no outline to widen.
        setMember(filled, "pen_size", 30);
        QCOMPARE(graphicsOf(shot, filled)->boundingRect(), QRectF(0, 0, 100, 50));
        setMember(frame, "pen_size", 10);
        QCOMPARE(framed->boundingRect(), QRectF(-10, -10, 120, 70));

        // Sizes glide to a stored change; nothing is echoed back.
        setMember(frame, "w", 200);
        QTRY_COMPARE(framed->boundingRect(), QRectF(-10, -10, 220, 70));
        QCOMPARE(handlesOf(shot, frame)->dot(DotRect::Centre)->pos(), QPointF(100, 25));
        QCOMPARE(storedRect(frame), QRectF(10, 20, 200, 50));
    }

    void handleDragsStoreTheInnerRectangle_data() { addKinds(); }
    void handleDragsStoreTheInnerRectangle()
    {
        QFETCH(QString, kind);
        ItemScene shot;
        shot.open();
        const Id id = shot.addRow(kind + "_frame", frameRow);
        QGraphicsItem *figure = graphicsOf(shot, id);
        figure->setSelected(true);
        DotRect *handles = handlesOf(shot, id);
        QVERIFY(handles->dot(DotRect::TopLeft)->isVisible());

        leftDrag(shot.view.get(), figure->mapToScene(-5, -5), figure->mapToScene(20, 10));
        QCOMPARE(storedRect(id), QRectF(35, 35, 75, 35));
        QCOMPARE(figure->pos(), QPointF(10, 20));
        QVERIFY(figure->isSelected());

        // The stored corner stays right after a move and after a stored x.
        figure->setPos(figure->pos() + QPointF(5, 5));
        QCOMPARE(storedRect(id), QRectF(40, 40, 75, 35));
        setMember(id, "x", 100);
        QTRY_COMPARE(figure->sceneBoundingRect(), QRectF(95, 35, 85, 45));

        // Drawing drags the bottom-right corner; a pointer short of the
        // minimum flips the figure past its fixed corner.
        const Id drawn = shot.addRow(kind, {{"x", 300}, {"y", 300}, {"z", 2}, {"w", 1}, {"h", 1}, {"color", "#0000ff"}});
        shot.scene->skrinItem(drawn)->drawTo(QPointF(360, 330));
        QCOMPARE(storedRect(drawn), QRectF(300, 300, 60, 30));
        shot.scene->skrinItem(drawn)->drawTo(QPointF(305, 330));
        QCOMPARE(storedRect(drawn), QRectF(289, 300, 11, 30));
    }

    void handlesShowForALoneSelection()
    {
        ItemScene shot;
        shot.open();
        const Id a = shot.addRow("skrin_rectangle", frameRow);
        const Id b = shot.addRow("skrin_ellipse_frame", frameRow);
        const auto shown = [&](Id id) { return handlesOf(shot, id)->dot(DotRect::Centre)->isVisible(); };

        graphicsOf(shot, a)->setSelected(true);
        QVERIFY(shown(a));
        graphicsOf(shot, b)->setSelected(true);
        QVERIFY(!shown(a));
        QVERIFY(!shown(b));
        graphicsOf(shot, a)->setSelected(false);
        QVERIFY(!shown(a));
    }

    void movesAreStoredOnlyWhileShown()
    {
        ItemScene shot;
        const Id id = shot.addRow("skrin_rectangle_frame", frameRow);
        shot.open(Skrin::ToolNone);
        QGraphicsItem *figure = graphicsOf(shot, id);
        QVERIFY(!figure->isVisible());
        figure->setPos(50, 50);
        figure->setZValue(9);
        QCOMPARE(storedRect(id), QRectF(10, 20, 100, 50));
        QCOMPARE(getMember(id, "z").toDouble(), 9.0);

        shot.scene->setTool(Skrin::ToolSelect);
        shot.scene->clearModified();
        figure->setPos(60, 70);
        QCOMPARE(storedRect(id), QRectF(60, 70, 100, 50));
        QVERIFY(shot.scene->isModified());
    }

    void outlinesLieOutsideTheStoredRectangle_data() { addKinds(); }
    void outlinesLieOutsideTheStoredRectangle()
    {
        QFETCH(QString, kind);
        ItemScene shot;
        shot.open();
        QVariantMap row = frameRow;
        row["x"] = 100;
        row["y"] = 100;
        row["w"] = 200;
        row["h"] = 100;
        row["pen_size"] = 10;
        shot.addRow(kind + "_frame", row);
        row["y"] = 300;
        row["pen_size"] = 0.1;
        shot.addRow(kind + "_frame", row);
        row["x"] = 400;
        row["pen_size"] = 0.11;
        shot.addRow(kind + "_frame", row);
        const QImage image = shot.render();
        const auto at = [&](double x, double y) { return image.pixelColor(shot.view->mapFromScene(QPointF(x, y))); };

        // The band between the stored rectangle and 10 units outside it.
        QCOMPARE(at(200, 95), QColor(Qt::red));
        QCOMPARE(at(200, 91), QColor(Qt::red));
        QCOMPARE(at(200, 102), QColor(Qt::white));
        QCOMPARE(at(200, 88), QColor(Qt::white));
        QCOMPARE(at(95, 150), QColor(Qt::red));
        // Hairline pens up to 0.1 are not painted.
        const auto paintedNear = [&](double x, double y) {
            for (double dy = -2; dy <= 2; ++dy) {
                if (at(x, y + dy) != QColor(Qt::white))
                    return true;
            }
            return false;
        };
        QVERIFY(!paintedNear(200, 300));
        QVERIFY(paintedNear(500, 300));
    }

    void ellipsesHitInsideTheirOutlineOnly()
    {
        ItemScene shot;
        shot.open();
        for (const char *table : {"skrin_ellipse", "skrin_ellipse_frame"}) {
            QGraphicsItem *figure = graphicsOf(shot, shot.addRow(table, frameRow));
            QVERIFY(!figure->contains(QPointF(-4, -4)));
            QVERIFY(figure->contains(QPointF(50, 25)));
        }
        QVERIFY(graphicsOf(shot, shot.addRow("skrin_rectangle_frame", frameRow))->contains(QPointF(-4, -4)));
    }

    void hostileRowsStayFinite()
    {
        ItemScene shot;
        shot.open();
        const Id id = shot.addRow("skrin_rectangle_frame", {{"x", "nan"}, {"y", -1e300}, {"z", "inf"}, {"w", 1e300},
                                                            {"h", -1e9}, {"color", "#zz"}, {"pen_size", 1e9}});
        QGraphicsItem *figure = graphicsOf(shot, id);
        const QRectF bounds = figure->sceneBoundingRect();
        for (const double v : {bounds.x(), bounds.y(), bounds.width(), bounds.height(), figure->zValue()})
            QVERIFY(std::isfinite(v) && std::abs(v) < 1e7);
        figure->setSelected(true);
        shot.render();
        QCOMPARE(getMember(id, "w").toDouble(), 1e300); // the row stays as it came
    }
};

QTEST_MAIN(TestShapes)
#include "tst_shapes.moc"
