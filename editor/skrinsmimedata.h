#pragma once

// Drag data of screenshots: "text/uri-list" with one address line "skrins://"
// followed by the screenshots' ids joined by ",", for example
// "skrins://12,-3", next to file URLs of their pictures. To QUrl such a line
// is no valid address (host rules), and QMimeData::setData passes a URL list
// through QUrl, so this class keeps the list as raw bytes, exactly as other
// clients write it, and the reader takes the raw bytes too.

#include "engine.h"

#include <QByteArray>
#include <QList>
#include <QMimeData>
#include <QUrl>

class SkrinsMimeData : public QMimeData
{
    Q_OBJECT
public:
    // The address line first (when there are ids), then the files' URLs.
    SkrinsMimeData(const QList<Id> &ids, const QList<QUrl> &files);
    // Any list of lines, taken as it is (each ended by CR LF).
    explicit SkrinsMimeData(const QList<QByteArray> &lines);

    static QString uriListFormat();
    // The address line of these ids, without line end.
    static QByteArray address(const QList<Id> &ids);
    // The lines of a drag's list in order, without line ends, blank lines and
    // comments.
    static QList<QByteArray> uriListLines(const QMimeData *mime);
    // The ids of the first "skrins://" line, in order; parts that are no
    // number and 0 are left out. Later address lines are not read.
    static QList<Id> skrinIds(const QList<QByteArray> &lines);

    bool hasFormat(const QString &mimeType) const override;
    QStringList formats() const override;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    QByteArray uriList;
};
