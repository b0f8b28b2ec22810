#include "commitanswer_p.h"

#include "synclog.h"

#include "sync_p.h"

#include "downloads.h"
#include "jsoncodec.h"
#include "watcher.h"

#include "database.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSqlField>

#include <algorithm>
#include <limits>

using namespace locked;
using namespace sync_internal;

namespace sync_internal {

bool wholeNumberOf(const QVariant &value, Id *out)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        break;
    default:
        return false; // a text is no number, whatever it holds
    }
    bool ok = false;
    const Id id = idFromVariant(value, &ok);
    if (ok)
        *out = id;
    return ok;
}

bool serverIdOf(const QVariant &value, Id *out)
{
    Id id = 0;
    if (!wholeNumberOf(value, &id) || id <= 0)
        return false;
    *out = id;
    return true;
}

QString shortText(const QVariant &value)
{
    return value.toString().left(120);
}

bool isDateTimeColumn(int table, const QString &member)
{
    // "table.column" of every column that holds date-times.
    static const QSet<QString> columns = [] {
        QSet<QString> result;
        const ParsedSchema schema = Database::schema();
        for (const auto &[name, fields] : schema) {
            for (const QSqlField &field : fields) {
                if (field.metaType() == QMetaType::fromType<QDateTime>())
                    result.insert(name + u'.' + field.name());
            }
        }
        return result;
    }();
    return columns.contains(Database::tableName(table) + u'.' + member);
}

QDateTime dateTimeOfText(const QString &text)
{
    const QString trimmed = text.trimmed();
    // A time of day follows the date ("2024-05-01T10:00"); Qt reads a date
    // alone as local midnight, an instant nobody meant.
    if (trimmed.size() <= 10 || (trimmed.at(10) != u'T' && trimmed.at(10) != u' '))
        return {};
    return QDateTime::fromString(trimmed, Qt::ISODateWithMs);
}

bool isDateAlone(const QString &text)
{
    const QString trimmed = text.trimmed();
    return trimmed.size() == 10 && QDate::fromString(trimmed, Qt::ISODate).isValid();
}

} // namespace sync_internal

namespace {

const QString idName = QStringLiteral("id");
constexpr int flushEveryChanges = 10000;

// Every (table, column) whose cells hold item ids: the id members of the
// synced tables and of the engine's own bookkeeping tables.
QList<QPair<int, int>> idColumns()
{
    QList<int> tables;
    for (const QString &name : syncedTableNames())
        tables.append(Database::tableId(name));
    tables << storeTables().itemsTable << storeTables().uncommittedCreateTable << storeTables().uncommittedSetTable
           << storeTables().uncommittedRemoveTable << storeTables().downloadsTable << storeTables().dirtSkrinTable
           << storeTables().tooBigFilesTable;
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
void rewriteIds(const StoreLock &lock, const QHash<Id, Id> &translation, const QList<QPair<int, int>> &columns)
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
    for (const ThumbnailClaim &claim : std::as_const(thumbnailClaims(lock)))
        claims.insert({claim.first, translation.value(claim.second, claim.second)});
    thumbnailClaims(lock) = claims;
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

} // namespace

// A change the watchers hear of once storeMutex has been released. `before`
// holds only the members some watcher looks at.
struct CommitAnswer::Notice
{
    enum Kind { Created, Changed, Removed };
    Kind kind;
    Id id;
    QString text; // type (Created, Removed) or member (Changed)
    QVariantMap before; // shared by the notices of one item
    QVariant value;
    QVariant oldValue; // Changed
};

std::shared_ptr<CommitAnswer> CommitAnswer::read(const QByteArray &body)
{
    auto answer = std::make_shared<CommitAnswer>();
    if (body.isEmpty())
        return answer;
    static const QStringList lists{QStringLiteral("create"), QStringLiteral("set"), QStringLiteral("remove")};
    bool ok = false;
    const QVariant top = JsonCodec::parseStreaming(
        QString::fromUtf8(body), lists,
        [&answer](const QString &key, JsonCodec::StreamedElement &entry) { answer->take(key, entry); }, &ok);
    answer->object = ok && top.typeId() == QMetaType::QVariantMap;
    if (answer->object) {
        answer->members = top.toMap();
        answer->readTranslations();
    } else {
        answer->creates.clear();
        answer->sets.clear();
        answer->removes.clear();
    }
    return answer;
}

void CommitAnswer::readTranslations()
{
    const QVariant entry = members.value(QStringLiteral("translate"));
    if (isNullValue(entry))
        return;
    if (entry.typeId() != QMetaType::QVariantMap) {
        translateNotObject = true;
        return;
    }
    const QVariantMap map = entry.toMap();
    // A server id that two keys take belongs to neither for sure: both
    // creates go again, and the service tells each its own by its token.
    QHash<Id, int> takers;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        Candidate candidate{it.key(), 0, false, it.value(), 0, false};
        candidate.local = it.key().trimmed().toLongLong(&candidate.localOk);
        candidate.serverOk = serverIdOf(it.value(), &candidate.server);
        if (candidate.serverOk)
            ++takers[candidate.server];
        candidates.push_back(std::move(candidate));
    }
    for (Candidate &candidate : candidates) {
        if (candidate.serverOk && takers.value(candidate.server) > 1)
            candidate.serverOk = false;
    }
}

