#pragma once

// Base of every object that shows or edits one stored item: it watches its
// own row, applies the stored members through init/set/remove, writes its own
// edits without hearing them back and animates chosen numeric members.
// GUI thread only.

#include "smoother.h"
#include "watcher.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QVariantMap>
#include <QVector>

class Item : public WatcherInterface, public Smoother
{
public:
    explicit Item(Id id);
    ~Item() override;

    Id id() const { return itemId; }
    bool isInitialised() const { return initialised; }

    // Watches {"id": id, m: null...}: init runs once every listed member is
    // set. Blank names are skipped. While init runs, member() and the readers
    // built on it answer from one read of the whole row.
    void watchMembers(const QStringList &members);
    void watchMembers(const QString &members);
    // Marks members as animated, starting from their current values. Called
    // before watchMembers, it reads nothing: init gives them their values.
    void setSmooth(const QString &members);

    QVariant member(const QString &name) const;
    QString memberString(const QString &name) const;
    double memberReal(const QString &name) const;
    QColor color(const QString &name) const;
    QPixmap pixmap(const QString &name) const;
    QByteArray fileData(const QString &name) const;

    void setMember(const QString &name, const QVariant &value);
    void setMember(const QString &name, const QVariant &value, bool local);
    void setColor(const QString &name, const QColor &colour);
    void setFileMember(const QString &name, const QByteArray &bytes);
    void writeFileMember(const QString &name, const QByteArray &bytes);
    void removeItem();

    void onInit() override;
    void onSet(const QString &member, const QVariant &value) override;
    using WatcherInterface::onSet;
    void onRemove() override;

protected:
    virtual void init();
    virtual void set(const QString &member, const QVariant &value);
    virtual void remove();
    void smoothed(const QString &member, double value) override;

private:
    struct SmoothedMember
    {
        QString name;
        double value = 0.0;
    };

    // The row init reads: the members a new row was announced with, or the
    // cells of the item's table by column, whose names the store shares.
    struct InitRow
    {
        QVariantMap members;
        QStringList names;
        QVector<QVariant> cells;

        bool isEmpty() const { return members.isEmpty() && cells.isEmpty(); }
        // The member's value; null when the row does not hold it.
        const QVariant *find(const QString &name) const;
    };

    void forgetInitRow() { initRow = nullptr; }
    // Watches `filter` (the member entries) for this item and replays it
    // from one read of the row, which init then uses.
    void watchRow(WatchFilter filter, const QStringList &required);

    Id itemId;
    bool applying = false;
    bool ownWrite = false;
    bool initialised = false;
    // The row as read for the running init; null outside it and once the row
    // changes meanwhile.
    const InitRow *initRow = nullptr;
    // The row read by watchMembers for the onInit it replays; empty otherwise.
    InitRow replayRow;
    // A handful at most: a list is cheaper to make and search than a hash.
    QList<SmoothedMember> smoothedMembers;
};

// Colours are stored as "#rrggbb"; the empty text stands for transparent.
QVariant colorToVariant(const QColor &colour);
QColor variantToColor(const QVariant &value);
