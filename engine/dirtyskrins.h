#pragma once

// Screenshots whose stored image and thumbnails must be rendered again
// (table "dirt_skrin", kept across runs), the claims that keep two renderers
// off the same version, and the items whose files were too big to upload.
// Every function takes storeMutex and speaks the ids the caller knows.

#include "engine.h"

#include <QDateTime>
#include <QList>
#include <QSet>

// Marks the screenshot dirty now (one mark per screenshot; a new mark moves
// its time on).
void markSkrinDirty(Id skrin);
bool isSkrinDirty(Id skrin);
// Up to four screenshots whose mark is more than 1001 ms old, oldest mark
// first (equal times by id); a mark a renderer kept counts from then.
QList<Id> dueDirtySkrins();
// Claims the screenshot's current mark for one renderer and returns its time
// (null without a mark; the claim is made all the same). When that mark is
// claimed already, `*alreadyClaimed` becomes true and the result is null.
QDateTime beginSkrinThumbnail(Id skrin, bool *alreadyClaimed);
// Clears the mark if it still has the time `modified` (a mark renewed since
// stays), and releases the claim (modified, skrin).
void endSkrinThumbnail(Id skrin, const QDateTime &modified);
// The time of the screenshot's mark; null without one.
QDateTime skrinDirtyTime(Id skrin);
// Releases the claim (modified, skrin) and keeps the mark whatever its time,
// for a renderer that could not finish and leaves the work to a later one.
// The kept mark comes due as if made `retryAfterMs` from now, behind the
// marks made before that: it never holds back younger ones. A mark renewed
// meanwhile comes due by its own time.
void releaseSkrinThumbnail(Id skrin, const QDateTime &modified, qint64 retryAfterMs = 0);
// Items with a file the sync engine held back as too big.
QSet<Id> tooBigItemIds();
