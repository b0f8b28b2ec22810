#pragma once

// The sync engine's connector: one QObject on the GUI thread, registered with
// the item engine as its SyncService. The engine's requests (from any thread)
// become its signals; its slots run the commits, downloads and remote calls.
// Stored pictures load and their caches are kept by the engine (imagecache.h);
// the image slots here only forward to it. The wire protocol is described in docs/sync-protocol.md.

#include "engine.h"
#include "syncservice.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <type_traits>

struct ExecRequest;

class TavrinConnector : public QObject, public SyncService
{
    Q_OBJECT
public:
    // The singleton; null until create() ran.
    static TavrinConnector *instance();
    // Makes the singleton on the calling (GUI) thread with its three
    // self-connections and registers it with the item engine; later calls
    // return the existing one.
    static TavrinConnector *create();

    // Starts the commit timer so that a commit runs in `ms` milliseconds, or
    // earlier when one is already scheduled sooner. Nothing while a commit is
    // in flight, for `ms` below 1, or while the sync engine is stopped.
    void scheduleCommit(int ms);

    // Applies a commit answer (the JSON text the service sent) to the store as
    // a successful one: translations of the creates in flight, the remote
    // changes, the sync state and the session. Bad entries are logged and
    // skipped; the good ones still apply. False when the text is not a JSON
    // object.
    bool applyCommitAnswer(const QByteArray &answer);
    // The same the way a commit's answer is applied: read on the thread pool,
    // then applied in slices that return to the event loop in between;
    // answerAppliedSignal follows. No commit starts meanwhile. False (nothing
    // done) while a commit or another answer is under way.
    bool applyCommitAnswerInSlices(const QByteArray &answer);
    static bool isApplyingAnswer();

    // Fetches the next queued file address when fewer than five downloads
    // are in flight; at most one per call.
    void pumpDownloads();
    // Stores the bytes of a finished download into every member still waiting
    // for `url`. False (nothing stored) for an empty body or when no member
    // waits for the address any more.
    bool storeDownloadedFile(const QString &url, const QByteArray &data);

    // Sends the remote call `method` with its parameters (text fields; other
    // values as JSON). The answer object reaches `receiver`'s `slot`, a
    // SLOT() signature taking one QVariantMap; it carries "result" 1 when the
    // request failed. Forgotten when the receiver is destroyed first. The
    // request, or 0 when the receiver has no such slot or the engine is
    // stopped.
    ConnectionId exec(QObject *receiver, const char *slot, const QString &method,
                      const QVariantMap &parameters = QVariantMap());
    // The typed forms, checked by the compiler: the answer reaches `answer`,
    // a callable run on the GUI thread while `receiver` lives ...
    ConnectionId exec(QObject *receiver, std::function<void(const QVariantMap &)> answer, const QString &method,
                      const QVariantMap &parameters = QVariantMap());
    // ... or a member function of `receiver` taking the QVariantMap.
    template <typename Receiver, typename Slot>
        requires std::is_member_function_pointer_v<Slot>
    ConnectionId exec(Receiver *receiver, Slot slot, const QString &method,
                      const QVariantMap &parameters = QVariantMap())
    {
        return exec(
            receiver, [receiver, slot](const QVariantMap &answer) { (receiver->*slot)(answer); }, method,
            parameters);
    }

    // Forgets the commit in flight: its late answer is ignored, and every row
    // it carried stays uncommitted. The store reset, the new log-in and the
    // engine state reset call it.
    static void forgetCommitInFlight();
    // Stops committing for good (until the engine starts again): timers
    // stopped, the commit in flight forgotten; commit() and scheduleCommit()
    // do nothing afterwards. Called by shutdownBackground.
    static void stopSync();
    static bool isSyncStopped();
    // Clears stopSync's flag; the engine's start-up calls it once the store is
    // open again.
    static void resumeSync();

    // The clock of the broken-download pause; tests set their own so that the
    // 15 seconds pass without waiting. An empty function restores the real one.
    static void setClock(std::function<QDateTime()> clock);
    static QDateTime now();

    // Seconds the last applied commit answer held storeMutex (benchmarks).
    static double lastApplyLockSeconds();

    // SyncService: each request is one of the signals below (stop() is
    // stopSync() and the end of every network request).
    void requestCommit() override;
    void requestDownload(const QString &url) override;
    void storeReset() override;
    void wrongVersion() override;
    void stop() override;

public slots:
    void commit();
    void downloadFile(const QString &url);
    void networkFinished(ConnectionId id, bool error, const QByteArray &answer);
    void imageLoaded(const QString &file, QImage *image);
    void imageCacheCheck();
    void brokenDownloadsCheck();
    void commitModeCheck();
    void execResultObjectDestroyed(QObject *object);

private slots:
    void imageCacheTimerStart();

signals:
    void commitSignal();
    void downloadFileSignal(const QString &url);
    void imageCacheTimerStartSignal();
    void resetSignal();
    void serverOptionsInitSignal();
    void wrongVersionSignal();
    // A commit ended; emitted once its answer has been applied (or its
    // failure counted), so that a receiver may commit again at once.
    void commitFinishedSignal(bool ok);
    // applyCommitAnswerInSlices is done; false when the text was no JSON object.
    void answerAppliedSignal(bool ok);

private:
    TavrinConnector();

    ConnectionId sendExec(ExecRequest request, const QString &method, const QVariantMap &parameters);

    // Collects the commit, has its request built on the thread pool, and
    // posts it; commitConnection is commitBeingBuilt meanwhile.
    void startCommit();
    // The answer of the commit in flight: read, then applied in slices;
    // commitConnection stays set until endCommit, so no commit interleaves.
    void readAnswer(const QByteArray &answer, std::function<void()> done);
    void finishCommit(bool error);
    void applyNextSlice();
    void endCommit(int code);
    void finishDownload(ConnectionId id, bool error, const QByteArray &answer);
    void finishExec(ConnectionId id, bool error, const QByteArray &answer);
};

// The commit state. GUI thread.
bool isCommitRunning();
bool isLastCommitOk();
int commitRemainingMs();
void setCommitHurry(bool hurry);
// The items whose files a request carries, as the callers know their ids;
// empty for a request that carries none. GUI thread.
QSet<Id> transferItems(ConnectionId connection);
