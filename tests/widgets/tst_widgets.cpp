// The widget kit: fading panels driven by the animation clock, their size
// hints, and the separator's painting. (The view's hand-off of drags to its
// scene is driven by the editor's drop tests, a panel's gradient shows in the
// editor's look test.)

#include "customlabel.h"
#include "customwidget.h"
#include "separator.h"

#include <QHBoxLayout>
#include <QTest>

class TestWidgets : public QObject
{
    Q_OBJECT

private slots:
    void fadesThroughStates()
    {
        QWidget window;
        auto *panel = new CustomWidget(&window, true);
        window.show();
        QVERIFY(panel->isVisible());

        panel->setState(CustomWidget::Dimmed);
        QTRY_COMPARE(panel->opacity(), 0.3);
        QVERIFY(!panel->isHideTimerActive());

        panel->setState(CustomWidget::Hidden);
        QVERIFY(panel->isHideTimerActive());
        QCOMPARE(panel->opacity(), 0.3); // the same opacity as dimmed, until the delay ends
        QTRY_VERIFY_WITH_TIMEOUT(panel->isHidden(), CustomWidget::hideDelayMs + 10000);
        // The panel hides just above 0; the fade's last tick lands on 0 exactly.
        QTRY_COMPARE(panel->opacity(), 0.0);

        panel->setState(CustomWidget::Shown, true);
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->opacity(), 1.0);

        // A timer restarted by the pointer hides a shown panel in the end.
        panel->restartHideTimer();
        QTRY_VERIFY_WITH_TIMEOUT(panel->isHidden(), CustomWidget::hideDelayMs + 10000);
        QCOMPARE(panel->state(), int(CustomWidget::Hidden));

        // Shown again while the fade-out runs: it turns back to full.
        panel->setState(CustomWidget::Shown, true);
        panel->setState(CustomWidget::Dimmed);
        panel->setState(CustomWidget::Shown);
        QTRY_COMPARE(panel->opacity(), 1.0);
        QVERIFY(panel->isVisible());
    }

    // Panels are set up before their window shows: their states must hold.
    void statesBeforeTheWindowShows()
    {
        QWidget window;
        auto *panel = new CustomWidget(&window);
        panel->setState(CustomWidget::Hidden, true);
        QVERIFY(!panel->isPanelVisible());
        panel->setState(CustomWidget::Shown, true);
        QVERIFY(panel->isPanelVisible());
        QVERIFY(!panel->isVisible());

        auto *child = new CustomLabel;
        panel->addWidget(child);
        panel->setState(CustomWidget::Hidden);
        panel->setState(CustomWidget::Hidden, true); // the same state again, on a panel meant to show
        QCOMPARE(panel->opacity(), 0.0);
        QCOMPARE(child->opacity(), 0.0);
        QCOMPARE(child->palette().color(QPalette::WindowText).alpha(), 0);
        panel->setOpacity(2.0);
        QCOMPARE(child->opacity(), 1.0);
        QCOMPARE(child->palette().color(QPalette::WindowText).alpha(), 255);
    }

    void sizesToItsContents()
    {
        QWidget window;
        auto *panel = new CustomWidget(&window, true);
        panel->setContentsMargins(3, 4, 5, 6);
        panel->setGeometry(100, 100, 10, 10);
        const QPoint centre = panel->geometry().center();
        auto *content = new QWidget;
        content->setFixedSize(30, 20);
        panel->addWidget(content);
        const QSize inner = panel->panelLayout()->sizeHint();
        QCOMPARE(panel->sizeHint(), inner + QSize(8, 10));

        panel->setBorder(true, 2.0, Qt::red);
        panel->setShadowSize(5);
        QCOMPARE(panel->sizeHint(), inner + QSize(8 + 14, 10 + 14));
        QCOMPARE(panel->size(), panel->sizeHint());
        QVERIFY((panel->geometry().center() - centre).manhattanLength() <= 1);

        QCOMPARE(Separator().sizeHint(), QSize(2, 44));
    }

    void paintsTheSeparator()
    {
        Separator separator;
        separator.resize(2, 44);
        QImage image(2, 44, QImage::Format_ARGB32);
        image.fill(Qt::black);
        separator.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        QCOMPARE(image.pixelColor(0, 20), QColor(Qt::white));
        QCOMPARE(image.pixelColor(1, 20), QColor(Qt::gray));
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
