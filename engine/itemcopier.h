#pragma once

// Copies of stored items, for edit operations that copy many at once
// (duplicating a selection, dropping a screenshot onto another). Each
// source's row is read once, when the copier is made; the caller places each
// copy from its source's members and then writes it. A copier lives for one
// such operation: the copies are one change, made at one time.
//
// A copy is what createItemWithMembers makes of the source's members as
// readItem gives them, less its id, type, owner and null members, with the
// placement's members over them: file members name the same stored file, and
// one whose download is pending is left out.

#include "engine.h"

#include <QList>
#include <QStringList>
#include <QVector>

#include <utility>

class ItemCopier
{
public:
    using Members = QList<std::pair<QString, QVariant>>;

    // Sources that are not stored items, or whose type is not among `types`
    // (when given), are passed over.
    explicit ItemCopier(const QList<Id> &sources, const QStringList &types = {});

    // The sources kept, in the order given.
    qsizetype size() const { return rows.size(); }
    Id source(qsizetype i) const { return rows.at(i).source; }
    const QString &type(qsizetype i) const { return rows.at(i).type; }
    // A member of source `i` from its type's table, as it was read and as
    // readItem(id, true) gives it; null when that table has no such column.
    QVariant member(qsizetype i, const QString &name) const;

    // Writes and announces the copy of source `i`; its id, or 0 when none
    // was made. Takes storeMutex.
    Id copy(qsizetype i, const Members &placement) const;

private:
    // How a column goes over into a copy: as stored, resolved the way
    // readItem resolves it (ids, files), or not at all.
    enum ColumnKind : quint8 { Plain, Resolved, Own };
    struct Row
    {
        Id source;
        QString type;
        int table;               // the type's
        QStringList names;       // the columns of the type's table
        QVector<quint8> kinds;   // a ColumnKind by column
        QVector<QVariant> cells; // as stored
    };
    QVector<Row> rows;
    QVariant modified; // the time of the copies' change records
};
