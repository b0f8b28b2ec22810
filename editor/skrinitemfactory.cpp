#include "skrinitemfactory.h"

#include "editorlog.h"
#include "skrinitem.h"

#include <QHash>

namespace {

QHash<QString, SkrinItemMaker> &makers()
{
    static QHash<QString, SkrinItemMaker> registered;
    return registered;
}

} // namespace

SkrinItem *createSkrinItem(const QString &table, Id id, Skrin *skrin)
{
    if (const SkrinItemMaker maker = makers().value(table))
        return maker(id, skrin);
    // One line per kind, e.g.
    // if (table == QLatin1String("skrin_pen")) return new SkrinPen(id, skrin);
    qCWarning(lcEditor) << "no annotation kind for table" << table << "of item" << id;
    return nullptr;
}

void startEditingNewItem(SkrinItem *item)
{
    Q_UNUSED(item)
}

void setSkrinItemMaker(const QString &table, SkrinItemMaker maker)
{
    if (maker)
        makers().insert(table, std::move(maker));
    else
        makers().remove(table);
}
