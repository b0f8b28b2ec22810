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
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QHttpServer;
class QTcpServer;
class QHttpServerRequest;
class QHttpServerResponder;

// A loopback web service for the sync engine's tests, speaking the protocol of
// docs/sync-protocol.md on 127.0.0.1 (a free port). It keeps accounts,
// sessions, items and files in memory, numbers server ids from 1000 and counts
// every applied change in a sequence number that it answers as "state". It
// keeps the serials of each client store's commits, answers a store clash
// (result 5) to a serial that does not follow, and to every later commit of
// that store, and remembers each set it applied, so that a change sent again
// by a copy or a restored backup never undoes a later one.
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
        DeeplyNested, // 200 with a valid answer padded with arrays nested 5,000 levels deep
        Huge,         // 200 with a valid answer padded to 2 MB (or setHugeSize)
        Http500,      // status 500 whose body looks like a valid answer (or is the file)
        Hang,         // no answer, ever
    };
    Q_ENUM(Fault)

    struct UploadedFile
    {
        QString fileName;
        QByteArray data;
    };

    // One request as the server received it.
    struct Request
    {
        QString path;
        QByteArray userAgent;
        QHash<QString, QString> fields;     // text parts of a form
        QHash<QString, UploadedFile> files; // file parts, by field name
    };

    using ExecHandler = std::function<QJsonObject(const Request &request, qint64 user)>;

    explicit TestServer(QObject *parent = nullptr);
    ~TestServer() override;

    // Listens on 127.0.0.1 on a free port. False when it cannot.
    bool listen();
    QString baseUrl() const;  // "http://127.0.0.1:<port>"
    QString endpoint() const; // baseUrl() + "/tavrin-engine"

    // Accounts, numbered from 1; a log-in must bring the mail and hash given here.
    void addUser(const QString &mail, const QString &hash);
    // Only this "version" is accepted (result 4 for others); empty: any.
    void setRequiredVersion(const QString &version) { requiredVersion = version; }

    // Changes made on the server, as another client would make them, in the
    // account of `mail` (which must exist).
    qint64 createItem(const QString &mail, const QString &type, const QVariantMap &members = {});
    bool setMember(qint64 id, const QString &member, const QVariant &value);
    // Stores the bytes as a new ".png" file and sets the member to its address.
    QString setFileMember(qint64 id, const QString &member, const QByteArray &data);
    bool removeItem(qint64 id);

    // Reading the store: live items only.
    QList<qint64> itemIds(const QString &type = {}) const; // ascending
    QVariant member(qint64 id, const QString &member) const;
    // A stored file by its address; empty when unknown.
    QByteArray fileData(const QString &address) const;

    // Every request received so far, oldest first; how many went to paths
    // starting with `prefix`.
    const QList<Request> &requests() const { return received; }
    int requestCount(const QString &prefix) const;
    // Commits answered with a store clash so far.
    int clashes() const { return clashCount; }
    // Forgets the serials of every client store, as a service restored from
    // an older backup of its own would.
    void loseSerialTable() { serials.clear(); }

    // Faults of the engine endpoint. Each applies to the next `times` engine
    // requests (-1: until switched off). Http500 and Hang apply nothing
    // unless `applyFirst` is set (then the answer is lost after the commit
    // was applied); the broken bodies always answer a processed request.
    void setFault(Fault on, int times = -1, bool applyFirst = false)
    {
        fault.set(on, times);
        faultAfterApply = applyFirst;
    }
    // Faults of file downloads (Http500, Empty, Hang or None).
    void setDownloadFault(Fault fault, int times = -1) { downloadFault.set(fault, times); }
    // Answers {"result": code} and applies nothing; -1 switches it off.
    void setForcedResult(int code, int times = -1)
    {
        forcedResult.set(code < 0 ? std::nullopt : std::optional<int>(code), times);
    }

    // Forgets every session, as after their expiry: the next request with
    // one gets result 2 unless it brings the mail and hash.
    void expireSessions() { sessions.clear(); }
    // Engine requests are answered with a 307 redirect to `location` (empty:
    // off); file addresses with one to `fileLocation`.
    void setRedirect(const QString &location) { redirect = location; }
    void setFileRedirect(const QString &location) { fileRedirect = location; }
    // At most this many changes ("create", "set", "remove" entries) per
    // answer, and at most this many bytes of them; the rest follow with
    // "more" over later polls.
    void setPageSize(int entries) { pageSize = entries; }
    void setPageBytes(qint64 bytes) { pageBytes = bytes; }
    void setHugeSize(qint64 bytes) { hugeSize = bytes; }

    // Holds engine answers back (the request has been processed) until
    // releaseHeldAnswers(), so that a test can act while a commit is in flight.
    void setHoldAnswers(bool on) { holdAnswers = on; }
    int heldAnswerCount() const { return int(held.size()); }
    // Sends the held answers and holds no more.
    void releaseHeldAnswers();

    // Entries added to the next successful commit answer, then forgotten.
    void injectTranslation(const QString &key, const QJsonValue &value) { injectedTranslations.insert(key, value); }
    void injectCreate(const QJsonValue &id, const QJsonValue &type);
    void injectSet(const QJsonValue &id, const QString &member, const QJsonValue &value);
    // Replaces (or adds) a top-level member of the next commit answer.
    void injectAnswerMember(const QString &key, const QJsonValue &value) { injectedMembers.insert(key, value); }
    // The address of a file on a second loopback port that sends its 100
    // bytes one every 200 ms (a slow file server); `n` tells addresses apart.
    QString slowFileAddress(int n);

    // Handler of the remote call `method`; its object is the answer (with
    // "result" 0 when it sets none).
    void setExecHandler(const QString &method, ExecHandler handler) { execHandlers.insert(method, std::move(handler)); }

