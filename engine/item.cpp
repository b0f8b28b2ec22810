#include "item.h"

#include "engine_p.h"

#include <QHash>
#include <QScopedValueRollback>

#include <algorithm>
#include <utility>

Item::Item(Id id)
    : itemId(id)
{
}

Item::~Item() = default;

void Item::init() {}
void Item::set(const QString &, const QVariant &) {}
void Item::remove() {}

namespace {

// What an item watching `members` waits for: their names (trimmed, blanks,
// repeats and "id" dropped) and the filter entries asking for them.
struct MemberWatch
{
    QStringList names;
    WatchFilter filter;
};

MemberWatch memberWatch(const QStringList &members)
{
    MemberWatch watch;
    for (const QString &name : members) {
        const QString trimmed = name.trimmed();
        // A blank name (a trailing comma) would wait for a member that never
        // comes; a null "id" entry would replace the item's own id and watch
        // every item.
        if (!trimmed.isEmpty() && trimmed != QLatin1String("id") && !watch.filter.contains(trimmed)) {
            watch.filter.insert(trimmed, QVariant());
            watch.names.append(trimmed);
        }
    }
    return watch;
}

// The same for a comma-separated list. Every item of a kind passes the same
// list, so each is taken apart once (GUI thread only, like every item).
const MemberWatch &memberWatch(const QString &members)
{
    static QHash<QString, MemberWatch> parsed;
    auto found = parsed.constFind(members);
    if (found == parsed.cend()) {
        if (parsed.size() >= 64)
            parsed.clear();
        found = parsed.insert(members, memberWatch(members.split(QLatin1Char(','))));
    }
    return found.value();
}

const QStringList &memberNames(const QString &members)
{
    return memberWatch(members).names;
}

} // namespace

void Item::watchMembers(const QStringList &members)
{
    const MemberWatch watch = memberWatch(members);
    watchRow(watch.filter, watch.names);
}

void Item::watchMembers(const QString &members)
{
    // Copies (shared, not deep) of the cached lists: init may watch other
    // lists and so change the cache.
    const MemberWatch watch = memberWatch(members);
    watchRow(watch.filter, watch.names);
}

void Item::watchRow(WatchFilter filter, const QStringList &required)
{
    filter.insert(QStringLiteral("id"), QVariant(itemId));
    if (!watchQuietly(filter))
        return;
    // The replay watch() would make, from the one read of the row that init
    // needs anyway: the row a new item was just announced with, or its cells.
    InitRow row;
    bool allSet = false;
    if (const QVariantMap *announced = engine_internal::arrivingRow(itemId, required, &allSet))
        row.members = *announced;
    else
        allSet = engine_internal::readItemCells(itemId, required, &row.names, &row.cells);
    if (!allSet)
        return;
    replayRow = std::move(row);
    onPlus(itemId);
    onInit();
}

const QVariant *Item::InitRow::find(const QString &name) const
{
    if (!members.isEmpty()) {
        const auto found = members.constFind(name);
        return found == members.cend() ? nullptr : &found.value();
    }
    const qsizetype column = names.indexOf(name);
    return column >= 0 && column < cells.size() ? &cells.at(column) : nullptr;
}

void Item::setSmooth(const QString &members)
{
    const QStringList &names = memberNames(members);
    smoothedMembers.reserve(smoothedMembers.size() + names.size());
    for (const QString &name : names) {
        const double start = initialised ? memberReal(name) : 0.0;
        const auto known = std::find_if(smoothedMembers.begin(), smoothedMembers.end(),
                                        [&](const SmoothedMember &m) { return m.name == name; });
        if (known != smoothedMembers.end())
            known->value = start;
        else
            smoothedMembers.append({name, start});
    }
}

QVariant Item::member(const QString &name) const
{
    // The owner is resolved on reading and a file may have to be fetched:
    // both are left to getMember.
    if (initRow && name != QLatin1String("owner") && !isFileMember(name)) {
        if (const QVariant *value = initRow->find(name))
            return *value;
    }
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
    forgetInitRow();
    QScopedValueRollback<bool> writing(ownWrite, true);
    Smoother::stop(name);
    ::setMember(itemId, name, value);
}

void Item::setMember(const QString &name, const QVariant &value, bool local)
{
    if (!local) {
        forgetInitRow();
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
    forgetInitRow();
    QScopedValueRollback<bool> writing(ownWrite, true);
    setMemberFile(itemId, name, bytes);
}

void Item::writeFileMember(const QString &name, const QByteArray &bytes)
{
    forgetInitRow();
    setMemberFile(itemId, name, bytes);
}

void Item::removeItem()
{
    forgetInitRow();
    ::removeItem(itemId);
}

void Item::onInit()
{
    QScopedValueRollback<bool> applyingNow(applying, true);
    // One read of the row (files unresolved: member() leaves those to
    // getMember) instead of one per member init asks for.
    const InitRow row = replayRow.isEmpty() ? InitRow{readItem(itemId, true), {}, {}} : std::exchange(replayRow, {});
    initRow = &row;
    initialised = true;
    init();
    for (SmoothedMember &animated : smoothedMembers)
        animated.value = memberReal(animated.name);
    initRow = nullptr;
}

void Item::onSet(const QString &member, const QVariant &value)
{
    // A change during init makes the row read for it stale.
    forgetInitRow();
    if (ownWrite)
        return;
    QScopedValueRollback<bool> applyingNow(applying, true);
    const auto animated = std::find_if(smoothedMembers.begin(), smoothedMembers.end(),
                                       [&](const SmoothedMember &m) { return m.name == member; });
    if (animated == smoothedMembers.end()) {
        set(member, value);
        return;
    }
    const double to = value.toReal();
    const double from = animated->value;
    animated->value = to;
    smoothTo(member, from, to);
}

void Item::onRemove()
{
    forgetInitRow();
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
