#include "capturestore.h"

#include "applog.h"
#include "database.h"
#include "imagejobs.h"
#include "shareaddress.h"
#include "storedtime.h"

#include <QDateTime>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

const QString skrinType = QStringLiteral("skrin");

// Ids in the order they were made: the service's ids count up, and every
// local id (counting down from -1) is newer than the service's ones.
std::pair<int, Id> creationRank(Id id)
{
    return id < 0 ? std::pair<int, Id>(1, -id) : std::pair<int, Id>(0, id);
}

} // namespace

Id storeCapture(const QImage &picture, const QString &ext, int quality)
{
    if (picture.isNull())
        return 0;
    const QString file = Database::newFileName(ext);
    const Id skrin = file.isEmpty() ? 0 : createItem(skrinType);
    if (skrin == 0) {
        qCWarning(lcApp) << "no screenshot row could be made for a capture";
        return 0;
    }
    // Shown at once from the cache while the file is encoded in the background.
    saveImageAsync(picture, file, true, quality);

    const QDateTime now = QDateTime::currentDateTime();
    // The picture's place, until the renderer merges the annotations into a
    // picture of its own and writes these again.
    setMember(skrin, QStringLiteral("x"), 0.0);
    setMember(skrin, QStringLiteral("y"), 0.0);
    setMember(skrin, QStringLiteral("w"), picture.width());
    setMember(skrin, QStringLiteral("h"), picture.height());
    setMember(skrin, QStringLiteral("title"), QString(""));
    setMember(skrin, QStringLiteral("desc"), QString(""));
    setMember(skrin, QStringLiteral("handle"), randomHandle());
    setMember(skrin, QStringLiteral("file"), file);
    setMember(skrin, QStringLiteral("trashed"), 0);
    setMember(skrin, QStringLiteral("published"), 1);
    setMember(skrin, QStringLiteral("modified"), now);
    setMember(skrin, QStringLiteral("created"), now);

    const Id image = createItem(QStringLiteral("skrin_image"));
    const QVariantList members{0.0, 0.0, 0.0, file, picture.width(), picture.height(), 0.0, 0.0, picture.width(),
                               picture.height()};
    const QStringList names{QStringLiteral("x"),     QStringLiteral("y"),     QStringLiteral("z"),
                            QStringLiteral("file"),  QStringLiteral("w"),     QStringLiteral("h"),
                            QStringLiteral("src_x"), QStringLiteral("src_y"), QStringLiteral("src_w"),
                            QStringLiteral("src_h")};
    for (qsizetype i = 0; i < names.size(); ++i)
        setMember(image, names.at(i), members.at(i));
    // Watchers of a screenshot's annotations build them once "parent" is set.
    setMember(image, QStringLiteral("parent"), skrin);
    return skrin;
}

namespace {

struct Created
{
    QDateTime created;
    Id id;
};

// Every screenshot's "trashed" and "created" cells, read from those two
// columns alone.
TypeColumns screenshotTimes()
{
    return readMembersOfType(skrinType, {QStringLiteral("trashed"), QStringLiteral("created")});
}

bool inBin(const TypeColumns &times, qsizetype i)
{
    return times.columns.at(0).at(i).toInt() != 0;
}

// The screenshots of `times` not in the bin, with their creation times.
QList<Created> liveScreenshots(const TypeColumns &times)
{
    QList<Created> entries;
    entries.reserve(times.ids.size());
    for (qsizetype i = 0; i < times.ids.size(); ++i) {
        if (!inBin(times, i))
            entries.append({times.columns.at(1).at(i).toDateTime(), times.ids.at(i)});
    }
    return entries;
}

bool createdBefore(const Created &a, const Created &b)
{
    // A row without a valid time sorts first, as the oldest.
    if (a.created != b.created)
        return !a.created.isValid() || (b.created.isValid() && a.created < b.created);
    return creationRank(a.id) < creationRank(b.id);
}

} // namespace

QList<Id> screenshotsByCreation()
{
    QList<Created> entries = liveScreenshots(screenshotTimes());
    std::sort(entries.begin(), entries.end(), createdBefore);
    QList<Id> result;
    result.reserve(entries.size());
    for (const Created &entry : std::as_const(entries))
        result.append(entry.id);
    return result;
}

Id newestScreenshot()
{
    // Converting a local time asks the time zone, which costs microseconds a
    // row: the times are read without it first, and only those that may be
    // the newest are converted. The rest lie further back than the margin a
    // local time leaves.
    const TypeColumns times = screenshotTimes();
    const QVector<QVariant> &created = times.columns.at(1);
    QList<std::pair<qsizetype, StoredTime>> live;
    live.reserve(times.ids.size());
    qint64 newestEarliest = std::numeric_limits<qint64>::min();
    for (qsizetype i = 0; i < times.ids.size(); ++i) {
        if (inBin(times, i))
            continue;
        const StoredTime time = StoredTime::of(created.at(i));
        if (time.kind == StoredTime::Instant || time.kind == StoredTime::Local)
            newestEarliest = std::max(newestEarliest, time.earliest());
        live.append({i, time});
    }
    QList<Created> candidates;
    for (const auto &[i, time] : std::as_const(live)) {
        const bool mayBeNewest = time.kind == StoredTime::Other
                                 || (time.kind != StoredTime::None && time.latest() >= newestEarliest)
                                 || newestEarliest == std::numeric_limits<qint64>::min();
        if (mayBeNewest)
            candidates.append({created.at(i).toDateTime(), times.ids.at(i)});
    }
    const auto newest = std::max_element(candidates.cbegin(), candidates.cend(), createdBefore);
    // The one that set the margin was no date-time after all (a local time
    // in a change-over gap): the margin says nothing, so every time counts.
    if (newest != candidates.cend()
        && (!newest->created.isValid() || newest->created.toMSecsSinceEpoch() < newestEarliest)) {
        const QList<Created> all = liveScreenshots(times);
        return std::max_element(all.cbegin(), all.cend(), createdBefore)->id;
    }
    return newest == candidates.cend() ? 0 : newest->id;
}

Id neighbourScreenshot(Id current, int step)
{
    const QList<Id> ids = screenshotsByCreation();
    const qsizetype index = ids.indexOf(current);
    if (index < 0)
        return 0;
    return ids.value(index + step, 0);
}
