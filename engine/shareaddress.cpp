// Share handles and links, page addresses of the web service, and the checks
// and hash the account dialogs use.

#include "shareaddress.h"

#include "engineglobals_p.h"
#include "serveroptions.h"

#include "database.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>

const QString handleAlphabet = QStringLiteral("0123456789qwertyuiopasdfghjklzxcvbnm");

namespace {

constexpr int handleLength = 5;

QString drawHandle()
{
    QString handle;
    handle.reserve(handleLength);
    QRandomGenerator *random = QRandomGenerator::global();
    for (int i = 0; i < handleLength; ++i)
        handle.append(handleAlphabet.at(int(random->bounded(quint32(handleAlphabet.size())))));
    return handle;
}

// Text coming from the service or the caller goes into addresses encoded, so
// that it cannot end a query field or look like a placeholder. Handles and
// service names are plain letters and digits and come out unchanged.
QString encoded(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString pageUrl(const char *path)
{
    return defaultServerUrl() + QLatin1String(path);
}

QString userPageUrl(const char *path)
{
    return pageUrl(path).replace(QLatin1String("%UID%"), encodeBase36(userId()));
}

} // namespace

QString randomHandle()
{
    QString handle = drawHandle();
    while (isHandleInUse(handle))
        handle = drawHandle();
    return handle;
}

bool isHandleInUse(const QString &handle)
{
    const QString column = QStringLiteral("handle");
    for (const QString &name : syncedTables) {
        const int table = Database::tableId(name);
        const int handleColumn = Database::columnId(table, column);
        if (handleColumn >= 0 && Database::findRow(table, handleColumn, QVariant(handle)) > 0)
            return true;
    }
    return false;
}

QString encodeBase36(qint64 value)
{
    const quint64 base = quint64(handleAlphabet.size());
    // The magnitude in unsigned arithmetic, which also holds that of INT64_MIN.
    quint64 rest = value < 0 ? quint64(0) - quint64(value) : quint64(value);
    QString text;
    while (rest != 0) {
        text.prepend(handleAlphabet.at(int(rest % base)));
        rest /= base;
    }
    if (text.isEmpty() || !text.at(0).isDigit())
        text.prepend(QLatin1Char('0'));
    if (value < 0)
        text.prepend(QLatin1Char('-'));
    return text;
}

QString shareUrl(Id item, const QString &handle)
{
    const qint64 owner = itemOwner(item);
    QString text = serverOptionValue(QStringLiteral("handle_url")).toString();
    text.replace(QLatin1String("%user%"), encodeBase36(owner));
    text.replace(QLatin1String("%handle%"), encoded(handle));
    text.replace(QLatin1String("%options%"), QString());
    return text;
}

QString sha1Hex(const QString &text)
{
    // toLatin1 turns every character it cannot represent into '?'.
    return QString::fromLatin1(QCryptographicHash::hash(text.toLatin1(), QCryptographicHash::Sha1).toHex());
}

bool isValidMail(const QString &text)
{
    // Anchored at both ends, so that a trailing line break does not pass.
    const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[_.0-9a-zA-Z-]+@([0-9a-zA-Z][0-9a-zA-Z-]+\\.)+[a-zA-Z]{2,6}")),
        QRegularExpression::CaseInsensitiveOption);
    return pattern.match(text).hasMatch();
}

bool isValidPassword(const QString &text)
{
    if (text.size() < minPasswordLength())
        return false;
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral("[0-9a-zA-Z-]+")));
    return pattern.match(text).hasMatch();
}

QString extendPageUrl()
{
    return userPageUrl("/p/extend?uid=%UID%");
}

QString upgradeMorePageUrl()
{
    return userPageUrl("/p/upgrademore?uid=%UID%");
}

QString upgradePageUrl()
{
    return userPageUrl("/p/upgrade?uid=%UID%");
}

QString tosPageUrl()
{
    return pageUrl("/p/tos");
}

QString registerFacebookPageUrl()
{
    return pageUrl("/p/registerfacebook");
}

QString createAccountPageUrl()
{
    return pageUrl("/p/_create_account");
}

QString helpPageUrl()
{
    return pageUrl("/p/help");
}

QString lostPasswordPageUrl()
{
    return pageUrl("/p/lostpassword");
}

QString loginPageUrl()
{
    return pageUrl("/p/_login");
}

QString resendPageUrl()
{
    return userPageUrl("/p/resend?uid=%UID%");
}

QString sharePageUrl(qint64 ownerId, const QString &handle, const QString &type)
{
    QString text = pageUrl("/p/_share?uid=%UID%&handle=%HANDLE%&type=%TYPE%");
    text.replace(QLatin1String("%UID%"), encodeBase36(ownerId));
    text.replace(QLatin1String("%HANDLE%"), encoded(handle));
    text.replace(QLatin1String("%TYPE%"), encoded(type));
    return text;
}
