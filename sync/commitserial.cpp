// The store id and the serial numbers of its commits: how the service tells
// one store's commits from those of a copy of its data folder, or of an older
// one (docs/sync-protocol.md, "Serials").

#include "sync_p.h"

#include "synclog.h"

#include "database.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace {

const QString storeIdName = QStringLiteral("store_id");
const QString serialName = QStringLiteral("commit_serial");
const QString serialKeyName = QStringLiteral("commit_serial_key");

// The key of the next serial was drawn in this run and has not gone out yet.
bool keyUnsent = false;

// Random words as lower-case hex digits.
QString randomHex(int words)
{
    QList<quint32> raw(words);
    QRandomGenerator::system()->fillRange(raw.data(), words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(raw.constData()), words * 4).toHex());
}

// A key as drawn: lower-case hex digits. Anything else stored (a damaged
// folder) is drawn anew rather than sent.
bool isSerialKey(const QString &key)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{1,64}$"));
    return hex.match(key).hasMatch();
}

} // namespace

namespace sync_internal {

QString storeId()
{
    const QString known = optionValue(storeIdName).toString();
    if (!known.isEmpty())
        return known;
    // A new store id goes with a new serial key, which the first commit
    // flushes before it leaves.
    const QString made = randomHex(4);
    setOption(storeIdName, made);
    return made;
}

CommitSerial commitSerial()
{
    const QVariant stored = optionValue(serialName, 0);
    bool ok = false;
    const qint64 last = stored.toLongLong(&ok);
    const bool inBounds = ok && last >= 0 && last < maxCommitSerial;
    if (!inBounds) {
        // Nothing can follow it: the store starts anew (serial 0), as after a clash.
        qCWarning(lcSync) << "Commit: the stored serial" << stored.toString().left(40) << "is out of bounds";
        renewStoreId();
    }
    CommitSerial next{(inBounds ? last : 0) + 1, optionValue(serialKeyName).toString(), false};
    if (!isSerialKey(next.key)) {
        // Drawn now, not earlier: copies of a data folder at rest each draw
        // their own.
        next.key = randomHex(2);
        next.fresh = true;
        setOption(serialKeyName, next.key);
    }
    return next;
}

void serialSent()
{
    keyUnsent = false;
}

void acknowledgeSerial(qint64 number)
{
    // The next key goes into the same write as the acknowledgement: the disk
    // holds either both or neither, and so always a serial and key the
    // service took, or the next one.
    setOption(serialName, QVariant(number));
    setOption(serialKeyName, randomHex(2));
    keyUnsent = true;
}

void dropUnsentSerialKey()
{
    if (keyUnsent && Database::isOpen())
        setOption(serialKeyName, QString());
    keyUnsent = false;
}

void renewStoreId()
{
    qCWarning(lcSync) << "Commit: taking a new store id, sending what waits again and reading the whole account";
    setOption(storeIdName, QString());
    setOption(serialName, QVariant(qint64(0)));
    setOption(serialKeyName, QString());
    keyUnsent = false;
    // Answers left out what the other copy sent under the old id, as this
    // store's own: the next answer brings the whole account.
    setOption(QStringLiteral("state"), QVariant(qint64(0)));
    storeId();
}

} // namespace sync_internal
