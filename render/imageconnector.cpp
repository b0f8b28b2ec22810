#include "imageconnector.h"

#include "dirtyskrins.h"
#include "imagejobs.h"

ImageConnector *ImageConnector::instance()
{
    static ImageConnector *const connector = new ImageConnector;
    return connector;
}

void ImageConnector::makeDirtSkrinsThumbnails()
{
    const QList<Id> due = dueDirtySkrins();
    for (const Id skrin : due)
        startThumbnailer(skrin, false);
}
