#include "separator.h"

#include <QHBoxLayout>
#include <QPainter>

Separator::Separator(QWidget *parent)
    : CustomWidget(parent, true)
{
    // The empty layout's default margins would make a layout give it more
    // room than its two painted columns.
    panelLayout()->setContentsMargins(0, 0, 0, 0);
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
