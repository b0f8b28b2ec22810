// libFuzzer target for pictures: each input is a file's bytes, decoded the
// way pastes and drops are (within a small screen) and the way synced and
// stored files are (at their own size); a picture that decodes is stored and
// rendered as a screenshot's picture under an annotation, thumbnails and all.
// It must not crash, trip a sanitizer, hang or grow without bound.
#include "database.h"
#include "decodedpicture.h"
#include "dirtyskrins.h"
#include "engine.h"
#include "imagecache.h"
#include "thumbnailerthread.h"

#include <QApplication>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

void discardMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

// Pictures larger than this are decoded for a paste only: a full-size decode
// and render of them is the same code, only slower to fuzz.
constexpr qint64 renderedPixels = 1024 * 1024;
constexpr int runsPerStore = 2000;

QTemporaryDir *dir = nullptr;
int runs = 0;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(discardMessages);
    static int argc = 1;
    static char name[] = "fuzz_pictures";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
    registerEngineTypes();
    dir = new QTemporaryDir;
    if (!Database::open(dir->path()))
        __builtin_trap();
    bindTables();
    // The store's folder goes with the run: a replay in every test run would
    // otherwise leave one behind each time.
    std::atexit([] {
        Database::close();
        dir->remove();
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (++runs % runsPerStore == 0 && !resetStoreAndNotify())
        __builtin_trap();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const DecodedPicture pasted = DecodedPicture::fromBytes(bytes, QSize(64, 48));
    if (!pasted.image.isNull() && (pasted.image.width() > 64 || pasted.image.height() > 48))
        __builtin_trap();
    if (pasted.size.isEmpty() || qint64(pasted.size.width()) * pasted.size.height() > renderedPixels)
        return 0;

    const DecodedPicture stored = DecodedPicture::fromBytes(bytes);
    if (stored.image.isNull())
        return 0;
    const QString file = Database::storeNewFile(bytes, QStringLiteral(".png"));
    const Id skrin = createItem(QStringLiteral("skrin"));
    const double w = stored.image.width(), h = stored.image.height();
    const QVariant parent = QVariant::fromValue(qint64(skrin));
    createItemWithMembers(QStringLiteral("skrin_image"),
                          {{"x", 0}, {"y", 0}, {"z", 0}, {"file", file}, {"w", w}, {"h", h}, {"src_x", 0},
                           {"src_y", 0}, {"src_w", w}, {"src_h", h}, {"parent", parent}});
    createItemWithMembers(QStringLiteral("skrin_rectangle"), {{"x", w / 4}, {"y", h / 4}, {"z", 1}, {"w", w / 2},
                                                              {"h", h / 2}, {"color", "#ff0000"}, {"parent", parent}});
    markSkrinDirty(skrin);
    ThumbnailerThread job(skrin, false);
    job.setAutoDelete(false);
    job.run();
    removeItemTree(skrin);
    evictImageCaches(QDateTime::currentDateTime().addSecs(60));
    return 0;
}
