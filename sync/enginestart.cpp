#include "enginestart.h"

#include "synclog.h"

#include "networkconnector.h"
#include "sync_p.h"
#include "tavrinconnector.h"


#include "database.h"
#include "downloads.h"
#include "imagecache.h"

#include <QDebug>
#include <QDir>
#include <QMutexLocker>
#include <QThreadPool>
#include <QTimer>

namespace {

// Local options that outlive a new log-in: the id counters (an id handed out
// before must never come again while screen objects may still hold it) and
// the user's own switches. The store id is not kept: the emptied store is a
// new client to the service, which sends it the whole account.
const char *const keptOptions[] = {"itemAutodecrement", "watcherAutodecrement", "first_time", "useBallons"};

QTimer *makeTimer(TavrinConnector *connector, int interval, void (TavrinConnector::*slot)())
{
    auto *timer = new QTimer(connector);
    timer->setInterval(interval);
    QObject::connect(timer, &QTimer::timeout, connector, slot);
    return timer;
}

} // namespace

bool engineStart(bool portable, QString *error)
{
    return engineStartInFolder(dataDirectory(portable), error);
}

bool engineStartInFolder(const QString &folder, QString *error)
{
    if (engineStarted)
        return true;
    // Qt 6 seeds its random generator itself; "Id" must be known before any
    // queued signal carries one.
    registerEngineTypes();
    TavrinConnector *connector = TavrinConnector::create();
    if (!folder.isEmpty())
        QDir().mkpath(folder);
    if (folder.isEmpty() || !Database::open(folder, error)) {
        if (folder.isEmpty() && error)
            *error = QStringLiteral("no data folder");
        return false;
    }
    bindTables();
    commitScheduledAt = QDateTime::currentDateTime();

    NetworkConnector *network = NetworkConnector::instance();
    QObject::connect(network, &NetworkConnector::finished, connector, &TavrinConnector::networkFinished,
                     Qt::UniqueConnection);

    if (!commitTimer) {
        commitTimer = makeTimer(connector, 0, &TavrinConnector::commit);
        commitTimer->setSingleShot(true);
        brokenDownloadsTimer = makeTimer(connector, 1000, &TavrinConnector::brokenDownloadsCheck);
        commitModeTimer = makeTimer(connector, 1000, &TavrinConnector::commitModeCheck);
    }
    // What was loaded is on disk; the store id is made now.
    sync_internal::counterOnDisk = idFromVariant(optionValue(QStringLiteral("itemAutodecrement"), 0));
    sync_internal::storeId();
    // Create records of an older version get their tokens now, while the
    // writer has nothing else to do.
    sync_internal::tokenOldCreates();
    TavrinConnector::resumeSync();
    commitModeTimer->start();
    engineStarted = true;
    return true;
}

bool resetAndLogin(const QString &mail, const QString &hash, QString *error)
{
    TavrinConnector::forgetCommitInFlight();
    if (commitTimer)
        commitTimer->stop();
    commitDelayMs = 0;
    // Addresses of the old account's files; downloads in flight find no
    // member waiting when they end, and are dropped.
    clearDownloadQueue();
    brokenDownloads.clear();

    QList<QPair<QString, QVariant>> kept;
    for (const char *name : keptOptions) {
        const QString key = QString::fromLatin1(name);
        const QVariant value = optionValue(key);
        if (!isNullValue(value))
            kept.append({key, value});
    }
    if (!resetStoreAndNotify(error)) {
        qCWarning(lcSync) << "resetAndLogin: the store could not be reset:" << (error ? *error : QString());
        return false;
    }
    for (const auto &[key, value] : std::as_const(kept))
        setOption(key, value);
    setOption(QStringLiteral("mail"), mail);
    setOption(QStringLiteral("hash"), hash);
    // The new file must hold the counter and the store id before any create
    // leaves.
    sync_internal::storeId();
    if (Database::flush())
        sync_internal::counterOnDisk = idFromVariant(optionValue(QStringLiteral("itemAutodecrement"), 0));
    else
        sync_internal::counterOnDisk = 0;
    commitFailures = 0;
    lastServerChange = QDateTime();
    emitResetSignals();
    return true;
}

void clearEngineState()
{
    QThreadPool::globalInstance()->waitForDone();
    TavrinConnector::forgetCommitInFlight();
    {
        StoreLock lock;
        locked::localToServerIds(lock).clear();
        locked::serverToLocalIds(lock).clear();
        locked::thumbnailClaims(lock).clear();
    }
    forgetImageLoads();
    clearDownloadQueue();
    runningDownloads.clear();
    brokenDownloads.clear();
    transfersByConnection.clear();
    execRequests.clear();
    commitFailures = 0;
    lastServerChange = QDateTime();
}
