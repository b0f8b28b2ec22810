// The floating tool bar: which buttons its setters mark and show, where it
// sits and how far it can be dragged, and how it fades with the pointer; its
// painted buttons on their own: what counts as a click, menus, colour
// swatches, and that nothing happens without a main window. What they do to
// a screenshot is tested through the real window (tests/app/tst_windowpanels.cpp).

#include "mainwindowhost.h"
#include "panelfixture.h"
#include "pensizebutton.h"
#include "pictures.h"
#include "separator.h"
#include "skrintoolaction.h"
#include "skrintoolbar.h"

#include <QCursor>
#include <QMenu>
#include <QSignalSpy>
#include <QTimer>
#include <QWheelEvent>

class TestToolBar : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        view = new QWidget;
        view->resize(800, 500);
        bar = new SkrinToolBar(view);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
    }

    void cleanup() { delete view; }

    void optionButtonsResizeAboutTheCentre()
    {
        QVERIFY(bar->isHidden());
        QCOMPARE(bar->opacity(), 0.0);
        bar->setSkrin(7);
        bar->setEditing(true);
        QCOMPARE(bar->opacity(), 1.0);
        QCOMPARE(shownOptions(*bar), QStringLiteral("Pen size"));
        const QRect before = bar->geometry();
        QCOMPARE(before.bottom(), view->height() - 1);
        QCOMPARE(before.x(), (view->width() - 1) / 2 - before.width() / 2);

        // Options changed while the bar is hidden show with it, divider included.
        bar->setSkrin(0);
        for (const auto setter :
             {&SkrinToolBar::setColorVisible, &SkrinToolBar::setCropVisible, &SkrinToolBar::setFontVisible})
            (bar->*setter)(true);
        bar->setSkrin(7);
        QCOMPARE(shownOptions(*bar), QStringLiteral("Color Pen size Crop Font"));
        QVERIFY(bar->findChild<Separator *>()->isVisible());
        QCOMPARE(bar->width(), before.width() + 3 * (44 + 5));
        QVERIFY(qAbs(bar->geometry().center().x() - before.center().x()) <= 1);

        for (const auto setter : {&SkrinToolBar::setPenSizeVisible, &SkrinToolBar::setColorVisible,
                                  &SkrinToolBar::setCropVisible, &SkrinToolBar::setFontVisible})
            (bar->*setter)(false);
        QVERIFY(!bar->findChild<Separator *>()->isVisible());

        // A dragged bar keeps its left edge.
        drag(bar, QPoint(3, 3), QPoint(3, -97));
        const int left = bar->x();
        bar->setColorVisible(true);
        QCOMPARE(bar->x(), left);
        QVERIFY(bar->findChild<Separator *>()->isVisible());
    }

    void optionsSetTogetherLandAsOneByOne()
    {
        bar->setSkrin(7);
        bar->setEditing(true);
        bar->setOptionsVisible(false, true, true, false);
        QCOMPARE(shownOptions(*bar), QStringLiteral("Color Crop"));
        QVERIFY(bar->findChild<Separator *>()->isVisible());
        const QRect together = bar->geometry();
        bar->setOptionsVisible(true, false, false, false);
        QVERIFY(bar->width() < together.width());
        bar->setColorVisible(true);
        bar->setCropVisible(true);
        bar->setPenSizeVisible(false);
        QCOMPARE(bar->geometry(), together);
    }

    void placementAndDragBounds()
    {
        bar->setSkrin(7);
        bar->setEditing(true);
        const QPoint home = bar->pos();
        drag(bar, QPoint(3, 3), QPoint(5000, 3));
        QCOMPARE(bar->x(), view->width() - 15);
        drag(bar, QPoint(3, 3), QPoint(3, -5000));
        QCOMPARE(bar->y(), 15 - bar->height());
        drag(bar, QPoint(3, 3), QPoint(-5000, 5000), Qt::RightButton);
        QCOMPARE(bar->pos(), QPoint(15 - bar->width(), view->height() - 15));

        // A middle-button drag does not move it, nor a left drag on a button
        // (which clicks it); a right drag on a button does.
        const QPoint corner(15 - bar->width(), view->height() - 15);
        drag(bar, QPoint(3, 3), QPoint(300, 3), Qt::MiddleButton);
        CustomButton *pen = buttonWithTip(*bar, QStringLiteral("Pen"));
        QSignalSpy clicked(pen, &CustomButton::clicked);
        drag(pen, QPoint(10, 10), QPoint(10, -40));
        QCOMPARE(bar->pos(), corner);
        QCOMPARE(clicked.count(), 1);
        drag(pen, QPoint(10, 10), QPoint(10, -40), Qt::RightButton);
        QCOMPARE(bar->pos(), corner + QPoint(0, -50));
        QCOMPARE(clicked.count(), 1);

        // The same screenshot again leaves the bar where the user put it; a
        // different one, or the window's resize with auto-placement, centres it.
        bar->setSkrin(7);
        QVERIFY(bar->pos() != home);
        bar->setSkrin(8);
        QCOMPARE(bar->pos(), home);
        view->resize(600, 400);
        bar->reposition();
        QCOMPARE(bar->geometry().bottom(), 399);
        QCOMPARE(bar->x(), 599 / 2 - bar->sizeHint().width() / 2);
    }

    void fadesByPointerDistanceAndTakesNoInputFadedOut()
    {
        bar->setSkrin(7);
        bar->setEditing(true);
        const QRect frame = bar->geometry();
        CustomButton *pen = buttonWithTip(*bar, QStringLiteral("Pen"));
        const QPoint onPen = pen->mapTo(view, QPoint(20, 20));
        QSignalSpy clicked(pen, &CustomButton::clicked);
        bar->setEditing(false);
        const auto stateWithPointerAt = [&](QPoint inView) {
            QCursor::setPos(view->mapToGlobal(inView));
            bar->updateOpacity();
            return bar->state();
        };
        QCOMPARE(stateWithPointerAt(frame.topLeft() + QPoint(-5, -5)), int(CustomWidget::Shown));
        QCOMPARE(stateWithPointerAt(frame.bottomRight() + QPoint(5, 0)), int(CustomWidget::Shown));
        QCOMPARE(stateWithPointerAt(frame.topLeft() + QPoint(-6, 0)), int(CustomWidget::Dimmed));
        QTRY_COMPARE(bar->opacity(), 0.3);
        // While a tool is active the bar shows at once, even with the pointer outside.
        QCOMPARE(stateWithPointerAt(QPoint(-10, 10)), int(CustomWidget::Hidden));
        bar->setEditing(true);
        QCOMPARE(bar->opacity(), 1.0);
        bar->setEditing(false);
        QCOMPARE(bar->state(), int(CustomWidget::Hidden));

        // Dimmed, then faded out once the hide delay has passed: nothing left
        // invisible over the view takes its clicks.
        QTRY_VERIFY_WITH_TIMEOUT(bar->isHidden(), CustomWidget::hideDelayMs + 10000);
        QTRY_COMPARE(bar->opacity(), 0.0);
        QCOMPARE(view->childAt(onPen), nullptr);
        QTest::mouseClick(view, Qt::LeftButton, {}, onPen);
        QCOMPARE(clicked.count(), 0);
        bar->setSkrin(0);
        QVERIFY(bar->isHidden());
    }

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
        QCOMPARE(swatch.copy(1, 1, 14, 14).convertToFormat(QImage::Format_RGB32), filledImage(QSize(14, 14), Qt::red));
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

private:
    QWidget *view = nullptr;
    SkrinToolBar *bar = nullptr;
};

QTEST_MAIN(TestToolBar)
#include "tst_toolbar.moc"
