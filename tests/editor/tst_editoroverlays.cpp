// The window's side of the panels over a real editor view and scene: which
// tool bar buttons each tool shows and marks, where the panels stand as the
// view changes, and how the prompt, info bar and notice follow the open
// screenshot.

#include "database.h"
#include "dirtyskrins.h"
#include "editoroverlays.h"
#include "infobar.h"
#include "infotoobig.h"
#include "overlayfixture.h"
#include "skrin.h"
#include "skrindone.h"
#include "skrintoolbar.h"
#include "skrinview.h"
#include "tempstore.h"

#include <QLineEdit>
#include <QSignalSpy>

class TestEditorOverlays : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { Database::close(); }
    void init();
    void cleanup();
    void toolBarFollowsTheTool_data();
    void toolBarFollowsTheTool();
    void panelsStayPlacedAndFollowTheView();
    void promptAndInfoBarFollowTheTitle();
    void noticeShowsForTooBigFiles();

private:
    TempStore store;
    SkrinView *view = nullptr;
    QAction *getInfo = nullptr;
    EditorOverlays *overlays = nullptr;
    Id skrin = 0;
};

void TestEditorOverlays::initTestCase()
{
    registerEngineTypes();
    QString error;
    QVERIFY2(Database::open(store.path(), &error), qPrintable(error));
    bindTables();
}

void TestEditorOverlays::init()
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

void TestEditorOverlays::cleanup()
{
    delete view;
}

void TestEditorOverlays::toolBarFollowsTheTool_data()
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

void TestEditorOverlays::toolBarFollowsTheTool()
{
    QFETCH(int, tool);
    QFETCH(QString, options);
    QFETCH(QString, marked);
    Skrin scene(skrin);
    view->setScene(&scene);
    scene.toolOptionsOf(tool).penSize = 7.0;
    scene.setTool(tool);
    overlays->toolChanged(tool);
    overlays->updateToolBar(&scene);
    SkrinToolBar *bar = overlays->toolBar();
    QCOMPARE(bar->isVisible(), tool != 0 || bar->state() != CustomWidget::Hidden);
    QStringList shown;
    for (const char *tip : {"Color", "Pen size", "Crop", "Font"})
        if (!buttonWithTip(*bar, QString::fromLatin1(tip))->isHidden())
            shown << QString::fromLatin1(tip);
    QCOMPARE(shown.join(QLatin1Char(' ')), options);
    QStringList active;
    for (CustomButton *button : bar->findChildren<CustomButton *>())
        if (button->isActive())
            active << button->toolTip();
    QCOMPARE(active.join(QLatin1Char(' ')), marked);
    view->setScene(nullptr);
}

void TestEditorOverlays::panelsStayPlacedAndFollowTheView()
{
    QCOMPARE(overlays->infoBar()->pos(), QPoint(20, 20));
    QVERIFY(overlays->infoBar()->isVisible());
    overlays->toolChanged(5);
    SkrinToolBar *bar = overlays->toolBar();
    QVERIFY(bar->isVisible());
    QVERIFY(overlays->infoBar()->isHidden()); // not while drawing
    view->resize(600, 400);
    QCOMPARE(bar->geometry().bottom(), view->height() - 1);
    QVERIFY(qAbs(bar->geometry().center().x() - 300) <= 1);

    // In view mode the pointer over the view decides; leaving it fades them.
    overlays->toolChanged(0);
    QCursor::setPos(view->mapToGlobal(QPoint(300, 200)));
    emit view->mouseMoved(QPoint(300, 200));
    QCOMPARE(bar->state(), int(CustomWidget::Dimmed));
    QCOMPARE(overlays->infoBar()->state(), int(CustomWidget::Dimmed));
    QCursor::setPos(view->mapToGlobal(QPoint(-50, -50)));
    emit view->leaveEventSignal();
    QCOMPARE(bar->state(), int(CustomWidget::Hidden));

    QSignalSpy info(getInfo, &QAction::triggered);
    overlays->infoBar()->show();
    QTest::mousePress(overlays->infoBar(), Qt::LeftButton);
    QCOMPARE(info.count(), 1);
}

void TestEditorOverlays::promptAndInfoBarFollowTheTitle()
{
    SkrinDone *prompt = overlays->prompt();
    overlays->askTitle(skrin);
    QVERIFY(prompt->isVisible());
    QVERIFY(qAbs(prompt->geometry().center().x() - view->width() / 2) <= 1);
    // A title written elsewhere hides the prompt unsaved and shows on the bar.
    prompt->findChild<QLineEdit *>()->setText(QStringLiteral("typed"));
    setMember(skrin, QStringLiteral("title"), QStringLiteral("From elsewhere"));
    QVERIFY(prompt->isHidden());
    QCOMPARE(overlays->infoBar()->shownTitle(), QStringLiteral("From elsewhere"));

    // A press in the view, or leaving view mode, confirms what was typed.
    overlays->askTitle(skrin);
    prompt->findChild<QLineEdit *>()->setText(QStringLiteral("Pressed"));
    emit view->mousePressed(Qt::RightButton, QPoint(5, 5));
    QCOMPARE(getMember(skrin, QStringLiteral("title")).toString(), QStringLiteral("Pressed"));
    overlays->askTitle(skrin);
    prompt->findChild<QLineEdit *>()->setText(QStringLiteral("Drawn"));
    overlays->toolChanged(3);
    QCOMPARE(getMember(skrin, QStringLiteral("title")).toString(), QStringLiteral("Drawn"));
    QCOMPARE(overlays->infoBar()->shownTitle(), QStringLiteral("Drawn"));

    // Not asked when the user turned the question off.
    Database::insertUnique(Database::tableId(QStringLiteral("server_option")),
                           QVariantMap{{QStringLiteral("name"), QStringLiteral("capture_title_ask")},
                                       {QStringLiteral("value"), QStringLiteral("0")}});
    overlays->askTitle(skrin);
    QVERIFY(prompt->isHidden());
}

void TestEditorOverlays::noticeShowsForTooBigFiles()
{
    InfoTooBig *notice = overlays->notice();
    QVERIFY(notice->isHidden());
    const Id picture = createItem(QStringLiteral("skrin_image"));
    setMember(picture, QStringLiteral("parent"), skrin);
    Database::insertUnique(Database::tableId(QStringLiteral("too_big_files")),
                           QVariantMap{{QStringLiteral("id"), picture}, {QStringLiteral("file"), QStringLiteral("big.png")}});
    overlays->checkTooBig();
    QVERIFY(notice->isVisible());
    QCOMPARE(notice->geometry().right(), view->width() - 21 - 1);
    view->resize(700, 400);
    QCOMPARE(notice->geometry().right(), 700 - 21 - 1);
    overlays->showSkrin(0);
    QVERIFY(notice->isHidden());
}

QTEST_MAIN(TestEditorOverlays)
#include "tst_editoroverlays.moc"
