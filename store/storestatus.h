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

signals:
    // Emitted on every change from writing to failing and back, from the
    // thread that flushed: connect with a queued or automatic connection.
    void writeFailureChanged(const QString &failure);

private:
    StoreStatus() = default;

    mutable QMutex mutex;
    QString failure;
};
