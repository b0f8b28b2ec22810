// Painting shared by the scene's items and the renderer (stroke text, font
// weights, pixelation) and the painting of stored rows without items.

#include "fontweight.h"
#include "paintlimits.h"
#include "pixelate.h"
#include "polygondata.h"
#include "renderfixture.h"
#include "rowpainting.h"

#include <QLoggingCategory>
#include <QPainter>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <cstring>
#include <limits>

namespace {
const double notANumber = std::numeric_limits<double>::quiet_NaN();

QVariantMap row(const QString &type, QVariantMap members)
{
    members.insert("type", type);
    return members;
}

// The row painted into a white 200 x 120 picture, its origin at (50, 30).
QImage painted(const QVariantMap &row)
{
    QImage image(200, 120, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.translate(50, 30);
    if (row.value("type") == "skrin_image")
        paintImageRow(&painter, row);
    else
        paintRow(&painter, row, image, QPointF(50, 30));
    return image;
}

const QRgb white = qRgb(255, 255, 255);

// Equal to the last bit: fuzzy QPointF comparison would hide -0 against 0.
bool sameBits(const QPolygonF &a, const QPolygonF &b)
{
    return a.size() == b.size() && (a.isEmpty() || !std::memcmp(a.constData(), b.constData(), a.size() * sizeof(QPointF)));
}
} // namespace

class TestPainting : public QObject
{
    Q_OBJECT

private slots:
    void strokeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QPolygonF>("polygon");
        QTest::addColumn<QString>("way"); // "write", "read" or both ways
        QTest::newRow("plain") << "[0,0,3.5,-2,10,12.25]" << QPolygonF{{0, 0}, {3.5, -2}, {10, 12.25}} << "both";
        QTest::newRow("exponents") << "[0.1,0.2,1e-07,123456789012]" << QPolygonF{{0.1, 0.2}, {1e-7, 123456789012}}
                                   << "write";
        QTest::newRow("15 digits") << "[0.3,1e+15]" << QPolygonF{{0.1 + 0.2, 1e15}} << "write";
        QTest::newRow("empty") << "[]" << QPolygonF() << "both";
        QTest::newRow("unpaired last") << "[1,2,3]" << QPolygonF{{1, 2}} << "read";
        QTest::newRow("null") << "null" << QPolygonF() << "read";
        QTest::newRow("object") << "{\"a\":1}" << QPolygonF() << "read";
        QTest::newRow("mixed elements") << "[\"5\",true,\"abc\",null,[1],{}]" << QPolygonF{{5, 1}, {0, 0}, {0, 0}}
                                        << "read";
        QTest::newRow("huge clamped") << "[1e300,-1e300]"
                                      << QPolygonF{{PaintLimits::maxCoordinate, -PaintLimits::maxCoordinate}} << "read";
        QTest::newRow("non-finite dropped") << "[\"nan\",0,\"-inf\",1,7,8]" << QPolygonF{{7, 8}} << "read";
    }

    void strokeText()
    {
        QFETCH(QString, text);
        QFETCH(QPolygonF, polygon);
        QFETCH(QString, way);
        if (way != "write")
            QCOMPARE(dataToPolygon(text), polygon);
        if (way != "read")
            QCOMPARE(polygonToData(polygon).toString(), text);
    }

