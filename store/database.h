#pragma once

// The table store: every table of "database.db" kept in memory, written back
// to SQLite behind the callers' backs, plus the "files" folder of blobs.
//
// Numbering: a table is named by its position (from 0), a column by its
// position in the table (from 0), a row by a number handed out per table
// from 1 and never reused while the tables live. 0 means "no row"; -1 an
// unknown table or column. Every operation is thread-safe; bad arguments give
// the neutral result (-1, 0, false, "", a null QVariant, an empty list).

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSqlField>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVarLengthArray>
#include <QVector>

#include <span>

// Column conditions: column number -> wanted value. A null wanted value
// (isNullValue) asks for a cell that is set; any other asks for a cell that
// cellEquals() it (the wanted value on the left), a cell never set counting
// as the NULL it is in the file. An indexed column answers exactly as a
// scan does.
using Conditions = QMap<int, QVariant>;

// A row for Database::insertRows: its table and its cells as (column, value)
// pairs, a later pair for a column winning. A few cells take no allocation.
struct NewRow
{
    int table = -1;
    QVarLengthArray<QPair<int, QVariant>, 4> cells;
};

// "Null" as the stored data means it: no value, or a typed null (a null
// string, byte array or date-time). Qt 6's QVariant::isNull() no longer says
// so for strings and date-times, hence one helper for everybody.
bool isNullValue(const QVariant &value);

// Equality of a stored cell (left) with a value (right): two numbers compare
// as numbers (exactly: 2.5 is not 3), and so do a number and a text that
// converts to it (a flag is the number 1 or 0: true equals "1", not "abc",
// and false is not ""); a date-time compares with ISO text as date-times; otherwise
// the right value is converted to the left value's type, and a failed
// conversion is unequal. A value without a type equals only a value without a
// type; otherwise two nulls (isNullValue) are equal, a null equals an empty
// text ("" and NULL mean the same in the file) and no other non-null value (0
// included).
bool cellEquals(const QVariant &stored, const QVariant &value);

// The order of value indexes and range selections: by toLongLong(), then by
// the unsigned bytes of toByteArray().
bool variantLess(const QVariant &a, const QVariant &b);

// A snapshot of row numbers of one table with a current row. Rows removed
// after the cursor was made stay in it (operations on them give neutral
// results); rows added later are not in it.
class RowCursor
{
public:
    RowCursor() = default;
    RowCursor(int table, const QList<int> &rows);

    // Moves to the next row: true and `row` set, or false and `row` 0 at the
    // end. After the end the cursor starts over at the first row.
    bool next();

    int table = -1;
    QList<int> rows;
    int row = 0;

private:
    qsizetype position = -1; // -1: before the first row / after the end
};

// A table of the declared schema: its name and column declarations such as
// "`id` BIGINT(32)".
struct SchemaTable
{
    QString name;
    QStringList columns;
};

struct DeclaredSchema
{
    QList<SchemaTable> tables;
    QList<QPair<QString, QString>> keys; // (table, column) pairs to index
};

using ParsedSchema = QList<QPair<QString, QList<QSqlField>>>;

DeclaredSchema schemaTables();
void appendIdParentColumns(DeclaredSchema &schema, const QString &table, const QStringList &columns,
                           bool withParent);
void appendPositionColumns(DeclaredSchema &schema, const QString &table, const QStringList &columns);
ParsedSchema schemaFields(const QList<SchemaTable> &tables);

// One cached file of the file store.
struct FileEntry
{
    QDateTime lastUse;
    bool removed = false;
    bool onDisk = false;
    QByteArray data;
    quint64 version = 0; // bumped by every change, so a flush can tell what changed after its snapshot
    bool writeFailed = false;
};

// The lock that keeps a data folder to one program at a time:
// "database.db.lock" beside the database, taken by open and given back by
// close.
struct FolderLock
{
    enum State {
        Free,          // no lock
        Stale,         // its program has ended (no program keeps it locked): open takes it over
        Held,          // a running program on this computer holds it
        OtherComputer, // a program on another computer wrote it; whether that one still runs cannot be seen here
        // It cannot be opened (another user's program made it unreadable), so
        // whether its program runs cannot be seen: open refuses, naming its
        // owner.
        Unreadable,
    };
    State state = Free;
    QString path; // the lock file
    // The holder as the lock says: process id, program and host name.
    qint64 process = 0;
    QString program;
    QString host;
    QString owner; // the user the lock file belongs to, as the system names them
};

class Database
{
public:
    Database() = delete;

    // --- Tables, rows and cells ---------------------------------------------
    static int addTable(const QString &name, const QStringList &columns);
    static int tableId(const QString &name);
    static QString tableName(int table);
    static int columnId(int table, const QString &column);
    static QString columnName(int table, int column);
    static QStringList columnNames(int table);
    static Conditions columnIds(int table, const QVariantMap &byName);
    static int tableCount();

