#pragma once

// A label that fades with its panel and paints its text embossed: a light
// copy one pixel lower under the black text.

#include "opacitywidget.h"

#include <QLabel>

class CustomLabel : public QLabel, public OpacityWidget
{
    Q_OBJECT
public:
    explicit CustomLabel(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
};
