// Drawing and editing with the mouse and keys on a real scene and store: the
// row each tool writes, the second button that ends drawing, edit operations
// on the selection, pasted pictures, and drops (always taken as a copy).

#include "capture.h"
#include "captureoverlay.h"
#include "database.h"
#include "editorscene.h"
#include "enginefixture.h"
#include "modaldialog.h"
#include "pictures.h"
#include "polygondata.h"
#include "skrinimage.h"
#include "skrinsmimedata.h"
#include "skrintext.h"

#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImageReader>
#include <QMessageBox>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QThreadPool>

using Members = QVariantMap;

namespace {

QByteArray pictureBytes(const QSize &size, const char *format = "PNG")
{
    return encoded(filledImage(size, QColor(40, 120, 200)), format);
}

// An image row showing a stored picture file, once its item is in the scene.
Id addImageRow(EditorScene &editor, double z, const QSize &size = QSize(40, 30))
{
    const int w = size.width(), h = size.height();
    const Id id = editor.addRow("skrin_image", {{"x", 10}, {"y", 10}, {"z", z}, {"w", w}, {"h", h}, {"src_x", 0},
                                                {"src_y", 0}, {"src_w", w}, {"src_h", h},
                                                {"file", Database::storeNewFile(pictureBytes(size), ".png")}});
    return QTest::qWaitFor([&] {
        auto *item = dynamic_cast<SkrinImage *>(editor.scene->skrinItem(id));
        return item && item->loadPicture() && item->scene();
    }) ? id : 0;
}

// A pen stroke with every member its item waits for.
Id addPenRow(EditorScene &editor, double z)
{
    return editor.addRow(QStringLiteral("skrin_pen"),
                         {{"x", 0}, {"y", 0}, {"z", z}, {"data", "[0,0]"}, {"pen_size", 2}, {"color", "#000000"}});
}

// Everything but the row's own id and place.
QVariantMap content(Id id)
{
    QVariantMap members = readItem(id);
    for (const char *own : {"id", "x", "y", "z"})
        members.remove(QString::fromLatin1(own));
    return members;
}

QList<double> zOf(const QList<Id> &ids)
{
    QList<double> z;
    for (const Id id : ids)
        z << getMember(id, QStringLiteral("z")).toDouble();
    return z;
}

// Drags `mime` over the view and drops it at a view point, offering
// `actions` with Shift held (a file manager then proposes a move); returns
// the action the editor answered, IgnoreAction for a refusal, and
// TargetMoveAction when the drag and the drop were answered differently.
Qt::DropAction drop(EditorScene &editor, const QMimeData &mime, const QPoint &at,
                    Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction)
{
    const auto answer = [](const QDropEvent &event) { return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction; };
    QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(editor.view->viewport(), &enter);
    QDragMoveEvent move(at, actions, &mime, Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(editor.view->viewport(), &move);
    QDropEvent event(at, actions, &mime, Qt::LeftButton, Qt::ShiftModifier);
    if (actions.testFlag(Qt::MoveAction) && event.proposedAction() != Qt::MoveAction)
        qWarning("the platform proposes no move");
    QApplication::sendEvent(editor.view->viewport(), &event);
    const bool agreed = answer(enter) == answer(event) && answer(move) == answer(event);
    return agreed ? answer(event) : Qt::TargetMoveAction;
}

QString pictureFile(const QTemporaryDir &folder, const QString &name)
{
    const QString path = folder.filePath(name);
    filledImage(QSize(30, 20), Qt::darkCyan).save(path);
    return path;
}

void openContextMenu(EditorScene &editor)
{
    const QPoint at(10, 10);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, editor.view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(editor.view->viewport(), &menu);
}

} // namespace

class TestEditing : public QObject
{
    Q_OBJECT

private slots:
    // Copies of a mixed selection: shifted by 10, on top, selected; a copied
    // picture shares its file, which lives on until its last row goes.
    void duplicatesAndRemovesMixedSelection()
    {
        EditorScene editor;
        editor.scene->setTool(Skrin::ToolSelect);
        const Id pen = editor.addRow(QStringLiteral("skrin_pen"), {{"x", 100}, {"y", 50}, {"z", 7}, {"pen_size", 3},
                                                                   {"color", "#123456"}, {"data", "[0,0,5,5]"}});
        const Id image = addImageRow(editor, 2);
        const Id rect = editor.addRow(QStringLiteral("skrin_rectangle"), {{"x", 0}, {"y", 0}, {"z", 3}});
        const QString file = getMember(image, QStringLiteral("file")).toString();
        editor.select({pen, image});
        editor.scene->duplicateSelected();

        const QList<Id> copies = editor.selectedIds();
        QCOMPARE(copies.size(), 2);
        QCOMPARE(editor.allRows().size(), 5);
        for (const Id copy : copies) {
            const Id source = itemType(copy) == QLatin1String("skrin_pen") ? pen : image;
            QCOMPARE(content(copy), content(source));
            QCOMPARE(getMember(copy, "x").toDouble(), getMember(source, "x").toDouble() + 10);
            QCOMPARE(getMember(copy, "y").toDouble(), getMember(source, "y").toDouble() + 10);
        }
        QCOMPARE(zOf(copies).toVector(), (QList<double>{9, 8}).toVector()); // pen first, ids count down
        QVERIFY(editor.scene->isModified());

        editor.select({image, rect});
        editor.scene->removeSelected();
        QCOMPARE(editor.allRows().size(), 3);
        QVERIFY(!Database::fileData(file).isEmpty());
        editor.select(copies);
        editor.scene->removeSelected();
        QCOMPARE(editor.allRows(), QList<Id>{pen});
        QVERIFY(Database::fileData(file).isEmpty());
    }

