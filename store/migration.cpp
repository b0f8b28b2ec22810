// Bringing "database.db" to the declared schema: the tables the store does
// not declare go, missing ones are made, and a table whose definition differs
// from the declared one is rebuilt with its rows.

#include "migration_p.h"

#include "fileledger_p.h"
#include "storelog.h"

#include <QSqlError>
#include <QSqlQuery>

namespace store_internal {

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool run(const QSqlDatabase &db, const QString &sql, QString *error)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    return fail(error, QStringLiteral("%1: %2").arg(sql, sqlReason(query.lastError())));
}

bool isUserTable(const QString &name)
{
    return !name.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive)
           && name.compare(fileLedgerName(), Qt::CaseInsensitive) != 0;
}

bool userTables(const QSqlDatabase &db, QStringList *names, QString *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid")))
        return fail(error, QStringLiteral("cannot list the tables: %1").arg(sqlReason(query.lastError())));
    while (query.next()) {
        const QString name = query.value(0).toString();
        if (isUserTable(name))
            names->append(name);
    }
    if (query.lastError().isValid())
        return fail(error, QStringLiteral("cannot list the tables: %1").arg(sqlReason(query.lastError())));
    return true;
}

bool tableColumns(const QSqlDatabase &db, const QString &table, QList<Column> *columns, QString *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT name, type FROM pragma_table_info(?) ORDER BY cid"));
    query.addBindValue(table);
    if (!query.exec())
        return fail(error,
                    QStringLiteral("cannot read the columns of %1: %2").arg(table, sqlReason(query.lastError())));
    while (query.next())
        columns->append(Column{query.value(0).toString(), query.value(1).toString()});
    if (query.lastError().isValid())
        return fail(error,
                    QStringLiteral("cannot read the columns of %1: %2").arg(table, sqlReason(query.lastError())));
    return true;
}

