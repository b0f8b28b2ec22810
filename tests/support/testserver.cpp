#include "testserver.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

// An answer held back until the test releases it.
struct TestServer::Held
{
    QHttpServerResponder responder;
    QJsonObject answer;
};

namespace {

using StatusCode = QHttpServerResponder::StatusCode;

const QByteArray jsonType = QByteArrayLiteral("application/json");

bool isIdMember(const QString &member)
{
    return member == QLatin1String("id") || member == QLatin1String("parent") || member.endsWith(QLatin1String("_id"));
}

bool isFileMember(const QString &member)
{
    return member == QLatin1String("file") || member.endsWith(QLatin1String("_file"));
}

bool isValidName(const QString &name)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral("[a-z0-9_]{1,64}")));
    return pattern.match(name).hasMatch();
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
    if (!value.isDouble())
        return 0;
    const double d = value.toDouble();
    const qint64 id = value.toInteger();
    return double(id) == d ? id : 0;
}

QDateTime parseTime(const QString &text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        time = QDateTime::fromString(text, Qt::ISODate);
    return time.isValid() ? time : QDateTime::currentDateTimeUtc();
}

QByteArray headerValue(const QHttpServerRequest &request, const QByteArray &name)
{
    const auto headers = request.headers();
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return {};
}

// The value of a quoted parameter (name="...") of a header.
QString headerParameter(const QByteArray &header, const QByteArray &parameter)
{
    const QRegularExpression pattern(QStringLiteral("(?:^|;)\\s*%1=\"([^\"]*)\"").arg(QString::fromLatin1(parameter)));
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(header));
    return match.hasMatch() ? match.captured(1) : QString();
}

// Splits a multipart/form-data body into its text fields and file parts.
bool parseForm(const QByteArray &contentType, const QByteArray &body, TestServer::Request &request)
{
    const int at = contentType.indexOf("boundary=");
    if (!contentType.startsWith("multipart/form-data") || at < 0)
        return false;
    QByteArray boundary = contentType.mid(at + 9);
    const int end = boundary.indexOf(';');
    if (end >= 0)
        boundary.truncate(end);
    boundary = boundary.trimmed();
    if (boundary.startsWith('"') && boundary.endsWith('"') && boundary.size() >= 2)
        boundary = boundary.mid(1, boundary.size() - 2);
    if (boundary.isEmpty())
        return false;

    const QByteArray delimiter = "--" + boundary;
    const QByteArray separator = "\r\n" + delimiter;
    qsizetype pos = body.indexOf(delimiter);
    if (pos < 0)
        return false;
    pos += delimiter.size();
    while (true) {
        if (body.mid(pos, 2) == "--")
            return true;
        if (body.mid(pos, 2) != "\r\n")
            return false;
        pos += 2;
        const qsizetype next = body.indexOf(separator, pos);
        if (next < 0)
            return false;
        const QByteArray part = body.mid(pos, next - pos);
        pos = next + separator.size();

        const qsizetype headerEnd = part.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return false;
        const QByteArray content = part.mid(headerEnd + 4);
        QByteArray disposition;
        for (const QByteArray &line : part.left(headerEnd).split('\n')) {
            const QByteArray trimmed = line.trimmed();
            if (trimmed.toLower().startsWith("content-disposition:"))
                disposition = trimmed.mid(20).trimmed();
        }
        const QString name = headerParameter(disposition, "name");
        if (name.isEmpty())
            return false;
        if (disposition.contains("filename="))
            request.files.insert(name, {headerParameter(disposition, "filename"), content});
        else
            request.fields.insert(name, QString::fromUtf8(content));
    }
}

QJsonArray parseArray(const QString &text, bool *ok)
{
    if (text.isEmpty()) {
        *ok = true;
        return {};
    }
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    *ok = document.isArray();
    return document.array();
}

} // namespace

TestServer::TestServer(QObject *parent)
    : QObject(parent)
    , http(new QHttpServer(this))
    , silent(new QTcpServer(this))
{
    http->route(QStringLiteral("/tavrin-engine"),
                [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                    handleEngine(request, std::move(responder));
                });
    http->route(QStringLiteral("/files/<arg>"),
                [this](const QString &name, const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                    handleFile(name, request, std::move(responder));
                });
    // The silent port takes every connection and never says a word.
    connect(silent, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = silent->nextPendingConnection())
            socket->setParent(silent);
    });
}

