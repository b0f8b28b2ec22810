#include "testserver.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

using StatusCode = QHttpServerResponder::StatusCode;

const QByteArray jsonType = QByteArrayLiteral("application/json");
constexpr int nestingDepth = 5000;
// The largest serial: every JSON reader holds it exactly.
constexpr qint64 maxSerial = (qint64(1) << 53) - 1;

bool isIdMember(const QString &member)
{
    return member == QLatin1String("id") || member == QLatin1String("parent") || member.endsWith(QLatin1String("_id"));
}

bool isFileMember(const QString &member)
{
    return member == QLatin1String("file") || member.endsWith(QLatin1String("_file"));
}

QString randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char &c : raw)
        c = char(QRandomGenerator::global()->bounded(256));
    return QString::fromLatin1(raw.toHex());
}

// A JSON number that is a whole 64-bit id, or 0.
qint64 jsonId(const QJsonValue &value)
{
    const qint64 id = value.toInteger();
    return value.isDouble() && double(id) == value.toDouble() ? id : 0;
}

// The "modified" of a set; nothing when it is no date-time.
std::optional<QDateTime> sentTime(const QString &text)
{
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.isValid() ? std::optional<QDateTime>(time) : std::nullopt;
}

// A local change as its sets tell it: item, member, value and "modified" (to
// the millisecond). Empty for a set without a "modified": always a new one.
QString changeKey(qint64 id, const QString &member, const QJsonValue &value, const std::optional<QDateTime> &modified)
{
    if (!modified)
        return {};
    const QChar separator(0x1f);
    return QString::number(id) + separator + member + separator + QString::number(modified->toMSecsSinceEpoch())
           + separator + QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
}

QByteArray jsonText(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The value of a quoted parameter (name="...") of a header.
QString headerParameter(const QByteArray &header, const char *parameter)
{
    const QRegularExpression pattern(QStringLiteral("(?:^|;)\\s*%1=\"([^\"]*)\"").arg(QLatin1String(parameter)));
    return pattern.match(QString::fromUtf8(header)).captured(1);
}

// Splits a multipart/form-data body into its text fields and file parts.
bool parseForm(const QByteArray &contentType, const QByteArray &body, TestServer::Request &request)
{
    const qsizetype at = contentType.indexOf("boundary=");
    if (!contentType.startsWith("multipart/form-data") || at < 0)
        return false;
    QByteArray boundary = contentType.mid(at + 9).split(';').constFirst().trimmed();
    if (boundary.size() >= 2 && boundary.startsWith('"') && boundary.endsWith('"'))
        boundary = boundary.mid(1, boundary.size() - 2);
    const QByteArray delimiter = "--" + boundary;
    const QByteArray separator = "\r\n" + delimiter;
    qsizetype pos = body.indexOf(delimiter);
    if (boundary.isEmpty() || pos < 0)
        return false;
    for (pos += delimiter.size(); body.mid(pos, 2) != "--";) {
        const qsizetype next = body.indexOf(separator, pos);
        if (body.mid(pos, 2) != "\r\n" || next < 0)
            return false;
        const QByteArray part = body.mid(pos + 2, next - pos - 2);
        pos = next + separator.size();
        const qsizetype headerEnd = part.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return false;
        QByteArray disposition;
        for (const QByteArray &line : part.left(headerEnd).split('\n')) {
            if (line.trimmed().toLower().startsWith("content-disposition:"))
                disposition = line.trimmed().mid(20);
        }
        const QString name = headerParameter(disposition, "name");
        const QByteArray content = part.mid(headerEnd + 4);
        if (name.isEmpty())
            return false;
        if (disposition.contains("filename="))
            request.files.insert(name, {headerParameter(disposition, "filename"), content});
        else
            request.fields.insert(name, QString::fromUtf8(content));
    }
    return true;
}

} // namespace

TestServer::TestServer(QObject *parent)
    : QObject(parent)
    , http(new QHttpServer(this))
{
    http->route(QStringLiteral("/tavrin-engine"),
                [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                    handleEngine(request, std::move(responder));
                });
    http->route(QStringLiteral("/files/<arg>"),
                [this](const QString &name, const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                    handleFile(name, request, std::move(responder));
                });
}