namespace {

// The SQL type a declared field is created with; empty for a type that is
// left out of the table.
QString sqlType(const QSqlField &field)
{
    switch (field.metaType().id()) {
    case QMetaType::LongLong:
        return QStringLiteral("BIGINT(32)");
    case QMetaType::Int:
        return QStringLiteral("INT(32)");
    case QMetaType::Bool:
        return QStringLiteral("INT(1)");
    case QMetaType::QDateTime:
        return QStringLiteral("DATETIME");
    case QMetaType::QDate:
        return QStringLiteral("DATE");
    case QMetaType::QTime:
        return QStringLiteral("TIME");
    case QMetaType::Double:
        return QStringLiteral("REAL");
    case QMetaType::QString:
        return field.length() >= 1 ? QStringLiteral("VARCHAR(%1)").arg(field.length()) : QStringLiteral("TEXT");
    default:
        return QString();
    }
}

// The words of an SQL text with quoting, spacing and letter case taken out:
// identifiers unquoted, keywords and names upper-cased, string literals kept
// with their quotes, every other character a word of its own.
QStringList sqlWords(const QString &sql)
{
    QStringList words;
    const qsizetype size = sql.size();
    for (qsizetype i = 0; i < size;) {
        const QChar c = sql.at(i);
        if (c.isSpace()) {
            ++i;
            continue;
        }
        const auto quoted = [&](QChar close, bool keepQuotes) {
            QString word;
            for (++i; i < size; ++i) {
                if (sql.at(i) == close) {
                    if (close != QLatin1Char(']') && i + 1 < size && sql.at(i + 1) == close) {
                        word.append(close);
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                word.append(sql.at(i));
            }
            words.append(keepQuotes ? QLatin1Char('\'') + word + QLatin1Char('\'') : word.toUpper());
        };
        if (c == QLatin1Char('`') || c == QLatin1Char('"')) {
            quoted(c, false);
        } else if (c == QLatin1Char('[')) {
            quoted(QLatin1Char(']'), false);
        } else if (c == QLatin1Char('\'')) {
            quoted(c, true);
        } else if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$')) {
            const qsizetype from = i;
            while (i < size && (sql.at(i).isLetterOrNumber() || sql.at(i) == QLatin1Char('_') || sql.at(i) == QLatin1Char('$')))
                ++i;
            words.append(sql.mid(from, i - from).toUpper());
        } else {
            words.append(QString(c));
            ++i;
        }
    }
    return words;
}

// The words of a CREATE TABLE text from its column list on: everything but
// the table's name, which a rename rewrites.
QStringList definitionWords(const QString &createTable)
{
    QStringList words = sqlWords(createTable);
    const qsizetype open = words.indexOf(QStringLiteral("("));
    return open < 0 ? QStringList() : words.mid(open);
}

QString createTableSql(const QString &table, const QList<QSqlField> &fields)
{
    QStringList columns;
    for (const QSqlField &field : fields) {
        const QString type = sqlType(field);
        if (!type.isEmpty())
            columns.append(quoteIdentifier(field.name()) + QLatin1Char(' ') + type);
    }
    if (table.isEmpty() || columns.isEmpty())
        return QString();
    return QStringLiteral("CREATE TABLE %1 (%2)").arg(quoteIdentifier(table), columns.join(QStringLiteral(", ")));
}

bool createTable(const QSqlDatabase &db, const QString &table, const QList<QSqlField> &fields, QString *error)
{
    const QString sql = createTableSql(table, fields);
    return sql.isEmpty() || run(db, sql, error);
}

bool tableDefinition(const QSqlDatabase &db, const QString &table, QString *sql, QString *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?"));
    query.addBindValue(table);
    if (!query.exec())
        return fail(error,
                    QStringLiteral("cannot read the definition of %1: %2").arg(table, sqlReason(query.lastError())));
    if (query.next())
        *sql = query.value(0).toString();
    return true;
}

// SQLite takes table and column names without regard to ASCII letter case:
// "options" and "OPTIONS" name one table. This is the form they compare in.
QString foldedName(const QString &name)
{
    QString folded = name;
    for (QChar &c : folded) {
        if (c.unicode() < 0x80)
            c = c.toLower();
    }
    return folded;
}

// Brings one existing table, `table` in the file, to the declared table
// `declaredName` with its columns. A table stays as it is only when its
// definition is the one the store creates, in whatever column order: a
// constraint, a rowid alias or another column type would make the file
// disagree with memory (a failing INSERT, a moving rowid, a converted value),
// so such a table is rebuilt with the values of the shared columns. Names
// match as SQLite matches them; a name spelt in another letter case is
// rebuilt too, so that memory finds the table and columns by their declared
// names.
bool migrateTable(const QSqlDatabase &db, const QString &table, const QString &declaredName,
                  const QList<QSqlField> &fields, const BeforeRebuild &beforeRebuild, QString *error)
{
    QList<Column> existing;
    if (!tableColumns(db, table, &existing, error))
        return false;
    QHash<QString, QSqlField> declared;
    for (const QSqlField &field : fields) {
        if (!sqlType(field).isEmpty())
            declared.insert(foldedName(field.name()), field);
    }
    QList<QSqlField> inFileOrder;
    bool sameSpelling = table == declaredName;
    for (const Column &column : std::as_const(existing)) {
        const auto match = declared.constFind(foldedName(column.name));
        if (match != declared.cend()) {
            inFileOrder.append(*match);
            sameSpelling = sameSpelling && match->name() == column.name;
        }
    }
    bool rebuild = !sameSpelling || inFileOrder.size() != existing.size() || inFileOrder.size() != declared.size();
    if (!rebuild) {
        QString sql;
        if (!tableDefinition(db, table, &sql, error))
            return false;
        rebuild = definitionWords(sql) != definitionWords(createTableSql(table, inFileOrder));
    }
    if (!rebuild)
        return true;
    if (!beforeRebuild(error))
        return false;

    qCInfo(lcStore).noquote() << "Database: rebuilding table" << table << "to its declared definition";
    const QString temporary = declaredName + QStringLiteral("_new_temporary");
    if (!createTable(db, temporary, fields, error))
        return false;
    QStringList from;
    QStringList to;
    for (const Column &column : std::as_const(existing)) {
        const auto match = declared.constFind(foldedName(column.name));
        if (match != declared.cend()) {
            from.append(quoteIdentifier(column.name));
            to.append(quoteIdentifier(match->name()));
        }
    }
    // Every step is checked: the old table goes only once its rows are copied.
    if (!from.isEmpty()) {
        if (!run(db,
                 QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM %4")
                     .arg(quoteIdentifier(temporary), to.join(QStringLiteral(", ")), from.join(QStringLiteral(", ")),
                          quoteIdentifier(table)),
                 error))
            return false;
    }
    return run(db, QStringLiteral("DROP TABLE %1").arg(quoteIdentifier(table)), error)
           && run(db,
                  QStringLiteral("ALTER TABLE %1 RENAME TO %2")
                      .arg(quoteIdentifier(temporary), quoteIdentifier(declaredName)),
                  error);
}

// The store makes no triggers, views or indexes in the file: a trigger or an
// index of somebody else's could fail or undo the flush's statements behind
// its back, and a view that names a missing table fails every rebuild (and
// one may hold the name of a table to create).
bool dropForeignObjects(const QSqlDatabase &db, QString *error)
{
    QList<QPair<QString, QString>> objects;
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT type, name FROM sqlite_master WHERE type IN ('trigger', 'view', 'index') "
                                       "AND sql IS NOT NULL")))
            return fail(error, QStringLiteral("cannot list triggers, views and indexes: %1")
                                   .arg(sqlReason(query.lastError())));
        while (query.next())
            objects.append({query.value(0).toString(), query.value(1).toString()});
    }
    for (const auto &[type, name] : std::as_const(objects)) {
        qCInfo(lcStore).noquote() << "Database: dropping the" << type << name << ", which the store did not make";
        if (!run(db, QStringLiteral("DROP %1 IF EXISTS %2").arg(type.toUpper(), quoteIdentifier(name)), error))
            return false;
    }
    return true;
}

