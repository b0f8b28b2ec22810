// The floating tool bar: which buttons its setters mark and show, where it
// sits and how far it can be dragged, and how it fades with the pointer.

#include "panelfixture.h"
#include "separator.h"
#include "skrintoolbar.h"

#include <QCursor>
#include <QSignalSpy>

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

private:
    QWidget *view = nullptr;
    SkrinToolBar *bar = nullptr;
};

QTEST_MAIN(TestToolBar)
#include "tst_toolbar.moc"
