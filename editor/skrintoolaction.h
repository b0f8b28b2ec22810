#pragma once

// A menu entry of the tool bar that carries one pen option (a pen size, a
// colour or a font point size) and hands it to the main window when triggered.

#include <QAction>
#include <QColor>

class SkrinToolAction : public QAction
{
    Q_OBJECT
public:
    enum Kind { None = 0, PenSize = 1, Color = 2, FontSize = 3 };

    // A colour entry, with a 16 x 16 swatch of the colour as its icon.
    SkrinToolAction(int kind, const QString &text, const QColor &color, QObject *parent = nullptr);
    SkrinToolAction(int kind, const QString &text, double value, QObject *parent = nullptr);
    explicit SkrinToolAction(QObject *parent = nullptr);

    static SkrinToolAction *makePenSize(const QString &text, double size, QObject *parent = nullptr);
    static SkrinToolAction *makeColor(const QString &text, const QColor &color, QObject *parent = nullptr);
    static SkrinToolAction *makeFontSize(const QString &text, double size, QObject *parent = nullptr);

    // Neither re-setter redraws the icon.
    void set(int kind, const QString &text, const QColor &color);
    void set(int kind, const QString &text, double value);

    int kind() const { return carried; }
    double value() const { return amount; }
    QColor color() const { return colour; }

private slots:
    void onTriggered(bool checked);

private:
    double amount = 0.0;
    QColor colour = Qt::transparent;
    int carried = None;
};
