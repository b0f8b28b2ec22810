// The watch registry: one WatcherInternal per distinct filter, indexed by item
// id (item filters) and by one anchoring entry (open filters), so that a
// change is offered only to the watchers it can concern.

#include "watcher.h"

#include "enginelog.h"

#include "engine_p.h"
#include "engineglobals_p.h"
#include "watcherinternal_p.h"

#include "database.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QScopedValueRollback>
#include <QThread>
#include <QVarLengthArray>

#include <algorithm>
#include <functional>
#include <limits>

using namespace engine_internal;

namespace {

const QString idKey = QStringLiteral("id");
const QString typeKey = QStringLiteral("type");

// --- Open-filter index --------------------------------------------------------------
//
// An open filter with a non-null entry k = v can only match an item whose
// member k equals v (cell equality, member on the left). Such a watcher is
// filed under k and a key derived from v: the integer v stands for when it has
// one (5, "5", 5.0, " 5"), else its text. A change is then offered to the
// watchers filed under the keys of the item's old and new member values, and
// to every watcher of k when a member value has a type for which that
// derivation proves nothing (a bool, a date, a non-integral number). Filters
// without such an entry (the empty filter, only null entries) get every change.
//
// Integer-anchored watchers are further split by the item type their filter
// names (most open filters are a parent and a type: the kinds of an open
// screenshot), so that an item is offered only to the watchers of its type.

using WatcherSet = QSet<WatcherInternal *>;

struct AnchorBuckets
{
    // Anchoring integer -> the filter's item type ("" for any) -> watchers.
    QHash<qint64, QHash<QString, WatcherSet>> integers;
    QHash<QString, WatcherSet> texts;
    WatcherSet all;
};

QHash<QString, AnchorBuckets> openAnchors;
QSet<WatcherInternal *> unanchoredOpen;
Id lastWatcherId = 0;

bool isNumberType(int type)
{
    switch (type) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

void chooseAnchor(WatcherInternal *watcher)
{
    const WatchFilter &filter = watcher->filter;
    for (auto it = filter.cbegin(); it != filter.cend(); ++it) {
        const int type = it.value().metaType().id();
        if (isNullValue(it.value()) || (!isNumberType(type) && type != QMetaType::QString))
            continue;
        bool ok = false;
        const qint64 integer = idFromVariant(it.value(), &ok);
        if (ok) {
            watcher->anchor = WatcherInternal::Anchor::Integer;
            watcher->anchorKey = it.key();
            watcher->anchorInteger = integer;
            // Only a table's name: the type member then matches it by its
            // text alone (no number or date reading of it).
            const QVariant type = filter.value(typeKey);
            if (it.key() != typeKey && type.typeId() == QMetaType::QString && syncedTables.contains(type.toString()))
                watcher->anchorType = type.toString();
            return;
        }
    }
    for (auto it = filter.cbegin(); it != filter.cend(); ++it) {
        if (it.value().metaType().id() == QMetaType::QString && !isNullValue(it.value())) {
            watcher->anchor = WatcherInternal::Anchor::Text;
            watcher->anchorKey = it.key();
            watcher->anchorText = it.value().toString();
            return;
        }
    }
    watcher->anchor = WatcherInternal::Anchor::None;
}

void fileOpenWatcher(WatcherInternal *watcher)
{
    chooseAnchor(watcher);
    if (watcher->anchor == WatcherInternal::Anchor::None) {
        unanchoredOpen.insert(watcher);
        return;
    }
    AnchorBuckets &buckets = openAnchors[watcher->anchorKey];
    buckets.all.insert(watcher);
    if (watcher->anchor == WatcherInternal::Anchor::Integer)
        buckets.integers[watcher->anchorInteger][watcher->anchorType].insert(watcher);
    else
        buckets.texts[watcher->anchorText].insert(watcher);
}

void unfileOpenWatcher(WatcherInternal *watcher)
{
    if (watcher->anchor == WatcherInternal::Anchor::None) {
        unanchoredOpen.remove(watcher);
        return;
    }
    auto found = openAnchors.find(watcher->anchorKey);
    if (found == openAnchors.end())
        return;
    AnchorBuckets &buckets = found.value();
    buckets.all.remove(watcher);
    if (watcher->anchor == WatcherInternal::Anchor::Integer) {
        auto bucket = buckets.integers.find(watcher->anchorInteger);
        if (bucket != buckets.integers.end()) {
            auto typed = bucket->find(watcher->anchorType);
            if (typed != bucket->end() && (typed->remove(watcher), typed->isEmpty()))
                bucket->erase(typed);
            if (bucket->isEmpty())
                buckets.integers.erase(bucket);
        }
    } else {
        auto bucket = buckets.texts.find(watcher->anchorText);
        if (bucket != buckets.texts.end() && (bucket->remove(watcher), bucket->isEmpty()))
            buckets.texts.erase(bucket);
    }
    if (buckets.all.isEmpty())
        openAnchors.erase(found);
}

// The watchers of `buckets` that an item whose member holds `value` may
// match; `itemType` is the item's type, null when not known.
// Watchers collected from several sets, which may repeat one.
using WatcherHits = QVarLengthArray<WatcherInternal *, 16>;

void addAll(const WatcherSet &watchers, WatcherHits &out)
{
    for (WatcherInternal *watcher : watchers)
        out.append(watcher);
}

void collectAnchored(const AnchorBuckets &buckets, const QVariant &value, const QVariant *itemType, WatcherHits &out)
{
    if (!value.isValid())
        return; // a value without a type equals no anchoring value
    const int type = value.metaType().id();
    const auto addInteger = [&](qint64 integer) {
        const auto bucket = buckets.integers.constFind(integer);
        if (bucket == buckets.integers.cend())
            return;
        if (!itemType || !itemType->isValid()) {
            for (const WatcherSet &typed : bucket.value())
                addAll(typed, out);
            return;
        }
        for (const QString &wanted : {QString(), itemType->toString()}) {
            const auto typed = bucket->constFind(wanted);
            if (typed != bucket->cend())
                addAll(typed.value(), out);
        }
    };
    const auto addText = [&](const QString &text) {
        const auto bucket = buckets.texts.constFind(text);
        if (bucket != buckets.texts.cend())
            addAll(bucket.value(), out);
    };
    bool ok = false;
    if (type == QMetaType::QString) {
        const QString text = value.toString();
        addText(text);
        const qint64 integer = idFromVariant(value, &ok);
        if (ok && !text.isNull())
            addInteger(integer);
    } else if (isNumberType(type)) {
        const qint64 integer = idFromVariant(value, &ok);
        if (ok)
            addInteger(integer);
        else
            addAll(buckets.all, out);
    } else {
        addAll(buckets.all, out);
    }
}

using Candidate = QPair<Id, WatcherInternal *>;

QList<Candidate> itemCandidates(Id item)
{
    QList<Candidate> result;
    for (auto it = watchersByItem.constFind(item); it != watchersByItem.cend() && it.key() == item; ++it)
        result.append({it.value()->watcherId, it.value()});
    return result;
}

// Open watchers that may care about an item whose members were `members`
// and, when `member` is given, whose `member` became `value`.
QList<Candidate> openCandidates(const QVariantMap &members, const QString *member, const QVariant *value,
                               const QVariant *oldValue = nullptr)
{
    WatcherHits hits;
    addAll(unanchoredOpen, hits);
    // A change of the type itself leaves the item's type unknown here.
    const auto typeEntry = members.constFind(typeKey);
    const QVariant *itemType
        = (member && *member == typeKey) || typeEntry == members.cend() ? nullptr : &typeEntry.value();
    for (auto it = openAnchors.cbegin(); it != openAnchors.cend(); ++it) {
        const bool changed = member && *member == it.key();
        collectAnchored(it.value(), changed && oldValue ? *oldValue : members.value(it.key()), itemType, hits);
        if (changed)
            collectAnchored(it.value(), *value, itemType, hits);
    }
    std::sort(hits.begin(), hits.end());
    QList<Candidate> result;
    result.reserve(hits.size());
    for (auto hit = hits.cbegin(); hit != hits.cend(); ++hit) {
        if (hit == hits.cbegin() || *hit != *(hit - 1))
            result.append({(*hit)->watcherId, *hit});
    }
    return result;
}

// Offers a change to the candidates in ascending watcher id (newest first).
// A watcher that left the registry meanwhile is skipped; one made meanwhile
// is not among the candidates.
void walk(QList<Candidate> candidates, const std::function<void(WatcherInternal *)> &call)
{
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate &a, const Candidate &b) { return a.first < b.first; });
    for (const Candidate &candidate : std::as_const(candidates)) {
        if (watcherById.value(candidate.first) != candidate.second)
            continue;
        call(candidate.second);
    }
}

