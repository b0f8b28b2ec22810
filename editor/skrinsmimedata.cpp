#include "skrinsmimedata.h"

namespace {

const QByteArray scheme = QByteArrayLiteral("skrins://");

} // namespace

SkrinsMimeData::SkrinsMimeData(const QList<Id> &ids, const QList<QUrl> &files)
{
    QList<QByteArray> lines;
    if (!ids.isEmpty())
        lines.append(address(ids));
    for (const QUrl &file : files)
        lines.append(file.toEncoded());
    for (const QByteArray &line : std::as_const(lines))
        uriList += line + "\r\n";
}

SkrinsMimeData::SkrinsMimeData(const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines)
        uriList += line + "\r\n";
}

QString SkrinsMimeData::uriListFormat()
{
    return QStringLiteral("text/uri-list");
}

QByteArray SkrinsMimeData::address(const QList<Id> &ids)
{
    QByteArray line = scheme;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (i > 0)
            line += ',';
        line += QByteArray::number(ids.at(i));
    }
    return line;
}

QList<QByteArray> SkrinsMimeData::uriListLines(const QMimeData *mime)
{
    QList<QByteArray> lines;
    if (!mime)
        return lines;
    const QList<QByteArray> raw = mime->data(uriListFormat()).split('\n');
    for (const QByteArray &line : raw) {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith('#'))
            lines.append(trimmed);
    }
    return lines;
}

QList<Id> SkrinsMimeData::skrinIds(const QList<QByteArray> &lines)
{
    QList<Id> ids;
    for (const QByteArray &line : lines) {
        if (!line.startsWith(scheme))
            continue;
        const QList<QByteArray> parts = line.mid(scheme.size()).split(',');
        for (const QByteArray &part : parts) {
            bool ok = false;
            const Id value = part.toLongLong(&ok, 10);
            if (ok && value != 0)
                ids.append(value);
        }
        break;
    }
    return ids;
}

bool SkrinsMimeData::hasFormat(const QString &mimeType) const
{
    return mimeType == uriListFormat() || QMimeData::hasFormat(mimeType);
}

QStringList SkrinsMimeData::formats() const
{
    QStringList all = QMimeData::formats();
    if (!all.contains(uriListFormat()))
        all.prepend(uriListFormat());
    return all;
}

QVariant SkrinsMimeData::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (mimeType == uriListFormat())
        return uriList;
    return QMimeData::retrieveData(mimeType, type);
}
