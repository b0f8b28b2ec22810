#include "engineglobals.h"

#include "engine_p.h"

#include "database.h"
#include "networkconnector.h"
#include "tavrinconnector.h"

#include <QDir>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>

// --- The statics, in the order in which they are constructed -----------------------

const QString engineVersionText = QStringLiteral("1.0.1");
const QStringList syncedTables = {
    QStringLiteral("share"),
    QStringLiteral("skrin"),
    QStringLiteral("skrin_image"),
    QStringLiteral("skrin_marker"),
    QStringLiteral("skrin_text"),
    QStringLiteral("skrin_blur"),
    QStringLiteral("skrin_pen"),
    QStringLiteral("skrin_line"),
    QStringLiteral("skrin_arrow"),
    QStringLiteral("skrin_ellipse"),
    QStringLiteral("skrin_ellipse_frame"),
    QStringLiteral("skrin_rectangle"),
    QStringLiteral("skrin_rectangle_frame"),
    QStringLiteral("skrin_pin"),
    QStringLiteral("favourite"),
    QStringLiteral("server_option"),
};
QMap<ConnectionId, ExecRequest> execRequests;
QMap<Id, Id> tempIdToServerId;
QMap<Id, Id> serverIdToTempId;
QMap<Id, WatcherInternal *> watcherById;
QMap<Id, WatcherInternal *> itemWatcherById;
QMap<Id, WatcherInternal *> openWatcherById;
QMultiMap<Id, WatcherInternal *> watchersByItem;
QSet<Id> sentCreates;
QMap<WatcherInterface *, Id> interfaceWatcher;
QMultiHash<QString, WatcherInternal *> watcherByFilter;
QMutex storeMutex;
QSet<TableRow> sentRows;
QDateTime commitScheduledAt;
QMap<QString, ConnectionId> runningDownloads;
QList<QString> downloadQueue;
QMutex downloadQueueMutex;
QMap<QString, QDateTime> brokenDownloads;
QSet<QString> loadingImages;
QSet<QString> failedImages;
QMap<QString, ImageCacheEntry> imageCache;
QMap<QString, PixmapCacheEntry> pixmapCache;
QMutex imageCacheMutex;
QMap<ConnectionId, QSet<Id>> transfersByConnection;
QDateTime lastServerChange;
QSet<ThumbnailClaim> thumbnailsInProgress;

std::atomic<TavrinConnector *> connectorInstance{nullptr};
ConnectionId commitConnection = 0;
QTimer *commitTimer = nullptr;
bool commitAgain = false;
int commitDelayMs = 0;
int commitFailures = 0;
QTimer *brokenDownloadsTimer = nullptr;
QTimer *imageCacheTimer = nullptr;
QTimer *commitModeTimer = nullptr;
int commitModeDelayMs = 0;
bool engineStarted = false;
bool commitHurry = true;

// -1 until bindTables ran, so that nothing is found in a table that is not bound.
int itemsTable = -1, itemsIdColumn = -1, itemsTypeColumn = -1, itemsOwnerColumn = -1;
int optionsTable = -1, optionsNameColumn = -1, optionsValueColumn = -1;
int downloadsTable = -1, downloadsUrlColumn = -1, downloadsIdColumn = -1, downloadsMemberColumn = -1;
int uncommittedCreateTable = -1, uncommittedCreateIdColumn = -1;
int uncommittedSetTable = -1, uncommittedSetIdColumn = -1, uncommittedSetMemberColumn = -1,
    uncommittedSetModifiedColumn = -1;
int uncommittedRemoveTable = -1, uncommittedRemoveIdColumn = -1;
int dirtSkrinTable = -1, dirtSkrinIdColumn = -1, dirtSkrinModifiedColumn = -1;
int favouriteTable = -1, favouriteItemIdColumn = -1;
int serverOptionTable = -1, serverOptionIdColumn = -1, serverOptionNameColumn = -1,
    serverOptionValueColumn = -1;
int tooBigFilesTable = -1, tooBigFilesIdColumn = -1, tooBigFilesMemberColumn = -1,
    tooBigFilesFileColumn = -1;

// --- Functions ---------------------------------------------------------------------------

