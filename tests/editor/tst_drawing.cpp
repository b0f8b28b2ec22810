// Drawing with the mouse in a real editor view: the row each tool writes,
// the selection after it, the second button that ends drawing, the context
// menu and the delete keys.

#include "editorscene.h"
#include "polygondata.h"
#include "skrintext.h"

#include <QContextMenuEvent>
#include <QSignalSpy>
#include <QTextCursor>

using Members = QVariantMap;

namespace {

void openContextMenu(EditorScene &editor)
{
    const QPoint at(10, 10);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, editor.view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(editor.view->viewport(), &menu);
}

} // namespace

class TestDrawing : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_MAIN(TestDrawing)
#include "tst_drawing.moc"
