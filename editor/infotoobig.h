#pragma once

// The red notice over the editor view that the open screenshot's files are
// too big to be uploaded. It stands 21 px from the view's right edge and 20 px
// from its top until the user drags it elsewhere; it never fades.

#include "customwidget.h"

class InfoTooBig : public CustomWidget
{
    Q_OBJECT
public:
    explicit InfoTooBig(QWidget *parent);

    void showNotice(bool show);
    void reposition();
    bool isAutoPlaced() const { return autoPlace; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    bool autoPlace = true;
    QPoint pressPos;
    bool dragging = false;
};
