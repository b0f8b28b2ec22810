#pragma once

// A thin vertical groove between groups of buttons on a panel.

#include "customwidget.h"

class Separator : public CustomWidget
{
    Q_OBJECT
public:
    explicit Separator(QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