void CommitAnswer::take(const QString &key, JsonCodec::StreamedElement &entry)
{
    if (key == QLatin1String("remove")) {
        Id id = 0;
        const QVariant value = entry.isObject ? QVariant() : entry.value;
        if (serverIdOf(value, &id))
            removes.push_back(id);
        else
            qCWarning(lcSync) << "Commit answer: ignored the removal of" << shortText(value) << ": not a server id";
        return;
    }
    // An entry that is not an object has no members.
    const QVariant idValue = entry.member(QLatin1StringView("id"));
    Id id = 0;
    const bool idOk = serverIdOf(idValue, &id);
    if (key == QLatin1String("create")) {
        const QString type = entry.member(QLatin1StringView("type")).toString();
        if (idOk)
            creates.push_back({id, type});
        else
            qCWarning(lcSync) << "Commit answer: ignored the create of" << shortText(idValue) << "as" << type.left(60)
                       << ": not a server id and a synchronised type";
        return;
    }
    if (!idOk) {
        qCWarning(lcSync) << "Commit answer: ignored a set of" << shortText(idValue) << ": not a server id";
        return;
    }
    const QString member = entry.member(QLatin1StringView("member")).toString();
    QString &name = memberNames[member];
    if (name.isNull())
        name = member;
    QVariant value;
    for (auto &[field, held] : entry.members) {
        if (field == QLatin1StringView("value"))
            value = std::move(held);
    }
    sets.push_back({id, name, std::move(value)});
}

int CommitAnswer::resultCode() const
{
    bool ok = false;
    const QVariant result = members.value(QStringLiteral("result"));
    const qint64 code = result.typeId() == QMetaType::LongLong || result.typeId() == QMetaType::Int
                            ? result.toLongLong(&ok)
                            : -1;
    return object && ok && code >= 0 && code <= 5 ? int(code) : 1;
}

bool CommitAnswer::hasMore() const
{
    const QVariant more = members.value(QStringLiteral("more"));
    return more.typeId() == QMetaType::Bool && more.toBool();
}

bool CommitAnswer::movesStateFrom(const QString &sent) const
{
    // A change list that came as anything but an array was not streamed.
    for (const char *list : {"create", "set", "remove"}) {
        if (!isNullValue(members.value(QLatin1String(list))))
            return false;
    }
    const QVariant state = members.value(QStringLiteral("state"));
    if (state.typeId() != QMetaType::LongLong && state.typeId() != QMetaType::Int)
        return false;
    bool ok = false;
    const qint64 before = sent.trimmed().toLongLong(&ok);
    // A text marker of an older answer: any whole number moves on from it.
    return !ok || state.toLongLong() > before;
}

