#pragma once

// Screenshots dragged out of the browser travel in "text/uri-list" as one
// address line "skrins://" followed by their ids joined by ",", for example
// "skrins://12,-3", next to file URLs of their pictures. To QUrl such a line
// is no valid address (host rules), so the list is read and written as raw
// bytes, exactly as other clients write it.

#include "engine.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

class QMimeData;

// The mime type of the list.
QString uriListFormat();
// The address line of these ids, without line end.
QByteArray skrinsAddress(const QList<Id> &ids);
// A whole list: the address line (when there are ids) and the files' URLs,
// each line ended by CR LF.
QByteArray skrinsUriList(const QList<Id> &ids, const QList<QUrl> &files);

// The lines of the mime data's list in order, without line ends, blank lines
// and comments.
QList<QByteArray> uriListLines(const QMimeData *mime);
// The ids of the first "skrins://" line, in order; parts that are no number
// and 0 are left out. Later address lines are not read.
QList<Id> skrinsIds(const QList<QByteArray> &lines);
