#include "skrinsaddress.h"

#include <QMimeData>

namespace {

const QByteArray scheme = QByteArrayLiteral("skrins://");

} // namespace

QString uriListFormat()
{
    return QStringLiteral("text/uri-list");
}

QByteArray skrinsAddress(const QList<Id> &ids)
{
    QByteArray line = scheme;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (i > 0)
            line += ',';
        line += QByteArray::number(ids.at(i));
    }
    return line;
}

QByteArray skrinsUriList(const QList<Id> &ids, const QList<QUrl> &files)
{
    QByteArray list;
    if (!ids.isEmpty())
        list += skrinsAddress(ids) + "\r\n";
    for (const QUrl &file : files)
        list += file.toEncoded() + "\r\n";
    return list;
}

QList<QByteArray> uriListLines(const QMimeData *mime)
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

QList<Id> skrinsIds(const QList<QByteArray> &lines)
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
