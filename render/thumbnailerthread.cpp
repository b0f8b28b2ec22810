#include "thumbnailerthread.h"

#include "annotationkinds.h"
#include "database.h"
#include "dirtyskrins.h"
#include "imagecache.h"
#include "imageencoding.h"
#include "imagejobs.h"
#include "imagesaver.h"
#include "pagecolor.h"
#include "paintlimits.h"
#include "renderlog.h"
#include "rowpainting.h"

#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QSemaphore>
#include <QSet>
#include <QThreadPool>

#include <algorithm>

namespace {
constexpr int storedQuality = 85;
const QString imageTable = QStringLiteral("skrin_image");
const QString skrinType = QStringLiteral("skrin");

// Serialises the check of the mark with the writing of a result, so an older
// job can never write after a newer one has.
QMutex resultMutex;

struct Row
{
    const AnnotationKind *kind = nullptr;
    double z = 0;
    QVariantMap members;
    QImage image; // image rows: the decoded picture
};

struct Gathered
{
    QList<Row> rows;
    QRectF bounds;
    QString soleFile;
    bool soleImage = false;
    bool waitingForFile = false;
};

struct EncodedPicture
{
    QString member;
    QImage image;     // null: the member takes the name before it
    QByteArray bytes;
};

// After a failed encode the mark is tried again this much later.
constexpr qint64 encodeRetryMs = 60000;

// Screenshots whose encode failed and was reported, so it is reported once.
QMutex encodeWarnedMutex;
QSet<Id> encodeWarned;

const QString fileMember = QStringLiteral("file");

// True while an image row's file is being downloaded: the member reads as no
// file then, though the row names one.
bool isDownloading(Id id, const QVariantMap &row)
{
    return row.value(fileMember).toString().isEmpty()
        && !readItem(id, true).value(fileMember).toString().isEmpty();
}

// True when each of the screenshot's picture members names a file that is
// stored, or on its way (downloading, or being saved).
bool hasStoredPicture(Id skrinId)
{
    const QVariantMap row = readItem(skrinId);
    QStringList members{fileMember};
    for (const int size : thumbnailSizes())
        members.append(thumbnailMember(size));
    for (const QString &member : std::as_const(members)) {
        const QString name = row.value(member).toString();
        if (name.isEmpty()) {
            if (readItem(skrinId, true).value(member).toString().isEmpty())
                return false;
        } else if (!ImageSaver::isPending(name) && Database::fileSize(name) <= 0) {
            return false;
        }
    }
    return true;
}

// Where a row stands in the screenshot.
QPointF rowPosition(const QVariantMap &members)
{
    return QPointF(clampCoordinate(finiteReal(members.value(QStringLiteral("x")))),
                   clampCoordinate(finiteReal(members.value(QStringLiteral("y")))));
}

Gathered gather(Id skrinId)
{
    Gathered result;
    bool onlyImages = true;
    for (const AnnotationKind &kind : annotationKinds()) {
        const QString table = QString::fromLatin1(kind.table);
        WatchFilter filter;
        filter.insert(QStringLiteral("parent"), QVariant(qint64(skrinId)));
        filter.insert(QStringLiteral("type"), table);
        const QList<Id> ids = findItems(filter);
        if (table != imageTable && !ids.isEmpty())
            onlyImages = false;
        for (const Id id : ids) {
            Row row;
            row.kind = &kind;
            row.members = readItem(id);
            if (row.members.isEmpty())
                continue; // removed meanwhile
            row.members.insert(QStringLiteral("type"), table);
            row.z = finiteReal(row.members.value(QStringLiteral("z")));
            if (table == imageTable) {
                RowImageState state = RowImageState::Loaded;
                row.image = loadRowImage(row.members, &state);
                if (state == RowImageState::Pending
                    || (state == RowImageState::Missing && isDownloading(id, row.members))) {
                    result.waitingForFile = true;
                    return result;
                }
                if (state == RowImageState::Broken)
                    qCWarning(lcRender) << "picture of row" << id << "does not decode; painted as missing";
                if (state == RowImageState::Missing)
                    qCWarning(lcRender) << "picture" << row.members.value(fileMember).toString() << "of row" << id
                                        << "is missing; painted as missing";
                if (ids.size() == 1) {
                    result.soleFile = row.members.value(QStringLiteral("file")).toString();
                    result.soleImage = true;
                }
            }
            if (kind.rowRect)
                result.bounds = result.bounds.united(kind.rowRect(row.members).translated(rowPosition(row.members)));
            result.rows.append(row);
        }
    }
    result.soleImage = result.soleImage && onlyImages;
    // Equal z keeps the gathering order, as the editor stacks its items.
    std::stable_sort(result.rows.begin(), result.rows.end(),
                     [](const Row &a, const Row &b) { return a.z < b.z; });
    return result;
}

QPointF onCanvasOf(const Row &row, const Gathered &gathered)
{
    return rowPosition(row.members) - gathered.bounds.topLeft();
}

// The canvas: the page colour in ARGB32_Premultiplied, the rows' formats
// painted over it. When the bottom row is an opaque picture covering the
// whole canvas as it is (a capture under its annotations), the fill would be
// hidden at once: the canvas is that picture converted once instead, and its
// row counts as painted. Null when there is no memory.
QImage startCanvas(const Gathered &gathered, const QSize &size, qsizetype *paintedBelow)
{
    *paintedBelow = 0;
    if (!gathered.rows.isEmpty()) {
        const Row &bottom = gathered.rows.first();
        const QImage &image = bottom.image;
        if (QLatin1String(bottom.kind->table) == imageTable && !image.isNull() && !image.hasAlphaChannel()
            && image.size() == size && onCanvasOf(bottom, gathered) == QPointF(0, 0)
            && isImageRowAsItIs(bottom.members, image)) {
            QImage canvas = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            if (!canvas.isNull())
                *paintedBelow = 1;
            return canvas;
        }
    }
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(pageColor());
    return canvas;
}

// Paints the rows over the canvas, from `first` on (the rows below it are
// in the canvas already); false when an image was not drawn as it is.
bool paintRows(QImage *canvas, const Gathered &gathered, qsizetype first)
{
    bool natural = true;
    QPainter painter(canvas);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    for (qsizetype i = first; i < gathered.rows.size(); ++i) {
        const Row &row = gathered.rows.at(i);
        const QPointF onCanvas = onCanvasOf(row, gathered);
        painter.resetTransform();
        painter.translate(onCanvas);
        if (row.kind->paintRow && !row.kind->paintRow(&painter, RowPaint{row.members, *canvas, onCanvas, row.image}))
            natural = false;
    }
    return natural;
}

// One thumbnail of `image` fitting s x s; wide or tall pictures are cropped
// around their centre to a ratio of 1.3 first.
QImage makeThumbnail(const QImage &image, int s)
{
    const double w = image.width(), h = image.height();
    const double ratio = std::max(w / h, h / w);
    if (ratio < 1.3)
        return image.scaled(s, s, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QRect crop = image.rect();
    if (crop.width() > crop.height())
        crop.setWidth(int(crop.height() * 1.3));
    else
        crop.setHeight(int(crop.width() * 1.3));
    crop.moveCenter(image.rect().center());
    // The canvas and its smooth scalings are 32-bit, so its memory can be
    // read through a view of whole pixels.
    Q_ASSERT(image.depth() == 32);
    // Scale straight from the picture's memory: a copy of the crop would cost
    // as much again as the scaling of a 4K canvas.
    const uchar *origin = image.constBits() + qsizetype(crop.top()) * image.bytesPerLine()
                        + qsizetype(crop.left()) * (image.depth() / 8);
    const QImage view(origin, crop.width(), crop.height(), image.bytesPerLine(), image.format());
    return view.scaled(s, s, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// The thumbnails, largest first. False when an encode failed.
bool makeThumbnails(const QImage &canvas, const char *format, QList<EncodedPicture> *thumbnails)
{
    QList<int> sizes = thumbnailSizes();
    std::sort(sizes.begin(), sizes.end(), std::greater<int>());
    QImage current = canvas;
    for (const int s : std::as_const(sizes)) {
        EncodedPicture picture;
        picture.member = thumbnailMember(s);
        if (!current.isNull() && (s < current.width() || s < current.height())) {
            current = makeThumbnail(current, s);
            picture.image = current;
            if (!encodeImage(current, format, storedQuality, &picture.bytes))
                return false;
        }
        thumbnails->append(picture);
    }
    return true;
}

QString storePicture(const QImage &image, const QByteArray &bytes, QStringList *stored)
{
    const QString name = Database::newFileName(QStringLiteral(".jpg"));
    Database::setFileData(name, bytes);
    cacheImage(name, image);
    stored->append(name);
    return name;
}

// Reports a failed encode once per screenshot (or again after a success).
void noteEncode(Id skrinId, bool ok, const QByteArray &format)
{
    QMutexLocker lock(&encodeWarnedMutex);
    if (ok) {
        encodeWarned.remove(skrinId);
    } else if (!encodeWarned.contains(skrinId)) {
        encodeWarned.insert(skrinId);
        qCWarning(lcRender) << "encoding the picture of screenshot" << skrinId << "as" << format
                            << "failed; trying again later";
    } else {
        qCDebug(lcRender) << "encoding the picture of screenshot" << skrinId << "failed again";
    }
}
} // namespace

ThumbnailerThread::ThumbnailerThread(Id skrinId, bool commitAfter, const QByteArray &format)
    : skrinId(skrinId)
    , commitAfter(commitAfter)
    , format(format)
{
    setAutoDelete(true);
}

void ThumbnailerThread::run()
{
    bool claimed = false;
    const QDateTime mark = beginSkrinThumbnail(skrinId, &claimed);
    if (claimed)
        return; // another job renders this very mark; this one holds no claim
    bool success = false;
    switch (render(mark, &success)) {
    case Outcome::Done:
        endSkrinThumbnail(skrinId, mark);
        break;
    case Outcome::WaitForFile:
        releaseSkrinThumbnail(skrinId, mark);
        break;
    case Outcome::EncodeFailed:
        releaseSkrinThumbnail(skrinId, mark, encodeRetryMs);
        break;
    }
    if (commitAfter && success)
        requestCommit();
}

ThumbnailerThread::Outcome ThumbnailerThread::render(const QDateTime &mark, bool *success)
{
    if (!isItemOfType(skrinId, skrinType))
        return Outcome::Done;
    // Nothing changed since the last render: its files stand. A new render
    // would only upload the same picture again, or a worse one where a
    // source file was damaged since.
    if (mark.isNull() && hasStoredPicture(skrinId))
        return Outcome::Done;
    const Gathered gathered = gather(skrinId);
    if (gathered.waitingForFile) {
        qCDebug(lcRender) << "screenshot" << skrinId << "waits for a picture file";
        return Outcome::WaitForFile;
    }

    const QSize size(qRound(gathered.bounds.width()), qRound(gathered.bounds.height()));
    QImage canvas;
    qsizetype paintedBelow = 0;
    if (!size.isEmpty()) {
        if (!isCanvasSizeAllowed(size)) {
            qCWarning(lcRender) << "screenshot" << skrinId << "asks for a canvas of" << size
                                << "beyond the limits; its files are kept";
            return Outcome::Done;
        }
        canvas = startCanvas(gathered, size, &paintedBelow);
        if (canvas.isNull()) {
            qCWarning(lcRender) << "no memory for a canvas of" << size << "for screenshot" << skrinId;
            return Outcome::EncodeFailed;
        }
    }
    bool soleImage = gathered.soleImage;
    if (!canvas.isNull() && !paintRows(&canvas, gathered, paintedBelow))
        soleImage = false;

    // The thumbnails are made beside the picture's encode when the pool has
    // a thread to spare; both only read the canvas.
    QList<EncodedPicture> thumbnails;
    bool thumbnailsOk = false;
    QSemaphore thumbnailsDone;
    const auto thumbnailWork = [&] {
        thumbnailsOk = makeThumbnails(canvas, format.constData(), &thumbnails);
        thumbnailsDone.release();
    };
    if (canvas.isNull() || !QThreadPool::globalInstance()->tryStart(thumbnailWork))
        thumbnailWork();
    QByteArray pictureBytes;
    const bool pictureOk = soleImage || canvas.isNull()
                        || encodeImage(canvas, format.constData(), storedQuality, &pictureBytes);
    thumbnailsDone.acquire();
    noteEncode(skrinId, pictureOk && thumbnailsOk, format);
    if (!pictureOk || !thumbnailsOk)
        return Outcome::EncodeFailed;

    QMutexLocker lock(&resultMutex);
    if (skrinDirtyTime(skrinId) != mark) {
        qCDebug(lcRender) << "screenshot" << skrinId << "changed while rendering; a newer job writes";
        return Outcome::Done;
    }
    // A screenshot deleted while it rendered gets no files: none of its rows
    // would name them.
    if (!isItemOfType(skrinId, skrinType))
        return Outcome::Done;
    QStringList stored;
    QString name = gathered.soleFile;
    if (!soleImage)
        name = canvas.isNull() ? QString() : storePicture(canvas, pictureBytes, &stored);
    setMember(skrinId, fileMember, name);
    for (const EncodedPicture &thumbnail : std::as_const(thumbnails)) {
        if (!thumbnail.image.isNull())
            name = storePicture(thumbnail.image, thumbnail.bytes, &stored);
        setMember(skrinId, thumbnail.member, name);
    }
    const QRectF &bounds = gathered.bounds;
    if (bounds.width() != 0 || bounds.height() != 0) {
        setMember(skrinId, QStringLiteral("x"), bounds.left());
        setMember(skrinId, QStringLiteral("y"), bounds.top());
        setMember(skrinId, QStringLiteral("w"), bounds.width());
        setMember(skrinId, QStringLiteral("h"), bounds.height());
        *success = true;
    }
    // Deleted while the names went in: the members that took them went with
    // the screenshot, and so do the files it never got.
    if (!isItemOfType(skrinId, skrinType)) {
        for (const QString &file : std::as_const(stored)) {
            Database::removeFile(file);
            cacheImage(file, QImage());
        }
        *success = false;
    }
    return Outcome::Done;
}
