#pragma once

#include "engine.h" // ConnectionId

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QUrl>

class MultipartFormData;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The sync engine's HTTP layer: multipart/form-data POSTs and plain GETs to
// http and https addresses, each sent with the User-Agent "tavrin-engine".
// One object per process, reached through instance(); GUI thread only.
//
// Every request gets a ConnectionId, counted up from 1, and ends in exactly
// one finished(id, error, answer), always delivered from the event loop and
// never inside the call that sent the request. A reply whose status is not
// 2xx, a transport failure, an address that is not http(s), a request that
// stays silent for transferTimeout() milliseconds or sends more than its
// answer size limit, a download slower than its pace, and a redirect that the
// request may not follow all end with error = true and an empty answer, so
// that nothing a failed request brought is ever taken for a valid answer.
// Each failure is logged ("Network Error ..."), but a server that does not
// answer at all (refused, silent) only once until the reason changes or it
// answers again, which is logged too.
//
// Redirects: a POST (an engine request, whose form carries the session)
// follows one only to its own origin (scheme, host and port); a GET (a file
// download) only to another http or https address.
class NetworkConnector : public QObject
{
    Q_OBJECT

public:
    // The process-wide object, created on first use as a child of the
    // application object.
    static NetworkConnector *instance();

    ConnectionId post(const QUrl &url, const MultipartFormData &form);
    ConnectionId get(const QUrl &url);

    // Aborts every request in flight; none of them delivers finished any
    // more. Requests sent afterwards work as usual.
    static void shutdown();

    // Milliseconds without any transfer after which a request fails; applies
    // to requests sent afterwards. A value below 1 restores the default, 60 s:
    // a request must never wait for ever.
    static void setTransferTimeout(int ms);
    static int transferTimeout();

    // Bytes an answer may have; a longer one is cut off and fails. A value
    // below 1 restores the default, 256 MiB. Engine requests (POSTs) take at
    // most 16 MiB of it: the service pages larger answers.
    static void setMaxAnswerSize(qint64 bytes);
    static constexpr qint64 maxEngineAnswerBytes = qint64(16) * 1024 * 1024;

    // The pace a download must keep, so that slow servers do not hold the
    // download slots: after `graceMs` it fails once it has brought less than
    // `minBytesPerSecond` on average beyond those first milliseconds (its
    // deadline grows with its size). Values below 1 restore the defaults,
    // 30 s and 4 KiB/s.
    static void setDownloadPace(int graceMs, qint64 minBytesPerSecond);

    // Requests sent and not finished yet.
    int pendingCount() const;

signals:
    void finished(ConnectionId id, bool error, QByteArray answer);
    void uploadProgress(ConnectionId id, qint64 bytesSent, qint64 bytesTotal);
    void downloadProgress(ConnectionId id, qint64 bytesReceived, qint64 bytesTotal);

private:
    explicit NetworkConnector(QObject *parent);
    ~NetworkConnector() override;

    ConnectionId nextId();
    struct Tracked
    {
        ConnectionId id = 0;
        qint64 limit = 0;       // answer size limit
        bool download = false;  // a GET, which keeps a pace
        qint64 startedMs = 0;   // on `clock`
        qint64 received = 0;
    };
    ConnectionId track(QNetworkReply *reply, bool download);
    void allowRedirect(QNetworkReply *reply, const QUrl &target);
    void checkPace();
    ConnectionId refuse(const QUrl &url, const QString &reason);
    void replyFinished(QNetworkReply *reply);
    void abortAll();

    QNetworkAccessManager *manager = nullptr;
    QHash<QNetworkReply *, Tracked> replies;
    QSet<ConnectionId> refusals; // refused requests whose failure is still queued
    // Replies cut off by this layer, finishing now, with the reason logged.
    QHash<QNetworkReply *, QString> cutOff;
    // Origins ("http://host:port") whose last request got no answer at all,
    // with the reason logged for it.
    QHash<QString, QString> unreachable;
    QTimer *paceTimer = nullptr;
    ConnectionId lastId = 0;
};
