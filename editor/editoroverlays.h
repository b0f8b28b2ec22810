#pragma once

// The main window's side of the panels over the editor view: the title
// prompt, the info bar, the floating tool bar and the too-big notice, built
// once as children of the view and kept for the program's life. This keeps
// them placed as the view changes, feeds them the pointer, the open
// screenshot, the tool and the selection, and hides or refreshes them when the
// screenshot's title changes elsewhere.

#include "engine.h"

#include <QObject>
#include <memory>

class InfoBar;
class InfoTooBig;
class QAction;
class Skrin;
class SkrinDone;
class SkrinToolBar;
class SkrinView;

class EditorOverlays : public QObject
{
    Q_OBJECT
public:
    // `getInfo` is the window's "Get info" action, triggered by a click on the info bar.
    EditorOverlays(SkrinView *view, QAction *getInfo);
    ~EditorOverlays() override;

    SkrinToolBar *toolBar() const { return bar; }
    SkrinDone *prompt() const { return done; }
    InfoBar *infoBar() const { return info; }
    InfoTooBig *notice() const { return tooBig; }

    // The screenshot now open in the editor, in view mode; 0 for none. A
    // title typed in the prompt for the one left is stored first.
    void showSkrin(Id skrin);
    // The scene's tool changed.
    void toolChanged(int tool);
    // A capture has just become the screenshot `skrin`: ask for its title
    // when the "capture_title_ask" option says so, telling that its share URL
    // is on the clipboard only when it is.
    void askTitle(Id skrin, bool urlCopied = true);
    // Shows the notice while the open screenshot holds a file too big to
    // upload; also run before every commit.
    void checkTooBig();
    // Puts the panels back in their places.
    void place();
    // The tool bar's values, option buttons and marked tool for the scene's
    // one selected annotation, or else for its current tool.
    void updateToolBar(Skrin *scene);
    void imageToolChanged(int mode);

private:
    class TitleWatch;

    SkrinView *view;
    SkrinDone *done;
    InfoBar *info;
    SkrinToolBar *bar;
    InfoTooBig *tooBig;
    std::unique_ptr<TitleWatch> titleWatch;
    Id skrin = 0;
    int tool = 0;
};
