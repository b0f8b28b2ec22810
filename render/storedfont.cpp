#include "storedfont.h"

#include "paintlimits.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {
struct WeightPair
{
    int stored;
    int qt;
};
// Each named weight on both scales, as Qt's own old-style font strings have
// them; values between are interpolated, so the named ones survive a round
// trip exactly. Stored values above Black's 87 read as Black.
constexpr std::array<WeightPair, 9> weightTable{{
    {0, QFont::Thin},
    {12, QFont::ExtraLight},
    {25, QFont::Light},
    {50, QFont::Normal},
    {57, QFont::Medium},
    {63, QFont::DemiBold},
    {75, QFont::Bold},
    {81, QFont::ExtraBold},
    {87, QFont::Black},
}};

// Linear interpolation along the table from one scale (`from`) to the other.
template<typename From, typename To>
int convert(double value, From from, To to)
{
    if (value <= from(weightTable.front()))
        return to(weightTable.front());
    for (std::size_t i = 1; i < weightTable.size(); ++i) {
        const WeightPair &lo = weightTable[i - 1];
        const WeightPair &hi = weightTable[i];
        if (value <= from(hi)) {
            const double t = (value - from(lo)) / double(from(hi) - from(lo));
            return int(std::lround(to(lo) + t * (to(hi) - to(lo))));
        }
    }
    return to(weightTable.back());
}

int storedOf(const WeightPair &p) { return p.stored; }
int qtOf(const WeightPair &p) { return p.qt; }
} // namespace

int qtFontWeightFromStored(const QVariant &stored)
{
    bool ok = false;
    int value = stored.toInt(&ok);
    if (!ok) {
        // Reals ("62.5") read as integers by dropping the fraction.
        const double real = stored.toDouble(&ok);
        value = ok && std::isfinite(real) ? int(std::clamp(real, 0.0, 99.0)) : 0;
    }
    return convert(std::clamp(value, 0, 99), storedOf, qtOf);
}

int storedFontWeightFromQt(int qtWeight)
{
    return convert(std::clamp(qtWeight, 1, 1000), qtOf, storedOf);
}

int storedFontWeight(const QFont &font)
{
    return storedFontWeightFromQt(font.weight());
}

namespace {
const QString fontName = QStringLiteral("font_name");
const QString fontSize = QStringLiteral("font_size");
const QString fontWeight = QStringLiteral("font_weight");
const QString fontItalic = QStringLiteral("font_italic");
const QString fontUnderline = QStringLiteral("font_underline");
const QString fontStrikeout = QStringLiteral("font_strikeout");
} // namespace

const QStringList &fontMemberNames()
{
    static const QStringList names{fontName, fontSize, fontWeight, fontItalic, fontUnderline, fontStrikeout};
    return names;
}

bool applyFontMember(QFont &font, QStringView member, const QVariant &value, PointSizes sizes)
{
    if (member == fontName) {
        font.setFamily(value.toString());
    } else if (member == fontSize) {
        // Hostile rows carry 0, -5 or 1e300. Below one point there is no
        // size: the font keeps its own, as Qt's setters do for 0.
        const double size = finiteReal(value);
        if (size < PaintLimits::minFontPointSize)
            return true;
        if (sizes == PointSizes::Whole)
            font.setPointSize(clampFontPointSize(size));
        else
            font.setPointSizeF(std::min(size, double(PaintLimits::maxFontPointSize)));
    } else if (member == fontWeight) {
        font.setWeight(QFont::Weight(qtFontWeightFromStored(value)));
    } else if (member == fontItalic) {
        font.setStyle(value.toInt() != 0 ? QFont::StyleItalic : QFont::StyleNormal);
    } else if (member == fontUnderline) {
        font.setUnderline(value.toInt() != 0);
    } else if (member == fontStrikeout) {
        font.setStrikeOut(value.toInt() != 0);
    } else {
        return false;
    }
    return true;
}

QFont fontFromMembers(const QVariantMap &members, PointSizes sizes, QFont font)
{
    for (const QString &member : fontMemberNames())
        applyFontMember(font, member, members.value(member), sizes);
    return font;
}

QList<std::pair<QString, QVariant>> fontMembers(const QFont &font)
{
    return {{fontName, font.family()},
            {fontSize, font.pointSizeF()},
            {fontWeight, storedFontWeight(font)},
            {fontItalic, font.style() != QFont::StyleNormal ? 1 : 0},
            {fontUnderline, font.underline() ? 1 : 0},
            {fontStrikeout, font.strikeOut() ? 1 : 0}};
}
