#include "shooteroverlay.h"

#include "shooter.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

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
}

void ShooterOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, frozen.pixmap);

    const QRect selection = shooter->selection().translated(-frozen.geometry.topLeft());
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
    painter.setPen(QPen(frameColor, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(selection.adjusted(0, 0, -1, -1));
    paintSizeLabel(painter, selection);
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

void ShooterOverlay::mousePressEvent(QMouseEvent *event)
{
    shooter->press(event->globalPosition().toPoint(), event->button());
    event->accept();
}

void ShooterOverlay::mouseMoveEvent(QMouseEvent *event)
{
    shooter->moveTo(event->globalPosition().toPoint());
    event->accept();
}

void ShooterOverlay::mouseReleaseEvent(QMouseEvent *event)
{
    shooter->release(event->globalPosition().toPoint(), event->button());
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
