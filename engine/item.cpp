#include "item.h"

#include <QScopedValueRollback>

Item::Item(Id id)
    : itemId(id)
{
}

Item::~Item() = default;

void Item::init() {}
void Item::set(const QString &, const QVariant &) {}
void Item::remove() {}

void Item::watchMembers(const QStringList &members)
{
    WatchFilter filter;
    filter.insert(QStringLiteral("id"), QVariant(itemId));
    for (const QString &name : members) {
        const QString trimmed = name.trimmed();
        // A blank name (a trailing comma) would wait for a member that never
        // comes; a null "id" entry would replace the item's own id and watch
        // every item.
        if (!trimmed.isEmpty() && trimmed != QLatin1String("id"))
            filter.insert(trimmed, QVariant());
    }
    watch(filter);
}

void Item::watchMembers(const QString &members)
{
    watchMembers(members.split(QLatin1Char(',')));
}

void Item::setSmooth(const QString &members)
{
    const QStringList names = members.split(QLatin1Char(','));
    for (const QString &name : names) {
        const QString trimmed = name.trimmed();
        if (!trimmed.isEmpty())
            smoothedMembers.insert(trimmed, memberReal(trimmed));
    }
}

QVariant Item::member(const QString &name) const
{
    return getMember(itemId, name);
}

QString Item::memberString(const QString &name) const
{
    return member(name).toString();
}

double Item::memberReal(const QString &name) const
{
    return member(name).toReal();
}

QColor Item::color(const QString &name) const
{
    return variantToColor(member(name));
}

QPixmap Item::pixmap(const QString &name) const
{
    return itemPixmap(itemId, name);
}

QByteArray Item::fileData(const QString &name) const
{
    return itemFileData(itemId, name);
}

void Item::setMember(const QString &name, const QVariant &value)
{
    if (applying)
        return;
    QScopedValueRollback<bool> writing(ownWrite, true);
    Smoother::stop(name);
    ::setMember(itemId, name, value);
}

void Item::setMember(const QString &name, const QVariant &value, bool local)
{
    if (!local) {
        ::setMember(itemId, name, value);
        return;
    }
    setMember(name, value);
    set(name, value);
}

void Item::setColor(const QString &name, const QColor &colour)
{
    setMember(name, colorToVariant(colour), true);
}

void Item::setFileMember(const QString &name, const QByteArray &bytes)
{
    if (applying)
        return;
    QScopedValueRollback<bool> writing(ownWrite, true);
    setMemberFile(itemId, name, bytes);
}

void Item::writeFileMember(const QString &name, const QByteArray &bytes)
{
    setMemberFile(itemId, name, bytes);
}

void Item::removeItem()
{
    ::removeItem(itemId);
}

void Item::onInit()
{
    QScopedValueRollback<bool> applyingNow(applying, true);
    initialised = true;
    init();
    for (auto it = smoothedMembers.begin(); it != smoothedMembers.end(); ++it)
        it.value() = memberReal(it.key());
}

void Item::onSet(const QString &member, const QVariant &value)
{
    if (ownWrite)
        return;
    QScopedValueRollback<bool> applyingNow(applying, true);
    const auto animated = smoothedMembers.find(member);
    if (animated == smoothedMembers.end()) {
        set(member, value);
        return;
    }
    const double to = value.toReal();
    const double from = animated.value();
    animated.value() = to;
    smoothTo(member, from, to);
}

void Item::onRemove()
{
    QScopedValueRollback<bool> applyingNow(applying, true);
    remove();
}

void Item::smoothed(const QString &member, double value)
{
    QScopedValueRollback<bool> applyingNow(applying, true);
    set(member, QVariant(value));
}

QVariant colorToVariant(const QColor &colour)
{
    if (colour.alpha() == 0)
        return QVariant(QString(QLatin1String("")));
    return QVariant(colour.name());
}

QColor variantToColor(const QVariant &value)
{
    const QString text = value.toString();
    if (text.isEmpty())
        return QColor(Qt::transparent);
    return QColor::fromString(text);
}
