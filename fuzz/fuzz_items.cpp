// libFuzzer target for the annotation items: each input builds one item of
// any kind from a row whose members carry random types and values (NaN,
// 1e300, negative sizes, texts where numbers belong, pictures of any size),
// changes it the ways the store and the user can, and paints the scene. It
// must not crash, trip a sanitizer, hang or grow without bound.
#include "database.h"
#include "dotrect.h"
#include "engine.h"
#include "imagecache.h"
#include "skrin.h"
#include "skrinblur.h"
#include "skrinimage.h"
#include "skrinitem.h"
#include "skrinpin.h"
#include "skrinpintext.h"
#include "skrintext.h"

#include <QApplication>
#include <QDateTime>
#include <QGraphicsView>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <limits>

namespace {

void discardMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

// Runs between resets of the store, so that the pending-commit tables that
// every row leaves behind stay small.
constexpr int runsPerStore = 3000;
// Tools that open dialogs or the clipboard stay out.
constexpr int tools[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15, 16};
const char *const pictureNames[] = {"fuzz-a.png", "fuzz-b.png", "fuzz-c.png"};

struct World
{
    QTemporaryDir dir;
    Id skrin = 0;
    Skrin *scene = nullptr;
    QGraphicsView *view = nullptr;
    int runs = 0;

    void openScene()
    {
        skrin = createItem(QStringLiteral("skrin"));
        setMember(skrin, QStringLiteral("created"), QDateTime::currentDateTime());
        scene = new Skrin(skrin);
        view = new QGraphicsView(scene);
        view->resize(320, 240);
    }