    // Each copy lands on top; a pin below it is put back above, and the
    // next copy lands above the pin.
    void duplicatesUnderAPin()
    {
        EditorScene editor;
        editor.scene->setTool(Skrin::ToolSelect);
        QList<Id> originals;
        for (const int z : {1, 2})
            originals << editor.addRow("skrin_rectangle",
                                       {{"x", 0}, {"y", 0}, {"z", z}, {"w", 9}, {"h", 9}, {"color", "#00ff00"}});
        const Id pin = editor.addRow(QStringLiteral("skrin_pin"), {{"x", 0}, {"y", 0}, {"z", 3}, {"color", "#ff0000"},
                                                                   {"data", "note"}, {"opened", 0}});
        editor.select(originals);
        editor.scene->duplicateSelected();
        QList<double> copies = zOf(editor.selectedIds());
        std::sort(copies.begin(), copies.end());
        QCOMPARE(copies.toVector(), (QList<double>{4, 6}).toVector());
        QCOMPARE(editor.scene->skrinItem(pin)->graphicsItem()->zValue(), 7.0);
        QCOMPARE(editor.scene->maxZ(), 7.0);
    }

    void movesSelectionInZ_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QList<double>>("expected");
        QTest::newRow("lowest up") << QList<int>{0} << true << QList<double>{4, 2, 3};
        QTest::newRow("block up") << QList<int>{0, 1} << true << QList<double>{4, 5, 3};
        QTest::newRow("top up") << QList<int>{2} << true << QList<double>{1, 2, 3};
        QTest::newRow("top down") << QList<int>{2} << false << QList<double>{1, 2, 0};
        QTest::newRow("block down") << QList<int>{1, 2} << false << QList<double>{1, -1, 0};
    }
    // The selection moves as one block above or below all the others.
    void movesSelectionInZ()
    {
        QFETCH(QList<int>, selected);
        QFETCH(bool, up);
        QFETCH(QList<double>, expected);
        EditorScene editor;
        editor.scene->setTool(Skrin::ToolSelect);
        QList<Id> pens;
        for (int z = 1; z <= 3; ++z)
            pens << addPenRow(editor, z);
        editor.scene->clearSelection();
        for (const int index : selected)
            editor.scene->skrinItem(pens.at(index))->graphicsItem()->setSelected(true);
        editor.scene->clearModified();
        editor.scene->moveSelectionZ(up);
        QCOMPARE(zOf(pens), expected);
        QCOMPARE(editor.scene->isModified(), expected != QList<double>({1, 2, 3}));
    }

    // Pen size and colour go to every selected kind that has them, a font to
    // texts only; with nothing selected, to the drawing tool.
    void appliesPenOptionsAndFonts()
    {
        EditorScene editor;
        editor.scene->setTool(Skrin::ToolPen);
        const QColor blue(Qt::blue);
        const double wide = 9.0;
        editor.scene->applyPenOptions(&wide, &blue, nullptr);
        QCOMPARE(editor.scene->currentToolOptions().penSize, wide);

        editor.scene->setTool(Skrin::ToolSelect);
        const Id text = editor.addRow(QStringLiteral("skrin_text"), {{"x", 0}, {"y", 0}, {"z", 1}, {"data", "hi"},
                                                                     {"font_name", "Arial"}, {"font_size", 12.7}});
        const Id frame = editor.addRow(QStringLiteral("skrin_rectangle_frame"),
                                       {{"x", 50}, {"y", 0}, {"z", 2}, {"w", 20}, {"h", 20}, {"pen_size", 1}});
        editor.select({text});
        QCOMPARE(editor.scene->currentFont().pointSize(), 12);
        QCOMPARE(editor.scene->toolForItem(text), int(Skrin::ToolText));
        editor.scene->toggleTextEdit();
        QVERIFY(dynamic_cast<SkrinText *>(editor.scene->skrinItem(text))->isEditing());
        editor.scene->toggleTextEdit();
        QVERIFY(!dynamic_cast<SkrinText *>(editor.scene->skrinItem(text))->isEditing());

        editor.select({text, frame});
        QFont font(QStringLiteral("Courier"), 16);
        font.setBold(true);
        font.setItalic(true);
        const QColor green(Qt::green);
        editor.scene->applyPenOptions(&wide, &green, &font);
        QCOMPARE(getMember(text, "color").toString(), QStringLiteral("#00ff00"));
        QCOMPARE(getMember(frame, "color").toString(), QStringLiteral("#00ff00"));
        QCOMPARE(getMember(frame, "pen_size").toDouble(), wide);
        const QFont stored = Skrin::readFont(text);
        QVERIFY(stored.family() == "Courier" && stored.pointSize() == 16 && stored.bold() && stored.italic());
        QCOMPARE(getMember(text, "font_weight").toInt(), 75);
        QVERIFY(getMember(frame, "font_name").toString().isEmpty());
        QCOMPARE(editor.scene->toolOptionsOf(Skrin::ToolPen).color, blue); // the select tool is no drawing tool
    }

