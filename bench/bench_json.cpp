// JSON codec against Qt's own JSON classes on the same data:
//   json_parse_commit      a ~5 MB commit-like answer, from UTF-8 bytes to a variant tree
//   json_serialize_commit  the same tree to compact text
//   json_parse_polygon     a 100,000-number array of reals (a long pen stroke)
#include "jsoncodec.h"
#include "recordingreporter.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

QString words(QRandomGenerator &rng, int count)
{
    static const QStringList pool = {"screenshot", "menu", "caf\u00e9", "window", "note", "draft", "z\u00f3\u0142w",
                                     "arrow", "\"quoted\"", "path/to", "line\nbreak", "blue", "x"};
    QStringList out;
    for (int i = 0; i < count; ++i)
        out.append(pool.at(rng.bounded(int(pool.size()))));
    return out.join(u' ');
}

double coordinate(QRandomGenerator &rng)
{
    return rng.bounded(40000) / 16.0 + 0.25;  // like scene coordinates: a few decimals
}

// 10,000 objects in the shape of the service's commit answer.
QVariant commitAnswer()
{
    QRandomGenerator rng(4242);
    QVariantList items;
    QVariantMap ids;
    for (int i = 0; i < 10000; ++i) {
        QVariantMap item;
        const qlonglong id = 1000000 + i;
        item["id"] = id;
        item["parent"] = qlonglong(rng.bounded(1000000));
        item["type"] = QStringLiteral("skrin_pen");
        item["title"] = words(rng, 4);
        item["description"] = words(rng, 8);
        item["x"] = coordinate(rng);
        item["y"] = coordinate(rng);
        item["z"] = qlonglong(rng.bounded(100));
        item["width"] = coordinate(rng);
        item["height"] = coordinate(rng);
        item["color"] = QStringLiteral("#%1").arg(rng.bounded(0x1000000), 6, 16, QLatin1Char('0'));
        item["created"] = QStringLiteral("2024-02-29T13:05:09");
        item["modified"] = QStringLiteral("2024-03-01T08:00:00");
        item["handle"] = QStringLiteral("h%1").arg(rng.generate(), 0, 36);
        item["published"] = rng.bounded(2) == 1;
        item["trashed"] = false;
        item["file"] = QVariant();
        QVariantList points;
        for (int p = 0; p < 6; ++p)
            points.append(QVariant(QVariantList{coordinate(rng), coordinate(rng)}));
        item["points"] = points;
        item["tags"] = QVariantList{QStringLiteral("work"), qlonglong(rng.bounded(50))};
        items.append(item);
        ids.insert(QString::number(-1 - i), id);
    }
    return QVariantMap{{"status", "ok"}, {"time", qlonglong(1709211909)}, {"ids", ids}, {"items", items}};
}

QVariant polygon()
{
    QRandomGenerator rng(77);
    QVariantList reals;
    for (int i = 0; i < 100000; ++i)
        reals.append(rng.bounded(2000000) / 1000.0 + 0.0001 * rng.bounded(10));
    return reals;
}

const QVariant &commitTree()
{
    static const QVariant tree = commitAnswer();
    return tree;
}

// The bytes a service would send: standard JSON, as Qt writes it.
const QByteArray &commitBytes()
{
    static const QByteArray bytes = QJsonDocument::fromVariant(commitTree()).toJson(QJsonDocument::Compact);
    return bytes;
}

const QByteArray &polygonBytes()
{
    static const QByteArray bytes = QJsonDocument::fromVariant(polygon()).toJson(QJsonDocument::Compact);
    return bytes;
}

// Our reader takes text, so the decoding of the bytes is part of its time.
void parseOurs(benchmark::State &state, const QByteArray &bytes)
{
    for (auto _ : state) {
        bool ok = false;
        QVariant v = JsonCodec::parse(QString::fromUtf8(bytes), &ok);
        if (!ok)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void parseQt(benchmark::State &state, const QByteArray &bytes)
{
    for (auto _ : state) {
        QVariant v = QJsonDocument::fromJson(bytes).toVariant();
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void json_parse_commit(benchmark::State &state) { parseOurs(state, commitBytes()); }
void json_parse_commit_qt(benchmark::State &state) { parseQt(state, commitBytes()); }
void json_parse_polygon(benchmark::State &state) { parseOurs(state, polygonBytes()); }
void json_parse_polygon_qt(benchmark::State &state) { parseQt(state, polygonBytes()); }

void json_serialize_commit(benchmark::State &state)
{
    const QVariant &tree = commitTree();
    for (auto _ : state) {
        QString text = JsonCodec::serialize(tree);
        benchmark::DoNotOptimize(text);
    }
}

void json_serialize_commit_qt(benchmark::State &state)
{
    const QVariant &tree = commitTree();
    for (auto _ : state) {
        QByteArray text = QJsonDocument::fromVariant(tree).toJson(QJsonDocument::Compact);
        benchmark::DoNotOptimize(text);
    }
}

BENCHMARK(json_parse_commit)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(json_parse_commit_qt)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(json_serialize_commit)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(json_serialize_commit_qt)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(json_parse_polygon)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(json_parse_polygon_qt)->Unit(benchmark::kMillisecond)->MinTime(0.5);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    // Build the data before timing starts.
    std::printf("commit answer: %lld bytes; polygon: %lld bytes\n", qlonglong(commitBytes().size()),
                qlonglong(polygonBytes().size()));
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const char *name : {"json_parse_commit", "json_serialize_commit", "json_parse_polygon"}) {
        const double ours = reporter.time(name);
        const double anchor = reporter.time(std::string(name) + "_qt");
        if (ours > 0 && anchor > 0)
            std::printf("ratio %s %.3f\n", name, ours / anchor);
    }
    return 0;
}
