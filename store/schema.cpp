// The declared data model: every table with its columns, the schema stamp and
// the key columns that get value indexes.

#include "database_p.h"

namespace {

const QString idColumn = QStringLiteral("`id` BIGINT(32)");
const QString parentColumn = QStringLiteral("`parent` BIGINT(32)");

// Key columns beyond the id and parent columns the builders record:
// table, comma-separated columns.
const char *const fixedKeyColumns[][2] = {
    {"options", "name"},
    {"items", "id, type, owner"},
    {"uncommitted_create", "id"},
    {"uncommitted_set", "id"},
    {"uncommitted_remove", "id"},
    {"dirt_skrin", "id"},
    {"too_big_files", "id, file"},
    {"share", "user, item_id"},
    {"server_option", "name"},
    {"skrin", "file, handle, thumbnail64_file, thumbnail128_file, thumbnail512_file"},
    {"skrin_image", "file"},
    {"favourite", "item_id"},
};

QStringList columns(std::initializer_list<const char *> declarations)
{
    QStringList result;
    result.reserve(qsizetype(declarations.size()));
    for (const char *declaration : declarations)
        result.append(QString::fromLatin1(declaration));
    return result;
}

void appendPlain(DeclaredSchema &schema, const char *table, std::initializer_list<const char *> declarations)
{
    schema.tables.append(SchemaTable{QString::fromLatin1(table), columns(declarations)});
}

QMetaType fieldType(const QString &typeWord)
{
    if (typeWord == QLatin1String("VARCHAR") || typeWord == QLatin1String("TEXT"))
        return QMetaType::fromType<QString>();
    if (typeWord == QLatin1String("BIGINT"))
        return QMetaType::fromType<qlonglong>();
    if (typeWord == QLatin1String("INT") || typeWord == QLatin1String("BOOL"))
        return QMetaType::fromType<int>();
    if (typeWord == QLatin1String("DATETIME"))
        return QMetaType::fromType<QDateTime>();
    if (typeWord == QLatin1String("DATE"))
        return QMetaType::fromType<QDate>();
    if (typeWord == QLatin1String("TIME"))
        return QMetaType::fromType<QTime>();
    if (typeWord == QLatin1String("REAL"))
        return QMetaType::fromType<double>();
    return QMetaType();
}

// "`name` TYPE(length)" -> a field with that name, type and length.
QSqlField parseColumn(const QString &declaration)
{
    const QString trimmed = declaration.trimmed();
    const QString name = trimmed.section(QLatin1Char('`'), 1, 1).trimmed();
    const QString rest = trimmed.mid(name.size() + 2).trimmed();

    const qsizetype open = rest.indexOf(QLatin1Char('('));
    const qsizetype close = rest.indexOf(QLatin1Char(')'));
    int length = -1;
    if (open != close) {
        const qsizetype from = open + 1;
        const qsizetype count = close - from;
        length = QVariant(count >= 0 ? rest.mid(from, count) : QString()).toInt();
    }
    const QString typeWord = rest.left(open).toUpper().trimmed();
    if (typeWord == QLatin1String("BOOL"))
        length = 1;

    QSqlField field(name, fieldType(typeWord));
    field.setLength(length);
    return field;
}

} // namespace

void appendIdParentColumns(DeclaredSchema &schema, const QString &table, const QStringList &columns,
                           bool withParent)
{
    QStringList all{idColumn};
    if (withParent)
        all.append(parentColumn);
    all.append(columns);
    schema.tables.append(SchemaTable{table, all});
    schema.keys.append({table, QStringLiteral("id")});
    if (withParent)
        schema.keys.append({table, QStringLiteral("parent")});
}

void appendPositionColumns(DeclaredSchema &schema, const QString &table, const QStringList &columns)
{
    QStringList all{QStringLiteral("`x` REAL"), QStringLiteral("`y` REAL"), QStringLiteral("`z` REAL")};
    all.append(columns);
    appendIdParentColumns(schema, table, all, true);
}

