// Screenshots whose picture is of any format Qt decodes, as other clients
// send them: every annotation renders over it the pixels it renders over the
// same picture in RGB, in the stored picture and in each thumbnail.

#include "decodedpicture.h"
#include "pictureformats.h"
#include "renderfixture.h"

#include <QTest>

namespace {

const QRect redRectangle(300, 160, 120, 80);

// One row of every annotation kind over the picture, pins included.
void annotate(Id skrin)
{
    addRow("skrin_rectangle", skrin, {{"x", redRectangle.x()}, {"y", redRectangle.y()}, {"z", 1}, {"w", redRectangle.width()},
                                      {"h", redRectangle.height()}, {"color", "#ff0000"}});
    addRow("skrin_rectangle_frame", skrin, {{"x", 40}, {"y", 40}, {"z", 2}, {"w", 90}, {"h", 60}, {"pen_size", 6},
                                            {"color", "#0000ff"}});
    addRow("skrin_ellipse", skrin, {{"x", 500}, {"y", 60}, {"z", 3}, {"w", 80}, {"h", 50}, {"color", "#00c000"}});
    addRow("skrin_ellipse_frame", skrin, {{"x", 480}, {"y", 300}, {"z", 4}, {"w", 100}, {"h", 70}, {"pen_size", 5},
                                          {"color", "#c000c0"}});
    addRow("skrin_pen", skrin, {{"x", 60}, {"y", 300}, {"z", 5}, {"pen_size", 4}, {"color", "#ff8000"},
                                {"data", "[0,0,30,40,70,10,120,60]"}});
    addRow("skrin_marker", skrin, {{"x", 200}, {"y", 60}, {"z", 6}, {"pen_size", 20}, {"color", "#ffff00"},
                                   {"data", "[0,0,60,-20,140,10]"}});
    addRow("skrin_blur", skrin, {{"x", 60}, {"y", 200}, {"z", 7}, {"pen_size", 30}, {"data", "[0,0,80,30,160,10]"}});
    addRow("skrin_text", skrin, {{"x", 300}, {"y", 380}, {"z", 8}, {"data", "Over any picture"},
                                 {"font_name", "DejaVu Sans"}, {"font_size", 16}, {"font_weight", 75}, {"color", "#ff0000"}});
    addRow("skrin_line", skrin, {{"x", 20}, {"y", 420}, {"z", 9}, {"begin_x", 0}, {"begin_y", 0}, {"end_x", 200},
                                 {"end_y", 40}, {"pen_size", 3}, {"color", "#0000ff"}});
    addRow("skrin_arrow", skrin, {{"x", 400}, {"y", 250}, {"z", 10}, {"begin_x", 0}, {"begin_y", 0}, {"end_x", 180},
                                  {"end_y", 90}, {"pen_size", 6}, {"color", "#00a0a0"}});
    addRow("skrin_pin", skrin, {{"x", 100}, {"y", 100}, {"z", 11}, {"data", "note"}, {"color", "#ffff00"}});
}

// A screenshot of the stored picture under every annotation, rendered.
Id renderedOver(const QString &file, const QSize &size)
{
    const Id skrin = createItem("skrin");
    addImage(skrin, file, size, QRectF(QPointF(0, 0), size));
    annotate(skrin);
    markAndRender(skrin);
    return skrin;
}

} // namespace

class TestFormats : public QObject
{
    Q_OBJECT

private slots:
    void init() { store = std::make_unique<OpenStore>(); }
    void cleanup() { store.reset(); }

    void annotationsOverEveryFormat_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("suffix");
        for (const PictureFile &file : everyFormat(structuredPicture(QSize(640, 480))))
            QTest::newRow(file.name.constData()) << file.bytes << QString::fromLatin1(file.name.mid(file.name.lastIndexOf('.')));
    }
    // A palette picture once crashed the thumbnails, and grey or 1-bit ones
    // took the paint in their own format: a red rectangle stored grey.
    void annotationsOverEveryFormat()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, suffix);
        const QImage decoded = DecodedPicture::fromBytes(bytes).image;
        QVERIFY(!decoded.isNull());
        const QImage rgb = decoded.convertToFormat(decoded.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        const Id over = renderedOver(Database::storeNewFile(bytes, suffix), decoded.size());
        const Id overRgb = renderedOver(storedPicture(rgb), decoded.size());

        const QImage picture = storedImage(over, "file");
        const QRgb inRectangle = picture.pixel(redRectangle.center());
        QVERIFY2(qRed(inRectangle) > 230 && qGreen(inRectangle) < 25 && qBlue(inRectangle) < 25,
                 qPrintable(QColor(inRectangle).name()));
        for (const char *member : {"file", "thumbnail512_file", "thumbnail128_file", "thumbnail64_file"}) {
            const QImage image = storedImage(over, member);
            QVERIFY2(!image.isNull() && image == storedImage(overRgb, member), member);
        }
    }

private:
    std::unique_ptr<OpenStore> store;
};

QTEST_MAIN(TestFormats)
#include "tst_formats.moc"