TestServer::~TestServer()
{
    // Responders refer to sockets of the HTTP server: let them go first.
    held.clear();
    hanging.clear();
}

bool TestServer::listen(quint16 port)
{
    serverPort = http->listen(QHostAddress::LocalHost, port);
    if (serverPort == 0)
        return false;
    return silent->listen(QHostAddress::LocalHost, 0);
}

QString TestServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(serverPort);
}

QString TestServer::endpoint() const
{
    return baseUrl() + QStringLiteral("/tavrin-engine");
}

QString TestServer::silentUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/tavrin-engine").arg(silent->serverPort());
}

// ---- accounts ---------------------------------------------------------------

TestServer::User *TestServer::findUser(const QString &mail)
{
    for (User &user : users) {
        if (user.mail == mail)
            return &user;
    }
    return nullptr;
}

qint64 TestServer::addUser(const QString &mail, const QString &hash)
{
    if (User *user = findUser(mail)) {
        user->hash = hash;
        return user->id;
    }
    const qint64 id = users.size() + 1;
    users.append({id, mail, hash});
    return id;
}

qint64 TestServer::userId(const QString &mail) const
{
    for (const User &user : users) {
        if (user.mail == mail)
            return user.id;
    }
    return 0;
}

qint64 TestServer::ensureUser(const QString &mail, const QString &hash)
{
    const qint64 id = userId(mail);
    return id != 0 ? id : addUser(mail, hash);
}

void TestServer::dropSessions()
{
    sessions.clear();
}

// ---- items ------------------------------------------------------------------

TestServer::Item *TestServer::liveItem(qint64 id)
{
    auto it = items.find(id);
    return it != items.end() && it->removedSequence == 0 ? &*it : nullptr;
}

const TestServer::Item *TestServer::liveItem(qint64 id) const
{
    auto it = items.find(id);
    return it != items.end() && it->removedSequence == 0 ? &*it : nullptr;
}

qint64 TestServer::applySet(Item &item, const QString &member, const QJsonValue &value, const QDateTime &modified,
                            const QString &sessionId)
{
    Member &slot = item.members[member];
    if (slot.modified.isValid() && modified < slot.modified)
        return 0;
    slot.value = value;
    slot.modified = modified;
    slot.sequence = ++sequence;
    slot.session = sessionId;
    return slot.sequence;
}

qint64 TestServer::createItem(const QString &mail, const QString &type, const QVariantMap &members)
{
    Item item;
    item.id = nextItemId++;
    item.user = ensureUser(mail, QString());
    item.type = type;
    item.createdSequence = ++sequence;
    items.insert(item.id, item);
    for (auto it = members.begin(); it != members.end(); ++it)
        setMember(item.id, it.key(), it.value());
    return item.id;
}

bool TestServer::setMember(qint64 id, const QString &member, const QVariant &value)
{
    Item *item = liveItem(id);
    if (!item || member == QLatin1String("id"))
        return false;
    applySet(*item, member, QJsonValue::fromVariant(value), QDateTime::currentDateTimeUtc(), QString());
    return true;
}

QString TestServer::setFileMember(qint64 id, const QString &member, const QByteArray &data, const QString &suffix)
{
    if (!liveItem(id))
        return {};
    const QString address = fileAddress(storeFile(data, suffix));
    setMember(id, member, address);
    return address;
}

bool TestServer::removeItem(qint64 id)
{
    Item *item = liveItem(id);
    if (!item)
        return false;
    item->removedSequence = ++sequence;
    item->removedBy.clear();
    return true;
}

QList<qint64> TestServer::itemIds(const QString &type) const
{
    QList<qint64> ids;
    for (const Item &item : items) {
        if (item.removedSequence == 0 && (type.isEmpty() || item.type == type))
            ids.append(item.id);
    }
    return ids;
}

bool TestServer::hasItem(qint64 id) const
{
    return liveItem(id) != nullptr;
}

