#include "customlabel.h"

#include <QPainter>
#include <QStyle>

CustomLabel::CustomLabel(QWidget *parent)
    : QLabel(parent)
    , OpacityWidget(this)
{
}

void CustomLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setOpacity(opacity());
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const int flags = int(QStyle::visualAlignment(layoutDirection(), alignment()))
        | (wordWrap() ? int(Qt::TextWordWrap) : 0);
    painter.setPen(QColor(220, 220, 220));
    painter.drawText(area.translated(0, 1), flags, text());
    painter.setPen(Qt::black);
    painter.drawText(area, flags, text());
}

void CustomLabel::mousePressEvent(QMouseEvent *event)
{
    QLabel::mousePressEvent(event);
    emit clicked();
}
