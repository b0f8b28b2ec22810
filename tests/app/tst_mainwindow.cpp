#include "capture.h"
#include "capturestore.h"
#include "database.h"
#include "enginestart.h"
#include "mainwindow.h"
#include "serveroptions.h"
#include "captureoverlay.h"
#include "skrin.h"
#include "skrinview.h"
#include "tavrinconnector.h"
#include "tempstore.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QPainter>
#include <QTest>
#include <QTimer>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void captureBecomesScreenshot_data();
    void captureBecomesScreenshot();
    void browseAndDelete();
    void actionsReachTheScene();
    void quitWritesTheStore();

private:
    static Id addScreenshot(const QDateTime &created, QRgb colour);
    static void answerNextQuestion(QMessageBox::StandardButton button);
    static QList<Id> screenshotRows();

    TempStore store;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(store.isValid());
    QString error;
    QVERIFY2(engineStartInFolder(store.path(), &error), qPrintable(error));
    // Nothing leaves the machine: commits are asked for, never sent.
    TavrinConnector::stopSync();
    setServerOption(QStringLiteral("handle_url"), QStringLiteral("http://127.0.0.1/s/%handle%"));
    // The program's window icon comes with the application library.
    QVERIFY(!QImage(QStringLiteral(":/rc/icon.png")).isNull());
}


Id TestMainWindow::addScreenshot(const QDateTime &created, QRgb colour)
{
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(colour);
    const Id id = storeCapture(picture, QStringLiteral(".png"), 90);
    setMember(id, QStringLiteral("created"), created);
    return id;
}

void TestMainWindow::answerNextQuestion(QMessageBox::StandardButton button)
{
    // The question comes once the queued key notice arrives.
    auto *poll = new QTimer(QCoreApplication::instance());
    poll->setObjectName(QStringLiteral("answer"));
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, button] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            poll->deleteLater();
            box->button(button)->click();
        }
    });
    poll->start();
}

QList<Id> TestMainWindow::screenshotRows()
{
    return findItems({{QStringLiteral("type"), QStringLiteral("skrin")}});
}

void TestMainWindow::captureBecomesScreenshot_data()
{
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("storedExt");
    QTest::addColumn<QByteArray>("format");

    QTest::newRow("JPEG by default") << QString() << QStringLiteral(".jpg") << QByteArray("jpeg");
    QTest::newRow("PNG") << QStringLiteral(".PNG") << QStringLiteral(".png") << QByteArray("png");
    QTest::newRow("unknown extension") << QStringLiteral("../x.exe") << QStringLiteral(".jpg") << QByteArray("jpeg");
}

