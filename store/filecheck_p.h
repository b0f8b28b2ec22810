#pragma once

// The check of "database.db" that an open runs on a thread of its own,
// beside the migration and the load, or leaves to the first write
// (Database::setCheckAfterOpen): SQLite's quick_check, which reads the whole
// file. Nothing is written to the file before it has passed.

#include <QString>

namespace store_internal {

// "" when the file at `path` is a sound SQLite database; otherwise why not.
// Reads the whole file.
QString checkDatabase(const QString &path);

// Starts checking the file at `path` on a thread of its own, or for an
// empty path (a file that holds nothing yet) has the verdict be "sound"; a
// check still running from an earlier open is awaited first.
void startFileCheck(const QString &path);
// Leaves the check of the file at `path` to the first call of
// fileCheckVerdict, which runs it on its caller's thread.
void deferFileCheck(const QString &path);
// The verdict of the check started or deferred last, waited for or made
// now: "" when the file is sound, else why not.
QString fileCheckVerdict();
// Whether that verdict is in and the file sound.
bool fileCheckPassed();

// Whether open may return before the verdict (Database::setCheckAfterOpen).
bool checkAfterOpen();

} // namespace store_internal
