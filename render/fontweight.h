#pragma once

// Font weights are stored on the old 0..99 scale (50 normal, 75 bold), which
// other clients and stored files rely on; Qt 6 paints on 100..900. Every
// reader and writer of `font_weight` converts here and nowhere else.

#include <QFont>
#include <QVariant>

// The Qt weight for a stored value. The value is read as an integer (a
// non-number is 0) and clamped to 0..99 first.
int qtFontWeightFromStored(const QVariant &stored);
// The stored 0..99 value for a font's weight.
int storedFontWeight(const QFont &font);
// The same for a bare Qt weight (1..1000, clamped).
int storedFontWeightFromQt(int qtWeight);
