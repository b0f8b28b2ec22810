#include "separator.h"

#include <QPainter>

Separator::Separator(QWidget *parent)
    : CustomWidget(parent, true)
{
}

QSize Separator::sizeHint() const
{
    return QSize(2, 44);
}

void Separator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setOpacity(opacity());
    painter.setPen(Qt::white);
    painter.drawLine(0, 0, 0, height() - 1);
    painter.setPen(Qt::gray);
    painter.drawLine(1, 0, 1, height() - 1);
}