bool CommitAnswer::applySlice(int budgetMs, int maxEntries)
{
    if (phase == Phase::Done)
        return true;
    QList<Notice> notices;
    watched = watchedMemberNames();
    target = Target(); // the store and the watchers may have changed between slices
    memberInfo.clear();
    {
        StoreLock lock;
        QElapsedTimer held;
        held.start();
        const qint64 budgetNs = qint64(budgetMs) * 1000000;
        // Whether one more entry fits into this slice; the clock is read once
        // per few entries, and once it says stop the slice ends.
        int entries = 0;
        bool stop = false;
        const std::function<bool()> goOn = [&] {
            if (!stop)
                stop = ++entries > maxEntries || ((entries & 7) == 0 && held.nsecsElapsed() > budgetNs);
            return !stop;
        };
        localSets = !Database::isEmpty(storeTables().uncommittedSetTable);
        localRemoves = !Database::isEmpty(storeTables().uncommittedRemoveTable);
        if (phase == Phase::Translations && applyTranslations(lock, goOn))
            phase = Phase::SentRows;
        if (phase == Phase::SentRows && dropSentRows(lock, goOn))
            phase = Phase::Changes;
        while (phase == Phase::Changes && goOn()) {
            if (!creates.empty()) {
                applyCreate(lock, creates.front(), notices);
                creates.pop_front();
            } else if (!sets.empty()) {
                applySet(lock, sets.front(), notices);
                sets.pop_front();
            } else if (!removes.empty()) {
                applyRemove(lock, removes.front(), notices);
                removes.pop_front();
            } else {
                phase = Phase::State;
            }
        }
        if (phase == Phase::State) {
            const QVariant state = members.value(QStringLiteral("state"));
            if (isPlainState(state))
                setOption(QStringLiteral("state"), state);
            else if (!isNullValue(state))
                qCWarning(lcSync) << "Commit answer: ignored a \"state\" that is not a number or a short text";
            phase = Phase::Done;
        }
        lockNs += held.nsecsElapsed();
    }
    // The writer thread copies what changed since its last flush while the
    // tables are locked: asked more often, it never holds them long.
    if (applied - appliedAtFlush >= flushEveryChanges) {
        appliedAtFlush = applied;
        Database::startSingleFlush();
    }
    for (const Notice &notice : std::as_const(notices)) {
        switch (notice.kind) {
        case Notice::Created:
            notifyItemCreated(notice.id, notice.text);
            break;
        case Notice::Changed:
            notifyMemberChanged(notice.id, notice.before, notice.text, notice.oldValue, notice.value);
            break;
        case Notice::Removed:
            notifyItemRemoved(notice.id, notice.before);
            break;
        }
    }
    return phase == Phase::Done;
}