    void directReadingAgreesWithJson()
    {
        QLoggingCategory::setFilterRules("default.debug=false"); // malformed texts are logged by the JSON reader
        const QStringList pieces{",", ",", " ", "\n", "-", ".", "e", "E+", "e-", "0", "7", "12.5", "-0", "1e308",
                                 "1e309", "2e-400", "9223372036854775808", "-9223372036854775808", "\"3\"", "nan",
                                 "/**/", "x", "[", "]", "{}", QString(QChar(0)), QString(QChar(0x660))};
        QStringList texts{"", "[]", " [1,2]\t", "[1,2]x", "[1,2]/**/", "[1 2,,3-4]", "[1e]", "[.5,-.5e1,1e5e5]"};
        QRandomGenerator random(7);
        for (int i = 0; i < 4000; ++i) {
            QString text = i % 4 ? "[" : "";
            for (int n = random.bounded(16); n > 0; --n)
                text += pieces.at(random.bounded(i % 2 ? 18 : pieces.size())); // odd texts: numbers only
            texts << text + (i % 3 ? "]" : "");
        }
        for (int i = 0; i < 300; ++i) { // as written: reals of every magnitude, subnormals included
            QPolygonF points;
            for (int n = random.bounded(6); n > 0; --n)
                points << QPointF(std::ldexp(random.generateDouble() - 0.5, random.bounded(-1080, 1030)), i);
            texts << polygonToData(points).toString();
        }
        for (const QString &text : texts)
            QVERIFY2(sameBits(dataToPolygon(text), dataToPolygonViaJson(text)), qPrintable(text));
    }

    void fontWeights()
    {
        QCOMPARE(qtFontWeightFromStored(50), int(QFont::Normal));
        QCOMPARE(qtFontWeightFromStored("75"), int(QFont::Bold));
        QCOMPARE(qtFontWeightFromStored("abc"), int(QFont::Thin));
        QCOMPARE(qtFontWeightFromStored(1e9), int(QFont::Black));
        QFont font;
        font.setBold(true);
        QCOMPARE(storedFontWeight(font), 75);
        for (int stored = 0; stored <= 99; ++stored) // every stored value survives a round trip
            QCOMPARE(storedFontWeightFromQt(qtFontWeightFromStored(stored)), stored);
    }

