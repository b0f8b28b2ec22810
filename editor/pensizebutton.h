#pragma once

// The tool bar's Pen size button: a black dot over the size in pixels; the
// wheel steps the size by one pixel through the main window, which sets the
// shown value back through the tool bar.

#include "custombutton.h"

class PenSizeButton : public CustomButton
{
    Q_OBJECT
public:
    explicit PenSizeButton(double penSize = 10.0, QWidget *parent = nullptr)
        : CustomButton(parent)
        , size(penSize)
    {
    }
    double penSize() const { return size; }
    void setPenSize(double penSize) { size = penSize; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    double size;
};
