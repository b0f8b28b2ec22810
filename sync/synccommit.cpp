// The commit: its course from the uncommitted tables (collected and built by
// CommitBatch) to its answer (read on the thread pool, applied in slices by
// CommitAnswer), then the end of the commit.

#include "sync_p.h"

#include "synclog.h"
#include "tavrinconnector.h"

#include "commitanswer_p.h"
#include "commitbatch_p.h"

#include "jsoncodec.h"
#include "multipartformdata.h"
#include "networkconnector.h"
#include "serveroptions.h"

#include "database.h"

#include <QDebug>
#include <QHash>
#include <QMutexLocker>
#include <QThreadPool>

#include <limits>

using namespace locked;
using namespace sync_internal;

namespace sync_internal {

quint64 commitGeneration = 0;
quint64 sentGeneration = 0;
QString sentSession;
QString sentState;
qint64 sentSerial = 0;
int retriedAtOnce = 0;
bool syncStopped = false;
bool answerBusy = false;
Id counterOnDisk = 0;
QHash<QPair<int, int>, QString> heldBackFiles;
const QString downloadingPlaceholder = QStringLiteral("%downloading%");

bool forgotten(quint64 generation)
{
    return generation != commitGeneration || syncStopped || !Database::isOpen();
}

QUrl engineEndpoint()
{
    const QString fallback = defaultServerUrl() + QStringLiteral("/tavrin-engine");
    const QString configured = serverOptionValue(QStringLiteral("server")).toString().trimmed();
    return QUrl(configured.isEmpty() ? fallback : configured);
}

bool changesPending()
{
    StoreLock lock;
    if (!Database::isEmpty(storeTables().uncommittedCreateTable)
        || !Database::isEmpty(storeTables().uncommittedRemoveTable))
        return true;
    for (RowCursor cursor = Database::allRows(storeTables().uncommittedSetTable); cursor.next();) {
        const auto held = heldBackFiles.constFind({storeTables().uncommittedSetTable, cursor.row});
        if (held == heldBackFiles.cend())
            return true;
        // A held-back record counts again once its member names another file.
        const Id id = idFromVariant(Database::value(cursor, storeTables().uncommittedSetIdColumn));
        const QString member = Database::value(cursor, storeTables().uncommittedSetMemberColumn).toString();
        const int table = tableOfType(lock, storedItemType(lock, id));
        const int column = columnOf(lock, table, member);
        if (column < 0 || Database::value(table, rowOfItem(lock, table, id), column).toString() != held.value())
            return true;
    }
    return false;
}

bool oldCreatesTokened = false;

void tokenOldCreates()
{
    const int table = storeTables().uncommittedCreateTable;
    const int tokenColumn = storeTables().uncommittedCreateTokenColumn;
    QList<int> made;
    {
        StoreLock lock;
        for (RowCursor cursor = Database::allRows(table); cursor.next();) {
            if (Database::value(cursor, tokenColumn).toString().isEmpty()) {
                Database::setValue(table, cursor.row, tokenColumn, newCreateToken());
                made.append(cursor.row);
            }
        }
    }
    oldCreatesTokened = made.isEmpty() || Database::flush();
    if (oldCreatesTokened)
        return;
    // Sent with a token that is not on disk, a create could come back from a
    // crash with another one, and the service would make it twice.
    qCWarning(lcSync) << "Commit: the tokens of" << made.size() << "older creates could not be written to disk;"
                      << "they wait";
    StoreLock lock;
    for (const int row : std::as_const(made))
        Database::setValue(table, row, tokenColumn, QVariant());
}

bool isAcceptableFileAddress(const QString &text)
{
    if (text.isEmpty() || text.size() > maxFileAddressLength)
        return false;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QVariant withUtcTimes(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return value.toDateTime().isValid() ? QVariant(value.toDateTime().toUTC().toString(Qt::ISODateWithMs))
                                            : QVariant();
    case QMetaType::QVariantMap: {
        QVariantMap map = value.toMap();
        for (QVariant &entry : map)
            entry = withUtcTimes(entry);
        return map;
    }
    case QMetaType::QVariantList: {
        QVariantList list = value.toList();
        for (QVariant &entry : list)
            entry = withUtcTimes(entry);
        return list;
    }
    default:
        return value;
    }
}

QList<QPair<QString, QString>> credentialFields()
{
    const QString session = optionValue(QStringLiteral("session")).toString();
    if (session.isEmpty())
        return {{QStringLiteral("mail"), optionValue(QStringLiteral("mail")).toString()},
                {QStringLiteral("hash"), optionValue(QStringLiteral("hash")).toString()}};
    return {{QStringLiteral("session"), session},
            {QStringLiteral("session_key"), optionValue(QStringLiteral("session_key")).toString()}};
}

} // namespace sync_internal

