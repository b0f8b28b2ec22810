#pragma once

#include <QObject>

// Owner of the thumbnail timer's slot; one per process, never deleted.
class ImageConnector : public QObject
{
    Q_OBJECT

public:
    static ImageConnector *instance();

public slots:
    // Starts a render job for each screenshot whose mark is due.
    void makeDirtSkrinsThumbnails();

private:
    ImageConnector() = default;
};
