// Drawn annotations on the editor's scene, kind by kind: strokes (pen,
// marker, blur), rectangles, ellipses, lines and arrows, from their rows and
// back, painted and handled; and rows no client should have written, of every
// kind, which must stay sane on the scene and stay stored as they came.

#include "dot.h"
#include "editorscene.h"
#include "mouse.h"
#include "skrinarrow.h"
#include "skrinblur.h"
#include "skrinellipseframe.h"
#include "skrinimage.h"
#include "skrinline.h"
#include "skrinpen.h"
#include "skrinrectangleframe.h"
#include "skrintext.h"

#include <QStyleOptionGraphicsItem>
#include <QThreadPool>

namespace {

const QVariantMap frameRow{{"x", 10}, {"y", 20}, {"z", 1}, {"w", 100}, {"h", 50}, {"color", "#ff0000"}, {"pen_size", 5}};

// The rectangle or ellipse of a row as the handles see it.
DotRect *handlesOf(EditorScene &shot, Id id)
{
    return dynamic_cast<DotRect *>(shot.scene->skrinItem(id));
}

QVariantMap lineRow(double endX, double endY, double pen = 5)
{
    return {{"x", 100}, {"y", 100}, {"z", 1}, {"begin_x", 0}, {"begin_y", 0}, {"end_x", endX}, {"end_y", endY},
            {"pen_size", pen}, {"color", "#ff0000"}};
}

QGraphicsItem *graphicsOf(EditorScene &shot, Id id)
{
    return shot.scene->skrinItem(id)->graphicsItem();
}

QRectF storedRect(Id id)
{
    return QRectF(getMember(id, "x").toDouble(), getMember(id, "y").toDouble(), getMember(id, "w").toDouble(),
                  getMember(id, "h").toDouble());
}

QVariantMap strokeRow(const QString &data, double penSize = 4, const QString &colour = "#ff0000", double x = 100,
                      double y = 80, double z = 1)
{
    return {{"x", x}, {"y", y}, {"z", z}, {"data", data}, {"pen_size", penSize}, {"color", colour}};
}

QVariantMap with(QVariantMap row, const QVariantMap &changes)
{
    row.insert(changes);
    return row;
}

const QVariantMap line = lineRow(80, 0);
const QVariantMap stroke = strokeRow("[0,0,1,1]");
const QVariantMap text{{"x", 40}, {"y", 50}, {"z", 1}, {"data", "Hostile"}, {"font_name", "DejaVu Sans"},
                       {"font_size", 14}, {"color", "#ff0000"}, {"font_weight", 75}};
const QVariantMap image{{"x", 50}, {"y", 50}, {"z", 1}, {"w", 400}, {"h", 200}, {"src_x", 0}, {"src_y", 0},
                        {"src_w", 200}, {"src_h", 100}};

} // namespace

class TestDrawn : public QObject
{
    Q_OBJECT

    static void addKinds()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("rectangle") << "skrin_rectangle";
        QTest::newRow("ellipse") << "skrin_ellipse";
    }

