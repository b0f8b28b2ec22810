#include "skrintoolaction.h"

#include "mainwindowhost.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>

SkrinToolAction::SkrinToolAction(int kind, const QString &text, const QColor &color, QObject *parent)
    : QAction(text, parent)
    , colour(color)
    , carried(kind)
{
    // The outline and the fill together cover every pixel, so no clearing first.
    QImage swatch(16, 16, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&swatch);
        QPen pen(Qt::black);
        pen.setCosmetic(true);
        pen.setWidth(0);
        painter.setPen(pen);
        painter.setBrush(color);
        painter.drawRect(0, 0, 15, 15);
    }
    setIcon(QPixmap::fromImage(swatch));
    connect(this, &QAction::triggered, this, &SkrinToolAction::onTriggered);
}

SkrinToolAction::SkrinToolAction(int kind, const QString &text, double value, QObject *parent)
    : QAction(text, parent)
    , amount(value)
    , carried(kind)
{
    connect(this, &QAction::triggered, this, &SkrinToolAction::onTriggered);
}

SkrinToolAction::SkrinToolAction(QObject *parent)
    : QAction(parent)
{
    connect(this, &QAction::triggered, this, &SkrinToolAction::onTriggered);
}

SkrinToolAction *SkrinToolAction::makePenSize(const QString &text, double size, QObject *parent)
{
    return new SkrinToolAction(PenSize, text, size, parent);
}

SkrinToolAction *SkrinToolAction::makeColor(const QString &text, const QColor &color, QObject *parent)
{
    return new SkrinToolAction(Color, text, color, parent);
}

SkrinToolAction *SkrinToolAction::makeFontSize(const QString &text, double size, QObject *parent)
{
    return new SkrinToolAction(FontSize, text, size, parent);
}

void SkrinToolAction::set(int kind, const QString &text, const QColor &color)
{
    carried = kind;
    colour = color;
    setText(text);
}

void SkrinToolAction::set(int kind, const QString &text, double value)
{
    carried = kind;
    amount = value;
    setText(text);
}

void SkrinToolAction::onTriggered(bool)
{
    MainWindowHost *window = MainWindowHost::instance();
    if (!window)
        return;
    switch (carried) {
    case PenSize:
        window->applyPenSize(amount);
        break;
    case Color:
        window->applyColor(colour);
        break;
    case FontSize:
        window->applyFontSize(amount);
        break;
    default:
        break;
    }
}
