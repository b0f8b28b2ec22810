// The sync engine against the plain work underneath it:
//
// - sync_translate_10k: applying a commit answer that translates 10,000 local
//   ids in a store of 100,000 rows (10,000 new screenshots, 90,000 committed
//   pens whose parents are those screenshots, the 10,000 create records),
//   against rewriting the same 120,000 cells directly with Database::setValue,
//   each found through the value index of its column.
//   sync_translate_10k_gui_blocked: of the project's time, the part that the
//   GUI thread spends holding the store lock (every other store user waits
//   meanwhile); the JSON parse runs before it.
// - sync_commit_1000: committing 1,000 changed rows to the loopback service and
//   applying its answer, against posting the same form with a bare
//   QNetworkAccessManager and parsing the same answer.
//
// - sync_apply_account_50k: applying the answer that brings a whole account of
//   50,000 items with 10 members each (5,000 screenshots, 45,000 texts) to an
//   empty store (three runs, medians), the way a commit's answer is applied (read on the thread
//   pool, applied in slices), against parsing the same body with
//   JsonCodec::parse alone. sync_apply_gui_block_max_ms_over_50: the longest
//   time the GUI thread did not return to its event loop meanwhile, over
//   50 ms; in each run a capture (a new screenshot and a commit carrying
//   its create, to the loopback service) is asked for halfway through the
//   apply. sync_apply_memory_over_body: the peak growth of the resident set
//   during the apply (from the body in hand), over the body's size.
// - sync_apply_paged_memory_over_body: the same account held by the loopback
//   service and received from it by a first sync, in pages of at most
//   16 MiB: the peak growth of the resident set (the service's page making,
//   the client's reading and the stored rows counted) over the bytes of the
//   pages.
//
// - sync_commit_form_20k_gui_block_max_ms_over_50: a commit carrying 20,000
//   new pens (two members each), from commit() until its answer is applied,
//   to a loopback service on a thread of its own: the longest time the GUI
//   thread did not return to its event loop meanwhile (the median of three
//   runs), over 50 ms.
//
// Project and anchor are timed alternately in one loop. Output ends with one
// "ratio <name> <value>" line each.

#include "database.h"
#include "engine.h"
#include "storelock.h"
#include "storetables.h"
#include "sync_p.h"
#include "enginestart.h"
#include "jsoncodec.h"
#include "multipartformdata.h"
#include "networkconnector.h"
#include "tavrinconnector.h"
#include "testserver.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHttpMultiPart>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <map>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

struct Totals
{
    double project = 0;
    double anchor = 0;
    double blocked = 0;
};
std::map<std::string, Totals> totals;

const QString mail = QStringLiteral("bench@example.org");
const QString hash = QStringLiteral("5baa61e4c9b93f3f0682250b6cf8331b7ee68fd8");

// Runs the event loop until `done` holds (or 30 s pass).
template <typename Done>
void waitUntil(Done done)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(0);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
}

// --- sync_commit_1000 ----------------------------------------------------------------

constexpr int changedRows = 1000;
TestServer *server = nullptr;
QList<Id> rectangles;

// The service the account's runs commit their captures to.
TestServer *accountService()
{
    static TestServer *service = [] {
        auto *made = new TestServer;
        made->listen();
        made->addUser(mail, hash);
        return made;
    }();
    return service;
}

// The engine's endpoint, kept in this store only.
void pointAt(const QString &endpoint)
{
    StoreLock lock;
    const int table = Database::tableId(QStringLiteral("server_option"));
    Database::insertRow(storeTables().itemsTable, {{storeTables().itemsIdColumn, QVariant(Id(-900000))},
                                     {storeTables().itemsTypeColumn, QStringLiteral("server_option")},
                                     {storeTables().itemsOwnerColumn, QVariant(qint64(0))}});
    Database::insertRow(table, {{storeTables().serverOptionIdColumn, QVariant(Id(-900000))},
                                {storeTables().serverOptionNameColumn, QStringLiteral("server")},
                                {storeTables().serverOptionValueColumn, endpoint}});
}