// The item notifyItemArrived is announcing, with its members as the
// notification carries them: the Items the announcement makes read their
// row from here rather than from the store again. Registry thread only;
// forgotten when the item changes meanwhile.
struct Arrival
{
    Id id;
    const QVariantMap *members;
    const QStringList *stored;
};
const Arrival *arriving = nullptr;

void forgetArrival(Id id)
{
    if (arriving && arriving->id == id)
        arriving = nullptr;
}

// The registry belongs to the GUI thread; a notification raised elsewhere (a
// thumbnail job writing its files) is handed over whole and walked there.
void dispatch(std::function<void()> notification)
{
    if (onRegistryThread())
        notification();
    else
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(notification),
                                  Qt::QueuedConnection);
}

bool sameFilter(const WatchFilter &a, const WatchFilter &b)
{
    if (a.size() != b.size())
        return false;
    for (auto x = a.cbegin(), y = b.cbegin(); x != a.cend(); ++x, ++y) {
        if (x.key() != y.key() || x.value().metaType() != y.value().metaType() || x.value() != y.value())
            return false;
    }
    return true;
}

Id itemIdOfFilter(const WatchFilter &filter)
{
    bool ok = false;
    const Id id = idFromVariant(filter.value(idKey), &ok);
    return ok ? id : 0;
}

