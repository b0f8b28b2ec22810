#pragma once

// The fading part of a panel: an opacity that the owner paints with, applied
// to the owner's palette and handed down to child panels.

#include <QPalette>

class QWidget;

class OpacityWidget
{
public:
    explicit OpacityWidget(QWidget *owner);
    virtual ~OpacityWidget() = default;

    OpacityWidget(const OpacityWidget &) = delete;
    OpacityWidget &operator=(const OpacityWidget &) = delete;

    double opacity() const { return currentOpacity; }
    // Clamped to [0, 1]; a change scales the alpha of the owner's palette
    // and reaches every child widget that is an OpacityWidget.
    void setOpacity(double value);

private:
    QWidget *const owner;
    double currentOpacity = 1.0;
    QPalette basePalette; // the owner's palette at full opacity
    bool haveBasePalette = false;
};