void registerEngineTypes()
{
    qRegisterMetaType<Id>("Id");
    qRegisterMetaType<ConnectionId>("ConnectionId");
}

QString engineVersion()
{
    return engineVersionText;
}

QStringList syncedTableNames()
{
    return syncedTables;
}

bool isCommitRunning()
{
    return commitConnection > 0;
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

bool closeQuitsApplication()
{
    return false;
}

bool isAnyWindowVisible()
{
    if (!qGuiApp)
        return false;
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (const QWindow *window : windows) {
        if (window->isVisible())
            return true;
    }
    return false;
}

QString defaultServerUrl()
{
    return QStringLiteral(PELLIMORE_DEFAULT_SERVER_URL);
}

QString dataDirectory(bool portable)
{
    if (portable)
        return QDir::currentPath();
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

void bindTables()
{
    engine_internal::forgetTableNumbers();
    commitScheduledAt = QDateTime::currentDateTime();

    itemsTable = Database::tableId(QStringLiteral("items"));
    optionsTable = Database::tableId(QStringLiteral("options"));
    downloadsTable = Database::tableId(QStringLiteral("downloads"));
    uncommittedCreateTable = Database::tableId(QStringLiteral("uncommitted_create"));
    uncommittedSetTable = Database::tableId(QStringLiteral("uncommitted_set"));
    uncommittedRemoveTable = Database::tableId(QStringLiteral("uncommitted_remove"));
    dirtSkrinTable = Database::tableId(QStringLiteral("dirt_skrin"));
    favouriteTable = Database::tableId(QStringLiteral("favourite"));
    serverOptionTable = Database::tableId(QStringLiteral("server_option"));
    tooBigFilesTable = Database::tableId(QStringLiteral("too_big_files"));

    const auto column = [](int table, const char *name) {
        return Database::columnId(table, QString::fromLatin1(name));
    };
    itemsIdColumn = column(itemsTable, "id");
    itemsTypeColumn = column(itemsTable, "type");
    itemsOwnerColumn = column(itemsTable, "owner");
    optionsNameColumn = column(optionsTable, "name");
    optionsValueColumn = column(optionsTable, "value");
    downloadsUrlColumn = column(downloadsTable, "url");
    downloadsIdColumn = column(downloadsTable, "id");
    downloadsMemberColumn = column(downloadsTable, "member");
    uncommittedCreateIdColumn = column(uncommittedCreateTable, "id");
    uncommittedSetIdColumn = column(uncommittedSetTable, "id");
    uncommittedSetMemberColumn = column(uncommittedSetTable, "member");
    uncommittedSetModifiedColumn = column(uncommittedSetTable, "modified");
    uncommittedRemoveIdColumn = column(uncommittedRemoveTable, "id");
    dirtSkrinIdColumn = column(dirtSkrinTable, "id");
    dirtSkrinModifiedColumn = column(dirtSkrinTable, "modified");
    favouriteItemIdColumn = column(favouriteTable, "item_id");
    serverOptionIdColumn = column(serverOptionTable, "id");
    serverOptionNameColumn = column(serverOptionTable, "name");
    serverOptionValueColumn = column(serverOptionTable, "value");
    tooBigFilesIdColumn = column(tooBigFilesTable, "id");
    tooBigFilesMemberColumn = column(tooBigFilesTable, "member");
    tooBigFilesFileColumn = column(tooBigFilesTable, "file");
}

// The emitters run before the connector exists in tests and tools that use
// the store alone; they then have nobody to tell.
void emitResetSignals()
{
    if (TavrinConnector *connector = TavrinConnector::instance()) {
        emit connector->resetSignal();
        emit connector->serverOptionsInitSignal();
    }
}

void requestCommit()
{
    if (TavrinConnector *connector = TavrinConnector::instance())
        emit connector->commitSignal();
}

void emitWrongVersion()
{
    if (TavrinConnector *connector = TavrinConnector::instance())
        emit connector->wrongVersionSignal();
}

bool shutdownBackground()
{
    if (commitTimer)
        commitTimer->stop();
    // No commit may start, and no late answer apply, once the store closes.
    TavrinConnector::stopSync();
    NetworkConnector::shutdown();
    QThreadPool::globalInstance()->waitForDone();
    return Database::close();
}