Id nextWatcherId()
{
    const QString name = QStringLiteral("watcherAutodecrement");
    static int counterRow = 0;
    bool ok = false;
    const Id stored = idFromVariant(counterOption(name, &counterRow), &ok);
    // The counter lives in the store, which a log-in reset empties; the
    // process keeps its own low-water mark so that no id comes twice. A
    // stored value near the lowest id is damaged, not a mark to follow:
    // counting on from it would run out of ids and wrap round.
    if (ok && stored > std::numeric_limits<Id>::min() / 2)
        lastWatcherId = qMin(lastWatcherId, stored);
    const Id id = qMin(lastWatcherId, Id(0)) - 1;
    lastWatcherId = id;
    setCounterOption(name, QVariant(id), &counterRow);
    return id;
}

WatcherInternal *watcherForFilter(const WatchFilter &filter, size_t hash)
{
    auto *watcher = new WatcherInternal(nextWatcherId(), filter);
    watcherById.insert(watcher->watcherId, watcher);
    watcherByFilter.insert(hash, watcher);
    if (filterHasItemId(filter)) {
        itemWatcherById.insert(watcher->watcherId, watcher);
        watchersByItem.insert(itemIdOfFilter(filter), watcher);
    } else {
        openWatcherById.insert(watcher->watcherId, watcher);
        fileOpenWatcher(watcher);
    }
    return watcher;
}

WatcherInternal *watcherFor(const WatchFilter &filter)
{
    const size_t hash = filterHash(filter);
    for (auto it = watcherByFilter.constFind(hash); it != watcherByFilter.cend() && it.key() == hash; ++it) {
        if (it.value() && sameFilter(it.value()->filter, filter))
            return it.value();
    }
    return watcherForFilter(filter, hash);
}

void removeWatcher(Id watcherId)
{
    WatcherInternal *watcher = watcherById.take(watcherId);
    if (!watcher)
        return;
    watcherByFilter.remove(filterHash(watcher->filter), watcher);
    for (WatcherInterface *watcherInterface : std::as_const(watcher->interfaces)) {
        if (interfaceWatcher.value(watcherInterface, 0) == watcherId)
            interfaceWatcher.remove(watcherInterface);
    }
    if (filterHasItemId(watcher->filter)) {
        itemWatcherById.remove(watcherId);
        watchersByItem.remove(itemIdOfFilter(watcher->filter), watcher);
    } else {
        openWatcherById.remove(watcherId);
        unfileOpenWatcher(watcher);
    }
    // A delivery in progress may still be using it.
    watcher->deleteLater();
}

bool refuseOffThread(const char *what)
{
    if (onRegistryThread())
        return false;
    qCWarning(lcEngine).noquote() << what << ": the watch registry is used on the GUI thread only; ignored";
    return true;
}

Id localIdOf(Id item)
{
    StoreLock lock;
    return toLocalId(lock, item);
}

} // namespace

namespace engine_internal {

bool onRegistryThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

} // namespace engine_internal

// --- WatcherInternal --------------------------------------------------------------------

WatcherInternal::WatcherInternal(Id id, const WatchFilter &watchedFilter)
    : watcherId(id)
    , filter(watchedFilter)
{
}

void WatcherInternal::addReceiver(const char *signal, QObject *receiver, const char *slot)
{
    connect(this, signal, receiver, slot, Qt::AutoConnection);
    addReceiver(receiver);
}

