#include "infotoobig.h"

#include "overlaypointer_p.h"

#include <QLabel>
#include <QLayout>
#include <QMouseEvent>

InfoTooBig::InfoTooBig(QWidget *parent)
    : CustomWidget(parent, true)
{
    hide();
    setAttribute(Qt::WA_MouseTracking);
    setGradient(QColor(255, 0, 0), QColor(180, 0, 0));
    setBorder(true, 0.0, Qt::white);
    setOpacity(0.8);
    setShadowSize(10);
    auto *label = new QLabel(tr("File is too big. This file will not be uploaded."));
    // White reads better than the default text colour on the red panel.
    QPalette palette = label->palette();
    palette.setBrush(QPalette::All, QPalette::WindowText, Qt::white);
    palette.setBrush(QPalette::All, QPalette::Text, Qt::white);
    label->setPalette(palette);
    addWidget(label);
    setContentsMargins(9, 0, 9, 0);
    // Centred, the text keeps clear of the shaded margin around the panel.
    layout()->setAlignment(Qt::AlignCenter);
    adjustKeepingCentre();
}

void InfoTooBig::showNotice(bool show)
{
    setVisible(show);
    autoPlace = true;
    reposition();
}

void InfoTooBig::reposition()
{
    QWidget *parent = parentWidget();
    // Not hidden is enough: a notice shown before its window is must stand
    // in the corner when the window comes up.
    if (isHidden() || !autoPlace || !parent)
        return;
    move(parent->width() - width() - 21, 20);
}

void InfoTooBig::mousePressEvent(QMouseEvent *event)
{
    CustomWidget::mousePressEvent(event);
    pressPos = event->position().toPoint();
    dragging = true;
    event->accept();
}

void InfoTooBig::mouseMoveEvent(QMouseEvent *event)
{
    if (!dragging || !(event->buttons() & (Qt::LeftButton | Qt::RightButton)))
        return;
    move(keptInsideParent(this, pos() + (event->position().toPoint() - pressPos)));
    autoPlace = false;
}

void InfoTooBig::mouseReleaseEvent(QMouseEvent *event)
{
    CustomWidget::mouseReleaseEvent(event);
    dragging = false;
}
