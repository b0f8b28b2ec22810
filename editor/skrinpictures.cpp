// Pictures pasted onto the screenshot (from a file, the clipboard or a new
// capture) and the handle modes of a selected picture.

#include "skrin.h"

#include "database.h"
#include "editorlog.h"
#include "imagejobs.h"
#include "options.h"
#include "paintlimits.h"
#include "skrinimage.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsView>
#include <QGuiApplication>
#include <QImageReader>
#include <QMessageBox>
#include <QScreen>

Id Skrin::addImage(const QPixmap &given, const QString &givenSuffix)
{
    if (given.width() < 1 || given.height() < 1) {
        qCInfo(lcEditor) << "no picture to paste";
        return 0;
    }
    // Never larger than the screen in its own pixels (twice its logical size
    // on a 2x screen); never enlarged.
    QPixmap picture = given;
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QSize limit = (QSizeF(screen->geometry().size()) * screen->devicePixelRatio()).toSize();
        if (picture.width() > limit.width() || picture.height() > limit.height())
            picture = picture.scaled(limit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
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
        centre = v->mapToScene(QPoint((v->width() - 1) / 2, (v->height() - 1) / 2));
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

    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return fail(tr("%1 is not a picture.").arg(path));
    // Known from the header: an enormous picture is refused before it is
    // decoded.
    const QSize size = reader.size();
    if (size.isValid() && !isCanvasSizeAllowed(size))
        return fail(tr("The picture %1 is too large (%2 x %3 pixels).").arg(path).arg(size.width()).arg(size.height()));
    raiseImageAllocationLimit();
    const QImage image = reader.read();
    if (image.isNull())
        return fail(tr("The picture %1 could not be read: %2").arg(path, reader.errorString()));

    // PNG stays PNG; every other picture is stored as JPEG.
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot >= 0 ? path.mid(dot).toLower() : QString();
    return addImage(QPixmap::fromImage(image), suffix == QLatin1String(".png") ? suffix : QStringLiteral(".jpg"));
}

void Skrin::pasteFile()
{
    const QString path =
        QFileDialog::getOpenFileName(view(), tr("Paste file"), QString(), tr("Images *.jpg *.png *.jpeg"));
    QString error;
    if (addImageFile(path, &error) == 0 && !error.isEmpty())
        QMessageBox::warning(view(), tr("Paste file"), error);
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