void WatcherInternal::addReceiver(QObject *receiver)
{
    receivers.insert(receiver);
    connect(receiver, &QObject::destroyed, this, &WatcherInternal::receiverDestroyed, Qt::UniqueConnection);
}

void WatcherInternal::addInterface(WatcherInterface *watcherInterface)
{
    if (!interfaces.contains(watcherInterface))
        interfaces.append(watcherInterface);
    interfaceWatcher.insert(watcherInterface, watcherId);
}

void WatcherInternal::removeInterface(WatcherInterface *watcherInterface)
{
    if (interfaces.isEmpty())
        return;
    if (interfaces.removeOne(watcherInterface) && interfaces.isEmpty() && receivers.isEmpty())
        removeWatcher(watcherId);
}

void WatcherInternal::receiverDestroyed(QObject *receiver)
{
    if (receivers.remove(receiver) && interfaces.isEmpty() && receivers.isEmpty())
        removeWatcher(watcherId);
}

bool WatcherInternal::matches(const QVariantMap &members) const
{
    static const QVariant absent;
    const auto entryHolds = [&](WatchFilter::const_iterator entry) {
        const auto member = members.constFind(entry.key());
        return entryMatches(entry.value(), member == members.cend() ? absent : member.value());
    };
    // An open watcher was offered the item by its anchoring entry, which
    // therefore holds more often than the others: it is tried last.
    auto anchorEntry = filter.cend();
    for (auto it = filter.cbegin(); it != filter.cend(); ++it) {
        if (anchor != Anchor::None && anchorEntry == filter.cend() && it.key() == anchorKey)
            anchorEntry = it;
        else if (!entryHolds(it))
            return false;
    }
    return anchorEntry == filter.cend() || entryHolds(anchorEntry);
}

void WatcherInternal::memberChanged(Id id, const QVariantMap &oldMembers, const QString &member,
                                    const QVariant &oldValue, const QVariant &value)
{
    const auto idEntry = filter.constFind(idKey);
    if (idEntry != filter.cend() && !isNullValue(idEntry.value()) && !cellEquals(QVariant(id), idEntry.value()))
        return;

    qsizetype unmatchedBefore = filter.size();
    qsizetype unmatchedAfter = filter.size();
    for (auto it = filter.cbegin(); it != filter.cend(); ++it) {
        const QVariant before = it.key() == member ? oldValue : oldMembers.value(it.key());
        const bool matchesBefore = entryMatches(it.value(), before);
        const bool matchesAfter = it.key() == member ? entryMatches(it.value(), value) : matchesBefore;
        if (matchesBefore)
            --unmatchedBefore;
        if (matchesAfter)
            --unmatchedAfter;
        if (!matchesBefore && !matchesAfter)
            break;
    }
    const bool before = unmatchedBefore == 0;
    const bool after = unmatchedAfter == 0;

    if (before != after) {
        if (after) {
            emit onPlus(id);
            emit onInit();
            interfacesOnPlus(id);
        } else {
            emit onMinus(id);
            emit onRemove();
            interfacesOnMinus(id);
        }
    } else if (before && member != idKey && !cellEquals(oldValue, value)) {
        emit onSet(id, member, value);
        emit onSet(member, value);
        interfacesOnSet(id, member, value);
    }
}

void WatcherInternal::itemCreated(Id id, const QString &type)
{
    memberChanged(id, QVariantMap(), typeKey, QVariant(), QVariant(type));
}

void WatcherInternal::itemRemoved(Id id, const QVariantMap &members)
{
    if (!matches(members))
        return;
    emit onMinus(id);
    emit onRemove();
    interfacesOnMinus(id);
}

void WatcherInternal::itemArrived(Id id, const QVariantMap &members)
{
    if (!matches(members))
        return;
    emit onPlus(id);
    emit onInit();
    interfacesOnPlus(id);
}

// Deliveries run on the registry's thread. Each interface is checked against
// the live set before each call: an earlier call may have unwatched or
// destroyed it.
void WatcherInternal::interfacesOnPlus(Id id)
{
    const QList<WatcherInterface *> attached = interfaces;
    for (WatcherInterface *watcherInterface : attached) {
        if (interfaces.contains(watcherInterface))
            watcherInterface->onPlus(id);
        if (interfaces.contains(watcherInterface))
            watcherInterface->onInit();
    }
}

