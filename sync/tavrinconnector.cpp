#include "tavrinconnector.h"

#include "synclog.h"

#include "sync_p.h"

#include "downloads.h"
#include "imagecache.h"
#include "jsoncodec.h"
#include "multipartformdata.h"
#include "networkconnector.h"
#include "serveroptions.h"
#include "watcher.h"

#include "database.h"

#include <QDebug>
#include <QMetaMethod>
#include <QMutexLocker>
#include <QTimer>

#include <atomic>
#include <memory>

using namespace locked;
using namespace sync_internal;

namespace {

// Set once by create() on the GUI thread; read from any thread.
std::atomic<TavrinConnector *> connectorInstance{nullptr};

constexpr int maxRunningDownloads = 5;
constexpr qint64 brokenDownloadPauseSecs = 15;
// How long after a change from the service the commit-mode check keeps the
// short delay, so that a conversation with another client flows quickly.
constexpr qint64 recentServerChangeMs = 10000;

std::function<QDateTime()> clockFunction;

// The slot name of a SLOT() signature ("1onAnswer(QVariantMap)" -> "onAnswer").
QByteArray slotName(const char *slot)
{
    QByteArray name(slot);
    if (!name.isEmpty() && name.at(0) >= '0' && name.at(0) <= '9')
        name.remove(0, 1);
    const qsizetype paren = name.indexOf('(');
    return paren < 0 ? name : name.left(paren);
}

bool hasAnswerSlot(const QObject *receiver, const char *slot)
{
    QByteArray signature(slot);
    if (!signature.isEmpty() && signature.at(0) >= '0' && signature.at(0) <= '9')
        signature.remove(0, 1);
    const QByteArray normalized = QMetaObject::normalizedSignature(signature.constData());
    const int index = receiver->metaObject()->indexOfMethod(normalized.constData());
    if (index < 0)
        return false;
    const QMetaMethod method = receiver->metaObject()->method(index);
    return method.parameterCount() == 1 && method.parameterType(0) == QMetaType::QVariantMap;
}

} // namespace

TavrinConnector::TavrinConnector() = default;

TavrinConnector *TavrinConnector::instance()
{
    return connectorInstance.load();
}

TavrinConnector *TavrinConnector::create()
{
    if (TavrinConnector *existing = connectorInstance.load())
        return existing;
    registerEngineTypes();
    // Automatic connections: an emission from a pool thread runs the slot on
    // the connector's (GUI) thread.
    auto *connector = new TavrinConnector;
    connect(connector, &TavrinConnector::commitSignal, connector, &TavrinConnector::commit);
    connect(connector, &TavrinConnector::downloadFileSignal, connector, &TavrinConnector::downloadFile);
    connect(connector, &TavrinConnector::imageCacheTimerStartSignal, connector,
            &TavrinConnector::imageCacheTimerStart);
    connectorInstance.store(connector);
    registerSyncService(connector);
    return connector;
}

void TavrinConnector::requestCommit()
{
    emit commitSignal();
}

void TavrinConnector::requestDownload(const QString &url)
{
    emit downloadFileSignal(url);
}

void TavrinConnector::storeReset()
{
    emit resetSignal();
    emit serverOptionsInitSignal();
}

void TavrinConnector::wrongVersion()
{
    emit wrongVersionSignal();
}

void TavrinConnector::stop()
{
    stopSync();
    NetworkConnector::shutdown();
}

void TavrinConnector::setClock(std::function<QDateTime()> clock)
{
    clockFunction = std::move(clock);
}

QDateTime TavrinConnector::now()
{
    return clockFunction ? clockFunction() : QDateTime::currentDateTime();
}

// ---- commits ------------------------------------------------------------------

