// Lines and arrows: loading, the three handles, store changes, lone-selection
// handles, the arrow's head, and lines of length zero.

#include <QGraphicsItem>
#include <QPainter>

#include "dot.h"
#include "itemscene.h"
#include "mouse.h"
#include "skrinarrow.h"

#include <cmath>

namespace {

QVariantMap lineRow(double endX, double endY, double pen = 5)
{
    return {{"x", 100}, {"y", 100}, {"z", 1}, {"begin_x", 0}, {"begin_y", 0}, {"end_x", endX}, {"end_y", endY},
            {"pen_size", pen}, {"color", "#ff0000"}};
}

bool isFinite(const QRectF &r)
{
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

QPointF dotPos(SkrinLine *line, int index)
{
    return line->dot(index)->pos();
}

} // namespace

class TestLines : public QObject
{
    Q_OBJECT

    TempStore store;

private slots:
    void initTestCase() { QVERIFY(ItemScene::openStore(store)); }
    void cleanupTestCase() { Database::close(); }

    void handlesReshapeAndMove()
    {
        ItemScene shot;
        const Id id = shot.addRow("skrin_line", lineRow(100, 0));
        shot.open();
        auto *line = shot.item<SkrinLine>(id);
        QCOMPARE(line->line(), QLineF(0, 0, 100, 0));
        QCOMPARE(line->pen().widthF(), 5.0);
        QCOMPARE(line->pen().capStyle(), Qt::RoundCap);
        QCOMPARE(dotPos(line, SkrinLine::Middle), QPointF(50, 0));
        QCOMPARE(line->dot(SkrinLine::Middle)->kind(), int(Dot::Cross));
        line->setSelected(true);
        QVERIFY(line->dot(SkrinLine::Begin)->isVisible());

        leftDrag(shot.view.get(), QPointF(100, 100), QPointF(95, 108));
        QCOMPARE(getMember(id, "begin_x").toDouble(), -5.0);
        QCOMPARE(getMember(id, "begin_y").toDouble(), 8.0);
        QCOMPARE(dotPos(line, SkrinLine::Begin), QPointF(-5, 8));
        QCOMPARE(dotPos(line, SkrinLine::Middle), QPointF(47.5, 4));
        QCOMPARE(line->pos(), QPointF(100, 100));

        leftDrag(shot.view.get(), QPointF(147.5, 104), QPointF(157.5, 104));
        QCOMPARE(line->pos(), QPointF(110, 100));
        QCOMPARE(getMember(id, "x").toDouble(), 110.0);
        QCOMPARE(getMember(id, "begin_x").toDouble(), -5.0);
        QCOMPARE(getMember(id, "end_x").toDouble(), 100.0);

        // A stored end glides there and moves its own handle only.
        setMember(id, "end_x", 200);
        QTRY_COMPARE(dotPos(line, SkrinLine::End), QPointF(200, 0));
        QCOMPARE(dotPos(line, SkrinLine::Middle), QPointF(47.5, 4));
        QCOMPARE(line->line().p2(), QPointF(200, 0));
    }

    void handlesShowForALoneSelection()
    {
        ItemScene shot;
        shot.open();
        auto *first = shot.item<SkrinLine>(shot.addRow("skrin_line", lineRow(50, 50)));
        first->setSelected(true);
        QVERIFY(first->dot(SkrinLine::End)->isVisible());
        shot.item<SkrinLine>(shot.addRow("skrin_arrow", lineRow(-50, 50)))->setSelected(true);
        QVERIFY(!first->dot(SkrinLine::End)->isVisible());
    }

    void arrowHeadSitsAtTheEnd()
    {
        ItemScene shot;
        shot.open();
        auto *arrow = shot.item<SkrinArrow>(shot.addRow("skrin_arrow", lineRow(100, 0)));
        // Head (100,0), (85,-5), (85,5), each grown by half the pen.
        QCOMPARE(arrow->boundingRect(), QRectF(-2.5, -7.5, 105, 15));
        QVERIFY(arrow->contains(QPointF(88, 4)));
        QVERIFY(!arrow->contains(QPointF(50, 6)));

        const QImage image = shot.render();
        const auto at = [&](double x, double y) { return image.pixelColor(shot.view->mapFromScene(QPointF(x, y))); };
        QCOMPARE(at(190, 103), QColor(Qt::red)); // inside the head
        QCOMPARE(at(150, 100), QColor(Qt::red)); // on the line
        QCOMPARE(at(150, 106), QColor(Qt::white));
    }

    void degenerateRowsStayFinite_data()
    {
        // A click without a drag, a pen of width zero, a damaged row: no head,
        // no NaN in the scene's index, nothing painted but the frame.
        QTest::addColumn<QString>("table");
        QTest::addColumn<QVariantMap>("row");
        QTest::newRow("zero-length line") << "skrin_line" << lineRow(0, 0);
        QTest::newRow("zero-length arrow") << "skrin_arrow" << lineRow(0, 0);
        QTest::newRow("arrow without width") << "skrin_arrow" << lineRow(80, 0, 0);
        QVariantMap hostile = lineRow(1e300, 0, 1e9);
        hostile["end_y"] = "nan";
        hostile["begin_x"] = "-inf";
        QTest::newRow("hostile arrow") << "skrin_arrow" << hostile;
    }

    void degenerateRowsStayFinite()
    {
        QFETCH(QString, table);
        QFETCH(QVariantMap, row);
        ItemScene shot;
        shot.open();
        auto *line = shot.item<SkrinLine>(shot.addRow(table, row));
        QVERIFY(line->pen().widthF() <= 1000.0);
        QVERIFY(isFinite(line->sceneBoundingRect()));
        QVERIFY(isFinite(line->shape().controlPointRect()));
        QVERIFY(isFinite(shot.scene->itemsBoundingRect()));
        const QImage image = shot.render();
        if (row["pen_size"].toDouble() <= 5) {
            int red = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x)
                    red += image.pixel(x, y) == qRgb(255, 0, 0);
            }
            QCOMPARE(red, 0);
        }
        line->setSelected(true);
        shot.render();
    }
};

QTEST_MAIN(TestLines)
#include "tst_lines.moc"