TestServer::~TestServer()
{
    // Responders refer to sockets of the HTTP server: let them go first.
    held.clear();
    hanging.clear();
}

bool TestServer::listen()
{
    return (serverPort = http->listen(QHostAddress::LocalHost, 0)) != 0;
}

QString TestServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(serverPort);
}

QString TestServer::endpoint() const
{
    return baseUrl() + QStringLiteral("/tavrin-engine");
}

void TestServer::addUser(const QString &mail, const QString &hash)
{
    users.append({mail, hash});
}

qint64 TestServer::userId(const QString &mail) const
{
    const auto it = std::find_if(users.begin(), users.end(), [&mail](const auto &user) { return user.first == mail; });
    return it == users.end() ? 0 : it - users.begin() + 1;
}

// ---- items ------------------------------------------------------------------

const TestServer::Item *TestServer::liveItem(qint64 id) const
{
    auto it = items.find(id);
    return it != items.end() && it->removedSequence == 0 ? &*it : nullptr;
}

qint64 TestServer::newItem(qint64 user, const QString &type, const QString &origin)
{
    items.insert(nextItemId, Item{user, type, {}, ++sequence, origin, 0, {}});
    return nextItemId++;
}

// Sets take effect in the order they arrive, whatever the clients' clocks say.
void TestServer::applySet(Item &item, const QString &member, const QJsonValue &value, const QDateTime &modified,
                          const QString &origin)
{
    item.members[member] = Member{value, modified, ++sequence, origin};
}

QJsonObject TestServer::setEntry(const QJsonValue &id, const QString &member, const Member &held)
{
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("member"), member},
                       {QStringLiteral("value"), held.value},
                       {QStringLiteral("modified"), held.modified.toUTC().toString(Qt::ISODateWithMs)}};
}

qint64 TestServer::createItem(const QString &mail, const QString &type, const QVariantMap &members)
{
    const qint64 id = newItem(userId(mail), type, QString());
    for (auto it = members.begin(); it != members.end(); ++it)
        setMember(id, it.key(), it.value());
    return id;
}

bool TestServer::setMember(qint64 id, const QString &member, const QVariant &value)
{
    Item *item = liveItem(id);
    if (!item || member == QLatin1String("id"))
        return false;
    applySet(*item, member, QJsonValue::fromVariant(value), QDateTime::currentDateTimeUtc(), QString());
    return true;
}

QString TestServer::setFileMember(qint64 id, const QString &member, const QByteArray &data)
{
    const QString address = storeFile(data, QStringLiteral(".png"));
    return setMember(id, member, address) ? address : QString();
}

bool TestServer::removeItem(qint64 id)
{
    Item *item = liveItem(id);
    if (item)
        item->removedSequence = ++sequence;
    return item != nullptr;
}

QList<qint64> TestServer::itemIds(const QString &type) const
{
    QList<qint64> ids;
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (it->removedSequence == 0 && (type.isEmpty() || it->type == type))
            ids.append(it.key());
    }
    return ids;
}

QVariant TestServer::member(qint64 id, const QString &member) const
{
    const Item *item = liveItem(id);
    return item ? item->members.value(member).value.toVariant() : QVariant();
}

// ---- files ------------------------------------------------------------------

QString TestServer::storeFile(const QByteArray &data, const QString &suffix)
{
    const QString name = randomHex(12) + suffix.toLower();
    files.insert(name, data);
    return baseUrl() + QStringLiteral("/files/") + name;
}

QByteArray TestServer::fileData(const QString &address) const
{
    const QString prefix = baseUrl() + QStringLiteral("/files/");
    return address.startsWith(prefix) ? files.value(address.mid(prefix.size())) : QByteArray();
}

void TestServer::handleFile(const QString &name, const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    received.append(record(request));
    if (!fileRedirect.isEmpty()) {
        responder.write({{"Location", fileRedirect.toUtf8()}}, StatusCode::TemporaryRedirect);
        return;
    }
    const Fault current = downloadFault.take();
    const auto it = files.constFind(name);
    if (current == Fault::None && it == files.constEnd())
        responder.write(StatusCode::NotFound);
    else
        respond(std::move(responder), it == files.constEnd() ? QByteArray() : *it, "application/octet-stream", current);
}