private:
    // A switch for the next `times` requests (-1: until switched off).
    template<typename T>
    struct Switch
    {
        T value{};
        int times = 0;
        void set(T on, int count)
        {
            value = count == 0 ? T{} : on;
            times = count;
        }
        T take()
        {
            const T current = value;
            if (times > 0 && --times == 0)
                value = T{};
            return current;
        }
    };
    struct Member
    {
        QJsonValue value;
        QDateTime modified;
        qint64 sequence = 0;
        QString origin; // the client store that set it last; empty: the server itself
    };
    struct Item
    {
        qint64 user = 0;
        QString type;
        QMap<QString, Member> members;
        qint64 createdSequence = 0;
        QString createdBy; // client store
        qint64 removedSequence = 0; // 0: alive
        QString removedBy;
    };
    struct Session
    {
        QString key;
        qint64 user = 0;
    };
    // One change an answer can carry, in the order the service made it.
    // The entry itself is made only for the changes a page sends.
    struct Change
    {
        qint64 sequence = 0;
        const char *list; // "create", "set" or "remove"
        qint64 id = 0;
        const QString *member = nullptr; // of a set
    };
    // A create as remembered: its item and its token (empty: sent without).
    struct Create
    {
        qint64 item = 0;
        QString token;
    };
    // The serials a client store sent: the last one, and the key of each with
    // the sequence number before it was first applied. A store found in use
    // by two copies is retired.
    struct Taken
    {
        QString key;
        qint64 before = 0;
    };
    struct Serials
    {
        qint64 last = 0;
        QHash<qint64, Taken> taken;
        bool retired = false;
    };
    // A commit's serial as checked: the number and key to take once the
    // commit is applied, or the serial it sends again (`again`).
    struct SerialCheck
    {
        qint64 number = 0; // 0: none sent
        QString key;
        std::optional<Taken> again;
    };
    using Responder = std::unique_ptr<QHttpServerResponder>;

    void handleEngine(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void handleFile(const QString &name, const QHttpServerRequest &request, QHttpServerResponder &&responder);
    Request record(const QHttpServerRequest &request);
    QJsonObject process(const Request &request);
    QJsonObject processCommit(const Request &request, Session &session);
    // Checks the commit's "serial" and "serial_key": 1 when malformed; 5 (the
    // store retired) when the store is retired, or the serial neither follows
    // its last one nor is one taken before with its key; else 0. Nothing is
    // taken here: takeSerial does that once the commit applied.
    int checkSerial(const Request &request, const QString &origin, SerialCheck *check);
    void takeSerial(const QString &origin, const SerialCheck &check, qint64 before);
    // The store was found in use by two copies of a data folder: every later
    // commit of it clashes too. The result code of a clash, 5.
    int retire(const QString &origin);
    // What an answer carries besides the changes: sets of the values the
    // service holds for sets it refused, and removals of items a commit named
    // that are gone.
    struct Corrections
    {
        QJsonArray sets;
        QSet<std::pair<qint64, QString>> setMembers; // of `sets`
        QList<qint64> removes;
    };
    // The changes after `since` in the account of `user` that the client
    // store has not made up to the sequence number `ownAfter`, and the items
    // it made that it `missed`, at most a page of them; the answer's "state"
    // is the last one sent. From state 0 (the whole account) every removal
    // counts, the store's own too.
    void addChanges(QJsonObject &answer, qint64 since, const QString &origin, qint64 ownAfter,
                    const QSet<qint64> &missed, qint64 user, const Corrections &corrections);
    // The item a create names: the one made before for its token or its
    // local id (which may be gone since), a new one, 0 when refused, -1 when
    // its local id names another create of the store (a clash).
    qint64 createdItem(const QJsonValue &entry, QHash<qint64, Create> &known, qint64 user, const QString &origin,
                       bool make);
    // An item of the user, alive or removed; null when none.
    const Item *userItem(qint64 id, qint64 user) const;

    // The text of an answer, its change lists put in from listTexts.
    QByteArray answerText(const QJsonObject &answer);
    void respond(QHttpServerResponder &&responder, QByteArray body, const QByteArray &type, Fault fault);
    QString storeFile(const QByteArray &data, const QString &suffix);
    qint64 newItem(qint64 user, const QString &type, const QString &origin);
    const Item *liveItem(qint64 id) const;
    Item *liveItem(qint64 id) { return const_cast<Item *>(std::as_const(*this).liveItem(id)); }
    void applySet(Item &item, const QString &member, const QJsonValue &value, const QDateTime &modified,
                  const QString &origin);
    // The answer carries the value the service holds for the member (once).
    static void correct(Corrections &corrections, qint64 id, const QString &member, const Member &held);
    static QJsonObject setEntry(const QJsonValue &id, const QString &member, const Member &held);
    qint64 userId(const QString &mail) const; // 0: unknown

    QHttpServer *http = nullptr;
    quint16 serverPort = 0;

    QMap<qint64, Item> items;
    QList<std::pair<QString, QString>> users; // mail, hash; the id is the place + 1
    QHash<QString, Session> sessions;
    // Creates are remembered per client store: store id -> local id -> the
    // item and the token of the create that made it; and by their token:
    // token -> item.
    QHash<QString, QHash<qint64, Create>> translations;
    QHash<QString, qint64> tokens;
    QHash<QString, Serials> serials;
    // Each set a client sent, by item, member, value and "modified" (the
    // local change it stems from): the sequence number it was applied at.
    QHash<QString, qint64> appliedChanges;
    int clashCount = 0;
    QHash<QString, QByteArray> files;
    QHash<QString, ExecHandler> execHandlers;
    qint64 nextItemId = 1000;
    qint64 sequence = 0;
    QList<Request> received;

    QString requiredVersion;
    Switch<Fault> fault;
    bool faultAfterApply = false;
    Switch<Fault> downloadFault;
    Switch<std::optional<int>> forcedResult;
    bool holdAnswers = false;
    QString redirect;
    QString fileRedirect;
    int pageSize = 20000;
    // The client's 16 MiB limit, less room for the rest of the answer.
    qint64 pageBytes = 16 * 1024 * 1024 - 64 * 1024;
    qint64 hugeSize = 2 * 1024 * 1024;
    QTcpServer *slowServer = nullptr;
    std::vector<std::pair<Responder, QJsonObject>> held;
    // Change lists of answers not yet sent, as JSON text, by the token that
    // stands for each in its answer.
    QHash<QString, QByteArray> listTexts;
    int listCount = 0;
    std::vector<Responder> hanging;

    QJsonObject injectedTranslations;
    QJsonArray injectedCreates;
    QJsonArray injectedSets;
    QJsonObject injectedMembers;
};
