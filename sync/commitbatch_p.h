#pragma once

// One commit on its way out: what it carries, collected from the uncommitted
// tables on the GUI thread as plain values, in slices between the window's
// events; then, on the thread pool, the store flushed where the commit needs
// it and the request built. The GUI thread only posts it. Internal to the
// sync engine.

#include "engine.h"
#include "multipartformdata.h"
#include "storelock.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVariant>

#include <vector>

class CommitBatch
{
public:
    // The head of the request: credentials, store id, sync state and serial
    // as they are now. GUI thread.
    CommitBatch();

    // Collects the next part of the commit from the uncommitted tables under
    // storeMutex, for about `budgetMs` milliseconds, and marks the rows it
    // carries (sentRows, sentCreates). Each table is walked as it was when
    // its turn came: records made later wait for the next commit. True once
    // all is collected. Without a session the commit is the log-in and
    // carries no changes. GUI thread.
    bool collect(int budgetMs);

    // Flushes the store when the commit needs it (creates whose local id
    // counter may not be on disk, a serial key drawn for this commit), then
    // builds the form; when that flush fails, such creates are left out.
    // Files that cannot be read are left out too. Any thread; it touches no
    // state of the sync engine.
    void build();
    // After build(), on the GUI thread: unmarks the rows the form left out
    // and holds back the files that could not be read.
    void settle(const StoreLock &lock);

    // The session, the sync state and the serial number the commit is sent
    // with.
    QString session;
    QString state;
    qint64 serial = 0;
    MultipartFormData form;
    // A flush ran and wrote everything made before the commit began, the
    // local id counter among it.
    bool counterWritten = false;
    // Items whose files the request carries, as callers know their ids.
    QSet<Id> uploads;
    // The local id counter when the commit began.
    Id counter = 0;

private:
    struct Create
    {
        Id id;
        QString type;
        QString token;
        bool waitsForCounter; // its id may not be on disk yet
        TableRow row;
    };
    struct Set
    {
        Id id;
        QString member;
        int table;
        QVariant cell;
        QVariant modified;
        QString file; // the stored file to send with it; empty: none
        Id localId;
        TableRow row;
    };
    void collectCreate(const StoreLock &lock, int row);
    void collectSet(const StoreLock &lock, int row);
    void collectRemove(const StoreLock &lock, int row);

    // The head fields of the request, in the order they are sent.
    QList<QPair<QString, QString>> fields;
    qint64 largestFile = 0; // the account's file limit
    Id counterKnownOnDisk = 0;
    bool freshKey = false;

    enum class Phase { Start, Creates, Sets, Removes, Done };
    Phase phase = Phase::Start;
    // The rows of the table whose turn it is, and the next one to read.
    QList<int> rows;
    qsizetype next = 0;

    std::vector<Create> creates;
    std::vector<Set> sets;
    QList<Id> removes;
    // Rows collected but left out by build(), and set rows whose file could
    // not be read (with the file).
    QList<TableRow> leftOut;
    QSet<Id> leftOutCreates;
    QList<QPair<TableRow, QString>> unreadable;
};
