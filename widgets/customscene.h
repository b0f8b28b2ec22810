#pragma once

// A graphics scene that hears the drags its views receive, before the view's
// own handling passes them on to the items.

#include <QGraphicsScene>

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;

class CustomScene : public QGraphicsScene
{
    Q_OBJECT
public:
    CustomScene();

    virtual void viewDragEnterEvent(QDragEnterEvent *event);
    virtual void viewDragMoveEvent(QDragMoveEvent *event);
    virtual void viewDropEvent(QDropEvent *event);
};
