#pragma once

// Gives an item the cache mode it asks for, unless its bounds are too large
// to keep as one picture (a damaged row's coordinates can reach millions of
// units): such an item is painted directly, since Qt would otherwise try to
// allocate, and fail to fill, a cache picture of that size on every paint.

#include <QGraphicsItem>

inline void setBoundedCacheMode(QGraphicsItem *item, QGraphicsItem::CacheMode wanted)
{
    constexpr double maxCachedArea = 4096.0 * 4096.0;
    const QRectF bounds = item->boundingRect();
    const bool fits = bounds.width() * bounds.height() <= maxCachedArea; // false for NaN
    const QGraphicsItem::CacheMode mode = fits ? wanted : QGraphicsItem::NoCache;
    if (item->cacheMode() != mode)
        item->setCacheMode(mode);
}
