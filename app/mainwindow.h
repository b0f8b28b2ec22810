#pragma once

// The program's one window: the editor view of the open screenshot, the
// menus and actions, and the road from a capture to a stored screenshot.

#include "engine.h"
#include "mainwindowhost.h"

#include <QDateTime>
#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include <memory>

class EditorOverlays;
class QAction;
class QFont;
class QLabel;
class Skrin;
class SkrinView;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow, public MainWindowHost
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The one main window, or null while there is none.
    static MainWindow *instance();
    // The window's action for "pickColor", "changeFont" or a drawing tool's
    // name ("rectangle", "line", ...); null for any other name and while
    // there is no window.
    static QAction *actionByName(const QString &name);

    SkrinView *skrinView() const;
    // The open screenshot's scene and id; null and 0 when none is open.
    Skrin *skrin() const { return scene; }
    Id currentSkrinId() const;
    // Shows the screenshot in the editor, closing the open one; 0 shows none.
    void openSkrin(Id id);

    // The editor operations the tool bar and the panels call; each does
    // nothing while no screenshot is open.
    void setSkrinTool(int tool) override;
    void toggleEditMode() override;
    void toggleImageCropResize() override;
    void applyPenSize(double size) override;
    void applyColor(const QColor &color) override;
    void applyFontSize(double size) override;
    void updateToolBarFromSelection();
    // The screenshot browser's hooks; there is no browser, so they do nothing.
    void setDragSkrinUsed(bool used) override;
    void selectCurrentInExplorer() override;

    // Removes the open screenshot with its rows and files and opens its
    // neighbour, without asking. When the open screenshot is removed
    // elsewhere (another client, through the sync), the window opens its
    // older neighbour too.
    void deleteCurrentSkrin();

    // Ends the program as Quit does, for a request from outside (a logout, a
    // shutdown, `kill`). Dialogs and menus are closed first, and the window
    // once their loops have returned.
    void quitOnRequest();

signals:
    // Once, after the window's first paint has reached the screen.
    void firstPainted();

public slots:
    // A captured picture becomes a new screenshot, shown at once, with its
    // share link on the clipboard.
    void onShoot(const QPixmap &pixmap);
    void onSkrinImageToolChanged(int mode);

    // The panels over the editor view: prompt, info bar, tool bar, notice.
    EditorOverlays *editorOverlays() const { return overlays; }

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    QAction *namedAction(const QString &name) const override { return actionByName(name); }

private:
    class SkrinWatcher;

    void onSkrinRemoved(Id id);
    void addToolActions();
    void connectActions();
    void connectEditActions();
    void startCapture();
    void askDeleteFile();
    void openNeighbour(int step);
    void onDelKey();
    void pickColor();
    void changeFont();
    void applyFont(const QFont &font);
    // Shows why the store cannot write, or hides the notice for "".
    void showWriteFailure(const QString &failure);
    // The store's file was found damaged after the window was shown: the
    // window goes, nothing is written, and the program ends as it does when
    // the store cannot be opened at all.
    void refuseDamagedStore(const QString &damage);
    // The form's size where the screen's free area allows it, else less;
    // centred on that area.
    void fitIntoScreen();
    // Stops background work and writes the store a last time; false when
    // that write failed.
    bool shutDownEngine();

    std::unique_ptr<Ui::MainWindow> ui;
    std::unique_ptr<SkrinWatcher> skrinWatcher;
    Skrin *scene = nullptr;
    EditorOverlays *overlays = nullptr;
    QHash<QString, QAction *> toolActions; // the drawing tools' actions by name
    QLabel *writeFailureBar = nullptr;
    QDateTime openCreated; // creation time of the open screenshot
    bool closed = false;
    bool painted = false;
};
