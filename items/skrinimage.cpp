#include "skrinimage.h"

#include "itemchange_p.h"
#include "paintlimits.h"
#include "skrinhost.h"

#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QObject>
#include <QPainter>

#include <algorithm>

namespace {
// The source of a crop stays at least this wide and high (in picture pixels),
// or the whole picture when it is smaller.
constexpr double minimumCropPixels = 10.0;

double storedCoordinate(const QVariant &value)
{
    return clampCoordinate(finiteReal(value));
}

// Keeps `rect` at least one pixel wide and high and, where it fits, inside
// `whole`: a crop never shrinks to nothing.
QRectF keptInside(QRectF rect, const QRectF &whole)
{
    rect.setWidth(std::max(rect.width(), 1.0));
    rect.setHeight(std::max(rect.height(), 1.0));
    rect.moveLeft(std::clamp(rect.left(), whole.left(), std::max(whole.left(), whole.right() - rect.width())));
    rect.moveTop(std::clamp(rect.top(), whole.top(), std::max(whole.top(), whole.bottom() - rect.height())));
    return rect;
}

int truncated(double value)
{
    return int(clampCoordinate(value));
}
} // namespace

SkrinImage::SkrinImage(Id id, SkrinHost *skrin)
    : SkrinItem(id, skrin)
    , QGraphicsItem(nullptr)
    , DotRect(this)
{
    setVisible(false);
    setDotsVisible(false);
    setFlags(ItemIsMovable | ItemIsSelectable | ItemIsFocusable | ItemSendsScenePositionChanges);
    // Before watching: a complete row loads at once, and a cached picture
    // smaller than the minimum lowers it.
    setFlippable(false);
    setMinimumWidth(minimumCropPixels);
    setMinimumHeight(minimumCropPixels);
    setSmooth(QStringLiteral("x,y,src_x,src_y,src_w,src_h"));
    watchMembers(QStringLiteral("x,y,z,src_x,src_y,src_w,src_h,parent"));
}

SkrinImage::~SkrinImage() = default;

void SkrinImage::setMode(int mode)
{
    if (mode == imageMode)
        return;
    prepareGeometryChange();
    if (mode == CropMode) {
        setDotsKind(1);
        setDotVisible(Centre, false);
    } else {
        setDotsKind(0);
        setDotKind(Centre, 2);
        setDotVisible(Centre, true);
    }
    imageMode = mode;
    updateDots();
    if (host())
        host()->notifyImageToolChanged(this, mode);
}

void SkrinImage::resetCrop()
{
    if (picture.isNull())
        return;
    // The shown corner stays where the stored x and y put it: the item moves
    // by the rectangle's offset instead of the picture jumping to the item's
    // origin, so what is stored and what is shown agree.
    const QPointF corner = imageRect.topLeft();
    setImageRect(QRectF(QPointF(0, 0), imageRect.size()));
    setPos(pos() + corner);
    const int width = picture.width();
    const int height = picture.height();
    setMember(QStringLiteral("src_x"), 0, true, true);
    setMember(QStringLiteral("src_y"), 0, true, true);
    setMember(QStringLiteral("src_w"), width, true, true);
    setMember(QStringLiteral("src_h"), height, true, true);
    setMember(QStringLiteral("w"), width, true, true);
    setMember(QStringLiteral("h"), height, true, true);
}

QRectF SkrinImage::usableSource() const
{
    QRectF source = sourceRect.normalized();
    source.setWidth(std::max(source.width(), 1.0));
    source.setHeight(std::max(source.height(), 1.0));
    return source;
}

QRectF SkrinImage::displayRect() const
{
    if (imageMode != CropMode || picture.isNull())
        return imageRect;
    const QRectF source = usableSource();
    const double sx = imageRect.width() / source.width();
    const double sy = imageRect.height() / source.height();
    return QRectF(imageRect.x() - source.x() * sx, imageRect.y() - source.y() * sy, picture.width() * sx,
                  picture.height() * sy);
}

bool SkrinImage::loadPicture()
{
    if (!picture.isNull())
        return true;
    picture = pixmap(QStringLiteral("file"));
    if (picture.isNull())
        return false;
    setMinimumWidth(std::min(double(picture.width()), minimumCropPixels));
    setMinimumHeight(std::min(double(picture.height()), minimumCropPixels));
    return true;
}