    void closeScene()
    {
        delete view;
        delete scene;
        view = nullptr;
        scene = nullptr;
    }
};

World *world = nullptr;

QVariant randomValue(FuzzedDataProvider &in)
{
    static const double awkward[] = {std::nan(""), INFINITY, -INFINITY, 1e300, -1e300, 1e9, -5, 0, 0.5,
                                      std::numeric_limits<double>::denorm_min(), 2147483648.0};
    switch (in.ConsumeIntegralInRange(0, 8)) {
    case 0:
        return QVariant();
    case 1:
        return QVariant(qint64(in.ConsumeIntegral<int64_t>()));
    case 2:
        return QVariant(in.PickValueInArray(awkward));
    case 3:
        return QVariant(in.ConsumeFloatingPoint<double>());
    case 4:
        return QVariant(in.ConsumeIntegralInRange(-100, 1000));
    case 5:
        return QVariant(QString::fromStdString(in.ConsumeRandomLengthString(64)));
    case 6:
        return QVariant(QStringLiteral("#%1").arg(in.ConsumeIntegral<uint32_t>() & 0xffffff, 6, 16, QLatin1Char('0')));
    case 7:
        return QVariant(in.ConsumeBool());
    default:
        return QVariant(QString(in.ConsumeIntegralInRange(0, 20000), QLatin1Char('w')));
    }
}

QPointF randomPoint(FuzzedDataProvider &in)
{
    return QPointF(in.ConsumeFloatingPointInRange(-2000.0, 2000.0), in.ConsumeFloatingPointInRange(-2000.0, 2000.0));
}

// A picture of the store's file names, in the cache where items find it.
QString randomPicture(FuzzedDataProvider &in)
{
    const QString name = QString::fromLatin1(in.PickValueInArray(pictureNames));
    QPixmap picture(in.ConsumeIntegralInRange(1, 300), in.ConsumeIntegralInRange(1, 300));
    picture.fill(QColor::fromRgb(in.ConsumeIntegral<uint32_t>()));
    cachePixmap(name, picture);
    return name;
}

void useKind(SkrinItem *item, FuzzedDataProvider &in)
{
    if (auto *image = dynamic_cast<SkrinImage *>(item)) {
        image->setMode(in.ConsumeIntegralInRange(0, 3));
        image->moveDot(in.ConsumeIntegralInRange(0, 9), randomPoint(in));
        if (in.ConsumeBool())
            image->resetCrop();
    } else if (auto *text = dynamic_cast<SkrinText *>(item)) {
        text->startEditing(in.ConsumeBool());
        text->setPlainText(QString::fromStdString(in.ConsumeRandomLengthString(32)));
        text->stopEditing();
    } else if (auto *pin = dynamic_cast<SkrinPin *>(item)) {
        pin->toggleNote();
        pin->note()->startEditing(in.ConsumeBool());
        pin->note()->setPlainText(QString::fromStdString(in.ConsumeRandomLengthString(32)));
        pin->note()->stopEditing();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(discardMessages);
    static int argc = 1;
    static char name[] = "fuzz_items";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
    registerEngineTypes();
    world = new World;
    if (!Database::open(world->dir.path()))
        __builtin_trap();
    bindTables();
    world->openScene();
    SkrinBlur::dropSceneCache(nullptr); // builds the blur caches' table now
    // At exit the scene unwatches its rows and the flush thread stops before
    // the statics that they use go: those built before this point outlive it.
    // The store's folder goes with the run, as a replay in every test run
    // would otherwise leave one behind each time.
    std::atexit([] {
        world->closeScene();
        Database::close();
        world->dir.remove();
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    if (++world->runs % runsPerStore == 0) {
        world->closeScene();
        if (!resetStoreAndNotify())
            __builtin_trap();
        world->openScene();
    }
    Skrin *scene = world->scene;
    scene->setTool(in.PickValueInArray(tools));

    const QStringList tables = Skrin::itemTables();
    const QString table = tables.at(in.ConsumeIntegralInRange<int>(0, int(tables.size()) - 1));
    const Id id = createItem(table);
    const QStringList columns = Database::columnNames(Database::tableId(table));
    const auto randomMember = [&] {
        const QString column = columns.at(in.ConsumeIntegralInRange<int>(0, int(columns.size()) - 1));
        if (column == QLatin1String("file") && in.ConsumeBool())
            setMember(id, column, randomPicture(in));
        else if (column != QLatin1String("parent") && column != QLatin1String("id"))
            setMember(id, column, randomValue(in));
    };
    // Most rows are complete, so that the item loads; some are not.
    for (const QString &column : columns) {
        if (column != QLatin1String("parent") && column != QLatin1String("id") && in.ConsumeProbability<float>() < 0.9f)
            setMember(id, column, column == QLatin1String("file") ? QVariant(randomPicture(in)) : randomValue(in));
    }
    setMember(id, QStringLiteral("parent"), world->skrin);

    QImage canvas(160, 120, QImage::Format_ARGB32_Premultiplied);
    // A bounded number of steps keeps one input quick.
    for (int step = 0; step < 48 && in.remaining_bytes() > 0; ++step) {
        SkrinItem *item = scene->skrinItem(id);
        switch (in.ConsumeIntegralInRange(0, 6)) {
        case 0:
            randomMember();
            break;
        case 1:
            scene->setTool(in.PickValueInArray(tools));
            break;
        case 2:
            if (item) {
                item->graphicsItem()->setSelected(in.ConsumeBool());
                item->selectionCountChanged(in.ConsumeIntegralInRange(0, 3));
            }
            break;
        case 3:
            if (item)
                item->drawTo(randomPoint(in));
            break;
        case 4:
            if (item)
                useKind(item, in);
            break;
        case 5:
            if (item)
                item->graphicsItem()->setPos(randomPoint(in));
            break;
        default: {
            canvas.fill(Qt::white);
            QPainter painter(&canvas);
            scene->render(&painter, QRectF(), QRectF(randomPoint(in), QSizeF(400, 300)));
            break;
        }
        }
        QCoreApplication::processEvents();
    }
    QPainter painter(&canvas);
    scene->render(&painter);
    painter.end();
    removeItem(id);
    QCoreApplication::processEvents();
    return 0;
}
