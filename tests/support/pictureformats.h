#pragma once

// Picture files of every kind Qt decodes, made here from one picture: the
// tests of every decode path, and the seeds of the pictures' fuzz target,
// come from these.

#include <QByteArray>
#include <QImage>
#include <QList>

struct PictureFile
{
    QByteArray name; // kind, and the file's suffix after the last "."
    QByteArray bytes;
};

// A picture with no two neighbouring pixels alike and no channel at
// `avoided`: a run of that byte in a decode of it is memory the decoder never
// wrote. Half-transparent where `alpha` is set.
QImage structuredPicture(const QSize &size, bool alpha = false, uchar avoided = 0xbe);

// The picture as a file of every kind: PNG (RGB, RGBA, palette, palette with
// transparency, grey 8 and 16 bit, 1-bit, 16-bit RGB, interlaced), JPEG
// (baseline, progressive, grey), BMP (32, 8 and 1 bit), GIF (plain and
// interlaced), ICO (bitmap and PNG entries), CUR, PPM, PGM, PBM, XBM, XPM
// and SVG. Bitmap icons and cursors hold at most its top left 256 x 256.
QList<PictureFile> everyFormat(const QImage &picture);

// A GIF of the picture, in up to 256 colours.
QByteArray gifFile(const QImage &picture, bool interlaced = false);
// An icon whose one entry says `told` and holds `png`.
QByteArray iconHoldingPng(const QByteArray &png, const QSize &told);
