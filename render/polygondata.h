#pragma once

// The stored `data` text of pen, marker and blur rows: a JSON array of reals
// x0,y0,x1,y1,... in item coordinates. Other clients read and write the same
// text, so its form is fixed: no spaces, each number as QString::number(v,
// 'g', 15).

#include <QPolygonF>
#include <QVariant>

// "[0,0,3.5,-2]" for (0,0),(3.5,-2). Points with a non-finite coordinate are
// left out, since JSON has no spelling for them.
QVariant polygonToData(const QPolygonF &polygon);

// Lenient reader: anything but an array gives no points; each element reads
// as QVariant::toReal does (a non-number is 0); a last unpaired element is
// ignored. Points with a non-finite coordinate are dropped, coordinates are
// clamped to the paint limits, and points beyond maxPolygonPoints are ignored.
// Plain arrays of numbers, the usual text, are read directly; anything else
// goes through the general JSON reader.
QPolygonF dataToPolygon(const QVariant &data);

// The same reading through the general JSON reader alone, which defines what
// every text means; dataToPolygon must give exactly what this gives.
QPolygonF dataToPolygonViaJson(const QVariant &data);