QString TestServer::itemType(qint64 id) const
{
    const Item *item = liveItem(id);
    return item ? item->type : QString();
}

QVariant TestServer::member(qint64 id, const QString &member) const
{
    const Item *item = liveItem(id);
    if (!item)
        return {};
    auto it = item->members.find(member);
    return it == item->members.end() ? QVariant() : it->value.toVariant();
}

QVariantMap TestServer::members(qint64 id) const
{
    QVariantMap result;
    if (const Item *item = liveItem(id)) {
        for (auto it = item->members.begin(); it != item->members.end(); ++it)
            result.insert(it.key(), it->value.toVariant());
    }
    return result;
}

// ---- files ------------------------------------------------------------------

QString TestServer::storeFile(const QByteArray &data, const QString &suffix)
{
    static const QRegularExpression safeSuffix(QRegularExpression::anchoredPattern(QStringLiteral("\\.[A-Za-z0-9]{1,5}")));
    const QString name = randomHex(12) + (safeSuffix.match(suffix).hasMatch() ? suffix.toLower() : QString());
    files.insert(name, data);
    return name;
}

QString TestServer::fileAddress(const QString &name) const
{
    return baseUrl() + QStringLiteral("/files/") + name;
}

QByteArray TestServer::fileData(const QString &addressOrName) const
{
    const QString prefix = baseUrl() + QStringLiteral("/files/");
    const QString name = addressOrName.startsWith(prefix) ? addressOrName.mid(prefix.size()) : addressOrName;
    return files.value(name);
}

void TestServer::handleFile(const QString &name, const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    bool formOk = false;
    received.append(record(request, &formOk));
    Fault current = Fault::None;
    if (downloadFault != Fault::None) {
        current = downloadFault;
        if (downloadFaultTimes > 0 && --downloadFaultTimes == 0)
            downloadFault = Fault::None;
    }
    switch (current) {
    case Fault::Hang:
        hanging.push_back(std::make_unique<QHttpServerResponder>(std::move(responder)));
        return;
    case Fault::Http500:
        responder.write(QByteArrayLiteral("server error"), QByteArrayLiteral("text/plain"), StatusCode::InternalServerError);
        return;
    case Fault::Empty:
        responder.write(QByteArray(), QByteArrayLiteral("application/octet-stream"));
        return;
    default:
        break;
    }
    auto it = files.constFind(name);
    if (request.method() != QHttpServerRequest::Method::Get || it == files.constEnd()) {
        responder.write(StatusCode::NotFound);
        return;
    }
    responder.write(*it, QByteArrayLiteral("application/octet-stream"));
}

// ---- engine requests --------------------------------------------------------

int TestServer::engineRequestCount() const
{
    int count = 0;
    for (const Request &request : received) {
        if (request.path == QLatin1String("/tavrin-engine"))
            ++count;
    }
    return count;
}

TestServer::Request TestServer::record(const QHttpServerRequest &request, bool *formOk)
{
    Request result;
    result.method = QString::fromLatin1(QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(
                                            int(request.method())))
                        .toUpper();
    result.path = request.url().path();
    result.userAgent = headerValue(request, "User-Agent");
    *formOk = parseForm(headerValue(request, "Content-Type"), request.body(), result);
    return result;
}

void TestServer::handleEngine(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    bool formOk = false;
    const Request req = record(request, &formOk);
    received.append(req);
    if (request.method() != QHttpServerRequest::Method::Post || !formOk) {
        responder.write(QByteArrayLiteral("expected a multipart/form-data POST"), QByteArrayLiteral("text/plain"),
                        StatusCode::BadRequest);
        return;
    }

    if (forcedResult >= 0) {
        const int code = forcedResult;
        if (forcedResultTimes > 0 && --forcedResultTimes == 0)
            forcedResult = -1;
        answer(std::move(responder), QJsonObject{{QStringLiteral("result"), code}}, Fault::None);
        return;
    }

    Fault current = Fault::None;
    bool applyFirst = faultAfterApply;
    if (fault != Fault::None) {
        current = fault;
        if (faultTimes > 0 && --faultTimes == 0)
            fault = Fault::None;
    }
    // A broken body is an answer to a processed request; a 500 or a silence
    // is one only when asked for.
    if (current != Fault::Http500 && current != Fault::Hang)
        applyFirst = true;
    if (current != Fault::None && !applyFirst) {
        answer(std::move(responder), QJsonObject{{QStringLiteral("result"), 0}}, current);
        return;
    }

    const QJsonObject result = process(req);
    if (current == Fault::None && holdAnswers) {
        held.push_back(std::unique_ptr<Held>(new Held{std::move(responder), result}));
        return;
    }
    answer(std::move(responder), result, current);
}

