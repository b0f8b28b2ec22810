#include "skrinitemfactory.h"

#include "editorlog.h"
#include "skrin.h"
#include "skrinimage.h"
#include "skrinitem.h"
#include "skrinpin.h"
#include "skrinpintext.h"
#include "skrintext.h"

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
    // One line per kind.
    if (table == QLatin1String("skrin_text"))
        return new SkrinText(id, skrin);
    if (table == QLatin1String("skrin_pin"))
        return new SkrinPin(id, skrin);
    if (table == QLatin1String("skrin_image"))
        return new SkrinImage(id, skrin);
    qCWarning(lcEditor) << "no annotation kind for table" << table << "of item" << id;
    return nullptr;
}

void startEditingNewItem(SkrinItem *item)
{
    if (auto *text = dynamic_cast<SkrinText *>(item)) {
        text->setSelected(true);
        text->startEditing(true);
    } else if (auto *pin = dynamic_cast<SkrinPin *>(item)) {
        pin->note()->setSelected(true);
        pin->note()->startEditing(true);
    }
}

void setSkrinItemMaker(const QString &table, SkrinItemMaker maker)
{
    if (maker)
        makers().insert(table, std::move(maker));
    else
        makers().remove(table);
}
