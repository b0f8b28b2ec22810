#pragma once

// State and helpers shared by the sync engine's source files only. Everything
// here belongs to the GUI thread unless its comment names a lock.

#include "engine.h"

#include <QString>
#include <QUrl>
#include <QVariantMap>

namespace sync_internal {

// Counts the commits the engine forgot (reset, new log-in, shutdown); an
// answer is applied only to the generation that sent its commit.
extern quint64 commitGeneration;
extern quint64 sentGeneration;
// The session the commit in flight was sent with ("" for a log-in).
extern QString sentSession;
// The last commit was sent again at once because the answer brought a new
// session; a second renewal in a row waits for the timer instead.
extern bool renewalRetry;
// Set by stopSync: nothing commits until the engine starts again.
extern bool syncStopped;

// Addresses in file members of answers longer than this are refused.
constexpr int maxFileAddressLength = 1024;
// The placeholder of a file member whose file is still to be downloaded.
extern const QString downloadingPlaceholder;

// Endpoint of every engine request: the server option "server", else the
// default server base address + "/tavrin-engine".
QUrl engineEndpoint();
// Whether any local change waits for a commit.
bool changesPending();
// A file address the client may fetch: http or https, with a host, at most
// maxFileAddressLength characters.
bool isAcceptableFileAddress(const QString &text);

} // namespace sync_internal
