#include "skrintext.h"

#include "itemchange_p.h"
#include "paintlimits.h"
#include "showntext_p.h"
#include "skrinhost.h"
#include "storedfont.h"

#include <QGraphicsSceneMouseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QStyleOptionGraphicsItem>
#include <QTextCursor>
#include <QTextDocument>

SkrinText::SkrinText(Id id, SkrinHost *skrin)
    : QGraphicsTextItem(nullptr)
    , SkrinItem(id, skrin)
{
    setVisible(false);
    outlinePen = QPen(Qt::transparent, 0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    setFlags(ItemIsMovable | ItemIsSelectable | ItemIsFocusable | ItemSendsScenePositionChanges);
    setSmooth(QStringLiteral("x,y"));
    watchMembers(QStringLiteral(
        "x,y,z,data,font_name,font_size,color,font_weight,font_italic,font_underline,font_strikeout"));
    connect(document(), &QTextDocument::contentsChanged, this, &SkrinText::contentsChanged);
}

SkrinText::~SkrinText()
{
    // The document goes with the text item; its last signals must not reach
    // a half-destroyed item.
    disconnect(document(), nullptr, this, nullptr);
}

bool SkrinText::isEditing() const
{
    return textInteractionFlags() != Qt::NoTextInteraction;
}

void SkrinText::startEditing(bool selectAll)
{
    // A text cut to what can be shown is never edited: storing it would lose
    // the rest.
    if (isEditing() || textCut)
        return;
    setTextInteractionFlags(Qt::TextEditorInteraction);
    if (selectAll) {
        QTextCursor cursor = textCursor();
        cursor.select(QTextCursor::Document);
        setTextCursor(cursor);
    }
    if (host())
        host()->notifyTextEditChanged(true);
    setFocus(Qt::OtherFocusReason);
}

void SkrinText::stopEditing()
{
    if (isEditing() && !stopping) {
        // Clearing the flags takes the focus, whose loss comes back here: the
        // scene must hear the end once.
        QScopedValueRollback<bool> once(stopping, true);
        if (host())
            host()->notifyTextEditChanged(false);
        setTextInteractionFlags(Qt::NoTextInteraction);
        // Nothing left to show: an empty row would stay invisible for good.
        if (toPlainText().trimmed().isEmpty() && host())
            host()->removeLater(this);
    }
    QTextCursor cursor = textCursor();
    if (cursor.hasSelection()) {
        cursor.clearSelection();
        setTextCursor(cursor);
    }
}

void SkrinText::setTool(int newTool)
{
    tool = newTool;
    if (tool == 0)
        stopEditing();
}

QRectF SkrinText::boundingRect() const
{
    const qreal grow = outlinePen.widthF();
    return QGraphicsTextItem::boundingRect().adjusted(-grow, -grow, grow, grow);
}

QPainterPath SkrinText::shape() const
{
    QPainterPath path;
    path.addRect(boundingRect());
    return path;
}

void SkrinText::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget)
{
    painter->setPen(Qt::NoPen);
    painter->setBrush(Qt::NoBrush);
    // A fresh option keeps the toolkit's own selection and focus outline away.
    const QStyleOptionGraphicsItem plain;
    QGraphicsTextItem::paint(painter, &plain, widget);
    paintSelectionFrame(painter, option, boundingRect());
}

void SkrinText::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    if (tool != 0 && (event->buttons() & Qt::LeftButton))
        startEditing(false);
    QGraphicsTextItem::mouseDoubleClickEvent(event);
}

void SkrinText::focusOutEvent(QFocusEvent *event)
{
    stopEditing();
    QGraphicsTextItem::focusOutEvent(event);
}

void SkrinText::keyPressEvent(QKeyEvent *event)
{
    // Escape ends editing, with whatever modifier; the text stays selected,
    // so Delete then removes it.
    if (isEditing() && event->key() == Qt::Key_Escape) {
        stopEditing();
        event->accept();
        return;
    }
    QGraphicsTextItem::keyPressEvent(event);
}

void SkrinText::contextMenuEvent(QGraphicsSceneContextMenuEvent *event)
{
    // Only selects: the text item's own editing menu is not ours to show.
    setSelected(true);
    event->accept();
}

QVariant SkrinText::itemChange(GraphicsItemChange change, const QVariant &value)
{
    storeCommonChange(this, change);
    return QGraphicsTextItem::itemChange(change, value);
}

void SkrinText::init()
{
    set(QStringLiteral("x"), member(QStringLiteral("x")));
    set(QStringLiteral("y"), member(QStringLiteral("y")));
    set(QStringLiteral("z"), member(QStringLiteral("z")));
    // Colour and font before the text: each change lays the document out
    // again, and an empty one costs nothing.
    setDefaultTextColor(variantToColor(member(QStringLiteral("color"))));
    QFont font = this->font();
    for (const QString &name : fontMemberNames())
        ::applyFontMember(font, name, member(name), PointSizes::Fractional);
    setFont(font);
    applyText(member(QStringLiteral("data")));
    setVisible(true);
}

void SkrinText::set(const QString &name, const QVariant &value)
{
    if (name == QLatin1String("x"))
        setX(clampCoordinate(value.toDouble()));
    else if (name == QLatin1String("y"))
        setY(clampCoordinate(value.toDouble()));
    else if (name == QLatin1String("z"))
        setZValue(clampCoordinate(value.toDouble()));
    else if (name == QLatin1String("data"))
        applyText(value);
    else if (name == QLatin1String("color"))
        setDefaultTextColor(variantToColor(value));
    else if (name.startsWith(QLatin1String("font_")))
        applyFontMember(name, value);
}

void SkrinText::applyFontMember(const QString &name, const QVariant &value)
{
    QFont font = this->font();
    if (::applyFontMember(font, name, value, PointSizes::Fractional))
        setFont(font);
}

void SkrinText::applyText(const QVariant &value)
{
    showStoredText(document(), value.toString(), &textCut);
    if (textCut)
        stopEditing();
}

void SkrinText::contentsChanged()
{
    if (textCut)
        return;
    storeMember(QStringLiteral("data"), toPlainText(), true);
}
