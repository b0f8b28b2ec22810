#pragma once

// Encodes one picture into the file store on the thread pool (started by
// saveImageAsync). The rows naming the file wait for its bytes before they
// are written. When the encoder fails, nothing is stored, the name is given
// up (so those rows no longer wait), no commit is requested and the picture
// stays in the image cache under its name.

#include <QImage>
#include <QRunnable>
#include <QString>

class ImageSaver : public QRunnable
{
public:
    // `format` is a Qt image format name ("JPEG", "PNG").
    ImageSaver(const QImage &image, const QString &file, bool commitAfter, const QString &format, int quality);
    ~ImageSaver() override;
    ImageSaver(const ImageSaver &) = delete;
    ImageSaver &operator=(const ImageSaver &) = delete;

    // True while a saver of that file exists: its bytes are still to come.
    static bool isPending(const QString &file);

    void run() override;

private:
    QImage image;
    QString file;
    bool commitAfter;
    QString format;
    int quality;
};
