#pragma once

// Shared by the tool bar and overlay tests: a stand-in for the application's
// main window behind the editor's window interface (the application library
// sits above the editor), recording each call as text such as
// "applyPenSize 11", and small helpers to find buttons and drag panels.

#include "custombutton.h"
#include "mainwindowhost.h"

#include <QAction>
#include <QApplication>
#include <QHash>
#include <QMouseEvent>
#include <QStringList>
#include <QTest>

class RecordingWindow : public QObject, public MainWindowHost
{
public:
    RecordingWindow()
    {
        for (const char *name : {"pickColor", "changeFont", "rectangle", "rectangleFrame", "ellipse", "ellipseFrame", "line"}) {
            auto *action = new QAction(QString::fromLatin1(name), this);
            connect(action, &QAction::triggered, this, [this, name] { calls << QStringLiteral("action ") + QLatin1String(name); });
            actions.insert(QString::fromLatin1(name), action);
        }
        registerInstance(this);
    }

    void setSkrinTool(int tool) override { calls << QStringLiteral("setSkrinTool %1").arg(tool); }
    void toggleEditMode() override { calls << QStringLiteral("toggleEditMode"); }
    void toggleImageCropResize() override { calls << QStringLiteral("toggleImageCropResize"); }
    void applyPenSize(double size) override { calls << QStringLiteral("applyPenSize %1").arg(size); }
    void applyColor(const QColor &color) override { calls << QStringLiteral("applyColor ") + color.name(); }
    void applyFontSize(double size) override { calls << QStringLiteral("applyFontSize %1").arg(size); }

    QStringList takeCalls() { return std::exchange(calls, {}); }

    QStringList calls;
    QHash<QString, QAction *> actions;

protected:
    QAction *namedAction(const QString &name) const override { return actions.value(name); }
};

inline CustomButton *buttonWithTip(QWidget &panel, const QString &tip)
{
    for (CustomButton *button : panel.findChildren<CustomButton *>())
        if (button->toolTip() == tip)
            return button;
    return nullptr;
}

// Press, one move with the button held, release: positions in the widget.
inline void drag(QWidget *widget, QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mousePress(widget, button, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), widget->mapToGlobal(QPointF(to)), Qt::NoButton, button,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QTest::mouseRelease(widget, button, {}, to);
}
