#include "fontweight.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {
struct WeightPair
{
    int stored;
    int qt;
};
// Each named weight on both scales; values between are interpolated, so the
// named ones (and 50, 75 in particular) survive a round trip exactly.
constexpr std::array<WeightPair, 9> weightTable{{
    {0, QFont::Thin},
    {12, QFont::ExtraLight},
    {25, QFont::Light},
    {50, QFont::Normal},
    {57, QFont::Medium},
    {63, QFont::DemiBold},
    {75, QFont::Bold},
    {81, QFont::ExtraBold},
    {99, QFont::Black},
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
