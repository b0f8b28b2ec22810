// The editor on screens of any pixel density (registered again at 1.25, 1.5
// and 2): a stored picture pixel is one device pixel, annotations stand on
// the same picture pixels, and the mouse draws in picture pixels, so rows
// mean the same on every screen.

#include "database.h"
#include "editorscene.h"
#include "imagecache.h"

#include <QMouseEvent>

namespace {

// Unique colours, and a checker in the blue channel that any scaling or
// blurring would smear. Pixel (0, 0) is the one of colour (1, 2, 3).
QImage patterned(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(1 + x * 3, 2 + y * 5, ((x + y) % 2) ? 250 : 3));
    return image;
}

// Where `colour` first shows in `image`, or (-1, -1).
QPoint find(const QImage &image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffff) == (colour & 0xffffff))
                return {x, y};
    return {-1, -1};
}

// The viewport in device pixels.
QImage devicePixels(EditorScene &editor)
{
    return editor.view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestPixelRatio : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) { // a run on a denser screen is really one
            QWidget probe;
            QCOMPARE(probe.devicePixelRatioF(), qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
        }
    }

    void showsStoredPixelsOneToOne_data()
    {
        QTest::addColumn<int>("tool");
        QTest::newRow("rendered picture (view mode)") << int(Skrin::ToolNone);
        QTest::newRow("picture item with an annotation") << int(Skrin::ToolSelect);
    }
    void showsStoredPixelsOneToOne()
    {
        QFETCH(int, tool);
        const QImage picture = patterned(QSize(64, 48));
        const QPoint place(20, 30);
        const QRect box(10, 12, 16, 8); // the annotation, in picture pixels
        EditorScene editor(EditorScene::Later);
        if (tool == Skrin::ToolNone) {
            cachePixmap(QStringLiteral("rendered.png"), QPixmap::fromImage(picture));
            for (const auto &[member, value] : {std::pair{"x", place.x()}, {"y", place.y()}, {"w", 64}, {"h", 48}})
                setMember(editor.skrin, QString::fromLatin1(member), value);
            setMember(editor.skrin, QStringLiteral("file"), QStringLiteral("rendered.png"));
        } else {
            editor.addRowWithFile(QStringLiteral("skrin_image"),
                                  {{"x", place.x()}, {"y", place.y()}, {"z", 1}, {"w", 64}, {"h", 48}, {"src_x", 0},
                                   {"src_y", 0}, {"src_w", 64}, {"src_h", 48}},
                                  encoded(picture));
            editor.addRow(QStringLiteral("skrin_rectangle"),
                          {{"x", place.x() + box.x()}, {"y", place.y() + box.y()}, {"z", 2}, {"w", box.width()},
                           {"h", box.height()}, {"color", "#ff00ff"}});
        }
        editor.open(tool);
        QThreadPool::globalInstance()->waitForDone();

        QImage shown;
        QPoint origin;
        QVERIFY(QTest::qWaitFor([&] {
            shown = devicePixels(editor);
            origin = find(shown, picture.pixel(0, 0));
            return origin.x() >= 0;
        }));
        const double ratio = editor.view->devicePixelRatioF();
        // Where the view puts the picture's corner, in device pixels.
        const QPointF expected = QPointF(editor.view->mapFromScene(QPointF(place))) * ratio;
        QVERIFY2(qAbs(origin.x() - expected.x()) <= ratio && qAbs(origin.y() - expected.y()) <= ratio,
                 qPrintable(QStringLiteral("found at %1, %2").arg(origin.x()).arg(origin.y())));
        int wrong = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const QPoint onScreen = origin + QPoint(x, y);
                // The annotation's own edges may fall between device pixels.
                if (tool != Skrin::ToolNone && box.adjusted(-1, -1, 1, 1).contains(x, y)) {
                    if (box.adjusted(1, 1, -1, -1).contains(x, y))
                        wrong += shown.pixel(onScreen) != qRgb(255, 0, 255);
                    continue;
                }
                wrong += shown.pixel(onScreen) != picture.pixel(x, y);
            }
        }
        QCOMPARE(wrong, 0);
    }

    // A drag between two picture pixels as the screen shows them stores
    // those pixels' places, whatever the density.
    void drawsInPicturePixels()
    {
        const QImage picture = patterned(QSize(64, 48));
        EditorScene editor(EditorScene::Later);
        editor.addRowWithFile(QStringLiteral("skrin_image"),
                              {{"x", 0}, {"y", 0}, {"z", 1}, {"w", 64}, {"h", 48}, {"src_x", 0}, {"src_y", 0},
                               {"src_w", 64}, {"src_h", 48}},
                              encoded(picture));
        editor.open(Skrin::ToolRectangle);
        QThreadPool::globalInstance()->waitForDone();
        QPoint origin;
        QVERIFY(QTest::qWaitFor([&] { return (origin = find(devicePixels(editor), picture.pixel(0, 0))).x() >= 0; }));

        const double ratio = editor.view->devicePixelRatioF();
        QWidget *port = editor.view->viewport();
        const auto send = [&](QEvent::Type type, const QPoint &picturePixel, Qt::MouseButton button,
                              Qt::MouseButtons held) {
            const QPointF at = QPointF(origin + picturePixel) / ratio; // device to widget pixels
            QMouseEvent event(type, at, port->mapToGlobal(at), button, held, Qt::NoModifier);
            QApplication::sendEvent(port, &event);
        };
        send(QEvent::MouseButtonPress, QPoint(8, 6), Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseMove, QPoint(48, 36), Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, QPoint(48, 36), Qt::LeftButton, Qt::NoButton);

        const QList<Id> rows = editor.rows(QStringLiteral("skrin_rectangle"));
        QCOMPARE(rows.size(), 1);
        const QList<double> stored = EditorScene::numbers(rows.first(), {"x", "y", "w", "h"});
        const QList<double> wanted{8, 6, 40, 30};
        for (int i = 0; i < 4; ++i) // widget pixels are whole: a device pixel or so either way
            QVERIFY2(qAbs(stored.at(i) - wanted.at(i)) <= ratio + 0.01,
                     qPrintable(QStringLiteral("%1 stored, %2 wanted").arg(stored.at(i)).arg(wanted.at(i))));
    }
};

QTEST_MAIN(TestPixelRatio)
#include "tst_pixelratio.moc"
