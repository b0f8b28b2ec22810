#pragma once

// The panel shown over the editor view after a capture has become a new
// screenshot: it says that the share URL is on the clipboard and with which
// keys to paste it, and asks for a title. Confirming stores the typed title
// once; the close button dismisses the panel without storing anything. It
// shows and hides at once, never fading.

#include "customwidget.h"
#include "engine.h"

#include <memory>

class CustomButton;
class Ui_SkrinDone;

class SkrinDone : public CustomWidget
{
    Q_OBJECT
public:
    explicit SkrinDone(QWidget *parent);
    ~SkrinDone() override;

    // The note that the share URL is on the clipboard shows only when it is.
    void showForSkrin(Id skrin, bool urlCopied = true);
    Id skrinId() const { return skrin; }

public slots:
    void save();
    void on_title_returnPressed();

signals:
    void hideEventSignal();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    std::unique_ptr<Ui_SkrinDone> ui;
    Id skrin = 0;
    CustomButton *closeButton = nullptr;
};