void TestServer::releaseHeldAnswers()
{
    std::vector<std::unique_ptr<Held>> pending;
    pending.swap(held);
    for (auto &entry : pending)
        answer(std::move(entry->responder), entry->answer, Fault::None);
}

void TestServer::answer(QHttpServerResponder &&responder, const QJsonObject &answer, Fault fault)
{
    const QByteArray text = QJsonDocument(answer).toJson(QJsonDocument::Compact);
    switch (fault) {
    case Fault::None:
        responder.write(text, jsonType);
        break;
    case Fault::Malformed:
        responder.write(text.left(text.size() / 2) + "\x01{[\"", jsonType);
        break;
    case Fault::Empty:
        responder.write(QByteArray(), jsonType);
        break;
    case Fault::DeeplyNested: {
        QByteArray body = text.left(text.size() - 1);
        body += ",\"padding\":" + QByteArray(nestingDepth, '[') + QByteArray(nestingDepth, ']') + '}';
        responder.write(body, jsonType);
        break;
    }
    case Fault::Huge: {
        QByteArray body = text.left(text.size() - 1);
        const qint64 padding = std::max<qint64>(0, hugeBodySize - body.size() - 16);
        body += ",\"padding\":\"" + QByteArray(padding, 'x') + "\"}";
        responder.write(body, jsonType);
        break;
    }
    case Fault::Http500:
        responder.write(text, jsonType, StatusCode::InternalServerError);
        break;
    case Fault::Hang:
        hanging.push_back(std::make_unique<QHttpServerResponder>(std::move(responder)));
        break;
    }
}

QJsonObject TestServer::process(const Request &request)
{
    const auto field = [&request](const char *name) { return request.fields.value(QString::fromLatin1(name)); };
    if (!requiredVersion.isEmpty() && field("version") != requiredVersion)
        return {{QStringLiteral("result"), 4}};

    QString sessionId = field("session");
    auto sessionIt = sessions.find(sessionId);
    const bool hasSession = !sessionId.isEmpty() && sessionIt != sessions.end()
                            && sessionIt->key == field("session_key");
    bool newSession = false;
    if (!hasSession) {
        const QString mail = field("mail");
        const QString hash = field("hash");
        User *user = findUser(mail);
        if (!user && autoRegister && !mail.isEmpty() && !hash.isEmpty()) {
            addUser(mail, hash);
            user = findUser(mail);
        }
        if (!user || user->hash.isEmpty() || user->hash != hash)
            return {{QStringLiteral("result"), 2}};
        sessionId = randomHex(8);
        sessionIt = sessions.insert(sessionId, Session{randomHex(16), user->id, {}});
        newSession = true;
    }
    Session &session = *sessionIt;

    QJsonObject result;
    const QString action = field("action");
    if (action == QLatin1String("exec")) {
        result = processExec(request, session.user);
    } else if (action == QLatin1String("commit")) {
        const bool carriesChanges = !request.files.isEmpty()
                                    || [&] {
                                           for (const char *name : {"create", "set", "remove"}) {
                                               bool ok = false;
                                               if (!parseArray(field(name), &ok).isEmpty() || !ok)
                                                   return true;
                                           }
                                           return false;
                                       }();
        // Changes are accepted only under a session the client already
        // holds: the session keys its local ids.
        if (newSession && carriesChanges)
            result = {{QStringLiteral("result"), 1}};
        else
            result = processCommit(request, sessionId, session);
    } else {
        result = {{QStringLiteral("result"), 1}};
    }
    result.insert(QStringLiteral("user"), session.user);
    result.insert(QStringLiteral("session"), sessionId);
    result.insert(QStringLiteral("session_key"), session.key);
    return result;
}