void WatcherInternal::interfacesOnSet(Id id, const QString &member, const QVariant &value)
{
    const QList<WatcherInterface *> attached = interfaces;
    for (WatcherInterface *watcherInterface : attached) {
        if (interfaces.contains(watcherInterface))
            watcherInterface->onSet(id, member, value);
        if (interfaces.contains(watcherInterface))
            watcherInterface->onSet(member, value);
    }
}

void WatcherInternal::interfacesOnMinus(Id id)
{
    const QList<WatcherInterface *> attached = interfaces;
    for (WatcherInterface *watcherInterface : attached) {
        if (interfaces.contains(watcherInterface))
            watcherInterface->onMinus(id);
        if (interfaces.contains(watcherInterface))
            watcherInterface->onRemove();
    }
}

// --- WatcherInterface -----------------------------------------------------------------

WatcherInterface::~WatcherInterface()
{
    unwatch();
}

void WatcherInterface::onPlus(Id) {}
void WatcherInterface::onSet(Id, const QString &, const QVariant &) {}
void WatcherInterface::onMinus(Id) {}
void WatcherInterface::onInit() {}
void WatcherInterface::onSet(const QString &, const QVariant &) {}
void WatcherInterface::onRemove() {}

void WatcherInterface::watch(const WatchFilter &filter)
{
    watchInterface(filter, this);
}

bool WatcherInterface::watchQuietly(const WatchFilter &filter)
{
    if (!addInterface(filter, this))
        return false;
    watching = true;
    return true;
}

void WatcherInterface::unwatch()
{
    if (watching)
        unwatchInterface(this);
}

// --- Registry operations ------------------------------------------------------------------

size_t filterHash(const WatchFilter &filter)
{
    size_t hash = 0;
    for (auto it = filter.cbegin(); it != filter.cend(); ++it) {
        hash = qHashMulti(hash, it.key());
        const QVariant &value = it.value();
        if (isNullValue(value))
            continue;
        // Ids, the usual values, without text made for them.
        if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
            hash = qHashMulti(hash, value.toLongLong());
        else
            hash = qHashMulti(hash, value.toString());
    }
    return hash;
}

bool filterHasItemId(const WatchFilter &filter)
{
    return itemIdOfFilter(filter) != 0;
}

namespace {

// Tells one new receiver of `filter` of the current matches, as onPlus/onInit
// pairs, through the connections `connectTo` makes.
void replayMatches(const WatchFilter &filter, const std::function<void(WatchSignals *)> &connectTo)
{
    const QList<Id> ids = findItems(filter);
    if (ids.isEmpty())
        return;
    auto *emitter = new WatchSignals;
    connectTo(emitter);
    for (const Id id : ids) {
        emit emitter->onPlus(id);
        emit emitter->onInit();
    }
    emitter->deleteLater();
}

} // namespace

void watch(const WatchFilter &filter, const char *signal, QObject *receiver, const char *slot)
{
    if (!receiver || !signal || !slot || refuseOffThread("watch"))
        return;
    watcherFor(filter)->addReceiver(signal, receiver, slot);
    const QByteArray signalText(signal);
    if (signalText.contains("onInit") || signalText.contains("onPlus")) {
        replayMatches(filter, [&](WatchSignals *emitter) {
            QObject::connect(emitter, signal, receiver, slot, Qt::AutoConnection);
        });
    }
}

void watchConnected(const WatchFilter &filter, QObject *receiver, bool replay,
                    const std::function<void(WatchSignals *)> &connectTo)
{
    if (!receiver || refuseOffThread("watch"))
        return;
    WatcherInternal *watcher = watcherFor(filter);
    connectTo(watcher);
    watcher->addReceiver(receiver);
    if (replay)
        replayMatches(filter, connectTo);
}

const WatchFilter &watchOnPlus(const WatchFilter &filter, QObject *receiver, const char *slot)
{
    watch(filter, SIGNAL(onPlus(Id)), receiver, slot);
    return filter;
}

const WatchFilter &watchOnMinus(const WatchFilter &filter, QObject *receiver, const char *slot)
{
    watch(filter, SIGNAL(onMinus(Id)), receiver, slot);
    return filter;
}

const WatchFilter &watchOnSet(const WatchFilter &filter, QObject *receiver, const char *slot)
{
    watch(filter, SIGNAL(onSet(Id, QString, QVariant)), receiver, slot);
    return filter;
}

namespace engine_internal {

bool addInterface(const WatchFilter &filter, WatcherInterface *watcherInterface)
{
    if (!watcherInterface || refuseOffThread("watchInterface"))
        return false;
    unwatchInterface(watcherInterface);
    watcherFor(filter)->addInterface(watcherInterface);
    return true;
}

} // namespace engine_internal

