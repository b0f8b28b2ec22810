#pragma once

// Renders one screenshot from its stored rows into its picture and its
// thumbnails, on the thread pool (started through startThumbnailer). The job
// claims the screenshot's dirty mark, paints every row in z order onto a
// canvas of the rows' extent, encodes the picture and each thumbnail (each
// made from the next larger one), and writes the names and the extent to the
// screenshot. A screenshot made of one uncropped picture at its own size
// shares that picture's file instead of a new encode.
//
// A screenshot without a mark whose picture and thumbnails are stored is
// left alone. The job writes nothing, and keeps the mark for a later tick
// (behind younger marks), while an image row's file is still downloading or
// being saved, or when an encode fails; a file that is gone, or does not
// decode, is painted as missing. It writes nothing either when the mark was
// renewed while it ran (a newer job renders then), when the screenshot was
// deleted meanwhile (files it stored for it are freed again), or when the
// rows ask for a canvas beyond the paint limits.

#include "engine.h"

#include <QByteArray>
#include <QDateTime>
#include <QRunnable>

class ThumbnailerThread : public QRunnable
{
public:
    // `format` names the encoder of the picture and the thumbnails; stored
    // pictures are "JPG", other names serve tests of a failing encoder.
    ThumbnailerThread(Id skrinId, bool commitAfter, const QByteArray &format = QByteArrayLiteral("JPG"));

    void run() override;

private:
    enum class Outcome {
        Done,         // the mark may go (if it is still the one claimed)
        WaitForFile,  // kept: a picture is still being downloaded or saved
        EncodeFailed, // kept, and tried again a good while later
    };
    Outcome render(const QDateTime &mark, bool *success);

    Id skrinId;
    bool commitAfter;
    QByteArray format;
};
