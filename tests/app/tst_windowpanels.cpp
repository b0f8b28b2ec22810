// The panels over the real window's editor view: the tool bar's buttons and
// menus reach the open screenshot's scene, and the panels follow it.

#include "capturestore.h"
#include "custombutton.h"
#include "editoroverlays.h"
#include "infobar.h"
#include "mainwindow.h"
#include "openstore.h"
#include "skrin.h"
#include "skrintoolbar.h"
#include "skrinview.h"

#include <QMenu>
#include <QWheelEvent>

class TestWindowPanels : public QObject
{
    Q_OBJECT

private slots:
    void toolBarDrivesTheScene();
};

void TestWindowPanels::toolBarDrivesTheScene()
{
    OpenStore store;
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const Id id = storeCapture(picture, QStringLiteral(".png"), 90);
    MainWindow window;
    window.openSkrin(id);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    EditorOverlays *overlays = window.editorOverlays();
    SkrinToolBar *bar = overlays->toolBar();
    QCOMPARE(bar->parentWidget(), window.skrinView());
    QCOMPARE(overlays->infoBar()->skrinId(), id);
    const auto button = [bar](const char *tip) {
        for (CustomButton *candidate : bar->findChildren<CustomButton *>())
            if (candidate->toolTip() == QLatin1String(tip))
                return candidate;
        return static_cast<CustomButton *>(nullptr);
    };

    QTest::mouseClick(button("Select"), Qt::LeftButton);
    QTest::mouseClick(button("Pen"), Qt::LeftButton);
    QCOMPARE(window.skrin()->tool(), int(Skrin::ToolPen));
    QVERIFY(button("Pen")->isActive());
    QVERIFY(bar->isVisible() && overlays->infoBar()->isHidden()); // drawing: bar shown, info bar away

    QWheelEvent up(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    const double before = window.skrin()->currentToolOptions().penSize;
    QApplication::sendEvent(button("Pen size"), &up);
    QCOMPARE(window.skrin()->currentToolOptions().penSize, before + 1);
    button("Color")->menu()->actions().at(2)->trigger(); // "Red"
    QCOMPARE(window.skrin()->currentToolOptions().color, QColor(Qt::red));
    button("Shapes")->menu()->actions().at(1)->trigger(); // the window's ellipse frame
    QCOMPARE(window.skrin()->tool(), int(Skrin::ToolEllipseFrame));
    QVERIFY(button("Shapes")->isActive());

    QTest::mouseClick(button("Select"), Qt::LeftButton);
    QTest::mouseClick(button("Select"), Qt::LeftButton);
    QCOMPARE(window.skrin()->tool(), int(Skrin::ToolNone));
    window.openSkrin(0);
    QVERIFY(bar->isHidden());
}

QTEST_MAIN(TestWindowPanels)
#include "tst_windowpanels.moc"
