// The editor on screens of any pixel density (registered again at 1.25, 1.5
// and 2): a stored picture pixel is one device pixel, annotations stand on
// the same picture pixels, and the mouse draws in picture pixels, so rows
// mean the same on every screen.

#include "database.h"
#include "editoroverlays.h"
#include "editorscene.h"
#include "imagecache.h"
#include "pensizebutton.h"
#include "skrinsmimedata.h"
#include "skrintoolbar.h"
#include "openstore.h"
#include "windowpixels.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

// The view's window in device pixels, and a place of the viewport there.
QImage devicePixels(EditorScene &editor)
{
    return windowPixels(editor.view->window());
}
QPointF onDevice(EditorScene &editor, const QPointF &inPort)
{
    QWidget *port = editor.view->viewport();
    return (inPort + QPointF(port->mapTo(port->window(), QPoint(0, 0)))) * port->devicePixelRatioF();
}

// The screenshot as one picture row at (0, 0), open with `tool`.
void openOnPicture(EditorScene &editor, const QImage &picture, int tool)
{
    const int w = picture.width();
    const int h = picture.height();
    editor.addRowWithFile(QStringLiteral("skrin_image"),
                          {{"x", 0}, {"y", 0}, {"z", 1}, {"w", w}, {"h", h}, {"src_x", 0}, {"src_y", 0},
                           {"src_w", w}, {"src_h", h}},
                          encoded(picture));
    editor.open(tool);
    QThreadPool::globalInstance()->waitForDone();
}

