#include "commitbatch_p.h"

#include "synclog.h"

#include "sync_p.h"

#include "jsoncodec.h"
#include "serveroptions.h"

#include "database.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <algorithm>

using namespace locked;
using namespace sync_internal;

namespace {

const QString idName = QStringLiteral("id");

// A stored date-time, whichever form the store holds it in: a QDateTime as
// written, or the ISO text it reads back after a restart (with an offset, or
// without one for local time). Invalid when it is neither.
QDateTime storedTime(const QVariant &stored)
{
    if (stored.typeId() == QMetaType::QDateTime)
        return stored.toDateTime();
    if (stored.typeId() == QMetaType::QString)
        return dateTimeOfText(stored.toString());
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

// A member's stored value as it travels: ids and flags as integers, times in
// UTC with milliseconds and their offset (the JSON writer would drop both).
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
        if (!cell.toString().isEmpty() && !isDateAlone(cell.toString()))
            qCWarning(lcSync) << "Commit:" << member << "holds" << shortText(cell) << ", not a date-time; sent as stored";
    }
    return withUtcTimes(cell);
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

CommitBatch::CommitBatch()
    : session(optionValue(QStringLiteral("session")).toString()),
      counter(idFromVariant(optionValue(QStringLiteral("itemAutodecrement"), 0))),
      largestFile(fileLimit()),
      counterKnownOnDisk(counterOnDisk)
{
    fields = {{QStringLiteral("action"), QStringLiteral("commit")}, {QStringLiteral("version"), engineVersion()}};
    fields += credentialFields();
    // First: a stored serial out of bounds takes a new store id, and with it
    // state 0.
    const CommitSerial next = commitSerial();
    serial = next.number;
    freshKey = next.fresh;
    state = optionValue(QStringLiteral("state"), 0).toString();
    fields += {{QStringLiteral("store"), storeId()}, {QStringLiteral("state"), state},
               {QStringLiteral("serial"), QString::number(serial)}, {QStringLiteral("serial_key"), next.key},
               {QStringLiteral("last_local_id"), QString::number(qMin<Id>(counter, 0))}};
}

bool CommitBatch::collect(int budgetMs)
{
    const StoreTables &tables = storeTables();
    StoreLock lock;
    QElapsedTimer held;
    held.start();
    const qint64 budgetNs = qint64(budgetMs) * 1000000;
    while (phase != Phase::Done) {
        if (next >= rows.size()) {
            int table = -1;
            switch (phase) {
            case Phase::Start:
                sentRows(lock).clear();
                sentCreates.clear();
                heldBackFiles.clear();
                // The log-in carries nothing: the service keys the creates by session.
                phase = session.isEmpty() ? Phase::Done : Phase::Creates;
                table = tables.uncommittedCreateTable;
                break;
            case Phase::Creates:
                phase = Phase::Sets;
                table = tables.uncommittedSetTable;
                break;
            case Phase::Sets:
                phase = Phase::Removes;
                table = tables.uncommittedRemoveTable;
                break;
            default:
                phase = Phase::Done;
                break;
            }
            rows = phase == Phase::Done ? QList<int>() : Database::allRows(table).rows;
            next = 0;
            continue;
        }
        const int row = rows.at(next++);
        if (phase == Phase::Creates)
            collectCreate(lock, row);
        else if (phase == Phase::Sets)
            collectSet(lock, row);
        else
            collectRemove(lock, row);
        if ((next & 31) == 0 && held.nsecsElapsed() > budgetNs)
            return false;
    }
    rows = {};
    return true;
}

void CommitBatch::collectCreate(const StoreLock &lock, int row)
{
    const StoreTables &tables = storeTables();
    const int table = tables.uncommittedCreateTable;
    const Id id = idFromVariant(Database::value(table, row, tables.uncommittedCreateIdColumn));
    // A record removed meanwhile (its item went) reads as id 0; one whose
    // token has not reached the disk waits.
    const QString token = Database::value(table, row, tables.uncommittedCreateTokenColumn).toString();
    if (id == 0 || (id < 0 && token.isEmpty()))
        return;
    sentRows(lock).insert({table, row});
    // A positive id is known to the service already (translated while this
    // record waited): only the record goes.
    const QString type = id < 0 ? storedItemType(lock, id) : QString();
    if (type.isEmpty())
        return;
    creates.push_back({id, type, token, id < counterKnownOnDisk, {table, row}});
    sentCreates.insert(id);
}

void CommitBatch::collectSet(const StoreLock &lock, int record)
{
    const StoreTables &tables = storeTables();
    const TableRow row(tables.uncommittedSetTable, record);
    const Id id = idFromVariant(Database::value(row.first, record, tables.uncommittedSetIdColumn));
    if (id == 0)
        return; // removed meanwhile
    const QString member = Database::value(row.first, record, tables.uncommittedSetMemberColumn).toString();
    const int table = tableOfType(lock, storedItemType(lock, id));
    const int column = columnOf(lock, table, member);
    const int itemRow = rowOfItem(lock, table, id);
    if (column < 0 || itemRow <= 0 || member == idName) {
        sentRows(lock).insert(row); // a stale record
        return;
    }
    if (id < 0 && !sentCreates.contains(id))
        return; // its item is not created yet: the set goes with the create
    const QVariant cell = Database::value(table, itemRow, column);
    QString file;
    if (isFileMember(member)) {
        file = cell.toString();
        if (file == downloadingPlaceholder) {
            sentRows(lock).insert(row);
            return;
        }
        if (!file.isEmpty() && !Database::fileExists(file)) {
            qCWarning(lcSync) << "Commit: the file" << file << "of item" << id << "is gone; not sent";
            sentRows(lock).insert(row);
            return;
        }
        if (!file.isEmpty() && Database::fileSize(file) > largestFile) {
            // Held back (the record stays) until the account allows it.
            Database::insertUnique(tables.tooBigFilesTable,
                Conditions {{tables.tooBigFilesIdColumn, QVariant(id)}, {tables.tooBigFilesMemberColumn, member},
                    {tables.tooBigFilesFileColumn, file}});
            heldBackFiles.insert(row, file);
            return;
        }
    }
    sets.push_back({id, member, table, cell, Database::value(row.first, record, tables.uncommittedSetModifiedColumn),
        file, file.isEmpty() ? 0 : toLocalId(lock, id), row});
    sentRows(lock).insert(row);
}

void CommitBatch::collectRemove(const StoreLock &lock, int row)
{
    const StoreTables &tables = storeTables();
    const Id id = idFromVariant(Database::value(tables.uncommittedRemoveTable, row, tables.uncommittedRemoveIdColumn));
    if (id == 0)
        return;
    removes.append(id);
    sentRows(lock).insert({tables.uncommittedRemoveTable, row});
}

void CommitBatch::build()
{
    // What must be on disk before the commit leaves: the local id counter
    // of its creates (so that a crash never hands one of their ids to
    // another item), and a serial key drawn for it (so that, sent again after
    // a crash, it is the same commit). Its other records need not be: sent
    // again after a crash, the commit's answer brings back what it brought
    // the service before.
    const bool counterWanted = std::any_of(creates.begin(), creates.end(), [](const Create &create) {
        return create.waitsForCounter;
    });
    const bool flushWanted = counterWanted || freshKey;
    counterWritten = flushWanted && Database::flush();
    if (flushWanted && !counterWritten) {
        // Sent with a counter that is not on disk, a local id could come back
        // from a crash on another item: such creates (and their sets) wait.
        for (const Create &create : creates) {
            if (create.waitsForCounter) {
                leftOutCreates.insert(create.id);
                leftOut.append(create.row);
            }
        }
    }

    QVariantList createList, setList, removeList;
    for (const Create &create : creates) {
        if (!leftOutCreates.contains(create.id))
            createList.append(QVariantMap {{idName, QVariant(create.id)}, {QStringLiteral("type"), create.type},
                {QStringLiteral("token"), create.token}});
    }
    struct FilePart
    {
        QString field, name;
        QByteArray data;
    };
    QList<FilePart> files;
    for (const Set &set : sets) {
        if (leftOutCreates.contains(set.id)) {
            leftOut.append(set.row);
            continue;
        }
        if (!set.file.isEmpty()) {
            QByteArray bytes = Database::fileData(set.file);
            if (bytes.isEmpty()) {
                // Unreadable for now: an empty upload would replace the
                // service's copy, so the record waits.
                unreadable.append({set.row, set.file});
                continue;
            }
            files.append({QStringLiteral("file:%1:%2").arg(set.id).arg(set.member), partFileName(set.file),
                          std::move(bytes)});
            uploads.insert(set.localId);
        }
        setList.append(QVariantMap {{idName, QVariant(set.id)}, {QStringLiteral("member"), set.member},
            {QStringLiteral("value"), wireValue(set.table, set.member, set.cell)},
            {QStringLiteral("modified"), wireTime(set.modified)}});
    }
    for (const Id id : std::as_const(removes))
        removeList.append(QVariant(id));
    creates = {};
    sets = {};

    for (const auto &[name, value] : std::as_const(fields))
        form.addField(name, value);
    form.addField(QStringLiteral("create"), JsonCodec::serialize(createList));
    form.addField(QStringLiteral("set"), JsonCodec::serialize(setList));
    form.addField(QStringLiteral("remove"), JsonCodec::serialize(removeList));
    for (const FilePart &file : std::as_const(files)) {
        if (!form.addFile(file.field, file.name, file.data))
            qCWarning(lcSync) << "Commit: the file part" << file.field << "could not be added";
    }
}

void CommitBatch::settle(const StoreLock &lock)
{
    if (!leftOutCreates.isEmpty())
        qCWarning(lcSync) << "Commit: the local id counter could not be written to disk;" << leftOutCreates.size()
                          << "creates wait";
    for (const TableRow &row : std::as_const(leftOut))
        sentRows(lock).remove(row);
    for (const Id id : std::as_const(leftOutCreates))
        sentCreates.remove(id);
    for (const auto &[row, file] : std::as_const(unreadable)) {
        qCWarning(lcSync) << "Commit: the file" << file << "cannot be read; kept for a later commit";
        sentRows(lock).remove(row);
        heldBackFiles.insert(row, file);
    }
}