QJsonObject TestServer::processExec(const Request &request, qint64 user)
{
    const auto handler = execHandlers.constFind(request.fields.value(QStringLiteral("method")));
    if (handler == execHandlers.constEnd() || !*handler)
        return {{QStringLiteral("result"), 1}};
    QJsonObject result = (*handler)(request, user);
    if (!result.contains(QStringLiteral("result")))
        result.insert(QStringLiteral("result"), 0);
    return result;
}

QJsonObject TestServer::processCommit(const Request &request, const QString &sessionId, Session &session)
{
    const auto field = [&request](const char *name) { return request.fields.value(QString::fromLatin1(name)); };
    bool createOk = false, setOk = false, removeOk = false;
    const QJsonArray creates = parseArray(field("create"), &createOk);
    const QJsonArray sets = parseArray(field("set"), &setOk);
    const QJsonArray removes = parseArray(field("remove"), &removeOk);
    if (!createOk || !setOk || !removeOk)
        return {{QStringLiteral("result"), 1}};

    bool stateOk = false;
    qint64 since = field("state").toLongLong(&stateOk);
    if (!stateOk || since < 0 || since > sequence)
        since = 0;

    // Creates first, so that sets and removes of this commit can name them.
    QJsonObject translate;
    for (const QJsonValue &entry : creates) {
        const qint64 local = jsonId(entry.toObject().value(QStringLiteral("id")));
        const QString type = entry.toObject().value(QStringLiteral("type")).toString();
        if (local >= 0 || !isValidName(type))
            continue;
        qint64 serverId = session.translations.value(local);
        if (serverId == 0) {
            Item item;
            item.id = serverId = nextItemId++;
            item.user = session.user;
            item.type = type;
            item.createdSequence = ++sequence;
            item.createdBy = sessionId;
            items.insert(item.id, item);
            session.translations.insert(local, serverId);
        }
        translate.insert(QString::number(local), serverId);
    }

    // Ids as the client sent them: its local ids map through the session.
    const auto resolve = [&session](qint64 id) { return id < 0 ? session.translations.value(id) : id; };
    const auto ownItem = [this, &session](qint64 id) {
        Item *item = liveItem(id);
        return item && item->user == session.user ? item : nullptr;
    };

    for (const QJsonValue &entry : sets) {
        const QJsonObject set = entry.toObject();
        const qint64 sentId = jsonId(set.value(QStringLiteral("id")));
        const QString member = set.value(QStringLiteral("member")).toString();
        Item *item = ownItem(resolve(sentId));
        if (!item || !isValidName(member) || member == QLatin1String("id"))
            continue;
        QJsonValue value = set.value(QStringLiteral("value"));
        if (isIdMember(member) && value.isDouble()) {
            const qint64 id = resolve(jsonId(value));
            if (id == 0 && value.toInteger() != 0)
                continue;
            value = id;
        }
        if (isFileMember(member) && !value.toString().isEmpty()) {
            const QString partName = QStringLiteral("file:%1:%2").arg(sentId).arg(member);
            const auto part = request.files.constFind(partName);
            if (part == request.files.constEnd())
                continue;
            const qsizetype dot = part->fileName.lastIndexOf(u'.');
            value = fileAddress(storeFile(part->data, dot >= 0 ? part->fileName.mid(dot) : QString()));
        }
        applySet(*item, member, value, parseTime(set.value(QStringLiteral("modified")).toString()), sessionId);
    }

    for (const QJsonValue &entry : removes) {
        if (Item *item = ownItem(resolve(jsonId(entry)))) {
            item->removedSequence = ++sequence;
            item->removedBy = sessionId;
        }
    }

    QJsonObject result{{QStringLiteral("result"), 0}, {QStringLiteral("translate"), translate},
                       {QStringLiteral("state"), sequence}};
    addChanges(result, session.user, since, sessionId);

    // Hostile entries the test asked for go into this answer.
    for (auto it = injectedTranslations.begin(); it != injectedTranslations.end(); ++it)
        translate.insert(it.key(), it.value());
    if (!injectedTranslations.isEmpty())
        result.insert(QStringLiteral("translate"), translate);
    const auto append = [&result](const char *key, const QJsonArray &extra) {
        if (extra.isEmpty())
            return;
        QJsonArray list = result.value(QLatin1String(key)).toArray();
        for (const QJsonValue &value : extra)
            list.append(value);
        result.insert(QLatin1String(key), list);
    };
    append("create", injectedCreates);
    append("set", injectedSets);
    append("remove", injectedRemoves);
    for (auto it = injectedMembers.begin(); it != injectedMembers.end(); ++it)
        result.insert(it.key(), it.value());
    injectedTranslations = {};
    injectedCreates = {};
    injectedSets = {};
    injectedRemoves = {};
    injectedMembers = {};
    return result;
}