private slots:
    void geometryFromTheRow_data() { addKinds(); }
    void geometryFromTheRow()
    {
        QFETCH(QString, kind);
        EditorScene shot(EditorScene::Later);
        const Id frame = shot.addRow(kind + "_frame", frameRow);
        shot.open();
        const Id filled = shot.addRow(kind, frameRow);

        QGraphicsItem *framed = graphicsOf(shot, frame);
        QCOMPARE(framed->pos(), QPointF(10, 20));
        QCOMPARE(framed->boundingRect(), QRectF(-5, -5, 110, 60));
        QCOMPARE(handlesOf(shot, frame)->rect(), QRectF(-5, -5, 110, 60));
        QCOMPARE(handlesOf(shot, frame)->dot(DotRect::TopLeft)->pos(), QPointF(-5, -5));
        QCOMPARE(handlesOf(shot, frame)->dot(DotRect::Centre)->pos(), QPointF(50, 25));
        QCOMPARE(graphicsOf(shot, filled)->boundingRect(), QRectF(0, 0, 100, 50));
        // Ellipses take clicks inside their outline only.
        QCOMPARE(framed->contains(QPointF(-4, -4)), kind == "skrin_rectangle");
        if (kind == "skrin_ellipse")
            QVERIFY(framed->contains(QPointF(50, 25)) && graphicsOf(shot, filled)->contains(QPointF(50, 25)));

        // A filled figure has no outline to widen.
        setMember(filled, "pen_size", 30);
        QCOMPARE(graphicsOf(shot, filled)->boundingRect(), QRectF(0, 0, 100, 50));
        setMember(frame, "pen_size", 10);
        QCOMPARE(framed->boundingRect(), QRectF(-10, -10, 120, 70));

        // Sizes glide to a stored change; nothing is echoed back.
        setMember(frame, "w", 200);
        QTRY_COMPARE(framed->boundingRect(), QRectF(-10, -10, 220, 70));
        QCOMPARE(handlesOf(shot, frame)->dot(DotRect::Centre)->pos(), QPointF(100, 25));
        QCOMPARE(storedRect(frame), QRectF(10, 20, 200, 50));
    }

    void handleDragsStoreTheInnerRectangle_data() { addKinds(); }
    void handleDragsStoreTheInnerRectangle()
    {
        QFETCH(QString, kind);
        EditorScene shot(EditorScene::Later);
        shot.open();
        const Id id = shot.addRow(kind + "_frame", frameRow);
        QGraphicsItem *figure = graphicsOf(shot, id);
        figure->setSelected(true);
        DotRect *handles = handlesOf(shot, id);
        QVERIFY(handles->dot(DotRect::TopLeft)->isVisible());

        leftDrag(shot.view.get(), figure->mapToScene(-5, -5), figure->mapToScene(20, 10));
        QCOMPARE(storedRect(id), QRectF(35, 35, 75, 35));
        QCOMPARE(figure->pos(), QPointF(10, 20));
        QVERIFY(figure->isSelected());

        // The stored corner stays right after a move and after a stored x.
        figure->setPos(figure->pos() + QPointF(5, 5));
        QCOMPARE(storedRect(id), QRectF(40, 40, 75, 35));
        setMember(id, "x", 100);
        QTRY_COMPARE(figure->sceneBoundingRect(), QRectF(95, 35, 85, 45));

        // Drawing drags the bottom-right corner; a pointer short of the
        // minimum flips the figure past its fixed corner.
        const Id drawn = shot.addRow(kind, {{"x", 300}, {"y", 300}, {"z", 2}, {"w", 1}, {"h", 1}, {"color", "#0000ff"}});
        shot.scene->skrinItem(drawn)->drawTo(QPointF(360, 330));
        QCOMPARE(storedRect(drawn), QRectF(300, 300, 60, 30));
        shot.scene->skrinItem(drawn)->drawTo(QPointF(305, 330));
        QCOMPARE(storedRect(drawn), QRectF(289, 300, 11, 30));
    }

    void handlesShowForALoneSelection()
    {
        EditorScene shot(EditorScene::Later);
        shot.open();
        const Id a = shot.addRow("skrin_rectangle", frameRow);
        const Id b = shot.addRow("skrin_ellipse_frame", frameRow);
        auto *line = shot.item<SkrinLine>(shot.addRow("skrin_line", lineRow(50, 50)));
        const auto shown = [&](Id id) { return handlesOf(shot, id)->dot(DotRect::Centre)->isVisible(); };

        graphicsOf(shot, a)->setSelected(true);
        QVERIFY(shown(a));
        graphicsOf(shot, b)->setSelected(true);
        QVERIFY(!shown(a));
        QVERIFY(!shown(b));
        graphicsOf(shot, a)->setSelected(false);
        QVERIFY(!shown(a));
        shot.scene->clearSelection();
        line->setSelected(true);
        QVERIFY(line->dot(SkrinLine::End)->isVisible());
        shot.item<SkrinLine>(shot.addRow("skrin_arrow", lineRow(-50, 50)))->setSelected(true);
        QVERIFY(!line->dot(SkrinLine::End)->isVisible());
    }

    void movesAreStoredOnlyWhileShown()
    {
        EditorScene shot(EditorScene::Later);
        const Id id = shot.addRow("skrin_rectangle_frame", frameRow);
        shot.open(Skrin::ToolNone);
        QGraphicsItem *figure = graphicsOf(shot, id);
        QVERIFY(!figure->isVisible());
        figure->setPos(50, 50);
        figure->setZValue(9);
        QCOMPARE(storedRect(id), QRectF(10, 20, 100, 50));
        QCOMPARE(getMember(id, "z").toDouble(), 9.0);

        shot.scene->setTool(Skrin::ToolSelect);
        shot.scene->clearModified();
        figure->setPos(60, 70);
        QCOMPARE(storedRect(id), QRectF(60, 70, 100, 50));
        QVERIFY(shot.scene->isModified());
    }

    void outlinesLieOutsideTheStoredRectangle_data() { addKinds(); }
    void outlinesLieOutsideTheStoredRectangle()
    {
        QFETCH(QString, kind);
        EditorScene shot(EditorScene::Later);
        shot.open();
        for (const auto &[x, y, pen] : {std::tuple{100, 100, 10.0}, {100, 300, 0.1}, {400, 300, 0.11}}) {
            QVariantMap row = frameRow;
            row.insert({{"x", x}, {"y", y}, {"w", 200}, {"h", 100}, {"pen_size", pen}});
            shot.addRow(kind + "_frame", row);
        }
        const QImage image = shot.render();
        const auto at = [&](double x, double y) { return shot.at(image, x, y); };

        // The band between the stored rectangle and 10 units outside it.
        QCOMPARE(at(200, 95), QColor(Qt::red));
        QCOMPARE(at(200, 91), QColor(Qt::red));
        QCOMPARE(at(200, 102), QColor(Qt::white));
        QCOMPARE(at(200, 88), QColor(Qt::white));
        QCOMPARE(at(95, 150), QColor(Qt::red));
        // Hairline pens up to 0.1 are not painted.
        const auto paintedNear = [&](double x, double y) {
            for (double dy = -2; dy <= 2; ++dy)
                if (at(x, y + dy) != QColor(Qt::white))
                    return true;
            return false;
        };
        QVERIFY(!paintedNear(200, 300));
        QVERIFY(paintedNear(500, 300));
    }

    void lineHandlesReshapeAndMove()
    {
        EditorScene shot(EditorScene::Later);
        const Id id = shot.addRow("skrin_line", lineRow(100, 0));
        shot.open();
        auto *line = shot.item<SkrinLine>(id);
        QCOMPARE(line->line(), QLineF(0, 0, 100, 0));
        QCOMPARE(line->pen().widthF(), 5.0);
        QCOMPARE(line->pen().capStyle(), Qt::RoundCap);
        QCOMPARE(line->dot(SkrinLine::Middle)->pos(), QPointF(50, 0));
        QCOMPARE(line->dot(SkrinLine::Middle)->kind(), int(Dot::Cross));
        line->setSelected(true);
        QVERIFY(line->dot(SkrinLine::Begin)->isVisible());

        leftDrag(shot.view.get(), QPointF(100, 100), QPointF(95, 108));
        QCOMPARE(EditorScene::numbers(id, {"begin_x", "begin_y"}), (QList<double>{-5, 8}));
        QCOMPARE(line->dot(SkrinLine::Begin)->pos(), QPointF(-5, 8));
        QCOMPARE(line->dot(SkrinLine::Middle)->pos(), QPointF(47.5, 4));
        QCOMPARE(line->pos(), QPointF(100, 100));

        leftDrag(shot.view.get(), QPointF(147.5, 104), QPointF(157.5, 104));
        QCOMPARE(line->pos(), QPointF(110, 100));
        QCOMPARE(EditorScene::numbers(id, {"x", "begin_x", "end_x"}), (QList<double>{110, -5, 100}));

        // A stored end glides there and moves its own handle only.
        setMember(id, "end_x", 200);
        QTRY_COMPARE(line->dot(SkrinLine::End)->pos(), QPointF(200, 0));
        QCOMPARE(line->dot(SkrinLine::Middle)->pos(), QPointF(47.5, 4));
        QCOMPARE(line->line().p2(), QPointF(200, 0));
    }

    void arrowHeadSitsAtTheEnd()
    {
        EditorScene shot(EditorScene::Later);
        shot.open();
        auto *arrow = shot.item<SkrinArrow>(shot.addRow("skrin_arrow", lineRow(100, 0)));
        // Head (100,0), (85,-5), (85,5), each grown by half the pen.
        QCOMPARE(arrow->boundingRect(), QRectF(-2.5, -7.5, 105, 15));
        QVERIFY(arrow->contains(QPointF(88, 4)));
        QVERIFY(!arrow->contains(QPointF(50, 6)));

        const QImage image = shot.render();
        QCOMPARE(shot.at(image, 190, 103), QColor(Qt::red)); // inside the head
        QCOMPARE(shot.at(image, 150, 100), QColor(Qt::red)); // on the line
        QCOMPARE(shot.at(image, 150, 106), QColor(Qt::white));
    }

    void rowsShowBeforeAndAfterTheSceneExists_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("pen") << "skrin_pen";
        QTest::newRow("marker") << "skrin_marker";
    }

    void rowsShowBeforeAndAfterTheSceneExists()
    {
        QFETCH(QString, table);
        EditorScene shot(EditorScene::Later);
        const Id early = shot.addRow(table, strokeRow("[0,0,3.5,-2,10,12.25]"));
        shot.open();
        const Id late = shot.addRow(table, strokeRow("[1,2,3]"));
        for (const Id id : {early, late}) {
            auto *stroke = shot.item<SkrinPen>(id);
            QVERIFY(stroke && stroke->isVisible());
            QCOMPARE(stroke->pos(), QPointF(100, 80));
            QCOMPARE(stroke->pen().color(), QColor("#ff0000"));
            QCOMPARE(stroke->pen().widthF(), 4.0);
        }
        QCOMPARE(shot.item<SkrinPen>(early)->polygon(), QPolygonF({{0, 0}, {3.5, -2}, {10, 12.25}}));
        // An odd element is left over; a one-point stroke is the pen's square.
        QCOMPARE(shot.item<SkrinPen>(late)->polygon(), QPolygonF({{1, 2}}));
        QCOMPARE(shot.item<SkrinPen>(late)->boundingRect(), QRectF(-1, 0, 4, 4));
    }

    void storeChangesArriveAndUserChangesAreStored()
    {
        EditorScene shot(EditorScene::Later);
        shot.open();
        const Id id = shot.addRow("skrin_pen", strokeRow("[0,0,10,10]"));
        auto *stroke = shot.item<SkrinPen>(id);
        QVERIFY(stroke);

        // Points from elsewhere are counted afresh, also one more than before.
        setMember(id, "data", "[-100,0,5,0,6,0]");
        QCOMPARE(stroke->boundingRect(), QRectF(-102, -2, 110, 4));
        setMember(id, "data", "[0,0,20,0,20,20]");
        setMember(id, "pen_size", 9);
        setMember(id, "color", "#0000ff");
        QCOMPARE(stroke->polygon().size(), 3);
        QCOMPARE(stroke->pen().widthF(), 9.0);
        QCOMPARE(stroke->pen().color(), QColor(Qt::blue));

        // A move from elsewhere glides there; nothing is written back.
        setMember(id, "x", 300);
        QVERIFY(stroke->x() < 300);
        QTRY_COMPARE(stroke->x(), 300.0);
        QCOMPARE(getMember(id, "y").toDouble(), 80.0);

        // The user's moves and points are stored, points relative.
        setMember(id, "data", "[0,0]");
        shot.scene->clearModified();
        stroke->setPos(150, 90);
        QCOMPARE(EditorScene::numbers(id, {"x", "y"}), (QList<double>{150, 90}));
        QCOMPARE(getMember(id, "data").toString(), "[0,0]");
        QVERIFY(shot.scene->isModified());
        stroke->drawTo(QPointF(160.5, 100));
        stroke->drawTo(QPointF(150.25, 90));
        QCOMPARE(getMember(id, "data").toString(), "[0,0,10.5,10,0.25,0]");
        stroke->setZValue(7);
        QCOMPARE(getMember(id, "z").toDouble(), 7.0);
    }

    void paintsMarkerTranslucentAndSinglePointsAsDots()
    {
        EditorScene shot(EditorScene::Later);
        shot.open();
        shot.addRow("skrin_marker", strokeRow("[0,0,200,0]", 20, "#00ff00"));
        const Id dot = shot.addRow("skrin_pen", strokeRow("[0,0]", 20, "#0000ff", 300, 300, 2));
        shot.addRow("skrin_pen", strokeRow("[0,0,100,0]", 20, "", 300, 200, 3));
        const QImage image = shot.render();

        // Green at alpha 0.3 over white.
        const QColor green = shot.at(image, 200, 80);
        QVERIFY2(qAbs(green.red() - 179) <= 2 && green.green() == 255 && qAbs(green.blue() - 179) <= 2,
                 qPrintable(green.name()));
        QCOMPARE(shot.at(image, 200, 95), QColor(Qt::white));

        // A disc of diameter pen_size around the one point.
        QCOMPARE(shot.at(image, 300, 300), QColor(Qt::blue));
        QCOMPARE(shot.at(image, 307, 300), QColor(Qt::blue));
        QCOMPARE(shot.at(image, 313, 300), QColor(Qt::white));
        QCOMPARE(shot.at(image, 307, 307), QColor(Qt::white));
        QCOMPARE(shot.scene->items(QPointF(305, 305)).value(0), shot.item<SkrinPen>(dot));

        // A transparent stroke paints nothing.
        QCOMPARE(shot.at(image, 350, 200), QColor(Qt::white));
    }

    void blurPixelatesWhatLiesBelowOnly()
    {
        EditorScene shot(EditorScene::Later);
        shot.open();
        shot.addRow("skrin_rectangle", {{"x", 100}, {"y", 100}, {"z", 1}, {"w", 200}, {"h", 100}, {"color", "#000000"}});
        const Id blur = shot.addRow("skrin_blur", strokeRow("[0,0,160,0]", 30, "#ff0000", 120, 150, 2));
        shot.addRow("skrin_rectangle", {{"x", 240}, {"y", 140}, {"z", 3}, {"w", 20}, {"h", 20}, {"color", "#00ff00"}});
        shot.addRow("skrin_blur", strokeRow("[0,0]", 20, "", 400, 300, 4));
        // Painted outside a scene paint (no picture below): nothing is drawn.
        QImage lone(100, 100, QImage::Format_ARGB32);
        lone.fill(Qt::white);
        QPainter painter(&lone);
        painter.translate(20, 20);
        const QStyleOptionGraphicsItem option;
        shot.item<SkrinBlur>(blur)->paint(&painter, &option, nullptr);
        painter.end();
        QCOMPARE(lone.pixelColor(45, 20), QColor(Qt::white));

        const QImage image = shot.render();

        // Black blocks average with the page colour counted once (235 / 50 =
        // 4); the blur's own blocks are already in the picture below it when
        // the screen pass averages them again: (235 + 49 * 4) / 50 = 8.
        QCOMPARE(shot.at(image, 160, 150), QColor(8, 8, 8));
        QCOMPARE(shot.at(image, 220, 150), QColor(8, 8, 8));
        // Outside the band, and above the blur, things stay as they are.
        QCOMPARE(shot.at(image, 160, 120), QColor(Qt::black));
        QCOMPARE(shot.at(image, 250, 150), QColor(Qt::green));
        // The stroke's own colour plays no part.
        QCOMPARE(shot.item<SkrinBlur>(blur)->pen().color(), QColor(Qt::black));

        // A one-point blur over the bare page: a disc of the page colour.
        QCOMPARE(shot.at(image, 400, 300), QColor(0xeb, 0xeb, 0xeb));
        QCOMPARE(shot.at(image, 407, 300), QColor(0xeb, 0xeb, 0xeb));
        QCOMPARE(shot.at(image, 413, 300), QColor(Qt::white));
        // A band from elsewhere, one point longer, is pixelated all along.
        setMember(blur, "data", "[0,-40,0,0,1,0]");
        QVERIFY(shot.at(shot.render(), 120, 115) != QColor(Qt::black));

        // The per-scene picture goes with its scene.
        const QGraphicsScene *scene = shot.scene.get();
        QVERIFY(SkrinBlur::findSceneCache(scene));
        shot.close();
        QVERIFY(!SkrinBlur::findSceneCache(scene));
    }

    void staySaneAndStayStored_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QVariantMap>("row");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("kept");        // a member that must read back as written
        QTest::addColumn<bool>("paintsNothing");  // not even a red pixel

        QTest::newRow("zero-length line") << "skrin_line" << with(line, {{"end_x", 0}}) << QByteArray() << "" << true;
        QTest::newRow("zero-length arrow") << "skrin_arrow" << with(line, {{"end_x", 0}}) << QByteArray() << "" << true;
        QTest::newRow("arrow without width") << "skrin_arrow" << with(line, {{"pen_size", 0}}) << QByteArray() << ""
                                             << true;
        QTest::newRow("arrow") << "skrin_arrow"
                               << with(line, {{"end_x", 1e300}, {"end_y", "nan"}, {"begin_x", "-inf"}, {"pen_size", 1e9}})
                               << QByteArray() << "end_x" << false;
        QTest::newRow("frame") << "skrin_rectangle_frame"
                               << QVariantMap{{"x", "nan"}, {"y", -1e300}, {"z", "inf"}, {"w", 1e300}, {"h", -1e9},
                                              {"color", "#zz"}, {"pen_size", 1e9}}
                               << QByteArray() << "w" << false;

        QTest::newRow("stroke of odd numbers")
            << "skrin_pen" << with(stroke, {{"data", "[NaN,1,2,3,1e300,1e300,\"x\",null,[1],{}]"}, {"pen_size", -5}})
            << QByteArray() << "data" << false;
        QTest::newRow("huge pen") << "skrin_pen" << with(stroke, {{"pen_size", 1e9}}) << QByteArray() << "pen_size"
                                  << false;
        QTest::newRow("stroke position") << "skrin_pen" << with(stroke, {{"x", "nan"}, {"y", 1e300}}) << QByteArray()
                                         << "y" << false;
        QString many = "[";
        for (int i = 0; i < 1000000; ++i)
            many += QString::number(i % 500) + ',' + QString::number(i % 300) + ',';
        QTest::newRow("a million points") << "skrin_pen" << with(stroke, {{"data", many + "0,0]"}}) << QByteArray()
                                          << "data" << false;

        for (const auto &[name, member, value] :
             {std::tuple{"font size negative", "font_size", QVariant(-5.0)}, {"font size huge", "font_size", 1e300},
              {"weight huge", "font_weight", 1e9}, {"text x infinite", "x", qInf()}, {"text z nan", "z", qQNaN()}})
            QTest::newRow(name) << "skrin_text" << with(text, {{member, value}}) << QByteArray() << member << false;

        const QByteArray picture = EditorScene::png(20, 10);
        QTest::newRow("empty source") << "skrin_image" << with(image, {{"src_w", 0}, {"src_h", 0}}) << picture << ""
                                      << false;
        QTest::newRow("negative size") << "skrin_image" << with(image, {{"w", -50}, {"h", -1e9}}) << picture << ""
                                       << false;
        QTest::newRow("enormous size") << "skrin_image" << with(image, {{"w", 1e300}, {"h", 1e300}}) << picture << ""
                                       << false;
        QTest::newRow("not numbers") << "skrin_image" << with(image, {{"src_x", "left"}, {"x", qQNaN()}}) << picture
                                     << "" << false;
        QTest::newRow("source outside") << "skrin_image" << with(image, {{"src_x", 1e6}, {"src_w", -1e7}}) << picture
                                        << "" << false;
        QTest::newRow("file not a picture") << "skrin_image" << image << QByteArray("not a picture") << "" << false;
    }

    void staySaneAndStayStored()
    {
        QFETCH(QString, table);
        QFETCH(QVariantMap, row);
        QFETCH(QByteArray, file);
        QFETCH(QString, kept);
        QFETCH(bool, paintsNothing);
        EditorScene shot(EditorScene::Later);
        shot.open();
        const Id id = shot.addRowWithFile(table, row, file);
        SkrinItem *item = shot.scene->skrinItem(id);
        QVERIFY(item);
        QGraphicsItem *shown = item->graphicsItem();
        // Whatever a picture's load comes to has arrived.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();

        if (auto *pen = dynamic_cast<SkrinPen *>(item))
            QVERIFY(pen->pen().widthF() >= 0 && pen->pen().widthF() <= 1000);
        if (auto *drawn = dynamic_cast<SkrinLine *>(item))
            QVERIFY(drawn->pen().widthF() >= 0 && drawn->pen().widthF() <= 1000);
        if (auto *typed = dynamic_cast<SkrinText *>(item))
            QVERIFY(typed->font().pointSizeF() >= 1 && typed->font().pointSizeF() <= 1000);
        auto *picture = dynamic_cast<SkrinImage *>(item);
        const QList<int> modes = picture ? QList<int>{SkrinImage::NoMode, SkrinImage::CropMode, SkrinImage::ResizeMode}
                                         : QList<int>{0};
        for (const int mode : modes) {
            if (picture)
                picture->setMode(mode);
            QVERIFY(EditorScene::finite(shown->sceneBoundingRect(), 1e7));
            QVERIFY(std::isfinite(shown->zValue()) && std::abs(shown->zValue()) < 1e7);
            QVERIFY(EditorScene::finite(shown->shape().controlPointRect()));
            QVERIFY(EditorScene::finite(shot.scene->itemsBoundingRect()));
            const QImage painted = shot.render();
            if (paintsNothing) {
                const auto *pixels = reinterpret_cast<const QRgb *>(painted.constBits());
                QVERIFY(std::find(pixels, pixels + painted.width() * painted.height(), qRgb(255, 0, 0))
                        == pixels + painted.width() * painted.height());
            }
        }
        shown->setSelected(true);
        shot.render();
        // What is only shown tamed stays stored as it was, in the column's
        // type (a NaN as the null the file makes of it).
        if (!kept.isEmpty()) {
            const QVariant given = row.value(kept), stored = getMember(id, kept);
            if (given.typeId() == QMetaType::Double && std::isnan(given.toDouble()))
                QVERIFY(isNullValue(stored));
            else
                QVERIFY2(cellEquals(stored, given), qPrintable(stored.toString()));
        }
    }

};

QTEST_MAIN(TestDrawn)
#include "tst_drawn.moc"
