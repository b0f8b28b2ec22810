// Image items on a real scene: loading the picture, crop and resize through
// the handles with real mouse drags (crops that would leave nothing among
// them), reset, and the mode's life.

#include "dot.h"
#include "itemscene.h"
#include "skrinimage.h"

#include <QSignalSpy>

class ImageTest : public QObject
{
    Q_OBJECT

private:
    ItemStore store;
    std::unique_ptr<ItemScene> env;

    // A 200 x 100 picture shown at 400 x 200 at 50, 50.
    Id addImage(const QVariantMap &changes = {}, const QByteArray &file = ItemScene::png(200, 100))
    {
        QVariantMap members{{"x", 50.0}, {"y", 50.0}, {"z", 1.0}, {"w", 400.0}, {"h", 200.0},
                            {"src_x", 0.0}, {"src_y", 0.0}, {"src_w", 200.0}, {"src_h", 100.0}};
        members.insert(changes);
        return env->addRow("skrin_image", members, file);
    }

    // The image, loaded, selected alone, in `mode`.
    SkrinImage *selectedImage(Id id, int mode)
    {
        SkrinImage *image = env->item<SkrinImage>(id);
        if (!image)
            return nullptr;
        if (!QTest::qWaitFor([&] { return image->loadPicture(); }))
            return nullptr;
        env->click(env->viewPoint(image, image->rect().center()));
        image->setMode(mode);
        return image->isSelected() ? image : nullptr;
    }

    void dragHandle(SkrinImage *image, int handle, QPointF by)
    {
        const QPointF at = image->dot(handle)->pos();
        env->drag(env->viewPoint(image, at), env->viewPoint(image, at + by));
    }

    static double stored(Id id, const char *member) { return getMember(id, member).toDouble(); }

private slots:
    void init() { env = std::make_unique<ItemScene>(); }
    void cleanup() { env.reset(); }

    void loadsAndFollowsItsRow()
    {
        const Id before = addImage();
        env->open();
        const Id after = addImage({{"x", 300.0}}, ItemScene::png(6, 4));
        SkrinImage *image = env->item<SkrinImage>(before);
        QVERIFY(image && env->item<SkrinImage>(after));
        QCOMPARE(image->scene(), env->scene.get());
        QCOMPARE(image->pos(), QPointF(50, 50));
        QCOMPARE(image->rect(), QRectF(0, 0, 400, 200));
        // The picture arrives from a pool thread; until then "Loading".
        QTRY_VERIFY(image->loadPicture());
        QCOMPARE(env->render().pixelColor(env->viewPoint(image, {200, 100})), QColor(Qt::darkGreen));

        setMember(before, "w", 100.0);
        QCOMPARE(image->rect(), QRectF(0, 0, 100, 200));
        setMember(before, "src_w", 50.0);
        QTRY_COMPARE(image->sourceRectangle(), QRectF(0, 0, 50, 100));

        // A picture smaller than the handles' minimum lowers it, whether it
        // comes from the pool thread or, on reopening, from the cache.
        for (int round = 0; round < 2; ++round) {
            SkrinImage *small = env->item<SkrinImage>(after);
            QVERIFY(small);
            QTRY_VERIFY(small->loadPicture());
            QCOMPARE(QSizeF(small->minimumWidth(), small->minimumHeight()), QSizeF(6, 4));
            env->close();
            env->open();
        }
    }

    void cropThroughHandles()
    {
        const Id id = addImage();
        env->open();
        QSignalSpy modes(env->scene.get(), &Skrin::imageToolChanged);
        SkrinImage *image = selectedImage(id, SkrinImage::CropMode);
        QVERIFY(image);
        QCOMPARE(modes.count(), 1);
        QVERIFY(image->dot(DotRect::RightMiddle)->isVisible());
        QVERIFY(!image->dot(DotRect::Centre)->isVisible());

        dragHandle(image, DotRect::RightMiddle, {-40, 0});
        QCOMPARE(stored(id, "src_w"), 180.0);
        QCOMPARE(stored(id, "w"), 360.0);
        QCOMPARE(image->displayRect(), QRectF(0, 0, 400, 200));
        // The cut-off band is darkened, the kept part is not.
        const QImage shot = env->render();
        const QColor kept = shot.pixelColor(env->viewPoint(image, {300, 100}));
        const QColor cut = shot.pixelColor(env->viewPoint(image, {390, 100}));
        QCOMPARE(kept, QColor(Qt::darkGreen));
        QVERIFY(cut.green() < kept.green() / 2);

        // Past the picture's left edge the crop stops at it.
        dragHandle(image, DotRect::LeftMiddle, {-100, 0});
        QCOMPARE(stored(id, "src_x"), 0.0);
        QCOMPARE(image->rect().left(), 0.0);
        // A crop to nothing, along one edge or from corner to corner, keeps a pixel.
        for (const int handle : {DotRect::RightMiddle, DotRect::TopLeft}) {
            const QPointF corner = image->dot(DotRect::BottomRight)->pos() - image->dot(handle)->pos();
            dragHandle(image, handle, handle == DotRect::TopLeft ? corner : QPointF(-5000, 0));
            QVERIFY(stored(id, "src_w") >= 1 && stored(id, "src_h") >= 1);
            QVERIFY(ItemScene::finite(image->sceneBoundingRect()));
            env->render();
        }

        // Deselecting ends the mode and hides the handles.
        env->scene->clearSelection();
        QCOMPARE(image->mode(), int(SkrinImage::NoMode));
        QCOMPARE(modes.last().at(0).toInt(), 0);
        QVERIFY(!image->dot(DotRect::RightMiddle)->isVisible());
    }

    void resizeAndReset()
    {
        const Id id = addImage({{"src_x", 20.0}, {"src_w", 100.0}});
        env->open();
        SkrinImage *image = selectedImage(id, SkrinImage::ResizeMode);
        QVERIFY(image);
        QVERIFY(image->dot(DotRect::Centre)->isVisible());
        dragHandle(image, DotRect::TopLeft, {30, 20});
        QCOMPARE(ItemScene::numbers(id, {"src_x", "src_w", "w", "h", "x", "y"}),
                 (QList<double>{20, 100, 370, 180, 80, 70}));

        // The whole picture at its own size, where the stored corner says.
        image->resetCrop();
        QCOMPARE(ItemScene::numbers(id, {"src_x", "src_w", "h"}), (QList<double>{0, 200, 100}));
        QCOMPARE(image->mapToScene(image->rect().topLeft()), QPointF(stored(id, "x"), stored(id, "y")));
        QCOMPARE(image->rect().size(), QSizeF(200, 100));

        // Double-click turns crop and resize into each other.
        const QPoint inside = env->viewPoint(image, image->rect().topLeft() + QPointF(40, 30));
        env->doubleClick(inside);
        QCOMPARE(image->mode(), int(SkrinImage::CropMode));
        env->doubleClick(inside);
        QCOMPARE(image->mode(), int(SkrinImage::ResizeMode));
    }
};

QTEST_MAIN(ImageTest)
#include "tst_image.moc"
