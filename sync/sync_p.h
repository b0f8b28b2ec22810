#pragma once

// State and helpers shared by the sync engine's source files only. Everything
// here belongs to the GUI thread unless its comment names a lock.

#include "engine.h"
#include "storelock.h"
#include "storetables.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>

class QObject;
class QTimer;
class TavrinConnector;

// A pending remote call: who gets the answer, through which slot (a SLOT()
// signature) or, for the typed form, through `deliver`.
struct ExecRequest
{
    QObject *receiver = nullptr;
    QByteArray slot;
    std::function<void(const QVariantMap &)> deliver;
};

// --- Commit state (GUI thread only) --------------------------------------------
extern QDateTime commitScheduledAt;
extern ConnectionId commitConnection; // request of the commit in flight, 0 when none
// commitConnection while the commit's request is built on the thread pool.
constexpr ConnectionId commitBeingBuilt = -1;
extern QTimer *commitTimer;
extern bool commitAgain;              // a commit was asked for while one was in flight
extern int commitDelayMs;             // delay commitTimer was last started with, 0: none scheduled
extern int commitFailures;            // failed commits in a row
extern QTimer *brokenDownloadsTimer;
extern QTimer *commitModeTimer;
extern int commitModeDelayMs;         // delay last chosen by the commit-mode check
extern bool engineStarted;
extern bool commitHurry;              // starts true
extern QDateTime lastServerChange;    // when a commit answer last changed the store
extern QSet<Id> sentCreates;          // creates the commit in flight carries; under storeMutex

// --- Downloads and remote calls (GUI thread) ------------------------------------
extern QMap<ConnectionId, ExecRequest> execRequests;
extern QMap<QString, ConnectionId> runningDownloads;
extern QMap<QString, QDateTime> brokenDownloads;
extern QMap<ConnectionId, QSet<Id>> transfersByConnection;

namespace sync_internal {

// Counts the commits the engine forgot (reset, new log-in, shutdown); an
// answer is applied only to the generation that sent its commit.
extern quint64 commitGeneration;
extern quint64 sentGeneration;
// Whether what was begun in `generation` (a commit, an answer read or applied)
// was forgotten since, or the engine stopped, or the store closed: it then
// goes no further and changes nothing.
bool forgotten(quint64 generation);
// The session the commit in flight was sent with ("" for a log-in).
extern QString sentSession;
// The "state" and the "serial" the commit in flight was sent with.
extern QString sentState;
extern qint64 sentSerial;
// The commits sent again at once in this round, each kind once: after an
// answer that brought a new session while changes wait, and after a store id
// clash. A second one of a kind waits for the timer; the round ends with a
// commit that sets off nothing at once.
enum RetryKind { SessionRetry = 1, ClashRetry = 2 };
extern int retriedAtOnce;
// Set by stopSync: nothing commits until the engine starts again.
extern bool syncStopped;
// The lowest local id whose counter is known to be on disk. A commit that
// carries a create below it flushes the store first, on the thread pool;
// when that flush fails, those creates stay behind, so that a crash can never
// hand the same local id to another item. 0 before the first flush.
extern Id counterOnDisk;
// Uncommitted set rows whose file cannot go yet (too big, unreadable), with
// the file they held: they keep no fast commit mode until the member changes.
extern QHash<QPair<int, int>, QString> heldBackFiles;

// Addresses in file members of answers longer than this are refused.
constexpr int maxFileAddressLength = 1024;
// The placeholder of a file member whose file is still to be downloaded.
extern const QString downloadingPlaceholder;

// The password hash goes only with a log-in (no session held); afterwards
// the session alone names the user. The fields, in the order they are sent.
QList<QPair<QString, QString>> credentialFields();

// A whole number as an answer gives it: a JSON number without a fraction, in
// range. A text is none, even one of digits.
bool wholeNumberOf(const QVariant &value, Id *out);
// An id of an answer entry: a whole number above 0.
bool serverIdOf(const QVariant &value, Id *out);
// A value as a log line shows it.
QString shortText(const QVariant &value);
// Whether the member is a date-time column of the table.
bool isDateTimeColumn(int table, const QString &member);
// The date-time an ISO 8601 text spells: with an offset, or without one
// (local time). Invalid for any other text, and for a date alone: that is no
// date-time, and travels as the text it is.
QDateTime dateTimeOfText(const QString &text);
// "2024-05-01": kept and sent as the text it is.
bool isDateAlone(const QString &text);
// Set while an answer is read or applied outside a commit.
extern bool answerBusy;

// The tree with every date-time as ISO 8601 text in UTC with milliseconds
// and its offset, the form in which date-times travel.
QVariant withUtcTimes(const QVariant &value);

// Endpoint of every engine request: the server option "server", else the
// default server base address + "/tavrin-engine".
QUrl engineEndpoint();
// Whether any local change waits for a commit and can go with it (held-back
// files do not count).
bool changesPending();
// This store's random, persistent id, made on first use. A new id comes
// with no serial key (a new or emptied store, renewStoreId), so the first
// commit to carry it draws one and flushes both before it leaves. The service
// keys the local ids of creates and the commits' serial numbers by it.
QString storeId();
// Serials go from 1 to 2^53 - 1, which every JSON reader holds exactly.
constexpr qint64 maxCommitSerial = (qint64(1) << 53) - 1;
// The serial number of the next commit and its key: the number after the
// last one the service acknowledged, with the key reserved for it. A commit
// that got no answer, or another result than 0, goes again under the same
// number and key, which the service takes as the same commit. When no key is
// reserved (the first commit of a run, of a new store id) one is drawn now:
// `fresh`, it must reach the disk before the commit leaves. A stored serial
// that nothing can follow (out of bounds, not a number) takes a new store id.
struct CommitSerial
{
    qint64 number = 0;
    QString key;
    bool fresh = false;
};
CommitSerial commitSerial();
// The commit with the reserved key went out.
void serialSent();
// The service applied the commit of `number` (result 0): the key of the next
// number is reserved in the same write.
void acknowledgeSerial(qint64 number);
// At shutdown: a key reserved in this run that never went out is dropped, so
// that copies of the data folder at rest draw keys of their own.
void dropUnsentSerialKey();
// Takes a new store id, and starts its serials anew: the service found the
// old one in use by another copy of the data folder, or by an older one (a
// backup). What still waits goes again under the new id (their tokens keep
// the creates the service made already from being made twice), and the next
// answer brings the whole account.
void renewStoreId();
// Create records written before creates carried tokens get one, written to
// disk before any of them is sent (a record whose token is not on disk
// waits); oldCreatesTokened tells that they have. Called when the store
// opens, and by commits until it worked: new records are made with their
// token.
extern bool oldCreatesTokened;
void tokenOldCreates();
// A file address the client may fetch: http or https, with a host, at most
// maxFileAddressLength characters.
bool isAcceptableFileAddress(const QString &text);

} // namespace sync_internal
