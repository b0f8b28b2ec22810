#pragma once

#include <QString>

// Brings the engine up once: registers the engine's Qt types, creates the
// sync connector, opens the table store in the data folder, binds the
// engine's tables, starts the HTTP layer and the sync timers. False (with the
// reason in `error`) when the store could not be opened; a later call tries
// again. After shutdownBackground the engine may be started anew. GUI thread.
bool engineStart(bool portable, QString *error = nullptr);
// The same on a data folder of the caller's choice (tests, tools).
bool engineStartInFolder(const QString &folder, QString *error = nullptr);

// Empties the store for a new account: the commit in flight is forgotten, the
// store reset (every watcher hears its items go), the local counters and
// switches kept, the credentials written and the reset signals emitted. The
// session and the sync state are not kept: the next commit logs in anew.
// False (with the reason) when the store could not be opened again. GUI thread.
bool resetAndLogin(const QString &mail, const QString &hash, QString *error = nullptr);

// Waits for the thread pool, then empties the engine's in-memory state: id
// maps, commit bookkeeping, download queue and bookkeeping, remote calls,
// image loads and both image caches. The store is not touched. GUI thread.
void clearEngineState();