bool commitAndWait()
{
    TavrinConnector *connector = TavrinConnector::instance();
    bool finished = false;
    bool ok = false;
    const QMetaObject::Connection connection =
        QObject::connect(connector, &TavrinConnector::commitFinishedSignal, [&](bool good) {
            finished = true;
            ok = good;
        });
    connector->commit();
    waitUntil([&] { return finished && !isCommitRunning(); });
    QObject::disconnect(connection);
    return ok;
}

bool prepareCommitStore()
{
    server = new TestServer;
    if (!server->listen())
        return false;
    server->addUser(mail, hash);
    pointAt(server->endpoint());
    setOption(QStringLiteral("mail"), mail);
    setOption(QStringLiteral("hash"), hash);
    for (int i = 0; i < changedRows; ++i) {
        const Id id = createItem(QStringLiteral("skrin_rectangle"));
        setMember(id, QStringLiteral("color"), QStringLiteral("#336699"));
        setMember(id, QStringLiteral("w"), 10.0 + i);
        rectangles.append(id);
    }
    for (int i = 0; i < 4 && Database::rowCount(storeTables().uncommittedCreateTable) > 0; ++i)
        commitAndWait();
    return Database::isEmpty(storeTables().uncommittedCreateTable)
        && Database::isEmpty(storeTables().uncommittedSetTable)
        && server->itemIds(QStringLiteral("skrin_rectangle")).size() == changedRows;
}

// The form of the last commit, rebuilt part by part in the order the engine
// sends them.
MultipartFormData lastCommitForm()
{
    const TestServer::Request &request = server->requests().last();
    MultipartFormData form;
    for (const char *name : {"action", "version", "mail", "hash", "session", "session_key", "store", "state", "create",
                             "set", "remove"}) {
        const QString key = QString::fromLatin1(name);
        if (request.fields.contains(key))
            form.addField(key, request.fields.value(key));
    }
    return form;
}

void commit1000(benchmark::State &state)
{
    QNetworkAccessManager manager;
    Totals sum;
    int n = 0;
    double x = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (const Id id : std::as_const(rectangles))
            setMember(id, QStringLiteral("x"), x += 1.0);
        state.ResumeTiming();

        const auto start = Clock::now();
        const bool ok = commitAndWait();
        const auto middle = Clock::now();

        state.PauseTiming();
        if (!ok || !Database::isEmpty(storeTables().uncommittedSetTable)) {
            state.SkipWithError("the commit failed");
            break;
        }
        const MultipartFormData form = lastCommitForm();
        QNetworkRequest request{QUrl(server->endpoint())};
        request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("tavrin-engine"));
        state.ResumeTiming();

        const auto anchorStart = Clock::now();
        QHttpMultiPart *body = form.createMultiPart();
        QNetworkReply *reply = manager.post(request, body);
        body->setParent(reply);
        waitUntil([reply] { return reply->isFinished(); });
        bool parsed = false;
        const QVariant answer = JsonCodec::parse(QString::fromUtf8(reply->readAll()), &parsed);
        benchmark::DoNotOptimize(answer);
        reply->deleteLater();
        const auto end = Clock::now();
        if (!parsed) {
            state.SkipWithError("the bare post got no answer");
            break;
        }
        sum.project += seconds(start, middle);
        sum.anchor += seconds(anchorStart, end);
        ++n;
    }
    if (n > 0) {
        state.counters["project_ms"] = sum.project / n * 1e3;
        state.counters["anchor_ms"] = sum.anchor / n * 1e3;
    }
    totals["sync_commit_1000"] = sum;
}

// --- sync_translate_10k --------------------------------------------------------------------

constexpr int newShots = 10000;
constexpr int pensPerShot = 9;
constexpr Id firstServerId = 2000000;
constexpr Id firstPen = 5000000;
QByteArray translateAnswer;

Id localShot(int i)
{
    return -(100000 + i);
}

Id serverShot(int i)
{
    return firstServerId + i;
}

// The cells that hold the screenshots' ids, by the columns they sit in.
struct IdCells
{
    int table;
    int column;
};
QList<IdCells> idCells;

