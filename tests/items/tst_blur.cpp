// Blur strokes: the picture below them pixelated in blocks, as the scene
// paints; the per-scene picture they read from.

#include <QGraphicsItem>
#include <QPainter>

#include "itemscene.h"
#include "skrinblur.h"

#include <QStyleOptionGraphicsItem>

class TestBlur : public QObject
{
    Q_OBJECT

    TempStore store;

private slots:
    void initTestCase() { QVERIFY(ItemScene::openStore(store)); }
    void cleanupTestCase() { Database::close(); }

    void pixelatesWhatLiesBelowOnly()
    {
        ItemScene shot;
        shot.open();
        shot.addRow("skrin_rectangle", {{"x", 100}, {"y", 100}, {"z", 1}, {"w", 200}, {"h", 100}, {"color", "#000000"}});
        const Id blur = shot.addRow("skrin_blur", {{"x", 120}, {"y", 150}, {"z", 2}, {"data", "[0,0,160,0]"},
                                                   {"pen_size", 30}, {"color", "#ff0000"}});
        shot.addRow("skrin_rectangle", {{"x", 240}, {"y", 140}, {"z", 3}, {"w", 20}, {"h", 20}, {"color", "#00ff00"}});
        shot.addRow("skrin_blur", {{"x", 400}, {"y", 300}, {"z", 4}, {"data", "[0,0]"}, {"pen_size", 20}});
        const QImage image = shot.render();
        const auto at = [&](double x, double y) { return image.pixelColor(shot.view->mapFromScene(QPointF(x, y))); };

        // Black blocks average with the page colour counted once (235 / 50 =
        // 4); the blur's own blocks are already in the picture below it when
        // the screen pass averages them again: (235 + 49 * 4) / 50 = 8.
        QCOMPARE(at(160, 150), QColor(8, 8, 8));
        QCOMPARE(at(220, 150), QColor(8, 8, 8));
        // Outside the band, and above the blur, things stay as they are.
        QCOMPARE(at(160, 120), QColor(Qt::black));
        QCOMPARE(at(250, 150), QColor(Qt::green));
        // The stroke's own colour plays no part.
        QCOMPARE(shot.item<SkrinBlur>(blur)->pen().color(), QColor(Qt::black));

        // A one-point blur over the bare page: a disc of the page colour.
        QCOMPARE(at(400, 300), QColor(0xeb, 0xeb, 0xeb));
        QCOMPARE(at(407, 300), QColor(0xeb, 0xeb, 0xeb));
        QCOMPARE(at(413, 300), QColor(Qt::white));

        const QGraphicsScene *scene = shot.scene.get();
        QVERIFY(SkrinBlur::findSceneCache(scene));
        shot.close();
        QVERIFY(!SkrinBlur::findSceneCache(scene));
    }

    void withoutAScenePaintNothingIsDrawn()
    {
        ItemScene shot;
        shot.open();
        auto *blur = shot.item<SkrinBlur>(shot.addRow(
            "skrin_blur", {{"x", 10}, {"y", 10}, {"z", 1}, {"data", "[0,0,50,0]"}, {"pen_size", 20}}));
        QImage image(100, 100, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.translate(20, 20);
        QStyleOptionGraphicsItem option;
        blur->paint(&painter, &option, nullptr);
        painter.end();
        QCOMPARE(image.pixelColor(45, 20), QColor(Qt::white)); // no pixelation
    }
};

QTEST_MAIN(TestBlur)
#include "tst_blur.moc"
