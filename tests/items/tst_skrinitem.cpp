// The annotation item base: what reaches the owning scene, what reaches the
// store, one screen pixel in scene units, and the selection frame.

#include "openstore.h"
#include "testbox.h"

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QTest>

namespace {

class Host : public SkrinHost
{
public:
    QGraphicsScene scene;
    QGraphicsView *shown = nullptr;
    int modifiedCalls = 0;

    QGraphicsScene *hostScene() override { return &scene; }
    QGraphicsView *view() const override { return shown; }
    void setModified() override { ++modifiedCalls; }
    void notifyTextEditChanged(bool) override {}
    void notifyImageToolChanged(SkrinItem *, int) override {}
};

Id boxRow(double z = 1)
{
    return OpenStore::newRow(QStringLiteral("skrin_rectangle"), OpenStore::newSkrin(), 2, 3, z);
}

} // namespace

class TestSkrinItem : public QObject
{
    Q_OBJECT

private slots:
    void reportsPictureChangesToItsScene()
    {
        OpenStore store;
        Host host;
        auto *box = new TestBox(boxRow(4), &host);
        host.scene.addItem(box);
        // What loading applies (x, y, z) is not written back, yet marks the scene.
        QCOMPARE(box->zValue(), 4.0);
        QCOMPARE(host.modifiedCalls, 3);

        box->setPos(7, 8);
        QCOMPARE(getMember(box->id(), QStringLiteral("x")).toDouble(), 7.0);
        QCOMPARE(host.modifiedCalls, 5);

        box->hide(); // so that the stored y does not come back as a move
        const int before = host.modifiedCalls;
        box->setMember(QStringLiteral("y"), 1.0, false, false);
        box->setColor(QStringLiteral("color"), Qt::transparent, false);
        QCOMPARE(host.modifiedCalls, before);
        QCOMPARE(getMember(box->id(), QStringLiteral("color")).toString(), QString());
        box->storeMember(QStringLiteral("y"), 2.0, true);
        QCOMPARE(host.modifiedCalls, before + 1);

        // A pin is no part of the picture: its changes never mark.
        TestBox pinBox(boxRow(), &host, true);
        pinBox.setPos(1, 1);
        pinBox.storeMember(QStringLiteral("x"), 5.0, true);
        QCOMPARE(host.modifiedCalls, before + 1);

        // One screen pixel in scene units: 1 without a view or a scene.
        QCOMPARE(box->viewPixelSize(), 1.0);
        QGraphicsView view(&host.scene);
        host.shown = &view;
        view.scale(2.0, 2.0);
        QCOMPARE(box->viewPixelSize(), 0.5);
        TestBox lone(boxRow(), nullptr);
        lone.setPos(4, 4);
        QCOMPARE(lone.view(), nullptr);
        QCOMPARE(lone.viewPixelSize(), 1.0);
    }

    void framesTheSelection_data()
    {
        QTest::addColumn<bool>("selected");
        QTest::addColumn<bool>("withOption");
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<bool>("framed");
        QTest::newRow("selected") << true << true << QRectF(2, 2, 20, 10) << true;
        QTest::newRow("zero wide") << true << true << QRectF(2, 2, 0, 5) << true;
        QTest::newRow("not selected") << false << true << QRectF(2, 2, 20, 10) << false;
        QTest::newRow("no option") << true << false << QRectF(2, 2, 20, 10) << false;
        QTest::newRow("empty") << true << true << QRectF(2, 2, 0, 0) << false;
    }

    void framesTheSelection()
    {
        QFETCH(bool, selected);
        QFETCH(bool, withOption);
        QFETCH(QRectF, rect);
        QFETCH(bool, framed);
        OpenStore store;
        TestBox box(boxRow(), nullptr);
        QStyleOptionGraphicsItem option;
        option.state = selected ? QStyle::State_Selected : QStyle::State_None;

        QImage image(30, 20, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        {
            QPainter painter(&image);
            box.paintSelectionFrame(&painter, withOption ? &option : nullptr, rect);
        }
        QPainter inactive;
        box.paintSelectionFrame(&inactive, &option, rect);

        const auto has = [&image](const QColor &colour) {
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixelColor(x, y) == colour)
                        return true;
            return false;
        };
        QCOMPARE(has(Qt::white) && has(Qt::black), framed);
        if (framed && rect.width() > 0) {
            // A one-pixel frame just inside the outline, dotted black on white.
            QCOMPARE(image.pixelColor(1, 1), QColor(Qt::blue));
            QCOMPARE(image.pixelColor(12, 6), QColor(Qt::blue));
            QVERIFY(image.pixelColor(12, 2) == Qt::white || image.pixelColor(12, 2) == Qt::black);
        }
    }
};

QTEST_MAIN(TestSkrinItem)
#include "tst_skrinitem.moc"
