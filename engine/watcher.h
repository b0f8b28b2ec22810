#pragma once

// The watch registry: clients name a set of items by a WatchFilter and hear
// when an item starts to match (onPlus, onInit), when a member of a matching
// item changes (onSet) and when an item stops matching or goes (onMinus,
// onRemove). Filters are evaluated on the GUI thread; every delivery reaches
// its client there. The registry itself is changed on the GUI thread only.

#include "engine.h"

#include <QObject>
#include <QSet>

#include <functional>
#include <type_traits>

class WatcherInterface;
void watchInterface(const WatchFilter &filter, WatcherInterface *watcherInterface);
void unwatchInterface(WatcherInterface *watcherInterface);

// Callback form of a client; the base of every Item.
class WatcherInterface
{
public:
    WatcherInterface() = default;
    virtual ~WatcherInterface();

    WatcherInterface(const WatcherInterface &) = delete;
    WatcherInterface &operator=(const WatcherInterface &) = delete;

    virtual void onPlus(Id id);
    virtual void onSet(Id id, const QString &member, const QVariant &value);
    virtual void onMinus(Id id);
    virtual void onInit();
    virtual void onSet(const QString &member, const QVariant &value);
    virtual void onRemove();

    // Watches `filter` (instead of any earlier filter); the current matches are
    // replayed as onPlus/onInit pairs before it returns.
    void watch(const WatchFilter &filter);
    void unwatch();
    bool isWatching() const { return watching; }

protected:
    // watch() without the replay, for a subclass that reads the current
    // state itself; false (and nothing watched) when refused.
    bool watchQuietly(const WatchFilter &filter);

private:
    // Registering by these free functions counts as watching too: the
    // destructor must take the interface out of the registry either way.
    friend void watchInterface(const WatchFilter &filter, WatcherInterface *watcherInterface);
    friend void unwatchInterface(WatcherInterface *watcherInterface);

    bool watching = false;
};

// The signals a watcher sends its receivers, for the typed connections:
// &WatchSignals::onPlus, &WatchSignals::onMinus, &WatchSignals::onInit,
// &WatchSignals::onRemove and qOverload<...>(&WatchSignals::onSet).
class WatchSignals : public QObject
{
    Q_OBJECT
signals:
    void onPlus(Id id);
    void onSet(Id id, const QString &member, const QVariant &value);
    void onMinus(Id id);
    void onInit();
    void onSet(const QString &member, const QVariant &value);
    void onRemove();
};

// Connects the filter's watcher signal (a SIGNAL() text such as
// SIGNAL(onPlus(Id))) to the receiver's slot. onPlus/onInit receivers hear
// the current matches at once. A receiver leaves by being destroyed.
void watch(const WatchFilter &filter, const char *signal, QObject *receiver, const char *slot);
const WatchFilter &watchOnPlus(const WatchFilter &filter, QObject *receiver, const char *slot);
const WatchFilter &watchOnMinus(const WatchFilter &filter, QObject *receiver, const char *slot);
const WatchFilter &watchOnSet(const WatchFilter &filter, QObject *receiver, const char *slot);

// The typed forms, checked by the compiler: `signal` is one of WatchSignals'
// signals; `slot` a pointer to a member function of `receiver` or a callable
// (run in `receiver`'s thread, forgotten with it).
// The core of the typed forms: `connectTo` connects one sender; `replay`
// asks for the current matches at once.
void watchConnected(const WatchFilter &filter, QObject *receiver, bool replay,
                    const std::function<void(WatchSignals *)> &connectTo);

template <typename Signal, typename Receiver, typename Slot>
    requires std::is_member_function_pointer_v<Signal> && (!std::is_convertible_v<Slot, const char *>)
void watch(const WatchFilter &filter, Signal signal, Receiver *receiver, Slot slot)
{
    bool replay = false;
    if constexpr (std::is_same_v<Signal, void (WatchSignals::*)(Id)>)
        replay = signal == &WatchSignals::onPlus;
    else if constexpr (std::is_same_v<Signal, void (WatchSignals::*)()>)
        replay = signal == &WatchSignals::onInit;
    watchConnected(filter, receiver, replay,
                   [=](WatchSignals *sender) { QObject::connect(sender, signal, receiver, slot); });
}

template <typename Receiver, typename Slot>
    requires(!std::is_convertible_v<Slot, const char *>)
const WatchFilter &watchOnPlus(const WatchFilter &filter, Receiver *receiver, Slot slot)
{
    watch(filter, &WatchSignals::onPlus, receiver, slot);
    return filter;
}

template <typename Receiver, typename Slot>
    requires(!std::is_convertible_v<Slot, const char *>)
const WatchFilter &watchOnMinus(const WatchFilter &filter, Receiver *receiver, Slot slot)
{
    watch(filter, &WatchSignals::onMinus, receiver, slot);
    return filter;
}

template <typename Receiver, typename Slot>
    requires(!std::is_convertible_v<Slot, const char *>)
const WatchFilter &watchOnSet(const WatchFilter &filter, Receiver *receiver, Slot slot)
{
    watch(filter, qOverload<Id, const QString &, const QVariant &>(&WatchSignals::onSet), receiver, slot);
    return filter;
}

// Notifications, raised by the store operations after storeMutex was released
// (any thread; off the GUI thread they are handed to it whole). Ids are the
// stored ones; they are mapped back to the ids the program handed out.
void notifyItemCreated(Id item, const QString &type);
void notifyMemberChanged(Id item, const QVariantMap &oldMembers, const QString &member,
                         const QVariant &value);
// The same with the member's old value apart: `oldMembers` need not hold it,
// so that one map can serve every change of an item.
void notifyMemberChanged(Id item, const QVariantMap &oldMembers, const QString &member, const QVariant &oldValue,
                         const QVariant &value);
void notifyItemRemoved(Id item, const QVariantMap &members);
// A new item that arrived with its members (createItemWithMembers): watchers
// whose filter `members` match hear onPlus/onInit once. `stored` names the
// members set in the row of its type's table.
void notifyItemArrived(Id item, const QVariantMap &members, const QStringList &stored);

// Every member name that some filter of the registry names: what a change
// notice must know of an item's members before the change. GUI thread.
QSet<QString> watchedMemberNames();

// The number the registry keys a filter by, shared by equal filters (same
// keys, values of the same type and equal). Different filters can share it;
// equality decides.
size_t filterHash(const WatchFilter &filter);
// Whether `filter` names one item by its "id" entry.
bool filterHasItemId(const WatchFilter &filter);
