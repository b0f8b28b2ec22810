#pragma once

// Fonts as text rows store them, read and written here and nowhere else:
// family, point size, weight, italic, underline and strike-out in the
// members "font_name", "font_size", "font_weight", "font_italic",
// "font_underline" and "font_strikeout". Weights are stored on the old 0..99
// scale (50 normal, 75 bold, 87 black), which other clients and stored files
// rely on; Qt 6 paints on 100..900.

#include <QFont>
#include <QList>
#include <QStringList>
#include <QVariantMap>

#include <utility>

// The editor shows a stored size as it is; the renderer and the tool bar
// take whole points, the fraction dropped.
enum class PointSizes { Fractional, Whole };

// The font members' names, in the order they are written.
const QStringList &fontMemberNames();
// Applies one stored font member to `font`; false when `member` is not one.
// Values are kept within what can be painted; a size below one point leaves
// the font's size as it is.
bool applyFontMember(QFont &font, QStringView member, const QVariant &value, PointSizes sizes);
// `font` with every font member of `members` applied (a missing one reads
// as 0 or "").
QFont fontFromMembers(const QVariantMap &members, PointSizes sizes, QFont font = QFont());
// The members that store `font`, in the order they are written.
QList<std::pair<QString, QVariant>> fontMembers(const QFont &font);

// The Qt weight for a stored value. The value is read as an integer (a
// non-number is 0) and clamped to 0..99 first; 87 and above are Black.
int qtFontWeightFromStored(const QVariant &stored);
// The stored value for a font's weight, 0..87.
int storedFontWeight(const QFont &font);
// The same for a bare Qt weight (1..1000, clamped).
int storedFontWeightFromQt(int qtWeight);