namespace {

// The answer being applied, the commit generation it belongs to, and whether
// it brought a new session; null while none is.
std::shared_ptr<CommitAnswer> applying;
quint64 applyingGeneration = 0;
bool applyingRenewed = false;
std::function<void()> whenApplied;
qint64 applyLockNs = 0;
// The work of one slice under storeMutex; with the delivery of its notices it
// stays well under the 50 ms that a user notices.
constexpr int sliceBudgetMs = 10;
// And at most this many entries (translations, records, changes), so that
// other work gets its turns between slices however fast the machine is.
constexpr int sliceMaxEntries = 2000;

// "user", "session" and "session_key" of any answer that carries them.
// True when the answer brought a session other than the one sent.
bool takeSession(const QVariantMap &answer)
{
    Id user = 0;
    if (serverIdOf(answer.value(QStringLiteral("user")), &user))
        setOption(QStringLiteral("user"), QVariant(user));
    const QString session = answer.value(QStringLiteral("session")).toString();
    const QString key = answer.value(QStringLiteral("session_key")).toString();
    if (session.isEmpty() || session.size() > 256 || key.size() > 256)
        return false;
    setOption(QStringLiteral("session"), session);
    setOption(QStringLiteral("session_key"), key);
    return session != sentSession;
}

// Whether the commit being built in `generation` still goes.
bool stillBuilding(quint64 generation)
{
    return !forgotten(generation) && commitConnection == commitBeingBuilt;
}

// The commit's request, built, goes out, unless the commit was forgotten
// meanwhile (the flush did no harm then).
void postCommit(const std::shared_ptr<CommitBatch> &batch, quint64 generation)
{
    if (!stillBuilding(generation))
        return;
    {
        StoreLock lock;
        batch->settle(lock);
    }
    if (batch->counterWritten)
        counterOnDisk = qMin(counterOnDisk, batch->counter);
    serialSent();
    const ConnectionId id = NetworkConnector::instance()->post(engineEndpoint(), batch->form);
    if (!batch->uploads.isEmpty())
        transfersByConnection.insert(id, batch->uploads);
    sentSession = batch->session;
    sentState = batch->state;
    sentSerial = batch->serial;
    sentGeneration = generation;
    commitConnection = id;
}

// Collects the commit a slice at a time, back to the event loop in between;
// then the thread pool flushes the store and builds the request (its JSON and
// the files' bytes), and the GUI thread posts it.
void collectCommit(const std::shared_ptr<CommitBatch> &batch, quint64 generation)
{
    if (!stillBuilding(generation))
        return;
    if (!batch->collect(sliceBudgetMs)) {
        QMetaObject::invokeMethod(
            TavrinConnector::instance(), [batch, generation] { collectCommit(batch, generation); },
            Qt::QueuedConnection);
        return;
    }
    QThreadPool::globalInstance()->start([batch, generation] {
        batch->build();
        QMetaObject::invokeMethod(
            TavrinConnector::instance(), [batch, generation] { postCommit(batch, generation); },
            Qt::QueuedConnection);
    });
}

} // namespace

void TavrinConnector::startCommit()
{
    commitConnection = commitBeingBuilt;
    collectCommit(std::make_shared<CommitBatch>(), commitGeneration);
}

void TavrinConnector::readAnswer(const QByteArray &answer, std::function<void()> done)
{
    const quint64 generation = commitGeneration;
    // Reading a long answer takes a while: the thread pool does it.
    QThreadPool::globalInstance()->start([answer, generation, done = std::move(done)]() mutable {
        std::shared_ptr<CommitAnswer> read = CommitAnswer::read(answer);
        QMetaObject::invokeMethod(
            TavrinConnector::instance(),
            [read, generation, done = std::move(done)] {
                if (forgotten(generation)) {
                    answerBusy = false;
                    return;
                }
                applying = read;
                applyingGeneration = generation;
                done();
            },
            Qt::QueuedConnection);
    });
}

void TavrinConnector::finishCommit(bool error)
{
    const std::shared_ptr<CommitAnswer> answer = error ? nullptr : applying;
    if (!error && !answer->isObject())
        qCWarning(lcSync) << "Commit answer: not a JSON object; counted as a failure";
    int code = answer ? answer->resultCode() : 1;

    removeDuplicateServerOptions();
    applyingRenewed = answer && code != 2 && takeSession(answer->head());
    if (code != 0) {
        // Nothing of a failed commit was applied: every record stays.
        {
            StoreLock lock;
            sentRows(lock).clear();
            sentCreates.clear();
        }
        applying.reset();
        endCommit(code);
        return;
    }
    whenApplied = [this] { endCommit(0); };
    applyNextSlice();
}

