#pragma once

// A stroke that pixelates what lies under it. While the scene paints, every
// annotation below a blur is rendered, in stacking order, into one picture
// per scene (the blur cache), and the blur averages that picture in blocks
// wherever its pen would paint.

#include "skrinpen.h"

#include <QImage>

class QGraphicsScene;

// The picture below the blurs of one scene paint: one pixel per scene unit,
// pixel (0, 0) at the scene rectangle's corner; `z` is the stacking value up
// to which items have been rendered into it during this paint.
struct SkrinBlurCache
{
    QImage image;
    double z = 0.0;
};

class SkrinBlur : public SkrinPen
{
public:
    SkrinBlur(Id id, SkrinHost *skrin);

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

    // A new scene paint begins: the scene's cache becomes the page colour,
    // nothing rendered yet. The scene calls it from its background painting.
    static void sceneCache(QGraphicsScene *scene);
    // Forgets the scene's cache; the scene calls it as it goes.
    static void dropSceneCache(QGraphicsScene *scene);
    // The scene's cache, or null when it has none.
    static const SkrinBlurCache *findSceneCache(const QGraphicsScene *scene);

private:
    QGraphicsScene *ownerScene() const;
    // Renders the annotations between the cache's mark and this blur's z.
    void renderBelow(SkrinBlurCache &entry);
};
