// Server options, the account values read from them and the per-platform
// hot key entries.

#include "serveroptions.h"

#include "enginelog.h"

#include "engineglobals_p.h"

#include "database.h"

#include <QMutexLocker>
#include <QSysInfo>

#include <algorithm>
#include <limits>

namespace {

const QString serverOptionType = QStringLiteral("server_option");
const QString nameMember = QStringLiteral("name");
const QString valueMember = QStringLiteral("value");

} // namespace

void setServerOption(const QString &name, const QVariant &value)
{
    // A null name would be a filter asking for "any name" and hit every option.
    if (name.isEmpty()) {
        qCWarning(lcEngine) << "setServerOption: refusing an option without a name";
        return;
    }
    QList<Id> ids = findItems({{QStringLiteral("type"), serverOptionType}, {nameMember, name}});
    if (ids.isEmpty()) {
        const Id id = createItem(serverOptionType);
        if (id == 0)
            return; // no store bound
        ids.append(id);
    }
    for (const Id id : std::as_const(ids)) {
        setMember(id, nameMember, name);
        setMember(id, valueMember, value);
    }
}

void removeDuplicateServerOptions()
{
    // Every client runs this on the same items. Keeping the first row in each
    // client's own row order would let two clients each remove the other's
    // copy and lose the option everywhere, so the copy the web service knows
    // with the smallest id survives; only copies that no server has seen yet
    // fall back to row order.
    QList<Id> duplicates;
    {
        StoreLock lock;
        QHash<QString, QList<Id>> idsByName;
        QStringList names;
        RowCursor cursor = Database::allRows(tables.serverOptionTable);
        while (cursor.next()) {
            const QString name = Database::value(cursor, tables.serverOptionNameColumn).toString();
            const Id id = idFromVariant(Database::value(cursor, tables.serverOptionIdColumn));
            QList<Id> &ids = idsByName[name];
            if (ids.isEmpty())
                names.append(name);
            ids.append(id);
        }
        for (const QString &name : std::as_const(names)) {
            const QList<Id> &ids = idsByName[name];
            Id kept = ids.first();
            for (const Id id : ids) {
                if (id > 0 && (kept <= 0 || id < kept))
                    kept = id;
            }
            for (const Id id : ids) {
                if (id != kept) // removing the kept id would take the kept row with it
                    duplicates.append(id);
            }
        }
    }
    // removeItem takes storeMutex itself. The ids are stored ids, which map
    // to themselves.
    for (const Id id : std::as_const(duplicates))
        removeItem(id);
}

QString userMail()
{
    const QString server = serverOptionValue(QStringLiteral("mail")).toString();
    if (!server.isEmpty())
        return server;
    return optionValue(QStringLiteral("mail")).toString();
}

bool isPaidAccount()
{
    return serverOptionValue(QStringLiteral("user_type")).toInt() != 0;
}

bool isAccountExpired()
{
    if (!isPaidAccount())
        return false;
    return serverOptionValue(QStringLiteral("days_left")).toInt() == 0;
}

bool isPaidAccountActive()
{
    return isPaidAccount() && !isAccountExpired();
}

int fileLimit()
{
    constexpr int defaultLimit = 5242880;
    bool ok = false;
    const qint64 limit = serverOptionValue(QStringLiteral("file_limit"), defaultLimit).toLongLong(&ok);
    if (!ok)
        return 0;
    // A limit beyond 2 GiB is as good as none; converting it to int directly
    // would give 0 and hold back every file.
    return int(std::clamp<qint64>(limit, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

int minPasswordLength()
{
    return 5;
}

int skrinCount()
{
    return Database::rowCount(Database::tableId(QStringLiteral("skrin")));
}

QString platformName()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("win");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("mac");
#elif defined(Q_OS_LINUX)
    return QStringLiteral("linux");
#else
    return QSysInfo::kernelType();
#endif
}

QString platformOptionKey(const QString &key)
{
    return platformName() + QLatin1Char('_') + key;
}

QVariant shortcutOptionValue(const QString &key, const QVariant &defaultValue)
{
    const QVariant own = serverOptionValue(platformOptionKey(key));
    if (!isNullValue(own))
        return own;
    return serverOptionValue(key, defaultValue);
}

void setShortcutOption(const QString &key, const QVariant &value)
{
    setServerOption(platformOptionKey(key), value);
}
