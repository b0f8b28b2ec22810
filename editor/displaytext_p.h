#pragma once

// Text typed by users shown in a one-line label: control characters (line
// breaks, tabs and the like) become spaces and a text wider than the room is
// elided at its end, so no title can break a panel's layout. The stored
// text stays as typed.

#include <QFontMetrics>
#include <QString>

inline QString singleLineElided(const QString &text, const QFontMetrics &metrics, int maxWidth)
{
    // Eliding measures the whole text; cut absurd lengths first, far beyond any room.
    QString line = text.left(4096);
    for (QChar &c : line) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    return metrics.elidedText(line, Qt::ElideRight, maxWidth);
}
