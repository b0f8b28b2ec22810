#include "custombutton.h"

#include <QImage>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

CustomButton::CustomButton(QWidget *parent)
    : QWidget(parent)
    , OpacityWidget(this)
{
    setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed, QSizePolicy::ButtonBox));
}

void CustomButton::refresh()
{
    if (parentWidget())
        setFont(parentWidget()->font());
    update();
    updateGeometry();
    setMinimumSize(minimumSizeHint());
}

void CustomButton::setSize(const QSize &newSize)
{
    size = newSize;
    refresh();
}

void CustomButton::setText(const QString &text)
{
    label = text;
    refresh();
}

void CustomButton::setFramed(bool on)
{
    framed = on;
    refresh();
}

void CustomButton::setIcon(const QIcon &icon)
{
    picture = icon;
    update();
}

void CustomButton::setIcons(const QString &normalPicture, const QString &activePicture)
{
    QIcon icon;
    icon.addFile(normalPicture, QSize(), QIcon::Normal, QIcon::Off);
    icon.addFile(activePicture, QSize(), QIcon::Selected, QIcon::Off);
    icon.addFile(activePicture, QSize(), QIcon::Normal, QIcon::On);
    icon.addFile(activePicture, QSize(), QIcon::Selected, QIcon::On);
    setIcon(icon);
}

void CustomButton::setTextIcon(const QString &text)
{
    const int width = fontMetrics().horizontalAdvance(text) + 32;
    QImage image(width, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        QLinearGradient gradient(0, 0, 0, 32);
        gradient.setColorAt(0.0, QColor("#353535"));
        gradient.setColorAt(1.0, QColor("#565656"));
        painter.setBrush(gradient);
        painter.drawRoundedRect(QRectF(0, 0, width - 1, 31), 3.0, 3.0);
        painter.setPen(Qt::white);
        painter.setFont(font());
        painter.drawText(QRect(0, 0, width, 32), Qt::AlignCenter, text);
    }
    setSize(width, 32);
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(image), QIcon::Normal, QIcon::Off);
    setIcon(icon);
}

void CustomButton::setMenu(QMenu *menu, bool openOnPress)
{
    if (menu == attachedMenu)
        return;
    if (attachedMenu)
        disconnect(attachedMenu, nullptr, this, nullptr);
    attachedMenu = menu;
    if (!menu) {
        disconnect(menuOpener);
        menuOpener = {};
        return;
    }
    if (!openOnPress)
        return;
    if (!menuOpener)
        menuOpener = connect(this, &CustomButton::beforeClicked, this, &CustomButton::menuAction);
    connect(menu, &QObject::destroyed, this, &CustomButton::menuDestroyed);
    connect(menu, &QMenu::aboutToHide, this, &CustomButton::menuAboutToHide);
    connect(menu, &QMenu::aboutToShow, this, &CustomButton::menuAboutToShow);
}

void CustomButton::setActive(bool on)
{
    active = on;
    update();
}

void CustomButton::menuAboutToShow()
{
    menuOpen = true;
    pressed = true;
    update();
}

void CustomButton::menuAboutToHide()
{
    menuOpen = false;
    pressed = false;
    update();
}

void CustomButton::menuAction()
{
    if (!attachedMenu)
        return;
    QMenu *menu = attachedMenu;
    if (auto *widget = qobject_cast<QWidget *>(sender()))
        menu->exec(widget->mapToGlobal(QPoint(0, widget->height())));
    else
        menu->exec(QCursor::pos());
}

void CustomButton::menuDestroyed(QObject *object)
{
    if (object == attachedMenu) {
        attachedMenu = nullptr;
        // A later press must not run the opener against a menu that is gone,
        // and a menu never closed properly must not leave the button held.
        menuOpen = false;
        pressed = false;
        update();
    }
}

QSize CustomButton::sizeHint() const
{
    if (label.isEmpty())
        return size;
    const QSize textSize = fontMetrics().size(Qt::TextSingleLine, label);
    const int width = textSize.width() + size.width() + (framed ? 32 : 4);
    const int height = qMax(textSize.height() + (framed ? 8 : 4), size.height());
    return {width, height};
}

QSize CustomButton::minimumSizeHint() const
{
    return sizeHint();
}

void CustomButton::mousePressEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton) {
        pressed = true;
        update();
        event->accept();
        emit beforeClicked();
        return;
    }
    QWidget::mousePressEvent(event);
}

void CustomButton::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton) {
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void CustomButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (pressed) {
        emit clicked();
        onClick();
    }
    if (!menuOpen && pressed) {
        pressed = false;
        update();
    }
    QWidget::mouseReleaseEvent(event);
}

void CustomButton::leaveEvent(QEvent *event)
{
    if (!menuOpen && pressed) {
        pressed = false;
        update();
    }
    QWidget::leaveEvent(event);
}

void CustomButton::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.setOpacity(opacity());
    const int w = width();
    const int h = height();
    if (framed) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::black);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(0, 0, w - 1, h - 1), 5.0, 5.0);
    }
    painter.setFont(font());
    const QPixmap pixmap = picture.pixmap(size, devicePixelRatioF(), pressed ? QIcon::Selected : QIcon::Normal,
                                          active ? QIcon::On : QIcon::Off);
    painter.drawPixmap(0, 0, pixmap);
    if (label.isEmpty())
        return;
    const int left = size.width() + 3;
    painter.setPen(pressed ? QColor(Qt::black) : QColor(220, 220, 220));
    painter.drawText(QRect(QPoint(left, 1), QPoint(w - 1, h + 1)), Qt::AlignCenter, label);
    painter.setPen(Qt::black);
    painter.drawText(QRect(QPoint(left, 0), QPoint(w - 1, h + 1)), Qt::AlignCenter, label);
}

int CustomButton::wheelStep(const QWheelEvent *event)
{
    const QPoint delta = event->angleDelta();
    const int value = delta.y() != 0 ? delta.y() : delta.x();
    if (value == 0 && (event->phase() == Qt::ScrollBegin || event->phase() == Qt::ScrollEnd))
        return 0;
    return value > 0 ? 1 : -1;
}