bool CommitAnswer::applyTranslations(const StoreLock &lock, const std::function<bool()> &goOn)
{
    if (!translationsRead) {
        translationsRead = true;
        // A change list that came as anything but an array was not streamed.
        for (const char *list : {"create", "set", "remove"}) {
            if (!isNullValue(members.value(QLatin1String(list))))
                qCWarning(lcSync) << "Commit answer: ignored" << list << ": not a list";
        }
        if (translateNotObject)
            qCWarning(lcSync) << "Commit answer: ignored a \"translate\" that is not an object";
    }
    // The sound translations: a local id of a create in flight, not
    // translated before, to a positive id that no other key takes and no
    // item has yet (nor one whose removal waits here: that removal would
    // strike the new item). Checked a part per slice, as a long answer
    // brings many.
    const StoreTables &tables = storeTables();
    for (; checked < candidates.size(); ++checked) {
        if (!goOn())
            return false;
        const Candidate &candidate = candidates[checked];
        if (!candidate.localOk || !sentCreates.contains(candidate.local)
            || localToServerIds(lock).contains(candidate.local)) {
            qCWarning(lcSync) << "Commit answer: ignored the translation of" << candidate.key.left(60)
                              << ": not a local id this commit created";
            continue;
        }
        const QVariant server(candidate.server);
        if (!candidate.serverOk || serverToLocalIds(lock).contains(candidate.server)
            || Database::findRow(tables.itemsTable, tables.itemsIdColumn, server) > 0
            || Database::findRow(tables.uncommittedRemoveTable, tables.uncommittedRemoveIdColumn, server) > 0) {
            qCWarning(lcSync) << "Commit answer: ignored the translation" << candidate.local << "->"
                              << shortText(candidate.value) << ": not a new positive id of its own";
            continue;
        }
        translations.emplace_back(candidate.local, candidate.server);
    }
    if (!translationsChecked) {
        translationsChecked = true;
        candidates = {};
        std::sort(translations.begin(), translations.end());
        untranslated = sentCreates;
        for (const auto &[local, server] : translations)
            untranslated.remove(local);
    }
    // A run of ids at a time, each rewritten everywhere and mapped in one
    // hold of the lock: between slices an id is either wholly local or wholly
    // translated, and the engine maps it either way.
    constexpr size_t runLength = 128;
    const QList<QPair<int, int>> columns = translated < translations.size() ? idColumns() : QList<QPair<int, int>>();
    while (translated < translations.size()) {
        size_t end = translated;
        while (end < translations.size() && end - translated < runLength && goOn())
            ++end;
        if (end == translated)
            return false;
        QHash<Id, Id> run;
        run.reserve(qsizetype(end - translated));
        for (size_t i = translated; i < end; ++i)
            run.insert(translations[i].first, translations[i].second);
        rewriteIds(lock, run, columns);
        for (auto it = run.cbegin(); it != run.cend(); ++it) {
            localToServerIds(lock).insert(it.key(), it.value());
            serverToLocalIds(lock).insert(it.value(), it.key());
        }
        translated = end;
    }
    translations = {};
    return true;
}

// Removes the rows the commit carried, except the records of creates the
// answer did not translate (and of their members): those go again next time.
// A row the engine took out of the set meanwhile (changed again) stays.
bool CommitAnswer::dropSentRows(const StoreLock &lock, const std::function<bool()> &goOn)
{
    QSet<TableRow> &rows = sentRows(lock);
    for (auto it = rows.begin(); it != rows.end();) {
        if (!goOn())
            return false;
        const TableRow sent = *it;
        it = rows.erase(it);
        int idColumn = -1;
        if (sent.first == storeTables().uncommittedCreateTable)
            idColumn = storeTables().uncommittedCreateIdColumn;
        else if (sent.first == storeTables().uncommittedSetTable)
            idColumn = storeTables().uncommittedSetIdColumn;
        if (idColumn >= 0 && !untranslated.isEmpty()
            && untranslated.contains(idFromVariant(Database::value(sent.first, sent.second, idColumn))))
            continue;
        Database::removeRow(sent.first, sent.second);
    }
    sentCreates.clear();
    return true;
}

void CommitAnswer::applyCreate(const StoreLock &lock, const Create &entry, QList<Notice> &notices)
{
    const int table = syncedTableNames().contains(entry.type) ? tableOfType(lock, entry.type) : -1;
    if (table < 0) {
        qCWarning(lcSync) << "Commit answer: ignored the create of" << entry.id << "as" << entry.type.left(60)
                   << ": not a server id and a synchronised type";
        return;
    }
    // Known already (a whole-account answer), or removed here and not yet
    // committed: the local state stands.
    const QVariant id(entry.id);
    if (Database::findRow(storeTables().itemsTable, storeTables().itemsIdColumn, id) > 0
        || (localRemoves
            && Database::findRow(storeTables().uncommittedRemoveTable, storeTables().uncommittedRemoveIdColumn, id)
                > 0))
        return;
    Database::insertRow(storeTables().itemsTable, {{storeTables().itemsIdColumn, id},
                                     {storeTables().itemsTypeColumn, QVariant(entry.type)},
                                     {storeTables().itemsOwnerColumn, QVariant(qint64(0))}});
    Database::insertRow(table, {{columnOf(lock, table, idName), id}});
    target = Target();
    notices.append({Notice::Created, entry.id, entry.type, {}, {}, {}});
    ++applied;
}

