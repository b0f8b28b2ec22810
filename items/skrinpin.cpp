#include "skrinpin.h"

#include "itemchange_p.h"
#include "paintlimits.h"
#include "skrinpintext.h"

#include <QCursor>
#include <QGraphicsSceneMouseEvent>
#include <QImage>
#include <QLineF>
#include <QPainter>

namespace {
const QString iconPath = QStringLiteral(":/rc/ico3b.png");
// A press and release closer than this (in screen pixels) is a click.
constexpr double clickDistance = 4.0;
} // namespace

SkrinPin::SkrinPin(Id id, SkrinHost *skrin)
    : SkrinItem(id, skrin)
    , QGraphicsItem(nullptr)
{
    icon = QPixmap(iconPath);
    noteItem = new SkrinPinText;
    noteItem->setPin(this);
    setFlags(ItemIsMovable | ItemIsSelectable | ItemIsFocusable | ItemSendsScenePositionChanges);
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
    storeMember(QStringLiteral("data"), noteItem->toPlainText(), true);
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
    tintIcon(color(QStringLiteral("color")));
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
    const double red = colour.redF();
    const double green = colour.greenF();
    const double blue = colour.blueF();
    QImage image = QImage(iconPath).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            // The icon is black on white: black takes the pin's colour, white
            // turns clear, greys give a darker, partly clear colour.
            const QRgb pixel = line[x];
            const double qr = qRed(pixel) / 255.0;
            const double qg = qGreen(pixel) / 255.0;
            const double qb = qBlue(pixel) / 255.0;
            line[x] = QColor::fromRgbF(float(red * (1 - qr)), float(green * (1 - qg)), float(blue * (1 - qb)),
                                       float(1 - qb))
                          .rgba();
        }
    }
    icon = QPixmap::fromImage(image);
    update();
}
