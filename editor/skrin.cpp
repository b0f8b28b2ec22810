#include "skrin.h"

#include "capture.h"
#include "dirtyskrins.h"
#include "drawingtools.h"
#include "editorlog.h"
#include "skrinblur.h"
#include "skrinitem.h"
#include "skrinitemfactory.h"
#include "skrintext.h"

#include <QDateTime>
#include <QGraphicsItem>
#include <QGraphicsView>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

const QString imageTable = QStringLiteral("skrin_image");

// Picture coordinates come from stored rows: keep them finite and within
// what a view can map to whole pixels.
bool isSaneRect(const QRectF &rect)
{
    constexpr double limit = 1.0e7;
    for (const double v : {rect.x(), rect.y(), rect.width(), rect.height()}) {
        if (!std::isfinite(v) || std::abs(v) > limit)
            return false;
    }
    return true;
}

QColor mix(const QColor &from, const QColor &to, double k)
{
    return QColor::fromRgbF(float(from.redF() + (to.redF() - from.redF()) * k),
                            float(from.greenF() + (to.greenF() - from.greenF()) * k),
                            float(from.blueF() + (to.blueF() - from.blueF()) * k), 1.0f);
}

} // namespace

// Hears the rows of one annotation table under this screenshot.
class Skrin::TableWatcher : public WatcherInterface
{
public:
    TableWatcher(Skrin *scene, const QString &table)
        : scene(scene)
        , table(table)
    {
    }
    // Every row this watcher hears of is one of its table's.
    void onPlus(Id id) override { scene->addItemOfTable(id, table); }
    void onMinus(Id id) override { scene->onItemMinus(id); }

private:
    Skrin *const scene;
    const QString table;
};

Skrin::Skrin(Id skrin)
    : Item(skrin)
{
    // The existing rows arrive while the tables are watched; pins are put
    // above them once, not after each row.
    loadingRows = true;
    const QStringList tables = itemTables();
    for (const QString &table : tables)
        watchItems(table);
    loadingRows = false;
    normaliseZ();

    for (const DrawingTool &drawing : drawingTools()) {
        SkrinToolOptions &options = toolOptions[drawing.tool];
        options.penSize = drawing.penSize;
        options.color = QColor(drawing.colour);
        options.font = QFont(QStringLiteral("Arial"), drawing.fontPoints);
        options.secondColor = Qt::black;
    }

    modifiedTimer = new QTimer(this);
    modifiedTimer->setInterval(modifiedCheckMs);
    connect(modifiedTimer, &QTimer::timeout, this, &Skrin::checkIsModified);
    modifiedTimer->start();

    connect(this, &QGraphicsScene::selectionChanged, this, &Skrin::skrinSelectionChanged);
    setBackgroundBrush(QBrush(Qt::transparent, Qt::SolidPattern));

    watchMembers(QStringLiteral("created"));
}

Skrin::~Skrin()
{
    SkrinBlur::dropSceneCache(this);
    // A text still being edited ends here: one left empty goes with the scene.
    for (SkrinItem *item : std::as_const(skrinItems)) {
        if (auto *text = dynamic_cast<SkrinText *>(item))
            text->stopEditing();
    }
    removeLeaving();
    // Tear down while the scene is whole: no store notice, timer or
    // selection change may reach a half-destroyed scene, and the items'
    // own destructors (which unwatch their rows) still find it intact.
    for (auto &watcher : tableWatchers)
        watcher->unwatch();
    unwatch();
    modifiedTimer->stop();
    disconnect(this, &QGraphicsScene::selectionChanged, this, &Skrin::skrinSelectionChanged);

    // A change made just before the scene closes is recorded all the same.
    if (modified && currentTool != ToolNone && id() != 0) {
        markSkrinDirty(id());
        ::setMember(id(), QStringLiteral("modified"), QDateTime::currentDateTime());
    }
    modified = false;

    const QMap<Id, SkrinItem *> items = std::exchange(skrinItems, {});
    pinCount = 0;
    for (SkrinItem *item : items)
        delete item->graphicsItem();
    clear();
    tableWatchers.clear();
}

void Skrin::watchItems(const QString &table)
{
    WatchFilter filter;
    filter.insert(QStringLiteral("type"), table);
    filter.insert(QStringLiteral("parent"), QVariant(id()));
    tableWatchers.push_back(std::make_unique<TableWatcher>(this, table));
    tableWatchers.back()->watch(filter);
}

