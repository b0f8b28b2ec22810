#pragma once

// A sync client for the tests: the engine started on a temporary data folder,
// logged in to a loopback TestServer, and helpers that commit and wait.

#include "enginefixture.h" // rowsOf, insertRow, settle, InterfaceRecorder

#include "dirtyskrins.h"
#include "sync_p.h"
#include "downloads.h"
#include "enginestart.h"
#include "networkconnector.h"
#include "pictures.h"
#include "tavrinconnector.h"
#include "testserver.h"

#include <QDir>
#include <QSignalSpy>
#include <QTimer>

namespace synctest {

inline const QString mail = QStringLiteral("user@example.org");
inline const QString hash = QStringLiteral("5baa61e4c9b93f3f0682250b6cf8331b7ee68fd8");

// A server option that exists in this store only, written straight to the
// tables: one set through the engine would travel to the service and on to
// every other client.
inline void setLocalServerOption(const QString &name, const QVariant &value, Id id)
{
    StoreLock lock;
    const int table = Database::tableId(QStringLiteral("server_option"));
    if (const int row = Database::findRow(table, storeTables().serverOptionNameColumn, name); row > 0) {
        Database::setValue(table, row, storeTables().serverOptionValueColumn, value);
    } else {
        insertRow("items", {{"id", id}, {"type", "server_option"}, {"owner", 0}});
        insertRow("server_option", {{"id", id}, {"name", name}, {"value", value}});
    }
}

// The id maps as the commits left them.
inline QMap<Id, Id> localToServer()
{
    StoreLock lock;
    return locked::localToServerIds(lock);
}

inline QMap<Id, Id> serverToLocal()
{
    StoreLock lock;
    return locked::serverToLocalIds(lock);
}

// Where the engine sends its requests.
inline void pointAt(const QString &endpoint)
{
    setLocalServerOption(QStringLiteral("server"), endpoint, -900000);
}

inline bool nothingPending()
{
    return rowsOf("uncommitted_create") == 0 && rowsOf("uncommitted_set") == 0 && rowsOf("uncommitted_remove") == 0;
}

// One commit and whatever it sets off at once (the log-in's follow-up);
// true when the last answer was a success.
inline bool commitOnce()
{
    QSignalSpy finished(TavrinConnector::instance(), &TavrinConnector::commitFinishedSignal);
    TavrinConnector::instance()->commit();
    return QTest::qWaitFor([&] { return finished.count() > 0 && !isCommitRunning(); }, 10000)
           && finished.last().at(0).toBool();
}

// Commits until nothing is pending (a log-in first when needed).
inline bool syncAll()
{
    for (int i = 0; i < 4; ++i) {
        if (!commitOnce())
            return false;
        if (nothingPending())
            return true;
    }
    return false;
}

// Starts a commit whose answer the server holds back until it releases them.
inline bool holdCommit(TestServer &server)
{
    server.setHoldAnswers(true);
    TavrinConnector::instance()->commit();
    return QTest::qWaitFor([&] { return server.heldAnswerCount() == 1; }, 10000);
}

inline QByteArray pngBytes(int side = 4) { return encoded(filledImage(QSize(side, side), QColor(0x3366cc))); }

// The address a member of item `id` waits for.
inline QString downloadUrl(qint64 id)
{
    return Database::valueWhere(storeTables().downloadsTable, {{storeTables().downloadsIdColumn, QVariant(id)}},
        storeTables().downloadsUrlColumn)
        .toString();
}

// A client in a process of its own: the engine on `folder`, with the test
// user's credentials, sending to `endpoint` when the test commits.
inline bool startChildClient(const QString &folder, const QString &endpoint)
{
    if (!engineStartInFolder(folder))
        return false;
    commitModeTimer->stop();
    pointAt(endpoint);
    setOption("mail", mail);
    setOption("hash", hash);
    return true;
}

// What a test class of a client holds: its data folder and, for each test
// function, a fresh server and the engine on an empty store, logged in to it.
struct SyncCase
{
    QTemporaryDir dir;
    std::unique_ptr<TestServer> server;

    bool startClient()
    {
        server = std::make_unique<TestServer>();
        QString error;
        // The engine starts once per process; later tests reset its store.
        if (!engineStarted && !engineStartInFolder(dir.path(), &error))
            qWarning("engine did not start: %s", qPrintable(error));
        if (!server->listen() || !engineStarted)
            return false;
        // Tests commit when they choose to; the commit-mode timer would poll.
        commitModeTimer->stop();
        TavrinConnector::setClock({});
        if (!resetAndLogin(mail, hash))
            return false;
        clearEngineState();
        pointAt(server->endpoint());
        server->addUser(mail, hash);
        return commitOnce();
    }
    void stopClient()
    {
        settle();
        server.reset();
    }
    QStringList storedFileNames() const { return QDir(dir.filePath("files")).entryList(QDir::Files); }
};

} // namespace synctest
