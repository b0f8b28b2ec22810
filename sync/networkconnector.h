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

// The sync engine's HTTP layer: multipart/form-data POSTs and plain GETs to
// http and https addresses, each sent with the User-Agent "tavrin-engine".
// One object per process, reached through instance(); GUI thread only.
//
// Every request gets a ConnectionId, counted up from 1, and ends in exactly
// one finished(id, error, answer), always delivered from the event loop and
// never inside the call that sent the request. A reply whose status is not
// 2xx, a transport failure, an address that is not http(s) and a request that
// stays silent for transferTimeout() milliseconds or sends more than the
// answer size limit all end with error = true
// and an empty answer, so that nothing a failed request brought is ever
// taken for a valid answer.
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
    // below 1 restores the default, 256 MiB.
    static void setMaxAnswerSize(qint64 bytes);

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
    ConnectionId track(QNetworkReply *reply);
    ConnectionId refuse(const QUrl &url, const QString &reason);
    void replyFinished(QNetworkReply *reply);
    void abortAll();

    QNetworkAccessManager *manager = nullptr;
    QHash<QNetworkReply *, ConnectionId> replies;
    QSet<ConnectionId> refusals; // refused requests whose failure is still queued
    QSet<QNetworkReply *> oversized; // cut off for their size, finishing now
    ConnectionId lastId = 0;
};
