// The panels over a real editor view: the title prompt, the info bar and the
// too-big notice on their own, and as the window's overlays following the
// tool and the open screenshot; and the look of it all against data/look.png
// (after a deliberate change of the look, run with PELLIMORE_UPDATE_LOOK=1 to
// write the new reference).

#include "capture.h"
#include "customlabel.h"
#include "customlineedit.h"
#include "dirtyskrins.h"
#include "editorscene.h" // MemberWrites
#include "editoroverlays.h"
#include "infobar.h"
#include "infotoobig.h"
#include "modaldialog.h"
#include "openstore.h"
#include "panelfixture.h"
#include "pictures.h"
#include "skrin.h"
#include "skrindone.h"
#include "skrintoolbar.h"
#include "skrinview.h"
#include "imagecache.h"

#include <QCursor>
#include <QDateTime>
#include <QFontInfo>
#include <QKeySequence>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
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

class TestEditorOverlays : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(store.opened); }
    void init()
    {
        skrin = createItem(QStringLiteral("skrin"));
        setMember(skrin, QStringLiteral("title"), QStringLiteral("Old title"));
        view = new SkrinView;
        view->resize(800, 500);
        getInfo = new QAction(view);
        overlays = new EditorOverlays(view, getInfo);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        overlays->showSkrin(skrin);
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

    void toolBarFollowsTheTool_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("marked");
        const char *rows[][2] = {{"", ""},           {"Pen size", "Blur"},       {"Color Pen size", "Mark"},
                                 {"", "Select"},     {"Color Font", "Text"},     {"Color Pen size", "Pen"},
                                 {"Color Pen size", "Arrow"}, {"Color Pen size", "Shapes"}, {"Color", "Shapes"},
                                 {"Color Pen size", "Shapes"}, {"Color", "Shapes"}, {"Color Pen size", "Shapes"},
                                 {"", "Select"},     {"", "Select"},             {"", "Select"}, // pasting ends in Select
                                 {"Color", "Pin"},   {"Crop", ""}};
        for (int tool = 0; tool <= 16; ++tool)
            QTest::addRow("tool %d", tool) << tool << QString::fromLatin1(rows[tool][0]) << QString::fromLatin1(rows[tool][1]);
    }

    void toolBarFollowsTheTool()
    {
        QFETCH(int, tool);
        QFETCH(QString, options);
        QFETCH(QString, marked);
        Skrin scene(skrin);
        view->setScene(&scene);
        scene.toolOptionsOf(tool).penSize = 7.0;
        // The paste tools open a file dialog or a capture: both are left at once.
        if (tool == Skrin::ToolPasteFile)
            cancelNextDialog();
        scene.setTool(tool);
        if (tool == Skrin::ToolPasteCapture)
            cancelCapture();
        overlays->toolChanged(tool);
        overlays->updateToolBar(&scene);
        SkrinToolBar *bar = overlays->toolBar();
        QCOMPARE(shownOptions(*bar), options);
        QStringList active;
        for (CustomButton *button : bar->findChildren<CustomButton *>())
            if (button->isActive())
                active << button->toolTip();
        QCOMPARE(active.join(QLatin1Char(' ')), marked);
        view->setScene(nullptr);
    }

    void panelsStayPlacedAndFollowTheView()
    {
        QCOMPARE(overlays->infoBar()->pos(), QPoint(20, 20));
        SkrinToolBar *bar = overlays->toolBar();
        view->resize(600, 400);
        QCOMPARE(bar->geometry().bottom(), view->viewport()->geometry().bottom()); // inside the view's frame
        // In view mode the pointer over the view decides; leaving it fades them.
        QCursor::setPos(view->mapToGlobal(QPoint(300, 200)));
        emit view->mouseMoved(QPoint(300, 200));
        QCOMPARE(bar->state(), int(CustomWidget::Dimmed));
        QCOMPARE(overlays->infoBar()->state(), int(CustomWidget::Dimmed));
        QCursor::setPos(view->mapToGlobal(QPoint(-50, -50)));
        emit view->leaveEventSignal();
        QCOMPARE(bar->state(), int(CustomWidget::Hidden));
        QCOMPARE(overlays->infoBar()->state(), int(CustomWidget::Hidden));

        QSignalSpy info(getInfo, &QAction::triggered);
        QTest::mousePress(overlays->infoBar(), Qt::LeftButton);
        QCOMPARE(info.count(), 1);
    }

    // A picture larger than the view brings scroll bars; the tool bar stands
    // on the picture's area above them, and goes back down when they go.
    void toolBarStandsAboveTheScrollBar()
    {
        Skrin scene(skrin);
        view->setScene(&scene);
        SkrinToolBar *bar = overlays->toolBar();
        overlays->toolChanged(3);
        QTRY_VERIFY(bar->isVisible());
        for (const QSize picture : {QSize(3000, 2000), QSize(300, 200)}) {
            view->setSceneRect(QRectF(QPointF(0, 0), picture));
            QCoreApplication::processEvents();
            const bool scrolled = picture.width() > view->width();
            const QScrollBar *scrollBar = view->horizontalScrollBar();
            QCOMPARE(scrollBar->isVisible(), scrolled);
            const QRect port = view->viewport()->geometry();
            QCOMPARE(bar->geometry().bottom(), port.bottom());
            QVERIFY(qAbs(bar->geometry().center().x() - port.center().x()) <= 1);
            if (scrolled)
                QVERIFY(!bar->geometry().intersects(QRect(scrollBar->mapTo(view, QPoint()), scrollBar->size())));
        }
        view->setScene(nullptr);
    }

    void promptAndInfoBarFollowTheTitle()
    {
        SkrinDone *prompt = overlays->prompt();
        const auto ask = [&](const QString &typed) {
            overlays->askTitle(skrin);
            prompt->findChild<QLineEdit *>()->setText(typed);
        };
        const auto title = [&] { return getMember(skrin, QStringLiteral("title")).toString(); };
        ask(QStringLiteral("typed"));
        QVERIFY(prompt->isVisible());
        QVERIFY(qAbs(prompt->geometry().center().x() - view->width() / 2) <= 1);
        // A title written elsewhere hides the prompt unsaved and shows on the bar.
        setMember(skrin, QStringLiteral("title"), QStringLiteral("From elsewhere"));
        QVERIFY(prompt->isHidden());
        QCOMPARE(overlays->infoBar()->shownTitle(), QStringLiteral("From elsewhere"));

        // A press in the view, or leaving view mode, confirms what was typed.
        ask(QStringLiteral("Pressed"));
        emit view->mousePressed(Qt::RightButton, QPoint(5, 5));
        QCOMPARE(title(), QStringLiteral("Pressed"));
        ask(QStringLiteral("Drawn"));
        overlays->toolChanged(3);
        QCOMPARE(title(), QStringLiteral("Drawn"));
        QCOMPARE(overlays->infoBar()->shownTitle(), QStringLiteral("Drawn"));

        // Not asked when the user turned the question off.
        Database::insertUnique(Database::tableId(QStringLiteral("server_option")),
                               QVariantMap{{QStringLiteral("name"), QStringLiteral("capture_title_ask")},
                                           {QStringLiteral("value"), QStringLiteral("0")}});
        overlays->askTitle(skrin);
        QVERIFY(prompt->isHidden());
    }

    void noticeShowsForTooBigFiles()
    {
        InfoTooBig *notice = overlays->notice();
        QVERIFY(notice->isHidden());
        const int tooBigFiles = Database::tableId(QStringLiteral("too_big_files"));
        // Another screenshot's picture is not this one's.
        const Id elsewhere = createItem(QStringLiteral("skrin_image"));
        setMember(elsewhere, QStringLiteral("parent"), createItem(QStringLiteral("skrin")));
        Database::insertUnique(tooBigFiles, QVariantMap{{QStringLiteral("id"), elsewhere},
                                                        {QStringLiteral("file"), QStringLiteral("other.png")}});
        overlays->checkTooBig();
        QVERIFY(notice->isHidden());
        const Id picture = createItem(QStringLiteral("skrin_image"));
        setMember(picture, QStringLiteral("parent"), skrin);
        Database::insertUnique(tooBigFiles, QVariantMap{{QStringLiteral("id"), picture},
                                                        {QStringLiteral("file"), QStringLiteral("big.png")}});
        view->hide(); // as when the window opens a screenshot before it shows
        overlays->checkTooBig();
        view->show();
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->geometry().topRight(), QPoint(view->width() - 21 - 1, 20));
        view->resize(700, 400); // it follows the view's corner
        QCOMPARE(notice->geometry().right(), 700 - 21 - 1);
        overlays->showSkrin(0);
        QVERIFY(notice->isHidden());
        // The screenshot's own file counts too.
        Database::removeRow(tooBigFiles, Database::findRow(tooBigFiles, {{QStringLiteral("id"), picture}}));
        Database::insertUnique(tooBigFiles, QVariantMap{{QStringLiteral("id"), skrin},
                                                        {QStringLiteral("file"), QStringLiteral("whole.png")}});
        overlays->showSkrin(skrin);
        QVERIFY(notice->isVisible());
    }

    void editorLooksAsBefore()
    {
        QVERIFY(!QFontInfo(QFont()).family().isEmpty());
        QPixmap card(320, 200); // sky over a field
        card.fill(QColor(70, 110, 160));
        QPainter(&card).fillRect(0, 140, 320, 60, QColor(90, 150, 80));
        cachePixmap(QStringLiteral("lookcard.png"), card);
        for (const auto &[member, value] : {std::pair{"w", 320}, {"h", 200}, {"x", 0}, {"y", 0}})
            setMember(skrin, QString::fromLatin1(member), value);
        setMember(skrin, QStringLiteral("file"), QStringLiteral("lookcard.png"));
        setMember(skrin, QStringLiteral("modified"), QDateTime(QDate(2026, 5, 17), QTime(12, 30, 0)));
        Skrin scene(skrin);
        view->resize(720, 420);
        view->setScene(&scene);
        view->setSceneRect(QRectF(-200, -90, 720, 420));
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        overlays->showSkrin(skrin); // view mode: the rendered picture and the info bar
        scene.toolOptionsOf(0).penSize = 5.0;
        overlays->updateToolBar(&scene);
        QCursor::setPos(overlays->toolBar()->mapToGlobal(QPoint(30, 30))); // the bar shows near the pointer
        overlays->toolBar()->updateOpacity();
        QTRY_COMPARE(overlays->toolBar()->opacity(), 1.0);
        overlays->infoBar()->setState(CustomWidget::Shown, true); // as just opened

        const QImage shot = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        view->setScene(nullptr);
        const QString reference = QStringLiteral(QT_TESTCASE_SOURCEDIR "/editor/data/look.png");
        if (qEnvironmentVariableIsSet("PELLIMORE_UPDATE_LOOK")) {
            QVERIFY(shot.save(reference));
            QSKIP("reference written");
        }
        const QImage expected = QImage(reference).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shot.size(), expected.size());
        // Text and antialiasing may move slightly between font builds, the layout may not.
        const double share = differingShare(shot, expected, 40);
        if (share > 0.01)
            shot.save(QDir::temp().filePath(QStringLiteral("pellimore-look-actual.png")));
        QVERIFY2(share <= 0.01, qPrintable(QStringLiteral("%1% of the pixels differ").arg(share * 100)));
    }

private:
    OpenStore store;
    SkrinView *view = nullptr;
    QAction *getInfo = nullptr;
    EditorOverlays *overlays = nullptr;
    Id skrin = 0;
};

QTEST_MAIN(TestEditorOverlays)
#include "tst_editoroverlays.moc"
