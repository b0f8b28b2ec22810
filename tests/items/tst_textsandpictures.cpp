// Text items, pin notes and pictures on a real scene: following their rows,
// editing texts and notes, the pin's icon, cropping and resizing pictures
// through their handles with real mouse drags.

#include "dot.h"
#include "editorscene.h"
#include "skrinimage.h"
#include "skrinpin.h"
#include "skrinpintext.h"
#include "skrinpintextclose.h"
#include "skrintext.h"

#include <QSignalSpy>
#include <QStyleOptionGraphicsItem>
#include <QTextCursor>

class TestTextsAndPictures : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<EditorScene> env;

    static QVariantMap row(const QString &text)
    {
        return {{"x", 40.0},         {"y", 50.0},         {"z", 1.0},          {"data", text},
                {"font_name", "DejaVu Sans"}, {"font_size", 14.0}, {"color", "#ff0000"}, {"font_weight", 75},
                {"font_italic", 2},  {"font_underline", 0}, {"font_strikeout", 1}};
    }

    Id addPin(int opened, const QString &colour = "#ff0000")
    {
        return env->addRow("skrin_pin",
                           {{"x", 200.0}, {"y", 250.0}, {"z", 1.0}, {"color", colour}, {"data", "Note"},
                            {"opened", opened}});
    }

    // The icon as the pin paints it, on a clear 44 by 44 picture.
    static QImage paintedIcon(SkrinPin *pin)
    {
        QImage image(44, 44, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.translate(10, 40);
        const QStyleOptionGraphicsItem option;
        pin->paint(&painter, &option, nullptr);
        return image;
    }

    // On the icon's cap (black) and in its corner (white).
    static constexpr QPoint capPixel{31, 19};
    static constexpr QPoint cornerPixel{1, 1};

    // A 200 x 100 picture shown at 400 x 200 at 50, 50.
    Id addImage(const QVariantMap &changes = {}, const QByteArray &file = EditorScene::png(200, 100))
    {
        QVariantMap members{{"x", 50.0}, {"y", 50.0}, {"z", 1.0}, {"w", 400.0}, {"h", 200.0},
                            {"src_x", 0.0}, {"src_y", 0.0}, {"src_w", 200.0}, {"src_h", 100.0}};
        members.insert(changes);
        return env->addRowWithFile("skrin_image", members, file);
    }

    // The image, loaded, selected alone, in `mode`.
    SkrinImage *selectedImage(Id id, int mode)
    {
        SkrinImage *image = env->item<SkrinImage>(id);
        if (!image)
            return nullptr;
        if (!QTest::qWaitFor([&] { return image->loadPicture(); }))
            return nullptr;
        env->click(image->mapToScene(image->rect().center()));
        image->setMode(mode);
        return image->isSelected() ? image : nullptr;
    }

    void dragHandle(SkrinImage *image, int handle, QPointF by)
    {
        const QPointF at = image->dot(handle)->pos();
        env->drag(image->mapToScene(at), image->mapToScene(at + by));
    }

    static double stored(Id id, const char *member) { return getMember(id, member).toDouble(); }

private slots:
    void init() { env = std::make_unique<EditorScene>(EditorScene::Later); }
    void cleanup() { env.reset(); }

    void followsItsRow()
    {
        const Id before = env->addRow("skrin_text", row("Before"));
        env->open();
        const Id after = env->addRow("skrin_text", row("After"));
        SkrinText *first = env->item<SkrinText>(before);
        SkrinText *second = env->item<SkrinText>(after);
        QVERIFY(first && second);
        QCOMPARE(second->toPlainText(), QStringLiteral("After"));
        QCOMPARE(first->toPlainText(), QStringLiteral("Before"));
        QCOMPARE(first->pos(), QPointF(40, 50));
        QCOMPARE(first->defaultTextColor(), QColor(Qt::red));
        // Stored 75 is bold on the old scale, not a hair-thin Qt weight 75.
        QCOMPARE(first->font().weight(), QFont::Bold);
        QVERIFY(first->font().italic());
        QVERIFY(!first->font().underline());
        QVERIFY(first->font().strikeOut());
        QCOMPARE(first->font().pointSizeF(), 14.0);

        setMember(before, "data", "Changed");
        setMember(before, "font_weight", 50);
        setMember(before, "font_italic", 0);
        setMember(before, "color", "");
        QCOMPARE(first->toPlainText(), QStringLiteral("Changed"));
        QCOMPARE(first->font().weight(), QFont::Normal);
        QVERIFY(!first->font().italic());
        QCOMPARE(first->defaultTextColor().alpha(), 0);
        // Applying the store's text writes nothing back.
        QCOMPARE(getMember(before, "data").toString(), QStringLiteral("Changed"));

        // A remote move is animated, and not echoed to the store.
        setMember(before, "x", 140.0);
        QVERIFY(first->x() < 140.0);
        QTRY_COMPARE(first->x(), 140.0);
        QCOMPARE(getMember(before, "x").toDouble(), 140.0);

        // The user's move writes the row.
        first->setPos(10, 20);
        QCOMPARE(EditorScene::numbers(before, {"x", "y"}), (QList<double>{10, 20}));
        QVERIFY(env->scene->isModified());
    }

    void editing()
    {
        const Id id = env->addRow("skrin_text", row("Hello"));
        env->open(Skrin::ToolNone);
        SkrinText *text = env->item<SkrinText>(id);
        QVERIFY(text);
        QSignalSpy edits(env->scene.get(), &Skrin::textEditChanged);
        const QPointF at = text->mapToScene(text->boundingRect().center());

        // View mode: a double click only looks.
        env->doubleClick(at);
        QVERIFY(!text->isEditing());
        QCOMPARE(edits.count(), 0);

        env->scene->setTool(Skrin::ToolSelect);
        env->doubleClick(at);
        QVERIFY(text->isEditing());
        QCOMPARE(edits.count(), 1);
        QCOMPARE(edits.at(0).at(0).toBool(), true);
        text->startEditing(true);
        QCOMPARE(edits.count(), 1);

        // Every keystroke writes the whole text.
        text->startEditing(false);
        text->stopEditing();
        QCOMPARE(edits.count(), 2);
        text->startEditing(true);
        QTest::keyClicks(env->view->viewport(), "W");
        QCOMPARE(getMember(id, "data").toString(), QStringLiteral("W"));
        QTest::keyClicks(env->view->viewport(), "e");
        QCOMPARE(getMember(id, "data").toString(), QStringLiteral("We"));

        env->scene->setTool(Skrin::ToolText);
        QVERIFY(text->isEditing());
        env->scene->setTool(Skrin::ToolNone);
        QVERIFY(!text->isEditing());
        QCOMPARE(edits.last().at(0).toBool(), false);
        QVERIFY(!text->textCursor().hasSelection());
    }

    void enormousTextIsShownCutAndKept()
    {
        const QString huge(3'000'000, QLatin1Char('a'));
        const Id id = env->addRow("skrin_text", row(huge));
        env->open();
        SkrinText *text = env->item<SkrinText>(id);
        QVERIFY(text);
        QVERIFY(text->toPlainText().size() < huge.size());
        text->startEditing(true);
        QVERIFY(!text->isEditing());
        QCOMPARE(getMember(id, "data").toString().size(), huge.size());
    }

    void iconTakesThePinColour()
    {
        const Id id = addPin(0);
        env->open();
        SkrinPin *pin = env->item<SkrinPin>(id);
        QVERIFY(pin);
        QCOMPARE(pin->boundingRect(), QRectF(-10, -40, 44, 44));
        const QImage source(":/rc/ico3b.png");
        QCOMPARE(source.pixel(capPixel), qRgb(0, 0, 0));
        QCOMPARE(source.pixel(cornerPixel), qRgb(255, 255, 255));
        QImage icon = paintedIcon(pin);
        QCOMPARE(icon.pixel(capPixel), qRgba(255, 0, 0, 255));
        QCOMPARE(qAlpha(icon.pixel(cornerPixel)), 0);

        setMember(id, "color", "#0000ff");
        icon = paintedIcon(pin);
        QCOMPARE(icon.pixel(capPixel), qRgba(0, 0, 255, 255));

        // Lifted above the picture for display only: its stored z stays.
        env->addRow("skrin_rectangle", {{"x", 0.0}, {"y", 0.0}, {"z", 5.0}, {"w", 9.0}, {"h", 9.0}, {"color", "#000000"}});
        QVERIFY(pin->zValue() > 5.0);
        QCOMPARE(getMember(id, "z").toDouble(), 1.0);
    }

    void pressOpensTheNoteDragMovesThePin()
    {
        const Id id = addPin(0);
        env->open(Skrin::ToolNone);
        SkrinPin *pin = env->item<SkrinPin>(id);
        QVERIFY(pin && pin->isVisible());
        QVERIFY(!pin->note()->isVisible());
        const QPointF icon = pin->mapToScene(QPointF(12, -20));
        env->drag(icon, icon + QPointF(30, 30));
        QVERIFY(pin->note()->isVisible());
        QCOMPARE(getMember(id, "opened").toInt(), 1);
        QCOMPARE(pin->pos(), QPointF(200, 250));
        QVERIFY(!pin->isSelected());

        // Only the cross closes it; a click on the pin leaves it open.
        env->click(icon);
        QVERIFY(pin->note()->isVisible());
        // The cross shows while the pointer is over the note.
        SkrinPinTextClose *cross = pin->note()->closeButton();
        const QPointF onCross = cross->mapToScene(QPointF(3, 3));
        QTest::mouseMove(env->view->viewport(), env->view->mapFromScene(onCross));
        QVERIFY(cross->isVisible());
        env->click(onCross);
        QVERIFY(!pin->note()->isVisible());
        QCOMPARE(getMember(id, "opened").toInt(), 0);
        QVERIFY(!env->scene->isModified());

        // With a tool a drag moves it, a click opens it.
        env->scene->setTool(Skrin::ToolSelect);
        env->drag(icon, icon + QPointF(10, 0));
        QVERIFY(!pin->note()->isVisible());
        QCOMPARE(EditorScene::numbers(id, {"x", "y"}), (QList<double>{210, 250}));

        env->drag(icon + QPointF(10, 0), icon + QPointF(12, 1));
        QVERIFY(pin->note()->isVisible());
        QCOMPARE(getMember(id, "opened").toInt(), 1);
        QVERIFY(!env->scene->isModified());

        // The store opens and closes it too.
        setMember(id, "opened", 0);
        QVERIFY(!pin->note()->isVisible());
        setMember(id, "opened", 1);
        QVERIFY(pin->note()->isVisible());
    }

    void editingTheNote()
    {
        const Id id = addPin(1);
        env->open(Skrin::ToolSelect);
        SkrinPin *pin = env->item<SkrinPin>(id);
        QVERIFY(pin);
        SkrinPinText *note = pin->note();
        const auto bottomToIconTop = [&] {
            return note->mapToItem(pin, note->boundingRect().bottomLeft()).y() - pin->boundingRect().top();
        };
        QCOMPARE(bottomToIconTop(), 20.0);

        env->doubleClick(note->mapToScene(note->boundingRect().center()));
        QVERIFY(note->isEditing());
        QTest::keyClick(env->view->viewport(), Qt::Key_A);
        QCOMPARE(getMember(id, "data").toString(), QStringLiteral("a"));
        const double height = note->boundingRect().height();
        QTest::keyClick(env->view->viewport(), Qt::Key_Return);
        QTest::keyClick(env->view->viewport(), Qt::Key_B);
        QCOMPARE(getMember(id, "data").toString(), QStringLiteral("a\nb"));
        QVERIFY(note->boundingRect().height() > height);
        QCOMPARE(bottomToIconTop(), 20.0);

        setMember(id, "data", "From elsewhere");
        note->setPlainText("Typed");
        env->scene->setTool(Skrin::ToolNone);
        QVERIFY(!note->isEditing());
        QVERIFY(note->isVisible());
        QCOMPARE(getMember(id, "data").toString(), QStringLiteral("Typed"));
        QVERIFY(!env->scene->isModified());
    }

    void loadsAndFollowsItsRow()
    {
        const Id before = addImage();
        env->open();
        const Id after = addImage({{"x", 300.0}}, EditorScene::png(6, 4));
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
            QVERIFY(EditorScene::finite(image->sceneBoundingRect()));
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
        QCOMPARE(EditorScene::numbers(id, {"src_x", "src_w", "w", "h", "x", "y"}),
                 (QList<double>{20, 100, 370, 180, 80, 70}));

        // The whole picture at its own size, where the stored corner says.
        image->resetCrop();
        QCOMPARE(EditorScene::numbers(id, {"src_x", "src_w", "h"}), (QList<double>{0, 200, 100}));
        QCOMPARE(image->mapToScene(image->rect().topLeft()), QPointF(stored(id, "x"), stored(id, "y")));
        QCOMPARE(image->rect().size(), QSizeF(200, 100));

        // Double-click turns crop and resize into each other.
        const QPointF inside = image->mapToScene(image->rect().topLeft() + QPointF(40, 30));
        env->doubleClick(inside);
        QCOMPARE(image->mode(), int(SkrinImage::CropMode));
        env->doubleClick(inside);
        QCOMPARE(image->mode(), int(SkrinImage::ResizeMode));
    }
};

QTEST_MAIN(TestTextsAndPictures)
#include "tst_textsandpictures.moc"
