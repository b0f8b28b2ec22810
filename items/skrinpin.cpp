#include "skrinpin.h"

#include "itemchange_p.h"
#include "paintlimits.h"
#include "skrinpintext.h"

#include <QCursor>
#include <QGraphicsSceneMouseEvent>
#include <QHash>
#include <QImage>
#include <QLineF>
#include <QPainter>

namespace {
// A press and release closer than this (in screen pixels) is a click.
constexpr double clickDistance = 4.0;

// The icon as drawn, black on white, decoded once (GUI thread only, like
// every pixmap). A missing resource gives a null image and an empty icon.
const QImage &iconSource()
{
    static const QImage source = QImage(QStringLiteral(":/rc/ico3b.png")).convertToFormat(QImage::Format_ARGB32);
    return source;
}

// The icon in a colour: black takes the colour, white turns clear, greys
// give a darker, partly clear colour. A screenshot holds many pins in few
// colours, so each colour is tinted once (kept as images: no pixmap may
// outlive the application object).
QImage tintedIcon(const QColor &colour)
{
    static QHash<QRgb, QImage> tinted;
    const QRgb key = colour.rgb();
    const auto known = tinted.constFind(key);
    if (known != tinted.cend())
        return known.value();
    QImage image = iconSource();
    const int red = colour.red();
    const int green = colour.green();
    const int blue = colour.blue();
    for (int y = 0; y < image.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            // Each pixel is read as opaque: its own alpha plays no part.
            const QRgb pixel = line[x];
            line[x] = qRgba(red * (255 - qRed(pixel)) / 255, green * (255 - qGreen(pixel)) / 255,
                            blue * (255 - qBlue(pixel)) / 255, 255 - qBlue(pixel));
        }
    }
    if (tinted.size() > 64)
        tinted.clear();
    tinted.insert(key, image);
    return image;
}
} // namespace

SkrinPin::SkrinPin(Id id, SkrinHost *skrin)
    : SkrinItem(id, skrin)
    , QGraphicsItem(nullptr)
{
    icon = QPixmap(iconSource().size());
    icon.fill(Qt::transparent);
    noteItem = new SkrinPinText;
    noteItem->setPin(this);
    // A remark for the viewer, no part of the picture: like the handles it
    // keeps its size on the screen, whatever the screen's density.
    setFlags(ItemIsMovable | ItemIsSelectable | ItemIsFocusable | ItemSendsScenePositionChanges
             | ItemIgnoresTransformations);
    setVisible(false);
    noteItem->setDefaultTextColor(Qt::black);
    noteItem->setVisible(false);
    watchMembers(QStringLiteral("x,y,z,color,data,opened"));
    setCursor(Qt::PointingHandCursor);
}

SkrinPin::~SkrinPin()
{
    // The note goes with the graphics part, after this part is gone: it must
    // not reach back into it.
    noteItem->setPin(nullptr);
    delete noteItem;
}

void SkrinPin::setTool(int tool)
{
    setFlag(ItemIsMovable, tool != 0);
    setFlag(ItemIsSelectable, tool != 0);
    if (tool == 0)
        noteItem->stopEditing();
}

void SkrinPin::toggleNote()
{
    const bool open = !noteItem->isVisible();
    noteItem->setVisible(open);
    storeMember(QStringLiteral("opened"), open ? 1 : 0, true);
}

void SkrinPin::placeNote()
{
    noteItem->placeClose();
    const QRectF pinRect = boundingRect();
    const QRectF box = noteItem->boundingRect();
    noteItem->setPos(pinRect.center().x() - box.center().x(), pinRect.top() - box.bottom() + 20);
}

void SkrinPin::storeNoteText()
{
    if (noteItem->isTextCut())
        return;
    // Every stop of editing (and each opening of the screenshot) lands here;
    // a text the row already holds needs no write.
    const QString text = noteItem->toPlainText();
    const QVariant stored = member(QStringLiteral("data"));
    if (stored.typeId() == QMetaType::QString && stored.toString() == text)
        return;
    storeMember(QStringLiteral("data"), text, true);
}

QRectF SkrinPin::boundingRect() const
{
    return QRectF(-10, -40, icon.width(), icon.height());
}

void SkrinPin::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *)
{
    const QRectF rect = boundingRect();
    paintSelectionFrame(painter, option, rect);
    painter->drawPixmap(rect.topLeft(), icon);
}

void SkrinPin::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (!(flags() & ItemIsSelectable) && !noteItem->isVisible())
        toggleNote();
    QGraphicsItem::mousePressEvent(event);
    event->accept();
}

void SkrinPin::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    const QLineF travel(event->buttonDownScreenPos(Qt::LeftButton), event->screenPos());
    if (travel.length() < clickDistance && !noteItem->isVisible())
        toggleNote();
    QGraphicsItem::mouseReleaseEvent(event);
    event->accept();
}

void SkrinPin::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    QGraphicsItem::mouseDoubleClickEvent(event);
    event->accept();
}

QVariant SkrinPin::itemChange(GraphicsItemChange change, const QVariant &value)
{
    // A pin's z changes from its row (already stored) or from the scene
    // lifting pins above the picture, which is for display only: writing it
    // would change the row, and queue a commit, each time a screenshot opens.
    if (change != ItemZValueHasChanged)
        storeCommonChange(this, change);
    return QGraphicsItem::itemChange(change, value);
}

void SkrinPin::init()
{
    set(QStringLiteral("x"), member(QStringLiteral("x")));
    set(QStringLiteral("y"), member(QStringLiteral("y")));
    set(QStringLiteral("z"), member(QStringLiteral("z")));
    applyNoteText(member(QStringLiteral("data")));
    noteItem->setVisible(member(QStringLiteral("opened")).toInt() != 0);
    tintIcon(variantToColor(member(QStringLiteral("color"))));
    placeNote();
    setVisible(true);
}

void SkrinPin::set(const QString &name, const QVariant &value)
{
    if (name == QLatin1String("x")) {
        setX(clampCoordinate(value.toDouble()));
    } else if (name == QLatin1String("y")) {
        setY(clampCoordinate(value.toDouble()));
    } else if (name == QLatin1String("z")) {
        setZValue(clampCoordinate(value.toDouble()));
    } else if (name == QLatin1String("data")) {
        applyNoteText(value);
        placeNote();
    } else if (name == QLatin1String("opened")) {
        noteItem->setVisible(value.toInt() != 0);
    } else if (name == QLatin1String("color")) {
        tintIcon(variantToColor(value));
    }
}

void SkrinPin::applyNoteText(const QVariant &value)
{
    noteItem->setStoredText(value.toString());
}

void SkrinPin::tintIcon(const QColor &colour)
{
    pinColor = colour;
    icon = QPixmap::fromImage(tintedIcon(colour));
    update();
}
