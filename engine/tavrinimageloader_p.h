#pragma once

#include <QRunnable>
#include <QString>

// Decodes one stored file on the thread pool; the picture travels back to the
// GUI thread as a QImage (pixmaps belong there) and reaches imageLoadFinished.
class TavrinImageLoader : public QRunnable
{
public:
    explicit TavrinImageLoader(const QString &file);
    void run() override;

private:
    QString file;
};