QStringList Skrin::itemTables()
{
    return annotationTables();
}

QString Skrin::tableForTool(int tool)
{
    const AnnotationKind *kind = annotationKindOfTool(tool);
    return kind ? QString::fromLatin1(kind->table) : QString();
}

int Skrin::toolForTable(const QString &table)
{
    const AnnotationKind *kind = annotationKind(table);
    return kind ? kind->tool : ToolNone;
}

SkrinToolOptions &Skrin::currentToolOptions()
{
    return toolOptionsOf(currentTool);
}

SkrinToolOptions &Skrin::toolOptionsOf(int tool)
{
    return toolOptions[tool];
}

QGraphicsView *Skrin::view() const
{
    const QList<QGraphicsView *> shown = views();
    return shown.isEmpty() ? nullptr : shown.first();
}

SkrinItem *Skrin::selectedItem() const
{
    const QList<QGraphicsItem *> selected = selectedItems();
    if (selected.size() != 1)
        return nullptr;
    return dynamic_cast<SkrinItem *>(selected.first());
}

void Skrin::notifyTextEditChanged(bool editing)
{
    emit textEditChanged(editing);
}

void Skrin::notifyImageToolChanged(SkrinItem *, int mode)
{
    emit imageToolChanged(mode);
}

void Skrin::removeLater(SkrinItem *item)
{
    if (!item || item->id() == 0)
        return;
    leaving.insert(item->id());
    QTimer::singleShot(0, this, &Skrin::removeLeaving);
}

void Skrin::removeLeaving()
{
    removeRows(std::exchange(leaving, {}).values());
}

// --- Items --------------------------------------------------------------------------------

void Skrin::onItemPlus(Id itemId)
{
    if (!skrinItems.contains(itemId))
        addItemOfTable(itemId, itemType(itemId));
}

void Skrin::addItemOfTable(Id itemId, const QString &table)
{
    if (skrinItems.contains(itemId))
        return;
    SkrinItem *item = createSkrinItem(table, itemId, this);
    if (!item)
        return;
    QGraphicsItem *graphics = item->graphicsItem();
    // Known before it is selected: whoever hears of the selection asks
    // which tool the selected annotation belongs to.
    skrinItems.insert(itemId, item);
    if (!item->isPartOfPicture())
        ++pinCount;

    // An image joins the scene itself once its row has been read.
    if (table != imageTable)
        addItem(graphics);
    if (pendingSelection.remove(itemId) || selectArrivals) {
        graphics->show();
        graphics->setSelected(true);
    }
    if (itemId == drawnItemId)
        startEditingNewItem(item);
    item->setTool(currentTool);
    if (item->isPartOfPicture())
        graphics->setVisible(itemsVisible);

    if (!loadingRows)
        normaliseZ();
}

void Skrin::onItemMinus(Id itemId)
{
    SkrinItem *item = skrinItems.take(itemId);
    if (!item)
        return;
    if (!item->isPartOfPicture())
        --pinCount;
    delete item->graphicsItem();
}

double Skrin::maxZ() const
{
    if (skrinItems.isEmpty())
        return 0.0;
    double highest = -std::numeric_limits<double>::infinity();
    for (SkrinItem *item : skrinItems)
        highest = std::max(highest, item->graphicsItem()->zValue());
    return highest;
}

void Skrin::normaliseZ()
{
    // Without pins there is nothing to put above: no walk over every item
    // each time one arrives.
    if (pinCount == 0)
        return;
    bool anyPicture = false;
    double highestPicture = 0.0;
    QList<QGraphicsItem *> pins;
    double lowestPin = 0.0;
    for (SkrinItem *item : std::as_const(skrinItems)) {
        const double z = item->graphicsItem()->zValue();
        if (item->isPartOfPicture()) {
            highestPicture = anyPicture ? std::max(highestPicture, z) : z;
            anyPicture = true;
        } else {
            lowestPin = pins.isEmpty() ? z : std::min(lowestPin, z);
            pins.append(item->graphicsItem());
        }
    }
    if (!anyPicture || pins.isEmpty() || highestPicture <= lowestPin)
        return;

    std::stable_sort(pins.begin(), pins.end(),
                     [](const QGraphicsItem *a, const QGraphicsItem *b) { return a->zValue() < b->zValue(); });
    double z = maxZ();
    for (QGraphicsItem *pin : std::as_const(pins)) {
        z += 1.0;
        pin->setZValue(z);
    }
}

