// The painted button and the tool bar's button kinds and menu entries: their
// sizes, what counts as a click, and what each click, wheel step and menu
// entry hands to the main window.

#include "custombutton.h"
#include "fontbutton.h"
#include "pensizebutton.h"
#include "recordingwindow.h"
#include "skrintoolaction.h"
#include "skrintoolbar.h"

#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

namespace {

CustomButton *buttonWithTip(QWidget &bar, const QString &tip)
{
    for (CustomButton *button : bar.findChildren<CustomButton *>())
        if (button->toolTip() == tip)
            return button;
    return nullptr;
}

void turnWheel(QWidget *widget, int delta, Qt::ScrollPhase phase = Qt::NoScrollPhase)
{
    const QPointF at(widget->width() / 2, widget->height() / 2);
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier, phase,
                      false);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class TestToolButtons : public QObject
{
    Q_OBJECT

private slots:
    void sizeFollowsTextAndFrame();
    void clickIsPressThenReleaseOnTheButton();
    void rightPressReachesTheParent();
    void menuButtonShowsPressedAndNeverClicks();
    void clicksSendTheirTool_data();
    void clicksSendTheirTool();
    void wheelSteps_data();
    void wheelSteps();
    void menuEntriesSendTheirValue();
    void colourSwatchIsAnEdgedSquare();
    void nothingReachesAMissingWindow();
};

void TestToolButtons::sizeFollowsTextAndFrame()
{
    QWidget parent;
    CustomButton plain(&parent);
    plain.setSize(30, 20);
    QCOMPARE(plain.sizeHint(), QSize(30, 20));
    QCOMPARE(plain.minimumSize(), QSize(30, 20));

    plain.setText(QStringLiteral("Share"));
    const QSize text = plain.fontMetrics().size(Qt::TextSingleLine, QStringLiteral("Share"));
    QCOMPARE(plain.sizeHint().width(), text.width() + 30 + 4);
    QCOMPARE(plain.sizeHint().height(), qMax(text.height() + 4, 20));

    CustomButton framed(&parent);
    framed.setSize(30, 4);
    framed.setText(QStringLiteral("Share"));
    const QSize unframed = framed.sizeHint();
    framed.setFramed(true);
    QCOMPARE(framed.sizeHint() - unframed, QSize(28, 4));

    // A tall picture dominates the height.
    framed.setSize(30, 90);
    QCOMPARE(framed.sizeHint().height(), 90);

    const QImage look = framed.grab().toImage();
    QVERIFY(qGray(look.pixel(framed.width() / 2, 0)) < 128); // the frame's top edge
}

void TestToolButtons::clickIsPressThenReleaseOnTheButton()
{
    QWidget parent;
    CustomButton button(&parent);
    parent.show();
    QSignalSpy clicked(&button, &CustomButton::clicked);
    QSignalSpy before(&button, &CustomButton::beforeClicked);

    QTest::mousePress(&button, Qt::LeftButton);
    QVERIFY(button.isPressed());
    QCOMPARE(before.count(), 1);
    QTest::mouseRelease(&button, Qt::LeftButton);
    QVERIFY(!button.isPressed());
    QCOMPARE(clicked.count(), 1);

    // Leaving while held cancels the click.
    QTest::mousePress(&button, Qt::LeftButton);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    QTest::mouseRelease(&button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
}

void TestToolButtons::rightPressReachesTheParent()
{
    RecordingWindow window;
    QWidget view;
    view.resize(800, 300);
    SkrinToolBar bar(&view);
    view.show();
    bar.setSkrin(1);
    bar.setEditing(true);
    CustomButton *pen = buttonWithTip(bar, QStringLiteral("Pen"));
    const QPoint start = bar.pos();

    // A right drag that starts on a button moves the bar and clicks nothing.
    QTest::mousePress(pen, Qt::RightButton, {}, QPoint(10, 10));
    QVERIFY(!pen->isPressed());
    QMouseEvent move(QEvent::MouseMove, QPointF(10, -40), pen->mapToGlobal(QPointF(10, -40)), Qt::NoButton,
                     Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(pen, &move);
    QTest::mouseRelease(pen, Qt::RightButton, {}, QPoint(10, -40));
    QCOMPARE(bar.pos(), start + QPoint(0, -50));
    QVERIFY(!bar.isAutoPlaced());
    QVERIFY(window.calls.isEmpty());

    // A left press on a button never moves it.
    QTest::mousePress(pen, Qt::LeftButton, {}, QPoint(10, 10));
    QMouseEvent leftMove(QEvent::MouseMove, QPointF(10, 40), pen->mapToGlobal(QPointF(10, 40)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pen, &leftMove);
    QTest::mouseRelease(pen, Qt::LeftButton, {}, QPoint(10, 40));
    QCOMPARE(bar.pos(), start + QPoint(0, -50));
    QCOMPARE(window.takeCalls(), QStringList{QStringLiteral("setSkrinTool 5")});
}

void TestToolButtons::menuButtonShowsPressedAndNeverClicks()
{
    QWidget parent;
    CustomButton button(&parent);
    parent.show();
    QMenu menu;
    menu.addAction(QStringLiteral("entry"));
    button.setMenu(&menu, true);
    QSignalSpy clicked(&button, &CustomButton::clicked);
    bool pressedWhileOpen = false;
    QTimer::singleShot(0, &menu, [&] {
        pressedWhileOpen = menu.isVisible() && button.isPressed();
        menu.close();
    });
    QTest::mousePress(&button, Qt::LeftButton); // runs the menu until it closes
    QVERIFY(pressedWhileOpen);
    QVERIFY(!button.isPressed());
    QTest::mouseRelease(&button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 0);

    // A menu that goes away detaches itself.
    auto *doomed = new QMenu;
    button.setMenu(doomed, true);
    delete doomed;
    QCOMPARE(button.menu(), nullptr);
    QTest::mousePress(&button, Qt::LeftButton);
    QTest::mouseRelease(&button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
}

void TestToolButtons::clicksSendTheirTool_data()
{
    QTest::addColumn<QString>("tip");
    QTest::addColumn<QString>("call");
    QTest::newRow("select") << "Select" << "toggleEditMode";
    QTest::newRow("pen") << "Pen" << "setSkrinTool 5";
    QTest::newRow("blur") << "Blur" << "setSkrinTool 1";
    QTest::newRow("mark") << "Mark" << "setSkrinTool 2";
    QTest::newRow("text") << "Text" << "setSkrinTool 4";
    QTest::newRow("arrow") << "Arrow" << "setSkrinTool 6";
    QTest::newRow("pin") << "Pin" << "setSkrinTool 15";
    QTest::newRow("crop") << "Crop" << "toggleImageCropResize";
}

void TestToolButtons::clicksSendTheirTool()
{
    QFETCH(QString, tip);
    QFETCH(QString, call);
    RecordingWindow window;
    QWidget view;
    view.resize(900, 300);
    SkrinToolBar bar(&view);
    view.show();
    bar.setSkrin(1);
    bar.setEditing(true);
    bar.setCropVisible(true);
    CustomButton *button = buttonWithTip(bar, tip);
    QVERIFY(button && button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(window.takeCalls(), QStringList{call});
}

void TestToolButtons::wheelSteps_data()
{
    QTest::addColumn<bool>("font");
    QTest::addColumn<double>("start");
    QTest::addColumn<int>("delta");
    QTest::addColumn<int>("phase");
    QTest::addColumn<QString>("call");
    QTest::newRow("pen up") << false << 10.0 << 120 << int(Qt::NoScrollPhase) << "applyPenSize 11";
    QTest::newRow("pen down at 1") << false << 1.0 << -120 << int(Qt::NoScrollPhase) << "applyPenSize 1";
    QTest::newRow("pen up at 100") << false << 100.0 << 120 << int(Qt::NoScrollPhase) << "applyPenSize 100";
    QTest::newRow("pen 2.5 up") << false << 2.5 << 120 << int(Qt::NoScrollPhase) << "applyPenSize 3.5";
    QTest::newRow("pen zero delta") << false << 10.0 << 0 << int(Qt::NoScrollPhase) << "applyPenSize 9";
    QTest::newRow("pen touchpad begin") << false << 10.0 << 0 << int(Qt::ScrollBegin) << "";
    QTest::newRow("font up") << true << 12.0 << 120 << int(Qt::NoScrollPhase) << "applyFontSize 13";
    QTest::newRow("font down at 8") << true << 8.0 << -120 << int(Qt::NoScrollPhase) << "applyFontSize 8";
    QTest::newRow("font up at 60") << true << 60.0 << 120 << int(Qt::NoScrollPhase) << "applyFontSize 60";
    QTest::newRow("pixel font up") << true << -1.0 << 120 << int(Qt::NoScrollPhase) << "applyFontSize 8";
}

void TestToolButtons::wheelSteps()
{
    QFETCH(bool, font);
    QFETCH(double, start);
    QFETCH(int, delta);
    QFETCH(int, phase);
    QFETCH(QString, call);
    RecordingWindow window;
    PenSizeButton pen(start);
    FontButton fontButton;
    QFont chosen;
    if (start > 0)
        chosen.setPointSizeF(start);
    else
        chosen.setPixelSize(20);
    fontButton.setToolFont(chosen);
    pen.resize(44, 44);
    fontButton.resize(44, 44);
    turnWheel(font ? static_cast<QWidget *>(&fontButton) : &pen, delta, Qt::ScrollPhase(phase));
    QCOMPARE(window.takeCalls(), call.isEmpty() ? QStringList() : QStringList{call});
    QCOMPARE(pen.penSize(), start); // only the main window sets the shown size
}

void TestToolButtons::menuEntriesSendTheirValue()
{
    RecordingWindow window;
    QWidget view;
    SkrinToolBar bar(&view);
    const auto entries = [&](const QString &tip) {
        QStringList texts;
        for (QAction *action : buttonWithTip(bar, tip)->menu()->actions()) {
            if (action->isSeparator())
                continue;
            texts << action->text();
            action->trigger();
        }
        return texts;
    };
    QCOMPARE(entries(QStringLiteral("Pen size")), QStringList({"1px", "2px", "5px", "10px", "25px", "50px"}));
    QCOMPARE(window.takeCalls(), QStringList({"applyPenSize 1", "applyPenSize 2", "applyPenSize 5", "applyPenSize 10",
                                              "applyPenSize 25", "applyPenSize 50"}));
    QCOMPARE(entries(QStringLiteral("Color")),
             QStringList({"White", "Black", "Red", "Green", "Blue", "Yellow", "Orange", "pickColor"}));
    QCOMPARE(window.takeCalls(),
             QStringList({"applyColor #ffffff", "applyColor #000000", "applyColor #ff0000", "applyColor #00ff00",
                          "applyColor #0000ff", "applyColor #ffff00", "applyColor #ff8000", "action pickColor"}));
    QCOMPARE(entries(QStringLiteral("Font")), QStringList({"8", "10", "12", "16", "25", "More"}));
    QCOMPARE(window.takeCalls(), QStringList({"applyFontSize 8", "applyFontSize 10", "applyFontSize 12",
                                              "applyFontSize 16", "applyFontSize 25", "action changeFont"}));
    QCOMPARE(entries(QStringLiteral("Shapes")),
             QStringList({"ellipse", "ellipseFrame", "rectangle", "rectangleFrame", "line"}));
    QCOMPARE(window.takeCalls().size(), 5);
}

void TestToolButtons::colourSwatchIsAnEdgedSquare()
{
    SkrinToolAction action(SkrinToolAction::Color, QStringLiteral("Red"), QColor(Qt::red));
    const QImage swatch = action.icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(swatch.size(), QSize(16, 16));
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const bool edge = x == 0 || y == 0 || x == 15 || y == 15;
            QCOMPARE(swatch.pixelColor(x, y), edge ? QColor(Qt::black) : QColor(Qt::red));
        }
    }
    QCOMPARE(action.value(), 0.0);
    QVERIFY(SkrinToolAction::makePenSize(QStringLiteral("1px"), 1.0, &action)->icon().isNull());
}

void TestToolButtons::nothingReachesAMissingWindow()
{
    QVERIFY(!MainWindowHost::instance());
    QVERIFY(!MainWindowHost::actionByName(QStringLiteral("line")));
    QWidget view;
    SkrinToolBar bar(&view);
    // Without a window the bar offers none of the window's own actions.
    QCOMPARE(buttonWithTip(bar, QStringLiteral("Shapes"))->menu()->actions().size(), 0);
    for (QAction *action : buttonWithTip(bar, QStringLiteral("Font"))->menu()->actions())
        action->trigger();
    PenSizeButton pen(5.0);
    turnWheel(&pen, 120);

    RecordingWindow window;
    SkrinToolAction empty;
    empty.trigger();
    QVERIFY(window.calls.isEmpty());
}

QTEST_MAIN(TestToolButtons)
#include "tst_toolbuttons.moc"
