#include "networkconnector.h"

#include "synclog.h"

#include "multipartformdata.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QElapsedTimer>

#include <limits>

namespace {

constexpr int defaultTransferTimeoutMs = 60000;
// Far above any image the service sends; a server that sends more must not
// make us hold it all in memory.
constexpr qint64 defaultMaxAnswerBytes = qint64(256) * 1024 * 1024;
constexpr int defaultPaceGraceMs = 30000;
constexpr qint64 defaultMinBytesPerSecond = 4096;

QPointer<NetworkConnector> theConnector;
int transferTimeoutMs = defaultTransferTimeoutMs;
qint64 maxAnswerBytes = defaultMaxAnswerBytes;
int paceGraceMs = defaultPaceGraceMs;
qint64 minBytesPerSecond = defaultMinBytesPerSecond;
QElapsedTimer clock;

qint64 nowMs()
{
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

QNetworkRequest makeRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("tavrin-engine"));
    request.setTransferTimeout(transferTimeoutMs);
    // Every redirect is checked by allowRedirect.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    return request;
}

bool isHttp(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// QNetworkAccessManager also serves file:, qrc: and data: addresses; an
// address that came from the network must never make us read local data.
QString refusalReason(const QUrl &url)
{
    if (!isHttp(url))
        return QStringLiteral("address scheme is not http or https:");
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("invalid address:");
    return {};
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const auto port = [](const QUrl &url) { return url.port(url.scheme() == QLatin1String("https") ? 443 : 80); };
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && port(a) == port(b);
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
    , paceTimer(new QTimer(this))
{
    paceTimer->setInterval(250);
    connect(paceTimer, &QTimer::timeout, this, &NetworkConnector::checkPace);
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

void NetworkConnector::setDownloadPace(int graceMs, qint64 bytesPerSecond)
{
    paceGraceMs = graceMs > 0 ? graceMs : defaultPaceGraceMs;
    minBytesPerSecond = bytesPerSecond > 0 ? bytesPerSecond : defaultMinBytesPerSecond;
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
    return track(reply, false);
}

ConnectionId NetworkConnector::get(const QUrl &url)
{
    const QString reason = refusalReason(url);
    if (!reason.isEmpty())
        return refuse(url, reason);
    return track(manager->get(makeRequest(url)), true);
}

ConnectionId NetworkConnector::nextId()
{
    // Ids stay positive: 0 means "no request" to the callers.
    if (lastId == std::numeric_limits<ConnectionId>::max())
        lastId = 0;
    return ++lastId;
}

ConnectionId NetworkConnector::track(QNetworkReply *reply, bool download)
{
    const ConnectionId id = nextId();
    const qint64 limit = download ? maxAnswerBytes : qMin(maxAnswerBytes, maxEngineAnswerBytes);
    replies.insert(reply, Tracked{id, limit, download, nowMs(), 0});
    connect(reply, &QNetworkReply::finished, this, [this, reply] { replyFinished(reply); });
    connect(
        reply, &QNetworkReply::redirected, this, [this, reply](const QUrl& target) { allowRedirect(reply, target); });
    connect(reply, &QNetworkReply::uploadProgress, this,
            [this, id](qint64 sent, qint64 total) { emit uploadProgress(id, sent, total); });
    connect(reply, &QNetworkReply::downloadProgress, this, [this, id, reply, limit](qint64 received, qint64 total) {
        if (received > limit || total > limit) {
            cutOff.insert(reply, QStringLiteral("answer larger than %1 bytes from").arg(limit));
            reply->abort(); // finishes the reply, as a failure
            return;
        }
        if (const auto it = replies.find(reply); it != replies.end())
            it->received = received;
        emit downloadProgress(id, received, total);
    });
    if (download && !paceTimer->isActive())
        paceTimer->start();
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

void NetworkConnector::allowRedirect(QNetworkReply *reply, const QUrl &target)
{
    const auto it = replies.constFind(reply);
    if (it == replies.cend())
        return;
    // The form of an engine request carries the session: it goes to no
    // other origin. A file may be served from elsewhere, over http(s) only.
    const bool allowed = it->download ? isHttp(target) && !target.host().isEmpty()
                                      : sameOrigin(reply->request().url(), target);
    if (allowed) {
        emit reply->redirectAllowed();
        return;
    }
    cutOff.insert(reply, QStringLiteral("redirect to %1 refused for").arg(target.toString().left(200)));
    reply->abort();
}

void NetworkConnector::checkPace()
{
    const qint64 now = nowMs();
    bool downloading = false;
    const QList<QNetworkReply *> inFlight = replies.keys();
    for (QNetworkReply *reply : inFlight) {
        const auto it = replies.constFind(reply);
        if (it == replies.cend() || !it->download || cutOff.contains(reply))
            continue;
        downloading = true;
        const qint64 deadline = it->startedMs + paceGraceMs + it->received * 1000 / minBytesPerSecond;
        if (now > deadline) {
            cutOff.insert(reply, QStringLiteral("download slower than %1 bytes a second from").arg(minBytesPerSecond));
            reply->abort();
        }
    }
    if (!downloading)
        paceTimer->stop();
}

ConnectionId NetworkConnector::refuse(const QUrl &url, const QString &reason)
{
    const ConnectionId id = nextId();
    qCWarning(lcSync).noquote() << "Network Error" << reason << url.toString().left(200);
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
    const Tracked tracked = replies.take(reply);
    const ConnectionId id = tracked.id;
    if (id == 0)
        return;
    reply->deleteLater();

    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    // The whole answer can arrive before its progress is reported.
    QString cutReason = cutOff.take(reply);
    if (cutReason.isEmpty() && reply->bytesAvailable() > tracked.limit)
        cutReason = QStringLiteral("answer larger than %1 bytes from").arg(tracked.limit);
    const bool error =
        !cutReason.isEmpty() || reply->error() != QNetworkReply::NoError || status < 200 || status > 299;
    // A server that does not answer at all is told once, not at every
    // attempt (the commit timer tries every 20 s), and so is its return.
    const QString origin = reply->url().adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment
                                                 | QUrl::RemoveUserInfo).toString();
    const bool silent = error && cutReason.isEmpty() && status == 0;
    if (!silent && unreachable.remove(origin))
        qCInfo(lcSync).noquote() << "Network:" << origin << "answers again";
    if (error) {
        const QString reason = reply->errorString();
        if (silent && unreachable.value(origin) == reason) {
            emit finished(id, true, QByteArray());
            return;
        }
        if (silent)
            unreachable.insert(origin, reason);
        // Nothing here cancels a tracked reply but this layer's own checks
        // and the transfer timeout.
        if (!cutReason.isEmpty())
            qCWarning(lcSync).noquote() << "Network Error" << cutReason << reply->url().toString().left(200);
        else if (reply->error() == QNetworkReply::OperationCanceledError)
            qCWarning(lcSync).noquote() << "Network Error" << reason
                                 << QStringLiteral("(no transfer for %1 ms)").arg(reply->request().transferTimeout())
                                 << "from" << origin;
        else if (silent)
            qCWarning(lcSync).noquote() << "Network Error" << reason << "from" << origin
                                        << "(told again when it changes)";
        else if (reply->error() != QNetworkReply::NoError)
            qCWarning(lcSync).noquote() << "Network Error" << reason;
        else
            qCWarning(lcSync).noquote() << "Network Error" << QStringLiteral("HTTP status %1 from %2")
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
    cutOff.clear();
    for (QNetworkReply *reply : inFlight) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}
