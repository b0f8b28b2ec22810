// Pictures pasted onto the screenshot (from a file, the clipboard or a new
// capture) and the handle modes of a selected picture.

#include "skrin.h"

#include "database.h"
#include "editorlog.h"
#include "imagejobs.h"
#include "options.h"
#include "decodedpicture.h"
#include "skrinimage.h"

#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsView>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>

#include <algorithm>

namespace {

// Pasted pictures are never larger than the screen in its own pixels (twice
// its logical size on a 2x screen).
QSize pasteLimit()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {PictureLimits::maxSide, PictureLimits::maxSide};
    return (QSizeF(screen->geometry().size()) * screen->devicePixelRatio()).toSize();
}

// The encoded picture the clipboard's owner offers, PNG first; empty when
// it offers none.
QByteArray encodedPicture(const QMimeData *mime)
{
    QStringList formats = mime->formats();
    std::stable_partition(formats.begin(), formats.end(),
                          [](const QString &format) { return format == QLatin1String("image/png"); });
    for (const QString &format : std::as_const(formats)) {
        if (!format.startsWith(QLatin1String("image/")))
            continue;
        const QByteArray bytes = mime->data(format);
        if (!bytes.isEmpty())
            return bytes;
    }
    return {};
}

// What the user is told of a refused picture from the file `path`, or from
// the clipboard when that is empty.
QString refusal(const DecodedPicture &picture, const QString &path)
{
    const QString subject = path.isEmpty() ? Skrin::tr("on the clipboard") : path;
    switch (picture.failure) {
    case DecodedPicture::None:
        return {};
    case DecodedPicture::TooLarge:
        return Skrin::tr("The picture %1 is too large (%2 x %3 pixels).")
            .arg(subject, QString::number(picture.size.width()), QString::number(picture.size.height()));
    case DecodedPicture::NotPicture:
        if (!path.isEmpty())
            return Skrin::tr("%1 is not a picture.").arg(path);
        break; // the clipboard's owner named it a picture
    case DecodedPicture::Unreadable:
        break;
    }
    return Skrin::tr("The picture %1 could not be read: %2")
        .arg(subject, picture.reason.isEmpty() ? Skrin::tr("unknown format") : picture.reason);
}

} // namespace

