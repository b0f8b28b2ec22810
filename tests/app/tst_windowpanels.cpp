// The panels over the real window's editor view: what each tool bar click,
// wheel step and menu entry does to the open screenshot's scene, how the
// panels follow the window and the pointer, and that every drawing tool is
// offered, draws, and is rendered.

#include "capturestore.h"
#include "database.h"
#include "dot.h"
#include "drawingtools.h"
#include "editoroverlays.h"
#include "infobar.h"
#include "mainwindow.h"
#include "openstore.h"
#include "panelfixture.h"
#include "pensizebutton.h"
#include "mouse.h"
#include "pictures.h"
#include "separator.h"
#include "skrin.h"
#include "skrinimage.h"
#include "skrinitem.h"
#include "skrintoolbar.h"
#include "skrinview.h"
#include "thumbnailerthread.h"
#include "windowpixels.h"

#include <QClipboard>
#include <QCursor>
#include <QGraphicsItem>
#include <QMenu>
#include <QMimeData>
#include <QTemporaryDir>
#include <QWheelEvent>

namespace {

// The pointer at a global point, told as the platform tells it: QTest moves
// no pointer and sends no enter or leave events.
void pointAt(QWidget *panel, const QPoint &global)
{
    QCursor::setPos(global);
    if (panel->rect().contains(panel->mapFromGlobal(global))) {
        QEnterEvent enter(panel->mapFromGlobal(QPointF(global)), QPointF(global), QPointF(global));
        QApplication::sendEvent(panel, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(panel, &leave);
    }
}

QImage checkerboard(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, (x / 10 + y / 10) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return image;
}

} // namespace

class TestWindowPanels : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        store = new OpenStore;
        const Id id = storeCapture(filledImage(QSize(40, 30), Qt::darkCyan), QStringLiteral(".png"), 90);
        window = new MainWindow;
        window->openSkrin(id);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->editorOverlays()->infoBar()->skrinId(), id);
        QCOMPARE(window->editorOverlays()->toolBar()->parentWidget(), window->skrinView());
    }

    void cleanup()
    {
        delete window;
        delete store;
    }

    void clicksSetTheirTool()
    {
        const QList<std::pair<const char *, int>> tools{{"Select", Skrin::ToolSelect}, {"Pen", Skrin::ToolPen},
                                                        {"Blur", Skrin::ToolBlur},     {"Mark", Skrin::ToolMarker},
                                                        {"Text", Skrin::ToolText},     {"Arrow", Skrin::ToolArrow},
                                                        {"Pin", Skrin::ToolPin}};
        for (const auto &[tip, tool] : tools) {
            QTest::mouseClick(button(tip), Qt::LeftButton);
            QCOMPARE(window->skrin()->tool(), tool);
            QVERIFY(button(tip)->isActive());
            // Drawing: the bar shows at once, the info bar goes away.
            QVERIFY(window->editorOverlays()->toolBar()->isVisible());
            QVERIFY(window->editorOverlays()->infoBar()->isHidden());
            // Select toggles between view mode and itself.
            QTest::mouseClick(button("Select"), Qt::LeftButton);
            QCOMPARE(window->skrin()->tool(), int(tool == Skrin::ToolSelect ? Skrin::ToolNone : Skrin::ToolSelect));
        }
    }

    void wheelStepsWithinBounds_data()
    {
        QTest::addColumn<bool>("font");
        QTest::addColumn<double>("start");
        QTest::addColumn<int>("delta");
        QTest::addColumn<int>("phase");
        QTest::addColumn<double>("result");
        const int plain = Qt::NoScrollPhase;
        QTest::newRow("pen up") << false << 10.0 << 120 << plain << 11.0;
        QTest::newRow("pen down at 1") << false << 1.0 << -120 << plain << 1.0;
        QTest::newRow("pen up at 100") << false << 100.0 << 120 << plain << 100.0;
        QTest::newRow("pen zero delta") << false << 10.0 << 0 << plain << 9.0;
        QTest::newRow("pen touchpad begin") << false << 10.0 << 0 << int(Qt::ScrollBegin) << 10.0;
        QTest::newRow("font up") << true << 12.0 << 120 << plain << 13.0;
        QTest::newRow("font down at 8") << true << 8.0 << -120 << plain << 8.0;
        QTest::newRow("font up at 60") << true << 60.0 << 120 << plain << 60.0;
        QTest::newRow("pixel font up") << true << -1.0 << 120 << plain << 8.0;
    }

    void wheelStepsWithinBounds()
    {
        QFETCH(bool, font);
        QFETCH(double, start);
        QFETCH(int, delta);
        QFETCH(int, phase);
        QFETCH(double, result);
        QTest::mouseClick(button("Pen"), Qt::LeftButton);
        if (start < 0) {
            window->skrin()->currentToolOptions().font.setPixelSize(20);
            window->updateToolBarFromSelection();
        } else if (font) {
            window->applyFontSize(start);
        } else {
            window->applyPenSize(start);
        }
        QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::ScrollPhase(phase), false);
        QApplication::sendEvent(button(font ? "Font" : "Pen size"), &wheel);
        if (font) {
            QCOMPARE(options().font.pointSizeF(), result);
        } else {
            QCOMPARE(options().penSize, result);
            // The window sets the shown size back on the button.
            QCOMPARE(static_cast<PenSizeButton *>(button("Pen size"))->penSize(), result);
        }
    }

    void menuEntriesReachTheScene()
    {
        QTest::mouseClick(button("Pen"), Qt::LeftButton);
        const auto entries = [this](const char *tip) { return button(tip)->menu()->actions(); };
        QCOMPARE(entries("Pen size").size(), 6);
        QCOMPARE(entries("Color").size(), 8);
        for (QAction *entry : entries("Pen size")) {
            entry->trigger();
            QCOMPARE(QString::number(options().penSize) + QStringLiteral("px"), entry->text());
        }
        const QList<QColor> colours{Qt::white, Qt::black, Qt::red, Qt::green, Qt::blue, Qt::yellow, QColor(255, 128, 0)};
        for (int i = 0; i < colours.size(); ++i) {
            entries("Color").at(i)->trigger();
            QCOMPARE(options().color, colours.at(i));
        }
        QCOMPARE(entries("Color").last(), MainWindow::actionByName(QStringLiteral("pickColor")));
        for (QAction *entry : entries("Font").mid(0, 5)) {
            entry->trigger();
            QCOMPARE(QString::number(options().font.pointSize()), entry->text());
        }
        QCOMPARE(entries("Font").last()->text(), QStringLiteral("More"));

        const QList<int> shapes{Skrin::ToolEllipse, Skrin::ToolEllipseFrame, Skrin::ToolRectangle,
                                Skrin::ToolRectangleFrame, Skrin::ToolLine};
        for (int i = 0; i < shapes.size(); ++i) {
            entries("Shapes").at(i)->trigger();
            QCOMPARE(window->skrin()->tool(), shapes.at(i));
            QVERIFY(button("Shapes")->isActive());
        }
        window->openSkrin(0);
        QVERIFY(window->editorOverlays()->toolBar()->isHidden());
    }

    // Whatever the selection shows, the bar is as wide as its visible buttons
    // and its margins: a pin dropped on the picture, a pasted picture clicked.
    void toolBarFitsItsButtons()
    {
        SkrinView *view = window->skrinView();
        SkrinToolBar *bar = window->editorOverlays()->toolBar();
        const auto fits = [bar](const char *options) {
            QCoreApplication::processEvents(); // the bar lays its buttons out
            QRect span;
            for (CustomButton *shown : bar->findChildren<CustomButton *>())
                span |= shown->isHidden() ? QRect() : shown->geometry();
            const int margin = bar->shadowSize() + 7;
            return shownOptions(*bar) == QLatin1String(options) && span.left() == margin
                   && bar->width() - 1 - span.right() == margin
                   && (bar->findChild<Separator *>()->isHidden() || bar->findChild<Separator *>()->width() == 2);
        };
        QVERIFY(fits(""));
        QTest::mouseClick(button("Pin"), Qt::LeftButton);
        QVERIFY(fits("Color"));
        leftDrag(view, QPointF(20, 15), QPointF(20, 15));
        QCOMPARE(window->skrin()->tool(), int(Skrin::ToolSelect)); // the new pin is selected
        QVERIFY(fits("Color"));
        window->skrin()->removeSelected(); // its note would cover the pasted picture
        const Id pasted = window->skrin()->addImage(QPixmap::fromImage(filledImage(QSize(60, 40), Qt::red)), ".png");
        QTRY_VERIFY(window->skrin()->selectedItem());
        QVERIFY(fits("Crop"));
        leftDrag(view, QPointF(300, 300), QPointF(300, 300));
        QVERIFY(fits(""));
        const QPointF onPasted = window->skrin()->skrinItem(pasted)->graphicsItem()->sceneBoundingRect().center();
        leftDrag(view, onPasted, onPasted);
        QVERIFY(window->skrin()->selectedItem());
        QVERIFY(fits("Crop"));
    }


    // The Crop button shows the mode of the picture selected now: after a
    // picture was cropped, on this screenshot or another, the next one
    // pasted or dropped is not in crop mode and the button is off; while it
    // is on, a handle crops the picture and never squashes it.
    void cropButtonFollowsTheSelectedPicture()
    {
        SkrinView *view = window->skrinView();
        QTemporaryDir folder;
        int pictures = 0;
        const auto arrive = [&](bool dropped) {
            const QImage picture = filledImage(QSize(240, 160), QColor::fromHsv(40 * ++pictures, 255, 255));
            if (dropped) {
                const QString path = folder.filePath(QStringLiteral("%1.png").arg(pictures));
                picture.save(path);
                QMimeData mime;
                mime.setUrls({QUrl::fromLocalFile(path)});
                QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, {});
                QApplication::sendEvent(view->viewport(), &enter);
                QDropEvent drop(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, {});
                QApplication::sendEvent(view->viewport(), &drop);
            } else {
                QGuiApplication::clipboard()->setImage(picture);
                QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
            }
            auto *image = dynamic_cast<SkrinImage *>(window->skrin()->selectedItem());
            return image && image->loadPicture() ? image : nullptr;
        };
        // The right handle 60 px to the left: cropped, as much shown as is
        // taken of the picture; squashed, less shown than taken.
        const auto cropsByRightHandle = [&](SkrinImage *image) {
            const QPointF handle = image->dot(DotRect::RightMiddle)->scenePos();
            leftDrag(view, handle, handle - QPointF(60, 0));
            const int shown = getMember(image->id(), "w").toInt();
            return shown < 200 && shown == getMember(image->id(), "src_w").toInt();
        };
        const auto showsItsMode = [&](SkrinImage *image) {
            return button("Crop")->isActive() == (image->mode() == SkrinImage::CropMode);
        };

        for (const bool anotherScreenshot : {false, true}) {
            for (const bool dropped : {false, true}) {
                SkrinImage *cropped = arrive(false);
                QVERIFY(cropped);
                QTest::mouseClick(button("Crop"), Qt::LeftButton);
                QVERIFY(button("Crop")->isActive() && showsItsMode(cropped));
                QVERIFY(cropsByRightHandle(cropped));
                if (anotherScreenshot)
                    window->openSkrin(storeCapture(filledImage(QSize(40, 30), Qt::gray), ".png", 90));
                SkrinImage *next = arrive(dropped);
                QVERIFY(next && next != cropped);
                QVERIFY(!button("Crop")->isActive() && showsItsMode(next));
                QTest::mouseClick(button("Crop"), Qt::LeftButton);
                QVERIFY(button("Crop")->isActive() && showsItsMode(next));
                QVERIFY(cropsByRightHandle(next));
            }
        }
    }

    // While the pointer is over the bar, a click that shows option buttons
    // moves none of the tools: the next click lands where it was aimed. Once
    // the pointer has left, the bar centres itself again.
    void buttonsStayUnderThePointer()
    {
        SkrinToolBar *bar = window->editorOverlays()->toolBar();
        window->setSkrinTool(Skrin::ToolSelect);
        QCoreApplication::processEvents();
        const auto centred = [&] {
            const QRect area = window->skrinView()->viewport()->geometry();
            return bar->x() == area.x() + (area.width() - 1) / 2 - bar->width() / 2;
        };
        QVERIFY(centred());
        pointAt(bar, button("Pen")->mapToGlobal(QPoint(22, 22)));
        const QPoint markAt = button("Mark")->mapToGlobal(QPoint(22, 22));
        QTest::mouseClick(button("Pen"), Qt::LeftButton);
        QCOMPARE(shownOptions(*bar), QStringLiteral("Color Pen size"));
        QCOMPARE(button("Mark")->mapToGlobal(QPoint(22, 22)), markAt);

        pointAt(bar, markAt);
        QWidget *under = window->childAt(window->mapFromGlobal(markAt));
        QCOMPARE(under, button("Mark"));
        QTest::mouseClick(under, Qt::LeftButton);
        QCOMPARE(window->skrin()->tool(), int(Skrin::ToolMarker));
        QVERIFY(!centred());

        pointAt(bar, window->skrinView()->mapToGlobal(QPoint(5, 5)));
        QVERIFY(centred());
    }

    // However small the window is made (down to the least size it accepts)
    // or dense its screen, every button of the bar, every option shown,
    // lies within the view.
    void everyButtonWithinReach()
    {
        SkrinToolBar *bar = window->editorOverlays()->toolBar();
        window->setSkrinTool(Skrin::ToolSelect);
        for (const auto setter : {&SkrinToolBar::setPenSizeVisible, &SkrinToolBar::setColorVisible,
                                  &SkrinToolBar::setCropVisible, &SkrinToolBar::setFontVisible})
            (bar->*setter)(true);
        // 470 x 400 is 940 device pixels wide at twice the density.
        for (const QSize size : {QSize(1000, 700), QSize(600, 500), QSize(470, 400), QSize(300, 250), QSize(1, 1)}) {
            window->resize(size);
            QCoreApplication::processEvents();
            const QRect area = window->skrinView()->viewport()->geometry();
            for (CustomButton *shown : bar->findChildren<CustomButton *>()) {
                const QRect onView(shown->mapTo(window->skrinView(), QPoint()), shown->QWidget::size());
                QVERIFY2(area.contains(onView),
                         qPrintable(QStringLiteral("%1 at %2, %3 in a view of %4 x %5 (window %6 x %7)")
                                        .arg(shown->toolTip()).arg(onView.x()).arg(onView.y()).arg(area.width())
                                        .arg(area.height()).arg(window->width()).arg(window->height())));
            }
        }
    }

    // Each drawing tool is chosen from the Draw menu and from the tool bar
    // (its own button or the Shapes menu), draws a row of its kind, and the
    // rendered picture shows it (kinds outside the picture excepted).
    void everyDrawingToolIsOfferedAndDraws()
    {
        SkrinView *view = window->skrinView();
        const QList<QAction *> drawMenu = window->findChild<QMenu *>(QStringLiteral("menuDraw"))->actions();
        for (const DrawingTool &tool : drawingTools()) {
            if (!tool.action)
                continue;
            const QString name = QString::fromLatin1(tool.action);
            const QImage capture = checkerboard(QSize(200, 150));
            const Id skrin = storeCapture(capture, ".png", 90);
            window->openSkrin(skrin);
            QAction *action = MainWindow::actionByName(name);
            QVERIFY2(action && drawMenu.contains(action), qPrintable(name));
            action->trigger();
            QCOMPARE(window->skrin()->tool(), int(tool.tool));

            window->setSkrinTool(Skrin::ToolSelect);
            CustomButton *own = tool.toolTip ? button(tool.toolTip) : button("Shapes");
            if (tool.toolTip)
                QTest::mouseClick(own, Qt::LeftButton);
            else
                own->menu()->actions().at(int(own->menu()->actions().indexOf(action)))->trigger();
            QCOMPARE(window->skrin()->tool(), int(tool.tool));
            QVERIFY2(own->isActive(), qPrintable(name));

            if (tool.gesture == Gesture::Text || tool.gesture == Gesture::Note)
                leftDrag(view, QPointF(30, 40), QPointF(30, 40));
            else
                leftDrag(view, QPointF(30, 40), QPointF(150, 110));
            const QString table = QString::fromLatin1(annotationKindOfTool(tool.tool)->table);
            const QList<Id> drawn = findItems({{QStringLiteral("type"), table}, {QStringLiteral("parent"), skrin}});
            QCOMPARE(drawn.size(), 1);
            QVERIFY(window->skrin()->skrinItem(drawn.first()));

            window->setSkrinTool(Skrin::ToolNone);
            ThumbnailerThread job(skrin, false);
            job.setAutoDelete(false);
            job.run();
            const QImage rendered = QImage::fromData(Database::fileData(getMember(skrin, "file").toString()));
            QCOMPARE(rendered.size(), capture.size());
            const bool shown = annotationKindOfTool(tool.tool)->paintRow;
            QVERIFY2((differingShare(rendered, capture, 80) > 0.002) == shown, qPrintable(name));
        }
    }

    // Wherever the view lies in the window (its place at 1.25x or 1.5x may
    // be a fraction of a device pixel), a rectangle drawn, moved and
    // resized through the window from one painted pixel to another is
    // stored on the picture pixels painted there, and painted where it was
    // dragged, edge for edge.
    void drawsOnThePicturePixelsUnderThePointer()
    {
        const double ratio = window->devicePixelRatioF();
        const QImage picture = patterned(QSize(84, 50));
        QPoint origin; // where picture pixel (0, 0) is painted in the window
        // The window in device pixels, with no selection frame over the rectangle.
        const auto painted = [&] {
            window->skrin()->clearSelection();
            return windowPixels(window);
        };
        Id rectangle = 0;
        const auto stored = [&] {
            QList<double> values;
            for (const char *member : {"x", "y", "w", "h"})
                values << getMember(rectangle, QString::fromLatin1(member)).toDouble();
            return values;
        };
        // Where the rectangle's colour is painted on the picture, in its pixels.
        const auto paintedBox = [&] {
            const QImage shown = painted();
            const QRgb colour = QColor(getMember(rectangle, QStringLiteral("color")).toString()).rgb();
            QRect box;
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x)
                    if (shown.pixel(origin + QPoint(x, y)) == colour)
                        box |= QRect(x, y, 1, 1);
            return QList<double>{double(box.x()), double(box.y()), double(box.width()), double(box.height())};
        };
        // A drag between painted pixels, and the same pixels as the window
        // hears them.
        const auto drag = [&](const QPoint &from, const QPoint &to) {
            dragThroughWindow(window, QPointF(origin + from) / ratio, QPointF(origin + to) / ratio);
        };

        window->resize(800, 600); // the tool bar clear of the picture at 2x
        for (const int margin : {0, 1, 2, 3}) {
            window->setContentsMargins(margin, margin, 0, 0);
            window->openSkrin(storeCapture(picture, QStringLiteral(".png"), 90));
            origin = settledPlace(window, picture.pixel(0, 0));
            QVERIFY(origin.x() >= 0);
            const QImage shown = painted();
            int wrong = 0;
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x)
                    wrong += shown.pixel(origin + QPoint(x, y)) != picture.pixel(x, y);
            QCOMPARE(wrong, 0);

            window->setSkrinTool(Skrin::ToolRectangle);
            drag(QPoint(9, 7), QPoint(61, 41));
            const QList<Id> drawn = findItems({{QStringLiteral("type"), QStringLiteral("skrin_rectangle")},
                                               {QStringLiteral("parent"), window->currentSkrinId()}});
            QCOMPARE(drawn.size(), 1);
            rectangle = drawn.first();
            QCOMPARE(stored(), (QList<double>{9, 7, 52, 34}));
            QCOMPARE(paintedBox(), stored());
            window->setSkrinTool(Skrin::ToolSelect);
            drag(QPoint(30, 20), QPoint(33, 25)); // inside, clear of the handles
            QCOMPARE(stored(), (QList<double>{12, 12, 52, 34}));
            QCOMPARE(paintedBox(), stored());
            drag(QPoint(40, 30), QPoint(40, 30)); // selects it again
            drag(QPoint(64, 46), QPoint(71, 49)); // the bottom-right handle
            QCOMPARE(stored(), (QList<double>{12, 12, 59, 37}));
            QCOMPARE(paintedBox(), stored());
        }
    }

private:
    CustomButton *button(const char *tip) const;
    const SkrinToolOptions &options() const { return window->skrin()->currentToolOptions(); }

    OpenStore *store = nullptr;
    MainWindow *window = nullptr;
};

CustomButton *TestWindowPanels::button(const char *tip) const
{
    return buttonWithTip(*window->editorOverlays()->toolBar(), QString::fromLatin1(tip));
}

QTEST_MAIN(TestWindowPanels)
#include "tst_windowpanels.moc"
