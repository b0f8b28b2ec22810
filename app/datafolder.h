#pragma once

// Opening the program's data folder. One data folder serves one program at
// a time; a lock that a program on another computer left there (a portable
// folder on a USB stick, carried off after a crash) is taken over only when
// the user says that program no longer runs.

#include "database.h"

#include <QString>

#include <functional>

class QWidget;

enum class FolderStart {
    Started,
    Declined, // the user chose not to open a folder locked elsewhere
    Failed,
};

// Starts the engine on `folder`. When a program on another computer holds
// the folder's lock, `openAnyway` is asked with that lock whether to take
// it over. Failed with the reason in `error`. Where the check of the store's
// file is left until after the open (Database::setCheckAfterOpen), a file
// found damaged then is told by StoreStatus::damageFound.
FolderStart startOnDataFolder(const QString &folder, const std::function<bool(const FolderLock &)> &openAnyway,
                              QString *error);

// Asks the user, in a message box, whether to open a folder whose lock a
// program on another computer holds.
bool askToOpenAnyway(const FolderLock &lock, QWidget *parent = nullptr);

// Tells the user, on the standard error and (with `box`) in a message box,
// that the data in `folder` cannot be used, and why.
void tellDataUnusable(const QString &folder, const QString &reason, bool box = true);
