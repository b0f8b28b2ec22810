#pragma once

// PNG read in parts: libpng gives a picture's rows one after another, in
// any of its kinds (grey, palette, 1-bit, 16-bit, with or without alpha), so
// a picture stored smaller than it is never needs to be whole in memory.
// Interlaced pictures come in passes over the whole and are not read so.

#include <QImage>
#include <QString>

class QIODevice;

// True when the file's head is that of a PNG whose rows come in order.
bool isSequentialPng(const QByteArray &head);

// The PNG of `size` on `device` (at its start) scaled smoothly to `target`.
// Null with `error` told when the file is damaged or ends early.
QImage readScaledPng(QIODevice *device, const QSize &size, const QSize &target, QString *error);
