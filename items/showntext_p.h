#pragma once

// Text items lay out their whole text at once, so a hostile row with an
// enormous text would stall the GUI thread. They show at most this many
// characters; a cut text is never edited nor written back, so the stored
// text stays whole.

#include "itemslog.h"

#include <QString>
#include <QTextCursor>
#include <QTextDocument>

constexpr qsizetype maxShownTextLength = 100000;

inline QString shownText(const QString &stored, bool *cut)
{
    *cut = stored.size() > maxShownTextLength;
    if (!*cut)
        return stored;
    qCWarning(lcItems) << "a text of" << stored.size() << "characters is shown cut to" << maxShownTextLength;
    return stored.left(maxShownTextLength);
}

// Puts a stored text into a text item's document, cut as above. Going
// around the item's text control spares it rebuilding its hold on the
// document, and a new, empty document needs no clearing first. Either way
// the undo history is dropped.
inline void showStoredText(QTextDocument *document, const QString &stored, bool *cut)
{
    const QString text = shownText(stored, cut);
    if (!document->isEmpty()) {
        document->setPlainText(text);
        return;
    }
    const bool undo = document->isUndoRedoEnabled();
    document->setUndoRedoEnabled(false);
    QTextCursor(document).insertText(text);
    document->setUndoRedoEnabled(undo);
}
