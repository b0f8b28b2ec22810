#pragma once

// Background work that keeps screenshots' picture files current: rendering
// screenshots from their rows (ThumbnailerThread) and encoding captured or
// pasted pictures into the file store (ImageSaver), both on the global thread
// pool. Results reach the GUI thread as store notices and commit requests.

#include "engine.h"

#include <QImage>
#include <QList>
#include <QPixmap>
#include <QString>

// The thumbnail edge lengths, ascending: 64, 128, 512.
QList<int> thumbnailSizes();
// The screenshot member naming the thumbnail of that size, e.g.
// "thumbnail512_file".
QString thumbnailMember(int size);

// Starts the 3000 ms timer that renders the screenshots marked dirty (at most
// four per tick, marks older than a second). GUI thread; later calls do
// nothing.
void startThumbnailTimer();

// Renders the screenshot on the thread pool; with commitAfter, a commit is
// requested once its extent is written. Returns at once.
void startThumbnailer(Id skrin, bool commitAfter);

// Caches the picture under `file` at once, then encodes it on the thread pool
// into the file store: PNG when the name ends in ".png" (any case), else JPEG
// at `quality`. With commitAfter, a commit is requested once the bytes are
// stored. The pixmap form belongs to the GUI thread.
void saveImageAsync(const QPixmap &pixmap, const QString &file, bool commitAfter, int quality);
void saveImageAsync(const QImage &image, const QString &file, bool commitAfter, int quality);
