#pragma once

// Whether the store's writes reach the disk: the window watches it so that
// the user learns of a failing disk at once, not at exit.

#include <QMutex>
#include <QObject>
#include <QString>

class StoreStatus : public QObject
{
    Q_OBJECT

public:
    // The one status object; it lives as long as the process.
    static StoreStatus *instance();

    // Why the last flush could not write everything (its changes stay in
    // memory and are retried); empty while flushes succeed.
    QString writeFailure() const;

    // Called by the store after each flush and open.
    void setWriteFailure(const QString &failure);

    // Why the open store's file was found damaged after the open returned
    // (Database::setCheckAfterOpen): nothing is written to it. Empty while
    // no damage was found.
    QString damage() const;
    // Called by the store at each open (empty) and when its check fails.
    void setDamage(const QString &damage);

signals:
    // Emitted on every change from writing to failing and back, from the
    // thread that flushed: connect with a queued or automatic connection.
    void writeFailureChanged(const QString &failure);
    // Emitted from the writer's thread when damage is found.
    void damageFound(const QString &damage);

private:
    StoreStatus() = default;

    mutable QMutex mutex;
    QString failure;
    QString damaged;
};
