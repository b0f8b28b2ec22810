#pragma once

// The painted push button of the custom-drawn panels: a picture at its
// top-left corner, an optional embossed text to its right and an optional
// frame. It fades with its panel and may open a menu when pressed. A click is
// a left press followed by a release: clicked() then onClick(); the press
// itself emits beforeClicked(), which opens the attached menu.

#include "opacitywidget.h"

#include <QIcon>
#include <QWidget>

class QMenu;
class QWheelEvent;

class CustomButton : public QWidget, public OpacityWidget
{
    Q_OBJECT
public:
    explicit CustomButton(QWidget *parent = nullptr);

    void setSize(const QSize &size);
    void setSize(int width, int height) { setSize(QSize(width, height)); }
    QSize iconSize() const { return size; }
    void setText(const QString &text);
    QString text() const { return label; }
    void setFramed(bool framed);
    void setIcon(const QIcon &icon);
    QIcon icon() const { return picture; }
    // The normal picture shows while idle; the active one while pressed or active.
    void setIcons(const QString &normalPicture, const QString &activePicture);
    // A dark rounded picture 32 px high with the text in white.
    void setTextIcon(const QString &text);
    // A menu opened on press (openOnPress) or only kept; null detaches it.
    void setMenu(QMenu *menu, bool openOnPress);
    QMenu *menu() const { return attachedMenu; }
    void setActive(bool active);
    bool isActive() const { return active; }
    bool isPressed() const { return pressed; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void clicked();
    void beforeClicked();

public slots:
    void menuAboutToShow();
    void menuAboutToHide();
    void menuAction();
    void menuDestroyed(QObject *object);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    virtual void onClick() {}
    // +1 for a wheel turned up, -1 otherwise (a zero delta steps down), 0 for
    // the empty begin and end events of a touchpad scroll, which are no step.
    static int wheelStep(const QWheelEvent *event);

private:
    void refresh();

    QIcon picture;
    QString label;
    QSize size{32, 32};
    bool pressed = false;
    bool active = false;
    bool menuOpen = false;
    QMenu *attachedMenu = nullptr;
    bool framed = false;
    QMetaObject::Connection menuOpener;
};