void SkrinImage::setImageRect(const QRectF &rect)
{
    prepareGeometryChange();
    imageRect = rect;
}

void SkrinImage::moveImageRectToOrigin()
{
    if (std::abs(imageRect.x()) <= 1e-12 && std::abs(imageRect.y()) <= 1e-12)
        return;
    QRectF moved = imageRect;
    moved.setTopLeft(QPointF(0, 0));
    setImageRect(moved);
    updateDots();
}

void SkrinImage::selectionCountChanged(int selectedCount)
{
    if (!isSelected())
        return;
    setDotsVisible(selectedCount == 1);
    // The centre handle moves the whole picture, which crop mode has no use for.
    if (imageMode == CropMode)
        setDotVisible(Centre, false);
}

QRectF SkrinImage::boundingRect() const
{
    return displayRect().normalized();
}

QPainterPath SkrinImage::shape() const
{
    QPainterPath path;
    path.addRect(boundingRect());
    return path;
}

void SkrinImage::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *)
{
    if (!loadPicture()) {
        painter->drawText(imageRect, Qt::AlignCenter, QObject::tr("Loading"));
    } else if (imageMode == CropMode) {
        const QRectF whole = displayRect();
        painter->drawPixmap(whole, picture, QRectF(0, 0, picture.width(), picture.height()));
        // Darken what lies outside the crop: four bands between the picture's
        // and the crop's edges.
        int xs[] = {truncated(whole.left()), truncated(whole.right()), truncated(imageRect.left()),
                    truncated(imageRect.right())};
        int ys[] = {truncated(whole.top()), truncated(whole.bottom()), truncated(imageRect.top()),
                    truncated(imageRect.bottom())};
        std::sort(std::begin(xs), std::end(xs));
        std::sort(std::begin(ys), std::end(ys));
        const QRect bands[] = {
            QRect(xs[0], ys[0], xs[2] - xs[0], ys[1] - ys[0]),
            QRect(xs[0], ys[1], xs[1] - xs[0], ys[3] - ys[1]),
            QRect(xs[1], ys[2], xs[3] - xs[1], ys[3] - ys[2]),
            QRect(xs[2], ys[0], xs[3] - xs[2], ys[2] - ys[0]),
        };
        painter->setPen(Qt::NoPen);
        for (const QBrush &brush : {QBrush(Qt::black, Qt::Dense6Pattern), QBrush(QColor(0, 0, 0, 150))}) {
            painter->setBrush(brush);
            for (const QRect &band : bands)
                painter->drawRect(band);
        }
    } else {
        painter->drawPixmap(imageRect, picture, usableSource());
    }
    paintSelectionFrame(painter, option, imageRect);
}

QRectF SkrinImage::cropSource(QRectF &shown)
{
    const QRectF whole(0, 0, picture.width(), picture.height());
    QRectF source = sourceRect.normalized().intersected(whole);
    const QRectF before = dotsRect();
    // Picture pixels per item unit; the floors keep empty rectangles defined.
    const double sx = std::max(source.width(), 1 / whole.width()) / std::max(before.width(), 1 / whole.width());
    const double sy =
        std::max(source.height(), 1 / whole.height()) / std::max(before.height(), 1 / whole.height());
    source.setLeft(source.left() + (shown.left() - before.left()) * sx);
    source.setTop(source.top() + (shown.top() - before.top()) * sy);
    source.setRight(source.right() + (shown.right() - before.right()) * sx);
    source.setBottom(source.bottom() + (shown.bottom() - before.bottom()) * sy);

    // Too small a source grows away from the dragged edge, then back inside
    // the picture.
    const double minWidth = std::min(whole.width(), minimumCropPixels);
    const double minHeight = std::min(whole.height(), minimumCropPixels);
    if (source.width() < minWidth || source.height() < minHeight) {
        if (source.width() < minWidth) {
            if (shown.left() != before.left())
                source.setLeft(source.right() - minWidth);
            else
                source.setWidth(minWidth);
        }
        if (source.height() < minHeight) {
            if (shown.top() != before.top())
                source.setTop(source.bottom() - minHeight);
            else
                source.setHeight(minHeight);
        }
        source = keptInside(source.normalized(), whole);
    }
    const QRectF unclipped = source;
    source = keptInside(source.normalized().intersected(whole), whole);
    // A handle dragged past the picture's edge stops the shown edge there.
    shown.setLeft(shown.left() + (source.left() - unclipped.left()) / sx);
    shown.setTop(shown.top() + (source.top() - unclipped.top()) / sy);
    shown.setRight(shown.right() + (source.right() - unclipped.right()) / sx);
    shown.setBottom(shown.bottom() + (source.bottom() - unclipped.bottom()) / sy);
    return source;
}

