#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponder;
class QTcpServer;

// A loopback web service for the sync engine's tests, speaking the protocol of
// docs/sync-protocol.md on 127.0.0.1 (a free port). It keeps accounts,
// sessions, items and files in memory, numbers server ids from 1000 and counts
// every applied change in a sequence number that it answers as "state".
//
// Tests change items "on the server" as another client would (createItem,
// setMember, setFileMember, removeItem), read them back for assertions, and
// switch on faults: forced result codes, broken bodies, HTTP 500, requests that
// never get an answer, answers held back until released, and hostile entries
// injected into the next commit answer.
class TestServer : public QObject
{
    Q_OBJECT

public:
    enum class Fault {
        None,
        Malformed,    // 200 with a truncated JSON text
        Empty,        // 200 with an empty body
        DeeplyNested, // 200 with a JSON answer nested nestingDepth() levels deep
        Huge,         // 200 with a valid answer padded to hugeBodySize() bytes
        Http500,      // status 500 whose body looks like a valid answer
        Hang,         // no answer, ever
    };

    struct UploadedFile
    {
        QString fileName;
        QByteArray data;
    };

    // One request as the server received it.
    struct Request
    {
        QString method; // "GET", "POST", ...
        QString path;
        QByteArray userAgent;
        QHash<QString, QString> fields;       // text parts of a form
        QHash<QString, UploadedFile> files;   // file parts, by field name
    };

    using ExecHandler = std::function<QJsonObject(const Request &request, qint64 user)>;

    explicit TestServer(QObject *parent = nullptr);
    ~TestServer() override;

    // Listens on 127.0.0.1 (port 0: a free one). False when it cannot.
    bool listen(quint16 port = 0);
    quint16 port() const { return serverPort; }
    QString baseUrl() const;    // "http://127.0.0.1:<port>"
    QString endpoint() const;   // baseUrl() + "/tavrin-engine"
    // An address on a second port that accepts connections and never answers.
    QString silentUrl() const;

    // Accounts. Unknown mails register themselves on first use (with the hash
    // they bring) unless that is switched off; ids count from 1.
    qint64 addUser(const QString &mail, const QString &hash);
    qint64 userId(const QString &mail) const;
    void setAutoRegister(bool on) { autoRegister = on; }
    // Only this "version" is accepted (result 4 for others); empty: any.
    void setRequiredVersion(const QString &version) { requiredVersion = version; }
    // Forgets every session, as after a restart of the service.
    void dropSessions();

    // Changes made on the server, as another client would make them. The
    // account is given by its mail (registered when unknown).
    qint64 createItem(const QString &mail, const QString &type, const QVariantMap &members = {});
    bool setMember(qint64 id, const QString &member, const QVariant &value);
    // Stores the bytes as a new file and sets the member to its address.
    QString setFileMember(qint64 id, const QString &member, const QByteArray &data,
                          const QString &suffix = QStringLiteral(".png"));
    bool removeItem(qint64 id);

    // Reading the store.
    QList<qint64> itemIds(const QString &type = {}) const; // live items, ascending
    bool hasItem(qint64 id) const;                          // live (not removed)
    QString itemType(qint64 id) const;
    QVariant member(qint64 id, const QString &member) const;
    QVariantMap members(qint64 id) const;
    // A stored file by its address or bare name; empty when unknown.
    QByteArray fileData(const QString &addressOrName) const;
    int fileCount() const { return int(files.size()); }
    qint64 state() const { return sequence; }

    // Every request received so far, oldest first.
    const QList<Request> &requests() const { return received; }
    int engineRequestCount() const;
    void clearRequests() { received.clear(); }

    // Faults of the engine endpoint. Each applies to the next `times` engine
    // requests (-1: until switched off). Http500 and Hang apply nothing
    // unless `applyFirst` is set (then the answer is lost after the commit
    // was applied); the broken bodies always answer a processed request.
    void setFault(Fault fault, int times = -1, bool applyFirst = false);
    // Faults of file downloads (Http500, Empty, Hang or None).
    void setDownloadFault(Fault fault, int times = -1);
    // Answers {"result": code} and applies nothing; -1 switches it off.
    void setForcedResult(int code, int times = -1);
    void setNestingDepth(int depth) { nestingDepth = depth; }
    void setHugeBodySize(qint64 bytes) { hugeBodySize = bytes; }

