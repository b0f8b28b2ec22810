#include "polygondata.h"

#include "jsoncodec.h"
#include "paintlimits.h"
#include "renderlog.h"

#include <cmath>

QVariant polygonToData(const QPolygonF &polygon)
{
    QString text;
    text.reserve(2 + polygon.size() * 16);
    text += QLatin1Char('[');
    bool first = true;
    for (const QPointF &p : polygon) {
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
            continue;
        if (!first)
            text += QLatin1Char(',');
        first = false;
        text += QString::number(p.x(), 'g', 15);
        text += QLatin1Char(',');
        text += QString::number(p.y(), 'g', 15);
    }
    text += QLatin1Char(']');
    return text;
}

QPolygonF dataToPolygon(const QVariant &data)
{
    const QString text = data.toString();
    if (text.isEmpty())
        return {};
    bool ok = true;
    const QVariant parsed = JsonCodec::parse(text, &ok);
    if (parsed.typeId() != QMetaType::QVariantList)
        return {};
    const QVariantList values = parsed.toList();
    const qsizetype pairs = values.size() / 2;
    if (pairs > PaintLimits::maxPolygonPoints)
        qCWarning(lcRender) << "stroke of" << pairs << "points cut to" << PaintLimits::maxPolygonPoints;
    QPolygonF polygon;
    polygon.reserve(qMin<qsizetype>(pairs, PaintLimits::maxPolygonPoints));
    for (qsizetype i = 0; i + 1 < values.size() && polygon.size() < PaintLimits::maxPolygonPoints; i += 2) {
        const double x = values.at(i).toReal();
        const double y = values.at(i + 1).toReal();
        if (!std::isfinite(x) || !std::isfinite(y))
            continue;
        polygon.append(clampPoint(QPointF(x, y)));
    }
    return polygon;
}
