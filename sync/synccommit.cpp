// The commit: building the request from the uncommitted tables, and applying
// the service's answer (id translations, remote changes, sync state).

#include "sync_p.h"
#include "tavrinconnector.h"

#include "downloads.h"
#include "engine_p.h"
#include "engineglobals.h"
#include "jsoncodec.h"
#include "multipartformdata.h"
#include "networkconnector.h"
#include "serveroptions.h"
#include "watcher.h"

#include "database.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QHash>
#include <QSqlField>
#include <QMutexLocker>
#include <QRandomGenerator>

#include <limits>

using namespace engine_internal;
using namespace sync_internal;

namespace sync_internal {

quint64 commitGeneration = 0;
quint64 sentGeneration = 0;
QString sentSession;
bool renewalRetry = false;
bool syncStopped = false;
Id counterOnDisk = 0;
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
    QMutexLocker lock(&storeMutex);
    if (!Database::isEmpty(uncommittedCreateTable) || !Database::isEmpty(uncommittedRemoveTable))
        return true;
    for (RowCursor cursor = Database::allRows(uncommittedSetTable); cursor.next();) {
        const auto held = heldBackFiles.constFind({uncommittedSetTable, cursor.row});
        if (held == heldBackFiles.cend())
            return true;
        // A held-back record counts again once its member names another file.
        const Id id = idFromVariant(Database::value(cursor, uncommittedSetIdColumn));
        const QString member = Database::value(cursor, uncommittedSetMemberColumn).toString();
        const int table = tableOfType(storedItemType(id));
        const int column = columnOf(table, member);
        if (column < 0 || Database::value(table, rowOfItem(table, id), column).toString() != held.value())
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
        qWarning() << "The store id could not be written to disk yet";
    return made;
}

bool persistIdCounter()
{
    const Id counter = idFromVariant(optionValue(QStringLiteral("itemAutodecrement"), 0));
    if (counter >= counterOnDisk || Database::isEmpty(uncommittedCreateTable))
        return true;
    if (!Database::flush()) {
        qWarning() << "Commit: the local id counter could not be written to disk; creates wait";
        return false;
    }
    counterOnDisk = counter;
    return true;
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
qint64 applyLockNs = 0;

// A change the watchers hear of once storeMutex has been released.
struct Notice
{
    enum Kind { Created, Changed, Removed };
    Kind kind;
    Id id;
    QString text; // type (Created) or member (Changed)
    QVariantMap before;
    QVariant value;
};

void deliver(const QList<Notice> &notices)
{
    for (const Notice &notice : notices) {
        switch (notice.kind) {
        case Notice::Created:
            notifyItemCreated(notice.id, notice.text);
            break;
        case Notice::Changed:
            notifyMemberChanged(notice.id, notice.before, notice.text, notice.value);
            break;
        case Notice::Removed:
            notifyItemRemoved(notice.id, notice.before);
            break;
        }
    }
}

// A time as the service reads it: ISO 8601 in UTC with milliseconds.
QString wireTime(const QVariant &stored)
{
    QDateTime time = stored.toDateTime();
    if (stored.typeId() == QMetaType::QString)
        time = QDateTime::fromString(stored.toString(), Qt::ISODateWithMs);
    if (!time.isValid())
        time = QDateTime::currentDateTime();
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// A member's stored value as it travels: ids as integers, times in UTC with
// milliseconds and their offset (the JSON writer would drop both).
QVariant wireValue(const QString &member, const QVariant &cell)
{
    if (isNullValue(cell))
        return QVariant();
    if (isIdMember(member))
        return QVariant(idFromVariant(cell));
    if (cell.typeId() == QMetaType::QDateTime)
        return QVariant(cell.toDateTime().toUTC().toString(Qt::ISODateWithMs));
    return cell;
}

// Whether a column of a synchronised table holds date-times.
bool isDateTimeColumn(const QString &type, const QString &member)
{
    static QSet<QString> columns;
    if (columns.isEmpty()) {
        const ParsedSchema schema = Database::schema();
        for (const auto &[table, fields] : schema) {
            for (const QSqlField &field : fields) {
                if (field.metaType() == QMetaType::fromType<QDateTime>())
                    columns.insert(table + u'.' + field.name());
            }
        }
    }
    return columns.contains(type + u'.' + member);
}

// An id of an answer entry: a whole number (or its text) above 0.
bool serverIdOf(const QVariant &value, Id *out)
{
    bool ok = false;
    const Id id = isNullValue(value) ? 0 : idFromVariant(value, &ok);
    if (!ok || id <= 0)
        return false;
    *out = id;
    return true;
}

QString shortText(const QVariant &value)
{
    return value.toString().left(120);
}

// Every (table, column) whose cells hold item ids: the id members of the
// synced tables and of the engine's own bookkeeping tables.
QList<QPair<int, int>> idColumns()
{
    QList<int> tables;
    for (const QString &name : syncedTables)
        tables.append(Database::tableId(name));
    tables << itemsTable << uncommittedCreateTable << uncommittedSetTable << uncommittedRemoveTable
           << downloadsTable << dirtSkrinTable << tooBigFilesTable;
    QList<QPair<int, int>> result;
    for (const int table : std::as_const(tables)) {
        if (table < 0)
            continue;
        const QStringList columns = Database::columnNames(table);
        for (int column = 0; column < columns.size(); ++column) {
            if (isIdMember(columns.at(column)))
                result.append({table, column});
        }
    }
    return result;
}

// Rewrites every stored occurrence of the local ids to their server ids.
// Indexed columns are read through their value index over the span of the
// local ids (only local items hold ids in it), others in one pass. storeMutex
// held.
void rewriteIds(const QHash<Id, Id> &translation)
{
    if (translation.isEmpty())
        return;
    Id low = std::numeric_limits<Id>::max();
    Id high = std::numeric_limits<Id>::min();
    for (auto it = translation.cbegin(); it != translation.cend(); ++it) {
        low = qMin(low, it.key());
        high = qMax(high, it.key());
    }
    // Ids are stored as 64-bit integers, so the span holds exactly the cells
    // from the lowest to the highest local id (not the many 0 and null cells
    // just above the local ids).
    const QVariant from(low);
    const QVariant to(high);

    const QList<QPair<int, int>> columns = idColumns();
    for (const auto &[table, column] : columns) {
        const RowCursor candidates = Database::hasColumnIndex(table, column)
                                         ? Database::selectBetween(table, column, from, to)
                                         : Database::allRows(table);
        for (const int row : candidates.rows) {
            bool ok = false;
            const Id stored = idFromVariant(Database::value(table, row, column), &ok);
            if (!ok)
                continue;
            const auto found = translation.constFind(stored);
            if (found != translation.cend())
                Database::setValue(table, row, column, QVariant(found.value()));
        }
    }

    // A thumbnail job that claimed a screenshot under its local id must find
    // its claim under the id the rows now carry.
    QSet<ThumbnailClaim> claims;
    for (const ThumbnailClaim &claim : std::as_const(thumbnailsInProgress))
        claims.insert({claim.first, translation.value(claim.second, claim.second)});
    thumbnailsInProgress = claims;
}

// The translations of the answer that are sound: a local id of a create in
// flight, not translated before, to a positive id that no item has yet.
QHash<Id, Id> validTranslations(const QVariant &entry)
{
    QHash<Id, Id> result;
    if (isNullValue(entry))
        return result;
    if (entry.typeId() != QMetaType::QVariantMap) {
        qWarning() << "Commit answer: ignored a \"translate\" that is not an object";
        return result;
    }
    const QVariantMap map = entry.toMap();
    QSet<Id> taken;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        bool keyOk = false;
        const Id local = it.key().trimmed().toLongLong(&keyOk);
        if (!keyOk || !sentCreates.contains(local) || tempIdToServerId.contains(local)) {
            qWarning() << "Commit answer: ignored the translation of" << it.key().left(60)
                       << ": not a local id this commit created";
            continue;
        }
        Id server = 0;
        // An id whose removal waits here is taken too: that removal would
        // strike the new item.
        if (!serverIdOf(it.value(), &server) || taken.contains(server) || serverIdToTempId.contains(server)
            || Database::findRow(itemsTable, itemsIdColumn, QVariant(server)) > 0
            || Database::findRow(uncommittedRemoveTable, uncommittedRemoveIdColumn, QVariant(server)) > 0) {
            qWarning() << "Commit answer: ignored the translation" << local << "->" << shortText(it.value())
                       << ": not a new positive id";
            continue;
        }
        taken.insert(server);
        result.insert(local, server);
    }
    return result;
}

// Removes the rows the commit carried, except the records of creates the
// answer did not translate (and of their members): those go again next time.
void dropSentRows(const QHash<Id, Id> &translation)
{
    QSet<Id> untranslated;
    for (const Id local : std::as_const(sentCreates)) {
        if (!translation.contains(local))
            untranslated.insert(local);
    }
    for (const TableRow &sent : std::as_const(sentRows)) {
        int idColumn = -1;
        if (sent.first == uncommittedCreateTable)
            idColumn = uncommittedCreateIdColumn;
        else if (sent.first == uncommittedSetTable)
            idColumn = uncommittedSetIdColumn;
        if (idColumn >= 0 && !untranslated.isEmpty()
            && untranslated.contains(idFromVariant(Database::value(sent.first, sent.second, idColumn))))
            continue;
        Database::removeRow(sent.first, sent.second);
    }
    sentRows.clear();
    sentCreates.clear();
}

class RemoteChanges
{
public:
    QList<Notice> notices;
    int applied = 0;

    void create(const QVariant &entry);
    void set(const QVariant &entry);
    void remove(const QVariant &entry);

private:
    void setFileMember(Id id, int table, int row, int column, const QString &member, const QVariant &value,
                       const QVariantMap &before);
};

void RemoteChanges::create(const QVariant &entry)
{
    const QVariantMap map = entry.toMap();
    Id id = 0;
    const QString type = map.value(QStringLiteral("type")).toString();
    if (!serverIdOf(map.value(idName), &id) || !syncedTables.contains(type)) {
        qWarning() << "Commit answer: ignored the create of" << shortText(map.value(idName)) << "as"
                   << type.left(60) << ": not a server id and a synchronised type";
        return;
    }
    const int table = tableOfType(type);
    // Known already (a whole-account answer), or removed here and not yet
    // committed: the local state stands.
    if (table < 0 || !storedItemType(id).isEmpty()
        || Database::findRow(uncommittedRemoveTable, uncommittedRemoveIdColumn, QVariant(id)) > 0)
        return;
    Database::insertRow(itemsTable, {{itemsIdColumn, QVariant(id)},
                                     {itemsTypeColumn, QVariant(type)},
                                     {itemsOwnerColumn, QVariant(qint64(0))}});
    Database::insertRow(table, {{columnOf(table, idName), QVariant(id)}});
    notices.append({Notice::Created, id, type, {}, {}});
    ++applied;
}

void RemoteChanges::set(const QVariant &entry)
{
    const QVariantMap map = entry.toMap();
    Id id = 0;
    const QString member = map.value(QStringLiteral("member")).toString();
    const QVariant value = map.value(QStringLiteral("value"));
    if (!serverIdOf(map.value(idName), &id)) {
        qWarning() << "Commit answer: ignored a set of" << shortText(map.value(idName)) << ": not a server id";
        return;
    }
    const QString type = storedItemType(id);
    const int table = tableOfType(type);
    const int column = columnOf(table, member);
    if (table < 0 || member == idName || column < 0) {
        if (!type.isEmpty())
            qWarning() << "Commit answer: ignored a set of" << member.left(60) << "of item" << id
                       << ": not a member that can be set";
        return; // an item this client does not hold: nothing to change
    }
    if (value.typeId() == QMetaType::QVariantMap || value.typeId() == QMetaType::QVariantList) {
        qWarning() << "Commit answer: ignored a set of" << member << "of item" << id << ": not a plain value";
        return;
    }
    QVariant toStore = value;
    if (isIdMember(member)) {
        bool ok = false;
        const Id target = idFromVariant(value, &ok);
        if (!ok || target < 0) {
            qWarning() << "Commit answer: ignored" << member << "=" << shortText(value) << "of item" << id
                       << ": not a server id";
            return;
        }
        toStore = QVariant(target);
    }
    if (isFileMember(member) && !isNullValue(value) && !value.toString().isEmpty()
        && !isAcceptableFileAddress(value.toString())) {
        qWarning() << "Commit answer: ignored" << member << "of item" << id
                   << ": not an http(s) address of at most 1024 characters:" << shortText(value);
        return;
    }

    if (isDateTimeColumn(type, member) && value.typeId() == QMetaType::QString && !value.toString().isEmpty()) {
        // Either form: with an offset (UTC or another) or without (local time).
        const QDateTime time = QDateTime::fromString(value.toString().trimmed(), Qt::ISODateWithMs);
        if (!time.isValid()) {
            qWarning() << "Commit answer: ignored" << member << "=" << shortText(value) << "of item" << id
                       << ": not an ISO 8601 date-time";
            return;
        }
        toStore = QVariant(time.toLocalTime());
    }

    // The service orders sets by their arrival: a local change of the member
    // still to be sent reaches it later and wins there, so it stands here too.
    RowCursor local = Database::select(uncommittedSetTable, uncommittedSetIdColumn, QVariant(id));
    while (local.next()) {
        if (cellEquals(Database::value(local, uncommittedSetMemberColumn), member))
            return;
    }

    const int row = rowOfItem(table, id);
    const QVariantMap before = readItemLocked(id, false, false);
    if (isFileMember(member)) {
        setFileMember(id, table, row, column, member, toStore, before);
        return;
    }
    if (Database::setValue(table, row, column, toStore)) {
        notices.append({Notice::Changed, id, member, before, toStore});
        ++applied;
    }
}

void RemoteChanges::setFileMember(Id id, int table, int row, int column, const QString &member,
                                  const QVariant &value, const QVariantMap &before)
{
    const QString oldFile = Database::value(table, row, column).toString();
    dropPendingDownloads(id, member);
    const QString address = value.toString();
    bool changed = true;
    if (address.isEmpty()) {
        changed = Database::setValue(table, row, column, value);
    } else {
        // A new address to fetch, even when the member waited for another one.
        Database::insertRow(downloadsTable, {{downloadsUrlColumn, QVariant(address)},
                                             {downloadsIdColumn, QVariant(id)},
                                             {downloadsMemberColumn, QVariant(member)}});
        Database::setValue(table, row, column, QVariant(downloadingPlaceholder));
    }
    if (oldFile != downloadingPlaceholder)
        removeFileIfUnreferenced(oldFile);
    if (changed) {
        // Readers see a waiting file member as null until its file arrives.
        notices.append({Notice::Changed, id, member, before, address.isEmpty() ? value : QVariant()});
        ++applied;
    }
}

void RemoteChanges::remove(const QVariant &entry)
{
    Id id = 0;
    if (!serverIdOf(entry, &id)) {
        qWarning() << "Commit answer: ignored the removal of" << shortText(entry) << ": not a server id";
        return;
    }
    const QString type = storedItemType(id);
    const int table = tableOfType(type);
    if (table < 0)
        return;
    const QVariantMap before = readItemLocked(id, false, false);
    removeStoredItemRows(id, type);
    // Whatever was pending for it here is moot now.
    removeRowsWithId(uncommittedSetTable, uncommittedSetIdColumn, id);
    removeRowsWithId(uncommittedCreateTable, uncommittedCreateIdColumn, id);
    removeRowsWithId(uncommittedRemoveTable, uncommittedRemoveIdColumn, id);
    removeRowsWithId(tooBigFilesTable, tooBigFilesIdColumn, id);
    notices.append({Notice::Removed, id, type, before, {}});
    ++applied;
}

QVariantList listOf(const QVariantMap &answer, const char *key)
{
    const QVariant value = answer.value(QLatin1String(key));
    if (isNullValue(value))
        return {};
    if (value.typeId() != QMetaType::QVariantList) {
        qWarning() << "Commit answer: ignored" << key << ": not a list";
        return {};
    }
    return value.toList();
}

// The sync state marker is kept as sent: a number or a short text.
bool isPlainState(const QVariant &state)
{
    switch (state.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
        return true;
    case QMetaType::QString:
        return state.toString().size() <= 64;
    default:
        return false;
    }
}

// Applies a result-0 answer. storeMutex is taken here.
QList<Notice> applyAnswer(const QVariantMap &answer, int *remoteChanges)
{
    RemoteChanges remote;
    QElapsedTimer held;
    {
        QMutexLocker lock(&storeMutex);
        held.start();
        const QHash<Id, Id> translation = validTranslations(answer.value(QStringLiteral("translate")));
        rewriteIds(translation);
        for (auto it = translation.cbegin(); it != translation.cend(); ++it) {
            tempIdToServerId.insert(it.key(), it.value());
            serverIdToTempId.insert(it.value(), it.key());
        }
        dropSentRows(translation);

        const QVariantList creates = listOf(answer, "create");
        for (const QVariant &entry : creates)
            remote.create(entry);
        const QVariantList sets = listOf(answer, "set");
        for (const QVariant &entry : sets)
            remote.set(entry);
        const QVariantList removes = listOf(answer, "remove");
        for (const QVariant &entry : removes)
            remote.remove(entry);

        const QVariant state = answer.value(QStringLiteral("state"));
        if (isPlainState(state))
            setOption(QStringLiteral("state"), state);
        else if (!isNullValue(state))
            qWarning() << "Commit answer: ignored a \"state\" that is not a number or a short text";
        applyLockNs = held.nsecsElapsed();
    }
    if (remoteChanges)
        *remoteChanges = remote.applied;
    return remote.notices;
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

int resultCodeOf(const QVariantMap &answer)
{
    bool ok = false;
    const QVariant result = answer.value(QStringLiteral("result"));
    const qint64 code = result.typeId() == QMetaType::LongLong || result.typeId() == QMetaType::Int
                            ? result.toLongLong(&ok)
                            : -1;
    return ok && code >= 0 && code <= 4 ? int(code) : 1;
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

QVariantMap parseAnswer(const QByteArray &answer, bool *ok)
{
    bool parsed = false;
    const QVariant value = answer.isEmpty() ? QVariant() : JsonCodec::parse(QString::fromUtf8(answer), &parsed);
    *ok = parsed && value.typeId() == QMetaType::QVariantMap;
    return *ok ? value.toMap() : QVariantMap();
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
    form.addField(QStringLiteral("state"), optionValue(QStringLiteral("state"), 0).toString());

    QVariantList creates, sets, removes;
    QSet<Id> uploads;
    struct FilePart
    {
        QString field, name;
        QByteArray data;
    };
    QList<FilePart> files;
    {
        QMutexLocker lock(&storeMutex);
        sentRows.clear();
        sentCreates.clear();
        heldBackFiles.clear();
        // Without a session the commit is the log-in and carries nothing: the
        // service keys the creates by session.
        if (!session.isEmpty()) {
            RowCursor cursor = Database::allRows(uncommittedCreateTable);
            while (cursor.next()) {
                const Id id = idFromVariant(Database::value(cursor, uncommittedCreateIdColumn));
                // A local id whose counter has not reached the disk yet waits.
                if (id < 0 && id < counterOnDisk)
                    continue;
                sentRows.insert({uncommittedCreateTable, cursor.row});
                // A positive id is known to the service already (translated
                // while this record waited): only the record goes.
                const QString type = id < 0 ? storedItemType(id) : QString();
                if (type.isEmpty())
                    continue;
                creates.append(QVariantMap{{idName, QVariant(id)}, {QStringLiteral("type"), type}});
                sentCreates.insert(id);
            }

            const qint64 limit = fileLimit();
            cursor = Database::allRows(uncommittedSetTable);
            while (cursor.next()) {
                const Id id = idFromVariant(Database::value(cursor, uncommittedSetIdColumn));
                const QString member = Database::value(cursor, uncommittedSetMemberColumn).toString();
                const int table = tableOfType(storedItemType(id));
                const int column = columnOf(table, member);
                const int row = rowOfItem(table, id);
                if (column < 0 || row <= 0 || member == idName) {
                    sentRows.insert({uncommittedSetTable, cursor.row}); // stale record
                    continue;
                }
                if (id < 0 && !sentCreates.contains(id))
                    continue; // its item is not created yet: the set goes with the create
                const QVariant cell = Database::value(table, row, column);
                if (isFileMember(member)) {
                    const QString name = cell.toString();
                    if (name == downloadingPlaceholder) {
                        sentRows.insert({uncommittedSetTable, cursor.row});
                        continue;
                    }
                    if (!name.isEmpty()) {
                        if (!Database::fileExists(name)) {
                            qWarning() << "Commit: the file" << name << "of item" << id << "is gone; not sent";
                            sentRows.insert({uncommittedSetTable, cursor.row});
                            continue;
                        }
                        if (Database::fileSize(name) > limit) {
                            // Held back (the record stays) until the account allows it.
                            Database::insertUnique(tooBigFilesTable, Conditions{{tooBigFilesIdColumn, QVariant(id)},
                                                                                {tooBigFilesMemberColumn, member},
                                                                                {tooBigFilesFileColumn, name}});
                            heldBackFiles.insert({uncommittedSetTable, cursor.row}, name);
                            continue;
                        }
                        const QByteArray bytes = Database::fileData(name);
                        if (bytes.isEmpty()) {
                            // Unreadable for now: an empty upload would replace
                            // the service's copy, so the record waits.
                            qWarning() << "Commit: the file" << name << "of item" << id
                                       << "cannot be read; kept for a later commit";
                            heldBackFiles.insert({uncommittedSetTable, cursor.row}, name);
                            continue;
                        }
                        files.append({QStringLiteral("file:%1:%2").arg(id).arg(member), partFileName(name), bytes});
                        uploads.insert(toLocalId(id));
                    }
                }
                sets.append(QVariantMap{
                    {idName, QVariant(id)},
                    {QStringLiteral("member"), member},
                    {QStringLiteral("value"), wireValue(member, cell)},
                    {QStringLiteral("modified"), wireTime(Database::value(cursor, uncommittedSetModifiedColumn))}});
                sentRows.insert({uncommittedSetTable, cursor.row});
            }

            cursor = Database::allRows(uncommittedRemoveTable);
            while (cursor.next()) {
                removes.append(QVariant(idFromVariant(Database::value(cursor, uncommittedRemoveIdColumn))));
                sentRows.insert({uncommittedRemoveTable, cursor.row});
            }
        }
    }
    form.addField(QStringLiteral("create"), JsonCodec::serialize(creates));
    form.addField(QStringLiteral("set"), JsonCodec::serialize(sets));
    form.addField(QStringLiteral("remove"), JsonCodec::serialize(removes));
    for (const FilePart &file : std::as_const(files)) {
        if (!form.addFile(file.field, file.name, file.data))
            qWarning() << "Commit: the file part" << file.field << "could not be added";
    }

    const ConnectionId id = NetworkConnector::instance()->post(engineEndpoint(), form);
    if (!uploads.isEmpty())
        transfersByConnection.insert(id, uploads);
    sentSession = session;
    sentGeneration = commitGeneration;
    return id;
}

void TavrinConnector::finishCommit(bool error, const QByteArray &answer)
{
    // Watchers and receivers called from here may reset the store.
    const quint64 generation = commitGeneration;
    bool parsed = false;
    const QVariantMap map = error ? QVariantMap() : parseAnswer(answer, &parsed);
    if (!error && !parsed)
        qWarning() << "Commit answer: not a JSON object; counted as a failure";
    const int code = parsed ? resultCodeOf(map) : 1;

    removeDuplicateServerOptions();

    const bool renewed = parsed && code != 2 && takeSession(map);
    int remoteChanges = 0;
    if (code == 0) {
        deliver(applyAnswer(map, &remoteChanges));
        if (remoteChanges > 0)
            lastServerChange = QDateTime::currentDateTime();
    } else {
        // Nothing of a failed commit was applied: every record stays.
        QMutexLocker lock(&storeMutex);
        sentRows.clear();
        sentCreates.clear();
    }
    if (code == 2) {
        setOption(QStringLiteral("session"), QString());
        setOption(QStringLiteral("session_key"), QString());
    }
    Database::startSingleFlush();

    commitFailures = code == 0 ? 0 : commitFailures + 1;
    if (code == 4)
        emitWrongVersion();

    // A new session (a log-in) lets the waiting changes go at once, once; so
    // does a paged answer: the next page is fetched at once.
    const bool more = code == 0 && map.value(QStringLiteral("more")).typeId() == QMetaType::Bool
                      && map.value(QStringLiteral("more")).toBool();
    const bool again = code == 0 && (commitAgain || more);
    const bool retry = renewed && !renewalRetry && changesPending();
    renewalRetry = retry;
    commitAgain = false;
    // Only now: a receiver may commit, reset or read the commit state, and
    // must find this answer wholly applied and its records settled.
    emit commitFinishedSignal(code == 0);
    if ((again || retry) && generation == commitGeneration)
        commit();
}

bool TavrinConnector::applyCommitAnswer(const QByteArray &answer)
{
    bool parsed = false;
    const QVariantMap map = parseAnswer(answer, &parsed);
    if (!parsed) {
        qWarning() << "Commit answer: not a JSON object";
        return false;
    }
    takeSession(map);
    int remoteChanges = 0;
    deliver(applyAnswer(map, &remoteChanges));
    if (remoteChanges > 0)
        lastServerChange = QDateTime::currentDateTime();
    Database::startSingleFlush();
    return true;
}

double TavrinConnector::lastApplyLockSeconds()
{
    return double(applyLockNs) / 1e9;
}
