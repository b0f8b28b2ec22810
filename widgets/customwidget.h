#pragma once

// The fading panel that overlays and tool bars are built on: a vertical
// gradient, an optional rounded frame and shaded margin, and three fade
// states (shown, dimmed, hidden after a delay).

#include "opacitywidget.h"
#include "smoother.h"

#include <QColor>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

class QHBoxLayout;

class CustomWidget : public QWidget, public OpacityWidget, public Smoother
{
    Q_OBJECT
public:
    enum State { Shown = 0, Dimmed = 1, Hidden = 2 };
    static constexpr int hideDelayMs = 2000;

    explicit CustomWidget(QWidget *parent = nullptr, bool withLayout = false);

    QHBoxLayout *panelLayout() const { return hLayout; }
    QColor gradientTop() const { return topColor; }
    QColor gradientBottom() const { return bottomColor; }
    int shadowSize() const { return shadow; }
    bool borderRounded() const { return rounded; }
    double borderWidth() const { return frameWidth; }
    QColor borderColor() const { return frameColor; }
    int state() const { return fadeState; }
    bool isHideTimerActive() const { return hideTimer.isActive(); }
    // Whether the panel is meant to show: true for a panel not hidden whose
    // window has not been shown yet (isVisible() is false then).
    bool isPanelVisible() const;

    void setGradient(const QColor &top, const QColor &bottom);
    void setBorder(bool rounded, double width, const QColor &colour);
    void setShadowSize(int size);

    QSize sizeHint() const override;
    // What the panel adds around its layout: contents margins, shade and frame.
    QSize chromeSize() const;
    QRect hintGeometry() const;
    void resizeToHint(QPoint centre, bool keepCentre);
    void adjustKeepingCentre();
    void addWidget(QWidget *widget);

    void setState(int state, bool immediately = false);
    void restartHideTimer();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void smoothed(const QString &name, double value) override;

private:
    void fadeTo(double target);
    void dropBackground();
    QPixmap background();

    QHBoxLayout *hLayout = nullptr;
    QColor topColor{235, 235, 235};
    QColor bottomColor{196, 196, 196};
    int shadow = 0;
    bool rounded = false;
    double frameWidth = 0.0;
    QColor frameColor{Qt::black};
    int fadeState = Shown;
    QPixmap cachedBackground;
    QTimer hideTimer;
};
