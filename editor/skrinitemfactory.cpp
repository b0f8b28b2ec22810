#include "skrinitemfactory.h"

#include "annotationkinds.h"
#include "editorlog.h"
#include "skrin.h"
#include "skrinarrow.h"
#include "skrinblur.h"
#include "skrinellipseframe.h"
#include "skrinimage.h"
#include "skrinitem.h"
#include "skrinline.h"
#include "skrinmarker.h"
#include "skrinpin.h"
#include "skrinpintext.h"
#include "skrinrectangleframe.h"
#include "skrintext.h"

#include <QHash>

#include <utility>

namespace {

QHash<QString, SkrinItemMaker> &makers()
{
    static QHash<QString, SkrinItemMaker> registered;
    return registered;
}

using Builder = SkrinItem *(*)(Id id, Skrin *skrin);

template<class Kind>
SkrinItem *build(Id id, Skrin *skrin)
{
    return new Kind(id, skrin);
}

template<>
SkrinItem *build<SkrinPen>(Id id, Skrin *skrin)
{
    return new SkrinPen(id, skrin, QStringLiteral("x,y,z,data,pen_size,color"));
}

// The item class of each kind, by the tool that draws it.
constexpr std::pair<SkrinTool, Builder> builders[] = {
    {ToolBlur, build<SkrinBlur>},
    {ToolMarker, build<SkrinMarker>},
    {ToolText, build<SkrinText>},
    {ToolPen, build<SkrinPen>},
    {ToolArrow, build<SkrinArrow>},
    {ToolLine, build<SkrinLine>},
    {ToolEllipse, build<SkrinEllipse>},
    {ToolEllipseFrame, build<SkrinEllipseFrame>},
    {ToolRectangle, build<SkrinRectangle>},
    {ToolRectangleFrame, build<SkrinRectangleFrame>},
    {ToolPin, build<SkrinPin>},
    {ToolImage, build<SkrinImage>},
};

} // namespace

SkrinItem *createSkrinItem(const QString &table, Id id, Skrin *skrin)
{
    if (const SkrinItemMaker maker = makers().value(table))
        return maker(id, skrin);
    if (const AnnotationKind *kind = annotationKind(table)) {
        for (const auto &[tool, builder] : builders) {
            if (tool == kind->tool)
                return builder(id, skrin);
        }
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