void TavrinConnector::commit()
{
    if (syncStopped || !Database::isOpen())
        return;
    // Nothing leaves before the check of the file, which may run on after
    // the open, has found it sound: asked again shortly.
    if (!Database::fileCheckPassed()) {
        // Through the schedule, so that its bookkeeping (and the mode check
        // that may lengthen it) knows of the retry.
        commitDelayMs = 0;
        scheduleCommit(100);
        return;
    }
    if (commitConnection != 0 || answerBusy) {
        commitAgain = true;
        return;
    }
    // Creates leave only once their tokens are on disk.
    if (!oldCreatesTokened)
        tokenOldCreates();
    if (commitTimer)
        commitTimer->stop();
    commitAgain = false;
    commitDelayMs = 0;

    // Held-back files that the account allows now go with this commit; a
    // record whose member no longer names its file is stale.
    {
        StoreLock lock;
        const qint64 limit = fileLimit();
        RowCursor cursor = Database::allRows(storeTables().tooBigFilesTable);
        while (cursor.next()) {
            const Id id = idFromVariant(Database::value(cursor, storeTables().tooBigFilesIdColumn));
            const QString member = Database::value(cursor, storeTables().tooBigFilesMemberColumn).toString();
            const QString file = Database::value(cursor, storeTables().tooBigFilesFileColumn).toString();
            const int table = tableOfType(lock, storedItemType(lock, id));
            const int column = columnOf(lock, table, member);
            const QVariant current =
                column < 0 ? QVariant() : Database::value(table, rowOfItem(lock, table, id), column);
            if (Database::fileSize(file) <= limit || current.toString() != file)
                Database::removeRow(cursor);
        }
    }

    startCommit();
}

void TavrinConnector::scheduleCommit(int ms)
{
    if (syncStopped || !Database::isOpen() || !commitTimer)
        return;
    if (isCommitRunning() || answerBusy || ms < 1)
        return;
    const QDateTime current = QDateTime::currentDateTime();
    int delay = ms;
    if (commitDelayMs != 0) {
        const qint64 elapsed = commitScheduledAt.msecsTo(current);
        if (ms < elapsed) {
            commit();
            return;
        }
        delay = int(qMax<qint64>(ms - elapsed, 100));
    }
    commitTimer->start(delay);
    commitScheduledAt = current;
    commitDelayMs = delay;
}

void TavrinConnector::commitModeCheck()
{
    if (syncStopped || !Database::isOpen())
        return;
    int delay = 20000;
    if (commitFailures == 0 && isAnyWindowVisible()) {
        const QDateTime current = QDateTime::currentDateTime();
        if (lastServerChange.isValid() && lastServerChange.msecsTo(current) < recentServerChangeMs) {
            delay = 500;
            commitHurry = false;
        } else if (changesPending() || commitHurry) {
            delay = 1000;
            commitHurry = false;
        }
    }
    // Also when nothing is scheduled: the timer is what polls the service.
    if (delay != commitModeDelayMs || (commitDelayMs == 0 && !isCommitRunning())) {
        commitModeDelayMs = delay;
        scheduleCommit(delay);
    }
}

void TavrinConnector::forgetCommitInFlight()
{
    ++commitGeneration;
    if (commitConnection != 0)
        transfersByConnection.remove(commitConnection);
    commitConnection = 0;
    commitAgain = false;
    retriedAtOnce = 0;
    StoreLock lock;
    sentRows(lock).clear();
    sentCreates.clear();
    heldBackFiles.clear();
}

void TavrinConnector::stopSync()
{
    dropUnsentSerialKey();
    syncStopped = true;
    for (QTimer *timer : {commitTimer, commitModeTimer, brokenDownloadsTimer})
        if (timer)
            timer->stop();
    commitDelayMs = 0;
    forgetCommitInFlight();
    // The HTTP layer drops every request next; none of them will finish.
    runningDownloads.clear();
    transfersByConnection.clear();
    execRequests.clear();
    engineStarted = false;
}

bool TavrinConnector::isSyncStopped()
{
    return syncStopped;
}

void TavrinConnector::resumeSync()
{
    syncStopped = false;
}

void TavrinConnector::networkFinished(ConnectionId id, bool error, const QByteArray &answer)
{
    transfersByConnection.remove(id);
    finishDownload(id, error, answer);
    finishExec(id, error, answer);
    if (id == commitConnection && id != 0) {
        if (forgotten(sentGeneration)) {
            commitConnection = 0;
            return;
        }
        if (error)
            finishCommit(true);
        else
            readAnswer(answer, [this] { finishCommit(false); });
    }
}

// ---- downloads ---------------------------------------------------------------------

