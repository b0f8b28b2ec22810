// The panels over the real window's editor view: what each tool bar click,
// wheel step and menu entry does to the open screenshot's scene, and how the
// panels follow the window.

#include "capturestore.h"
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
#include "skrinitem.h"
#include "skrintoolbar.h"
#include "skrinview.h"

#include <QGraphicsItem>
#include <QMenu>
#include <QWheelEvent>

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