void buildTranslateStore()
{
    StoreLock lock;
    const int skrin = Database::tableId(QStringLiteral("skrin"));
    const int pen = Database::tableId(QStringLiteral("skrin_pen"));
    const int skrinId = Database::columnId(skrin, QStringLiteral("id"));
    const int penId = Database::columnId(pen, QStringLiteral("id"));
    const int penParent = Database::columnId(pen, QStringLiteral("parent"));
    for (int i = 0; i < newShots; ++i) {
        const QVariant id(localShot(i));
        Database::insertRow(storeTables().itemsTable, {{storeTables().itemsIdColumn, id},
                                         {storeTables().itemsTypeColumn, QStringLiteral("skrin")},
                                         {storeTables().itemsOwnerColumn, QVariant(qint64(0))}});
        Database::insertRow(skrin, {{skrinId, id},
                                    {Database::columnId(skrin, QStringLiteral("title")), QStringLiteral("new")}});
        Database::insertRow(storeTables().uncommittedCreateTable, {{storeTables().uncommittedCreateIdColumn, id}});
    }
    for (int j = 0; j < newShots * pensPerShot; ++j) {
        const QVariant id(firstPen + j);
        Database::insertRow(storeTables().itemsTable, {{storeTables().itemsIdColumn, id},
                                         {storeTables().itemsTypeColumn, QStringLiteral("skrin_pen")},
                                         {storeTables().itemsOwnerColumn, QVariant(qint64(0))}});
        Database::insertRow(pen, {{penId, id},
                                  {penParent, QVariant(localShot(j / pensPerShot))},
                                  {Database::columnId(pen, QStringLiteral("x")), 1.5},
                                  {Database::columnId(pen, QStringLiteral("data")), QStringLiteral("[0,0,1,1]")}});
    }
    idCells = {{storeTables().itemsTable, storeTables().itemsIdColumn}, {skrin, skrinId}, {pen, penParent},
               {storeTables().uncommittedCreateTable, storeTables().uncommittedCreateIdColumn}};

    QVariantMap translate;
    for (int i = 0; i < newShots; ++i)
        translate.insert(QString::number(localShot(i)), QVariant(serverShot(i)));
    translateAnswer = JsonCodec::serialize(QVariantMap{{QStringLiteral("result"), 0},
                                                       {QStringLiteral("translate"), translate},
                                                       {QStringLiteral("state"), 7}})
                          .toUtf8();
}

// Rewrites every cell of the screenshots' ids from one side to the other,
// each cell found through its column's index.
void rewriteDirectly(bool toServer)
{
    for (int i = 0; i < newShots; ++i) {
        const QVariant from(toServer ? localShot(i) : serverShot(i));
        const QVariant to(toServer ? serverShot(i) : localShot(i));
        for (const IdCells &cells : std::as_const(idCells)) {
            const RowCursor cursor = Database::select(cells.table, cells.column, from);
            for (const int row : cursor.rows)
                Database::setValue(cells.table, row, cells.column, to);
        }
    }
}

// Back to ten thousand creates in flight.
void untranslate()
{
    rewriteDirectly(false);
    StoreLock lock;
    locked::localToServerIds(lock).clear();
    locked::serverToLocalIds(lock).clear();
    locked::sentRows(lock).clear();
    sentCreates.clear();
    for (int i = 0; i < newShots; ++i)
        sentCreates.insert(localShot(i));
}

qsizetype translatedCount()
{
    StoreLock lock;
    return locked::localToServerIds(lock).size();
}

bool translatedEverywhere()
{
    const int pen = Database::tableId(QStringLiteral("skrin_pen"));
    const int penParent = Database::columnId(pen, QStringLiteral("parent"));
    return Database::select(pen, penParent, QVariant(serverShot(newShots - 1))).rows.size() == pensPerShot
        && Database::findRow(storeTables().itemsTable, storeTables().itemsIdColumn, QVariant(localShot(0))) == 0
        && Database::findRow(
               storeTables().uncommittedCreateTable, storeTables().uncommittedCreateIdColumn, QVariant(serverShot(0)))
        > 0;
}

