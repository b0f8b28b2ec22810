#include "imageencoding.h"

#include <QBuffer>

bool encodeImage(const QImage &image, const char *format, int quality, QByteArray *bytes)
{
    bytes->clear();
    QBuffer buffer(bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return false;
    const bool ok = !image.isNull() && image.save(&buffer, format, quality) && !bytes->isEmpty();
    buffer.close();
    if (!ok)
        bytes->clear();
    return ok;
}
