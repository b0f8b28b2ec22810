#pragma once

// Stands in for the application's main window behind the editor's window
// interface (the application library sits above the editor): it records each
// call the tool bar and its buttons make, as text such as "applyPenSize 11",
// and holds the window's named actions.

#include "mainwindowhost.h"

#include <QAction>
#include <QHash>
#include <QObject>
#include <QStringList>

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
