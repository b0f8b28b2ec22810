// The commit: building the request from the uncommitted tables, and the
// course of its answer (read on the thread pool, applied in slices by
// CommitAnswer, then the end of the commit).

#include "sync_p.h"

#include "synclog.h"
#include "tavrinconnector.h"

#include "commitanswer_p.h"

#include "jsoncodec.h"
#include "multipartformdata.h"
#include "networkconnector.h"
#include "serveroptions.h"

#include "database.h"

#include <QDebug>
#include <QHash>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QThreadPool>

#include <limits>

using namespace locked;
using namespace sync_internal;

namespace sync_internal {

quint64 commitGeneration = 0;
quint64 sentGeneration = 0;
QString sentSession;
QString sentState;
int retriedAtOnce = 0;
bool syncStopped = false;
bool answerBusy = false;
Id counterOnDisk = 0;
bool counterFlushing = false;
bool counterFlushEnded = false;
QHash<QPair<int, int>, QString> heldBackFiles;
const QString downloadingPlaceholder = QStringLiteral("%downloading%");

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

QString storeId()
{
    const QString name = QStringLiteral("store_id");
    const QString known = optionValue(name).toString();
    if (!known.isEmpty())
        return known;
    QByteArray raw(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(raw.data()), int(raw.size() / 4));
    const QString made = QString::fromLatin1(raw.toHex());
    setOption(name, made);
    if (!Database::flush())
        qCWarning(lcSync) << "The store id could not be written to disk yet";
    return made;
}

void renewStoreId()
{
    qCWarning(lcSync) << "Commit: the service knows this store id from another copy of the data folder;"
                      << "taking a new one, sending the waiting creates again and reading the whole account";
    setOption(QStringLiteral("store_id"), QString());
    // Answers left out what the other copy sent under the old id, as this
    // store's own: the next answer brings the whole account.
    setOption(QStringLiteral("state"), QVariant(qint64(0)));
    storeId();
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

bool persistIdCounter()
{
    const Id counter = idFromVariant(optionValue(QStringLiteral("itemAutodecrement"), 0));
    if (counter >= counterOnDisk || Database::isEmpty(storeTables().uncommittedCreateTable))
        return true;
    if (counterFlushing)
        return false;
    // The commit that follows a counter's flush goes whatever was created
    // meanwhile (those creates wait for the next one), and so does the one
    // after a failed flush, so that a store that cannot write still polls.
    if (counterFlushEnded)
        return true;
    // The flush takes every change made before it was asked for, the counter
    // among them. A pool thread waits for the writer, never the GUI thread;
    // the commit follows once the counter is on disk.
    counterFlushing = true;
    const quint64 generation = commitGeneration;
    QThreadPool::globalInstance()->start([counter, generation] {
        const bool written = Database::flush();
        QMetaObject::invokeMethod(
            TavrinConnector::instance(),
            [counter, generation, written] {
                counterFlushing = false;
                if (generation != commitGeneration)
                    return; // another store, or the engine stopped: its own flush counts
                if (written)
                    counterOnDisk = qMin(counterOnDisk, counter);
                else
                    qCWarning(lcSync) << "Commit: the local id counter could not be written to disk; creates wait";
                counterFlushEnded = true;
                TavrinConnector::instance()->commit();
                counterFlushEnded = false;
            },
            Qt::QueuedConnection);
    });
    return false;
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

void addCredentials(MultipartFormData &form)
{
    const QString session = optionValue(QStringLiteral("session")).toString();
    if (session.isEmpty()) {
        form.addField(QStringLiteral("mail"), optionValue(QStringLiteral("mail")).toString());
        form.addField(QStringLiteral("hash"), optionValue(QStringLiteral("hash")).toString());
    } else {
        form.addField(QStringLiteral("session"), session);
        form.addField(QStringLiteral("session_key"), optionValue(QStringLiteral("session_key")).toString());
    }
}

} // namespace sync_internal

namespace {

const QString idName = QStringLiteral("id");

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

// A stored date-time, whichever form the store holds it in: a QDateTime as
// written, or the ISO text it reads back after a restart (with an offset, or
// without one for local time). Invalid when it is neither.
QDateTime storedTime(const QVariant &stored)
{
    if (stored.typeId() == QMetaType::QDateTime)
        return stored.toDateTime();
    if (stored.typeId() == QMetaType::QString)
        return QDateTime::fromString(stored.toString().trimmed(), Qt::ISODateWithMs);
    return QDateTime();
}

// A time as the service reads it: ISO 8601 in UTC with milliseconds.
QString wireTime(const QVariant &stored)
{
    QDateTime time = storedTime(stored);
    if (!time.isValid())
        time = QDateTime::currentDateTime();
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// A member's stored value as it travels: ids as integers, times in UTC with
// milliseconds and their offset (the JSON writer would drop both).
QVariant wireValue(int table, const QString &member, const QVariant &cell)
{
    if (isNullValue(cell))
        return QVariant();
    if (isIdMember(member))
        return QVariant(idFromVariant(cell));
    if (isDateTimeColumn(table, member)) {
        const QDateTime time = storedTime(cell);
        if (time.isValid())
            return time.toUTC().toString(Qt::ISODateWithMs);
        if (!cell.toString().isEmpty())
            qCWarning(lcSync) << "Commit:" << member << "holds" << shortText(cell) << ", not a date-time; sent as stored";
    }
    return withUtcTimes(cell);
}

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

// The file name a file part carries: the stored name, with the characters a
// form header cannot hold replaced, so that a name from an older or foreign
// data folder does not keep its file from being sent (the service takes only
// the extension from it).
QString partFileName(const QString &stored)
{
    QString name = stored;
    for (QChar &c : name) {
        if (c == u'"' || c == u'\r' || c == u'\n' || c == QChar(0))
            c = u'_';
    }
    return name;
}

} // namespace

ConnectionId TavrinConnector::sendCommit()
{
    const QString session = optionValue(QStringLiteral("session")).toString();

    MultipartFormData form;
    form.addField(QStringLiteral("action"), QStringLiteral("commit"));
    form.addField(QStringLiteral("version"), engineVersion());
    addCredentials(form);
    form.addField(QStringLiteral("store"), storeId());
    const QString state = optionValue(QStringLiteral("state"), 0).toString();
    form.addField(QStringLiteral("state"), state);

    QVariantList creates, sets, removes;
    QSet<Id> uploads;
    struct FilePart
    {
        QString field, name;
        QByteArray data;
    };
    QList<FilePart> files;
    {
        StoreLock lock;
        sentRows(lock).clear();
        sentCreates.clear();
        heldBackFiles.clear();
        // Without a session the commit is the log-in and carries nothing: the
        // service keys the creates by session.
        if (!session.isEmpty()) {
            RowCursor cursor = Database::allRows(storeTables().uncommittedCreateTable);
            while (cursor.next()) {
                const Id id = idFromVariant(Database::value(cursor, storeTables().uncommittedCreateIdColumn));
                // A local id whose counter has not reached the disk yet waits.
                if (id < 0 && id < counterOnDisk)
                    continue;
                // So does one whose token has not reached the disk.
                const QString token =
                    Database::value(cursor, storeTables().uncommittedCreateTokenColumn).toString();
                if (id < 0 && token.isEmpty())
                    continue;
                sentRows(lock).insert({storeTables().uncommittedCreateTable, cursor.row});
                // A positive id is known to the service already (translated
                // while this record waited): only the record goes.
                const QString type = id < 0 ? storedItemType(lock, id) : QString();
                if (type.isEmpty())
                    continue;
                creates.append(QVariantMap {
                    {idName, QVariant(id)}, {QStringLiteral("type"), type}, {QStringLiteral("token"), token}});
                sentCreates.insert(id);
            }

            const qint64 limit = fileLimit();
            cursor = Database::allRows(storeTables().uncommittedSetTable);
            while (cursor.next()) {
                const Id id = idFromVariant(Database::value(cursor, storeTables().uncommittedSetIdColumn));
                const QString member = Database::value(cursor, storeTables().uncommittedSetMemberColumn).toString();
                const int table = tableOfType(lock, storedItemType(lock, id));
                const int column = columnOf(lock, table, member);
                const int row = rowOfItem(lock, table, id);
                if (column < 0 || row <= 0 || member == idName) {
                    sentRows(lock).insert({storeTables().uncommittedSetTable, cursor.row}); // stale record
                    continue;
                }
                if (id < 0 && !sentCreates.contains(id))
                    continue; // its item is not created yet: the set goes with the create
                const QVariant cell = Database::value(table, row, column);
                if (isFileMember(member)) {
                    const QString name = cell.toString();
                    if (name == downloadingPlaceholder) {
                        sentRows(lock).insert({storeTables().uncommittedSetTable, cursor.row});
                        continue;
                    }
                    if (!name.isEmpty()) {
                        if (!Database::fileExists(name)) {
                            qCWarning(lcSync) << "Commit: the file" << name << "of item" << id << "is gone; not sent";
                            sentRows(lock).insert({storeTables().uncommittedSetTable, cursor.row});
                            continue;
                        }
                        if (Database::fileSize(name) > limit) {
                            // Held back (the record stays) until the account allows it.
                            Database::insertUnique(storeTables().tooBigFilesTable,
                                Conditions {{storeTables().tooBigFilesIdColumn, QVariant(id)},
                                    {storeTables().tooBigFilesMemberColumn, member},
                                    {storeTables().tooBigFilesFileColumn, name}});
                            heldBackFiles.insert({storeTables().uncommittedSetTable, cursor.row}, name);
                            continue;
                        }
                        const QByteArray bytes = Database::fileData(name);
                        if (bytes.isEmpty()) {
                            // Unreadable for now: an empty upload would replace
                            // the service's copy, so the record waits.
                            qCWarning(lcSync) << "Commit: the file" << name << "of item" << id
                                       << "cannot be read; kept for a later commit";
                            heldBackFiles.insert({storeTables().uncommittedSetTable, cursor.row}, name);
                            continue;
                        }
                        files.append({QStringLiteral("file:%1:%2").arg(id).arg(member), partFileName(name), bytes});
                        uploads.insert(toLocalId(lock, id));
                    }
                }
                sets.append(QVariantMap {{idName, QVariant(id)}, {QStringLiteral("member"), member},
                    {QStringLiteral("value"), wireValue(table, member, cell)},
                    {QStringLiteral("modified"),
                        wireTime(Database::value(cursor, storeTables().uncommittedSetModifiedColumn))}});
                sentRows(lock).insert({storeTables().uncommittedSetTable, cursor.row});
            }

            cursor = Database::allRows(storeTables().uncommittedRemoveTable);
            while (cursor.next()) {
                removes.append(
                    QVariant(idFromVariant(Database::value(cursor, storeTables().uncommittedRemoveIdColumn))));
                sentRows(lock).insert({storeTables().uncommittedRemoveTable, cursor.row});
            }
        }
    }
    form.addField(QStringLiteral("create"), JsonCodec::serialize(creates));
    form.addField(QStringLiteral("set"), JsonCodec::serialize(sets));
    form.addField(QStringLiteral("remove"), JsonCodec::serialize(removes));
    for (const FilePart &file : std::as_const(files)) {
        if (!form.addFile(file.field, file.name, file.data))
            qCWarning(lcSync) << "Commit: the file part" << file.field << "could not be added";
    }

    const ConnectionId id = NetworkConnector::instance()->post(engineEndpoint(), form);
    if (!uploads.isEmpty())
        transfersByConnection.insert(id, uploads);
    sentSession = session;
    sentState = state;
    sentGeneration = commitGeneration;
    return id;
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
                if (generation != commitGeneration || syncStopped || !Database::isOpen()) {
                    answerBusy = false;
                    return; // the commit was forgotten meanwhile
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
        bool carriedCreates = false;
        {
            StoreLock lock;
            carriedCreates = !sentCreates.isEmpty();
            sentRows(lock).clear();
            sentCreates.clear();
        }
        // Only a create can clash with the store id.
        if (code == 5 && !carriedCreates) {
            qCWarning(lcSync) << "Commit answer: a store id clash for a commit without creates; counted as an error";
            code = 1;
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
    if (!applying || applyingGeneration != commitGeneration || syncStopped || !Database::isOpen()) {
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
    if (code == 5)
        renewStoreId();
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