const CommitAnswer::MemberInfo &CommitAnswer::infoOf(const StoreLock &lock, int table, const QString &member)
{
    const QPair<int, const void *> key(table, member.constData());
    auto found = memberInfo.constFind(key);
    if (found != memberInfo.cend())
        return found.value();
    MemberInfo info;
    info.column = columnOf(lock, table, member);
    info.id = isIdMember(member);
    info.file = isFileMember(member);
    info.dateTime = isDateTimeColumn(table, member);
    info.watched = watched.contains(member);
    return memberInfo.insert(key, info).value();
}

bool CommitAnswer::aimAt(const StoreLock &lock, Id id)
{
    if (target.id == id)
        return target.table >= 0;
    target = Target();
    target.id = id;
    const int itemsRow = Database::findRow(storeTables().itemsTable, storeTables().itemsIdColumn, QVariant(id));
    if (itemsRow <= 0)
        return false;
    target.type = Database::value(storeTables().itemsTable, itemsRow, storeTables().itemsTypeColumn).toString();
    target.table = tableOfType(lock, target.type);
    if (target.table < 0)
        return false;
    target.row = rowOfItem(lock, target.table, id);
    target.localSets = localSets
        && Database::findRow(storeTables().uncommittedSetTable, storeTables().uncommittedSetIdColumn, QVariant(id)) > 0;
    for (const QString &name : std::as_const(watched)) {
        int table = target.table;
        int row = target.row;
        int column = columnOf(lock, table, name);
        if (column < 0) {
            table = storeTables().itemsTable;
            row = itemsRow;
            column = columnOf(lock, table, name);
        }
        if (column >= 0)
            target.watchedBefore.insert(name, resolveMember(lock, id, name, Database::value(table, row, column), false,
                                                                false));
    }
    return true;
}

