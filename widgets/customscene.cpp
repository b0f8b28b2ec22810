#include "customscene.h"

CustomScene::CustomScene()
    : QGraphicsScene(nullptr)
{
}

void CustomScene::viewDragEnterEvent(QDragEnterEvent *) {}
void CustomScene::viewDragMoveEvent(QDragMoveEvent *) {}
void CustomScene::viewDropEvent(QDropEvent *) {}
