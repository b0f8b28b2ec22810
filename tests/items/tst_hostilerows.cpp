// Rows no client should have written, of every kind, and degenerate ones a
// click without a drag leaves: nothing infinite, NaN or runaway reaches the
// scene's index, every state paints, and the row stays as it came.

#include "itemscene.h"
#include "skrinimage.h"
#include "skrinline.h"
#include "skrinpen.h"
#include "skrintext.h"

#include <QThreadPool>

namespace {

QVariantMap with(QVariantMap row, const QVariantMap &changes)
{
    row.insert(changes);
    return row;
}

const QVariantMap line{{"x", 100}, {"y", 100}, {"z", 1}, {"begin_x", 0}, {"begin_y", 0}, {"end_x", 80}, {"end_y", 0},
                       {"pen_size", 5}, {"color", "#ff0000"}};
const QVariantMap stroke{{"x", 100}, {"y", 80}, {"z", 1}, {"data", "[0,0,1,1]"}, {"pen_size", 4}, {"color", "#ff0000"}};
const QVariantMap text{{"x", 40}, {"y", 50}, {"z", 1}, {"data", "Hostile"}, {"font_name", "DejaVu Sans"},
                       {"font_size", 14}, {"color", "#ff0000"}, {"font_weight", 75}};
const QVariantMap image{{"x", 50}, {"y", 50}, {"z", 1}, {"w", 400}, {"h", 200}, {"src_x", 0}, {"src_y", 0},
                        {"src_w", 200}, {"src_h", 100}};

} // namespace

class TestHostileRows : public QObject
{
    Q_OBJECT

    ItemStore store;

private slots:
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

        const QByteArray picture = ItemScene::png(20, 10);
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
        ItemScene shot;
        shot.open();
        const Id id = shot.addRow(table, row, file);
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
            QVERIFY(ItemScene::finite(shown->sceneBoundingRect(), 1e7));
            QVERIFY(std::isfinite(shown->zValue()) && std::abs(shown->zValue()) < 1e7);
            QVERIFY(ItemScene::finite(shown->shape().controlPointRect()));
            QVERIFY(ItemScene::finite(shot.scene->itemsBoundingRect()));
            const QImage painted = shot.render();
            if (paintsNothing) {
                const auto *pixels = reinterpret_cast<const QRgb *>(painted.constBits());
                QVERIFY(std::find(pixels, pixels + painted.width() * painted.height(), qRgb(255, 0, 0))
                        == pixels + painted.width() * painted.height());
            }
        }
        shown->setSelected(true);
        shot.render();
        if (!kept.isEmpty()) // what is only shown tamed stays stored as it was
            QCOMPARE(getMember(id, kept).toString(), row.value(kept).toString());
    }
};

QTEST_MAIN(TestHostileRows)
#include "tst_hostilerows.moc"