void SkrinImage::setRect(const QRectF &rect)
{
    QRectF shown = rect;
    if (imageMode == CropMode && loadPicture()) {
        sourceRect = cropSource(shown);
        storeMember(QStringLiteral("src_x"), sourceRect.x(), true);
        storeMember(QStringLiteral("src_y"), sourceRect.y(), true);
        storeMember(QStringLiteral("src_w"), sourceRect.width(), true);
        storeMember(QStringLiteral("src_h"), sourceRect.height(), true);
    }
    setImageRect(shown);
    storeMember(QStringLiteral("w"), shown.width(), true);
    storeMember(QStringLiteral("h"), shown.height(), true);
    storeMember(QStringLiteral("x"), x() + shown.x(), true);
    storeMember(QStringLiteral("y"), y() + shown.y(), true);
}

void SkrinImage::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    QGraphicsItem::mouseMoveEvent(event);
}

void SkrinImage::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    QGraphicsItem::mouseDoubleClickEvent(event);
    setMode(imageMode == CropMode ? ResizeMode : CropMode);
}

QVariant SkrinImage::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemSelectedHasChanged && !value.toBool()) {
        setMode(NoMode);
        setDotsVisible(false);
    }
    storeCommonChange(this, change, imageRect.topLeft());
    return QGraphicsItem::itemChange(change, value);
}

void SkrinImage::init()
{
    setZValue(storedCoordinate(member(QStringLiteral("z"))));
    sourceRect = QRectF(storedCoordinate(member(QStringLiteral("src_x"))),
                        storedCoordinate(member(QStringLiteral("src_y"))),
                        storedCoordinate(member(QStringLiteral("src_w"))),
                        storedCoordinate(member(QStringLiteral("src_h"))));
    setPos(storedCoordinate(member(QStringLiteral("x"))), storedCoordinate(member(QStringLiteral("y"))));
    setImageRect(QRectF(0, 0, storedCoordinate(member(QStringLiteral("w"))),
                        storedCoordinate(member(QStringLiteral("h")))));
    updateDots();
    loadPicture();
    // The scene adds every other kind itself; the image joins once its row
    // has been read. It stays hidden until the scene shows it.
    QGraphicsScene *scene = host() ? host()->hostScene() : nullptr;
    if (scene && this->scene() != scene)
        scene->addItem(this);
}

void SkrinImage::set(const QString &name, const QVariant &value)
{
    const double v = storedCoordinate(value);
    if (name == QLatin1String("z")) {
        setZValue(v);
    } else if (name == QLatin1String("x")) {
        setX(v);
        moveImageRectToOrigin();
    } else if (name == QLatin1String("y")) {
        setY(v);
        moveImageRectToOrigin();
    } else if (name == QLatin1String("w")) {
        setImageRect(QRectF(0, 0, v, imageRect.height()));
        updateDots();
    } else if (name == QLatin1String("h")) {
        setImageRect(QRectF(0, 0, imageRect.width(), v));
        updateDots();
    } else if (name.startsWith(QLatin1String("src_"))) {
        if (name == QLatin1String("src_x"))
            sourceRect.setLeft(v);
        else if (name == QLatin1String("src_y"))
            sourceRect.setTop(v);
        else if (name == QLatin1String("src_w"))
            sourceRect.setWidth(v);
        else if (name == QLatin1String("src_h"))
            sourceRect.setHeight(v);
        else
            return;
        prepareGeometryChange(); // the crop mode's outline follows the source
        updateDots();
        update();
    } else if (name == QLatin1String("file")) {
        loadPicture();
        update();
    }
}

void SkrinImage::remove()
{
    // The scene deletes the item when its row goes.
}
