#pragma once

// The statements of the flush, on the writer thread's own connection.

#include "database_p.h"

#include <memory>

namespace store_internal {

class FlushWriterPrivate;

// The last flush before the store closes leaves out what can wait (the
// sweep of unnamed files), so that a quit never waits for it.
enum class FlushKind { Regular, Closing };

// What one flush did.
struct FlushOutcome
{
    bool written = false; // every change and file reached the disk
    // Rows wait for the bytes of a file still to come (a picture being
    // encoded): nothing failed, the next flush takes them.
    bool waiting = false;
    QString failure; // why something could not be written; empty when nothing failed
};

class FlushWriter
{
public:
    explicit FlushWriter(const QString &connectionName);
    ~FlushWriter();
    FlushWriter(const FlushWriter &) = delete;
    FlushWriter &operator=(const FlushWriter &) = delete;

    // The body of one flush; the caller holds flushMutex.
    FlushOutcome flushLocked(FlushKind kind = FlushKind::Regular);
    // Whether rows, files or records of the ledger wait to be written.
    bool anythingToWrite() const;
    // Frees the work the last flush took; called once its waiting callers
    // were answered, outside every lock.
    void releaseWork();
    // One statement on the connection; `firstValue` gets the first column of
    // the first row. False when it failed.
    bool runStatement(const QString &sql, QVariant *firstValue);
    // Drops the prepared statements before the connection closes.
    void dropStatements();

private:
    std::unique_ptr<FlushWriterPrivate> d;
};

} // namespace store_internal
