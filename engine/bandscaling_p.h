#pragma once

// Scaling a large picture down a band of rows at a time. Qt's smooth scaling
// widens the whole picture to 32 bits first (a 1-bit picture of 16384 x 16384
// pixels becomes 1 GiB); band by band only one band is, and a picture whose
// rows are decoded in order need never be whole at all.

#include <QImage>

#include <functional>

// Gives the source's next `count` rows, in order from its top, as a picture
// of its width in a 32-bit format; null when they cannot be had.
using SourceRows = std::function<QImage(int count)>;

// The picture of `size` scaled smoothly to `target` (no larger), in `wide`
// (RGB32, or ARGB32_Premultiplied for pictures with alpha). Null when `rows`
// fails or memory runs out.
QImage scaledInBands(const QSize &size, const QSize &target, QImage::Format wide, const SourceRows &rows);