// ---- engine requests --------------------------------------------------------

int TestServer::requestCount(const QString &prefix) const
{
    return int(std::count_if(received.begin(), received.end(),
                             [&prefix](const Request &request) { return request.path.startsWith(prefix); }));
}

TestServer::Request TestServer::record(const QHttpServerRequest &request)
{
    Request result;
    result.path = request.url().path();
    result.userAgent = request.value("User-Agent");
    parseForm(request.value("Content-Type"), request.body(), result);
    return result;
}

void TestServer::handleEngine(const QHttpServerRequest &httpRequest, QHttpServerResponder &&responder)
{
    const Request request = record(httpRequest);
    received.append(request);
    if (!redirect.isEmpty()) {
        responder.write({{"Location", redirect.toUtf8()}}, StatusCode::TemporaryRedirect);
        return;
    }
    if (const std::optional<int> code = forcedResult.take()) {
        respond(std::move(responder), jsonText({{QStringLiteral("result"), *code}}), jsonType, Fault::None);
        return;
    }
    const Fault current = fault.take();
    // A broken body is an answer to a processed request; a 500 or a silence
    // is one only when asked for.
    if ((current == Fault::Http500 || current == Fault::Hang) && !faultAfterApply) {
        respond(std::move(responder), jsonText({{QStringLiteral("result"), 0}}), jsonType, current);
        return;
    }
    const QJsonObject answer = process(request);
    if (current == Fault::None && holdAnswers)
        held.emplace_back(std::make_unique<QHttpServerResponder>(std::move(responder)), answer);
    else
        respond(std::move(responder), answerText(answer), jsonType, current);
}

void TestServer::releaseHeldAnswers()
{
    holdAnswers = false;
    for (auto &[responder, answer] : std::exchange(held, {}))
        respond(std::move(*responder), answerText(answer), jsonType, Fault::None);
}

QByteArray TestServer::answerText(const QJsonObject &answer)
{
    QByteArray body = jsonText(answer);
    // The change lists made as text take the places of their tokens.
    for (const char *list : {"create", "set", "remove"}) {
        const QString token = answer.value(QLatin1String(list)).toString();
        if (!token.startsWith(QChar(1)))
            continue;
        const QByteArray quoted = "\"\\u0001" + token.mid(1).toUtf8() + '"';
        const qsizetype at = body.indexOf(quoted);
        const QByteArray text = listTexts.take(token);
        if (at >= 0)
            body.replace(at, quoted.size(), text);
    }
    return body;
}

void TestServer::respond(QHttpServerResponder &&responder, QByteArray body, const QByteArray &type, Fault fault)
{
    // The broken bodies pad a JSON object's text before its closing brace.
    const auto open = [&body] { return body.left(body.size() - 1); };
    switch (fault) {
    case Fault::Hang:
        hanging.push_back(std::make_unique<QHttpServerResponder>(std::move(responder)));
        return;
    case Fault::Http500:
        responder.write(body, type, StatusCode::InternalServerError);
        return;
    case Fault::Malformed:
        body = body.left(body.size() / 2) + "\x01{[\"";
        break;
    case Fault::Empty:
        body.clear();
        break;
    case Fault::DeeplyNested:
        body = open() + ",\"padding\":" + QByteArray(nestingDepth, '[') + QByteArray(nestingDepth, ']') + '}';
        break;
    case Fault::Huge:
        body = open() + ",\"padding\":\"" + QByteArray(std::max<qint64>(0, hugeSize - body.size() - 16), 'x') + "\"}";
        break;
    case Fault::None:
        break;
    }
    responder.write(body, type);
}

