#pragma once

// A sync client for the tests: the engine started on a temporary data folder,
// logged in to a loopback TestServer, and helpers that commit and wait.

#include "database.h"
#include "dirtyskrins.h"
#include "downloads.h"
#include "engine.h"
#include "engineglobals.h"
#include "enginestart.h"
#include "networkconnector.h"
#include "tavrinconnector.h"
#include "testserver.h"
#include "watcher.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace synctest {

inline const QString mail = QStringLiteral("user@example.org");
inline const QString hash = QStringLiteral("5baa61e4c9b93f3f0682250b6cf8331b7ee68fd8");

// A server option that exists in this store only (never committed): where
// the engine sends its requests. Made by hand, since a synchronised "server"
// option would travel to the service and on to every other client.
inline void pointAt(const QString &endpoint)
{
    QMutexLocker lock(&storeMutex);
    const int table = Database::tableId(QStringLiteral("server_option"));
    const int row = Database::findRow(table, serverOptionNameColumn, QStringLiteral("server"));
    if (row > 0) {
        Database::setValue(table, row, serverOptionValueColumn, endpoint);
        return;
    }
    const Id id = -900000;
    Database::insertRow(itemsTable, {{itemsIdColumn, QVariant(id)},
                                     {itemsTypeColumn, QStringLiteral("server_option")},
                                     {itemsOwnerColumn, QVariant(qint64(0))}});
    Database::insertRow(table, {{serverOptionIdColumn, QVariant(id)},
                                {serverOptionNameColumn, QStringLiteral("server")},
                                {serverOptionValueColumn, endpoint}});
}

// The same for any other server option a test needs locally.
inline void setLocalServerOption(const QString &name, const QVariant &value, Id id)
{
    QMutexLocker lock(&storeMutex);
    const int table = Database::tableId(QStringLiteral("server_option"));
    const int row = Database::findRow(table, serverOptionNameColumn, name);
    if (row > 0) {
        Database::setValue(table, row, serverOptionValueColumn, value);
        return;
    }
    Database::insertRow(itemsTable, {{itemsIdColumn, QVariant(id)},
                                     {itemsTypeColumn, QStringLiteral("server_option")},
                                     {itemsOwnerColumn, QVariant(qint64(0))}});
    Database::insertRow(table, {{serverOptionIdColumn, QVariant(id)},
                                {serverOptionNameColumn, name},
                                {serverOptionValueColumn, value}});
}

inline int rowsOf(const char *table)
{
    return Database::rowCount(Database::tableId(QString::fromLatin1(table)));
}

inline bool nothingPending()
{
    return rowsOf("uncommitted_create") == 0 && rowsOf("uncommitted_set") == 0
           && rowsOf("uncommitted_remove") == 0;
}

// One commit and whatever it sets off at once (the log-in's follow-up);
// true when the last answer was a success.
inline bool commitOnce(int timeoutMs = 10000)
{
    TavrinConnector *connector = TavrinConnector::instance();
    QSignalSpy finished(connector, &TavrinConnector::commitFinishedSignal);
    connector->commit();
    if (!QTest::qWaitFor([&] { return finished.count() > 0 && !isCommitRunning(); }, timeoutMs))
        return false;
    return finished.last().at(0).toBool();
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
    return nothingPending();
}

// Waits for the queued watcher deliveries.
inline void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

inline QByteArray pngBytes(int side = 4, QRgb colour = 0xff3366cc)
{
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The engine on a fresh, empty store, logged in to `server`. The engine is
// started once per process; later calls reset its store instead.
inline bool freshClient(TestServer &server, const QString &folder)
{
    if (!engineStarted) {
        QString error;
        if (!engineStartInFolder(folder, &error)) {
            qWarning("engine did not start: %s", qPrintable(error));
            return false;
        }
    }
    // Tests commit when they choose to; the commit-mode timer would poll.
    if (commitModeTimer)
        commitModeTimer->stop();
    TavrinConnector::setClock({});
    if (!resetAndLogin(mail, hash))
        return false;
    clearEngineState();
    pointAt(server.endpoint());
    server.addUser(mail, hash);
    return true;
}

inline QString lastField(const TestServer &server, const char *name)
{
    for (qsizetype i = server.requests().size() - 1; i >= 0; --i) {
        const TestServer::Request &request = server.requests().at(i);
        if (request.path == QLatin1String("/tavrin-engine"))
            return request.fields.value(QString::fromLatin1(name));
    }
    return QString();
}

inline int fileRequests(const TestServer &server)
{
    int count = 0;
    for (const TestServer::Request &request : server.requests())
        count += request.path.startsWith(QLatin1String("/files/")) ? 1 : 0;
    return count;
}

} // namespace synctest
