// Pen, marker and blur strokes on the editor's scene: loading rows, following
// the store, writing the user's moves and points back, painting (the blur
// pixelating what lies below it), hostile rows.

#include "itemscene.h"
#include "skrinblur.h"
#include "skrinpen.h"

#include <QStyleOptionGraphicsItem>

namespace {

QVariantMap strokeRow(const QString &data, double penSize = 4, const QString &colour = "#ff0000", double x = 100,
                      double y = 80, double z = 1)
{
    return {{"x", x}, {"y", y}, {"z", z}, {"data", data}, {"pen_size", penSize}, {"color", colour}};
}

} // namespace

class TestStrokes : public QObject
{
    Q_OBJECT

    ItemStore store;

private slots:
    void rowsShowBeforeAndAfterTheSceneExists_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("pen") << "skrin_pen";
        QTest::newRow("marker") << "skrin_marker";
    }

    void rowsShowBeforeAndAfterTheSceneExists()
    {
        QFETCH(QString, table);
        ItemScene shot;
        const Id early = shot.addRow(table, strokeRow("[0,0,3.5,-2,10,12.25]"));
        shot.open();
        const Id late = shot.addRow(table, strokeRow("[1,2,3]"));
        for (const Id id : {early, late}) {
            auto *stroke = shot.item<SkrinPen>(id);
            QVERIFY(stroke && stroke->isVisible());
            QCOMPARE(stroke->pos(), QPointF(100, 80));
            QCOMPARE(stroke->pen().color(), QColor("#ff0000"));
            QCOMPARE(stroke->pen().widthF(), 4.0);
        }
        QCOMPARE(shot.item<SkrinPen>(early)->polygon(), QPolygonF({{0, 0}, {3.5, -2}, {10, 12.25}}));
        // An odd element is left over; a one-point stroke is the pen's square.
        QCOMPARE(shot.item<SkrinPen>(late)->polygon(), QPolygonF({{1, 2}}));
        QCOMPARE(shot.item<SkrinPen>(late)->boundingRect(), QRectF(-1, 0, 4, 4));
    }

    void storeChangesArriveAndUserChangesAreStored()
    {
        ItemScene shot;
        shot.open();
        const Id id = shot.addRow("skrin_pen", strokeRow("[0,0,10,10]"));
        auto *stroke = shot.item<SkrinPen>(id);
        QVERIFY(stroke);

        setMember(id, "data", "[0,0,20,0,20,20]");
        setMember(id, "pen_size", 9);
        setMember(id, "color", "#0000ff");
        QCOMPARE(stroke->polygon().size(), 3);
        QCOMPARE(stroke->pen().widthF(), 9.0);
        QCOMPARE(stroke->pen().color(), QColor(Qt::blue));

        // A move from elsewhere glides there; nothing is written back.
        setMember(id, "x", 300);
        QVERIFY(stroke->x() < 300);
        QTRY_COMPARE(stroke->x(), 300.0);
        QCOMPARE(getMember(id, "y").toDouble(), 80.0);

        // The user's moves and points are stored, points relative.
        setMember(id, "data", "[0,0]");
        shot.scene->clearModified();
        stroke->setPos(150, 90);
        QCOMPARE(ItemScene::numbers(id, {"x", "y"}), (QList<double>{150, 90}));
        QCOMPARE(getMember(id, "data").toString(), "[0,0]");
        QVERIFY(shot.scene->isModified());
        stroke->drawTo(QPointF(160.5, 100));
        stroke->drawTo(QPointF(150.25, 90));
        QCOMPARE(getMember(id, "data").toString(), "[0,0,10.5,10,0.25,0]");
        stroke->setZValue(7);
        QCOMPARE(getMember(id, "z").toDouble(), 7.0);
    }

    void paintsMarkerTranslucentAndSinglePointsAsDots()
    {
        ItemScene shot;
        shot.open();
        shot.addRow("skrin_marker", strokeRow("[0,0,200,0]", 20, "#00ff00"));
        const Id dot = shot.addRow("skrin_pen", strokeRow("[0,0]", 20, "#0000ff", 300, 300, 2));
        shot.addRow("skrin_pen", strokeRow("[0,0,100,0]", 20, "", 300, 200, 3));
        const QImage image = shot.render();

        // Green at alpha 0.3 over white.
        const QColor green = shot.at(image, 200, 80);
        QVERIFY2(qAbs(green.red() - 179) <= 2 && green.green() == 255 && qAbs(green.blue() - 179) <= 2,
                 qPrintable(green.name()));
        QCOMPARE(shot.at(image, 200, 95), QColor(Qt::white));

        // A disc of diameter pen_size around the one point.
        QCOMPARE(shot.at(image, 300, 300), QColor(Qt::blue));
        QCOMPARE(shot.at(image, 307, 300), QColor(Qt::blue));
        QCOMPARE(shot.at(image, 313, 300), QColor(Qt::white));
        QCOMPARE(shot.at(image, 307, 307), QColor(Qt::white));
        QCOMPARE(shot.scene->items(QPointF(305, 305)).value(0), shot.item<SkrinPen>(dot));

        // A transparent stroke paints nothing.
        QCOMPARE(shot.at(image, 350, 200), QColor(Qt::white));
    }

    void blurPixelatesWhatLiesBelowOnly()
    {
        ItemScene shot;
        shot.open();
        shot.addRow("skrin_rectangle", {{"x", 100}, {"y", 100}, {"z", 1}, {"w", 200}, {"h", 100}, {"color", "#000000"}});
        const Id blur = shot.addRow("skrin_blur", strokeRow("[0,0,160,0]", 30, "#ff0000", 120, 150, 2));
        shot.addRow("skrin_rectangle", {{"x", 240}, {"y", 140}, {"z", 3}, {"w", 20}, {"h", 20}, {"color", "#00ff00"}});
        shot.addRow("skrin_blur", strokeRow("[0,0]", 20, "", 400, 300, 4));
        // Painted outside a scene paint (no picture below): nothing is drawn.
        QImage lone(100, 100, QImage::Format_ARGB32);
        lone.fill(Qt::white);
        QPainter painter(&lone);
        painter.translate(20, 20);
        const QStyleOptionGraphicsItem option;
        shot.item<SkrinBlur>(blur)->paint(&painter, &option, nullptr);
        painter.end();
        QCOMPARE(lone.pixelColor(45, 20), QColor(Qt::white));

        const QImage image = shot.render();

        // Black blocks average with the page colour counted once (235 / 50 =
        // 4); the blur's own blocks are already in the picture below it when
        // the screen pass averages them again: (235 + 49 * 4) / 50 = 8.
        QCOMPARE(shot.at(image, 160, 150), QColor(8, 8, 8));
        QCOMPARE(shot.at(image, 220, 150), QColor(8, 8, 8));
        // Outside the band, and above the blur, things stay as they are.
        QCOMPARE(shot.at(image, 160, 120), QColor(Qt::black));
        QCOMPARE(shot.at(image, 250, 150), QColor(Qt::green));
        // The stroke's own colour plays no part.
        QCOMPARE(shot.item<SkrinBlur>(blur)->pen().color(), QColor(Qt::black));

        // A one-point blur over the bare page: a disc of the page colour.
        QCOMPARE(shot.at(image, 400, 300), QColor(0xeb, 0xeb, 0xeb));
        QCOMPARE(shot.at(image, 407, 300), QColor(0xeb, 0xeb, 0xeb));
        QCOMPARE(shot.at(image, 413, 300), QColor(Qt::white));

        // The per-scene picture goes with its scene.
        const QGraphicsScene *scene = shot.scene.get();
        QVERIFY(SkrinBlur::findSceneCache(scene));
        shot.close();
        QVERIFY(!SkrinBlur::findSceneCache(scene));
    }
};

QTEST_MAIN(TestStrokes)
#include "tst_strokes.moc"