DeclaredSchema schemaTables()
{
    DeclaredSchema schema;
    appendPlain(schema, "database_stamp", {"`stamp` VARCHAR(255)"});
    appendPlain(schema, "options", {"`name` VARCHAR(255)", "`value` TEXT"});
    appendPlain(schema, "items", {"`id` BIGINT(32)", "`type` VARCHAR(255)", "`owner` BIGINT(32)"});
    appendPlain(schema, "uncommitted_create", {"`id` BIGINT(32)", "`token` VARCHAR(64)"});
    appendPlain(schema, "uncommitted_set", {"`id` BIGINT(32)", "`member` VARCHAR(255)", "`modified` DATETIME"});
    appendPlain(schema, "uncommitted_remove", {"`id` BIGINT(32)"});
    appendPlain(schema, "downloads", {"`url` VARCHAR(1024)", "`id` BIGINT(32)", "`member` VARCHAR(255)"});
    appendPlain(schema, "dirt_skrin", {"`id` BIGINT(32)", "`modified` DATETIME"});
    appendPlain(schema, "too_big_files", {"`id` BIGINT(32)", "`member` VARCHAR(255)", "`file` VARCHAR(255)"});

    appendIdParentColumns(schema, QStringLiteral("server_option"),
                          columns({"`name` VARCHAR(255)", "`value` VARCHAR(255)"}), false);
    appendIdParentColumns(schema, QStringLiteral("share"), columns({"`user` BIGINT(32)", "`item_id` BIGINT(32)"}),
                          false);
    appendIdParentColumns(schema, QStringLiteral("favourite"), columns({"`item_id` BIGINT(32)"}), false);
    appendIdParentColumns(schema, QStringLiteral("skrin"),
                          columns({"`handle` VARCHAR(255)", "`title` VARCHAR(255)", "`desc` TEXT",
                                   "`created` DATETIME", "`modified` DATETIME", "`x` REAL", "`y` REAL", "`w` REAL",
                                   "`h` REAL", "`file` VARCHAR(255)", "`thumbnail64_file` VARCHAR(255)",
                                   "`thumbnail128_file` VARCHAR(255)", "`thumbnail512_file` VARCHAR(255)",
                                   "`published` INT(1)", "`trashed` INT(1)", "`password_hash` VARCHAR(255)",
                                   "`password_length` INT(11)", "`customize` TEXT"}),
                          true);
    appendPositionColumns(schema, QStringLiteral("skrin_image"),
                          columns({"`file` VARCHAR(255)", "`w` REAL", "`h` REAL", "`src_x` REAL", "`src_y` REAL",
                                   "`src_w` REAL", "`src_h` REAL"}));
    appendPositionColumns(schema, QStringLiteral("skrin_marker"),
                          columns({"`color` VARCHAR(10)", "`pen_size` REAL", "`data` TEXT"}));
    appendPositionColumns(schema, QStringLiteral("skrin_blur"), columns({"`pen_size` REAL", "`data` TEXT"}));
    appendPositionColumns(schema, QStringLiteral("skrin_pen"),
                          columns({"`color` VARCHAR(10)", "`pen_size` REAL", "`data` TEXT"}));
    appendPositionColumns(schema, QStringLiteral("skrin_text"),
                          columns({"`font_name` VARCHAR(255)", "`font_size` REAL", "`font_weight` INT(8)",
                                   "`font_italic` INT(1)", "`font_underline` INT(1)", "`font_strikeout` INT(1)",
                                   "`color` VARCHAR(10)", "`data` TEXT"}));
    appendPositionColumns(schema, QStringLiteral("skrin_line"),
                          columns({"`color` VARCHAR(10)", "`pen_size` REAL", "`begin_x` REAL", "`begin_y` REAL",
                                   "`end_x` REAL", "`end_y` REAL"}));
    appendPositionColumns(schema, QStringLiteral("skrin_arrow"),
                          columns({"`color` VARCHAR(10)", "`pen_size` REAL", "`begin_x` REAL", "`begin_y` REAL",
                                   "`end_x` REAL", "`end_y` REAL"}));
    appendPositionColumns(schema, QStringLiteral("skrin_ellipse"),
                          columns({"`color` VARCHAR(10)", "`w` REAL", "`h` REAL"}));
    appendPositionColumns(schema, QStringLiteral("skrin_ellipse_frame"),
                          columns({"`color` VARCHAR(10)", "`pen_size` REAL", "`w` REAL", "`h` REAL"}));
    appendPositionColumns(schema, QStringLiteral("skrin_rectangle"),
                          columns({"`color` VARCHAR(10)", "`w` REAL", "`h` REAL"}));
    appendPositionColumns(schema, QStringLiteral("skrin_rectangle_frame"),
                          columns({"`color` VARCHAR(10)", "`pen_size` REAL", "`w` REAL", "`h` REAL"}));
    appendPositionColumns(schema, QStringLiteral("skrin_pin"),
                          columns({"`data` TEXT", "`color` VARCHAR(10)", "`opened` INT(1)"}));
    return schema;
}

ParsedSchema schemaFields(const QList<SchemaTable> &tables)
{
    ParsedSchema result;
    result.reserve(tables.size());
    for (const SchemaTable &table : tables) {
        QList<QSqlField> fields;
        fields.reserve(table.columns.size());
        for (const QString &declaration : table.columns)
            fields.append(parseColumn(declaration));
        result.append({table.name, fields});
    }
    return result;
}

ParsedSchema Database::schema()
{
    return schemaFields(schemaTables().tables);
}

QString Database::stampVersion()
{
    return QStringLiteral("0.0.1");
}

QList<QPair<QString, QString>> store_internal::declaredKeyColumns()
{
    QList<QPair<QString, QString>> keys;
    const auto add = [&keys](const QString &table, const QString &columns) {
        for (const QString &name : columns.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive))
            keys.append({table, name.trimmed()});
    };
    const DeclaredSchema declared = schemaTables();
    for (const auto &key : declared.keys)
        add(key.first, key.second);
    for (const auto &entry : fixedKeyColumns)
        add(QString::fromLatin1(entry[0]), QString::fromLatin1(entry[1]));
    return keys;
}

void Database::declareKeyColumns(const QString &table, const QString &columns)
{
    const int number = tableId(table);
    if (number < 0)
        return;
    const QStringList names = columns.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &name : names) {
        const int column = columnId(number, name.trimmed());
        if (column >= 0)
            buildColumnIndex(number, column);
    }
}

void Database::declareKeyIndexes()
{
    for (const auto &[table, column] : store_internal::declaredKeyColumns())
        declareKeyColumns(table, column);
}
