// The painting helpers shared by the scene's items and the renderer: stored
// stroke text, arrow geometry, font weights and pixelation.

#include "arrowgeometry.h"
#include "fontweight.h"
#include "paintlimits.h"
#include "pixelate.h"
#include "polygondata.h"

#include <QPainter>
#include <QTest>

#include <cmath>
#include <limits>

class TestPaintingHelpers : public QObject
{
    Q_OBJECT

private slots:
    void writesStrokeText_data();
    void writesStrokeText();
    void readsStrokeText_data();
    void readsStrokeText();
    void hostileStrokeTextIsTamed();
    void arrowHead();
    void zeroLengthArrowHasNoHeadAndFiniteBounds();
    void fontWeightScales();
    void pixelationAveragesBlocksUnderTheStroke();
};

void TestPaintingHelpers::writesStrokeText_data()
{
    QTest::addColumn<QPolygonF>("polygon");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QPolygonF{{0, 0}, {3.5, -2}, {10, 12.25}} << "[0,0,3.5,-2,10,12.25]";
    QTest::newRow("exponents") << QPolygonF{{0.1, 0.2}, {1e-7, 123456789012}} << "[0.1,0.2,1e-07,123456789012]";
    QTest::newRow("15 digits") << QPolygonF{{0.1 + 0.2, 1e15}} << "[0.3,1e+15]";
    QTest::newRow("empty") << QPolygonF() << "[]";
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("non-finite left out") << QPolygonF{{1, 2}, {nan, 0}, {3, 4}} << "[1,2,3,4]";
}

void TestPaintingHelpers::writesStrokeText()
{
    QFETCH(QPolygonF, polygon);
    QFETCH(QString, text);
    QCOMPARE(polygonToData(polygon).toString(), text);
}

void TestPaintingHelpers::readsStrokeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QPolygonF>("polygon");
    QTest::newRow("unpaired last") << "[1,2,3]" << QPolygonF{{1, 2}};
    QTest::newRow("empty array") << "[]" << QPolygonF();
    QTest::newRow("null") << "null" << QPolygonF();
    QTest::newRow("object") << "{\"a\":1}" << QPolygonF();
    QTest::newRow("not json") << "[[[" << QPolygonF();
    QTest::newRow("mixed elements") << "[\"5\",true,\"abc\",null,[1],{}]" << QPolygonF{{5, 1}, {0, 0}, {0, 0}};
    QTest::newRow("huge clamped") << "[1e300,-1e300]"
                                  << QPolygonF{{PaintLimits::maxCoordinate, -PaintLimits::maxCoordinate}};
    QTest::newRow("non-finite dropped") << "[\"nan\",0,\"-inf\",1,7,8]" << QPolygonF{{7, 8}};
}

void TestPaintingHelpers::readsStrokeText()
{
    QFETCH(QString, text);
    QFETCH(QPolygonF, polygon);
    QCOMPARE(dataToPolygon(text), polygon);
}

void TestPaintingHelpers::hostileStrokeTextIsTamed()
{
    // More points than are ever painted: the rest is ignored, not allocated.
    QString text = QStringLiteral("[");
    for (int i = 0; i < PaintLimits::maxPolygonPoints + 500; ++i)
        text += QStringLiteral("1,2,");
    text += QStringLiteral("1,2]");
    QCOMPARE(dataToPolygon(text).size(), PaintLimits::maxPolygonPoints);

    // And what is written reads back exactly.
    const QPolygonF stroke{{-12.5, 3}, {0.001, 1e-5}, {400, 299.75}};
    QCOMPARE(dataToPolygon(polygonToData(stroke)), stroke);
}

