// The painted button and the tool bar's button kinds and menu entries: their
// sizes, what counts as a click, and what each click, wheel step and menu
// entry hands to the main window.

#include "fontbutton.h"
#include "overlayfixture.h"
#include "pensizebutton.h"
#include "skrintoolaction.h"
#include "skrintoolbar.h"

#include <QMenu>
#include <QSignalSpy>
#include <QTimer>
#include <QWheelEvent>

class TestToolButtons : public QObject
{
    Q_OBJECT

private slots:
    void sizeFollowsTextAndFrame();
    void clickIsPressThenReleaseOnTheButton();
    void menuButtonShowsPressedAndNeverClicks();
    void clicksSendTheirTool_data();
    void clicksSendTheirTool();
    void wheelSteps_data();
    void wheelSteps();
    void menuEntriesSendTheirValue();
    void nothingReachesAMissingWindow();
};

void TestToolButtons::sizeFollowsTextAndFrame()
{
    QWidget parent;
    CustomButton button(&parent);
    button.setSize(30, 20);
    QCOMPARE(button.minimumSize(), QSize(30, 20));
    button.setText(QStringLiteral("Share"));
    const QSize text = button.fontMetrics().size(Qt::TextSingleLine, QStringLiteral("Share"));
    QCOMPARE(button.sizeHint(), QSize(text.width() + 34, qMax(text.height() + 4, 20)));
    button.setSize(30, 4);
    const QSize unframed = button.sizeHint();
    button.setFramed(true);
    QCOMPARE(button.sizeHint() - unframed, QSize(28, 4));
    button.setSize(30, 90); // a tall picture decides the height
    QCOMPARE(button.sizeHint().height(), 90);
    QVERIFY(qGray(button.grab().toImage().pixel(button.width() / 2, 0)) < 128); // the frame's top edge
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

    // Leaving while held cancels the click; a right press presses nothing.
    QTest::mousePress(&button, Qt::LeftButton);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    QTest::mouseRelease(&button, Qt::LeftButton);
    QTest::mouseClick(&button, Qt::RightButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(before.count(), 2);
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
    QTest::mouseRelease(&button, Qt::LeftButton);
    QVERIFY(!button.isPressed());
    QCOMPARE(clicked.count(), 0);

    // A menu that goes away detaches itself.
    auto *doomed = new QMenu;
    button.setMenu(doomed, true);
    delete doomed;
    QCOMPARE(button.menu(), nullptr);
    QTest::mouseClick(&button, Qt::LeftButton);
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
    QTest::mouseClick(buttonWithTip(bar, tip), Qt::LeftButton);
    QCOMPARE(window.takeCalls(), QStringList{call});
}

void TestToolButtons::wheelSteps_data()
{
    QTest::addColumn<bool>("font");
    QTest::addColumn<double>("start");
    QTest::addColumn<int>("delta");
    QTest::addColumn<int>("phase");
    QTest::addColumn<QString>("call");
    const int plain = Qt::NoScrollPhase;
    QTest::newRow("pen up") << false << 10.0 << 120 << plain << "applyPenSize 11";
    QTest::newRow("pen down at 1") << false << 1.0 << -120 << plain << "applyPenSize 1";
    QTest::newRow("pen up at 100") << false << 100.0 << 120 << plain << "applyPenSize 100";
    QTest::newRow("pen 2.5 up") << false << 2.5 << 120 << plain << "applyPenSize 3.5";
    QTest::newRow("pen zero delta") << false << 10.0 << 0 << plain << "applyPenSize 9";
    QTest::newRow("pen touchpad begin") << false << 10.0 << 0 << int(Qt::ScrollBegin) << "";
    QTest::newRow("font up") << true << 12.0 << 120 << plain << "applyFontSize 13";
    QTest::newRow("font down at 8") << true << 8.0 << -120 << plain << "applyFontSize 8";
    QTest::newRow("font up at 60") << true << 60.0 << 120 << plain << "applyFontSize 60";
    QTest::newRow("pixel font up") << true << -1.0 << 120 << plain << "applyFontSize 8";
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
    QWheelEvent event(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::ScrollPhase(phase), false);
    QApplication::sendEvent(font ? static_cast<QWidget *>(&fontButton) : &pen, &event);
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
            if (!action->isSeparator()) {
                texts << action->text();
                action->trigger();
            }
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

    // A colour entry's icon: a black-edged square of its colour.
    const QImage swatch = buttonWithTip(bar, QStringLiteral("Color"))->menu()->actions().at(2)->icon().pixmap(16, 16).toImage();
    QCOMPARE(swatch.size(), QSize(16, 16));
    for (const QPoint p : {QPoint(0, 0), QPoint(15, 7), QPoint(8, 15)})
        QCOMPARE(swatch.pixelColor(p), QColor(Qt::black));
    QImage red(14, 14, QImage::Format_RGB32);
    red.fill(Qt::red);
    QCOMPARE(swatch.copy(1, 1, 14, 14).convertToFormat(QImage::Format_RGB32), red);
}

void TestToolButtons::nothingReachesAMissingWindow()
{
    QVERIFY(!MainWindowHost::instance());
    QWidget view;
    SkrinToolBar bar(&view);
    // Without a window the bar offers none of the window's own actions.
    QCOMPARE(buttonWithTip(bar, QStringLiteral("Shapes"))->menu()->actions().size(), 0);
    for (QAction *action : buttonWithTip(bar, QStringLiteral("Font"))->menu()->actions())
        action->trigger();
    RecordingWindow window;
    SkrinToolAction().trigger(); // carries nothing
    QVERIFY(window.calls.isEmpty());
}

QTEST_MAIN(TestToolButtons)
#include "tst_toolbuttons.moc"
