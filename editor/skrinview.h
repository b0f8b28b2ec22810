#pragma once

// The editor's view of the open screenshot. Its scene is in stored picture
// pixels, and the view shows one of them on one device pixel on any screen:
// a capture looks as it did on the screen, and rows mean the same at every
// density. Besides what CustomView reports it tells when a delete key went
// unhandled: the main window then deletes the screenshot itself (in view
// mode).

#include "customview.h"

class SkrinView : public CustomView
{
    Q_OBJECT
public:
    explicit SkrinView(QWidget *parent = nullptr);

signals:
    // Plain Delete or Backspace that neither the scene nor an item accepted.
    void delKey();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Scales the view to the density of the screen it is on now.
    void followPixelRatio();

    qreal shownRatio = 1.0;
};