Id Skrin::addImage(const QPixmap &given, const QString &givenSuffix)
{
    if (given.width() < 1 || given.height() < 1) {
        qCInfo(lcEditor) << "no picture to paste";
        return 0;
    }
    // Never larger than the screen in its own pixels; never enlarged.
    QPixmap picture = given;
    const QSize limit = pasteLimit();
    if (picture.width() > limit.width() || picture.height() > limit.height())
        picture = picture.scaled(limit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QString suffix = givenSuffix.isEmpty() ? Options::ext() : givenSuffix;
    const QString file = Database::newFileName(suffix);
    if (file.isEmpty()) {
        qCWarning(lcEditor) << "no free file name for a pasted picture";
        return 0;
    }
    // Cached at once, so the item shows it before the file is written.
    saveImageAsync(picture, file, false, Options::quality());

    const Id newId = createItem(QStringLiteral("skrin_image"));
    if (newId == 0)
        return 0;
    drawnItemId = newId;
    clearSelection();
    pendingSelection.insert(newId);

    const int w = picture.width();
    const int h = picture.height();
    QPointF centre;
    if (const QGraphicsView *v = view())
        centre = pixelAtViewPoint(QPoint((v->width() - 1) / 2, (v->height() - 1) / 2));
    const bool hasView = view() != nullptr;
    Item row(newId);
    row.setMember(QStringLiteral("x"), hasView ? centre.x() - w / 2 : 0.0, true);
    row.setMember(QStringLiteral("y"), hasView ? centre.y() - h / 2 : 0.0, true);
    row.setMember(QStringLiteral("z"), maxZ() + 1.0, true);
    row.setMember(QStringLiteral("file"), file, true);
    row.setMember(QStringLiteral("src_x"), 0, true);
    row.setMember(QStringLiteral("src_y"), 0, true);
    row.setMember(QStringLiteral("src_w"), w, true);
    row.setMember(QStringLiteral("src_h"), h, true);
    row.setMember(QStringLiteral("w"), w, true);
    row.setMember(QStringLiteral("h"), h, true);
    row.setMember(QStringLiteral("parent"), QVariant(id()), true);
    modified = true;
    // The paste is no gesture: a row that later arrives under this id (after
    // the service gave it its own) must not start editing.
    drawnItemId = 0;
    return newId;
}

Id Skrin::addImageFile(const QString &path, QString *error)
{
    const auto fail = [&](const QString &why) {
        qCWarning(lcEditor).noquote() << "not pasted:" << why;
        if (error)
            *error = why;
        return Id(0);
    };
    if (path.isEmpty())
        return 0;
    const QFileInfo info(path);
    if (!info.exists())
        return fail(tr("The file %1 does not exist.").arg(path));
    if (!info.isFile())
        return fail(tr("%1 is not a file.").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(tr("The file %1 could not be opened: %2").arg(path, file.errorString()));

    const DecodedPicture picture = DecodedPicture::read(&file, pasteLimit());
    if (picture.failure != DecodedPicture::None)
        return fail(refusal(picture, path));
    // PNG stays PNG; every other picture is stored as JPEG.
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot >= 0 ? path.mid(dot).toLower() : QString();
    return addImage(QPixmap::fromImage(picture.image), suffix == QLatin1String(".png") ? suffix : QStringLiteral(".jpg"));
}

void Skrin::pasteClipboard()
{
    const QClipboard *clipboard = QGuiApplication::clipboard();
    const QMimeData *mime = clipboard ? clipboard->mimeData() : nullptr;
    // An encoded picture is decoded at the size it is stored at; one that
    // this process put there is decoded already and only brought within the
    // limit.
    const QByteArray bytes = mime ? encodedPicture(mime) : QByteArray();
    DecodedPicture picture;
    if (!bytes.isEmpty()) {
        picture = DecodedPicture::fromBytes(bytes, pasteLimit());
    } else if (mime && mime->hasImage()) {
        picture = DecodedPicture::fromImage(qvariant_cast<QImage>(mime->imageData()), pasteLimit());
    } else {
        qCInfo(lcEditor) << "the clipboard holds no picture to paste";
        tellNotPasted(tr("Paste"), {tr("The clipboard holds no picture.")});
        return;
    }
    if (picture.failure == DecodedPicture::None) {
        addImage(QPixmap::fromImage(picture.image), Options::ext());
        return;
    }
    const QString why = refusal(picture, QString());
    qCWarning(lcEditor).noquote() << "not pasted:" << why;
    tellNotPasted(tr("Paste"), {why});
}

void Skrin::pasteFile()
{
    const QString path =
        QFileDialog::getOpenFileName(view(), tr("Paste file"), QString(), tr("Images *.jpg *.png *.jpeg"));
    QString error;
    if (addImageFile(path, &error) == 0 && !error.isEmpty())
        tellNotPasted(tr("Paste file"), {error});
}

void Skrin::tellNotPasted(const QString &title, const QStringList &reasons)
{
    // Not waited for: a drop's source is still waiting for its answer.
    auto *box = new QMessageBox(QMessageBox::Warning, title, reasons.join(QLatin1Char('\n')), QMessageBox::Ok, view());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void Skrin::onShoot(const QPixmap &picture)
{
    addImage(picture, QString());
}

void Skrin::setImageMode(int mode)
{
    if (auto *image = dynamic_cast<SkrinImage *>(selectedItem()))
        image->setMode(mode);
}

void Skrin::toggleImageMode()
{
    if (auto *image = dynamic_cast<SkrinImage *>(selectedItem()))
        image->setMode(image->mode() == SkrinImage::CropMode ? SkrinImage::ResizeMode : SkrinImage::CropMode);
}

void Skrin::resetImageCrop()
{
    if (auto *image = dynamic_cast<SkrinImage *>(selectedItem()))
        image->resetCrop();
}
