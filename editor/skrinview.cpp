#include "skrinview.h"

#include "exactpointer.h"

#include <QGraphicsSceneMouseEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>

SkrinView::SkrinView(QWidget *parent)
    : CustomView(parent)
    , exactPointer(new ExactPointer(viewport()))
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
        alignToDevicePixels();
        break;
    default:
        break;
    }
    return CustomView::event(event);
}

void SkrinView::resizeEvent(QResizeEvent *event)
{
    CustomView::resizeEvent(event);
    alignToDevicePixels();
}

void SkrinView::scrollContentsBy(int dx, int dy)
{
    CustomView::scrollContentsBy(dx, dy);
    alignToDevicePixels();
}

bool SkrinView::viewportEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        holdPlace();
        [[fallthrough]];
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        pointer = exactPointer->position(static_cast<QMouseEvent *>(event));
        break;
    default:
        break;
    }
    // A scene that grew may have moved the picture between device pixels:
    // put it back once this painting is over.
    if (event->type() == QEvent::Paint && !alignmentQueued && devicePixelOffset() != QPointF()) {
        alignmentQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                alignmentQueued = false;
                alignToDevicePixels();
            },
            Qt::QueuedConnection);
    }
    return CustomView::viewportEvent(event);
}

QPointF SkrinView::devicePixelOffset() const
{
    // What is missing to the next whole device pixel, 0 when nothing is. The
    // window is painted on whole device pixels, its widgets are not: below
    // a menu bar 23 pixels high a 1.5x screen paints the viewport from
    // device row 34.5. The scene's origin must be whole in the window.
    constexpr double hair = 1e-6;
    const QPointF inWindow = viewport()->mapTo(window(), QPointF(0, 0)) + viewportTransform().map(QPointF(0, 0));
    const QPointF origin = inWindow * devicePixelRatioF();
    const auto missing = [](double at) {
        const double gap = std::ceil(at - hair) - at;
        return std::abs(gap) < hair ? 0.0 : gap;
    };
    return QPointF(missing(origin.x()), missing(origin.y()));
}

// Scroll positions, the centring margin and the viewport's place in its
// window are whole view pixels, which at 1.25x or 1.5x may put the scene's
// pixels between the device's: lines would blur, and the picture pixel under
// the pointer would not be the one drawn there. A translation of less than a
// view pixel puts them back. The view's placement repeats with every whole
// view pixel of translation, so the translation stays below one and the
// search ends.
void SkrinView::alignToDevicePixels()
{
    if (aligning || !scene())
        return;
    aligning = true;
    const double ratio = devicePixelRatioF();
    for (int step = 0; step < 8; ++step) {
        const QPointF missing = devicePixelOffset();
        if (missing.isNull())
            break;
        const QTransform now = transform();
        const auto wrapped = [](double t) { return t - std::floor(t); };
        setTransform(QTransform(now.m11(), now.m12(), now.m21(), now.m22(), wrapped(now.dx() + missing.x() / ratio),
                                wrapped(now.dy() + missing.y() / ratio)));
    }
    aligning = false;
}

void SkrinView::followPixelRatio()
{
    const qreal ratio = devicePixelRatioF();
    if (ratio <= 0.0 || qFuzzyCompare(ratio, shownRatio))
        return;
    shownRatio = ratio;
    setTransform(QTransform::fromScale(1.0 / ratio, 1.0 / ratio));
}

void SkrinView::setScene(QGraphicsScene *shown)
{
    if (QGraphicsScene *old = scene()) {
        old->removeEventFilter(this);
        disconnect(old, &QGraphicsScene::sceneRectChanged, this, &SkrinView::growAround);
    }
    placeHeld = false;
    setSceneRect(QRectF());
    CustomView::setScene(shown);
    if (shown) {
        shown->installEventFilter(this);
        connect(shown, &QGraphicsScene::sceneRectChanged, this, &SkrinView::growAround);
    }
    alignToDevicePixels();
}

// The scene grows as annotations reach past it, and the view centres what it
// shows: the picture, and what is being drawn, would jump under the pointer
// in the middle of a drag. Grown evenly about its centre, the rectangle
// shown keeps everything where it is on the screen.
void SkrinView::holdPlace()
{
    // A change the view has not painted yet may have left the pixels off the
    // device's: the press is heard where they will be drawn.
    alignToDevicePixels();
    if (placeHeld || !scene())
        return;
    placeHeld = true;
    setSceneRect(sceneRect());
}

void SkrinView::growAround(const QRectF &grown)
{
    const QRectF held = sceneRect();
    if (placeHeld && !held.contains(grown)) {
        const QPointF centre = held.center();
        const double halfWidth = std::max({held.width() / 2, centre.x() - grown.left(), grown.right() - centre.x()});
        const double halfHeight =
            std::max({held.height() / 2, centre.y() - grown.top(), grown.bottom() - centre.y()});
        setSceneRect(QRectF(centre.x() - halfWidth, centre.y() - halfHeight, 2 * halfWidth, 2 * halfHeight));
    }
    // Followed or held, the scene may now lie between device pixels.
    alignToDevicePixels();
}

QPointF SkrinView::exactScenePos() const
{
    // Scene coordinates are picture pixels: float noise from the division by
    // the density (101 / 1.5 * 1.5) is rounded away, real fractions stay.
    constexpr double grain = 1024.0;
    const QPointF at = viewportTransform().inverted().map(pointer);
    return QPointF(std::round(at.x() * grain) / grain, std::round(at.y() * grain) / grain);
}

bool SkrinView::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    const bool mouse = type == QEvent::GraphicsSceneMousePress || type == QEvent::GraphicsSceneMouseMove
                       || type == QEvent::GraphicsSceneMouseRelease || type == QEvent::GraphicsSceneMouseDoubleClick;
    if (!mouse || watched != scene())
        return CustomView::eventFilter(watched, event);
    auto *sceneEvent = static_cast<QGraphicsSceneMouseEvent *>(event);
    // QGraphicsView hands its scene the pointer rounded to whole view
    // pixels, which on a 2x screen are every other picture pixel: the real
    // place goes in instead. Only into what this view made of the pointer it
    // noted (or of the same pointer again, replayed after a scroll).
    if (sceneEvent->widget() != viewport() || sceneEvent->scenePos() != mapToScene(pointer.toPoint()))
        return false;
    const QPointF exact = exactScenePos();
    if (type == QEvent::GraphicsSceneMousePress || type == QEvent::GraphicsSceneMouseDoubleClick) {
        pressButton = sceneEvent->button();
        pressScenePos = exact;
        lastScenePos = exact;
    }
    if (pressButton != Qt::NoButton)
        sceneEvent->setButtonDownScenePos(pressButton, pressScenePos);
    sceneEvent->setLastScenePos(lastScenePos);
    sceneEvent->setScenePos(exact);
    lastScenePos = exact;
    return false;
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
