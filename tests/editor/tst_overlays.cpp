// The title prompt, the info bar and the too-big notice on their own: what
// they show for a screenshot, what they store, when they hide, where they stand.

#include "customlabel.h"
#include "customlineedit.h"
#include "editorscene.h"
#include "infobar.h"
#include "infotoobig.h"
#include "openstore.h"
#include "panelfixture.h"
#include "skrindone.h"

#include <QCursor>
#include <QDateTime>
#include <QKeySequence>
#include <QSignalSpy>

namespace {

const QDateTime modified(QDate(2026, 3, 4), QTime(5, 6, 7));

Id newSkrin(const QString &title)
{
    const Id id = createItem(QStringLiteral("skrin"));
    setMember(id, QStringLiteral("title"), title);
    setMember(id, QStringLiteral("modified"), modified);
    return id;
}

} // namespace

class TestOverlays : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(store.opened); }
    void init()
    {
        view = new QWidget;
        view->resize(800, 500);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
    }

    void cleanup() { delete view; }

    void promptStoresTheTitleOnceOnConfirm_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("confirm");
        QTest::newRow("return") << "Quarterly chart" << "return";
        QTest::newRow("ok button") << "Quarterly chart" << "OK";
        QTest::newRow("empty edit") << "" << "return";
        QTest::newRow("very long") << QString(20000, QLatin1Char('w')) << "OK";
        QTest::newRow("close button") << "Not stored" << "X";
    }

    void promptStoresTheTitleOnceOnConfirm()
    {
        QFETCH(QString, typed);
        QFETCH(QString, confirm);
        const Id skrin = newSkrin(QStringLiteral("before"));
        MemberWrites watch(skrin, QStringLiteral("title"));
        SkrinDone prompt(view);
        QSignalSpy hidden(&prompt, &SkrinDone::hideEventSignal);
        auto *edit = prompt.findChild<CustomLineEdit *>();
        const QString paste = QKeySequence(QKeySequence::Paste).toString(QKeySequence::PortableText);
        QVERIFY(prompt.findChildren<CustomLabel *>().last()->text().endsWith(paste + QLatin1Char('.')));

        prompt.showForSkrin(skrin);
        QVERIFY(edit->hasFocus());
        QCOMPARE(edit->placeholderText(), QStringLiteral("No title"));
        edit->insert(typed);
        CustomButton *close = nullptr;
        for (CustomButton *button : prompt.findChildren<CustomButton *>())
            close = button->text() == QLatin1String("X") ? button : close;
        prompt.resize(400, 150); // the close button stays in its corner
        QCOMPARE(close->geometry().topRight(), QPoint(400 - 20 - 1, 12));
        if (confirm == QLatin1String("return"))
            QTest::keyClick(edit, Qt::Key_Return);
        else
            QTest::mouseClick(confirm == QLatin1String("X") ? close : buttonWithTip(prompt, confirm), Qt::LeftButton);
        const bool stored = confirm != QLatin1String("X");
        QCOMPARE(getMember(skrin, QStringLiteral("title")).toString(), stored ? typed : QStringLiteral("before"));
        QCOMPARE(watch.count, stored ? 1 : 0);
        QVERIFY(prompt.isHidden());
        QCOMPARE(hidden.count(), 1);

        if (!stored)
            return;
        // A late save, after the title changed elsewhere, stores nothing.
        setMember(skrin, QStringLiteral("title"), QStringLiteral("renamed elsewhere"));
        prompt.save();
        QCOMPARE(getMember(skrin, QStringLiteral("title")).toString(), QStringLiteral("renamed elsewhere"));
    }

    void infoBarShowsTitleAndDate()
    {
        const Id skrin = newSkrin(QString());
        InfoBar bar(view);
        QVERIFY(bar.isHidden());
        bar.move(20, 20);
        QSignalSpy clicked(&bar, &InfoBar::clicked);
        bar.setSkrin(skrin);
        QVERIFY(bar.isVisible());
        QVERIFY(bar.isHideTimerActive());
        auto *title = bar.findChild<CustomLabel *>();
        QCOMPARE(title->text(), QStringLiteral("No title"));
        QVERIFY(title->font().italic());
        QCOMPARE(bar.shownDate(), modified.toString(Qt::TextDate));
        QTest::mousePress(&bar, Qt::RightButton), QTest::mousePress(&bar, Qt::LeftButton);
        QCOMPARE(clicked.count(), 2);

        // Near is within 20 px, edges included; a drawing tool sends it away at
        // once, and back in view mode a faded-out bar comes back.
        const QRect frame = bar.geometry();
        QCursor::setPos(view->mapToGlobal(frame.bottomRight() + QPoint(20, 20)));
        bar.setEditing(true);
        QVERIFY(bar.isHidden());
        bar.setEditing(false);
        QCOMPARE(bar.state(), int(CustomWidget::Shown));
        QTRY_COMPARE(bar.opacity(), 1.0);
        QVERIFY(bar.isVisible());
        QCursor::setPos(view->mapToGlobal(frame.bottomRight() + QPoint(21, 0)));
        bar.updateOpacity();
        QCOMPARE(bar.state(), int(CustomWidget::Dimmed));

        const auto retitle = [&](const QString &text) { setMember(skrin, QStringLiteral("title"), text), bar.refresh(); };
        retitle(QStringLiteral("Release notes"));
        QCOMPARE(title->text(), QStringLiteral("Release notes"));
        QVERIFY(!title->font().italic());
        QCOMPARE(bar.pos(), QPoint(20, 20)); // grows from its corner

        // Long titles and control characters are stored as typed, shown on one elided line.
        retitle(QStringLiteral("first line\nsecond\tline\x01"));
        QCOMPARE(bar.shownTitle(), QStringLiteral("first line second line "));
        QVERIFY(bar.height() < 100);
        retitle(QStringLiteral("Start ") + QString(30000, QLatin1Char('m')));
        QVERIFY(bar.shownTitle().startsWith(QStringLiteral("Start ")));
        QVERIFY(bar.shownTitle().endsWith(QChar(0x2026)));
        QVERIFY(bar.width() < 500);
        bar.setSkrin(0);
        QVERIFY(bar.isHidden());
    }

    void noticeStandsInTheCornerUntilDragged()
    {
        InfoTooBig notice(view);
        QVERIFY(notice.isHidden());
        QCOMPARE(notice.opacity(), 0.8);
        notice.showNotice(true);
        QCOMPARE(notice.geometry().topRight(), QPoint(view->width() - 21 - 1, 20));

        drag(&notice, QPoint(5, 5), QPoint(-5000, 5));
        QCOMPARE(notice.x(), 15 - notice.width());
        QVERIFY(!notice.isAutoPlaced());
        drag(&notice, QPoint(5, 5), QPoint(5, 5000), Qt::RightButton);
        QCOMPARE(notice.y(), view->height() - 15);
        const QPoint dragged = notice.pos();
        drag(&notice, QPoint(5, 5), QPoint(300, 5), Qt::MiddleButton);
        QTest::mouseMove(&notice, QPoint(200, 5)); // a hover moves nothing
        view->resize(700, 400);
        notice.reposition();
        QCOMPARE(notice.pos(), dragged);

        notice.showNotice(false);
        QVERIFY(notice.isAutoPlaced());
        notice.showNotice(true);
        QCOMPARE(notice.geometry().topRight(), QPoint(700 - 21 - 1, 20));
    }

private:
    OpenStore store;
    QWidget *view = nullptr;
};

QTEST_MAIN(TestOverlays)
#include "tst_overlays.moc"
