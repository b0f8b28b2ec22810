#pragma once

// The watch registry: clients name a set of items by a WatchFilter and hear
// when an item starts to match (onPlus, onInit), when a member of a matching
// item changes (onSet) and when an item stops matching or goes (onMinus,
// onRemove). Filters are evaluated on the GUI thread; every delivery reaches
// its client there. The registry itself is changed on the GUI thread only.

#include "engine.h"

#include <QSet>

class QObject;

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

private:
    bool watching = false;
};

// Connects the filter's watcher signal (a SIGNAL() text such as
// SIGNAL(onPlus(Id))) to the receiver's slot. onPlus/onInit receivers hear
// the current matches at once. A receiver leaves by being destroyed.
void watch(const WatchFilter &filter, const char *signal, QObject *receiver, const char *slot);
const WatchFilter &watchOnPlus(const WatchFilter &filter, QObject *receiver, const char *slot);
const WatchFilter &watchOnMinus(const WatchFilter &filter, QObject *receiver, const char *slot);
const WatchFilter &watchOnSet(const WatchFilter &filter, QObject *receiver, const char *slot);

void watchInterface(const WatchFilter &filter, WatcherInterface *watcherInterface);
void unwatchInterface(WatcherInterface *watcherInterface);

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
// whose filter `members` match hear onPlus/onInit once.
void notifyItemArrived(Id item, const QVariantMap &members);

// Every member name that some filter of the registry names: what a change
// notice must know of an item's members before the change. GUI thread.
QSet<QString> watchedMemberNames();

// Text the registry keys a filter by: key + ":" + value text per entry, in key
// order. Different filters can share a text; equality decides.
QString filterHashText(const WatchFilter &filter);
// Whether `filter` names one item by its "id" entry.
bool filterHasItemId(const WatchFilter &filter);