    void pixelation()
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
        pixelateUnderMask(&painter, source, source.rect(), QPolygonF{{8, 10}, {36, 10}}, 8, QPointF(0, 0));
        painter.end();
        QCOMPARE(target.pixel(10, 10), qRgba(4, 4, 4, 255));        // black: 235 / 50 from the page colour
        QCOMPARE(target.pixel(30, 10), qRgba(235, 235, 235, 255));  // transparent: the page colour
        QCOMPARE(target.pixel(10, 1), qRgb(1, 2, 3));               // beside the band
        QCOMPARE(target.pixel(2, 10), qRgb(1, 2, 3));               // before the round cap
    }

    void rows_data()
    {
        QTest::addColumn<QVariantMap>("row");
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<QPoint>("on");  // painted in the row's colour (in the picture, origin at 50, 30)
        QTest::addColumn<QPoint>("off"); // left white
        // One point: a disc of the pen's width.
        QTest::newRow("pen dot") << row("skrin_pen", {{"data", "[20,30]"}, {"pen_size", 10}, {"color", "#00ff00"}})
                                 << QRectF(15, 25, 10, 10) << QPoint(73, 60) << QPoint(77, 60);
        // A frame's stroke lies wholly outside its rectangle.
        QTest::newRow("frame") << row("skrin_rectangle_frame", {{"w", 100}, {"h", 50}, {"pen_size", 4}, {"color", "#0000ff"}})
                               << QRectF(-4, -4, 108, 58) << QPoint(152, 50) << QPoint(51, 31);
        // pen_size 0.1 paints nothing at all.
        QTest::newRow("thin pen is none") << row("skrin_ellipse_frame", {{"w", 10}, {"h", 10}, {"pen_size", 0.1}})
                                          << QRectF(0, 0, 10, 10) << QPoint() << QPoint(50, 35);
        QTest::newRow("thin pen dot") << row("skrin_pen", {{"data", "[20,30]"}, {"pen_size", 0.1}, {"color", "#000000"}})
                                      << QRectF(20, 30, 0, 0) << QPoint() << QPoint(70, 60);
        QTest::newRow("reversed line")
            << row("skrin_line", {{"begin_x", 10}, {"begin_y", 10}, {"end_x", 0}, {"end_y", 0}, {"pen_size", 2}, {"color", "#ff0000"}})
            << QRectF(-1, -1, 12, 12) << QPoint(55, 35) << QPoint(60, 30);
        QTest::newRow("zero arrow")
            << row("skrin_arrow", {{"begin_x", 5}, {"begin_y", 5}, {"end_x", 5}, {"end_y", 5}, {"pen_size", 4}})
            << QRectF(3, 3, 4, 4) << QPoint() << QPoint();
        QTest::newRow("pin") << row("skrin_pin", {{"data", "note"}, {"color", "#ffff00"}}) << QRectF() << QPoint()
                             << QPoint(50, 30);
    }

    void rows()
    {
        QFETCH(QVariantMap, row);
        QFETCH(QRectF, rect);
        QFETCH(QPoint, on);
        QFETCH(QPoint, off);
        QCOMPARE(rowRect(row), rect);
        const QImage image = painted(row);
        if (!on.isNull())
            QCOMPARE(image.pixelColor(on), QColor(row.value("color").toString()));
        if (!off.isNull())
            QCOMPARE(image.pixel(off), white);
    }

    void markerAndText()
    {
        // A marker is translucent: alpha 0.3 of its colour.
        const QImage image = painted(row("skrin_marker", {{"data", "[0,10,40,10]"}, {"pen_size", 6}, {"color", "#000000"}}));
        QCOMPARE(qGray(image.pixel(60, 40)), 178);
        // Text: point size truncated, the stored weight converted.
        const QFont font = textFontFromRow(row("skrin_text", {{"font_name", "DejaVu Sans"}, {"font_size", 12.9},
                                                              {"font_weight", 75}, {"font_italic", 1}}));
        QVERIFY(font.pointSize() == 12 && font.weight() == QFont::Bold && font.italic() && !font.underline());
    }

    void hostileRowsPaintSafely()
    {
        const QList<QVariantMap> rows{
            row("skrin_pen", {{"data", "[0,0,1e300,1e300,nan,3]"}, {"pen_size", 1e9}, {"color", "#123456"}}),
            row("skrin_blur", {{"data", "[0,0,1e9,5]"}, {"pen_size", -5}}),
            row("skrin_rectangle", {{"w", -5}, {"h", 1e300}, {"color", "#ff0000"}}),
            row("skrin_ellipse_frame", {{"w", notANumber}, {"h", 10}, {"pen_size", notANumber}, {"color", "bogus"}}),
            row("skrin_line", {{"begin_x", -1e300}, {"end_x", 1e300}, {"pen_size", 3}, {"color", "#000000"}}),
            row("skrin_text", {{"data", "x"}, {"font_size", 1e12}, {"font_weight", "heavy"}}),
            row("skrin_image", {{"file", "../../etc/passwd"}, {"w", 1e9}, {"h", 1e9}, {"src_w", notANumber}}),
        };
        for (const QVariantMap &r : rows) {
            const QRectF rect = rowRect(r);
            QVERIFY2(std::isfinite(rect.width()) && std::isfinite(rect.height()) && std::abs(rect.left()) <= 2.1e6
                         && std::abs(rect.right()) <= 2.1e6,
                     qPrintable(r.value("type").toString()));
            painted(r); // returns at once, without a crash or a sanitizer report
        }
        // A point JSON cannot spell is left out; points beyond the limit are not read.
        QCOMPARE(polygonToData(QPolygonF{{1, 2}, {notANumber, 0}}).toString(), QString("[1,2]"));
        QString many = "[";
        for (int i = 0; i <= PaintLimits::maxPolygonPoints; ++i)
            many += "1,2,";
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("points cut to"));
        QCOMPARE(dataToPolygon(many + "1,2]").size(), PaintLimits::maxPolygonPoints);
    }
};

QTEST_MAIN(TestPainting)
#include "tst_painting.moc"
