// Local options (table "options"), the server option getter and the user id.

#include "engineglobals_p.h"

#include "database.h"

namespace {

QVariant lookupOption(int table, int nameColumn, int valueColumn, const QString &name,
                      const QVariant &defaultValue)
{
    const QVariant stored = Database::lookupValue(table, nameColumn, QVariant(name), valueColumn);
    return isNullValue(stored) ? defaultValue : stored;
}

} // namespace

QVariant optionValue(const QString &name, const QVariant &defaultValue)
{
    // No option has an empty name; as a key it would match any row.
    if (name.isEmpty())
        return defaultValue;
    return lookupOption(tables.optionsTable, tables.optionsNameColumn, tables.optionsValueColumn, name, defaultValue);
}

QVariant serverOptionValue(const QString &name, const QVariant &defaultValue)
{
    if (name.isEmpty())
        return defaultValue;
    return lookupOption(tables.serverOptionTable, tables.serverOptionNameColumn, tables.serverOptionValueColumn, name,
                        defaultValue);
}

namespace {

int optionRow(const QString &name, int *remembered)
{
    if (tables.optionsTable < 0 || name.isEmpty())
        return 0;
    if (*remembered > 0
        && cellEquals(Database::value(tables.optionsTable, *remembered, tables.optionsNameColumn), name))
        return *remembered;
    *remembered = Database::findRow(tables.optionsTable, tables.optionsNameColumn, QVariant(name));
    return *remembered;
}

} // namespace

QVariant counterOption(const QString &name, int *remembered)
{
    const int row = optionRow(name, remembered);
    const QVariant stored = row > 0 ? Database::value(tables.optionsTable, row, tables.optionsValueColumn) : QVariant();
    return isNullValue(stored) ? QVariant(0) : stored;
}

void setCounterOption(const QString &name, const QVariant &value, int *remembered)
{
    const int row = optionRow(name, remembered);
    if (row > 0)
        Database::setValue(tables.optionsTable, row, tables.optionsValueColumn, value);
    else
        setOption(name, value);
}

void setOption(const QString &name, const QVariant &value)
{
    if (tables.optionsTable < 0 || name.isEmpty())
        return;
    int row = Database::findRow(tables.optionsTable, tables.optionsNameColumn, QVariant(name));
    if (row <= 0)
        Database::insertRow(
            tables.optionsTable, {{tables.optionsNameColumn, QVariant(name)}, {tables.optionsValueColumn, value}});
    else
        Database::setValue(tables.optionsTable, row, tables.optionsValueColumn, value);
}

Id userId()
{
    return optionValue(QStringLiteral("user"), 0).toLongLong();
}
