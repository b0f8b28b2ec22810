#include "shooteroverlay.h"

#include "exactpointer.h"
#include "shooter.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor dimColor(0, 0, 0, 110);
const QColor frameColor(0x33, 0x99, 0xff);
const int labelMargin = 6;

} // namespace

ShooterOverlay::ShooterOverlay(Shooter *owner, const ScreenGrab &screenGrab)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint)
    , shooter(owner)
    , frozen(screenGrab)
{
    setWindowTitle(tr("Capture"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
    setGeometry(frozen.geometry);
    pointer = new ExactPointer(this);
}

void ShooterOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, frozen.pixmap);

    // The selection's edges lie between device pixels, on any screen.
    const QRectF selection = shooter->selection().translated(-QPointF(frozen.geometry.topLeft()));
    QPainterPath dimmed;
    dimmed.addRect(rect());
    if (!selection.isEmpty()) {
        QPainterPath hole;
        hole.addRect(selection);
        dimmed = dimmed.subtracted(hole);
    }
    painter.fillPath(dimmed, dimColor);

    if (selection.isEmpty())
        return;
    paintFrame(painter, selection);
    paintSizeLabel(painter, selection.toAlignedRect());
}

void ShooterOverlay::paintFrame(QPainter &painter, const QRectF &selection)
{
    // On the outermost pixels taken, about one screen pixel wide: whole
    // device pixels, so that it shows exactly where the picture ends.
    const double ratio = devicePixelRatioF();
    const double width = std::max(1L, std::lround(ratio)) / ratio;
    const double across = std::min(width, selection.width());
    const double down = std::min(width, selection.height());
    const QRectF &s = selection;
    for (const QRectF &edge : {QRectF(s.left(), s.top(), s.width(), down),
                               QRectF(s.left(), s.bottom() - down, s.width(), down),
                               QRectF(s.left(), s.top(), across, s.height()),
                               QRectF(s.right() - across, s.top(), across, s.height())})
        painter.fillRect(edge, frameColor);
}

void ShooterOverlay::paintSizeLabel(QPainter &painter, const QRect &selection)
{
    const QSize size = shooter->selectionPixelSize();
    const QString text = tr("%1 × %2").arg(size.width()).arg(size.height());
    const QFontMetrics metrics(font());
    QRect box(QPoint(0, 0), metrics.size(Qt::TextSingleLine, text) + QSize(2 * labelMargin, labelMargin));
    // Above the selection when there is room, else inside its top-left corner.
    box.moveBottomLeft(selection.topLeft() - QPoint(0, 2));
    if (box.top() < 0)
        box.moveTopLeft(selection.topLeft() + QPoint(2, 2));
    if (box.right() > width())
        box.moveRight(width() - 1);
    if (box.left() < 0)
        box.moveLeft(0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 180));
    painter.drawRoundedRect(box, 3, 3);
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

QPointF ShooterOverlay::desktopPosition(const QMouseEvent *event) const
{
    // On a denser screen the pointer falls between desktop coordinates: its
    // unrounded place on the overlay, which covers the screen, tells which
    // device pixel it is on.
    return QPointF(geometry().topLeft()) + pointer->position(event);
}

void ShooterOverlay::mousePressEvent(QMouseEvent *event)
{
    shooter->press(desktopPosition(event), event->button());
    event->accept();
}

void ShooterOverlay::mouseMoveEvent(QMouseEvent *event)
{
    shooter->moveTo(desktopPosition(event));
    event->accept();
}

void ShooterOverlay::mouseReleaseEvent(QMouseEvent *event)
{
    shooter->release(desktopPosition(event), event->button());
    event->accept();
}

void ShooterOverlay::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        shooter->cancel();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ShooterOverlay::contextMenuEvent(QContextMenuEvent *event)
{
    // The right button already cancelled on its press.
    event->accept();
}