void TestMainWindow::captureBecomesScreenshot()
{
    QFETCH(QString, ext);
    QFETCH(QString, storedExt);
    QFETCH(QByteArray, format);
    if (!ext.isEmpty())
        setServerOption(QStringLiteral("ext"), ext);
    const QList<Id> before = screenshotRows();

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(isCaptureRunning());
    ShooterOverlay *overlay = waitForCaptureOverlay();
    QVERIFY(overlay);
    QVERIFY(!window.isVisible()); // not in its own picture

    QTest::mousePress(overlay, Qt::LeftButton, {}, QPoint(50, 60));
    QTest::mouseMove(overlay, QPoint(150, 100));
    QTest::mouseRelease(overlay, Qt::LeftButton, {}, QPoint(250, 210));
    QVERIFY(window.isVisible());

    // The rows: one new screenshot with its picture as its one annotation.
    const QList<Id> after = screenshotRows();
    QCOMPARE(after.size(), before.size() + 1);
    const Id id = window.currentSkrinId();
    QVERIFY(after.contains(id) && !before.contains(id));
    const QVariantMap skrin = readItem(id);
    QCOMPARE(skrin.value("title").toString(), QString());
    QCOMPARE(skrin.value("trashed").toInt(), 0);
    QCOMPARE(skrin.value("published").toInt(), 1);
    QVERIFY(skrin.value("created").toDateTime().isValid());
    const QString handle = skrin.value("handle").toString();
    QCOMPARE(handle.size(), 5);
    const QList<Id> children = childItems(id);
    QCOMPARE(children.size(), 1);
    const QVariantMap image = readItem(children.first());
    QCOMPARE(image.value("type").toString(), QStringLiteral("skrin_image"));
    const QString file = image.value("file").toString();
    QVERIFY(file.endsWith(storedExt));
    QCOMPARE(skrin.value("file").toString(), file);
    QCOMPARE(QSizeF(image.value("w").toDouble(), image.value("h").toDouble()), QSizeF(200, 150));
    QCOMPARE(QRectF(image.value("src_x").toDouble(), image.value("src_y").toDouble(),
                    image.value("src_w").toDouble(), image.value("src_h").toDouble()),
             QRectF(0, 0, 200, 150));

    // The link is on the clipboard, and the editor shows the new screenshot.
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("http://127.0.0.1/s/") + handle);
    QVERIFY(window.skrin());
    QCOMPARE(window.skrinView()->scene(), window.skrin());
    QCOMPARE(window.skrin()->tool(), int(Skrin::ToolNone));

    // The file arrives in the background, in the chosen format.
    QTRY_VERIFY(!Database::fileData(file).isEmpty());
    const QByteArray bytes = Database::fileData(file);
    const QImage stored = QImage::fromData(bytes, format.constData());
    QCOMPARE(stored.size(), QSize(200, 150));

    // In view mode the scene shows the captured picture in its place.
    QImage shown(200, 150, QImage::Format_RGB32);
    shown.fill(Qt::white);
    {
        QPainter painter(&shown);
        window.skrin()->render(&painter, QRectF(0, 0, 200, 150), QRectF(0, 0, 200, 150));
    }
    const QColor expected = stored.pixelColor(100, 75);
    const QColor seen = shown.pixelColor(100, 75);
    QVERIFY2(qAbs(seen.red() - expected.red()) < 8 && qAbs(seen.blue() - expected.blue()) < 8,
             qPrintable(seen.name() + QLatin1String(" vs ") + expected.name()));
    setServerOption(QStringLiteral("ext"), QStringLiteral(".jpg"));
}

void TestMainWindow::browseAndDelete()
{
    for (const Id id : screenshotRows())
        removeItemTree(id);
    const QDateTime base = QDateTime::currentDateTime();
    const Id oldest = addScreenshot(base.addSecs(-30), qRgb(255, 0, 0));
    const Id newest = addScreenshot(base.addSecs(-10), qRgb(0, 0, 255));
    const Id middle = addScreenshot(base.addSecs(-20), qRgb(0, 255, 0));
    const Id trashed = addScreenshot(base, qRgb(0, 0, 0));
    setMember(trashed, QStringLiteral("trashed"), 1);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(window.currentSkrinId(), newest);
    SkrinView *view = window.skrinView();

    // Left and Right walk by creation time and stop at the ends.
    QTest::keyClick(view, Qt::Key_Left);
    QTRY_COMPARE(window.currentSkrinId(), middle);
    QTest::keyClick(view, Qt::Key_Left);
    QTRY_COMPARE(window.currentSkrinId(), oldest);
    QTest::keyClick(view, Qt::Key_Left);
    QTest::qWait(20);
    QCOMPARE(window.currentSkrinId(), oldest);
    QTest::keyClick(view, Qt::Key_Right);
    QTRY_COMPARE(window.currentSkrinId(), middle);

    // Delete asks first; No keeps the screenshot.
    answerNextQuestion(QMessageBox::No);
    QTest::keyClick(view, Qt::Key_Delete);
    QTRY_VERIFY(!qApp->findChild<QTimer *>(QStringLiteral("answer")));
    QCOMPARE(window.currentSkrinId(), middle);
    QVERIFY(screenshotRows().contains(middle));

    // With a drawing tool the key is the scene's, not the screenshot's.
    window.setSkrinTool(Skrin::ToolPen);
    QTest::keyClick(view, Qt::Key_Delete);
    QTest::qWait(20);
    QVERIFY(screenshotRows().contains(middle));
    window.setSkrinTool(Skrin::ToolNone);

    // Yes removes its rows and opens the older neighbour, else the newer one.
    const QList<Id> middleRows = childItems(middle);
    answerNextQuestion(QMessageBox::Yes);
    QTest::keyClick(view, Qt::Key_Backspace);
    QTRY_COMPARE(window.currentSkrinId(), oldest);
    QVERIFY(!screenshotRows().contains(middle));
    QVERIFY(itemType(middleRows.first()).isEmpty());
    // Removed elsewhere while open: the older neighbour, else the oldest left.
    removeItemTree(oldest);
    QTRY_COMPARE(window.currentSkrinId(), newest);
    window.deleteCurrentSkrin();
    QCOMPARE(window.currentSkrinId(), Id(0));
    QVERIFY(!window.skrinView()->scene());
    QVERIFY(!window.findChild<QAction *>(QStringLiteral("actionDeleteFile"))->isEnabled());
    QCOMPARE(screenshotRows(), QList<Id>{trashed});
    removeItemTree(trashed);
}

