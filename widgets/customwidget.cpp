#include "customwidget.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

namespace {

const QString opacityName = QStringLiteral("opacity");
constexpr double cornerRadius = 7.0;
constexpr double noFrame = 0.001;
constexpr double hiddenOpacity = 0.01;

double stateOpacity(int state)
{
    return state == CustomWidget::Shown ? 1.0 : 0.3;
}

} // namespace

CustomWidget::CustomWidget(QWidget *parent, bool withLayout)
    : QWidget(parent)
    , OpacityWidget(this)
{
    if (parent)
        setFont(parent->font());
    if (withLayout) {
        hLayout = new QHBoxLayout(this);
        hLayout->setSpacing(10);
    }
    hideTimer.setSingleShot(true);
    hideTimer.setInterval(hideDelayMs);
    connect(&hideTimer, &QTimer::timeout, this, [this] {
        fadeState = Hidden;
        fadeTo(0.0);
    });
}

void CustomWidget::setGradient(const QColor &top, const QColor &bottom)
{
    topColor = top;
    bottomColor = bottom;
    dropBackground();
}

void CustomWidget::setBorder(bool roundedPanel, double width, const QColor &colour)
{
    rounded = roundedPanel;
    frameWidth = width;
    frameColor = colour;
    dropBackground();
}

void CustomWidget::setShadowSize(int size)
{
    shadow = qMax(0, size);
    cachedBackground = QPixmap();
    adjustKeepingCentre();
}

QSize CustomWidget::chromeSize() const
{
    const QMargins margins = contentsMargins();
    int extra = 0;
    if (shadow > 0)
        extra += 2 * shadow;
    if (rounded && frameWidth > 0)
        extra += 2 * int(frameWidth);
    return QSize(margins.left() + margins.right() + extra, margins.top() + margins.bottom() + extra);
}

QSize CustomWidget::sizeHint() const
{
    const QSize inner = hLayout ? hLayout->sizeHint() : QWidget::sizeHint().expandedTo(QSize(0, 0));
    return inner + chromeSize();
}

QRect CustomWidget::hintGeometry() const
{
    return QRect(pos(), sizeHint());
}

void CustomWidget::resizeToHint(QPoint centre, bool keepCentre)
{
    setMinimumSize(minimumSizeHint().expandedTo(QSize(0, 0)));
    QRect geometry = hintGeometry();
    if (keepCentre)
        geometry.moveCenter(centre);
    setGeometry(geometry);
    updateGeometry();
}

void CustomWidget::adjustKeepingCentre()
{
    resizeToHint(geometry().center(), true);
}

void CustomWidget::addWidget(QWidget *widget)
{
    if (!widget)
        return;
    widget->setParent(this);
    if (hLayout)
        hLayout->addWidget(widget);
    if (auto *fading = dynamic_cast<OpacityWidget *>(widget))
        fading->setOpacity(opacity());
    adjustKeepingCentre();
}

void CustomWidget::setState(int newState, bool immediately)
{
    if (newState < Shown || newState > Hidden)
        return;
    if (newState == fadeState) {
        if (newState == Hidden && immediately && isPanelVisible())
            jumpTo(opacityName, 0.0);
        return;
    }
    fadeState = newState;
    hideTimer.stop();
    const double target = stateOpacity(newState);
    if (immediately) {
        jumpTo(opacityName, target);
        if (newState == Shown)
            show();
        else if (newState == Hidden)
            hide();
    } else {
        fadeTo(target);
    }
    if (newState == Hidden)
        hideTimer.start();
}

bool CustomWidget::isPanelVisible() const
{
    QWidget *parent = parentWidget();
    return parent ? isVisibleTo(parent) : isVisible();
}

void CustomWidget::restartHideTimer()
{
    hideTimer.start();
}

void CustomWidget::fadeTo(double target)
{
    smoothTo(opacityName, opacity(), target);
}

void CustomWidget::smoothed(const QString &name, double value)
{
    if (name != opacityName)
        return;
    setOpacity(value);
    if (value <= hiddenOpacity)
        hide();
    update();
}

void CustomWidget::dropBackground()
{
    cachedBackground = QPixmap();
    update();
}

void CustomWidget::resizeEvent(QResizeEvent *event)
{
    cachedBackground = QPixmap();
    QWidget::resizeEvent(event);
}

QPixmap CustomWidget::background()
{
    const qreal ratio = devicePixelRatioF();
    if (!cachedBackground.isNull() && cachedBackground.deviceIndependentSize().toSize() == size())
        return cachedBackground;
    cachedBackground = QPixmap(size() * ratio);
    cachedBackground.setDevicePixelRatio(ratio);
    cachedBackground.fill(Qt::transparent);
    if (width() <= 0 || height() <= 0)
        return cachedBackground;

    QPainter painter(&cachedBackground);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF panel = QRectF(rect()).adjusted(shadow, shadow, -shadow, -shadow);
    const double radius = rounded ? cornerRadius : 0.0;
    const bool framed = frameWidth > noFrame;

    // The shaded margin: rings fading outwards, tinted by the frame colour.
    const QColor tint = framed ? frameColor : QColor(Qt::black);
    for (int i = 0; i < shadow; ++i) {
        QColor ring = tint;
        const double k = 1.0 - double(i) / shadow;
        ring.setAlphaF(float(0.25 * k * k));
        painter.setPen(QPen(ring, 1.0));
        painter.setBrush(Qt::NoBrush);
        const QRectF r = panel.adjusted(-i - 0.5, -i - 0.5, i + 0.5, i + 0.5);
        painter.drawRoundedRect(r, radius + i, radius + i);
    }

    QLinearGradient gradient(panel.topLeft(), panel.bottomLeft());
    gradient.setColorAt(0.0, topColor);
    gradient.setColorAt(1.0, bottomColor);
    painter.setBrush(gradient);
    if (framed) {
        painter.setPen(QPen(frameColor, frameWidth));
        const double half = frameWidth / 2;
        painter.drawRoundedRect(panel.adjusted(half, half, -half, -half), radius, radius);
    } else {
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(panel, radius, radius);
    }
    return cachedBackground;
}

void CustomWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setOpacity(opacity());
    painter.drawPixmap(0, 0, background());
}