    // A cell holds what "database.db" gives back after a restart, so the
    // store answers alike before and after one. A value is stored as its
    // column in the file keeps it (by SQLite's column affinity):
    // - a null of any type, and a NaN, as a null (a null QString);
    // - in a numeric column (INT..., REAL, DATETIME), whole numbers and flags
    //   as qint64, and whole reals that fit as well; other reals as double;
    //   in a REAL column every number as double; a text that SQLite reads as
    //   a number as that number;
    // - in a text column, numbers as SQLite's own text of them: whole
    //   numbers and flags as digits ("1" or "0" for a flag), reals to 15
    //   significant digits with a point ("5.0", "1.0e+300", and
    //   3.0000000000000004 as "3.0"), infinities as "Inf" and "-Inf"; and
    //   date-times as ISO 8601 UTC text with "Z";
    // - in a DATETIME column, date-times, and texts that carry an offset, as
    //   a QDateTime in UTC, written as that text; a text without an offset
    //   (local time, as older files hold) stays text;
    // - texts and byte arrays as they are (an empty one is not null); any
    //   other type as its text.
    // A table added with addTable keeps what it is given. A text
    // with an unpaired UTF-16 surrogate, which the file could not keep
    // unchanged, is refused (with a warning) by every operation that stores
    // cells.
    static int newRow(int table);
    // A new row with the given cells, which a flush takes whole or not at
    // all; -1 (nothing inserted) for an unknown table or a refused text.
    static int insertRow(int table, const Conditions &values);
    // Several new rows, in any tables, in one step: they reach the file
    // together or not at all. False (and nothing inserted) when a table is
    // unknown or a text is refused.
    static bool insertRows(std::span<const NewRow> rows);
    // True when the cell changed. False when the cell holds the value as it
    // would store it already (two nulls, or the same type and value, so that
    // the file would not change), or for a refused text. In a table in
    // memory only a value that cellEquals() the cell is no change.
    static bool setValue(int table, int row, int column, const QVariant &value);
    // The value as setValue would store it in that column.
    static QVariant storedValue(int table, int column, const QVariant &value);
    static bool removeRow(int table, int row);
    static QVariant value(int table, int row, int column);
    static QVector<QVariant> rowValues(int table, int row);
    static int rowCount(int table);
    static bool isEmpty(int table);

    // --- Selection, cursors and value indexes -------------------------------
    static QVariant value(const RowCursor &cursor, int column);
    static bool setValue(const RowCursor &cursor, int column, const QVariant &value);
    static QVector<QVariant> rowValues(const RowCursor &cursor);
    // One column of every row of the cursor, in its order, under one lock (a
    // row removed meanwhile gives a null): cheaper than value() row by row.
    static QVector<QVariant> columnValues(const RowCursor &cursor, int column);
    static bool removeRow(const RowCursor &cursor);

    static bool nextRow(int table, int &row);
    static RowCursor allRows(int table);
    static bool rowMatches(int table, int row, const Conditions &conditions);
    static int findRow(int table, const Conditions &conditions);
    static int findRow(int table, int column, const QVariant &value);
    static int findRow(int table, const QVariantMap &byName);
    static QVariant valueWhere(int table, const Conditions &conditions, int column);
    static QVariant valueWhere(int table, const QVariantMap &byName, int column);
    // A null key finds nothing (as a condition it would match any set cell).
    static QVariant lookupValue(int table, int keyColumn, const QVariant &keyValue, int resultColumn);
    // Inserts the row unless one exists whose cells equal these values (as
    // findRow sees them), in one step that no other caller can come between;
    // false, and nothing inserted, when a value is null.
    static bool insertUnique(int table, const Conditions &values);
    static bool insertUnique(int table, const QVariantMap &byName);
    static RowCursor select(int table, const Conditions &conditions);
    static RowCursor select(int table, int column, const QVariant &value);
    static RowCursor select(int table, const QVariantMap &byName);
    static RowCursor selectAtLeast(int table, int column, const QVariant &value);
    static RowCursor selectBetween(int table, int column, const QVariant &a, const QVariant &b);
    static void buildColumnIndex(int table, int column);
    // Builds the declared indexes of these (table, column) pairs that are not
    // built yet, in this order, on a thread of the store's own, which holds
    // the table lock only briefly: for lookups sure to come soon, which then
    // find them made. Until then a selection scans (with the same result)
    // and a single-row lookup builds the index itself. The key columns that
    // hold whole numbers have theirs made by the open. Pairs without a
    // declared index are passed over. Closing the store stops the building.
    static void buildDeclaredIndexesSoon(const QList<QPair<int, int>> &columns);
    static void dropColumnIndex(int table, int column);
    static bool hasColumnIndex(int table, int column);