void translate10k(benchmark::State &state)
{
    Totals sum;
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        untranslate();
        state.ResumeTiming();

        const auto start = Clock::now();
        const bool applied = TavrinConnector::instance()->applyCommitAnswer(translateAnswer);
        const auto middle = Clock::now();

        state.PauseTiming();
        if (!applied || !translatedEverywhere() || translatedCount() != newShots) {
            state.SkipWithError("the answer did not translate every id");
            break;
        }
        // The part of the apply that ran under the store lock.
        const double locked = TavrinConnector::lastApplyLockSeconds();
        untranslate();
        state.ResumeTiming();

        const auto anchorStart = Clock::now();
        rewriteDirectly(true);
        const auto end = Clock::now();

        state.PauseTiming();
        if (!translatedEverywhere()) {
            state.SkipWithError("the direct rewrite missed cells");
            break;
        }
        state.ResumeTiming();
        sum.project += seconds(start, middle);
        sum.anchor += seconds(anchorStart, end);
        sum.blocked += locked;
        ++n;
    }
    if (n > 0) {
        state.counters["project_ms"] = sum.project / n * 1e3;
        state.counters["anchor_ms"] = sum.anchor / n * 1e3;
        state.counters["locked_ms"] = sum.blocked / n * 1e3;
    }
    totals["sync_translate_10k"] = sum;
}

// --- sync_apply_account_50k --------------------------------------------------------------

constexpr int accountShots = 5000;
constexpr int textsPerShot = 9;
constexpr Id firstAccountId = 10000000;

// The answer as the service writes it, appended piece by piece so that no
// tree of it is left in the heap before the measurement.
QByteArray accountAnswer()
{
    QByteArray creates = "[";
    QByteArray sets = "[";
    const QByteArray modified = "\"modified\":\"2024-05-01T10:00:00.000Z\"";
    const auto set = [&](Id id, const char *member, const QByteArray &value) {
        if (sets.size() > 1)
            sets += ',';
        sets += "{\"id\":" + QByteArray::number(id) + ",\"member\":\"" + member + "\"," + modified
                + ",\"value\":" + value + '}';
    };
    const auto create = [&](Id id, const char *type) {
        if (creates.size() > 1)
            creates += ',';
        creates += "{\"id\":" + QByteArray::number(id) + ",\"type\":\"" + type + "\"}";
    };
    for (int i = 0; i < accountShots; ++i) {
        const Id shot = firstAccountId + Id(i) * (textsPerShot + 1);
        create(shot, "skrin");
        set(shot, "handle", "\"h" + QByteArray::number(shot, 36) + '"');
        set(shot, "title", "\"Screenshot " + QByteArray::number(i) + '"');
        set(shot, "desc", "\"Notes on the design review\"");
        set(shot, "created", "\"2024-04-30T09:15:00.000Z\"");
        set(shot, "modified", "\"2024-05-01T10:00:00.000Z\"");
        set(shot, "x", "120");
        set(shot, "y", "80");
        set(shot, "w", "1920");
        set(shot, "h", "1080");
        set(shot, "published", "1");
        for (int t = 1; t <= textsPerShot; ++t) {
            const Id text = shot + t;
            create(text, "skrin_text");
            set(text, "parent", QByteArray::number(shot));
            set(text, "x", QByteArray::number(10 * t));
            set(text, "y", QByteArray::number(20 * t));
            set(text, "z", QByteArray::number(t));
            set(text, "font_name", "\"Sans\"");
            set(text, "font_size", "12.5");
            set(text, "font_weight", "50");
            set(text, "font_italic", "0");
            set(text, "color", "\"#ff3366\"");
            set(text, "data", "\"Label " + QByteArray::number(t) + '"');
        }
    }
    return "{\"create\":" + creates + "],\"remove\":[],\"result\":0,\"set\":" + sets + "],\"state\":999}";
}

qint64 statusKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stoll(line.substr(std::string(field).size()));
    }
    return -1;
}

