// Text items on a real scene: loading and following the row, the editing
// states and what they write, and rows no client should have written.

#include "itemscene.h"
#include "skrintext.h"

#include <QSignalSpy>
#include <QTextCursor>

class TextTest : public QObject
{
    Q_OBJECT

private:
    ItemStore store;
    std::unique_ptr<ItemScene> env;

    static QVariantMap row(const QString &text)
    {
        return {{"x", 40.0},         {"y", 50.0},         {"z", 1.0},          {"data", text},
                {"font_name", "DejaVu Sans"}, {"font_size", 14.0}, {"color", "#ff0000"}, {"font_weight", 75},
                {"font_italic", 2},  {"font_underline", 0}, {"font_strikeout", 1}};
    }

private slots:
    void init() { env = std::make_unique<ItemScene>(); }
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
        QCOMPARE(ItemScene::numbers(before, {"x", "y"}), (QList<double>{10, 20}));
        QVERIFY(env->scene->isModified());
    }

    void editing()
    {
        const Id id = env->addRow("skrin_text", row("Hello"));
        env->open(Skrin::ToolNone);
        SkrinText *text = env->item<SkrinText>(id);
        QVERIFY(text);
        QSignalSpy edits(env->scene.get(), &Skrin::textEditChanged);
        const QPoint at = env->viewPoint(text, text->boundingRect().center());

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
};

QTEST_MAIN(TextTest)
#include "tst_text.moc"