    // --- Declared schema ----------------------------------------------------
    static ParsedSchema schema();
    static QString stampVersion();
    static void declareKeyColumns(const QString &table, const QString &columns);
    static void declareKeyIndexes();

    // --- Opening, migration and closing -------------------------------------
    // Opens (or creates) "database.db" in `dataFolder`, brings it to the
    // declared schema, loads it and starts the write-behind flush. On failure
    // (unreadable, corrupt, not a database, a folder in its place, a failed
    // migration or load) it returns false with a reason in `error`, leaves the
    // store closed and the file untouched.
    // A folder whose lock another program holds is refused: one on this
    // computer while it runs, one on another computer until the user has it
    // taken over (folderLock tells which, takeOverLock takes it over).
    static bool open(const QString &dataFolder, QString *error = nullptr);
    // Every open checks the whole file (SQLite's quick_check), and nothing
    // is written to a file that fails it. By default the check runs beside
    // the migration and the load, and open fails on a damaged file. A
    // program that wants its window shown first may have the check run just
    // before the first write instead (the first flush asked for, or the
    // first one due), so that it takes nothing from the start: open returns
    // once the tables are read, and a file found damaged then is never
    // written (every flush fails) and is told through
    // StoreStatus::damageFound. A file the opening had to change is checked
    // before open returns either way.
    static void setCheckAfterOpen(bool after);
    // Whether the last open's check found the file sound; false while it
    // runs. Nothing from a file should leave the program before.
    static bool fileCheckPassed();
    // The lock of `dataFolder` as it stands; nothing is taken.
    static FolderLock folderLock(const QString &dataFolder);
    // Removes the lock of a program on another computer that the user says
    // no longer runs there, so that open can take the folder; only while the
    // lock is still the one `seen`. False, with the reason, otherwise.
    static bool takeOverLock(const FolderLock &seen, QString *error = nullptr);
    // Stops the flush thread after a last flush. True when every change and
    // file reached the disk (or nothing was open); false when something is
    // lost with the process, which the caller should tell the user.
    static bool close();
    static bool isOpen();
    // Both delete "database.db" and the files the store recorded as its
    // own; "files" goes only when nothing else is left in it.
    static bool reset(QString *error = nullptr);
    static void deleteDatabaseFiles();
    static void removeDirRecursive(const QString &path);
    static QString databaseFileName();
    static QString fileExtension(const QString &fileName);
    static QString dataFolder(); // "" while no folder was opened

    // --- Write-behind flush -------------------------------------------------
    // Writes every pending change (files first, then tables) in one
    // transaction on the writer thread and waits for it. Returns false when
    // the store is closed, the write failed or rows wait for a file's bytes
    // still to come; work not written stays pending.
    static bool flush();
    // Asks the writer thread for one flush without waiting.
    static void startSingleFlush();

    // --- File store ---------------------------------------------------------
    // The store records in "database.db" the name of every file it writes,
    // before it writes it, and deletes only files so recorded: nothing else
    // in "files" (a user's own documents, whatever their names) is ever
    // touched. A recorded file goes once no row names it, neither committed
    // in the file nor pending in memory: after removeFile, or when a crash
    // left it behind (written for rows that never committed, or the file of
    // a row whose removal committed), through the sweep. The sweep reads
    // only the recorded names, a few per flush; it never lists the folder,
    // and closing the store never waits for it. Each open starts it unless
    // it is turned off here; a program that wants its window first starts it
    // itself once the window is shown.
    static void setOrphanSweepAtOpen(bool atOpen);
    static void startOrphanSweep();
    // The bytes reach the disk with the next flush, whole or not at all:
    // rows that name a file wait for it until every byte is written. A name
    // from newFileName counts as a file from the start: rows that name it
    // wait (and flush() says false, with no failure told) until its bytes
    // come here, or until removeFile gives the name up.
    static QString setFileData(const QString &name, const QByteArray &bytes);
    static QString storeNewFile(const QByteArray &bytes, const QString &suffix = QString());
    static QByteArray fileData(const QString &name);
    static qint64 fileSize(const QString &name);
    static bool fileExists(const QString &name);
    static void removeFile(const QString &name);
    static QString filePath(const QString &name);
    static QString newFileName(const QString &suffix);
    // A stored file name is one bare path component: no separators, no
    // control characters, not "." or "..".
    static bool isValidFileName(const QString &name);
    // Cells of a column named "file" or ending in "_file" name stored files.
    static bool isFileColumn(const QString &column);
};
