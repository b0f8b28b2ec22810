// The declared tables, the parsing of their column declarations and the key
// columns that get value indexes.

#include "database.h"

#include <QTest>

namespace {

QStringList fieldNames(const QList<QSqlField> &fields)
{
    QStringList names;
    for (const QSqlField &field : fields)
        names.append(field.name());
    return names;
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QStringList indexedColumns(const char *table)
{
    const int number = Database::tableId(QString::fromLatin1(table));
    const QStringList columns = Database::columnNames(number);
    QStringList names;
    for (int column = 0; column < columns.size(); ++column) {
        if (Database::hasColumnIndex(number, column))
            names.append(columns.at(column));
    }
    return names;
}

} // namespace

class TestSchema : public QObject
{
    Q_OBJECT

private slots:
    void declaredTables();
    void parsing_data();
    void parsing();
    void keyColumns();
};

void TestSchema::declaredTables()
{
    const ParsedSchema schema = Database::schema();
    QCOMPARE(schema.size(), 25);
    QMap<QString, QStringList> columns;
    for (const auto &table : schema)
        columns.insert(table.first, fieldNames(table.second));
    QCOMPARE(schema.first().first, QStringLiteral("database_stamp"));
    QCOMPARE(schema.at(12).first, QStringLiteral("skrin"));
    QCOMPARE(schema.last().first, QStringLiteral("skrin_pin"));
    QCOMPARE(columns.value(QStringLiteral("database_stamp")).size(), 1);
    QCOMPARE(columns.value(QStringLiteral("skrin")).size(), 20);
    QCOMPARE(columns.value(QStringLiteral("skrin_text")).size(), 13);

    // The irregular ones, as the stored files have them.
    QCOMPARE(columns.value(QStringLiteral("downloads")), words("url id member"));
    QCOMPARE(columns.value(QStringLiteral("skrin")).mid(7, 4), words("x y w h"));
    QCOMPARE(columns.value(QStringLiteral("skrin_blur")), words("id parent x y z pen_size data"));
    QCOMPARE(columns.value(QStringLiteral("skrin_pin")), words("id parent x y z data color opened"));
    QCOMPARE(columns.value(QStringLiteral("skrin_text")).mid(11), words("color data"));

    const DeclaredSchema declared = schemaTables();
    QCOMPARE(declared.keys.size(), 29);
    QCOMPARE(declared.keys.first(), qMakePair(QStringLiteral("server_option"), QStringLiteral("id")));
    QCOMPARE(declared.keys.last(), qMakePair(QStringLiteral("skrin_pin"), QStringLiteral("parent")));
    QCOMPARE(Database::stampVersion(), QStringLiteral("0.0.1"));
}

void TestSchema::parsing_data()
{
    QTest::addColumn<QString>("declaration");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("length");

    QTest::newRow("int(8)") << "`font_weight` INT(8)" << "font_weight" << int(QMetaType::Int) << 8;
    QTest::newRow("varchar(1024)") << "`url` VARCHAR(1024)" << "url" << int(QMetaType::QString) << 1024;
    QTest::newRow("text") << "`value` TEXT" << "value" << int(QMetaType::QString) << -1;
    QTest::newRow("real") << "`x` REAL" << "x" << int(QMetaType::Double) << -1;
    QTest::newRow("bigint") << "`id` BIGINT(32)" << "id" << int(QMetaType::LongLong) << 32;
    QTest::newRow("datetime") << "`modified` DATETIME" << "modified" << int(QMetaType::QDateTime) << -1;
    QTest::newRow("lower case, blanks") << "  `s`  varchar ( 5 ) " << "s" << int(QMetaType::QString) << 5;
    QTest::newRow("bool") << "`flag` BOOL(9)" << "flag" << int(QMetaType::Int) << 1;
    QTest::newRow("unknown word") << "`blob` BLOB" << "blob" << int(QMetaType::UnknownType) << -1;
    QTest::newRow("length not a number") << "`n` INT(many)" << "n" << int(QMetaType::Int) << 0;
    QTest::newRow("no backticks") << "plain" << "" << int(QMetaType::UnknownType) << -1;
}

void TestSchema::parsing()
{
    QFETCH(QString, declaration);
    QFETCH(QString, name);
    QFETCH(int, type);
    QFETCH(int, length);
    const ParsedSchema parsed = schemaFields({SchemaTable{QStringLiteral("t"), {declaration}}});
    QCOMPARE(parsed.size(), 1);
    const QSqlField field = parsed.first().second.value(0);
    QCOMPARE(field.name(), name);
    QCOMPARE(field.metaType().id(), type);
    QCOMPARE(field.length(), length);
}

void TestSchema::keyColumns()
{
    // Every declared table in memory, with rows that exist before the indexes.
    for (const auto &table : Database::schema())
        Database::addTable(table.first, fieldNames(table.second));
    const int options = Database::tableId(QStringLiteral("options"));
    Database::insertRow(options, {{0, QStringLiteral("server")}, {1, QStringLiteral("a")}});
    Database::insertRow(options, {{0, QStringLiteral("quality")}, {1, QStringLiteral("b")}});

    // Blanks around names and empty pieces are skipped, so are unknown names
    // and tables.
    Database::declareKeyColumns(QStringLiteral("too_big_files"), QStringLiteral(" id , ,file ,missing"));
    QCOMPARE(indexedColumns("too_big_files"), words("id file"));
    const int count = Database::tableCount();
    Database::declareKeyColumns(QStringLiteral("no_such_table"), QStringLiteral("id"));
    QCOMPARE(Database::tableCount(), count);

    Database::declareKeyIndexes();
    QCOMPARE(indexedColumns("database_stamp"), QStringList());
    QCOMPARE(indexedColumns("downloads"), QStringList());
    QCOMPARE(indexedColumns("options"), words("name"));
    QCOMPARE(indexedColumns("items"), words("id type owner"));
    QCOMPARE(indexedColumns("share"), words("id user item_id"));
    QCOMPARE(indexedColumns("favourite"), words("id item_id"));
    QCOMPARE(indexedColumns("skrin"), words("id parent handle file thumbnail64_file thumbnail128_file "
                                            "thumbnail512_file"));
    QCOMPARE(indexedColumns("skrin_image"), words("id parent file"));
    QCOMPARE(indexedColumns("skrin_pin"), words("id parent"));
    QCOMPARE(Database::lookupValue(options, 0, QStringLiteral("quality"), 1), QVariant(QStringLiteral("b")));
}

QTEST_GUILESS_MAIN(TestSchema)
#include "tst_schema.moc"