QString TestServer::slowFileAddress(int n)
{
    if (!slowServer) {
        slowServer = new QTcpServer(this);
        slowServer->listen(QHostAddress::LocalHost, 0);
        connect(slowServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = slowServer->nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    socket->readAll();
                    if (socket->property("answering").toBool())
                        return;
                    socket->setProperty("answering", true);
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 100\r\n\r\n");
                    // The timer goes with the socket when the client hangs up.
                    auto *timer = new QTimer(socket);
                    connect(timer, &QTimer::timeout, socket, [socket, timer, sent = 0]() mutable {
                        socket->write("x", 1);
                        if (++sent == 100) {
                            timer->stop();
                            socket->disconnectFromHost();
                        }
                    });
                    timer->start(200);
                });
            }
        });
    }
    return QStringLiteral("http://127.0.0.1:%1/slow/%2.png").arg(slowServer->serverPort()).arg(n);
}

QJsonObject TestServer::process(const Request &request)
{
    const auto field = [&request](const char *name) { return request.fields.value(QLatin1String(name)); };
    if (!requiredVersion.isEmpty() && field("version") != requiredVersion)
        return {{QStringLiteral("result"), 4}};

    QString sessionId = field("session");
    auto session = sessions.find(sessionId);
    const bool newSession = sessionId.isEmpty() || session == sessions.end() || session->key != field("session_key");
    if (newSession) {
        const auto user = std::find(users.begin(), users.end(), std::pair(field("mail"), field("hash")));
        if (user == users.end())
            return {{QStringLiteral("result"), 2}};
        sessionId = randomHex(8);
        session = sessions.insert(sessionId, Session{randomHex(16), user - users.begin() + 1});
    }

    QJsonObject result{{QStringLiteral("result"), 1}};
    const QString action = field("action");
    // A log-in carries no changes: they go again under the new session.
    const auto carries = [&field](const char *list) {
        return !QJsonDocument::fromJson(field(list).toUtf8()).array().isEmpty();
    };
    const bool changes = carries("create") || carries("set") || carries("remove") || !request.files.isEmpty();
    if (action == QLatin1String("commit")) {
        if (!newSession || !changes)
            result = processCommit(request, *session);
    } else if (action == QLatin1String("exec")) {
        const auto handler = execHandlers.constFind(field("method"));
        if (handler != execHandlers.constEnd() && *handler) {
            result = (*handler)(request, session->user);
            if (!result.contains(QStringLiteral("result")))
                result.insert(QStringLiteral("result"), 0);
        }
    }
    result.insert(QStringLiteral("user"), session->user);
    result.insert(QStringLiteral("session"), sessionId);
    result.insert(QStringLiteral("session_key"), session->key);
    return result;
}