void watchInterface(const WatchFilter &filter, WatcherInterface *watcherInterface)
{
    if (!addInterface(filter, watcherInterface))
        return;
    watcherInterface->watching = true;
    // The replay is direct and complete: an interface that unwatches itself
    // in one call still hears the rest.
    const QList<Id> ids = findItems(filter);
    for (const Id id : ids) {
        watcherInterface->onPlus(id);
        watcherInterface->onInit();
    }
}

void unwatchInterface(WatcherInterface *watcherInterface)
{
    if (!watcherInterface || refuseOffThread("unwatchInterface"))
        return;
    watcherInterface->watching = false;
    const auto found = interfaceWatcher.constFind(watcherInterface);
    if (found == interfaceWatcher.cend())
        return;
    const Id watcherId = found.value();
    if (WatcherInternal *watcher = watcherById.value(watcherId))
        watcher->removeInterface(watcherInterface);
    interfaceWatcher.remove(watcherInterface);
}

QSet<QString> watchedMemberNames()
{
    QSet<QString> names{idKey, typeKey};
    for (const WatcherInternal *watcher : std::as_const(watcherById)) {
        for (auto it = watcher->filter.cbegin(); it != watcher->filter.cend(); ++it)
            names.insert(it.key());
    }
    return names;
}

void notifyItemCreated(Id item, const QString &type)
{
    const Id id = localIdOf(item);
    dispatch([id, type] {
        const QVariant value(type);
        const QList<Candidate> items = itemCandidates(id);
        const QList<Candidate> open = openCandidates(QVariantMap(), &typeKey, &value);
        const auto call = [&](WatcherInternal *watcher) { watcher->itemCreated(id, type); };
        walk(items, call);
        walk(open, call);
    });
}

void notifyMemberChanged(Id item, const QVariantMap &oldMembers, const QString &member, const QVariant &value)
{
    notifyMemberChanged(item, oldMembers, member, oldMembers.value(member), value);
}

void notifyMemberChanged(Id item, const QVariantMap &oldMembers, const QString &member, const QVariant &oldValue,
                         const QVariant &value)
{
    Id id = 0;
    QVariant newValue = value;
    {
        StoreLock lock;
        id = toLocalId(lock, item);
        bool ok = false;
        const Id valueId = isIdMember(member) ? idFromVariant(value, &ok) : 0;
        if (ok)
            newValue = QVariant(toLocalId(lock, valueId));
    }
    dispatch([id, oldMembers, member, oldValue, newValue] {
        forgetArrival(id);
        const QList<Candidate> items = itemCandidates(id);
        const QList<Candidate> open = openCandidates(oldMembers, &member, &newValue, &oldValue);
        const auto call = [&](WatcherInternal *watcher) {
            watcher->memberChanged(id, oldMembers, member, oldValue, newValue);
        };
        walk(items, call);
        walk(open, call);
    });
}

void notifyItemRemoved(Id item, const QVariantMap &members)
{
    const Id id = localIdOf(item);
    dispatch([id, members] {
        forgetArrival(id);
        const QList<Candidate> items = itemCandidates(id);
        const QList<Candidate> open = openCandidates(members, nullptr, nullptr);
        const auto call = [&](WatcherInternal *watcher) { watcher->itemRemoved(id, members); };
        walk(items, call);
        walk(open, call);
    });
}

void notifyItemArrived(Id item, const QVariantMap &members, const QStringList &stored)
{
    const Id id = localIdOf(item);
    dispatch([id, members, stored] {
        const QList<Candidate> items = itemCandidates(id);
        const QList<Candidate> open = openCandidates(members, nullptr, nullptr);
        const auto call = [&](WatcherInternal *watcher) { watcher->itemArrived(id, members); };
        const QScopedValueRollback<const Arrival *> announcing(arriving, nullptr);
        const Arrival arrival{id, &members, &stored};
        arriving = &arrival;
        walk(items, call);
        walk(open, call);
    });
}

namespace engine_internal {

const QVariantMap *arrivingRow(Id id, const QStringList &members, bool *allSet)
{
    if (!arriving || arriving->id != id || !onRegistryThread())
        return nullptr;
    *allSet = std::all_of(members.cbegin(), members.cend(),
                          [](const QString &member) { return arriving->stored->contains(member); });
    return arriving->members;
}

} // namespace engine_internal
