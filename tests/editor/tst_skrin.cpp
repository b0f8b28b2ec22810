// The editor scene and view on a real store: items built from rows, pins
// above the picture, tool switching, the changed mark, the background, keys
// and the order of teardown.

#include "dirtyskrins.h"
#include "editorscene.h"
#include "imagecache.h"
#include "openstore.h"
#include "skrin.h"
#include "skrinitemfactory.h"
#include "skrinview.h"
#include "testbox.h"

#include <QGraphicsTextItem>
#include <QGraphicsView>
#include <QSignalSpy>
#include <QTest>

#include <optional>

namespace {

const QString rectangle = QStringLiteral("skrin_rectangle");
const QString pin = QStringLiteral("skrin_pin");

TestBox *boxOf(Skrin &scene, Id id) { return dynamic_cast<TestBox *>(scene.skrinItem(id)); }

} // namespace

class TestSkrin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Every table gets the test kind; pins stay outside the picture.
        for (const QString &table : Skrin::itemTables()) {
            const bool isPin = table == pin;
            setSkrinItemMaker(table, [isPin](Id id, Skrin *skrin) { return new TestBox(id, skrin, isPin); });
        }
    }
    void init() { store.emplace(); }
    void cleanup() { store.reset(); }

    void buildsItemsForRowsBeforeAndAfter()
    {
        const Id skrin = OpenStore::newSkrin();
        const Id other = OpenStore::newSkrin();
        const Id before = OpenStore::newRow(rectangle, skrin, 10, 20, 1);
        OpenStore::newRow(rectangle, other, 0, 0, 1);

        Skrin scene(skrin);
        QCOMPARE(scene.annotationItems().keys(), QList<Id>{before});
        TestBox *box = boxOf(scene, before);
        QCOMPARE(box->pos(), QPointF(10, 20));
        QVERIFY(!box->isVisible()); // view mode shows the rendered picture instead
        QCOMPARE(box->tools, QList<int>{0});

        const Id after = OpenStore::newRow(rectangle, skrin, 5, 5, 2);
        const Id pinRow = OpenStore::newRow(pin, skrin, 1, 1, 3);
        QCOMPARE(scene.annotationItems().size(), 3);
        QVERIFY(boxOf(scene, pinRow)->isVisible()); // pins are not part of the picture
        QCOMPARE(boxOf(scene, after)->scene(), &scene);

        // A row reported twice still has one item; a row for which no item
        // can be built is passed over.
        scene.onItemPlus(after);
        QCOMPARE(scene.items().size(), 3);
        setSkrinItemMaker(rectangle, [](Id, Skrin *) { return nullptr; });
        OpenStore::newRow(rectangle, skrin, 0, 0, 4);
        setSkrinItemMaker(rectangle, [](Id id, Skrin *s) { return new TestBox(id, s); });
        QCOMPARE(scene.annotationItems().size(), 3);

        removeItem(after);
        QCOMPARE(scene.annotationItems().size(), 2);
        QCOMPARE(scene.items().size(), 2);
        QCOMPARE(scene.maxZ(), 3.0);
    }

    void keepsPinsAbovePicture_data()
    {
        QTest::addColumn<QList<double>>("pictureZ");
        QTest::addColumn<QList<double>>("pinZ");
        QTest::addColumn<QList<double>>("expectedPinZ");
        QTest::newRow("pins below") << QList<double>{1, 5} << QList<double>{3, 2} << QList<double>{7, 6};
        QTest::newRow("pin level with top") << QList<double>{1, 5} << QList<double>{5, 6} << QList<double>{5, 6};
        QTest::newRow("no picture") << QList<double>{} << QList<double>{-2, -1} << QList<double>{-2, -1};
    }

    void keepsPinsAbovePicture()
    {
        QFETCH(QList<double>, pictureZ);
        QFETCH(QList<double>, pinZ);
        QFETCH(QList<double>, expectedPinZ);
        const Id skrin = OpenStore::newSkrin();
        Skrin scene(skrin);
        QCOMPARE(scene.maxZ(), 0.0);
        QList<Id> pins;
        for (const double z : pinZ)
            pins.append(OpenStore::newRow(pin, skrin, 0, 0, z));
        for (const double z : pictureZ)
            OpenStore::newRow(rectangle, skrin, 0, 0, z);
        for (int i = 0; i < pins.size(); ++i)
            QCOMPARE(boxOf(scene, pins[i])->zValue(), expectedPinZ[i]);
    }

    void switchesTools()
    {
        const Id skrin = OpenStore::newSkrin();
        const Id row = OpenStore::newRow(rectangle, skrin, 0, 0, 1);
        Skrin scene(skrin);
        QGraphicsView view(&scene);
        QSignalSpy changed(&scene, &Skrin::toolChanged);

        QCOMPARE(scene.currentToolOptions().penSize, 1.0); // view mode has no entry of its own
        scene.setTool(Skrin::ToolPen);
        QCOMPARE(changed.takeFirst().at(0).toInt(), 5);
        QCOMPARE(scene.currentToolOptions().penSize, 2.0);
        QVERIFY(boxOf(scene, row)->isVisible());
        QCOMPARE(view.dragMode(), QGraphicsView::NoDrag);

        scene.setTool(Skrin::ToolPen);
        QCOMPARE(changed.size(), 0);

        boxOf(scene, row)->setSelected(true);
        scene.setTool(Skrin::ToolSelect);
        QCOMPARE(view.dragMode(), QGraphicsView::RubberBandDrag);
        QVERIFY(boxOf(scene, row)->isSelected()); // the select tool keeps the selection
        scene.setTool(Skrin::ToolText);
        QVERIFY(scene.selectedItems().isEmpty());
        QCOMPARE(view.viewport()->cursor().shape(), Qt::IBeamCursor);

        scene.setTool(Skrin::ToolNone);
        QVERIFY(boxOf(scene, row)->isVisible()); // once shown, always shown
        QCOMPARE(view.viewport()->cursor().shape(), Qt::ArrowCursor);

        changed.clear();
        scene.setTool(Skrin::ToolPasteClipboard); // acts once, then selects
        QCOMPARE(scene.tool(), int(Skrin::ToolSelect));
        QCOMPARE(changed.size(), 2);
        QCOMPARE(changed.at(1).at(0).toInt(), 3);
        QCOMPARE(boxOf(scene, row)->tools, (QList<int>{0, 5, 3, 4, 0, 13, 3}));
    }

    void recordsChangesOncePerPeriod()
    {
        const Id skrin = OpenStore::newSkrin();
        const Id row = OpenStore::newRow(rectangle, skrin, 0, 0, 1);
        MemberWrites writes(skrin, QStringLiteral("modified"));
        // How many records `action` makes: the stamp and the dirty mark are
        // reset first, so two records within one millisecond still count.
        const auto records = [&](const std::function<void()> &action) {
            setMember(skrin, QStringLiteral("modified"), QDateTime(QDate(2001, 1, 1), QTime(0, 0)));
            bool claimed = false;
            endSkrinThumbnail(skrin, beginSkrinThumbnail(skrin, &claimed));
            const int before = writes.count;
            action();
            const int made = writes.count - before;
            // A record is the stamp and the dirty mark together.
            return (made > 0) == isSkrinDirty(skrin) ? made : -1;
        };
        auto owned = std::make_unique<Skrin>(skrin);
        Skrin &scene = *owned;
        TestBox *box = boxOf(scene, row);

        // Loading in view mode applied z and marked the scene: never recorded,
        // not even by the first switch to a drawing tool.
        QVERIFY(scene.isModified());
        QCOMPARE(records([&] { scene.setTool(Skrin::ToolPen), scene.checkIsModified(); }), 0);

        // Several strokes within one period make one record.
        QCOMPARE(records([&] {
            box->setPos(5, 5), box->setPos(6, 6), box->setZValue(3);
            scene.checkIsModified(), scene.checkIsModified();
        }), 1);
        QCOMPARE(getMember(row, QStringLiteral("x")).toDouble(), 6.0);

        // A stroke just before going back to view mode is recorded at once.
        QCOMPARE(records([&] { box->setPos(7, 7), scene.setTool(Skrin::ToolNone); }), 1);
        QVERIFY(!scene.isModified());

        // A change while in view mode is dropped.
        QCOMPARE(records([&] { scene.setModified(), scene.checkIsModified(); }), 0);

        // The timer drives the check.
        scene.setTool(Skrin::ToolPen);
        QCOMPARE(records([&] {
            box->setPos(8, 8);
            QVERIFY(QTest::qWaitFor([&] { return !scene.isModified(); }, 30000));
        }), 1);

        // A change just before the scene closes is recorded as it goes.
        QCOMPARE(records([&] { box->setPos(3, 3), owned.reset(); }), 1);
    }

    // View mode shows the rendered picture (or "Loading") inside a shadow;
    // the first switch to a tool shows the items instead.
    void paintsThePictureInViewMode()
    {
        const Id skrin = OpenStore::newSkrin(QRectF(0, 0, 60, 40));
        const Id row = OpenStore::newRow(rectangle, skrin, 0, 0, 1);
        Skrin scene(skrin);
        QGraphicsView view(&scene);
        view.resize(300, 200);
        view.setSceneRect(-100, -80, 260, 180);
        const QPoint inside = view.mapFromScene(QPointF(10, 8));
        const auto shot = [&] {
            QImage image(view.viewport()->size(), QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            view.render(&painter, QRectF(), view.viewport()->rect());
            return image;
        };

        QVERIFY(shot().pixelColor(inside) != QColor(Qt::red)); // no picture yet: "Loading"

        QPixmap picture(60, 40);
        picture.fill(Qt::red);
        const QString file = QStringLiteral("picture.png");
        cachePixmap(file, picture);
        setMember(skrin, QStringLiteral("file"), file);
        QCOMPARE(shot().pixelColor(inside), QColor(Qt::red));
        QVERIFY(!boxOf(scene, row)->isVisible());

        scene.setTool(Skrin::ToolPen);
        QVERIFY(shot().pixelColor(inside) != QColor(Qt::red));
        QVERIFY(boxOf(scene, row)->isVisible());
    }

    // Scenes with rows of every table open and close, selected and mid-edit,
    // with and without a view: no item may reach a half-destroyed scene.
    void closesWithEveryKindOfRow()
    {
        const Id skrin = OpenStore::newSkrin();
        double z = 0;
        for (const QString &table : Skrin::itemTables())
            OpenStore::newRow(table, skrin, z, z, z), z += 1;
        for (int round = 0; round < 3; ++round) {
            auto scene = std::make_unique<Skrin>(skrin);
            QCOMPARE(scene->annotationItems().size(), qsizetype(annotationKinds().size()));
            std::unique_ptr<QGraphicsView> view;
            if (round > 0)
                view = std::make_unique<QGraphicsView>(scene.get());
            scene->setTool(Skrin::ToolSelect);
            for (QGraphicsItem *item : scene->items())
                item->setSelected(true);
            if (round == 2)
                removeItem(scene->annotationItems().firstKey());
            scene.reset();
            view.reset();
        }
        QCOMPARE(childItems(skrin).size(), qsizetype(annotationKinds().size()) - 1);
    }
    // In view mode the arrows step through the screenshots; the view's delete
    // keys are reported only when nothing in the scene took them, so typing
    // in a note never deletes the screenshot.
    void reportsUnhandledKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("tool");
        QTest::addColumn<QString>("reported");
        const int none = Qt::NoModifier, view = Skrin::ToolNone;
        QTest::newRow("Delete") << int(Qt::Key_Delete) << none << view << "delete";
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << none << view << "delete";
        QTest::newRow("keypad Delete") << int(Qt::Key_Delete) << int(Qt::KeypadModifier) << view << "delete";
        QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << view << "";
        QTest::newRow("Ctrl+Backspace") << int(Qt::Key_Backspace) << int(Qt::ControlModifier) << view << "";
        QTest::newRow("Right") << int(Qt::Key_Right) << none << view << "next";
        QTest::newRow("Left") << int(Qt::Key_Left) << none << view << "previous";
        QTest::newRow("Shift+Left") << int(Qt::Key_Left) << int(Qt::ShiftModifier) << view << "";
        QTest::newRow("Right while drawing") << int(Qt::Key_Right) << none << int(Skrin::ToolPen) << "";
    }

    void reportsUnhandledKeys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, tool);
        QFETCH(QString, reported);
        Skrin scene(OpenStore::newSkrin());
        SkrinView view;
        view.setScene(&scene);
        scene.setTool(tool);
        QSignalSpy deletes(&view, &SkrinView::delKey);
        QSignalSpy next(&scene, &Skrin::nextAction);
        QSignalSpy previous(&scene, &Skrin::prevAction);
        QSignalSpy keys(&view, &CustomView::keyPressed);
        QTest::keyClick(&view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QStringList seen;
        for (const auto &[spy, name] : {std::pair{&deletes, "delete"}, {&next, "next"}, {&previous, "previous"}})
            seen += QStringList(spy->size(), QString::fromLatin1(name));
        QCOMPARE(seen.join(QLatin1Char(' ')), reported);
        if (key == Qt::Key_Left || key == Qt::Key_Right)
            return; // the view's scrolling takes them
        // Nothing accepted it: the view reports the key as well.
        QVERIFY(!keys.isEmpty());
        QCOMPARE(keys.last().at(0).toInt(), QKeyCombination(Qt::KeyboardModifiers(modifiers), Qt::Key(key)).toCombined());
    }

    void keysTakenByATextStayThere()
    {
        Skrin scene(OpenStore::newSkrin());
        SkrinView view;
        view.setScene(&scene);
        auto *note = new QGraphicsTextItem(QStringLiteral("note"));
        note->setTextInteractionFlags(Qt::TextEditorInteraction);
        scene.addItem(note);
        view.show();
        QApplication::setActiveWindow(&view);
        QVERIFY(QTest::qWaitForWindowActive(&view));
        scene.setFocusItem(note);
        QVERIFY(note->hasFocus());

        QSignalSpy deletes(&view, &SkrinView::delKey);
        QSignalSpy keys(&view, &CustomView::keyPressed);
        QTest::keyClick(&view, Qt::Key_End);
        QTest::keyClick(&view, Qt::Key_Backspace);
        QTest::keyClick(&view, Qt::Key_Delete);
        QCOMPARE(note->toPlainText(), QStringLiteral("not"));
        QCOMPARE(deletes.size(), 0);
        QCOMPARE(keys.size(), 0);

        note->clearFocus();
        QTest::keyClick(&view, Qt::Key_Backspace);
        QCOMPARE(deletes.size(), 1);
        QCOMPARE(note->toPlainText(), QStringLiteral("not"));
    }

private:
    std::optional<OpenStore> store;
};

QTEST_MAIN(TestSkrin)
#include "tst_skrin.moc"
