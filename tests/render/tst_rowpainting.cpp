// Painting stored rows without scene items: what each kind covers and paints.

#include "renderfixture.h"
#include "rowpainting.h"

#include <QApplication>
#include <QFontInfo>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <limits>

namespace {
QVariantMap row(const QString &type, QVariantMap members)
{
    members.insert(QStringLiteral("type"), type);
    return members;
}

// The row painted white-on-nothing into a 200 x 120 picture with its origin at (50, 30).
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
} // namespace

class TestRowPainting : public QObject
{
    Q_OBJECT

private slots:
    void rowRectangles_data();
    void rowRectangles();
    void framesStrokeOutsideTheirRectangle();
    void strokes();
    void textFont();
    void images();
    void hostileRowsPaintSafely();
};

void TestRowPainting::rowRectangles_data()
{
    QTest::addColumn<QVariantMap>("row");
    QTest::addColumn<QRectF>("rect");
    QTest::newRow("pen dot") << row("skrin_pen", {{"data", "[20,30]"}, {"pen_size", 10}, {"color", "#000000"}})
                             << QRectF(15, 25, 10, 10);
    QTest::newRow("marker") << row("skrin_marker", {{"data", "[0,0,10,4]"}, {"pen_size", 2}})
                            << QRectF(-1, -1, 12, 6);
    QTest::newRow("frame") << row("skrin_rectangle_frame", {{"w", 100}, {"h", 50}, {"pen_size", 4}})
                           << QRectF(-4, -4, 108, 58);
    QTest::newRow("ellipse frame") << row("skrin_ellipse_frame", {{"w", 10}, {"h", 10}, {"pen_size", 2}})
                                   << QRectF(-2, -2, 14, 14);
    QTest::newRow("rectangle") << row("skrin_rectangle", {{"w", 30}, {"h", 20}}) << QRectF(0, 0, 30, 20);
    QTest::newRow("reversed line")
        << row("skrin_line", {{"begin_x", 10}, {"begin_y", 10}, {"end_x", 0}, {"end_y", 0}, {"pen_size", 2}})
        << QRectF(-1, -1, 12, 12);
    QTest::newRow("arrow")
        << row("skrin_arrow", {{"begin_x", 0}, {"begin_y", 0}, {"end_x", 100}, {"end_y", 0}, {"pen_size", 5}})
        << QRectF(-2.5, -7.5, 105, 15);
    QTest::newRow("image") << row("skrin_image", {{"w", 64}, {"h", 48}}) << QRectF(0, 0, 64, 48);
    QTest::newRow("pin") << row("skrin_pin", {{"data", "note"}}) << QRectF();
    QTest::newRow("thin pen is none") << row("skrin_rectangle_frame", {{"w", 10}, {"h", 10}, {"pen_size", 0.1}})
                                      << QRectF(0, 0, 10, 10);
}

void TestRowPainting::rowRectangles()
{
    QFETCH(QVariantMap, row);
    QFETCH(QRectF, rect);
    QCOMPARE(rowRect(row), rect);
}

void TestRowPainting::framesStrokeOutsideTheirRectangle()
{
    // 100 x 50 with a 4-wide pen covers (-4, -4) to (104, 54) and nothing inside.
    const QImage image = painted(
        row("skrin_rectangle_frame", {{"w", 100}, {"h", 50}, {"pen_size", 4}, {"color", "#0000ff"}}));
    QCOMPARE(image.pixel(50 - 3, 30 + 20), qRgb(0, 0, 255));
    QCOMPARE(image.pixel(50 + 102, 30 + 20), qRgb(0, 0, 255));
    QCOMPARE(image.pixel(50 + 1, 30 + 1), qRgb(255, 255, 255));
    QCOMPARE(image.pixel(50 - 6, 30 + 20), qRgb(255, 255, 255));

    // A pen of 0.1 or less is no pen: the frame paints nothing.
    const QImage none = painted(
        row("skrin_rectangle_frame", {{"w", 100}, {"h", 50}, {"pen_size", 0.1}, {"color", "#0000ff"}}));
    QCOMPARE(none.pixel(50, 30), qRgb(255, 255, 255));

    // A filled rectangle with no colour member is transparent.
    QCOMPARE(painted(row("skrin_rectangle", {{"w", 20}, {"h", 20}})).pixel(60, 40), qRgb(255, 255, 255));
}

void TestRowPainting::strokes()
{
    // One point: a disc of the pen's diameter around it.
    const QImage dot = painted(row("skrin_pen", {{"data", "[20,30]"}, {"pen_size", 10}, {"color", "#00ff00"}}));
    QCOMPARE(dot.pixel(50 + 20, 30 + 30), qRgb(0, 255, 0));
    QCOMPARE(dot.pixel(50 + 20 + 3, 30 + 30), qRgb(0, 255, 0));
    QCOMPARE(dot.pixel(50 + 20 + 7, 30 + 30), qRgb(255, 255, 255));

    // A marker paints at alpha 0.3, one polyline (no build-up where it crosses).
    QImage clear(200, 120, QImage::Format_ARGB32_Premultiplied);
    clear.fill(Qt::transparent);
    QPainter painter(&clear);
    paintMarkerRow(&painter,
                   row("skrin_marker", {{"data", "[0,10,40,10,20,0,20,20]"}, {"pen_size", 6}, {"color", "#ff0000"}}));
    painter.end();
    QCOMPARE(qAlpha(clear.pixel(5, 10)), 77);
    QCOMPARE(qAlpha(clear.pixel(20, 10)), 77);
    QCOMPARE(qRed(qUnpremultiply(clear.pixel(5, 10))), 255);

    // pen_size 0.1: nothing at all, not even a one-point dot.
    QCOMPARE(painted(row("skrin_pen", {{"data", "[20,30]"}, {"pen_size", 0.1}, {"color", "#000000"}})).pixel(70, 60),
             qRgb(255, 255, 255));
}

