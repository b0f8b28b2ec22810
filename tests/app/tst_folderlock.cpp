// The program's start on a data folder whose lock a program on another
// computer holds: the user is asked, with the lock file named, and the
// folder opens only when they choose to open it anyway. And a start on a
// damaged store that the check finds only once the window is shown.

#include "database.h"
#include "datafolder.h"
#include "engine.h"
#include "mainwindow.h"
#include "rawdb.h"
#include "tempstore.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

namespace {

// Answers the next message box with the button whose text is `button`,
// once it is shown; `shown` receives its text.
void answerNextBox(const QString &button, QString *shown, int tries = 200)
{
    QTimer::singleShot(10, qApp, [=] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            if (tries > 0)
                answerNextBox(button, shown, tries - 1);
            return;
        }
        *shown = box->text() + '\n' + box->informativeText();
        for (QAbstractButton *candidate : box->buttons()) {
            if (candidate->text().remove('&') == button)
                candidate->click();
        }
    });
}

} // namespace

class TestFolderLock : public QObject
{
    Q_OBJECT
    TempStore store;

    QString lockFile() const { return store.path() + QStringLiteral("/database.db.lock"); }
    bool writeForeignLock()
    {
        QFile file(lockFile());
        return file.open(QIODevice::WriteOnly) && file.write("4242\npellimore\nelsewhere\nanother-machine\n") > 0;
    }

private slots:
    void cleanupTestCase() { shutdownBackground(); }

    // The question names the computer and the lock file; Cancel is its default.
    void questionNamesTheLockFile()
    {
        QVERIFY(writeForeignLock());
        const FolderLock lock = Database::folderLock(store.path());
        QString shown;
        answerNextBox(QStringLiteral("Cancel"), &shown);
        QVERIFY(!askToOpenAnyway(lock));
        QVERIFY2(shown.contains(QStringLiteral("elsewhere")) && shown.contains(lockFile()), qPrintable(shown));
        answerNextBox(QStringLiteral("Open Anyway"), &shown);
        QVERIFY(askToOpenAnyway(lock));
    }

    void declinedLeavesTheFolderAlone()
    {
        QVERIFY(writeForeignLock());
        FolderLock asked;
        QString error;
        const auto decline = [&asked](const FolderLock &lock) {
            asked = lock;
            return false;
        };
        QCOMPARE(startOnDataFolder(store.path(), decline, &error), FolderStart::Declined);
        QCOMPARE(asked.state, FolderLock::OtherComputer);
        QCOMPARE(asked.path, lockFile());
        QVERIFY(!Database::isOpen());
        QCOMPARE(Database::folderLock(store.path()).host, QStringLiteral("elsewhere"));
    }

    void openingAnywayTakesTheFolder()
    {
        QVERIFY(writeForeignLock());
        QString error;
        QCOMPARE(startOnDataFolder(store.path(), [](const FolderLock &) { return true; }, &error),
                 FolderStart::Started);
        QVERIFY(Database::isOpen());
        const FolderLock ours = Database::folderLock(store.path());
        QCOMPARE(ours.state, FolderLock::Held);
        QCOMPARE(ours.process, QCoreApplication::applicationPid());
    }

    // The check of the store's file ends after the window is shown: a
    // damaged file closes the window and is told as a store that cannot be
    // opened, and nothing is written to it.
    void damageFoundAfterTheStartEndsTheProgram()
    {
        shutdownBackground();
        TempStore damaged;
        QString error;
        QVERIFY(Database::open(damaged.path(), &error) && Database::close());
        const QString file = damaged.path() + QStringLiteral("/database.db");
        QVERIFY(damageFreePageCount(file));
        Database::setCheckAfterOpen(true);
        const auto waitAgain = qScopeGuard([] { Database::setCheckAfterOpen(false); });
        QFile before(file);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray bytes = before.readAll();

        QCOMPARE(startOnDataFolder(damaged.path(), [](const FolderLock &) { return false; }, &error),
                 FolderStart::Started);
        QString shown;
        answerNextBox(QStringLiteral("OK"), &shown);
        MainWindow window;
        window.show();
        QTRY_VERIFY(!shown.isEmpty());
        QVERIFY2(shown.contains(QStringLiteral("cannot open its data")) && shown.contains(QStringLiteral("damaged")),
                 qPrintable(shown));
        QVERIFY(!window.isVisible());
        QVERIFY(!Database::isOpen());
        QFile after(file);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), bytes);
        QVERIFY(!QFile::exists(file + QStringLiteral(".lock")));
    }
};

QTEST_MAIN(TestFolderLock)
#include "tst_folderlock.moc"
