// The signals that ask a program to end reach the event loop as requests,
// and the process lives on to quit its own way: as the window's Quit does.

#include "capturestore.h"
#include "database.h"
#include "enginestart.h"
#include "mainwindow.h"
#include "pictures.h"
#include "quitrequests.h"
#include "rawdb.h"
#include "tavrinconnector.h"
#include "tempstore.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <csignal>

class TestQuitRequests : public QObject
{
    Q_OBJECT

private slots:
    void signalsBecomeRequests_data()
    {
        QTest::addColumn<int>("number");
        QTest::newRow("TERM") << int(SIGTERM);
        QTest::newRow("HUP") << int(SIGHUP);
        QTest::newRow("INT") << int(SIGINT);
    }

    void signalsBecomeRequests()
    {
        QFETCH(int, number);
        QuitRequests requests;
        QVERIFY(requests.isListening());
        QSignalSpy spy(&requests, &QuitRequests::requested);
        QCOMPARE(::raise(number), 0);
        QCOMPARE(::raise(number), 0);
        QTRY_COMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toInt(), number);
    }

    void earlierHandlingStays()
    {
        // A hang-up ignored by whoever started the program (nohup) stays
        // ignored; a second listener hears nothing; and once the listener
        // goes, the signals have their earlier handling again.
        struct sigaction term = {};
        QCOMPARE(::sigaction(SIGTERM, nullptr, &term), 0);
        std::signal(SIGHUP, SIG_IGN);
        {
            QuitRequests requests;
            QTest::ignoreMessage(QtWarningMsg, "quit requests: another listener hears them already");
            QuitRequests second;
            QVERIFY(requests.isListening() && !second.isListening());
            QSignalSpy spy(&requests, &QuitRequests::requested);
            QCOMPARE(::raise(SIGHUP), 0);
            QCOMPARE(::raise(SIGTERM), 0);
            QTRY_COMPARE(spy.count(), 1);
            QCOMPARE(spy.at(0).at(0).toInt(), int(SIGTERM));
        }
        struct sigaction now = {};
        QCOMPARE(::sigaction(SIGTERM, nullptr, &now), 0);
        QVERIFY(now.sa_handler == term.sa_handler);
        QCOMPARE(::sigaction(SIGHUP, nullptr, &now), 0);
        QVERIFY(now.sa_handler == SIG_IGN);
        std::signal(SIGHUP, SIG_DFL);

        QuitRequests again;
        QVERIFY(again.isListening());
        QSignalSpy spy(&again, &QuitRequests::requested);
        QCOMPARE(::raise(SIGINT), 0);
        QTRY_COMPARE(spy.count(), 1);
    }

    // Held for the process, as the program does first of all, the signals
    // never end it: not before the first listener, and not after the last
    // (a second signal while the program quits). A request that came while
    // none listened reaches the next, for code that runs before the event
    // loop does too.
    void heldForTheProcess()
    {
        QVERIFY(QuitRequests::holdForProcess());
        QCOMPARE(::raise(SIGTERM), 0);
        {
            QuitRequests requests;
            QSignalSpy spy(&requests, &QuitRequests::requested);
            QTRY_COMPARE(spy.count(), 1);
        }
        QCOMPARE(::raise(SIGHUP), 0);
        QCOMPARE(::raise(SIGINT), 0);
        QuitRequests next;
        QSignalSpy spy(&next, &QuitRequests::requested);
        next.deliverPending();
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toInt(), int(SIGHUP));
        QCOMPARE(spy.at(1).at(0).toInt(), int(SIGINT));
    }

    // Last: the quit ends every event loop of this process for good.
    void windowQuitsOnSignal()
    {
        TempStore store;
        QString error;
        QVERIFY2(engineStartInFolder(store.path(), &error), qPrintable(error));
        TavrinConnector::stopSync();
        const Id id = storeCapture(filledImage(QSize(40, 30), Qt::red), QStringLiteral(".png"), 90);
        const QString title = QStringLiteral("Quarterly figures");

        // As the program has it. The signal comes while "Paste file..." is
        // open: the scene that opened the dialog runs on after it, so the
        // window closes only once the dialog is gone.
        QuitRequests requests;
        MainWindow window;
        connect(&requests, &QuitRequests::requested, &window, &MainWindow::quitOnRequest);
        window.show();
        QCOMPARE(window.currentSkrinId(), id);
        setMember(id, QStringLiteral("title"), title);
        auto *poll = new QTimer(&window);
        poll->setInterval(5);
        connect(poll, &QTimer::timeout, poll, [poll] {
            if (qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                poll->stop();
                ::raise(SIGTERM);
            }
        });
        poll->start();
        QAction *pasteFile = window.findChild<QAction *>(QStringLiteral("actionPasteFile"));
        QVERIFY(pasteFile);
        QTimer::singleShot(0, pasteFile, &QAction::trigger);
        QEventLoop programLoop;
        QCOMPARE(programLoop.exec(), 0);

        QVERIFY(!window.isVisible());
        QVERIFY(!Database::isOpen());
        QVERIFY(!QFileInfo::exists(QDir(store.path()).filePath(QStringLiteral("database.db.lock"))));
        RawDb db(QDir(store.path()).filePath(QStringLiteral("database.db")));
        QCOMPARE(db.text(QStringLiteral("SELECT title FROM skrin")), title);
    }
};

QTEST_MAIN(TestQuitRequests)
#include "tst_quitrequests.moc"
