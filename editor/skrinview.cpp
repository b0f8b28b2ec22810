#include "skrinview.h"

#include <QKeyEvent>

SkrinView::SkrinView(QWidget *parent)
    : CustomView(parent)
{
    followPixelRatio();
}

bool SkrinView::event(QEvent *event)
{
    // A window moved to another screen, or shown on one, may change density.
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::ScreenChangeInternal:
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    case QEvent::DevicePixelRatioChange:
#endif
        followPixelRatio();
        break;
    default:
        break;
    }
    return CustomView::event(event);
}

void SkrinView::followPixelRatio()
{
    const qreal ratio = devicePixelRatioF();
    if (ratio <= 0.0 || qFuzzyCompare(ratio, shownRatio))
        return;
    shownRatio = ratio;
    setTransform(QTransform::fromScale(1.0 / ratio, 1.0 / ratio));
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