void Skrin::setItemsVisible(bool visible)
{
    itemsVisible = visible;
    const QList<QGraphicsItem *> all = items();
    for (QGraphicsItem *graphics : all) {
        auto *item = dynamic_cast<SkrinItem *>(graphics);
        if (item && item->isPartOfPicture())
            graphics->setVisible(visible);
    }
}

void Skrin::skrinSelectionChanged()
{
    const QList<QGraphicsItem *> selected = selectedItems();
    const int count = int(selected.size());
    for (QGraphicsItem *graphics : selected) {
        if (auto *item = dynamic_cast<SkrinItem *>(graphics))
            item->selectionCountChanged(count);
    }
}

// --- Tools --------------------------------------------------------------------------------

void Skrin::setTool(int tool)
{
    if (tool == currentTool)
        return;
    const int oldTool = currentTool;
    if (oldTool == ToolNone) {
        // Notices raised in view mode come from loading, never from the
        // user: they are dropped, as the next check would drop them.
        modified = false;
    } else if (tool == ToolNone) {
        // A stroke made just before returning to view mode is recorded now:
        // the check would drop it once view mode is current.
        checkIsModified();
    }
    currentTool = tool;

    QGraphicsView *v = view();
    if (tool == ToolSelect) {
        emit toolChanged(tool);
        creating = false;
        if (v)
            v->setDragMode(QGraphicsView::RubberBandDrag);
    } else {
        clearSelection();
        emit toolChanged(tool);
        creating = false;
        if (v && tool != ToolNone)
            v->setDragMode(QGraphicsView::NoDrag);
    }

    const QMap<Id, SkrinItem *> items = skrinItems;
    for (SkrinItem *item : items)
        item->setTool(tool);

    if (oldTool == ToolNone)
        setItemsVisible(true);

    // The paste tools act once and leave the selection tool current.
    if (tool == ToolPasteFile) {
        setTool(ToolSelect);
        pasteFile();
    } else if (tool == ToolPasteClipboard) {
        setTool(ToolSelect);
        pasteClipboard();
    } else if (tool == ToolPasteCapture) {
        setTool(ToolSelect);
        if (!shootPrecise(this, &Skrin::onShoot, true))
            qCInfo(lcEditor) << "a capture is running already";
    }

    if (v) {
        // Texts and notes are placed where the click is.
        const DrawingTool *drawing = drawingTool(tool);
        const bool placing = drawing && (drawing->gesture == Gesture::Text || drawing->gesture == Gesture::Note);
        const Qt::CursorShape wanted = placing ? Qt::IBeamCursor : Qt::ArrowCursor;
        if (v->viewport()->cursor().shape() != wanted)
            v->viewport()->setCursor(wanted);
    }

    if (tool == ToolNone || oldTool == ToolNone)
        updateGood();
}


// --- Modified tracking --------------------------------------------------------------------

void Skrin::checkIsModified()
{
    if (!modified)
        return;
    modified = false;
    if (id() != 0 && currentTool != ToolNone)
        recordModified();
}

void Skrin::recordModified()
{
    markSkrinDirty(id());
    Item::setMember(QStringLiteral("modified"), QDateTime::currentDateTime(), true);
}

// --- The screenshot's own row ---------------------------------------------------------------

void Skrin::init()
{
    if (pictureCache.isNull())
        updateGood2();
}

void Skrin::set(const QString &member, const QVariant &)
{
    static const QStringList repainting = {QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("w"),
                                           QStringLiteral("h"), QStringLiteral("file")};
    if (repainting.contains(member))
        updateGood2();
}

void Skrin::remove() {}

// --- Painting -----------------------------------------------------------------------------

void Skrin::updateGood()
{
    if (QGraphicsView *v = view())
        v->invalidateScene(QRectF(), QGraphicsScene::AllLayers);
    invalidate(QRectF(), QGraphicsScene::AllLayers);
    repaintArmed = true;
}