QJsonObject TestServer::processCommit(const Request &request, Session &session)
{
    const auto field = [&request](const char *name) { return request.fields.value(QLatin1String(name)); };
    const auto list = [&field](const char *name) { return QJsonDocument::fromJson(field(name).toUtf8()).array(); };
    const QJsonArray creates = list("create"), sets = list("set"), removes = list("remove");
    // Who made a change: the client store, which keys its local ids (changes
    // are sent to every other).
    const QString origin = field("store");
    // A state it did not give (above its sequence, below 0, not a number)
    // is one the service does not recognise: the whole account goes.
    bool stateOk = false;
    qint64 since = field("state").trimmed().toLongLong(&stateOk);
    if (!stateOk || since < 0 || since > sequence)
        since = 0;
    if (origin.isEmpty() && !(creates.isEmpty() && sets.isEmpty() && removes.isEmpty() && request.files.isEmpty()))
        return {{QStringLiteral("result"), 1}};
    SerialCheck serial;
    if (const int refused = checkSerial(request, origin, &serial))
        return {{QStringLiteral("result"), refused}};
    // A commit sent again: its answer brings what the store did since the
    // service first applied it.
    const qint64 ownAfter = serial.again ? serial.again->before : std::numeric_limits<qint64>::max();

    // Creates first, so that sets and removes of this commit can name them.
    // A create sent again (its answer was lost) gets the item made before; a
    // commit with a create that reuses a local id of the store for another
    // one changes nothing, and retires the store.
    QHash<qint64, Create> &known = translations[origin];
    for (const QJsonValue &entry : creates) {
        if (createdItem(entry, known, session.user, origin, false) < 0)
            return {{QStringLiteral("result"), retire(origin)}};
    }
    const qint64 before = sequence;
    // Sent again, the commit's answer brings the store's own creates made
    // since that it never made itself (below the lowest local id it handed
    // out): a copy or a restored backup made before them. The others it
    // holds, or sends with their tokens.
    QSet<qint64> missed;
    bool lowestOk = false;
    const qint64 lowest = field("last_local_id").trimmed().toLongLong(&lowestOk);
    for (auto it = known.cbegin(); serial.again && lowestOk && it != known.cend(); ++it) {
        const auto item = items.constFind(it->item);
        if (it.key() < lowest && item != items.cend() && item->createdBy == origin && item->createdSequence > ownAfter)
            missed.insert(it->item);
    }
    // A create or a change of an item removed since is one the client makes
    // to an item it should not hold any more: the answer tells it is gone.
    Corrections corrections;
    const auto gone = [this, &session, &corrections](qint64 id) {
        if (userItem(id, session.user) && !corrections.removes.contains(id))
            corrections.removes.append(id);
    };
    QJsonObject translate;
    for (const QJsonValue &entry : creates) {
        if (const qint64 serverId = createdItem(entry, known, session.user, origin, true)) {
            translate.insert(QString::number(jsonId(entry[QLatin1String("id")])), serverId);
            if (!liveItem(serverId))
                gone(serverId);
        }
    }

    // Ids as the client sent them: its local ids map through its store.
    const auto resolve = [&known](qint64 id) { return id < 0 ? known.value(id).item : id; };
    const auto ownItem = [this, &session](qint64 id) {
        Item *item = liveItem(id);
        return item && item->user == session.user ? item : nullptr;
    };
    for (const QJsonValue &set : sets) {
        const qint64 sentId = jsonId(set[QLatin1String("id")]);
        const QString member = set[QLatin1String("member")].toString();
        const qint64 id = resolve(sentId);
        Item *item = ownItem(id);
        if (!item)
            gone(id);
        if (!item || member == QLatin1String("id"))
            continue;
        QJsonValue value = set[QLatin1String("value")];
        bool refused = false;
        if (isIdMember(member) && value.isDouble()) {
            const qint64 target = resolve(jsonId(value));
            refused = target == 0 && value.toInteger() != 0;
            value = target;
        }
        const QString filePart = QStringLiteral("file:%1:%2").arg(sentId).arg(member);
        const bool file = isFileMember(member) && !value.toString().isEmpty();
        if (refused || (file && !request.files.contains(filePart))) {
            // The client learns what the service holds instead.
            correct(corrections, id, member, item->members.value(member));
            continue;
        }
        const std::optional<QDateTime> modified = sentTime(set[QLatin1String("modified")].toString());
        const QString change = changeKey(id, member, value, modified);
        if (const auto first = appliedChanges.constFind(change); first != appliedChanges.cend()) {
            // Sent again: it counts as arriving when it first did.
            if (item->members.value(member).sequence != *first)
                correct(corrections, id, member, item->members.value(member));
            continue;
        }
        if (file) {
            const UploadedFile &part = request.files[filePart];
            const qsizetype dot = part.fileName.lastIndexOf(u'.');
            value = storeFile(part.data, dot >= 0 ? part.fileName.mid(dot) : QString());
        }
        applySet(*item, member, value, modified.value_or(QDateTime::currentDateTimeUtc()), origin);
        if (!change.isEmpty())
            appliedChanges.insert(change, sequence);
    }
    for (const QJsonValue &entry : removes) {
        if (Item *item = ownItem(resolve(jsonId(entry)))) {
            item->removedSequence = ++sequence;
            item->removedBy = origin;
        }
    }
    takeSerial(origin, serial, before);

    // Hostile entries the test asked for go into this answer.
    for (auto it = injectedTranslations.begin(); it != injectedTranslations.end(); ++it)
        translate.insert(it.key(), it.value());
    QJsonObject result{{QStringLiteral("result"), 0}, {QStringLiteral("translate"), translate}};
    if (serials.contains(origin))
        result.insert(QStringLiteral("serial"), serials[origin].last);
    addChanges(result, since, origin, ownAfter, missed, session.user, corrections);
    for (auto it = injectedMembers.begin(); it != injectedMembers.end(); ++it)
        result.insert(it.key(), it.value());
    injectedTranslations = injectedMembers = {};
    return result;
}