// Starts a new peak of the resident set (Linux: VmHWM is reset to VmRSS).
void resetPeak()
{
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

struct Apply
{
    double seconds = 0;
    double parseSeconds = 0;
    double longestBlockMs = 0;
    double memoryOverBody = 0;
};
Apply apply;

void applyAccount50k(benchmark::State &state)
{
    bool first = true;
    QList<double> projects, anchors, blocks;
    for (auto _ : state) {
        state.PauseTiming();
        // Each run meets an empty store, as a new machine does.
        if (!resetAndLogin(mail, hash)) {
            state.SkipWithError("the store could not be emptied");
            break;
        }
        QByteArray body = accountAnswer();
        resetPeak();
        const qint64 baseKb = statusKb("VmRSS:");
        pointAt(accountService()->endpoint());
        QElapsedTimer gap;
        double longest = 0;
        bool captured = false;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = qMax(longest, gap.nsecsElapsed() / 1e6);
            // A capture halfway: its commit waits for the apply, then carries the create.
            if (!captured && Database::rowCount(storeTables().itemsTable) > accountShots * (textsPerShot + 1) / 2) {
                captured = true;
                const Id shot = createItem(QStringLiteral("skrin"));
                setMember(shot, QStringLiteral("title"), QStringLiteral("captured meanwhile"));
                TavrinConnector::instance()->commit();
            }
            gap.restart();
        });
        bool done = false;
        bool ok = false;
        const QMetaObject::Connection connection = QObject::connect(
            TavrinConnector::instance(), &TavrinConnector::answerAppliedSignal, [&](bool good) {
                done = true;
                ok = good;
            });
        tick.start(0);
        state.ResumeTiming();

        const auto start = Clock::now();
        gap.start();
        TavrinConnector::instance()->applyCommitAnswerInSlices(body);
        QEventLoop loop;
        while (!done && seconds(start, Clock::now()) < 300)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        const auto end = Clock::now();

        state.PauseTiming();
        tick.stop();
        longest = qMax(longest, gap.nsecsElapsed() / 1e6);
        QObject::disconnect(connection);
        const qint64 peakKb = statusKb("VmHWM:");
        const Id lastText = firstAccountId + Id(accountShots) * (textsPerShot + 1) - 1;
        if (!ok || !captured || getMember(lastText, QStringLiteral("data")).toString() != QStringLiteral("Label 9")
            || findItems({{QStringLiteral("type"), QStringLiteral("skrin")}}).size() < accountShots) {
            state.SkipWithError("the account was not applied");
            break;
        }
        state.ResumeTiming();

        const auto anchorStart = Clock::now();
        bool parsed = false;
        const QVariant tree = JsonCodec::parse(QString::fromUtf8(body), &parsed);
        benchmark::DoNotOptimize(tree);
        const auto anchorEnd = Clock::now();
        if (!parsed) {
            state.SkipWithError("the anchor could not parse the body");
            break;
        }
        // The machine is shared: the time figures are the medians of the
        // runs. The memory figure is the first run's, on a heap nothing used
        // before.
        projects.append(seconds(start, end));
        anchors.append(seconds(anchorStart, anchorEnd));
        blocks.append(longest);
        apply.seconds = median(projects);
        apply.parseSeconds = median(anchors);
        apply.longestBlockMs = median(blocks);
        if (first)
            apply.memoryOverBody = double(peakKb - baseKb) * 1024.0 / double(body.size());
        first = false;
        state.counters["body_mb"] = body.size() / 1e6;
        state.counters["project_ms"] = apply.seconds * 1e3;
        state.counters["anchor_ms"] = apply.parseSeconds * 1e3;
        state.counters["longest_block_ms"] = longest;
        state.counters["peak_growth_mb"] = (peakKb - baseKb) / 1024.0;
    }
    // The benchmarks after this one start from an empty store, as before.
    if (!resetAndLogin(mail, hash))
        state.SkipWithError("the store could not be emptied");
}

// --- sync_apply_paged_memory_over_body --------------------------------------------------

double pagedMemoryOverBody = 0;

