#pragma once

// The main window as the editor's widgets see it. The editor library sits
// below the application, so the window registers itself here and the tool bar,
// its buttons and the overlays reach it through MainWindowHost::instance();
// each of them does nothing while that is null.

#include <QColor>
#include <QString>

class QAction;

class MainWindowHost
{
public:
    MainWindowHost() = default;
    virtual ~MainWindowHost();
    MainWindowHost(const MainWindowHost &) = delete;
    MainWindowHost &operator=(const MainWindowHost &) = delete;

    // The one registered window, or null before it exists and after it is gone.
    static MainWindowHost *instance();
    // The window's named action ("pickColor", "changeFont", or a drawing
    // tool's, such as "rectangle"); null for any other name and without a
    // window.
    static QAction *actionByName(const QString &name);

    virtual void setSkrinTool(int tool) = 0;
    virtual void toggleEditMode() = 0;
    virtual void toggleImageCropResize() = 0;
    virtual void applyPenSize(double size) = 0;
    virtual void applyColor(const QColor &color) = 0;
    virtual void applyFontSize(double pointSize) = 0;
    // The screenshot browser's running drag was used by the editor: its
    // release must not open the dragged screenshot.
    virtual void setDragSkrinUsed(bool) {}
    // The browser selects the open screenshot again.
    virtual void selectCurrentInExplorer() {}

protected:
    // The window calls this once it is fully built; its destructor (through
    // this base) withdraws it.
    static void registerInstance(MainWindowHost *window);
    virtual QAction *namedAction(const QString &name) const = 0;
};
