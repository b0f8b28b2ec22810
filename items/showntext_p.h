#pragma once

// Text items lay out their whole text at once, so a hostile row with an
// enormous text would stall the GUI thread. They show at most this many
// characters; a cut text is never edited nor written back, so the stored
// text stays whole.

#include "itemslog.h"

#include <QString>

constexpr qsizetype maxShownTextLength = 100000;

inline QString shownText(const QString &stored, bool *cut)
{
    *cut = stored.size() > maxShownTextLength;
    if (!*cut)
        return stored;
    qCWarning(lcItems) << "a text of" << stored.size() << "characters is shown cut to" << maxShownTextLength;
    return stored.left(maxShownTextLength);
}
