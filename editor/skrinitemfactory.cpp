#include "skrinitemfactory.h"

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
    if (table == QLatin1String("skrin_pen"))
        return new SkrinPen(id, skrin, QStringLiteral("x,y,z,data,pen_size,color"));
    if (table == QLatin1String("skrin_marker"))
        return new SkrinMarker(id, skrin);
    if (table == QLatin1String("skrin_blur"))
        return new SkrinBlur(id, skrin);
    if (table == QLatin1String("skrin_line"))
        return new SkrinLine(id, skrin);
    if (table == QLatin1String("skrin_arrow"))
        return new SkrinArrow(id, skrin);
    if (table == QLatin1String("skrin_rectangle"))
        return new SkrinRectangle(id, skrin);
    if (table == QLatin1String("skrin_rectangle_frame"))
        return new SkrinRectangleFrame(id, skrin);
    if (table == QLatin1String("skrin_ellipse"))
        return new SkrinEllipse(id, skrin);
    if (table == QLatin1String("skrin_ellipse_frame"))
        return new SkrinEllipseFrame(id, skrin);
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
