#pragma once

// A picture on its way in through a paste or a drop, decoded at the size it
// will be stored at: within a limit (the screen in its own pixels), its
// aspect kept, never enlarged. Memory follows that size, not what a file's
// header announces: a PNG of 33 kB may claim 16384 x 16384 pixels.

#include <QImage>
#include <QSize>
#include <QString>

class QIODevice;

class PastedPicture
{
public:
    enum Failure { None, NotPicture, TooLarge, Unreadable };

    // Decodes the picture that `device` (open, at its start) holds.
    static PastedPicture read(QIODevice *device, const QSize &limit);
    // A picture this process holds already, brought within the limit.
    static PastedPicture fromImage(const QImage &image, const QSize &limit);

    // The picture at its stored size; null on failure.
    QImage image;
    Failure failure = None;
    // The picture's own size, where its header told it.
    QSize size;
    // The decoder's words, for Unreadable.
    QString reason;

private:
    // Takes `whole`, scaled down to the stored size where it exceeds the
    // limit; Unreadable when there is no memory for that.
    void keepWithin(const QImage &whole, const QSize &limit);
};
