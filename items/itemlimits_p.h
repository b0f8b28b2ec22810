#pragma once
// TEMPORARY until the shared painting limits land.
#include <QVariant>
#include <QFont>
#include <cmath>
inline double clampCoordinate(double v) { return std::isfinite(v) ? std::clamp(v, -1e6, 1e6) : 0.0; }
inline double fontPointSize(const QVariant &v) { const double s = v.toDouble(); return std::isfinite(s) ? std::clamp(s, 1.0, 1000.0) : 12.0; }
inline int qtFontWeightFromStored(const QVariant &v) { const int w = v.toInt(); return std::clamp(100 + (w * 800) / 99, 100, 900); }
