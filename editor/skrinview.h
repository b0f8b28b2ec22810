#pragma once

// The editor's view of the open screenshot. Besides what CustomView reports
// it tells when a delete key went unhandled: the main window then deletes the
// screenshot itself (in view mode).

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
    void keyPressEvent(QKeyEvent *event) override;
};
