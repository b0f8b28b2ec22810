#pragma once

// The panel in the editor view's upper left corner naming the open
// screenshot: its title (or "No title") over its last-modified date. It shows
// when the pointer comes within 20 px, dims elsewhere over the view, fades
// beyond it, stays away while a drawing tool is active, and a press on it
// emits clicked().

#include "customwidget.h"
#include "engine.h"

class CustomLabel;

class InfoBar : public CustomWidget
{
    Q_OBJECT
public:
    explicit InfoBar(QWidget *parent);

    void setSkrin(Id skrin);
    void refresh();
    void setEditing(bool editing);
    void updateOpacity();

    Id skrinId() const { return skrin; }
    QString shownTitle() const;
    QString shownDate() const;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    Id skrin = 0;
    CustomLabel *titleLabel = nullptr;
    CustomLabel *dateLabel = nullptr;
    bool editing = false;
};
