#include "capture.h"
#include "capturestore.h"
#include "database.h"
#include "dirtyskrins.h"
#include "enginestart.h"
#include "filesizelimit.h"
#include "mainwindow.h"
#include "mouse.h"
#include "pictures.h"
#include "rawdb.h"
#include "serveroptions.h"
#include "captureoverlay.h"
#include "customlabel.h"
#include "custombutton.h"
#include "skrintoolbar.h"
#include "editoroverlays.h"
#include "skrindone.h"
#include "skrin.h"
#include "skrinitem.h"
#include "skrinview.h"
#include "tavrinconnector.h"
#include "tempstore.h"
#include "zonescope.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <optional>


class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
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

    // However small or dense the screen (also run at twice the density), the
    // window opens on it whole.
    void opensWithinTheScreen()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect area = window.screen()->availableGeometry();
        QVERIFY2(area.contains(window.frameGeometry()),
                 qPrintable(QStringLiteral("%1 x %2 at %3, %4 on a screen of %5 x %6")
                                .arg(window.frameGeometry().width()).arg(window.frameGeometry().height())
                                .arg(window.x()).arg(window.y()).arg(area.width()).arg(area.height())));
        // Still a window to work in, not a sliver.
        QVERIFY(window.width() * 2 > area.width() && window.height() * 2 > area.height());
    }

    void captureBecomesScreenshot_data()
    {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QString>("storedExt");
        QTest::addColumn<QByteArray>("format");

        QTest::newRow("JPEG by default") << QString() << QStringLiteral(".jpg") << QByteArray("jpeg");
        QTest::newRow("PNG") << QStringLiteral(".PNG") << QStringLiteral(".png") << QByteArray("png");
        QTest::newRow("unknown extension") << QStringLiteral("../x.exe") << QStringLiteral(".jpg") << QByteArray("jpeg");
    }

    void captureBecomesScreenshot()
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
        ShooterOverlay *overlay = waitForCaptureOverlay();
        QVERIFY(overlay);
        QVERIFY(!window.isVisible()); // not in its own picture

        QTest::mousePress(overlay, Qt::LeftButton, {}, QPoint(50, 60));
        QTest::mouseMove(overlay, QPoint(150, 100));
        QTest::mouseRelease(overlay, Qt::LeftButton, {}, QPoint(249, 209));
        QVERIFY(window.isVisible());

        // The rows: one new screenshot with its picture as its one annotation.
        const QList<Id> after = screenshotRows();
        QCOMPARE(after.size(), before.size() + 1);
        const Id id = window.currentSkrinId();
        QVERIFY(after.contains(id) && !before.contains(id));
        const auto members = [](Id row, const QStringList &names) {
            QStringList values;
            for (const QString &name : names)
                values << getMember(row, name).toString();
            return values.join(QLatin1Char(' '));
        };
        QCOMPARE(members(id, {"title", "trashed", "published"}), QStringLiteral(" 0 1"));
        QVERIFY(getMember(id, "created").toDateTime().isValid());
        const QString handle = getMember(id, "handle").toString();
        QCOMPARE(handle.size(), 5);
        const QList<Id> children = childItems(id);
        QCOMPARE(children.size(), 1);
        QCOMPARE(itemType(children.first()), QStringLiteral("skrin_image"));
        QCOMPARE(members(children.first(), {"w", "h", "src_x", "src_y", "src_w", "src_h"}),
                 QStringLiteral("200 150 0 0 200 150"));
        const QString file = getMember(children.first(), "file").toString();
        QVERIFY(file.endsWith(storedExt));
        QCOMPARE(getMember(id, "file").toString(), file);

        // The link is on the clipboard, and the editor shows the new screenshot.
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("http://127.0.0.1/s/") + handle);
        QVERIFY(window.skrin());
        QCOMPARE(window.skrinView()->scene(), window.skrin());
        QCOMPARE(window.skrin()->tool(), int(Skrin::ToolNone));

        // The file arrives in the background, in the chosen format.
        QTRY_VERIFY(!Database::fileData(file).isEmpty());
        QCOMPARE(QImage::fromData(Database::fileData(file), format.constData()).size(), QSize(200, 150));

        setServerOption(QStringLiteral("ext"), QStringLiteral(".jpg"));
    }

    // The newest screenshot is the one that sorting by creation time puts
    // last, whatever form each time is stored in, however close the times
    // lie, in a zone whose clocks change: a local time in the hour that does
    // not exist, the latest of all, included.
    void newestWhateverFormTheTimesTake()
    {
        for (const Id id : screenshotRows())
            removeItemTree(id);
        const ZoneScope zone("America/St_Johns");
        QCOMPARE(newestScreenshot(), Id(0));
        const auto add = [](const QVariant &created, int trashed) {
            createItemWithMembers(QStringLiteral("skrin"), {{QStringLiteral("created"), created},
                                                            {QStringLiteral("trashed"), trashed}});
            const QList<Id> ordered = screenshotsByCreation();
            return ordered.value(ordered.size() - 1, 0);
        };
        QCOMPARE(newestScreenshot(), add(QStringLiteral("2024-03-01T12:00:00.000"), 0));
        QCOMPARE(newestScreenshot(), add(QStringLiteral("2024-03-10T02:30:00.000"), 0));
        QRandomGenerator random(20240310);
        const QDateTime change(QDate(2024, 3, 10), QTime(5, 30), Qt::UTC);
        for (int i = 0; i < 150; ++i) {
            // Most within hours of a moment that moves on past the change, so
            // that the newest changes often; the rest days to a year before.
            const qint64 seconds = random.bounded(4) == 0 ? -qint64(random.bounded(400.0 * 24 * 3600))
                                                          : i * 240 + qint64(random.bounded(6.0 * 3600)) - 6 * 3600;
            const QDateTime utc = change.addSecs(seconds).addMSecs(random.bounded(1000));
            const QDateTime offset = utc.toOffsetFromUtc(int(random.bounded(-24, 25)) * 1800);
            const QVariant forms[] = {
                utc.toLocalTime(), utc, offset, utc.toLocalTime().toString(Qt::ISODateWithMs),
                utc.toString(Qt::ISODateWithMs), offset.toString(Qt::ISODate),
                utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), QVariant(),
                QStringLiteral("2024-03-10T02:%1:00").arg(random.bounded(60), 2, 10, QLatin1Char('0')),
            };
            const QVariant &created = forms[random.bounded(int(std::size(forms)))];
            QCOMPARE(newestScreenshot(), add(created, random.bounded(5) == 0 ? 1 : 0));
        }
    }

    void browseAndDelete()
    {
        for (const Id id : screenshotRows())
            removeItemTree(id);
        const QDateTime base = QDateTime::currentDateTime();
        const Id oldest = addScreenshot(base.addSecs(-30), qRgb(255, 0, 0));
        const Id newest = addScreenshot(base.addSecs(-10), qRgb(0, 0, 255));
        const Id middle = addScreenshot(base.addSecs(-20), qRgb(0, 255, 0));
        const Id trashed = addScreenshot(base, qRgb(0, 0, 0));
        setMember(trashed, QStringLiteral("trashed"), 1);
        // Equal times: the one made later is the newer.
        const Id tied = addScreenshot(base.addSecs(-10), qRgb(0, 0, 255));
        QCOMPARE(newestScreenshot(), tied);
        QCOMPARE(screenshotsByCreation(), (QList<Id>{oldest, middle, newest, tied}));
        removeItemTree(tied);

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
        // The walk and the question come through queued calls: let them run.
        const auto settle = [] {
            for (int round = 0; round < 3; ++round)
                QCoreApplication::processEvents();
        };
        QTest::keyClick(view, Qt::Key_Left);
        settle();
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
        // (A question wrongly asked would be answered Yes.)
        window.setSkrinTool(Skrin::ToolPen);
        answerNextQuestion(QMessageBox::Yes);
        QTest::keyClick(view, Qt::Key_Delete);
        settle();
        QVERIFY(screenshotRows().contains(middle));
        delete qApp->findChild<QTimer *>(QStringLiteral("answer"));
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

    void actionsReachTheScene()
    {
        QVERIFY(!MainWindow::actionByName(QStringLiteral("ellipse")));
        MainWindow window;
        // Without a screenshot every editor operation does nothing.
        window.setSkrinTool(Skrin::ToolPen);
        window.toggleEditMode();
        window.applyPenSize(3.0);
        MainWindow::actionByName(QStringLiteral("line"))->trigger();

        window.openSkrin(addScreenshot(QDateTime::currentDateTime(), qRgb(9, 9, 9)));
        MainWindow::actionByName(QStringLiteral("line"))->trigger();
        QCOMPARE(window.skrin()->tool(), int(Skrin::ToolLine));
        QVERIFY(!MainWindow::actionByName(QStringLiteral("quit")));
        window.applyFontSize(17.9);
        QCOMPARE(window.skrin()->currentToolOptions().font.pointSize(), 17);
        window.toggleEditMode();
        QCOMPARE(window.skrin()->tool(), int(Skrin::ToolSelect));
        window.toggleEditMode();
        QCOMPARE(window.skrin()->tool(), int(Skrin::ToolNone));
        QCOMPARE(MainWindow::instance(), &window);
    }

    // Without a share address (no options from the service yet) nothing goes
    // on the clipboard, and the title prompt does not say that it did.
    void promptTellsOfTheCopiedUrlOnlyWhenCopied()
    {
        MainWindow window;
        SkrinDone *prompt = window.editorOverlays()->prompt();
        for (const QString &address : {QString(), QStringLiteral("http://127.0.0.1/s/%handle%")}) {
            setServerOption(QStringLiteral("handle_url"), address);
            QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
            window.onShoot(QPixmap::fromImage(filledImage(QSize(30, 20), Qt::darkCyan)));
            QVERIFY(prompt->isVisibleTo(&window));
            const bool copied = QGuiApplication::clipboard()->text() != QLatin1String("kept");
            QCOMPARE(copied, !address.isEmpty());
            QCOMPARE(prompt->findChildren<CustomLabel *>().last()->isVisibleTo(prompt), copied);
            prompt->save();
        }
    }

    // A title typed but not yet confirmed goes with the screenshot the
    // window leaves: for the next capture, or at the quit.
    void unconfirmedTitleIsKept()
    {
        MainWindow window;
        window.show();
        SkrinDone *prompt = window.editorOverlays()->prompt();
        auto *title = prompt->findChild<QLineEdit *>();
        QVERIFY(title);
        window.onShoot(QPixmap::fromImage(filledImage(QSize(30, 20), Qt::darkCyan)));
        const Id first = window.currentSkrinId();
        QTest::keyClicks(title, QStringLiteral("Draft"));
        window.onShoot(QPixmap::fromImage(filledImage(QSize(30, 20), Qt::darkRed)));
        const Id second = window.currentSkrinId();
        QCOMPARE(getMember(first, "title").toString(), QStringLiteral("Draft"));
        QVERIFY(prompt->isVisibleTo(&window));
        QCOMPARE(title->text(), QString());
        QTest::keyClicks(title, QStringLiteral("Second"));
        window.openSkrin(0);
        QCOMPARE(getMember(second, "title").toString(), QStringLiteral("Second"));
    }

    // Leaving a screenshot renders it with the change drawn last; one left
    // unchanged since is not written again.
    void leavingRendersTheLastChange()
    {
        const Id first = addScreenshot(QDateTime::currentDateTime(), qRgb(200, 0, 0));
        const Id second = addScreenshot(QDateTime::currentDateTime(), qRgb(0, 200, 0));
        const QVariant captured = getMember(first, "file");
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.openSkrin(first);
        window.setSkrinTool(Skrin::ToolRectangle);
        leftDrag(window.skrinView(), QPointF(5, 5), QPointF(30, 25));
        window.openSkrin(second);
        QThreadPool::globalInstance()->waitForDone();
        QVERIFY(!isSkrinDirty(first) && childItems(first).size() == 2);
        const QVariantMap rendered = readItem(first);
        QVERIFY(rendered.value("file") != captured);
        window.setSkrinTool(Skrin::ToolNone);
        window.openSkrin(first);
        window.openSkrin(second);
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(readItem(first), rendered);
    }

    // The Edit menu's paste actions, through the real window and view: the
    // Paste key pastes the clipboard's picture, but into a text or note
    // being edited it pastes text.
    void pasteActions()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.openSkrin(0);
        QStringList texts;
        for (QAction *action : window.findChild<QMenu *>(QStringLiteral("menuEdit"))->actions().mid(0, 3)) {
            QVERIFY(!action->isEnabled());
            texts << action->text();
        }
        QCOMPARE(texts, (QStringList{"&Paste", "Paste f&ile...", "Paste a &new capture"}));
        const Id id = addScreenshot(QDateTime::currentDateTime(), qRgb(4, 5, 6));
        window.openSkrin(id);
        SkrinView *view = window.skrinView();
        QGuiApplication::clipboard()->setImage(filledImage(QSize(24, 12), Qt::red));
        QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(childItems(id).size(), 2);
        QVERIFY(window.skrin()->selectedItem());
        QCOMPARE(getMember(window.skrin()->selectedItem()->id(), "w").toInt(), 24);
        QCOMPARE(window.skrin()->tool(), int(Skrin::ToolSelect));

        // No picture on the clipboard: the user is told so, nothing is made.
        QGuiApplication::clipboard()->setText(QStringLiteral("words"));
        QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(childItems(id).size(), 2);
        const QList<QMessageBox *> told = view->findChildren<QMessageBox *>();
        QCOMPARE(told.size(), 1);
        QCOMPARE(told.first()->text(), QStringLiteral("The clipboard holds no picture."));
        delete told.first();

        for (const int tool : {Skrin::ToolText, Skrin::ToolPin}) {
            window.setSkrinTool(tool);
            sendMouse(view, QEvent::MouseButtonPress, QPointF(8, 8), Qt::LeftButton, Qt::LeftButton);
            sendMouse(view, QEvent::MouseButtonRelease, QPointF(8, 8), Qt::LeftButton, Qt::NoButton);
            auto *both = new QMimeData;
            both->setText(QStringLiteral("pasted words"));
            both->setImageData(filledImage(QSize(24, 12), Qt::red));
            QGuiApplication::clipboard()->setMimeData(both);
            QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
            auto *editing = dynamic_cast<QGraphicsTextItem *>(window.skrin()->focusItem());
            QVERIFY(editing);
            QCOMPARE(editing->toPlainText(), QStringLiteral("pasted words"));
        }
        QCOMPARE(childItems(id).size(), 4); // no picture pasted with the text
    }

    // Every menu of the window, the tool bar's among them, can be worked by
    // letters: no two entries of one menu share their letter.
    void menuLettersAreUnique()
    {
        MainWindow window;
        QList<std::pair<QString, QList<QAction *>>> menus{{QStringLiteral("menu bar"), window.menuBar()->actions()}};
        for (const QMenu *menu : window.findChildren<QMenu *>())
            menus.append({menu->title(), menu->actions()});
        for (CustomButton *button : window.editorOverlays()->toolBar()->findChildren<CustomButton *>()) {
            if (button->menu())
                menus.append({button->toolTip(), button->menu()->actions()});
        }
        QVERIFY(menus.size() >= 9);
        for (const auto &[title, actions] : menus) {
            QMap<QKeySequence, QString> taken;
            for (const QAction *action : actions) {
                const QKeySequence letter = QKeySequence::mnemonic(action->text());
                if (letter.isEmpty())
                    continue;
                QVERIFY2(!taken.contains(letter), qPrintable(QStringLiteral("%1: \"%2\" and \"%3\"")
                                                                 .arg(title, taken.value(letter), action->text())));
                taken.insert(letter, action->text());
            }
        }
    }

    // While writes fail the window says so, and stops once one succeeds.
    void writeFailureIsShown()
    {
        MainWindow window;
        window.show();
        auto *bar = window.findChild<QLabel *>(QStringLiteral("writeFailureBar"));
        QVERIFY(bar && bar->isHidden());
        // A plain file where the "files" folder belongs: no file can be written.
        const QString files = store.path() + QStringLiteral("/files");
        QVERIFY(QDir().rename(files, files + QStringLiteral(".away")));
        QFile blocker(files);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Database::storeNewFile("bytes");
        QVERIFY(!Database::flush());
        QCoreApplication::sendPostedEvents();
        QVERIFY(bar->isVisible());
        QVERIFY2(bar->text().contains(QDir::toNativeSeparators(store.path())), qPrintable(bar->text()));
        QVERIFY(blocker.remove() && QDir().rename(files + QStringLiteral(".away"), files));
        QVERIFY(Database::flush());
        QCoreApplication::sendPostedEvents();
        QVERIFY(bar->isHidden());
    }

    void captureWaitsForItsPicture_data()
    {
        QTest::addColumn<bool>("limited");
        QTest::newRow("while it is encoded") << false;
        QTest::newRow("past the file-size limit") << true;
    }

    // A capture's rows reach the file only with its picture: not while the
    // picture is being encoded, and not while its file cannot be written
    // (past a file-size limit, as on a full disk), which the window tells.
    // However the program ends meanwhile, no row in the file names a
    // missing picture.
    void captureWaitsForItsPicture()
    {
        QFETCH(bool, limited);
        MainWindow window;
        window.show();
        auto *bar = window.findChild<QLabel *>(QStringLiteral("writeFailureBar"));
        QVERIFY(Database::flush());
        const QString database = store.path() + QStringLiteral("/database.db");
        const auto committed = [&database](const QString &file) {
            return RawDb(database).text(QStringLiteral("SELECT (SELECT count(*) FROM skrin WHERE file = ?), "
                                                       "(SELECT count(*) FROM skrin_image WHERE file = ?)"),
                                        {file, file});
        };
        QString file;
        {
            const PoolHold encoding;
            const Id id = storeCapture(noisyImage(QSize(400, 300)), QStringLiteral(".png"), 90);
            file = getMember(id, QStringLiteral("file")).toString();
            QVERIFY(!Database::flush());
        }
        QCoreApplication::sendPostedEvents();
        QVERIFY(bar->isHidden()); // nothing failed
        QCOMPARE(committed(file), QStringLiteral("0|0"));
        {
            std::optional<FileSizeLimit> full;
            if (limited)
                full.emplace(QFileInfo(database).size() + 64 * 1024);
            QThreadPool::globalInstance()->waitForDone();
            QCOMPARE(Database::flush(), !limited);
            QCoreApplication::sendPostedEvents();
            QCOMPARE(bar->isVisible(), limited);
            QCOMPARE(committed(file), limited ? QStringLiteral("0|0") : QStringLiteral("1|1"));
        }
        QVERIFY(Database::flush());
        QCOMPARE(committed(file), QStringLiteral("1|1"));
        QVERIFY(QFileInfo(store.path() + QStringLiteral("/files/") + file).size() > 0);
    }

    void quitWritesTheStore()
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

private:
    // Keeps every thread of the pool busy while it lives: jobs started
    // meanwhile wait.
    class PoolHold
    {
    public:
        PoolHold()
        {
            for (int i = 0; i < threads; ++i)
                QThreadPool::globalInstance()->start([this] {
                    started.release();
                    released.acquire();
                });
            started.acquire(threads);
        }
        ~PoolHold() { released.release(threads); }
        Q_DISABLE_COPY(PoolHold)

    private:
        const int threads = QThreadPool::globalInstance()->maxThreadCount();
        QSemaphore started;
        QSemaphore released;
    };

    static Id addScreenshot(const QDateTime &created, QRgb colour);
    static void answerNextQuestion(QMessageBox::StandardButton button);
    static QList<Id> screenshotRows();

    TempStore store;
};

Id TestMainWindow::addScreenshot(const QDateTime &created, QRgb colour)
{
    const Id id = storeCapture(filledImage(QSize(40, 30), colour), QStringLiteral(".png"), 90);
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

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
