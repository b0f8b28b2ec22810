#pragma once

#include <QByteArray>
#include <QImage>

// Encodes the picture in the named Qt format ("JPG", "PNG", ...) at the given
// quality. False, with `bytes` empty, when the encoder refused or wrote
// nothing: callers must then store nothing.
bool encodeImage(const QImage &image, const char *format, int quality, QByteArray *bytes);
