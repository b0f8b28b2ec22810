#include "storestatus.h"

#include <QMutexLocker>

StoreStatus *StoreStatus::instance()
{
    static StoreStatus status;
    return &status;
}

QString StoreStatus::writeFailure() const
{
    QMutexLocker locker(&mutex);
    return failure;
}

void StoreStatus::setWriteFailure(const QString &text)
{
    {
        QMutexLocker locker(&mutex);
        // Only the change matters to the user, not each retry's wording.
        if (failure.isEmpty() == text.isEmpty())
            return;
        failure = text;
    }
    emit writeFailureChanged(text);
}

QString StoreStatus::damage() const
{
    QMutexLocker locker(&mutex);
    return damaged;
}

void StoreStatus::setDamage(const QString &text)
{
    {
        QMutexLocker locker(&mutex);
        if (damaged == text)
            return;
        damaged = text;
    }
    if (!text.isEmpty())
        emit damageFound(text);
}
