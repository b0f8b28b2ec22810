#pragma once

// The stored side of a capture and the order in which screenshots are
// browsed.

#include "engine.h"

#include <QImage>
#include <QList>
#include <QString>

// Stores a captured picture as a new screenshot: a `skrin` row (empty title
// and description, a fresh share handle, created and modified now, the file
// and the picture's rectangle, not trashed, published) and its `skrin_image` row (at 0,0 and z 0, cropped
// to the whole picture, parent last), and starts encoding the file in the
// background (saveImageAsync: PNG for a ".png" extension, else JPEG at
// `quality`). The new
// screenshot's id, or 0 when nothing could be stored (a null picture).
// GUI thread.
Id storeCapture(const QImage &picture, const QString &ext, int quality);

// The screenshots that are not in the trash, oldest first (by "created",
// then in the order their ids were made).
QList<Id> screenshotsByCreation();
// The newest screenshot, or 0 when there is none.
Id newestScreenshot();
// The screenshot `step` places after `current` in creation order (negative:
// before it); 0 when there is none that far. A `current` that is not listed
// gives 0.
Id neighbourScreenshot(Id current, int step);