void applyPagedAccount(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        if (!resetAndLogin(mail, hash)) {
            state.SkipWithError("the store could not be emptied");
            break;
        }
        // The service holds the account before the measurement starts.
        TestServer service;
        if (!service.listen()) {
            state.SkipWithError("the loopback service did not start");
            break;
        }
        service.addUser(mail, hash);
        service.setPageSize(0); // pages as large as the client's limit allows
        for (int i = 0; i < accountShots; ++i) {
            const qint64 shot = service.createItem(mail, QStringLiteral("skrin"),
                {{QStringLiteral("handle"), QStringLiteral("h%1").arg(i)},
                 {QStringLiteral("title"), QStringLiteral("Screenshot %1").arg(i)},
                 {QStringLiteral("desc"), QStringLiteral("Notes on the design review")},
                 {QStringLiteral("created"), QStringLiteral("2024-04-30T09:15:00.000Z")},
                 {QStringLiteral("modified"), QStringLiteral("2024-05-01T10:00:00.000Z")},
                 {QStringLiteral("x"), 120}, {QStringLiteral("y"), 80}, {QStringLiteral("w"), 1920},
                 {QStringLiteral("h"), 1080}, {QStringLiteral("published"), 1}});
            for (int t = 1; t <= textsPerShot; ++t)
                service.createItem(mail, QStringLiteral("skrin_text"),
                    {{QStringLiteral("parent"), shot}, {QStringLiteral("x"), 10 * t}, {QStringLiteral("y"), 20 * t},
                     {QStringLiteral("z"), t}, {QStringLiteral("font_name"), QStringLiteral("Sans")},
                     {QStringLiteral("font_size"), 12.5}, {QStringLiteral("font_weight"), 50},
                     {QStringLiteral("font_italic"), 0}, {QStringLiteral("color"), QStringLiteral("#ff3366")},
                     {QStringLiteral("data"), QStringLiteral("Label %1").arg(t)}});
        }
        pointAt(service.endpoint());
        qint64 bytes = 0;
        int pages = 0;
        const QMetaObject::Connection received = QObject::connect(NetworkConnector::instance(),
            &NetworkConnector::finished, [&](ConnectionId, bool, const QByteArray &answer) {
                bytes += answer.size();
                ++pages;
            });
        const int wanted = accountShots * (textsPerShot + 1);
        resetPeak();
        const qint64 baseKb = statusKb("VmRSS:");
        state.ResumeTiming();

        // The log-in, then a page after the other until one comes without "more".
        const auto start = Clock::now();
        TavrinConnector::instance()->commit();
        QEventLoop loop;
        while (seconds(start, Clock::now()) < 300
               && (Database::rowCount(storeTables().itemsTable) <= wanted || isCommitRunning()
                   || TavrinConnector::isApplyingAnswer()))
            loop.processEvents(QEventLoop::WaitForMoreEvents);

        state.PauseTiming();
        const qint64 peakKb = statusKb("VmHWM:");
        QObject::disconnect(received);
        if (Database::rowCount(storeTables().itemsTable) <= wanted || bytes <= 0) {
            state.SkipWithError("the account did not arrive");
            break;
        }
        pagedMemoryOverBody = double(peakKb - baseKb) * 1024.0 / double(bytes);
        state.counters["body_mb"] = bytes / 1e6;
        state.counters["answers"] = pages;
        state.counters["peak_growth_mb"] = (peakKb - baseKb) / 1024.0;
        state.ResumeTiming();
    }
    if (!resetAndLogin(mail, hash))
        state.SkipWithError("the store could not be emptied");
}

// --- sync_commit_form_20k_gui_block_max_ms_over_50 ------------------------------------

constexpr int formCreates = 20000;
double formLongestBlockMs = 0;

