#include "infobar.h"

#include "customlabel.h"
#include "displaytext_p.h"
#include "overlaypointer_p.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace {
// How far the pointer may be outside the bar and still count as near.
constexpr int nearMargin = 20;
// The widest title shown; a longer one is elided so the bar stays a corner panel.
constexpr int maxTitleWidth = 400;
} // namespace

InfoBar::InfoBar(QWidget *parent)
    : CustomWidget(parent, false)
{
    hide();
    jumpTo(QStringLiteral("opacity"), 0.0);
    setState(Hidden, true);
    auto *box = new QVBoxLayout(this);
    box->setSpacing(0);
    titleLabel = new CustomLabel(nullptr);
    dateLabel = new CustomLabel(nullptr);
    addWidget(titleLabel);
    addWidget(dateLabel);
    box->addWidget(titleLabel);
    box->addWidget(dateLabel);
    setBorder(true, 0.0, QColor("#a4a4a4"));
    setShadowSize(10);
    box->setContentsMargins(0, 0, 0, 0);
    // Centred, the labels keep clear of the shaded margin around the panel.
    box->setAlignment(Qt::AlignCenter);
    setContentsMargins(18, 9, 9, 9);
    adjustKeepingCentre();
}

void InfoBar::setSkrin(Id id)
{
    skrin = id;
    if (id == 0) {
        setState(Hidden, true);
        return;
    }
    refresh();
    setState(Shown, true);
    show();
    restartHideTimer();
}

void InfoBar::refresh()
{
    const QString title = getMember(skrin, QStringLiteral("title")).toString();
    const QDateTime modified = getMember(skrin, QStringLiteral("modified")).toDateTime();
    QFont font = titleLabel->font();
    if (title.isEmpty()) {
        titleLabel->setText(tr("No title"));
        font.setStyle(QFont::StyleItalic);
    } else {
        titleLabel->setText(singleLineElided(title, QFontMetrics(font), maxTitleWidth));
        font.setStyle(QFont::StyleNormal);
    }
    titleLabel->setFont(font);
    // The store holds times in UTC; the user reads local time.
    dateLabel->setText(modified.toLocalTime().toString(Qt::TextDate));
    // The bar is placed by its corner: it grows to the right, never past the
    // view's left edge.
    resizeToHint(pos(), false);
}

QString InfoBar::shownTitle() const
{
    return titleLabel->text();
}

QString InfoBar::shownDate() const
{
    return dateLabel->text();
}

void InfoBar::setEditing(bool on)
{
    if (on == editing)
        return;
    editing = on;
    updateOpacity();
}

void InfoBar::updateOpacity()
{
    if (skrin == 0 || editing) {
        setState(Hidden, true);
        return;
    }
    fadeByPointer(this, nearMargin);
}

void InfoBar::mousePressEvent(QMouseEvent *event)
{
    emit clicked();
    event->accept();
}

void InfoBar::enterEvent(QEnterEvent *)
{
    updateOpacity();
}

void InfoBar::leaveEvent(QEvent *)
{
    updateOpacity();
}
