#pragma once

// What an annotation item needs of the scene that owns it. The editor's scene
// implements it; items never see the editor itself.

#include <QColor>

class QGraphicsScene;
class QGraphicsView;
class SkrinItem;

class SkrinHost
{
public:
    virtual ~SkrinHost() = default;
    virtual QGraphicsScene *hostScene() = 0;           // the scene itself
    virtual QGraphicsView *view() const = 0;           // its first view, or null
    virtual void setModified() = 0;                    // raise the changed flag (the 500 ms check consumes it)
    virtual void notifyTextEditChanged(bool editing) = 0;           // emits textEditChanged(bool)
    virtual void notifyImageToolChanged(SkrinItem *item, int mode) = 0; // emits imageToolChanged(int)
    // Removes the item's row once the event being handled is over: an item
    // cannot go while it handles one (a text whose editing ended empty).
    virtual void removeLater(SkrinItem *item) = 0;
    static QColor backgroundColor() { return QColor(0xeb, 0xeb, 0xeb); } // the canvas colour "#ebebeb"
};