void CommitAnswer::applySet(const StoreLock &lock, const Set &entry, QList<Notice> &notices)
{
    const Id id = entry.id;
    const QString &member = entry.member;
    const QVariant &value = entry.value;
    const bool held = aimAt(lock, id);
    const int table = target.table;
    const MemberInfo info = held ? infoOf(lock, table, member) : MemberInfo();
    const int column = info.column;
    if (!held || member == idName || column < 0) {
        if (!target.type.isEmpty())
            qCWarning(lcSync) << "Commit answer: ignored a set of" << member.left(60) << "of item" << id
                       << ": not a member that can be set";
        return; // an item this client does not hold: nothing to change
    }
    if (value.typeId() == QMetaType::QVariantMap || value.typeId() == QMetaType::QVariantList) {
        qCWarning(lcSync) << "Commit answer: ignored a set of" << member << "of item" << id << ": not a plain value";
        return;
    }
    QVariant toStore = value;
    if (info.id) {
        Id targetId = 0;
        if (!isNullValue(value) && (!wholeNumberOf(value, &targetId) || targetId < 0)) {
            qCWarning(lcSync) << "Commit answer: ignored" << member << "=" << shortText(value) << "of item" << id
                       << ": not a server id";
            return;
        }
        toStore = QVariant(targetId);
    }
    if (info.file && !isNullValue(value) && !value.toString().isEmpty()
        && !isAcceptableFileAddress(value.toString())) {
        qCWarning(lcSync) << "Commit answer: ignored" << member << "of item" << id
                   << ": not an http(s) address of at most 1024 characters:" << shortText(value);
        return;
    }
    if (info.dateTime && value.typeId() == QMetaType::QString && !value.toString().isEmpty()
        && !isDateAlone(value.toString())) {
        // Either form: with an offset (UTC or another) or without (local time).
        const QDateTime time = dateTimeOfText(value.toString());
        if (!time.isValid()) {
            qCWarning(lcSync) << "Commit answer: ignored" << member << "=" << shortText(value) << "of item" << id
                       << ": not an ISO 8601 date-time";
            return;
        }
        toStore = QVariant(time.toLocalTime());
    }

    // The service orders sets by their arrival: a local change of the member
    // still to be sent reaches it later and wins there, so it stands here too.
    if (target.localSets) {
        RowCursor local
            = Database::select(storeTables().uncommittedSetTable, storeTables().uncommittedSetIdColumn, QVariant(id));
        while (local.next()) {
            if (cellEquals(Database::value(local, storeTables().uncommittedSetMemberColumn), member))
                return;
        }
    }

    const int row = target.row;
    const QVariant old = resolveMember(lock, id, member, Database::value(table, row, column), false, false);
    if (info.file) {
        setFileMember(lock, id, table, row, column, member, toStore, old, notices);
    } else if (Database::setValue(table, row, column, toStore)) {
        // Watchers hear the value as the store now holds it, as for a local change.
        notices.append({Notice::Changed, id, member, target.watchedBefore, Database::value(table, row, column), old});
        ++applied;
    }
    if (info.watched)
        target.watchedBefore.insert(
            member, resolveMember(lock, id, member, Database::value(table, row, column), false, false));
}

void CommitAnswer::setFileMember(const StoreLock &lock, Id id, int table, int row, int column, const QString &member,
                                 const QVariant &value, const QVariant &old, QList<Notice> &notices)
{
    const QString oldFile = Database::value(table, row, column).toString();
    dropPendingDownloads(lock, id, member);
    const QString address = value.toString();
    bool changed = true;
    if (address.isEmpty()) {
        changed = Database::setValue(table, row, column, value);
    } else {
        // A new address to fetch, even when the member waited for another one.
        Database::insertRow(storeTables().downloadsTable, {{storeTables().downloadsUrlColumn, QVariant(address)},
                                             {storeTables().downloadsIdColumn, QVariant(id)},
                                             {storeTables().downloadsMemberColumn, QVariant(member)}});
        Database::setValue(table, row, column, QVariant(downloadingPlaceholder));
    }
    if (oldFile != downloadingPlaceholder)
        removeFileIfUnreferenced(lock, oldFile);
    if (changed) {
        // Readers see a waiting file member as null until its file arrives.
        notices.append({Notice::Changed, id, member, target.watchedBefore, address.isEmpty() ? value : QVariant(), old});
        ++applied;
    }
}

void CommitAnswer::applyRemove(const StoreLock &lock, Id id, QList<Notice> &notices)
{
    const QString type = storedItemType(lock, id);
    const int table = tableOfType(lock, type);
    if (table < 0)
        return;
    const QVariantMap before = readMembers(lock, id, watched);
    target = Target();
    removeStoredItemRows(lock, id, type);
    // Whatever was pending for it here is moot now.
    removeRowsWithId(lock, storeTables().uncommittedSetTable, storeTables().uncommittedSetIdColumn, id);
    removeRowsWithId(lock, storeTables().uncommittedCreateTable, storeTables().uncommittedCreateIdColumn, id);
    removeRowsWithId(lock, storeTables().uncommittedRemoveTable, storeTables().uncommittedRemoveIdColumn, id);
    removeRowsWithId(lock, storeTables().tooBigFilesTable, storeTables().tooBigFilesIdColumn, id);
    notices.append({Notice::Removed, id, type, before, {}, {}});
    ++applied;
}