bool writeStamp(const QSqlDatabase &db, QString *error)
{
    if (!run(db, QStringLiteral("DELETE FROM `database_stamp`"), error))
        return false;
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO `database_stamp` VALUES (?)"));
    insert.addBindValue(Database::stampVersion());
    if (!insert.exec())
        return fail(error, QStringLiteral("cannot write the schema stamp: %1").arg(sqlReason(insert.lastError())));
    return true;
}

// An empty stamp table counts as current.
bool stampIsCurrent(const QSqlDatabase &db, bool *current, QString *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT * FROM `database_stamp`")))
        return fail(error, QStringLiteral("cannot read the schema stamp: %1").arg(sqlReason(query.lastError())));
    *current = !query.next() || query.value(0).toString() == Database::stampVersion();
    return true;
}

} // namespace

bool migrate(const QSqlDatabase &db, const BeforeRebuild &beforeRebuild, bool *changed, QString *error)
{
    if (!dropForeignObjects(db, error))
        return false;
    QStringList inFile;
    if (!userTables(db, &inFile, error))
        return false;
    const ParsedSchema schema = Database::schema();
    QSet<QString> declaredNames;
    for (const auto &table : schema)
        declaredNames.insert(foldedName(table.first));
    QHash<QString, QString> fileNames; // folded -> as in the file
    for (const QString &table : std::as_const(inFile))
        fileNames.insert(foldedName(table), table);

    for (const QString &table : std::as_const(inFile)) {
        if (declaredNames.contains(foldedName(table)))
            continue;
        if (!run(db, QStringLiteral("DROP TABLE %1").arg(quoteIdentifier(table)), error))
            return false;
        *changed = true;
    }
    for (const auto &table : schema) {
        if (!fileNames.contains(foldedName(table.first)) && !createTable(db, table.first, table.second, error))
            return false;
    }

    bool current = true;
    if (!inFile.isEmpty() && !stampIsCurrent(db, &current, error))
        return false;
    if ((inFile.isEmpty() || !current) && !writeStamp(db, error))
        return false;

    const BeforeRebuild noteRebuild = [&](QString *why) {
        *changed = true;
        return beforeRebuild(why);
    };
    for (const auto &table : schema) {
        const QString existing = fileNames.value(foldedName(table.first));
        if (!existing.isEmpty() && !migrateTable(db, existing, table.first, table.second, noteRebuild, error))
            return false;
    }
    return true;
}

} // namespace store_internal
