#include "skrinitemfactory.h"

#include "annotationkinds.h"
#include "drawingtools.h"
#include "editorlog.h"
#include "skrinpin.h"
#include "skrinpintext.h"
#include "skrintext.h"

#include <QHash>

#include <utility>

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
    if (const AnnotationKind *kind = annotationKind(table)) {
        if (const DrawingTool *tool = drawingTool(kind->tool))
            return tool->build(id, skrin);
    }
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