void TestServer::addChanges(QJsonObject &answer, qint64 user, qint64 since, const QString &sessionId) const
{
    QJsonArray creates, sets, removes;
    for (const Item &item : items) {
        if (item.user != user)
            continue;
        // What the asking session can know of: items that existed at its
        // state, and the ones it created itself.
        const bool known = item.createdSequence <= since || item.createdBy == sessionId;
        if (item.removedSequence != 0) {
            if (item.removedSequence > since && item.removedBy != sessionId && known)
                removes.append(item.id);
            continue;
        }
        const bool isNew = !known;
        if (isNew)
            creates.append(QJsonObject{{QStringLiteral("id"), item.id}, {QStringLiteral("type"), item.type}});
        for (auto it = item.members.begin(); it != item.members.end(); ++it) {
            if (!isNew && (it->sequence <= since || it->session == sessionId))
                continue;
            sets.append(QJsonObject{{QStringLiteral("id"), item.id},
                                    {QStringLiteral("member"), it.key()},
                                    {QStringLiteral("value"), it->value},
                                    {QStringLiteral("modified"), it->modified.toString(Qt::ISODateWithMs)}});
        }
    }
    answer.insert(QStringLiteral("create"), creates);
    answer.insert(QStringLiteral("set"), sets);
    answer.insert(QStringLiteral("remove"), removes);
}

// ---- switches -----------------------------------------------------------------

void TestServer::setFault(Fault newFault, int times, bool applyFirst)
{
    fault = times == 0 ? Fault::None : newFault;
    faultTimes = times;
    faultAfterApply = applyFirst;
}

void TestServer::setDownloadFault(Fault newFault, int times)
{
    downloadFault = times == 0 ? Fault::None : newFault;
    downloadFaultTimes = times;
}

void TestServer::setForcedResult(int code, int times)
{
    forcedResult = times == 0 ? -1 : code;
    forcedResultTimes = times;
}

void TestServer::injectTranslation(const QString &key, const QJsonValue &value)
{
    injectedTranslations.insert(key, value);
}

void TestServer::injectCreate(const QJsonValue &id, const QJsonValue &type)
{
    injectedCreates.append(QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("type"), type}});
}

void TestServer::injectSet(const QJsonValue &id, const QString &member, const QJsonValue &value)
{
    injectedSets.append(QJsonObject{{QStringLiteral("id"), id},
                                    {QStringLiteral("member"), member},
                                    {QStringLiteral("value"), value},
                                    {QStringLiteral("modified"),
                                     QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}});
}

void TestServer::injectRemove(const QJsonValue &id)
{
    injectedRemoves.append(id);
}

void TestServer::injectAnswerMember(const QString &key, const QJsonValue &value)
{
    injectedMembers.insert(key, value);
}

QStringList TestServer::hostileFileAddresses() const
{
    return {
        QStringLiteral("file:///etc/passwd"),
        QStringLiteral("file:database.db"),
        QStringLiteral("qrc:/rc/icon.png"),
        QStringLiteral(":/rc/icon.png"),
        QStringLiteral("data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg=="),
        QStringLiteral("ftp://127.0.0.1/files/x.png"),
        QStringLiteral("/files/x.png"),
        QStringLiteral("../database.db"),
        fileAddress(QString(1100, u'a') + QStringLiteral(".png")),
    };
}

void TestServer::setExecHandler(const QString &method, ExecHandler handler)
{
    execHandlers.insert(method, std::move(handler));
}
