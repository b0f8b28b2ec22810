#pragma once

// The tool bar's Font button: opens the font menu; the wheel steps the point
// size by one through the main window, which stores the font back here.

#include "custombutton.h"

#include <QFont>

class FontButton : public CustomButton
{
    Q_OBJECT
public:
    using CustomButton::CustomButton;
    QFont toolFont() const { return currentFont; }
    void setToolFont(const QFont &font) { currentFont = font; }

protected:
    void wheelEvent(QWheelEvent *event) override;

private:
    QFont currentFont;
};
