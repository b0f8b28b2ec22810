#pragma once

// The statements of the flush, on the writer thread's own connection.

#include "database_p.h"

#include <memory>

namespace store_internal {

class FlushWriterPrivate;

// The last flush before the store closes leaves out what can wait (the
// sweep of unnamed files), so that a quit never waits for it.
enum class FlushKind { Regular, Closing };

class FlushWriter
{
public:
    explicit FlushWriter(const QString &connectionName);
    ~FlushWriter();
    FlushWriter(const FlushWriter &) = delete;
    FlushWriter &operator=(const FlushWriter &) = delete;

    // The body of one flush; the caller holds flushMutex. True when every
    // change and file was written; otherwise `failure` says why not.
    bool flushLocked(QString *failure, FlushKind kind = FlushKind::Regular);
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
