// The panels over the editor view: the title prompt after a capture, the info
// bar naming the open screenshot, and the too-big notice. What they show for a
// screenshot, what they store, when they hide, and where they stand.

#include "customlabel.h"
#include "customlineedit.h"
#include "database.h"
#include "engine.h"
#include "infobar.h"
#include "infotoobig.h"
#include "overlayfixture.h"
#include "skrindone.h"
#include "tempstore.h"
#include "watcher.h"

#include <QApplication>
#include <QCursor>
#include <QDateTime>
#include <QKeySequence>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

namespace {

// Counts the changes of one screenshot's title that reach the watchers.
class TitleWatch : public WatcherInterface
{
public:
    explicit TitleWatch(Id skrin) { watch(WatchFilter{{QStringLiteral("id"), skrin}}); }
    void onSet(Id, const QString &member, const QVariant &) override { changes += member == QLatin1String("title"); }
    int changes = 0;
};

} // namespace

class TestOverlays : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void promptStoresTheTitleOnceOnConfirm_data();
    void promptStoresTheTitleOnceOnConfirm();
    void promptCloseButtonStoresNothing();
    void infoBarShowsTitleAndDate();
    void infoBarElidesLongAndControlTitles();
    void infoBarHidesWhileEditingAndFadesByDistance();
    void noticeStandsInTheCornerUntilDragged();

private:
    Id newSkrin(const QString &title);

    TempStore store;
    QWidget *view = nullptr;
};

void TestOverlays::initTestCase()
{
    registerEngineTypes();
    QString error;
    QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
    bindTables();
}

void TestOverlays::cleanupTestCase()
{
    QCoreApplication::sendPostedEvents();
    Database::close();
}

void TestOverlays::init()
{
    view = new QWidget;
    view->resize(800, 500);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
}

void TestOverlays::cleanup()
{
    delete view;
}

Id TestOverlays::newSkrin(const QString &title)
{
    const Id id = createItem(QStringLiteral("skrin"));
    setMember(id, QStringLiteral("title"), title);
    setMember(id, QStringLiteral("modified"), QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)));
    return id;
}

void TestOverlays::promptStoresTheTitleOnceOnConfirm_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byReturn");
    QTest::newRow("return") << "Quarterly chart" << true;
    QTest::newRow("ok button") << "Quarterly chart" << false;
    QTest::newRow("empty edit") << "" << true;
    QTest::newRow("very long") << QString(20000, QLatin1Char('w')) << false;
}

void TestOverlays::promptStoresTheTitleOnceOnConfirm()
{
    QFETCH(QString, typed);
    QFETCH(bool, byReturn);
    const Id skrin = newSkrin(QStringLiteral("before"));
    TitleWatch watch(skrin);
    SkrinDone prompt(view);
    QSignalSpy hidden(&prompt, &SkrinDone::hideEventSignal);
    auto *edit = prompt.findChild<CustomLineEdit *>();
    QCOMPARE(edit->placeholderText(), QStringLiteral("No title"));
    const QString paste = QKeySequence(QKeySequence::Paste).toString(QKeySequence::PortableText);
    QVERIFY(prompt.findChildren<CustomLabel *>().last()->text().contains(paste));

    prompt.showForSkrin(skrin);
    QVERIFY(prompt.isVisible());
    QVERIFY(edit->hasFocus());
    QCOMPARE(edit->text(), QString());
    edit->insert(typed);
    if (byReturn) {
        QTest::keyClick(edit, Qt::Key_Return);
    } else {
        QTest::mouseClick(buttonWithTip(prompt, QStringLiteral("OK")), Qt::LeftButton);
    }
    QCoreApplication::sendPostedEvents();
    QCOMPARE(getMember(skrin, QStringLiteral("title")).toString(), typed);
    QCOMPARE(watch.changes, 1);
    QVERIFY(prompt.isHidden());
    QCOMPARE(hidden.count(), 1);
    QCOMPARE(prompt.skrinId(), 0);

    // The window saves on view clicks while the prompt shows; a late save
    // after the title changed elsewhere stores nothing.
    setMember(skrin, QStringLiteral("title"), QStringLiteral("renamed elsewhere"));
    prompt.save();
    QCOMPARE(getMember(skrin, QStringLiteral("title")).toString(), QStringLiteral("renamed elsewhere"));
}

void TestOverlays::promptCloseButtonStoresNothing()
{
    const Id skrin = newSkrin(QStringLiteral("kept"));
    SkrinDone prompt(view);
    prompt.showForSkrin(skrin);
    prompt.findChild<CustomLineEdit *>()->insert(QStringLiteral("typed"));
    CustomButton *close = nullptr;
    for (CustomButton *button : prompt.findChildren<CustomButton *>())
        if (button->sizeHint().height() > 0 && button->toolTip().isEmpty() && button->icon().isNull())
            close = button;
    QVERIFY(close);
    QCOMPARE(close->font().pointSizeF(), 15.0);
    QCOMPARE(close->font().weight(), QFont::Bold);

    prompt.resize(400, 150);
    QCOMPARE(close->geometry().right(), 400 - 20 - 1);
    QCOMPARE(close->y(), 12);

    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(prompt.isHidden());
    QCOMPARE(getMember(skrin, QStringLiteral("title")).toString(), QStringLiteral("kept"));
}

