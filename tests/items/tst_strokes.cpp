// Pen and marker strokes on the editor's scene: loading rows, following the
// store, writing the user's moves and points back, painting, hostile rows.

#include <QGraphicsItem>
#include <QPainter>

#include "itemscene.h"
#include "polygondata.h"
#include "skrinpen.h"

#include <QElapsedTimer>

#include <cmath>

namespace {

QVariantMap strokeRow(const QString &data, double penSize = 4, const QString &colour = "#ff0000")
{
    return {{"x", 100}, {"y", 80}, {"z", 1}, {"data", data}, {"pen_size", penSize}, {"color", colour}};
}

bool isFinite(const QRectF &r)
{
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

} // namespace

class TestStrokes : public QObject
{
    Q_OBJECT

    TempStore store;

private slots:
    void initTestCase() { QVERIFY(ItemScene::openStore(store)); }
    void cleanupTestCase() { Database::close(); }

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
            QVERIFY(stroke);
            QVERIFY(stroke->isVisible());
            QCOMPARE(stroke->pos(), QPointF(100, 80));
            QCOMPARE(stroke->pen().color(), QColor("#ff0000"));
            QCOMPARE(stroke->pen().widthF(), 4.0);
        }
        QCOMPARE(shot.item<SkrinPen>(early)->polygon(), QPolygonF({{0, 0}, {3.5, -2}, {10, 12.25}}));
        // An odd element is left over; a one-point stroke is the pen's square.
        QCOMPARE(shot.item<SkrinPen>(late)->polygon(), QPolygonF({{1, 2}}));
        QCOMPARE(shot.item<SkrinPen>(late)->boundingRect(), QRectF(-1, 0, 4, 4));
    }

    void storeChangesArrive()
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
        QCOMPARE(getMember(id, "x").toDouble(), 300.0);
        QCOMPARE(getMember(id, "y").toDouble(), 80.0);
    }

    void userMovesAndPointsAreStored()
    {
        ItemScene shot;
        shot.open();
        const Id id = shot.addRow("skrin_pen", strokeRow("[0,0]"));
        auto *stroke = shot.item<SkrinPen>(id);
        shot.scene->clearModified();

        stroke->setPos(150, 90);
        QCOMPARE(getMember(id, "x").toDouble(), 150.0);
        QCOMPARE(getMember(id, "y").toDouble(), 90.0);
        QCOMPARE(getMember(id, "data").toString(), "[0,0]"); // points stay relative
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
        const Id dot = shot.addRow("skrin_pen", {{"x", 300}, {"y", 300}, {"z", 2}, {"data", "[0,0]"},
                                                 {"pen_size", 20}, {"color", "#0000ff"}});
        shot.addRow("skrin_pen", {{"x", 300}, {"y", 200}, {"z", 3}, {"data", "[0,0,100,0]"}, {"pen_size", 20}, {"color", ""}});
        const QImage image = shot.render();
        const auto at = [&](double x, double y) { return image.pixelColor(shot.view->mapFromScene(QPointF(x, y))); };

        // Green at alpha 0.3 over white.
        const QColor green = at(200, 80);
        QVERIFY2(qAbs(green.red() - 179) <= 2 && green.green() == 255 && qAbs(green.blue() - 179) <= 2,
                 qPrintable(green.name()));
        QCOMPARE(at(200, 95), QColor(Qt::white));

        // A disc of diameter pen_size around the one point.
        QCOMPARE(at(300, 300), QColor(Qt::blue));
        QCOMPARE(at(307, 300), QColor(Qt::blue));
        QCOMPARE(at(313, 300), QColor(Qt::white));
        QCOMPARE(at(307, 307), QColor(Qt::white));
        QCOMPARE(shot.scene->items(QPointF(305, 305)).value(0), shot.item<SkrinPen>(dot));

        // A transparent stroke paints nothing.
        QCOMPARE(at(350, 200), QColor(Qt::white));
    }

    void hostileRowsStayBounded_data()
    {
        QTest::addColumn<QVariantMap>("row");
        QTest::addColumn<int>("points");
        QTest::addColumn<double>("penWidth");

        QVariantMap nan = strokeRow("[NaN,1,2,3,1e300,1e300,\"x\",null,[1],{}]", -5);
        QTest::newRow("odd numbers") << nan << 4 << 0.0;
        QTest::newRow("huge pen") << strokeRow("[0,0,1,1]", 1e9) << 2 << 1000.0;
        QVariantMap nanPosition = strokeRow("[0,0]");
        nanPosition["x"] = "nan";
        nanPosition["y"] = 1e300;
        QTest::newRow("position") << nanPosition << 1 << 4.0;

        QString many = "[";
        for (int i = 0; i < 1000000; ++i)
            many += QString::number(i % 500) + ',' + QString::number(i % 300) + ',';
        many += "0,0]";
        QTest::newRow("a million points") << strokeRow(many, 3) << 100000 << 3.0;
    }

    void hostileRowsStayBounded()
    {
        QFETCH(QVariantMap, row);
        QFETCH(int, points);
        QFETCH(double, penWidth);
        ItemScene shot;
        shot.open();
        const Id id = shot.addRow("skrin_pen", row);
        auto *stroke = shot.item<SkrinPen>(id);
        QVERIFY(stroke);
        QCOMPARE(stroke->polygon().size(), points);
        QCOMPARE(stroke->pen().widthF(), penWidth);
        QVERIFY(isFinite(stroke->sceneBoundingRect()));
        QVERIFY(qAbs(stroke->x()) <= 1e6 && qAbs(stroke->y()) <= 1e6);
        shot.render(); // paints without trouble
        QCOMPARE(getMember(id, "data"), row["data"]); // the row itself is left alone
    }
};

QTEST_MAIN(TestStrokes)
#include "tst_strokes.moc"
