// The sync engine's process-wide state (sync_p.h) and what it tells of it.

#include "sync_p.h"
#include "tavrinconnector.h"

#include <QTimer>

QDateTime commitScheduledAt;
ConnectionId commitConnection = 0;
QTimer *commitTimer = nullptr;
bool commitAgain = false;
int commitDelayMs = 0;
int commitFailures = 0;
QTimer *brokenDownloadsTimer = nullptr;
QTimer *commitModeTimer = nullptr;
int commitModeDelayMs = 0;
bool engineStarted = false;
bool commitHurry = true;
QDateTime lastServerChange;
QSet<Id> sentCreates;
QMap<ConnectionId, ExecRequest> execRequests;
QMap<QString, ConnectionId> runningDownloads;
QMap<QString, QDateTime> brokenDownloads;
QMap<ConnectionId, QSet<Id>> transfersByConnection;

bool isCommitRunning()
{
    return commitConnection != 0;
}

bool isLastCommitOk()
{
    return commitFailures == 0;
}

int commitRemainingMs()
{
    if (commitDelayMs == 0)
        return 0;
    const qint64 elapsed = commitScheduledAt.msecsTo(QDateTime::currentDateTime());
    return int(qMax<qint64>(1, qint64(commitDelayMs) - elapsed));
}

void setCommitHurry(bool hurry)
{
    commitHurry = hurry;
}

QSet<Id> transferItems(ConnectionId connection)
{
    return transfersByConnection.value(connection);
}