void TestOverlays::infoBarShowsTitleAndDate()
{
    const Id skrin = newSkrin(QString());
    InfoBar bar(view);
    QVERIFY(bar.isHidden());
    bar.move(20, 20);
    QSignalSpy clicked(&bar, &InfoBar::clicked);

    bar.setSkrin(skrin);
    QVERIFY(bar.isVisible());
    QCOMPARE(bar.opacity(), 1.0);
    QVERIFY(bar.isHideTimerActive());
    auto *title = bar.findChildren<CustomLabel *>().first();
    QCOMPARE(title->text(), QStringLiteral("No title"));
    QVERIFY(title->font().italic());
    QCOMPARE(bar.shownDate(), QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)).toString(Qt::TextDate));

    setMember(skrin, QStringLiteral("title"), QStringLiteral("Release notes"));
    bar.refresh();
    QCOMPARE(title->text(), QStringLiteral("Release notes"));
    QVERIFY(!title->font().italic());
    QCOMPARE(bar.pos(), QPoint(20, 20)); // grows from its corner

    QTest::mousePress(&bar, Qt::RightButton);
    QTest::mousePress(&bar, Qt::LeftButton);
    QCOMPARE(clicked.count(), 2);

    bar.setSkrin(0);
    QVERIFY(bar.isHidden());
    bar.updateOpacity();
    QVERIFY(bar.isHidden());
}

void TestOverlays::infoBarElidesLongAndControlTitles()
{
    const QString longTitle = QStringLiteral("Start ") + QString(30000, QLatin1Char('m'));
    const QString controlled = QStringLiteral("first line\nsecond\tline\x01");
    InfoBar bar(view);
    bar.setSkrin(newSkrin(longTitle));
    QVERIFY(bar.shownTitle().startsWith(QStringLiteral("Start ")));
    QVERIFY(bar.shownTitle().endsWith(QChar(0x2026)));
    QVERIFY(bar.width() < 500);

    const Id skrin = newSkrin(controlled);
    bar.setSkrin(skrin);
    QCOMPARE(bar.shownTitle(), QStringLiteral("first line second line "));
    QCOMPARE(getMember(skrin, QStringLiteral("title")).toString(), controlled); // stored as typed
    QVERIFY(bar.height() < 100);
}

void TestOverlays::infoBarHidesWhileEditingAndFadesByDistance()
{
    InfoBar bar(view);
    bar.move(20, 20);
    bar.setSkrin(newSkrin(QStringLiteral("t")));
    const QRect frame = bar.geometry();

    // Exactly 20 px outside still counts as near.
    QCursor::setPos(view->mapToGlobal(frame.bottomRight() + QPoint(20, 20)));
    bar.updateOpacity();
    QCOMPARE(bar.state(), int(CustomWidget::Shown));
    QCursor::setPos(view->mapToGlobal(frame.bottomRight() + QPoint(21, 0)));
    bar.updateOpacity();
    QCOMPARE(bar.state(), int(CustomWidget::Dimmed));

    bar.setEditing(true);
    QVERIFY(bar.isHidden());
    // Back in view mode the pointer decides again, and a panel coming back shows.
    QCursor::setPos(view->mapToGlobal(frame.center()));
    bar.setEditing(false);
    QCOMPARE(bar.state(), int(CustomWidget::Shown));
    QTRY_COMPARE(bar.opacity(), 1.0);
    QVERIFY(bar.isVisible());

    QCursor::setPos(view->mapToGlobal(QPoint(-30, -30)));
    bar.updateOpacity();
    QTRY_VERIFY_WITH_TIMEOUT(bar.isHidden(), 5000);
    QCOMPARE(view->childAt(frame.center()), nullptr);
}

void TestOverlays::noticeStandsInTheCornerUntilDragged()
{
    InfoTooBig notice(view);
    QVERIFY(notice.isHidden());
    QCOMPARE(notice.opacity(), 0.8);
    notice.showNotice(true);
    QCOMPARE(notice.geometry().topRight(), QPoint(view->width() - 21 - 1, 20));

    drag(&notice, QPoint(5, 5), QPoint(-5000, 5), Qt::LeftButton);
    QCOMPARE(notice.x(), 15 - notice.width());
    QVERIFY(!notice.isAutoPlaced());
    drag(&notice, QPoint(5, 5), QPoint(5, 5000), Qt::RightButton);
    QCOMPARE(notice.y(), view->height() - 15);
    const QPoint dragged = notice.pos();
    drag(&notice, QPoint(5, 5), QPoint(300, 5), Qt::MiddleButton);
    QMouseEvent hover(QEvent::MouseMove, QPointF(200, 5), notice.mapToGlobal(QPointF(200, 5)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&notice, &hover);
    QCOMPARE(notice.pos(), dragged);

    view->resize(700, 400);
    notice.reposition();
    QCOMPARE(notice.pos(), dragged);
    notice.showNotice(false);
    QVERIFY(notice.isHidden());
    QVERIFY(notice.isAutoPlaced());
    notice.showNotice(true);
    QCOMPARE(notice.geometry().topRight(), QPoint(700 - 21 - 1, 20));
}

QTEST_MAIN(TestOverlays)
#include "tst_overlays.moc"