void TestMainWindow::actionsReachTheScene()
{
    QVERIFY(!MainWindow::actionByName(QStringLiteral("ellipse")));
    MainWindow window;
    // Without a screenshot every editor operation does nothing.
    window.setSkrinTool(Skrin::ToolPen);
    window.toggleEditMode();
    window.applyPenSize(3.0);
    MainWindow::actionByName(QStringLiteral("line"))->trigger();

    window.openSkrin(addScreenshot(QDateTime::currentDateTime(), qRgb(9, 9, 9)));
    const QList<std::pair<QString, int>> shapes{{QStringLiteral("line"), Skrin::ToolLine},
                                                {QStringLiteral("ellipse"), Skrin::ToolEllipse},
                                                {QStringLiteral("ellipseFrame"), Skrin::ToolEllipseFrame},
                                                {QStringLiteral("rectangle"), Skrin::ToolRectangle},
                                                {QStringLiteral("rectangleFrame"), Skrin::ToolRectangleFrame}};
    for (const auto &[name, tool] : shapes) {
        MainWindow::actionByName(name)->trigger();
        QCOMPARE(window.skrin()->tool(), tool);
    }
    QVERIFY(!MainWindow::actionByName(QStringLiteral("quit")));

    window.applyPenSize(7.5);
    window.applyColor(QColor(Qt::magenta));
    window.applyFontSize(17.9);
    const SkrinToolOptions &options = window.skrin()->currentToolOptions();
    QCOMPARE(options.penSize, 7.5);
    QCOMPARE(options.color, QColor(Qt::magenta));
    QCOMPARE(options.font.pointSize(), 17);

    window.toggleEditMode();
    QCOMPARE(window.skrin()->tool(), int(Skrin::ToolSelect));
    window.toggleEditMode();
    QCOMPARE(window.skrin()->tool(), int(Skrin::ToolNone));
    QCOMPARE(MainWindow::instance(), &window);
}

void TestMainWindow::quitWritesTheStore()
{
    const Id id = addScreenshot(QDateTime::currentDateTime(), qRgb(1, 2, 3));
    const QString file = getMember(id, QStringLiteral("file")).toString();
    {
        MainWindow window;
        window.show();
        QCOMPARE(window.currentSkrinId(), id);
        QAction *quit = window.findChild<QAction *>(QStringLiteral("actionQuit"));
        QCOMPARE(quit->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
        quit->trigger();
        QVERIFY(!window.isVisible());
        QVERIFY(!Database::isOpen());
    }
    QVERIFY(QFileInfo::exists(store.path() + QStringLiteral("/files/") + file));

    // The next start finds the screenshot and its picture.
    QString error;
    QVERIFY2(engineStartInFolder(store.path(), &error), qPrintable(error));
    TavrinConnector::stopSync();
    QCOMPARE(newestScreenshot(), id);
    QCOMPARE(QImage::fromData(Database::fileData(file)).pixel(0, 0), qRgb(1, 2, 3));
    shutdownBackground();
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
