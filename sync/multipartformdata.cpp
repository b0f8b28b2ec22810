#include "multipartformdata.h"

#include "synclog.h"

#include <QDebug>
#include <QHttpMultiPart>
#include <QNetworkRequest>

namespace {

QByteArray quoted(const QString &text)
{
    return '"' + text.toUtf8() + '"';
}

} // namespace

bool MultipartFormData::isSafeName(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (c == u'"' || c == u'\r' || c == u'\n' || c == QChar(0))
            return false;
    }
    return true;
}

bool MultipartFormData::addField(const QString &name, const QString &value)
{
    if (!isSafeName(name)) {
        qCWarning(lcSync) << "MultipartFormData: refused the field name" << name;
        return false;
    }
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
                   QByteArray("form-data; name=" + quoted(name)));
    part.setBody(value.toUtf8());
    parts.append(part);
    return true;
}

bool MultipartFormData::addFile(const QString &name, const QString &fileName, const QByteArray &data)
{
    if (!isSafeName(name)) {
        qCWarning(lcSync) << "MultipartFormData: refused the field name" << name;
        return false;
    }
    if (!isSafeName(fileName)) {
        qCWarning(lcSync) << "MultipartFormData: refused the file name" << fileName;
        return false;
    }
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
                   QByteArray("form-data; name=" + quoted(name) + "; filename=" + quoted(fileName)));
    part.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    part.setBody(data);
    parts.append(part);
    return true;
}

QHttpMultiPart *MultipartFormData::createMultiPart(QObject *parent) const
{
    auto *multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType, parent);
    for (const QHttpPart &part : parts)
        multiPart->append(part);
    return multiPart;
}
