// Drops with real mime data on the editor view: dragged screenshots arrive as
// copies of their annotation rows, files as pictures, always as a copy.

#include "database.h"
#include "editorscene.h"
#include "pictures.h"
#include "skrinsmimedata.h"

#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>

namespace {

// Drags `list` (raw "text/uri-list" bytes) over the view and drops it at a
// view point, proposing a move as a file manager does with Shift held;
// returns the action the editor answered.
Qt::DropAction drop(EditorScene &editor, const QList<QByteArray> &list, const QPoint &at, bool *accepted = nullptr)
{
    SkrinsMimeData mime(list);
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(editor.view->viewport(), &enter);
    QDropEvent event(at, actions, &mime, Qt::LeftButton, Qt::ShiftModifier);
    if (event.proposedAction() != Qt::MoveAction)
        qWarning("the platform proposes no move");
    QApplication::sendEvent(editor.view->viewport(), &event);
    if (accepted)
        *accepted = enter.isAccepted() && enter.dropAction() == Qt::CopyAction && event.isAccepted();
    return event.dropAction();
}

QString pictureFile(const QTemporaryDir &folder, const QString &name)
{
    const QString path = folder.filePath(name);
    filledImage(QSize(30, 20), Qt::darkCyan).save(path);
    return path;
}

} // namespace

class TestDrop : public QObject
{
    Q_OBJECT

private slots:
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
        QCOMPARE(drop(editor, list, at), Qt::CopyAction);

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
        bool accepted = false;
        QList<QByteArray> list;
        for (const QUrl &file : files)
            list << file.toEncoded();
        list << "skrins://,,";
        QCOMPARE(drop(editor, list, QPoint(100, 100), &accepted), Qt::CopyAction);
        QVERIFY(accepted);
        const QList<Id> images = editor.rows(QStringLiteral("skrin_image"));
        QCOMPARE(images.size(), 2);
        QCOMPARE(editor.selectedIds(), images);
        QCOMPARE(editor.scene->tool(), int(Skrin::ToolSelect));

        // No addresses at all: nothing is taken.
        QMimeData plain;
        plain.setText(QStringLiteral("words"));
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &plain, Qt::LeftButton, Qt::NoModifier);
        editor.scene->viewDropEvent(&event);
        QVERIFY(!event.isAccepted());
        QCOMPARE(editor.allRows(), images);
    }
};

QTEST_MAIN(TestDrop)
#include "tst_drop.moc"
