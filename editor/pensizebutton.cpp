#include "pensizebutton.h"

#include "mainwindowhost.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

void PenSizeButton::paintEvent(QPaintEvent *event)
{
    CustomButton::paintEvent(event);
    QPainter painter(this);
    painter.setOpacity(opacity());
    painter.setClipRegion(event->region());
    painter.setFont(font());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    const int cx = (width() - 1) / 2;
    const int cy = (height() - 1) / 2;
    painter.drawEllipse(QRect(QPoint(cx - 8, cy - 13), QPoint(cx + 7, cy + 2)));
    // Sizes come from stored rows; an absurd value must not overflow the cast.
    const QString text = QString::number(qint64(qBound(-1e15, size, 1e15))) + QStringLiteral("px");
    const int w = width();
    const int h = height();
    painter.setPen(Qt::white);
    painter.drawText(QRect(QPoint(0, h - 19), QPoint(w - 1, h)), Qt::AlignCenter, text);
    painter.setPen(Qt::black);
    painter.drawText(QRect(QPoint(0, h - 20), QPoint(w - 1, h - 1)), Qt::AlignCenter, text);
}

void PenSizeButton::wheelEvent(QWheelEvent *event)
{
    event->accept();
    MainWindowHost *window = MainWindowHost::instance();
    const int step = wheelStep(event);
    if (!window || step == 0)
        return;
    const double value = size + step;
    window->applyPenSize(qBound(1.0, value, 100.0));
}