void TestRowPainting::textFont()
{
    const QVariantMap text = row("skrin_text", {{"data", "Hello"}, {"font_name", "DejaVu Sans"}, {"font_size", 12.9},
                                                {"font_weight", 75}, {"font_italic", 1}, {"font_underline", "0"},
                                                {"color", "#000000"}});
    const QFont font = textFontFromRow(text);
    QCOMPARE(font.pointSize(), 12);
    QCOMPARE(font.weight(), QFont::Bold);
    QVERIFY(font.italic() && !font.underline() && !font.strikeOut());
    QVERIFY(!QFontInfo(font).family().isEmpty());

    const QRectF bounds = textRowBounds(text);
    QVERIFY(bounds.width() > 20 && bounds.height() > 10);
    const QImage image = painted(text);
    int dark = 0;
    for (int y = 30; y < 30 + int(bounds.height()); ++y)
        for (int x = 50; x < 50 + int(bounds.width()); ++x)
            dark += qGray(image.pixel(x, y)) < 128;
    QVERIFY2(dark > 20, "the text is painted");
}

void TestRowPainting::images()
{
    RenderStore store;
    QImage picture(40, 20, QImage::Format_RGB32);
    picture.fill(Qt::red);
    for (int y = 0; y < 20; ++y)
        for (int x = 20; x < 40; ++x)
            picture.setPixel(x, y, qRgb(0, 0, 255));
    const QString name = storedPicture(picture);

    // The whole picture at its own size is natural; the right half stretched is not.
    QImage canvas(100, 100, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    QVERIFY(paintImageRow(&painter, row("skrin_image", {{"file", name}, {"w", 40}, {"h", 20}, {"src_w", 40},
                                                         {"src_h", 20}})));
    painter.translate(0, 50);
    QVERIFY(!paintImageRow(&painter, row("skrin_image", {{"file", name}, {"w", 40}, {"h", 20}, {"src_x", 20},
                                                          {"src_w", 20}, {"src_h", 20}})));
    painter.end();
    QCOMPARE(canvas.pixel(5, 5), qRgb(255, 0, 0));
    QCOMPARE(canvas.pixel(5, 55), qRgb(0, 0, 255));

    // A cropped row at the crop's size draws the part and is not natural either.
    QImage small(20, 20, QImage::Format_ARGB32_Premultiplied);
    QPainter cropPainter(&small);
    QVERIFY(!paintImageRow(&cropPainter, row("skrin_image", {{"file", name}, {"w", 20}, {"h", 20}, {"src_w", 20},
                                                              {"src_h", 20}})));
    cropPainter.end();

    // How the picture was found.
    RowImageState state = RowImageState::Loaded;
    QVERIFY(loadRowImage(row("skrin_image", {{"file", "nothere.png"}}), &state).isNull());
    QCOMPARE(state, RowImageState::Pending);
    const QString junk = Database::storeNewFile("not a picture", ".png");
    QVERIFY(loadRowImage(row("skrin_image", {{"file", junk}}), &state).isNull());
    QCOMPARE(state, RowImageState::Broken);
    loadRowImage(row("skrin_image", {{"file", name}}), &state);
    QCOMPARE(state, RowImageState::Loaded);
}

void TestRowPainting::hostileRowsPaintSafely()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const QList<QVariantMap> rows{
        row("skrin_pen", {{"data", "[0,0,1e300,1e300,nan,3]"}, {"pen_size", 1e9}, {"color", "#123456"}}),
        row("skrin_blur", {{"data", "[0,0,1e9,5]"}, {"pen_size", -5}}),
        row("skrin_rectangle", {{"w", -5}, {"h", 1e300}, {"color", "#ff0000"}}),
        row("skrin_ellipse_frame", {{"w", nan}, {"h", 10}, {"pen_size", nan}, {"color", "bogus"}}),
        row("skrin_arrow", {{"begin_x", 5}, {"begin_y", 5}, {"end_x", 5}, {"end_y", 5}, {"pen_size", 4}}),
        row("skrin_line", {{"begin_x", -1e300}, {"end_x", 1e300}, {"pen_size", 3}, {"color", "#000000"}}),
        row("skrin_text", {{"data", "x"}, {"font_size", 1e12}, {"font_weight", "heavy"}}),
        row("skrin_image", {{"file", "../../etc/passwd"}, {"w", 1e9}, {"h", 1e9}, {"src_w", nan}}),
    };
    for (const QVariantMap &r : rows) {
        const QRectF rect = rowRect(r);
        QVERIFY2(std::isfinite(rect.x()) && std::isfinite(rect.width()) && std::isfinite(rect.height()),
                 qPrintable(r.value("type").toString()));
        QVERIFY(std::abs(rect.right()) <= 2.1e6 && std::abs(rect.left()) <= 2.1e6);
        painted(r); // must return, without a crash or a sanitizer report
    }
    // The zero-length arrow has a finite rectangle around its point and paints nothing.
    QCOMPARE(rowRect(rows.at(4)), QRectF(3, 3, 4, 4));
    QCOMPARE(painted(rows.at(4)).pixel(55, 35), qRgb(255, 255, 255));
}

QTEST_MAIN(TestRowPainting)
#include "tst_rowpainting.moc"