void TavrinConnector::downloadFile(const QString &url)
{
    // May run inside storeMutex (a member read on the GUI thread): no store
    // lock here.
    if (url.isEmpty() || runningDownloads.contains(url) || brokenDownloads.contains(url))
        return;
    queueDownloadFirst(url);
    pumpDownloads();
}

void TavrinConnector::pumpDownloads()
{
    if (syncStopped || runningDownloads.size() >= maxRunningDownloads)
        return;
    const QString url = takeQueuedDownload();
    if (url.isEmpty())
        return;
    const ConnectionId id = NetworkConnector::instance()->get(QUrl(url));
    runningDownloads.insert(url, id);
    // Perhaps inside storeMutex (a member read asked for the file).
    QSet<Id> items;
    RowCursor cursor = Database::select(storeTables().downloadsTable, storeTables().downloadsUrlColumn, QVariant(url));
    while (cursor.next())
        items.insert(guiThreadLocalId(idFromVariant(Database::value(cursor, storeTables().downloadsIdColumn))));
    transfersByConnection.insert(id, items);
}

void TavrinConnector::finishDownload(ConnectionId id, bool error, const QByteArray &answer)
{
    QString url;
    for (auto it = runningDownloads.begin(); it != runningDownloads.end();) {
        if (it.value() == id) {
            url = it.key();
            it = runningDownloads.erase(it);
        } else {
            ++it;
        }
    }
    if (url.isEmpty())
        return;
    // An empty body is no file: fetch it again later rather than store nothing.
    if (error || answer.isEmpty()) {
        qCWarning(lcSync) << "Download failed:" << url.left(200);
        brokenDownloads.insert(url, now());
        if (brokenDownloadsTimer && !brokenDownloadsTimer->isActive())
            brokenDownloadsTimer->start();
    } else {
        storeDownloadedFile(url, answer);
    }
    pumpDownloads();
}

bool TavrinConnector::storeDownloadedFile(const QString &url, const QByteArray &data)
{
    if (data.isEmpty() || url.isEmpty())
        return false;
    struct Filled
    {
        Id id;
        QString member;
        QVariantMap before;
    };
    QList<Filled> filled;
    QString name;
    {
        StoreLock lock;
        RowCursor cursor
            = Database::select(storeTables().downloadsTable, storeTables().downloadsUrlColumn, QVariant(url));
        // Bytes nobody waits for (the member changed, the item went, the
        // store was reset) are not kept.
        if (cursor.rows.isEmpty())
            return false;
        name = Database::storeNewFile(data, Database::fileExtension(QUrl(url).path()));
        if (name.isEmpty())
            return false;
        while (cursor.next()) {
            const Id id = idFromVariant(Database::value(cursor, storeTables().downloadsIdColumn));
            const QString member = Database::value(cursor, storeTables().downloadsMemberColumn).toString();
            Database::removeRow(cursor);
            const int table = tableOfType(lock, storedItemType(lock, id));
            const int row = rowOfItem(lock, table, id);
            const int column = columnOf(lock, table, member);
            if (row <= 0 || column < 0 || !isFileMember(member))
                continue;
            const QVariantMap before = readItem(lock, id, false, false);
            if (Database::setValue(table, row, column, QVariant(name)))
                filled.append({id, member, before});
        }
        if (filled.isEmpty())
            removeFileIfUnreferenced(lock, name);
    }
    for (const Filled &entry : std::as_const(filled))
        notifyMemberChanged(entry.id, entry.before, entry.member, QVariant(name));
    return !filled.isEmpty();
}

void TavrinConnector::brokenDownloadsCheck()
{
    const QDateTime current = now();
    for (auto it = brokenDownloads.begin(); it != brokenDownloads.end();) {
        if (it.value().secsTo(current) > brokenDownloadPauseSecs)
            it = brokenDownloads.erase(it);
        else
            ++it;
    }
    if (brokenDownloads.isEmpty() && brokenDownloadsTimer)
        brokenDownloadsTimer->stop();
}

// ---- remote calls -----------------------------------------------------------------------

