#include "engineglobals_p.h"

#include "engine_p.h"

#include "database.h"
#include "syncservice.h"

#include <QDir>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>

#include <atomic>

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
QMap<Id, WatcherInternal *> watcherById;
QMap<Id, WatcherInternal *> itemWatcherById;
QMap<Id, WatcherInternal *> openWatcherById;
QMultiMap<Id, WatcherInternal *> watchersByItem;
QMap<WatcherInterface *, Id> interfaceWatcher;
QMultiHash<size_t, WatcherInternal *> watcherByFilter;
QList<QString> downloadQueue;
QMutex downloadQueueMutex;
QMap<QString, ImageCacheEntry> imageCache;
QMap<QString, PixmapCacheEntry> pixmapCache;
QMutex imageCacheMutex;

StoreTables tables;

namespace {
std::atomic<SyncService *> registeredSync{nullptr};
// Whether the file columns' indexes were asked for since the tables were bound.
std::atomic<bool> fileLookupsAsked{false};
} // namespace

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
    fileLookupsAsked = false;

    tables.itemsTable = Database::tableId(QStringLiteral("items"));
    tables.optionsTable = Database::tableId(QStringLiteral("options"));
    tables.downloadsTable = Database::tableId(QStringLiteral("downloads"));
    tables.uncommittedCreateTable = Database::tableId(QStringLiteral("uncommitted_create"));
    tables.uncommittedSetTable = Database::tableId(QStringLiteral("uncommitted_set"));
    tables.uncommittedRemoveTable = Database::tableId(QStringLiteral("uncommitted_remove"));
    tables.dirtSkrinTable = Database::tableId(QStringLiteral("dirt_skrin"));
    tables.favouriteTable = Database::tableId(QStringLiteral("favourite"));
    tables.serverOptionTable = Database::tableId(QStringLiteral("server_option"));
    tables.tooBigFilesTable = Database::tableId(QStringLiteral("too_big_files"));

    const auto column = [](int table, const char *name) {
        return Database::columnId(table, QString::fromLatin1(name));
    };
    tables.itemsIdColumn = column(tables.itemsTable, "id");
    tables.itemsTypeColumn = column(tables.itemsTable, "type");
    tables.itemsOwnerColumn = column(tables.itemsTable, "owner");
    tables.optionsNameColumn = column(tables.optionsTable, "name");
    tables.optionsValueColumn = column(tables.optionsTable, "value");
    tables.downloadsUrlColumn = column(tables.downloadsTable, "url");
    tables.downloadsIdColumn = column(tables.downloadsTable, "id");
    tables.downloadsMemberColumn = column(tables.downloadsTable, "member");
    tables.uncommittedCreateIdColumn = column(tables.uncommittedCreateTable, "id");
    tables.uncommittedCreateTokenColumn = column(tables.uncommittedCreateTable, "token");
    tables.uncommittedSetIdColumn = column(tables.uncommittedSetTable, "id");
    tables.uncommittedSetMemberColumn = column(tables.uncommittedSetTable, "member");
    tables.uncommittedSetModifiedColumn = column(tables.uncommittedSetTable, "modified");
    tables.uncommittedRemoveIdColumn = column(tables.uncommittedRemoveTable, "id");
    tables.dirtSkrinIdColumn = column(tables.dirtSkrinTable, "id");
    tables.dirtSkrinModifiedColumn = column(tables.dirtSkrinTable, "modified");
    tables.favouriteItemIdColumn = column(tables.favouriteTable, "item_id");
    tables.serverOptionIdColumn = column(tables.serverOptionTable, "id");
    tables.serverOptionNameColumn = column(tables.serverOptionTable, "name");
    tables.serverOptionValueColumn = column(tables.serverOptionTable, "value");
    tables.tooBigFilesIdColumn = column(tables.tooBigFilesTable, "id");
    tables.tooBigFilesMemberColumn = column(tables.tooBigFilesTable, "member");
    tables.tooBigFilesFileColumn = column(tables.tooBigFilesTable, "file");
}

const StoreTables &storeTables()
{
    return tables;
}

void engine_internal::prepareFileLookups()
{
    if (fileLookupsAsked.exchange(true))
        return;
    QList<QPair<int, int>> columns;
    for (const QString &type : syncedTables) {
        const int table = syncedTableId(type);
        for (const QString &name : Database::columnNames(table)) {
            if (isFileMember(name))
                columns.append({table, columnOf(table, name)});
        }
    }
    Database::buildDeclaredIndexesSoon(columns);
}

void registerSyncService(SyncService *service)
{
    registeredSync.store(service);
}

SyncService *syncService()
{
    return registeredSync.load();
}

// The requests have nobody to tell before the sync engine started, in tests
// and tools that use the store alone.
void emitResetSignals()
{
    if (SyncService *sync = syncService())
        sync->storeReset();
}

void requestCommit()
{
    if (SyncService *sync = syncService())
        sync->requestCommit();
}

void emitWrongVersion()
{
    if (SyncService *sync = syncService())
        sync->wrongVersion();
}

bool shutdownBackground()
{
    if (SyncService *sync = syncService())
        sync->stop();
    QThreadPool::globalInstance()->waitForDone();
    return Database::close();
}