void TestPaintingHelpers::arrowHead()
{
    const QPen pen(QBrush(Qt::red), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    const QLineF line(0, 0, 100, 0);
    QCOMPARE(arrowHeadPolygon(line, pen), (QPolygonF{{100, 0}, {85, -5}, {85, 5}, {100, 0}}));
    QCOMPARE(arrowBoundingRect(line, pen), QRectF(-2.5, -7.5, 105, 15));

    QImage image(120, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.translate(10, 20);
    paintArrow(&painter, line, pen);
    painter.end();
    QCOMPARE(image.pixel(10 + 50, 20), qRgb(255, 0, 0)); // the line
    QCOMPARE(image.pixel(10 + 88, 20 + 3), qRgb(255, 0, 0)); // inside the head
    QCOMPARE(image.pixel(10 + 50, 20 + 6), qRgb(255, 255, 255)); // beside the line

    // A pen of width 0 has no head, so the arrow paints nothing.
    QVERIFY(arrowHeadPolygon(line, QPen(Qt::red, 0)).isEmpty());
}

void TestPaintingHelpers::zeroLengthArrowHasNoHeadAndFiniteBounds()
{
    const QPen pen(QBrush(Qt::blue), 4);
    const QLineF point(5, 5, 5, 5);
    QVERIFY(arrowHeadPolygon(point, pen).isEmpty());
    QCOMPARE(arrowBoundingRect(point, pen), QRectF(3, 3, 4, 4));
    const QRectF shape = arrowShape(point, pen).boundingRect();
    QVERIFY(std::isfinite(shape.x()) && std::isfinite(shape.width()));

    QImage image(20, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintArrow(&painter, point, pen);
    painter.end();
    QCOMPARE(image.pixel(5, 5), qRgb(255, 255, 255));
}

void TestPaintingHelpers::fontWeightScales()
{
    QCOMPARE(qtFontWeightFromStored(50), int(QFont::Normal));
    QCOMPARE(qtFontWeightFromStored(75), int(QFont::Bold));
    QCOMPARE(qtFontWeightFromStored(0), int(QFont::Thin));
    QCOMPARE(qtFontWeightFromStored(99), int(QFont::Black));
    QCOMPARE(qtFontWeightFromStored("75"), int(QFont::Bold));
    QCOMPARE(qtFontWeightFromStored("abc"), int(QFont::Thin));
    QCOMPARE(qtFontWeightFromStored(-40), int(QFont::Thin));
    QCOMPARE(qtFontWeightFromStored(1e9), int(QFont::Black));

    QFont font;
    font.setBold(true);
    QCOMPARE(storedFontWeight(font), 75);
    font.setWeight(QFont::Normal);
    QCOMPARE(storedFontWeight(font), 50);
    // Every stored value survives a trip through Qt's scale.
    for (int stored = 0; stored <= 99; ++stored)
        QCOMPARE(storedFontWeightFromQt(qtFontWeightFromStored(stored)), stored);
}

void TestPaintingHelpers::pixelationAveragesBlocksUnderTheStroke()
{
    // Left half opaque black, right half transparent.
    QImage source(40, 20, QImage::Format_ARGB32_Premultiplied);
    source.fill(0);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            source.setPixel(x, y, qRgb(0, 0, 0));

    QImage target(40, 20, QImage::Format_ARGB32_Premultiplied);
    target.fill(qRgb(1, 2, 3));
    QPainter painter(&target);
    // A horizontal band 8 wide along the middle row.
    pixelateUnderMask(&painter, source, source.rect(), QPolygonF{{8, 10}, {36, 10}}, 8, QPointF(0, 0));
    painter.end();

    // Black blocks: the page colour counts once, 235 / 50 = 4.
    QCOMPARE(target.pixel(8, 10), qRgba(4, 4, 4, 255));
    // Transparent blocks give the page colour at full alpha.
    QCOMPARE(target.pixel(30, 10), qRgba(235, 235, 235, 255));
    // Outside the band nothing is drawn.
    QCOMPARE(target.pixel(8, 1), qRgb(1, 2, 3));
    QCOMPARE(target.pixel(2, 10), qRgb(1, 2, 3)); // before the round cap

    // One point pixelates a disc; an empty polygon or area draws nothing.
    target.fill(qRgb(1, 2, 3));
    painter.begin(&target);
    pixelateUnderMask(&painter, source, source.rect(), QPolygonF{{30, 10}}, 6, QPointF(0, 0));
    pixelateUnderMask(&painter, source, QRect(), QPolygonF{{8, 10}}, 6, QPointF(0, 0));
    painter.end();
    QCOMPARE(target.pixel(30, 10), qRgba(235, 235, 235, 255));
    QCOMPARE(target.pixel(30, 15), qRgb(1, 2, 3));
    QCOMPARE(target.pixel(8, 10), qRgb(1, 2, 3));
}

QTEST_MAIN(TestPaintingHelpers)
#include "tst_paintinghelpers.moc"