ConnectionId TavrinConnector::exec(QObject *receiver, const char *slot, const QString &method,
                                   const QVariantMap &parameters)
{
    if (syncStopped || !receiver || !slot) {
        qCWarning(lcSync) << "exec: no receiver, or the sync engine is stopped";
        return 0;
    }
    if (!hasAnswerSlot(receiver, slot)) {
        qCWarning(lcSync) << "exec:" << receiver << "has no slot" << slot << "taking one QVariantMap";
        return 0;
    }
    return sendExec(ExecRequest{receiver, QByteArray(slot), {}}, method, parameters);
}

ConnectionId TavrinConnector::exec(QObject *receiver, std::function<void(const QVariantMap &)> answer,
                                   const QString &method, const QVariantMap &parameters)
{
    if (syncStopped || !receiver || !answer) {
        qCWarning(lcSync) << "exec: no receiver, or the sync engine is stopped";
        return 0;
    }
    return sendExec(ExecRequest{receiver, QByteArray(), std::move(answer)}, method, parameters);
}

ConnectionId TavrinConnector::sendExec(ExecRequest request, const QString &method, const QVariantMap &parameters)
{
    static const QStringList reserved = {QStringLiteral("action"), QStringLiteral("version"), QStringLiteral("mail"),
                                         QStringLiteral("hash"), QStringLiteral("session"),
                                         QStringLiteral("session_key"), QStringLiteral("method")};
    MultipartFormData form;
    bool ok = form.addField(QStringLiteral("action"), QStringLiteral("exec"));
    form.addField(QStringLiteral("version"), engineVersion());
    for (const auto &[name, value] : credentialFields())
        form.addField(name, value);
    ok = ok && form.addField(QStringLiteral("method"), method);
    for (auto it = parameters.cbegin(); ok && it != parameters.cend(); ++it) {
        if (reserved.contains(it.key())) {
            qCWarning(lcSync) << "exec: the parameter name" << it.key() << "is taken by the request itself";
            ok = false;
            break;
        }
        const QVariant value = withUtcTimes(it.value());
        const QString text = value.typeId() == QMetaType::QString ? value.toString() : JsonCodec::serialize(value);
        ok = form.addField(it.key(), text);
    }
    if (!ok) {
        qCWarning(lcSync) << "exec: refused the call" << method.left(60);
        return 0;
    }

    const ConnectionId id = NetworkConnector::instance()->post(engineEndpoint(), form);
    QObject *receiver = request.receiver;
    execRequests.insert(id, std::move(request));
    connect(receiver, &QObject::destroyed, this, &TavrinConnector::execResultObjectDestroyed,
            Qt::UniqueConnection);
    return id;
}

void TavrinConnector::execResultObjectDestroyed(QObject *object)
{
    for (auto it = execRequests.begin(); it != execRequests.end();) {
        if (it->receiver == object)
            it = execRequests.erase(it);
        else
            ++it;
    }
}

void TavrinConnector::finishExec(ConnectionId id, bool error, const QByteArray &answer)
{
    const auto found = execRequests.constFind(id);
    if (found == execRequests.cend())
        return;
    const ExecRequest request = found.value();
    execRequests.erase(found);

    QVariantMap result;
    if (!error) {
        bool parsed = false;
        const QVariant value = JsonCodec::parse(QString::fromUtf8(answer), &parsed);
        if (parsed && value.typeId() == QMetaType::QVariantMap)
            result = value.toMap();
    }
    if (!result.contains(QStringLiteral("result")))
        result.insert(QStringLiteral("result"), 1);
    if (request.deliver)
        request.deliver(result);
    else if (!QMetaObject::invokeMethod(request.receiver, slotName(request.slot.constData()).constData(),
                                   Qt::DirectConnection, Q_ARG(QVariantMap, result)))
        qCWarning(lcSync) << "exec: could not deliver the answer to" << request.slot;
}

// ---- images: the engine loads and keeps them; these are its upkeep's old entry points ----

// Takes `image`, as it always has.
void TavrinConnector::imageLoaded(const QString &file, QImage *image)
{
    const std::unique_ptr<QImage> taken(image);
    imageLoadFinished(file, taken ? *taken : QImage());
}

void TavrinConnector::imageCacheTimerStart()
{
    startImageCacheUpkeep();
}

void TavrinConnector::imageCacheCheck()
{
    imageCacheUpkeep();
}