    // Holds engine answers back (the request has been processed) until
    // releaseHeldAnswers(), so that a test can act while a commit is in flight.
    void setHoldAnswers(bool on) { holdAnswers = on; }
    int heldAnswerCount() const { return int(held.size()); }
    void releaseHeldAnswers();

    // Entries added to the next successful commit answer, then forgotten.
    void injectTranslation(const QString &key, const QJsonValue &value);
    void injectCreate(const QJsonValue &id, const QJsonValue &type);
    void injectSet(const QJsonValue &id, const QString &member, const QJsonValue &value);
    void injectRemove(const QJsonValue &id);
    // Replaces (or adds) a top-level member of the next commit answer.
    void injectAnswerMember(const QString &key, const QJsonValue &value);
    // File addresses a client must never fetch or read: other schemes, relative
    // addresses, an address over 1,024 characters on this very server.
    QStringList hostileFileAddresses() const;

    // Handler of the remote call `method`; its object is the answer (with
    // "result" 0 when it sets none).
    void setExecHandler(const QString &method, ExecHandler handler);

private:
    struct Member
    {
        QJsonValue value;
        QDateTime modified;
        qint64 sequence = 0;
        QString session; // who set it last; empty: the server itself
    };
    struct Item
    {
        qint64 id = 0;
        qint64 user = 0;
        QString type;
        QMap<QString, Member> members;
        qint64 createdSequence = 0;
        QString createdBy;
        qint64 removedSequence = 0; // 0: alive
        QString removedBy;
    };
    struct User
    {
        qint64 id = 0;
        QString mail;
        QString hash;
    };
    struct Session
    {
        QString key;
        qint64 user = 0;
        QHash<qint64, qint64> translations; // local id -> server id
    };
    struct Held;

    void handleEngine(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void handleFile(const QString &name, const QHttpServerRequest &request, QHttpServerResponder &&responder);
    Request record(const QHttpServerRequest &request, bool *formOk);
    QJsonObject process(const Request &request);
    QJsonObject processCommit(const Request &request, const QString &sessionId, Session &session);
    QJsonObject processExec(const Request &request, qint64 user);
    void addChanges(QJsonObject &answer, qint64 user, qint64 since, const QString &sessionId) const;
    void answer(QHttpServerResponder &&responder, const QJsonObject &answer, Fault fault);
    QString storeFile(const QByteArray &data, const QString &suffix);
    QString fileAddress(const QString &name) const;
    User *findUser(const QString &mail);
    qint64 ensureUser(const QString &mail, const QString &hash);
    Item *liveItem(qint64 id);
    const Item *liveItem(qint64 id) const;
    qint64 applySet(Item &item, const QString &member, const QJsonValue &value, const QDateTime &modified,
                    const QString &sessionId);

    QHttpServer *http = nullptr;
    QTcpServer *silent = nullptr;
    quint16 serverPort = 0;

    QMap<qint64, Item> items;
    QList<User> users;
    QHash<QString, Session> sessions;
    QHash<QString, QByteArray> files;
    QHash<QString, ExecHandler> execHandlers;
    qint64 nextItemId = 1000;
    qint64 sequence = 0;
    QList<Request> received;

    bool autoRegister = true;
    QString requiredVersion;
    Fault fault = Fault::None;
    int faultTimes = 0;
    bool faultAfterApply = false;
    Fault downloadFault = Fault::None;
    int downloadFaultTimes = 0;
    int forcedResult = -1;
    int forcedResultTimes = 0;
    int nestingDepth = 100000;
    qint64 hugeBodySize = 16 * 1024 * 1024;
    bool holdAnswers = false;
    std::vector<std::unique_ptr<Held>> held;
    std::vector<std::unique_ptr<QHttpServerResponder>> hanging;

    QJsonObject injectedTranslations;
    QJsonArray injectedCreates;
    QJsonArray injectedSets;
    QJsonArray injectedRemoves;
    QJsonObject injectedMembers;
};
