#pragma once

// What the item engine asks of the sync engine. The sync engine registers its
// connector as the one implementation when it starts; until then (and in
// programs and tests that use the store alone) every request does nothing.

#include <QString>

class SyncService
{
public:
    virtual ~SyncService() = default;

    // A local change waits: commit soon. Any thread.
    virtual void requestCommit() = 0;
    // A member waits for the file at `url`. Any thread, storeMutex maybe held.
    virtual void requestDownload(const QString &url) = 0;
    // The store was emptied: everybody who shows server options or items reads again.
    virtual void storeReset() = 0;
    // The service speaks another protocol version.
    virtual void wrongVersion() = 0;
    // No commit may start, and no late answer apply, from now on; network
    // requests are cancelled. GUI thread, before the store closes.
    virtual void stop() = 0;
};

// Registers the sync engine (null: none). Set on the GUI thread; read from any.
void registerSyncService(SyncService *service);
// The registered sync engine, or null.
SyncService *syncService();