void TestServer::correct(Corrections &corrections, qint64 id, const QString &member, const Member &held)
{
    if (corrections.setMembers.contains({id, member}))
        return;
    corrections.sets.append(setEntry(id, member, held));
    corrections.setMembers.insert({id, member});
}

qint64 TestServer::createdItem(const QJsonValue &entry, QHash<qint64, Create> &known, qint64 user,
                               const QString &origin, bool make)
{
    const qint64 local = jsonId(entry[QLatin1String("id")]);
    const QString type = entry[QLatin1String("type")].toString();
    const QString token = entry[QLatin1String("token")].toString();
    const auto sameType = [this, &type, user](qint64 id) {
        const Item *item = userItem(id, user);
        return item && item->type == type ? id : 0;
    };
    Create &made = known[local];
    if (const qint64 id = token.isEmpty() ? 0 : tokens.value(token)) {
        // Its token is known: the same create, whichever store sends it now.
        if (make && made.item == 0)
            made = {id, token};
        return sameType(id);
    }
    if (made.item != 0) {
        if (token.isEmpty()) // a client without tokens: the same type is the same create
            return sameType(made.item);
        if (!made.token.isEmpty() || !sameType(made.item))
            return -1;
        // The create sent without a token before, now with one.
        if (make)
            tokens.insert(made.token = token, made.item);
        return made.item;
    }
    if (make) {
        made = {newItem(user, type, origin), token};
        if (!token.isEmpty())
            tokens.insert(token, made.item);
    }
    return made.item;
}

int TestServer::checkSerial(const Request &request, const QString &origin, SerialCheck *check)
{
    const auto field = request.fields.constFind(QStringLiteral("serial"));
    const auto found = serials.constFind(origin);
    const bool retired = found != serials.cend() && found->retired;
    if (field == request.fields.cend()) // a client before serials, or no store
        return retired ? retire(origin) : 0;
    // Digits only (leading zeros too): a sign or a fraction is out of bounds,
    // and so is a number too long for 64 bits (ok is false).
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    const QString text = field->trimmed();
    const QString key = request.fields.value(QStringLiteral("serial_key"));
    bool ok = false;
    const qint64 number = digits.match(text).hasMatch() ? text.toLongLong(&ok) : 0;
    if (!ok || number < 1 || number > maxSerial || key.isEmpty() || key.size() > 64)
        return 1;
    if (origin.isEmpty())
        return 0;
    if (retired)
        return retire(origin);
    check->number = number;
    check->key = key;
    // The first serial of a store is 1: a later one from a store without a
    // record is one whose record this service lost.
    if (found == serials.cend() || found->taken.isEmpty())
        return number == 1 ? 0 : retire(origin);
    if (number == found->last + 1)
        return 0;
    // One taken before, with its key: that commit again, after a lost
    // answer or a crash, or a copy of the data folder made meanwhile.
    const auto before = found->taken.constFind(number);
    if (before != found->taken.cend() && before->key == key) {
        check->again = *before;
        return 0;
    }
    // Another copy of the store's data folder, or an older one.
    return retire(origin);
}

void TestServer::takeSerial(const QString &origin, const SerialCheck &check, qint64 before)
{
    if (check.number == 0 || check.again)
        return;
    Serials &store = serials[origin];
    store.last = check.number;
    store.taken.insert(check.number, {check.key, before});
}

int TestServer::retire(const QString &origin)
{
    serials[origin].retired = true;
    ++clashCount;
    return 5;
}

const TestServer::Item *TestServer::userItem(qint64 id, qint64 user) const
{
    const auto it = items.constFind(id);
    return it != items.cend() && it->user == user ? &*it : nullptr;
}