    void pastesPictureFiles_data()
    {
        QTest::addColumn<QString>("name"); // "" for no name at all
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("stored"); // invalid: refused
        QTest::addColumn<QString>("suffix");
        const auto picture = [](int w, int h, const char *format) { return pictureBytes(QSize(w, h), format); };
        QTest::newRow("png") << "shot.PNG" << picture(300, 200, "PNG") << QSize(300, 200) << ".png";
        QTest::newRow("jpeg") << "photo.jpeg" << picture(301, 201, "JPEG") << QSize(301, 201) << ".jpg";
        QTest::newRow("no extension") << "picture" << picture(50, 50, "JPEG") << QSize(50, 50) << ".jpg";
        QTest::newRow("larger than the screen") << "wide.png" << picture(4000, 3000, "PNG") << QSize(800, 600) << ".png";
        QTest::newRow("text") << "notes.png" << QByteArray("just some words\n") << QSize() << "";
        QTest::newRow("empty") << "empty.jpg" << QByteArray() << QSize() << "";
        QTest::newRow("folder") << "folder" << QByteArray() << QSize() << "";
        QTest::newRow("missing") << "gone.png" << QByteArray() << QSize() << "";
        QTest::newRow("no name") << "" << QByteArray() << QSize() << "";
        // A header of 50,000 x 50,000 pixels, no picture data behind it.
        const QByteArray huge = QByteArray("\x89PNG\r\n\x1a\n", 8)
            + pngChunk("IHDR", QByteArray::fromHex("0000c3500000c350" "0802000000")) + pngChunk("IDAT", {});
        QTest::newRow("enormous") << "huge.png" << huge << QSize() << "too large";
    }
    // A pasted file becomes an image row in the middle of the view, on top
    // and selected, stored as PNG only when it was one, and no larger than
    // the screen's pixels (also run on a 2x screen). What is no picture
    // gets its reason and leaves no row, no selection change, no mark.
    void pastesPictureFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, stored);
        QFETCH(QString, suffix);
        QTemporaryDir folder;
        const QString path = name.isEmpty() ? QString() : folder.filePath(name);
        if (name == QLatin1String("folder"))
            QVERIFY(QDir(folder.path()).mkdir(name));
        else if (!name.isEmpty() && name != QLatin1String("gone.png"))
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
        EditorScene editor;
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) // a run on a denser screen is really one
            QCOMPARE(editor.view->devicePixelRatio(), qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
        editor.scene->setTool(Skrin::ToolSelect);
        const Id other = addPenRow(editor, 5);
        editor.select({other});
        editor.scene->clearModified();
        QString error;
        const Id id = editor.scene->addImageFile(path, &error);
        if (!stored.isValid()) {
            QCOMPARE(id, Id(0));
            QVERIFY(error.contains(path) && error.contains(suffix));
            QCOMPARE(editor.allRows(), QList<Id>{other});
            QCOMPARE(editor.selectedIds(), QList<Id>{other});
            QVERIFY(!editor.scene->isModified());
            return;
        }
        QCOMPARE(editor.rows("skrin_image"), QList<Id>{id});
        QCOMPARE(editor.selectedIds(), QList<Id>{id});
        QCOMPARE(editor.scene->drawnItem(), Id(0)); // a later row under this id starts nothing
        const QPointF centre = editor.view->mapToScene(QPoint((editor.view->width() - 1) / 2, (editor.view->height() - 1) / 2));
        const QVariantMap row = readItem(id);
        QCOMPARE(QPointF(row.value("x").toDouble(), row.value("y").toDouble()),
                 centre - QPointF(stored.width() / 2, stored.height() / 2));
        QCOMPARE(row.value("z").toDouble(), 6.0);
        QCOMPARE(QSize(row.value("w").toInt(), row.value("h").toInt()), stored);
        QCOMPARE(QSize(row.value("src_w").toInt(), row.value("src_h").toInt()), stored);
        QVERIFY(row.value("file").toString().endsWith(suffix));
        QThreadPool::globalInstance()->waitForDone();
        QByteArray data = Database::fileData(row.value("file").toString());
        QBuffer buffer(&data);
        QImageReader reader(&buffer);
        QCOMPARE(reader.size(), stored);
        QCOMPARE(reader.format(), suffix == QLatin1String(".png") ? QByteArray("png") : QByteArray("jpeg"));
    }

    // The paste tools act once and leave the select tool current.
    void pastesFromClipboardAndCapture()
    {
        EditorScene editor;
        editor.scene->setTool(Skrin::ToolPen);
        cancelNextDialog();
        editor.scene->setTool(Skrin::ToolPasteFile);
        QCOMPARE(editor.scene->tool(), int(Skrin::ToolSelect));
        QVERIFY(editor.allRows().isEmpty());

        QGuiApplication::clipboard()->setPixmap(QPixmap::fromImage(QImage::fromData(pictureBytes(QSize(120, 80)))));
        editor.scene->setTool(Skrin::ToolPasteClipboard);
        QCOMPARE(editor.scene->tool(), int(Skrin::ToolSelect));
        const QList<Id> pasted = editor.rows(QStringLiteral("skrin_image"));
        QCOMPARE(pasted.size(), 1);
        QVERIFY(getMember(pasted.first(), "file").toString().endsWith(QLatin1String(".jpg")));
        QCOMPARE(getMember(pasted.first(), "w").toInt(), 120);
        // Its handle modes and reset, on the lone selected picture.
        auto *image = dynamic_cast<SkrinImage *>(editor.scene->skrinItem(pasted.first()));
        QSignalSpy modes(editor.scene.get(), &Skrin::imageToolChanged);
        editor.scene->toggleImageMode();
        editor.scene->toggleImageMode();
        QCOMPARE(image->mode(), int(SkrinImage::ResizeMode));
        editor.scene->setImageCropMode();
        QCOMPARE(modes.last().first().toInt(), int(SkrinImage::CropMode));
        setMember(pasted.first(), "src_x", 10);
        setMember(pasted.first(), "w", 200);
        editor.scene->resetImageCrop();
        QCOMPARE(readItem(pasted.first()).value("src_x").toInt(), 0);
        QCOMPARE(readItem(pasted.first()).value("w").toInt(), 120);
        QGuiApplication::clipboard()->setText(QStringLiteral("no picture"));
        editor.scene->setTool(Skrin::ToolPen);
        editor.scene->setTool(Skrin::ToolPasteClipboard);
        QCOMPARE(editor.allRows(), pasted);

        editor.scene->setTool(Skrin::ToolPasteCapture);
        ShooterOverlay *overlay = waitForCaptureOverlay();
        QVERIFY(overlay);
        QTest::mousePress(overlay, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(overlay, QPoint(50, 40));
        QTest::mouseMove(overlay, QPoint(90, 70));
        QTest::mouseRelease(overlay, Qt::LeftButton, {}, QPoint(90, 70));
        QTRY_COMPARE(editor.rows(QStringLiteral("skrin_image")).size(), 2);
        const Id shot = editor.rows(QStringLiteral("skrin_image")).first();
        QCOMPARE(getMember(shot, "w").toInt(), 81); // both end pixels
        QCOMPARE(editor.selectedIds(), QList<Id>{shot});
    }

    // Addresses survive as raw bytes in the process and across it.
    void readsAndWritesAddresses()
    {
        const SkrinsMimeData written({12345, -3, 7}, {QUrl::fromLocalFile(QStringLiteral("/tmp/a b.png"))});
        QCOMPARE(written.data(QStringLiteral("text/uri-list")),
                 QByteArray("skrins://12345,-3,7\r\nfile:///tmp/a%20b.png\r\n"));
        QCOMPARE(SkrinsMimeData::skrinIds(SkrinsMimeData::uriListLines(&written)), (QList<Id>{12345, -3, 7}));
        const SkrinsMimeData odd({"# comment", "file:///tmp/a.png", "skrins://1,,x,-20,0", "skrins://9"});
        QCOMPARE(SkrinsMimeData::uriListLines(&odd).size(), 3);
        QCOMPARE(SkrinsMimeData::skrinIds(SkrinsMimeData::uriListLines(&odd)), (QList<Id>{1, -20}));
        QVERIFY(SkrinsMimeData::skrinIds({"skrins://", "skrins://,,", "skrins://abc"}).isEmpty());
        QMimeData files; // as a file manager's drag arrives
        files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/x.png"))});
        QCOMPARE(SkrinsMimeData::uriListLines(&files), QList<QByteArray>{"file:///tmp/x.png"});
    }

    // Each dropped screenshot's annotations are copied in z order above what
    // is there, their top left corner at the drop point; files that come
    // with them, rows of other kinds and the open screenshot itself are not.
    void copiesDroppedScreenshots()
    {
        QTemporaryDir folder;
        EditorScene editor;
        editor.scene->setTool(Skrin::ToolPen);
        const Id mine = editor.addRow(QStringLiteral("skrin_pen"), {{"x", 0}, {"y", 0}, {"z", 4}, {"data", "[0,0]"},
                                                                    {"pen_size", 2}, {"color", "#000000"}});
        // Two screenshots: an image with a line starting left of it, and a text.
        const Id first = OpenStore::newSkrin();
        QFile source(pictureFile(folder, "source.png"));
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QString shared = Database::storeNewFile(source.readAll(), QStringLiteral(".png"));
        const Id image = editor.addRow(QStringLiteral("skrin_image"),
                                       {{"x", 50}, {"y", 40}, {"z", 1}, {"file", shared}, {"w", 30}, {"h", 20}, {"src_x", 0},
                                        {"src_y", 0}, {"src_w", 30}, {"src_h", 20}},
                                       first);
        const Id line = editor.addRow(QStringLiteral("skrin_line"),
                                      {{"x", 70}, {"y", 60}, {"z", 2}, {"begin_x", -30}, {"begin_y", 0},
                                       {"end_x", 10}, {"end_y", 10}, {"pen_size", 5}, {"color", "#ff0000"}},
                                      first);
        editor.addRow(QStringLiteral("skrin"), {{"created", QDateTime::currentDateTime()}}, first); // no annotation
        const Id second = OpenStore::newSkrin();
        editor.addRow(QStringLiteral("skrin_text"), {{"x", 5}, {"y", 5}, {"z", 9}, {"data", "hi"}}, second);

        const QPoint at(200, 150);
        const QList<Id> ids{editor.skrin, first, second};
        const QList<QByteArray> list{SkrinsMimeData::address(ids),
                                     QUrl::fromLocalFile(pictureFile(folder, "flat.png")).toEncoded(),
                                     SkrinsMimeData::address({first})};
        QCOMPARE(drop(editor, SkrinsMimeData(list), at), Qt::CopyAction);

        const QPointF dropPoint = editor.view->mapToScene(at);
        const QList<Id> images = editor.rows(QStringLiteral("skrin_image"));
        const QList<Id> lines = editor.rows(QStringLiteral("skrin_line"));
        const QList<Id> texts = editor.rows(QStringLiteral("skrin_text"));
        QCOMPARE(images.size(), 1); // the flat picture was not imported
        QCOMPARE(editor.allRows().size(), 4); // one line, one text, no screenshot row
        QCOMPARE(getMember(images.first(), "file").toString(), shared);
        QCOMPARE(getMember(lines.first(), "begin_x").toInt(), -30);
        const auto place = [](const QList<Id> &rows) {
            return rows.size() == 1 ? QPointF(getMember(rows.first(), "x").toDouble(), getMember(rows.first(), "z").toDouble())
                                    : QPointF(-1, -1);
        };
        // The line's start (40, 60) and the image's top (40) set the corner; z from 5 up.
        QCOMPARE(place(images), QPointF(50 - 40 + dropPoint.x(), 5));
        QCOMPARE(getMember(images.first(), "y").toDouble(), dropPoint.y());
        QCOMPARE(place(lines), QPointF(70 - 40 + dropPoint.x(), 6));
        QCOMPARE(place(texts), QPointF(dropPoint.x(), 7));
        // The sources are untouched; the copies end selected with the select tool.
        QCOMPARE(getMember(image, "parent").toLongLong(), first);
        QCOMPARE(getMember(line, "x").toDouble(), 70.0);
        QCOMPARE(editor.scene->tool(), int(Skrin::ToolSelect));
        QList<Id> copies = editor.allRows();
        copies.removeOne(mine);
        QTRY_COMPARE(editor.selectedIds(), copies); // the picture shows once loaded
        QVERIFY(editor.scene->isModified());
    }

    void importsDroppedFiles()
    {
        QTemporaryDir folder;
        EditorScene editor;
        QFile text(folder.filePath("notes.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("no picture") > 0);
        text.close();
        const QList<QUrl> files{QUrl::fromLocalFile(pictureFile(folder, "a.png")), QUrl::fromLocalFile(text.fileName()),
                                QUrl::fromLocalFile(pictureFile(folder, "b.jpg")), QUrl("https://example.com/c.png")};
        QList<QByteArray> list;
        for (const QUrl &file : files)
            list << file.toEncoded();
        list << "skrins://,,";
        // Only addresses are taken, and only as a copy: text is refused, and
        // so is a source that offers only a move (it would delete the files).
        QMimeData words;
        words.setText(QStringLiteral("words"));
        QCOMPARE(drop(editor, words, QPoint(100, 100)), Qt::IgnoreAction);
        QCOMPARE(drop(editor, SkrinsMimeData(list), QPoint(100, 100), Qt::MoveAction), Qt::IgnoreAction);
        QVERIFY(editor.allRows().isEmpty());
        // A drop of which nothing can be taken is refused to its source (told
        // why once dropped), which must not take it for a copy made.
        QMimeData useless;
        useless.setUrls({QUrl::fromLocalFile(text.fileName()), files.last()});
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &useless, Qt::LeftButton, {});
        QApplication::sendEvent(editor.view->viewport(), &enter);
        QDropEvent refused(QPoint(100, 100), Qt::CopyAction, &useless, Qt::LeftButton, {});
        QApplication::sendEvent(editor.view->viewport(), &refused);
        QVERIFY(enter.isAccepted() && !refused.isAccepted() && editor.allRows().isEmpty());
        QVERIFY(editor.view->findChild<QMessageBox *>());
        delete editor.view->findChild<QMessageBox *>();

        QCOMPARE(drop(editor, SkrinsMimeData(list), QPoint(100, 100)), Qt::CopyAction);
        const QList<Id> images = editor.rows(QStringLiteral("skrin_image"));
        QCOMPARE(images.size(), 2);
        // The file that is no picture is told; the addresses that are no
        // files are not.
        const QList<QMessageBox *> told = editor.view->findChildren<QMessageBox *>();
        QCOMPARE(told.size(), 1);
        QVERIFY(told.first()->text().contains(text.fileName()) && !told.first()->text().contains("example.com"));
        QCOMPARE(editor.selectedIds(), images);
        QCOMPARE(editor.scene->tool(), int(Skrin::ToolSelect));
    }

    // Duplicating a picture in crop mode, or dropping a screenshot, deselects
    // it: the window hears that crop mode ended and unmarks its Crop button.
    void leavingCropModeIsTold()
    {
        EditorScene editor;
        editor.scene->setTool(Skrin::ToolSelect);
        const Id image = addImageRow(editor, 1);
        QVERIFY(image);
        QSignalSpy modes(editor.scene.get(), &Skrin::imageToolChanged);
        for (const bool duplicate : {true, false}) {
            editor.select({image});
            editor.scene->setImageCropMode();
            QCOMPARE(modes.last().first().toInt(), 1);
            if (duplicate)
                editor.scene->duplicateSelected();
            else
                QCOMPARE(drop(editor, SkrinsMimeData({SkrinsMimeData::address({OpenStore::newSkrin()})}), QPoint(9, 9)),
                         Qt::CopyAction);
            QCOMPARE(modes.last().first().toInt(), 0);
        }
    }

    void drawsWithEveryTool_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<QPointF>("to");
        QTest::addColumn<QString>("table"); // "" for no row
        QTest::addColumn<Members>("members");
        const QPointF far(160, 140);
        const Members stroke5{{"x", 100}, {"y", 100}, {"z", 1}, {"pen_size", 2}, {"color", "#000000"}};
        QTest::newRow("pen") << int(Skrin::ToolPen) << far << "skrin_pen" << stroke5;
        QTest::newRow("marker") << int(Skrin::ToolMarker) << far << "skrin_marker"
                                << Members{{"pen_size", 25}, {"color", "#00ff00"}};
        QTest::newRow("blur") << int(Skrin::ToolBlur) << far << "skrin_blur" << Members{{"pen_size", 25}};
        const Members line{{"x", 100}, {"y", 100}, {"begin_x", 0}, {"begin_y", 0}, {"end_x", 60}, {"end_y", 40},
                           {"pen_size", 5}, {"color", "#ff0000"}};
        QTest::newRow("line") << int(Skrin::ToolLine) << far << "skrin_line" << line;
        QTest::newRow("arrow") << int(Skrin::ToolArrow) << far << "skrin_arrow" << line;
        QTest::newRow("line of 2") << int(Skrin::ToolLine) << QPointF(102, 100) << "" << Members{};
        QTest::newRow("rectangle") << int(Skrin::ToolRectangle) << far << "skrin_rectangle"
                                   << Members{{"x", 100}, {"y", 100}, {"color", "#0000ff"}};
        QTest::newRow("rectangle frame") << int(Skrin::ToolRectangleFrame) << far << "skrin_rectangle_frame"
                                         << Members{{"pen_size", 5}, {"color", "#ff0000"}};
        QTest::newRow("ellipse") << int(Skrin::ToolEllipse) << far << "skrin_ellipse" << Members{{"x", 100}};
        QTest::newRow("ellipse frame") << int(Skrin::ToolEllipseFrame) << far << "skrin_ellipse_frame"
                                       << Members{{"y", 100}};
        QTest::newRow("flat rectangle") << int(Skrin::ToolRectangle) << QPointF(160, 102) << "" << Members{};
        QTest::newRow("image tool") << int(Skrin::ToolImage) << far << "" << Members{};
    }

    // A drag writes one complete row; the drawn item ends selected alone.
    void drawsWithEveryTool()
    {
        QFETCH(int, tool);
        QFETCH(QPointF, to);
        QFETCH(QString, table);
        QFETCH(Members, members);
        EditorScene editor;
        const Id old = editor.addRow(QStringLiteral("skrin_pen"), {{"x", 0}, {"y", 0}, {"z", 0}});
        editor.scene->setTool(tool);
        editor.select({old});
        editor.drag(QPointF(100, 100), to);

        QList<Id> added = editor.allRows();
        added.removeOne(old);
        QCOMPARE(added.size(), table.isEmpty() ? 0 : 1);
        if (table.isEmpty())
            return;
        QCOMPARE(editor.rows(table).size(), table == QLatin1String("skrin_pen") ? 2 : 1);
        const QVariantMap row = readItem(added.first());
        for (auto it = members.cbegin(); it != members.cend(); ++it)
            QVERIFY2(row.value(it.key()) == it.value(), qPrintable(it.key() + " " + row.value(it.key()).toString()));
        QCOMPARE(editor.selectedIds(), added);
        QCOMPARE(editor.scene->tool(), tool);
        if (tool == Skrin::ToolPen) // the stroke followed the pointer
            QVERIFY(dataToPolygon(row.value("data")).size() > 1);
        if (tool == Skrin::ToolRectangle) // the far corner followed it
            QCOMPARE(editor.scene->skrinItem(added.first())->graphicsItem()->sceneBoundingRect().bottomRight(), to);
        QVERIFY(editor.scene->isModified());
    }

    void quickDragEndsAtThePointer_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<QPointF>("moved"); // the one move Qt delivers of a fast drag
        QTest::addColumn<QPointF>("released");
        const QPointF downRight(220, 160), upLeft(40, 70), beyond(250, 185);
        for (const auto &[name, tool] : {std::pair{"rectangle", Skrin::ToolRectangle},
                                         {"rectangle frame", Skrin::ToolRectangleFrame},
                                         {"ellipse", Skrin::ToolEllipse},
                                         {"ellipse frame", Skrin::ToolEllipseFrame},
                                         {"line", Skrin::ToolLine}}) {
            QTest::addRow("%s, one move", name) << int(tool) << downRight << downRight;
            QTest::addRow("%s, up and left", name) << int(tool) << upLeft << upLeft;
            QTest::addRow("%s, released further", name) << int(tool) << downRight << beyond;
        }
    }
    // However Qt merges a fast drag's moves, the drawn shape reaches from the
    // press to where the pointer is: a 120 x 60 drag is no 134 x 134 square.
    void quickDragEndsAtThePointer()
    {
        QFETCH(int, tool);
        QFETCH(QPointF, moved);
        QFETCH(QPointF, released);
        const QPointF pressed(100, 100);
        EditorScene editor;
        editor.scene->setTool(tool);
        editor.press(pressed);
        editor.moveTo(moved);
        editor.release(released);

        const QList<Id> drawn = editor.allRows();
        QCOMPARE(drawn.size(), 1);
        const QVariantMap row = readItem(drawn.first());
        const QPointF at(row.value("x").toDouble(), row.value("y").toDouble());
        if (tool == Skrin::ToolLine) {
            QCOMPARE(at + QPointF(row.value("end_x").toDouble(), row.value("end_y").toDouble()), released);
            return;
        }
        // Painted bounds, a frame's pen included: the far corner under the
        // pointer, the near one at the press (a frame's pen above and left of
        // it, as in a slow drag).
        const QRectF shown = editor.scene->skrinItem(drawn.first())->graphicsItem()->sceneBoundingRect();
        const bool framed = tool == Skrin::ToolRectangleFrame || tool == Skrin::ToolEllipseFrame;
        const double pen = framed ? row.value("pen_size").toDouble() : 0.0;
        QCOMPARE(shown, QRectF(pressed - QPointF(pen, pen), released).normalized());
    }

    // Text and pin rows appear at the click, selected; the select tool follows.
    void clickPlacesTextAndPin()
    {
        EditorScene editor;
        editor.scene->currentToolOptions(); // view mode has no options
        editor.scene->setTool(Skrin::ToolText);
        editor.scene->toolOptionsOf(Skrin::ToolText).font.setBold(true);
        editor.click(QPointF(50, 60));
        QCOMPARE(editor.scene->tool(), int(Skrin::ToolSelect));
        const QList<Id> texts = editor.rows(QStringLiteral("skrin_text"));
        QCOMPARE(texts.size(), 1);
        QCOMPARE(getMember(texts.first(), "data").toString(), QStringLiteral("Put your text here..."));
        QCOMPARE(QPointF(getMember(texts.first(), "x").toDouble(), getMember(texts.first(), "y").toDouble()),
                 QPointF(50, 60));
        const QFont font = Skrin::readFont(texts.first());
        QCOMPARE(font.family(), QStringLiteral("Arial"));
        QCOMPARE(font.pointSize(), 12);
        QCOMPARE(font.bold(), true);
        auto *text = dynamic_cast<SkrinText *>(editor.scene->skrinItem(texts.first()));
        QVERIFY(text && text->isSelected() && text->isEditing());
        QVERIFY(text->textCursor().hasSelection());

        editor.scene->setTool(Skrin::ToolPin);
        editor.click(QPointF(300, 200));
        QCOMPARE(editor.scene->tool(), int(Skrin::ToolSelect));
        const QList<Id> pins = editor.rows(QStringLiteral("skrin_pin"));
        QCOMPARE(pins.size(), 1);
        QCOMPARE(getMember(pins.first(), "opened").toInt(), 1);
        QCOMPARE(QColor(getMember(pins.first(), "color").toString()), QColor(Qt::red));
    }

    // Escape ends editing a text and leaves it selected: Delete then removes
    // the text, not its words.
    void escapeEndsEditingAText()
    {
        EditorScene editor;
        editor.scene->setTool(Skrin::ToolText);
        editor.click(QPointF(50, 60));
        auto *text = editor.item<SkrinText>(editor.rows(QStringLiteral("skrin_text")).value(0));
        QVERIFY(text && text->isEditing());
        QTest::keyClick(editor.view.get(), Qt::Key_Escape);
        QVERIFY(!text->isEditing() && text->isSelected());
        QTest::keyClick(editor.view.get(), Qt::Key_Delete);
        QVERIFY(editor.rows(QStringLiteral("skrin_text")).isEmpty());
    }

    // A text whose editing ends with nothing in it goes, however the editing
    // ends: no invisible row stays, nor waits to be sent, nor comes back at
    // the next start.
    void emptiedTextGoes_data()
    {
        QTest::addColumn<QString>("ending");
        for (const char *ending : {"Escape", "click beside", "view mode", "screenshot closed"})
            QTest::newRow(ending) << QString::fromLatin1(ending);
    }
    void emptiedTextGoes()
    {
        QFETCH(QString, ending);
        EditorScene editor;
        editor.scene->setTool(Skrin::ToolText);
        editor.click(QPointF(50, 60));
        const Id text = editor.rows(QStringLiteral("skrin_text")).value(0);
        QVERIFY(text);
        QTest::keyClick(editor.view.get(), Qt::Key_Delete); // all of it is selected
        QTest::keyClick(editor.view.get(), Qt::Key_Space);
        QCOMPARE(getMember(text, "data").toString(), QStringLiteral(" "));
        if (ending == QLatin1String("Escape"))
            QTest::keyClick(editor.view.get(), Qt::Key_Escape);
        else if (ending == QLatin1String("click beside"))
            editor.click(QPointF(400, 300));
        else if (ending == QLatin1String("view mode"))
            editor.scene->setTool(Skrin::ToolNone);
        else
            editor.close();
        QTRY_VERIFY(itemType(text).isEmpty());
        QVERIFY(rowsWhere("uncommitted_create", "id", text).isEmpty());
        QVERIFY(rowsWhere("uncommitted_set", "id", text).isEmpty());
        editor.close();
        QVERIFY(editor.store.restart());
        QVERIFY(findItems({{QStringLiteral("type"), QStringLiteral("skrin_text")}}).isEmpty());
    }

    // A second button during a left drag ends the drawing once: the stroke is
    // kept and selected, later moves do not grow it, and the next press works.
    void secondButtonEndsDrawing_data()
    {
        QTest::addColumn<int>("button");
        QTest::newRow("right") << int(Qt::RightButton);
        QTest::newRow("middle") << int(Qt::MiddleButton);
    }
    void secondButtonEndsDrawing()
    {
        QFETCH(int, button);
        const auto second = Qt::MouseButton(button);
        EditorScene editor;
        QSignalSpy menus(editor.scene.get(), &Skrin::showEditOptions);
        openContextMenu(editor); // none in view mode
        QCOMPARE(menus.size(), 0);
        editor.scene->setTool(Skrin::ToolPen);
        editor.press(QPointF(100, 100));
        editor.moveTo(QPointF(120, 100));
        editor.press(QPointF(120, 100), second, Qt::LeftButton | second);
        const QList<Id> strokes = editor.rows(QStringLiteral("skrin_pen"));
        QCOMPARE(strokes.size(), 1);
        QCOMPARE(editor.scene->tool(), int(Skrin::ToolSelect));
        QCOMPARE(editor.selectedIds(), strokes);
        const QVariant data = getMember(strokes.first(), "data");
        const QPointF drawnPos = editor.scene->skrinItem(strokes.first())->graphicsItem()->pos();

        // X11 sends the context menu between press and release.
        openContextMenu(editor);
        editor.moveTo(QPointF(200, 200), Qt::LeftButton | second);
        editor.release(QPointF(200, 200), second, Qt::LeftButton);
        editor.moveTo(QPointF(220, 220), Qt::LeftButton);
        editor.release(QPointF(220, 220));
        QCOMPARE(getMember(strokes.first(), "data"), data);
        QCOMPARE(editor.scene->skrinItem(strokes.first())->graphicsItem()->pos(), drawnPos);
        QCOMPARE(editor.selectedIds(), strokes);
        QCOMPARE(menus.size(), second == Qt::RightButton ? 0 : 1);

        // The next press is an ordinary select-tool press: empty space deselects,
        // and a right click that ends no drawing opens the edit menu.
        editor.click(QPointF(500, 400));
        QVERIFY(editor.selectedIds().isEmpty());
        QCOMPARE(editor.rows(QStringLiteral("skrin_pen")), strokes);
        editor.press(QPointF(500, 400), Qt::RightButton, Qt::RightButton);
        openContextMenu(editor);
        QCOMPARE(menus.size(), second == Qt::RightButton ? 1 : 2);
        QCOMPARE(menus.last().first().toBool(), false);
    }

    // Delete and Backspace remove the selection with a drawing tool; the view
    // reports them only in view mode.
    void deleteKeysRemoveSelection()
    {
        EditorScene editor;
        QList<Id> ids;
        for (int i = 0; i < 4; ++i)
            ids << editor.addRow(QStringLiteral("skrin_rectangle"), {{"x", i * 50}, {"y", 0}, {"z", i}, {"w", 20}, {"h", 20}});
        QSignalSpy viewDeletes(editor.view.get(), &SkrinView::delKey);
        editor.scene->setTool(Skrin::ToolSelect);
        QTest::keyClick(editor.view.get(), Qt::Key_Delete);
        QVERIFY(!editor.scene->isModified());

        editor.select(ids.mid(0, 3));
        QTest::keyClick(editor.view.get(), Qt::Key_Delete, Qt::KeypadModifier);
        QCOMPARE(editor.allRows(), ids.mid(3));
        QVERIFY(editor.scene->isModified());
        editor.select(ids.mid(3));
        QTest::keyClick(editor.view.get(), Qt::Key_Backspace);
        QVERIFY(editor.allRows().isEmpty());
        QCOMPARE(viewDeletes.size(), 0);
    }

};

QTEST_MAIN(TestEditing)
#include "tst_editing.moc"
