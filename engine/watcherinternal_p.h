#pragma once

// The watcher shared by every client of one filter. Internal to the engine.

#include "watcher.h"

#include <QObject>
#include <QSet>

class WatcherInternal : public WatchSignals
{
    Q_OBJECT
public:
    WatcherInternal(Id watcherId, const WatchFilter &filter);

    void addReceiver(const char *signal, QObject *receiver, const char *slot);
    // Remembers a receiver of typed connections, forgotten when it is destroyed.
    void addReceiver(QObject *receiver);
    void addInterface(WatcherInterface *watcherInterface);
    void removeInterface(WatcherInterface *watcherInterface);

    bool matches(const QVariantMap &members) const;
    void itemCreated(Id id, const QString &type);
    // `oldValue` is the member's value before the change; `oldMembers` the
    // other members (its own entry there, if any, is not read).
    void memberChanged(Id id, const QVariantMap &oldMembers, const QString &member, const QVariant &oldValue,
                       const QVariant &value);
    void itemRemoved(Id id, const QVariantMap &members);
    void itemArrived(Id id, const QVariantMap &members);

    const Id watcherId;
    const WatchFilter filter;
    QSet<QObject *> receivers;
    // Few per watcher (usually one Item): a list is cheaper than a set.
    QList<WatcherInterface *> interfaces;

    // Where the open-filter index keeps this watcher (see watcher.cpp).
    enum class Anchor { None, Integer, Text };
    Anchor anchor = Anchor::None;
    QString anchorKey;
    qint64 anchorInteger = 0;
    QString anchorText;
    QString anchorType; // with an integer anchor: the table the filter's type names, or ""


public slots:
    void receiverDestroyed(QObject *receiver);

private:
    void interfacesOnPlus(Id id);
    void interfacesOnSet(Id id, const QString &member, const QVariant &value);
    void interfacesOnMinus(Id id);
};
