#include "networkconnector.h"

#include "multipartformdata.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <limits>

namespace {

constexpr int defaultTransferTimeoutMs = 60000;
// Far above any answer or image the service sends; a server that sends more
// must not make us hold it all in memory.
constexpr qint64 defaultMaxAnswerBytes = qint64(256) * 1024 * 1024;

QPointer<NetworkConnector> theConnector;
int transferTimeoutMs = defaultTransferTimeoutMs;
qint64 maxAnswerBytes = defaultMaxAnswerBytes;

QNetworkRequest makeRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("tavrin-engine"));
    request.setTransferTimeout(transferTimeoutMs);
    return request;
}

// QNetworkAccessManager also serves file:, qrc: and data: addresses; an
// address that came from the network must never make us read local data.
QString refusalReason(const QUrl &url)
{
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return QStringLiteral("address scheme is not http or https:");
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("invalid address:");
    return {};
}

} // namespace

NetworkConnector *NetworkConnector::instance()
{
    if (!theConnector)
        theConnector = new NetworkConnector(QCoreApplication::instance());
    return theConnector;
}

NetworkConnector::NetworkConnector(QObject *parent)
    : QObject(parent)
    , manager(new QNetworkAccessManager(this))
{
}

NetworkConnector::~NetworkConnector()
{
    // Replies of the manager die with it; none may call back into this
    // half-destroyed object.
    abortAll();
}

void NetworkConnector::shutdown()
{
    if (theConnector)
        theConnector->abortAll();
}

void NetworkConnector::setTransferTimeout(int ms)
{
    transferTimeoutMs = ms > 0 ? ms : defaultTransferTimeoutMs;
}

int NetworkConnector::transferTimeout()
{
    return transferTimeoutMs;
}

void NetworkConnector::setMaxAnswerSize(qint64 bytes)
{
    maxAnswerBytes = bytes > 0 ? bytes : defaultMaxAnswerBytes;
}

int NetworkConnector::pendingCount() const
{
    return int(replies.size() + refusals.size());
}

ConnectionId NetworkConnector::post(const QUrl &url, const MultipartFormData &form)
{
    const QString reason = refusalReason(url);
    if (!reason.isEmpty())
        return refuse(url, reason);
    QHttpMultiPart *body = form.createMultiPart();
    QNetworkReply *reply = manager->post(makeRequest(url), body);
    body->setParent(reply);
    return track(reply);
}

ConnectionId NetworkConnector::get(const QUrl &url)
{
    const QString reason = refusalReason(url);
    if (!reason.isEmpty())
        return refuse(url, reason);
    return track(manager->get(makeRequest(url)));
}

ConnectionId NetworkConnector::nextId()
{
    // Ids stay positive: 0 means "no request" to the callers.
    if (lastId == std::numeric_limits<ConnectionId>::max())
        lastId = 0;
    return ++lastId;
}

ConnectionId NetworkConnector::track(QNetworkReply *reply)
{
    const ConnectionId id = nextId();
    replies.insert(reply, id);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { replyFinished(reply); });
    connect(reply, &QNetworkReply::uploadProgress, this,
            [this, id](qint64 sent, qint64 total) { emit uploadProgress(id, sent, total); });
    connect(reply, &QNetworkReply::downloadProgress, this, [this, id, reply](qint64 received, qint64 total) {
        if (received > maxAnswerBytes || total > maxAnswerBytes) {
            oversized.insert(reply);
            reply->abort(); // finishes the reply, as a failure
            return;
        }
        emit downloadProgress(id, received, total);
    });
    // A reply can be complete on return (a cache answered it); its finished
    // signal is then gone, so take it up from the event loop.
    if (reply->isFinished()) {
        QMetaObject::invokeMethod(
            this,
            [this, guard = QPointer<QNetworkReply>(reply)] {
                if (guard)
                    replyFinished(guard);
            },
            Qt::QueuedConnection);
    }
    return id;
}

ConnectionId NetworkConnector::refuse(const QUrl &url, const QString &reason)
{
    const ConnectionId id = nextId();
    qWarning().noquote() << "Network Error" << reason << url.toString().left(200);
    refusals.insert(id);
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            if (refusals.remove(id))
                emit finished(id, true, QByteArray());
        },
        Qt::QueuedConnection);
    return id;
}

void NetworkConnector::replyFinished(QNetworkReply *reply)
{
    const ConnectionId id = replies.take(reply);
    if (id == 0)
        return;
    reply->deleteLater();

    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    // The whole answer can arrive before its progress is reported.
    const bool tooBig = oversized.remove(reply) || reply->bytesAvailable() > maxAnswerBytes;
    const bool error = tooBig || reply->error() != QNetworkReply::NoError || status < 200 || status > 299;
    if (error) {
        // Nothing here cancels a tracked reply but the size limit and the
        // transfer timeout.
        if (tooBig)
            qWarning().noquote() << "Network Error" << QStringLiteral("answer larger than %1 bytes from %2")
                                                           .arg(maxAnswerBytes)
                                                           .arg(reply->url().toString().left(200));
        else if (reply->error() == QNetworkReply::OperationCanceledError)
            qWarning().noquote() << "Network Error" << reply->errorString()
                                 << QStringLiteral("(no transfer for %1 ms)").arg(reply->request().transferTimeout());
        else if (reply->error() != QNetworkReply::NoError)
            qWarning().noquote() << "Network Error" << reply->errorString();
        else
            qWarning().noquote() << "Network Error" << QStringLiteral("HTTP status %1 from %2")
                                                           .arg(status)
                                                           .arg(reply->url().toString().left(200));
        emit finished(id, true, QByteArray());
        return;
    }
    emit finished(id, false, reply->readAll());
}

void NetworkConnector::abortAll()
{
    const QList<QNetworkReply *> inFlight = replies.keys();
    replies.clear();
    refusals.clear();
    oversized.clear();
    for (QNetworkReply *reply : inFlight) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}