void TestServer::addChanges(QJsonObject &answer, qint64 since, const QString &origin, qint64 ownAfter,
                            const QSet<qint64> &missed, qint64 user, const Corrections &corrections)
{
    // The client store's own changes it has (all, unless it sent a commit
    // again: then the ones made before that commit was first applied).
    const auto own = [&origin, ownAfter](const QString &by, qint64 at) { return by == origin && at <= ownAfter; };
    std::vector<Change> changes;
    for (auto item = items.cbegin(); item != items.cend(); ++item) {
        if (item->user != user)
            continue;
        // What the asking session can know of: items that existed at its
        // state, and the ones it created itself (a create reaches the client's
        // disk before it is sent), but for those it `missed`. Reading the
        // whole account, it may hold any (a restored or copied data folder),
        // and hears of every removal.
        const bool known = (item->createdSequence <= since || item->createdBy == origin) && !missed.contains(item.key());
        if (item->removedSequence != 0) {
            const bool told = since == 0
                              || (item->removedSequence > since && !own(item->removedBy, item->removedSequence) && known);
            if (told && !corrections.removes.contains(item.key()))
                changes.push_back({item->removedSequence, "remove", item.key()});
            continue;
        }
        if (!known)
            changes.push_back({item->createdSequence, "create", item.key()});
        for (auto it = item->members.cbegin(); it != item->members.cend(); ++it) {
            if ((known && (it->sequence <= since || own(it->origin, it->sequence)))
                || corrections.setMembers.contains({item.key(), it.key()}))
                continue;
            changes.push_back({it->sequence, "set", item.key(), &it.key()});
        }
    }
    // In the order they were made (each has its own sequence number): the
    // next poll, sent with the last one of a page, takes up the rest.
    std::sort(changes.begin(), changes.end(),
              [](const Change &a, const Change &b) { return a.sequence < b.sequence; });
    // Each list goes as text (an object per entry would take many times the
    // page's size while the answer is made).
    QHash<QString, QByteArray> lists;
    const auto append = [&lists](const char *list, const QByteArray &text) {
        QByteArray &into = lists[QLatin1String(list)];
        into += into.isEmpty() ? '[' : ',';
        into += text;
    };
    const auto textOf = [](const QJsonValue &entry) {
        return entry.isObject() ? QJsonDocument(entry.toObject()).toJson(QJsonDocument::Compact)
                                : QJsonDocument(QJsonArray{entry}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
    };
    qint64 bytes = 0;
    size_t sent = 0;
    for (; sent < changes.size() && (pageSize <= 0 || sent < size_t(pageSize)); ++sent) {
        const Change &change = changes.at(sent);
        const Item &item = items[change.id];
        QJsonValue entry(change.id);
        if (change.member)
            entry = setEntry(change.id, *change.member, item.members[*change.member]);
        else if (qstrcmp(change.list, "create") == 0)
            entry = QJsonObject{{QStringLiteral("id"), change.id}, {QStringLiteral("type"), item.type}};
        const QByteArray text = textOf(entry);
        bytes += text.size() + 1;
        if (sent > 0 && bytes > pageBytes)
            break;
        append(change.list, text);
    }
    qint64 state = sequence;
    if (sent < changes.size()) {
        state = changes.at(sent - 1).sequence;
        answer.insert(QStringLiteral("more"), true);
    }
    for (const QJsonValue &entry : std::exchange(injectedCreates, {}))
        append("create", textOf(entry));
    for (const QJsonArray &more : {corrections.sets, std::exchange(injectedSets, {})}) {
        for (const QJsonValue &entry : more)
            append("set", textOf(entry));
    }
    for (const qint64 id : corrections.removes)
        append("remove", textOf(id));
    for (const char *list : {"create", "set", "remove"}) {
        const QByteArray text = lists.value(QLatin1String(list));
        const QString token = QChar(1) + QStringLiteral("list:%1").arg(++listCount);
        listTexts.insert(token, text.isEmpty() ? QByteArrayLiteral("[]") : text + ']');
        answer.insert(QLatin1String(list), token);
    }
    answer.insert(QStringLiteral("state"), state);
}

// ---- switches -----------------------------------------------------------------

void TestServer::injectCreate(const QJsonValue &id, const QJsonValue &type)
{
    injectedCreates.append(QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("type"), type}});
}

void TestServer::injectSet(const QJsonValue &id, const QString &member, const QJsonValue &value)
{
    injectedSets.append(setEntry(id, member, Member{value, QDateTime::currentDateTimeUtc(), 0, {}}));
}