// The box around the pixels of `image` inside `area` that `ink` picks.
QRect inkBox(const QImage &image, const QRect &area, const std::function<bool(QRgb)> &ink)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.valid(x, y) && ink(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

bool isRed(QRgb p) { return qRed(p) > 160 && qGreen(p) < 100 && qBlue(p) < 100; }
bool isDark(QRgb p) { return qGray(p) < 128; }

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

        const QPoint origin = settledPlace(editor.view.get(), picture.pixel(0, 0));
        const QImage shown = devicePixels(editor);
        const double ratio = editor.view->devicePixelRatioF();
        // Where the view puts the picture's corner, in device pixels.
        const QPointF expected = onDevice(editor, editor.view->mapFromScene(QPointF(place)));
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

    // A pasted picture lands on whole picture pixels, and so does a dropped
    // screenshot's group: between two pixels it would be painted smeared, on
    // the screen and in the stored picture.
    void pastedAndDroppedLandOnWholePixels()
    {
        EditorScene editor(EditorScene::Later);
        openOnPicture(editor, filledImage(QSize(500, 400), Qt::white), Skrin::ToolSelect);
        const auto whole = [](Id id) {
            const double x = getMember(id, QStringLiteral("x")).toDouble();
            const double y = getMember(id, QStringLiteral("y")).toDouble();
            return x == std::floor(x) && y == std::floor(y);
        };

        const QImage pasted = patterned(QSize(41, 27));
        // Views of either parity, whose centres lie anywhere on a denser screen.
        // The last one pasted lies on top, and is looked at.
        for (const QSize &size : {QSize(641, 479), QSize(640, 480)}) {
            editor.view->resize(size);
            QCoreApplication::processEvents();
            const QImage picture = size.width() % 2 ? filledImage(pasted.size(), Qt::black) : pasted;
            const Id image = editor.scene->addImage(QPixmap::fromImage(picture), QStringLiteral(".png"));
            QVERIFY(image != 0);
            QVERIFY(whole(image));
        }
        QThreadPool::globalInstance()->waitForDone();
        editor.scene->clearSelection(); // no frame over its edges
        const QPoint origin = settledPlace(editor.view.get(), pasted.pixel(0, 0));
        QVERIFY(origin.x() >= 0);
        const QImage shown = devicePixels(editor);
        int wrong = 0;
        for (int y = 0; y < pasted.height(); ++y)
            for (int x = 0; x < pasted.width(); ++x)
                wrong += shown.pixel(origin + QPoint(x, y)) != pasted.pixel(x, y);
        QCOMPARE(wrong, 0);

        const Id other = OpenStore::newSkrin();
        editor.addRow(QStringLiteral("skrin_rectangle"),
                      {{"x", 3}, {"y", 4}, {"z", 1}, {"w", 10}, {"h", 6}, {"color", "#ff0000"}}, other);
        const SkrinsMimeData mime({SkrinsMimeData::address({other})});
        for (const QPoint at : {QPoint(101, 77), QPoint(150, 120)}) {
            QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
            QApplication::sendEvent(editor.view->viewport(), &enter);
            QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
            QApplication::sendEvent(editor.view->viewport(), &drop);
        }
        const QList<Id> dropped = editor.rows(QStringLiteral("skrin_rectangle"));
        QCOMPARE(dropped.size(), 2);
        for (const Id id : dropped)
            QVERIFY(whole(id));
    }

    // Drawing, moving and resizing follow the pointer to the picture pixel
    // it is on, whatever the density: every pixel can be reached, odd ones
    // on a 2x screen too.
    void drawsMovesAndResizesInPicturePixels()
    {
        const QImage picture = patterned(QSize(160, 120));
        EditorScene editor(EditorScene::Later);
        openOnPicture(editor, picture, Skrin::ToolRectangle);
        const QPoint origin = settledPlace(editor.view.get(), picture.pixel(0, 0));
        QVERIFY(origin.x() >= 0);

        const double ratio = editor.view->devicePixelRatioF();
        // Device pixels as painted, to the window's pixels.
        const auto drag = [&](const QPoint &from, const QPoint &to) {
            dragThroughWindow(editor.view.get(), QPointF(origin + from) / ratio, QPointF(origin + to) / ratio);
        };
        const auto stored = [&] {
            const QList<Id> rows = editor.rows(QStringLiteral("skrin_rectangle"));
            return rows.size() == 1 ? EditorScene::numbers(rows.first(), {"x", "y", "w", "h"}) : QList<double>();
        };

        drag(QPoint(9, 7), QPoint(101, 81));
        QCOMPARE(stored(), (QList<double>{9, 7, 92, 74}));
        editor.scene->setTool(Skrin::ToolSelect);
        drag(QPoint(30, 30), QPoint(33, 35)); // inside, clear of the handles
        QCOMPARE(stored(), (QList<double>{12, 12, 92, 74}));
        drag(QPoint(104, 86), QPoint(107, 91)); // the bottom-right handle
        QCOMPARE(stored(), (QList<double>{12, 12, 95, 79}));
    }

    // The scene grows as a drawing reaches past it, and the view must not
    // re-centre it under the pointer: a straight drag across and past the
    // picture draws from the press to the pointer, and the picture stays.
    void drawingPastThePictureStaysUnderThePointer()
    {
        EditorScene editor(EditorScene::Later);
        openOnPicture(editor, filledImage(QSize(100, 80), Qt::white), Skrin::ToolArrow);
        editor.view->setSceneRect(QRectF()); // the program's view follows its scene
        QTRY_COMPARE(editor.scene->sceneRect(), QRectF(0, 0, 100, 80));
        editor.view->viewport()->repaint(); // as shown to the user
        QCoreApplication::processEvents();

        // Where the hand goes is fixed on the screen before it moves.
        const QTransform shown = editor.view->viewportTransform();
        QWidget *port = editor.view->viewport();
        leftThroughWindow(port, QEvent::MouseButtonPress, shown.map(QPointF(-60, 40)));
        for (const double x : {-40.0, 20.0, 90.0, 140.0, 170.0})
            leftThroughWindow(port, QEvent::MouseMove, shown.map(QPointF(x, 40)));
        leftThroughWindow(port, QEvent::MouseButtonRelease, shown.map(QPointF(170, 40)));

        const QList<Id> arrows = editor.rows(QStringLiteral("skrin_arrow"));
        QCOMPARE(arrows.size(), 1);
        QCOMPARE(EditorScene::numbers(arrows.first(), {"x", "y", "end_x", "end_y"}),
                 (QList<double>{-60, 40, 230, 0}));
        QVERIFY(editor.scene->sceneRect().width() > 100); // it did grow
        QCOMPARE(editor.view->viewportTransform(), shown);
    }

    // New annotations look on a denser screen as they do at 1x: the tool
    // bar's pen sizes and the default text size are sizes on the screen, so
    // rows store them in picture pixels; a pin keeps its size on the screen.
    void newAnnotationsLookAsAtOneX()
    {
        EditorScene editor(EditorScene::Later);
        openOnPicture(editor, filledImage(QSize(600, 440), Qt::white), Skrin::ToolArrow);
        const double ratio = editor.view->devicePixelRatioF();
        QWidget *port = editor.view->viewport();
        const QTransform place = editor.view->viewportTransform();
        const auto clickWith = [&](int tool, const QPointF &at) {
            editor.scene->setTool(tool);
            dragThroughWindow(port, place.map(at), place.map(at));
            editor.scene->clearSelection(); // no editing frame over it
        };

        // "5px" from the tool bar, and the arrow drawn with it.
        const double five = 5.0;
        editor.scene->applyPenOptions(&five, nullptr, nullptr);
        dragThroughWindow(port, place.map(QPointF(40, 40)), place.map(QPointF(400, 40)));
        clickWith(Skrin::ToolText, QPointF(40, 120));
        clickWith(Skrin::ToolPin, QPointF(500, 400));

        const QList<Id> arrows = editor.rows(QStringLiteral("skrin_arrow"));
        const QList<Id> texts = editor.rows(QStringLiteral("skrin_text"));
        QVERIFY(arrows.size() == 1 && texts.size() == 1 && editor.rows(QStringLiteral("skrin_pin")).size() == 1);
        QCOMPARE(getMember(arrows.first(), QStringLiteral("pen_size")).toDouble(), 5.0 * ratio);
        QCOMPARE(getMember(texts.first(), QStringLiteral("font_size")).toDouble(), 12.0 * ratio);

        // The tool bar tells the arrow's size as the screen shows it.
        EditorOverlays overlays(editor.view.get(), nullptr);
        editor.select(arrows);
        overlays.updateToolBar(editor.scene.get());
        QCOMPARE(overlays.toolBar()->findChild<PenSizeButton *>()->penSize(), 5.0);
        editor.scene->clearSelection();

        // On the screen, in device pixels: the arrow 5 screen pixels thick,
        // the text as tall as a 12 pt text elsewhere on this screen, the pin
        // as wide as its picture at this density.
        QTest::qWait(50);
        const QImage shown = devicePixels(editor);
        const QPointF origin = onDevice(editor, place.map(QPointF(0, 0)));
        const auto area = [&](const QRectF &scene) { return scene.translated(origin).toAlignedRect(); };
        const QRect arrow = inkBox(shown, area(QRectF(150, 0, 1, 100)), isRed);
        QVERIFY2(qAbs(arrow.height() - 5.0 * ratio) <= 1.0, qPrintable(QString::number(arrow.height())));

        QImage written((QSizeF(400, 60) * ratio).toSize(), QImage::Format_RGB32);
        written.setDevicePixelRatio(ratio);
        written.fill(Qt::white);
        QPainter painter(&written);
        painter.setFont(QFont(QStringLiteral("Arial"), 12));
        painter.drawText(QPointF(5, 40), tr("Put your text here..."));
        painter.end();
        const QRect wanted = inkBox(written, written.rect(), isDark);
        const QRect text = inkBox(shown, area(QRectF(30, 110, 500, 160)), isDark);
        QVERIFY2(qAbs(text.height() - wanted.height()) <= 2 && qAbs(text.width() - wanted.width()) <= 2 * ratio + 2,
                 qPrintable(QStringLiteral("%1x%2 for %3x%4")
                                .arg(text.width()).arg(text.height()).arg(wanted.width()).arg(wanted.height())));

        const QImage icon(QStringLiteral(":/rc/ico3b.png"));
        const QRect iconInk = inkBox(icon.convertToFormat(QImage::Format_RGB32), icon.rect(), isDark);
        const QRect pin = inkBox(shown, area(QRectF(380, 300, 220, 140)), isRed);
        QVERIFY2(qAbs(pin.width() - iconInk.width() * ratio) <= ratio + 1,
                 qPrintable(QStringLiteral("%1 for %2").arg(pin.width()).arg(iconInk.width() * ratio)));
    }
};

QTEST_MAIN(TestPixelRatio)
#include "tst_pixelratio.moc"