// A loopback service on a thread of its own, so that its work on a large
// commit does not count as the GUI thread's.
class ServiceThread
{
public:
    ServiceThread()
    {
        context.moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(
            &context,
            [this] {
                service = new TestServer;
                if (service->listen())
                    address = service->endpoint();
                service->addUser(mail, hash);
            },
            Qt::BlockingQueuedConnection);
    }
    ~ServiceThread()
    {
        QMetaObject::invokeMethod(&context, [this] { delete service; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    QString endpoint() const { return address; }

private:
    QThread thread;
    QObject context;
    TestServer *service = nullptr;
    QString address;
};

void commitForm20k(benchmark::State &state)
{
    QList<double> blocks;
    for (auto _ : state) {
        state.PauseTiming();
        if (!resetAndLogin(mail, hash)) {
            state.SkipWithError("the store could not be emptied");
            break;
        }
        ServiceThread service;
        pointAt(service.endpoint());
        if (service.endpoint().isEmpty() || !commitAndWait()) {
            state.SkipWithError("the log-in failed");
            break;
        }
        for (int i = 0; i < formCreates; ++i)
            createItemWithMembers(QStringLiteral("skrin_pen"),
                {{QStringLiteral("data"), QStringLiteral("[0,0,%1,%1]").arg(i)},
                 {QStringLiteral("color"), QStringLiteral("#ff3366")}});
        QElapsedTimer gap;
        double longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = qMax(longest, gap.nsecsElapsed() / 1e6);
            gap.restart();
        });
        tick.start(0);
        state.ResumeTiming();

        gap.start();
        const bool ok = commitAndWait();

        state.PauseTiming();
        tick.stop();
        longest = qMax(longest, gap.nsecsElapsed() / 1e6);
        if (!ok || !Database::isEmpty(storeTables().uncommittedCreateTable)) {
            state.SkipWithError("the commit did not take the creates");
            break;
        }
        blocks.append(longest);
        formLongestBlockMs = median(blocks);
        state.counters["longest_block_ms"] = longest;
        state.ResumeTiming();
    }
    if (!resetAndLogin(mail, hash))
        state.SkipWithError("the store could not be emptied");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QString error;
    if (!dir.isValid() || !engineStartInFolder(dir.path(), &error)) {
        std::fprintf(stderr, "cannot start the engine: %s\n", qPrintable(error));
        return 1;
    }
    commitModeTimer->stop();

    // First, on a heap that nothing has used much yet.
    benchmark::RegisterBenchmark("sync_apply_account_50k", applyAccount50k)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::RegisterBenchmark("sync_apply_paged_account_50k", applyPagedAccount)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark("sync_commit_form_20k", commitForm20k)->Unit(benchmark::kMillisecond)->Iterations(3);
    benchmark::RegisterBenchmark("sync_commit_1000", [](benchmark::State &state) {
        static const bool prepared = prepareCommitStore();
        if (!prepared) {
            state.SkipWithError("the loopback service did not take the 1,000 rows");
            return;
        }
        commit1000(state);
    })->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark("sync_translate_10k", [](benchmark::State &state) {
        static bool built = false;
        if (!built) {
            buildTranslateStore();
            built = true;
        }
        translate10k(state);
    })->Unit(benchmark::kMillisecond)->MinTime(2.0);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    shutdownBackground();
    delete server;

    const Totals commit = totals["sync_commit_1000"];
    const Totals translate = totals["sync_translate_10k"];
    if (commit.anchor <= 0 || translate.anchor <= 0 || translate.project <= 0) {
        std::fprintf(stderr, "a benchmark did not run (filtered out, or failed)\n");
        return 1;
    }
    std::printf("ratio sync_translate_10k %.6f\n", translate.project / translate.anchor);
    std::printf("ratio sync_translate_10k_gui_blocked %.6f\n", translate.blocked / translate.project);
    std::printf("ratio sync_commit_1000 %.6f\n", commit.project / commit.anchor);
    if (apply.parseSeconds <= 0) {
        std::fprintf(stderr, "sync_apply_account_50k did not run (filtered out, or failed)\n");
        return 1;
    }
    std::printf("ratio sync_apply_account_50k %.6f\n", apply.seconds / apply.parseSeconds);
    std::printf("ratio sync_apply_gui_block_max_ms_over_50 %.6f\n", apply.longestBlockMs / 50.0);
    std::printf("ratio sync_apply_memory_over_body %.6f\n", apply.memoryOverBody);
    if (pagedMemoryOverBody <= 0) {
        std::fprintf(stderr, "sync_apply_paged_account_50k did not run (filtered out, or failed)\n");
        return 1;
    }
    std::printf("ratio sync_apply_paged_memory_over_body %.6f\n", pagedMemoryOverBody);
    if (formLongestBlockMs <= 0) {
        std::fprintf(stderr, "sync_commit_form_20k did not run (filtered out, or failed)\n");
        return 1;
    }
    std::printf("ratio sync_commit_form_20k_gui_block_max_ms_over_50 %.6f\n", formLongestBlockMs / 50.0);
    return 0;
}
