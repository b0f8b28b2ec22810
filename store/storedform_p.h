#pragma once

// What a value becomes in a column of "database.db", and so what the store
// holds in memory for it: a cell answers the same before a restart as after.

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <QVariant>

// A column as the file declares it. SQLite converts what is written into a
// column by the column's affinity, which follows from its declared type; a
// "DATETIME" column also holds date-times. Tables made in memory only have
// Unbound columns, which keep what they are given.
enum class ColumnKind : quint8 {
    Unbound,
    Integer,
    Real,
    Numeric,
    DateTime,
    Text,
    Blob,
};

// The kind of a column declared with `type`, by SQLite's rules of affinity.
ColumnKind columnKindOf(QStringView type);

// `value` as a column of `kind` gives it back from the file: nulls as a
// typed null; whole numbers as qint64 and reals as double where the column
// keeps numbers; numbers as SQLite's text in a text column (a flag as "1"
// or "0", a real as "5.0"); texts that SQLite reads as numbers in a numeric column as those
// numbers; date-times as UTC (as ISO text with "Z" where the column is not a
// date-time column); any other type as its text. A value without a type
// stays one.
QVariant storedForm(const QVariant &value, ColumnKind kind);

// Whether writing `form` (a stored form) over `cell` (one of the same
// column) leaves the file as it is: two nulls, or the same type and value.
// An empty text is not a null: a condition asking for a set cell tells them
// apart.
bool sameStoredValue(const QVariant &cell, const QVariant &form);

// A date-time text that carries its offset ("Z" or "+hh:mm"), as UTC
// milliseconds since the epoch; false for any other text, a text without
// an offset (local time) included.
bool utcFromText(QStringView text, qint64 *msecs);
bool utcFromText(QLatin1String text, qint64 *msecs);

// How a date-time goes into the file: ISO 8601 in UTC with milliseconds
// and "Z", which other clients and SQLite's date functions read as they are.
QString utcText(const QDateTime &dateTime);