void Skrin::updateGood2()
{
    if (!repaintArmed)
        return;
    updateGood();
    repaintArmed = false;
    QTimer::singleShot(repaintDelayMs, this, &Skrin::updateGood);
}

double Skrin::viewPixelWidth() const
{
    const QGraphicsView *v = view();
    return v ? v->mapToScene(QRect(0, 0, 1, 1)).boundingRect().width() : 1.0;
}

// On a 1.25x or 1.5x screen a point of the view may lie between picture
// pixels: what is put there goes onto the pixel it is on, not across two.
QPointF Skrin::pixelAtViewPoint(const QPoint &point) const
{
    const QGraphicsView *v = view();
    if (!v)
        return {};
    const QPointF at = v->mapToScene(point);
    return {std::floor(at.x() + 1e-6), std::floor(at.y() + 1e-6)};
}

QRectF Skrin::pictureRect(bool *found) const
{
    *found = true;
    if (!itemsVisible) {
        return QRectF(memberReal(QStringLiteral("x")), memberReal(QStringLiteral("y")),
                      memberReal(QStringLiteral("w")), memberReal(QStringLiteral("h")));
    }
    if (currentTool != ToolNone) {
        *found = false;
        return QRectF();
    }
    QRectF united;
    for (SkrinItem *item : skrinItems) {
        if (!item->isPartOfPicture())
            continue;
        const QGraphicsItem *graphics = item->graphicsItem();
        united = united.united(graphics->boundingRect().translated(graphics->pos()));
    }
    return united;
}

void Skrin::drawShadow(QPainter *painter, const QRectF &picture) const
{
    const QGraphicsView *v = view();
    const QRectF onView = v ? QRectF(v->mapFromScene(picture).boundingRect()) : picture;
    const double x = onView.x(), y = onView.y(), w = onView.width(), h = onView.height();
    if (w <= 2.0 || h <= 2.0)
        return;

    const QColor dark(0x6c, 0x6c, 0x6c);
    painter->save();
    painter->resetTransform();
    painter->setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < 6; ++i) {
        const double k = 1.0 - std::pow(1.0 - i / 6.0, 3);
        painter->setPen(QPen(mix(dark, backgroundColor(), k), 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        const double o = 0.5 * i;
        const auto line = [painter](double x1, double y1, double x2, double y2) {
            painter->drawLine(QLineF(std::trunc(x1), std::trunc(y1), std::trunc(x2), std::trunc(y2)));
        };
        line(x - o, y - i, x + w + o, y - i);
        line(x + w + i, y - o, x + w + i, y + h + o);
        line(x - o, y + h + i, x + w + o, y + h + i);
        line(x - i, y - o, x - i, y + h + o);
    }
    painter->restore();
}

void Skrin::drawBackground(QPainter *painter, const QRectF &)
{
    // Blurs paint from a picture of what lies below them, made afresh for
    // the item painting that follows.
    if (itemsVisible) {
        const bool anyBlur = std::any_of(skrinItems.cbegin(), skrinItems.cend(),
                                         [](SkrinItem *item) { return dynamic_cast<SkrinBlur *>(item); });
        if (anyBlur)
            SkrinBlur::sceneCache(this);
    }

    const QGraphicsView *v = view();

    painter->save();
    painter->resetTransform();
    const double stripWidth = v ? 64.0 : 1.0;
    QLinearGradient strip(0, 0, stripWidth, 0);
    strip.setColorAt(0.0, QColor(220, 220, 220));
    strip.setColorAt(1.0, backgroundColor());
    painter->fillRect(QRectF(0, 0, stripWidth, v ? v->height() : 1.0), strip);
    painter->restore();

    bool found = false;
    const QRectF picture = pictureRect(&found);
    if (!found || !isSaneRect(picture))
        return;
    drawShadow(painter, picture);

    if (itemsVisible)
        return;
    const QPixmap loaded = pixmap(QStringLiteral("file"));
    if (!loaded.isNull())
        pictureCache = loaded;
    if (!pictureCache.isNull()) {
        painter->drawPixmap(picture, pictureCache, QRectF(pictureCache.rect()));
        return;
    }
    painter->save();
    QFont font = painter->font();
    font.setPointSize(std::max(1, int(10 * viewPixelWidth())));
    painter->setFont(font);
    painter->drawText(picture, Qt::AlignCenter, tr("Loading"));
    painter->restore();
}
