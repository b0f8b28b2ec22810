#include "skrinview.h"

#include <QKeyEvent>

SkrinView::SkrinView(QWidget *parent)
    : CustomView(parent)
{
}

void SkrinView::keyPressEvent(QKeyEvent *event)
{
    CustomView::keyPressEvent(event);
    // A key taken by a text being edited (Backspace in a note) must never
    // reach the screenshot.
    if (event->isAccepted())
        return;
    // The keypad's Delete is the same key to the user.
    const QKeyCombination combination(event->modifiers() & ~Qt::KeypadModifier, Qt::Key(event->key()));
    const QKeySequence pressed(combination);
    const QList<QKeySequence> deleteKeys = QKeySequence::keyBindings(QKeySequence::Delete);
    const bool isDelete = !deleteKeys.isEmpty() && deleteKeys.first().matches(pressed) != QKeySequence::NoMatch;
    const bool isBackspace = QKeySequence(QStringLiteral("Backspace")).matches(pressed) != QKeySequence::NoMatch;
    if (isDelete || isBackspace)
        emit delKey();
}
