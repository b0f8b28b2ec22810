// The painted button and the tool bar's buttons on their own (their sizes
// show in the editor's look test): what counts as a click, menus, colour swatches, and that nothing happens
// without a main window. What they do to a screenshot is tested through the
// real window (tests/app/tst_windowpanels.cpp).

#include "mainwindowhost.h"
#include "panelfixture.h"
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
    void clickIsPressThenReleaseOnTheButton()
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

    void menuButtonShowsPressedAndNeverClicks()
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

    void colourEntriesShowSwatches()
    {
        QWidget view;
        SkrinToolBar bar(&view);
        const QList<QAction *> entries = buttonWithTip(bar, QStringLiteral("Color"))->menu()->actions();
        QCOMPARE(entries.at(2)->text(), QStringLiteral("Red"));
        // A black-edged square of its colour.
        const QImage swatch = entries.at(2)->icon().pixmap(16, 16).toImage();
        for (const QPoint p : {QPoint(0, 0), QPoint(15, 7), QPoint(8, 15)})
            QCOMPARE(swatch.pixelColor(p), QColor(Qt::black));
        QImage red(14, 14, QImage::Format_RGB32);
        red.fill(Qt::red);
        QCOMPARE(swatch.copy(1, 1, 14, 14).convertToFormat(QImage::Format_RGB32), red);
    }

    void nothingReachesAMissingWindow()
    {
        QVERIFY(!MainWindowHost::instance());
        QWidget view;
        SkrinToolBar bar(&view);
        // Without a window the bar offers none of the window's own actions, and
        // its entries, clicks and wheel steps go nowhere.
        QCOMPARE(buttonWithTip(bar, QStringLiteral("Shapes"))->menu()->actions().size(), 0);
        for (const char *tip : {"Font", "Pen size", "Color"})
            for (QAction *action : buttonWithTip(bar, QString::fromLatin1(tip))->menu()->actions())
                action->trigger();
        PenSizeButton pen(5.0);
        QWheelEvent up(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
        QApplication::sendEvent(&pen, &up);
        QCOMPARE(pen.penSize(), 5.0);
        SkrinToolAction().trigger();
    }
};

QTEST_MAIN(TestToolButtons)
#include "tst_toolbuttons.moc"
