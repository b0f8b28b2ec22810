#pragma once

#include <QByteArray>
#include <QHttpPart>
#include <QList>
#include <QString>

class QHttpMultiPart;
class QObject;

// Builder of a multipart/form-data request body: text fields and file parts,
// sent in the order they were added. It keeps plain QHttpParts, so a form is
// a cheap value that can be copied and sent more than once; createMultiPart()
// assembles the QHttpMultiPart that QNetworkAccessManager posts.
//
// Names go into the quoted parameters of the Content-Disposition header. A
// name that carries a double quote, a CR, an LF or a NUL could end the quoted
// text or the header and forge parts or headers of its own, so such names
// (and empty ones) are refused: the add call logs and returns false, and the
// form stays as it was.
class MultipartFormData
{
public:
    // A text field; the value is sent as UTF-8.
    bool addField(const QString &name, const QString &value);
    // A file part: the field name, the file name the receiver sees, the bytes.
    bool addFile(const QString &name, const QString &fileName, const QByteArray &data);

    bool isEmpty() const { return parts.isEmpty(); }
    int count() const { return int(parts.size()); }

    // A new multipart body (form-data) of every part added so far, owned by
    // `parent` (or by the caller when null).
    QHttpMultiPart *createMultiPart(QObject *parent = nullptr) const;

    // True when `name` can stand in a quoted header parameter as it is.
    static bool isSafeName(const QString &name);

private:
    QList<QHttpPart> parts;
};
