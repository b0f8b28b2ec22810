#pragma once

// A picture decoded from the bytes of a file, of any format Qt reads and of
// any damage, by the one road every picture takes into the program: a paste,
// a drop, a synced download, a stored file read for the screen or the
// renderer.
//
// - Bounded whatever a header claims: the true size is found before any
//   pixel is decoded (an icon's entries are read for the pictures they
//   really hold), and a picture is decoded only within PictureLimits.
// - Defined: a short file whose decoder reports success leaves the rows it
//   does not hold in a fill made before the decode, never as the memory the
//   decoder was given.
// - Within a limit (pastes and drops): decoded at the size it is stored at,
//   its aspect kept, never enlarged, and turned upright as its camera says.
//   Memory then follows that size where the decoder scales (JPEG) or the
//   format is read in parts (PNG of every kind, unless interlaced); other
//   pictures are decoded whole first, within maxScaledDecodeBytes.

#include <QImage>
#include <QSize>
#include <QString>

class QIODevice;

namespace PictureLimits {
// The largest picture of the program, decoded or painted: QImage's own
// per-side limit and 256 megapixels.
inline constexpr int maxSide = 32767;
inline constexpr qint64 maxPixels = 256LL * 1024 * 1024;
// A decode at full size (a stored or synced picture) takes at most this,
// the decoder's own buffers included: the largest picture at 32 bits.
inline constexpr qint64 maxWholeDecodeBytes = maxPixels * 4;
// A decode for a smaller stored size (a paste or a drop) takes at most this
// beyond the stored picture where its decoder cannot scale.
inline constexpr qint64 maxScaledDecodeBytes = 256LL * 1024 * 1024;
} // namespace PictureLimits

// True when a picture of this size is within PictureLimits' sides and pixels.
bool isPictureSizeAllowed(const QSize &size);

// Lets Qt's decoders allocate what PictureLimits allows (Qt's own default is
// 128 MB). Qt's limit is one for the whole process, so the bounds above are
// checked by each decode beforehand.
void raiseImageAllocationLimit();

class DecodedPicture
{
public:
    enum Failure { None, NotPicture, TooLarge, Unreadable };

    // Decodes the picture that `device` (open, at its start) holds, at its
    // own size, or within `limit` when that is valid.
    static DecodedPicture read(QIODevice *device, const QSize &limit = QSize());
    static DecodedPicture fromBytes(const QByteArray &bytes, const QSize &limit = QSize());
    // A picture this process holds already, brought within the limit.
    static DecodedPicture fromImage(const QImage &image, const QSize &limit);

    // The picture at its stored size; null on failure.
    QImage image;
    Failure failure = None;
    // The picture's own size, where its file told it.
    QSize size;
    // The decoder's words, for Unreadable.
    QString reason;

private:
    // Takes `whole`, scaled down within `limit` where it exceeds it;
    // Unreadable when there is no memory for that.
    void keepWithin(const QImage &whole, const QSize &limit);
};