void TavrinConnector::applyNextSlice()
{
    // A reset or a stop forgot the commit: the rest of its answer goes too.
    if (!applying || forgotten(applyingGeneration)) {
        applying.reset();
        answerBusy = false;
        return;
    }
    const std::shared_ptr<CommitAnswer> answer = applying;
    if (!answer->applySlice(sliceBudgetMs, sliceMaxEntries)) {
        // Back to the event loop; the next slice follows at once.
        QMetaObject::invokeMethod(this, &TavrinConnector::applyNextSlice, Qt::QueuedConnection);
        return;
    }
    applyLockNs = answer->lockNanoseconds();
    if (answer->appliedChanges() > 0)
        lastServerChange = QDateTime::currentDateTime();
    if (applyingGeneration != commitGeneration) {
        applying.reset();
        answerBusy = false;
        return;
    }
    const std::function<void()> done = std::exchange(whenApplied, {});
    if (done)
        done();
    applying.reset();
}

void TavrinConnector::endCommit(int code)
{
    // Watchers and receivers called from here may reset the store.
    const quint64 generation = commitGeneration;
    bool more = code == 0 && applying && applying->hasMore();
    // A page must move "state" forward: otherwise the next poll would bring
    // the same page again, at once and for ever.
    if (more && !applying->movesStateFrom(sentState)) {
        qCWarning(lcSync) << "Commit answer: \"more\" without a \"state\" past" << sentState.left(64)
                          << "or with a change list that is not an array; the rest waits for the next poll";
        more = false;
    }
    commitConnection = 0;
    if (code == 2) {
        setOption(QStringLiteral("session"), QString());
        setOption(QStringLiteral("session_key"), QString());
    }
    Database::startSingleFlush();

    commitFailures = code == 0 ? 0 : commitFailures + 1;
    if (code == 4)
        emitWrongVersion();

    // A paged answer fetches the next page at once. A new session (a log-in)
    // while changes wait, and a clash of the store id (under the new one),
    // send the commit again at once: each kind once in a round.
    const bool again = code == 0 && (commitAgain || more);
    // The service has the serial: the next commit takes the next one, or
    // the one after the last the service took of this store when that is
    // later (this commit was one sent again after a crash). After any other
    // answer (or none) the next commit sends this one again.
    if (code == 0) {
        Id last = 0;
        const QVariant told = applying ? applying->head().value(QStringLiteral("serial")) : QVariant();
        const bool known = wholeNumberOf(told, &last) && last >= 1 && last <= maxCommitSerial;
        if (!known && !isNullValue(told))
            qCWarning(lcSync) << "Commit answer: ignored the serial" << shortText(told) << ": not from 1 to"
                              << maxCommitSerial;
        acknowledgeSerial(known && last > sentSerial ? last : sentSerial);
    }
    if (code == 5) {
        qCWarning(lcSync) << "Commit: the service found this store id in use by another copy of the data folder (or"
                          << "an older one)";
        renewStoreId();
    }
    const bool clashRetry = code == 5 && !(retriedAtOnce & ClashRetry);
    const bool sessionRetry =
        code != 5 && applyingRenewed && !(retriedAtOnce & SessionRetry) && changesPending();
    retriedAtOnce |= (clashRetry ? ClashRetry : 0) | (sessionRetry ? SessionRetry : 0);
    const bool retry = clashRetry || sessionRetry;
    if (!retry && !again)
        retriedAtOnce = 0;
    commitAgain = false;
    // Only now: a receiver may commit, reset or read the commit state, and
    // must find this answer wholly applied and its records settled.
    emit commitFinishedSignal(code == 0);
    if ((again || retry) && generation == commitGeneration)
        commit();
}

bool TavrinConnector::applyCommitAnswer(const QByteArray &answer)
{
    const std::shared_ptr<CommitAnswer> read = CommitAnswer::read(answer);
    if (!read->isObject()) {
        qCWarning(lcSync) << "Commit answer: not a JSON object";
        return false;
    }
    takeSession(read->head());
    while (!read->applySlice(std::numeric_limits<int>::max() / 1000000)) {
    }
    applyLockNs = read->lockNanoseconds();
    if (read->appliedChanges() > 0)
        lastServerChange = QDateTime::currentDateTime();
    Database::startSingleFlush();
    return true;
}

bool TavrinConnector::applyCommitAnswerInSlices(const QByteArray &answer)
{
    if (answerBusy || isCommitRunning())
        return false;
    answerBusy = true;
    readAnswer(answer, [this] {
        if (!applying->isObject()) {
            qCWarning(lcSync) << "Commit answer: not a JSON object";
            applying.reset();
            answerBusy = false;
            emit answerAppliedSignal(false);
            return;
        }
        takeSession(applying->head());
        whenApplied = [this] {
            answerBusy = false;
            Database::startSingleFlush();
            emit answerAppliedSignal(true);
            if (commitAgain)
                commit();
        };
        applyNextSlice();
    });
    return true;
}

bool TavrinConnector::isApplyingAnswer()
{
    return answerBusy || applying != nullptr;
}

double TavrinConnector::lastApplyLockSeconds()
{
    return double(applyLockNs) / 1e9;
}
