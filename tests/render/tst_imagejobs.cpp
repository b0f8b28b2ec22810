// The image jobs: encoding pictures into the file store in the background,
// the dirty-screenshot timer and its batches, and the decoding limit.

#include "imageconnector.h"
#include "imagejobs.h"
#include "imagesaver.h"
#include "renderfixture.h"
#include "rowpainting.h"

#include <QApplication>
#include <QImageReader>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>

namespace {
QImage sample(const QSize &size = QSize(64, 40))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 90));
    return image;
}

QByteArray formatOf(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader::imageFormat(&buffer);
}

Id dirtySkrin()
{
    const Id skrin = createItem("skrin");
    addRow("skrin_rectangle", skrin, {{"x", 0}, {"y", 0}, {"z", 1}, {"w", 30}, {"h", 20}, {"color", "#00ff00"}});
    markSkrinDirty(skrin);
    QTest::qWait(3); // marks of distinct times, oldest first
    return skrin;
}
} // namespace

class TestImageJobs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void savesInTheFormatOfTheName_data();
    void savesInTheFormatOfTheName();
    void failedEncodeStoresNothing();
    void dueScreenshotsRenderInBatchesOfFour();
    void timerRendersMarkedScreenshots();
    void largePicturesDecode();

private:
    RenderStore *store = nullptr;
};

void TestImageJobs::init()
{
    store = new RenderStore;
    QVERIFY(store->opened);
}

void TestImageJobs::cleanup()
{
    delete store;
    store = nullptr;
}

void TestImageJobs::savesInTheFormatOfTheName_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("asPixmap");
    QTest::addColumn<bool>("commitAfter");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("png, capture") << ".png" << true << true << QByteArray("png");
    QTest::newRow("PNG in capitals") << ".PNG" << false << false << QByteArray("png");
    QTest::newRow("jpg") << ".jpg" << false << true << QByteArray("jpeg");
    QTest::newRow("no suffix") << "" << true << false << QByteArray("jpeg");
}

void TestImageJobs::savesInTheFormatOfTheName()
{
    QFETCH(QString, suffix);
    QFETCH(bool, asPixmap);
    QFETCH(bool, commitAfter);
    QFETCH(QByteArray, format);
    QSignalSpy commits(TavrinConnector::instance(), &TavrinConnector::commitSignal);
    const QString file = Database::newFileName(suffix);
    if (asPixmap)
        saveImageAsync(QPixmap::fromImage(sample()), file, commitAfter, 90);
    else
        saveImageAsync(sample(), file, commitAfter, 90);
    // Shown from the cache at once, before the bytes exist.
    QCOMPARE(cachedImage(file).size(), QSize(64, 40));
    if (asPixmap)
        QCOMPARE(cachedPixmap(file).size(), QSize(64, 40));

    QThreadPool::globalInstance()->waitForDone();
    const QByteArray bytes = Database::fileData(file);
    QCOMPARE(formatOf(bytes), format);
    QCOMPARE(QImage::fromData(bytes).size(), QSize(64, 40));
    QTRY_COMPARE(commits.count(), commitAfter ? 1 : 0);
}

void TestImageJobs::failedEncodeStoresNothing()
{
    QSignalSpy commits(TavrinConnector::instance(), &TavrinConnector::commitSignal);
    const QString file = Database::newFileName(".jpg");
    for (const QImage &image : {sample(), QImage()}) {
        ImageSaver saver(image, file, true, image.isNull() ? "JPEG" : "NO-SUCH-FORMAT", 85);
        saver.setAutoDelete(false);
        saver.run();
    }
    QVERIFY(Database::fileData(file).isEmpty());
    QCOMPARE(cachedImage(file).size(), QSize(64, 40)); // still shown from the cache
    QCoreApplication::processEvents();
    QCOMPARE(commits.count(), 0);
}

void TestImageJobs::dueScreenshotsRenderInBatchesOfFour()
{
    QList<Id> skrins;
    for (int i = 0; i < 6; ++i)
        skrins.append(dirtySkrin());
    QTest::qWait(1100); // all six marks are due now
    const Id fresh = dirtySkrin();

    ImageConnector::instance()->makeDirtSkrinsThumbnails();
    QThreadPool::globalInstance()->waitForDone();
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(isSkrinDirty(skrins.at(i)), i >= 4);
        QCOMPARE(getMember(skrins.at(i), "file").toString().isEmpty(), i >= 4);
    }

    // The next tick takes the other two; the mark younger than a second waits.
    ImageConnector::instance()->makeDirtSkrinsThumbnails();
    QThreadPool::globalInstance()->waitForDone();
    for (const Id skrin : skrins)
        QVERIFY(!isSkrinDirty(skrin));
    QVERIFY(isSkrinDirty(fresh));
    QVERIFY(getMember(fresh, "file").toString().isEmpty());

    // Nothing due: nothing starts.
    ImageConnector::instance()->makeDirtSkrinsThumbnails();
    QThreadPool::globalInstance()->waitForDone();
    QVERIFY(isSkrinDirty(fresh));
}

void TestImageJobs::timerRendersMarkedScreenshots()
{
    startThumbnailTimer();
    startThumbnailTimer(); // a second call changes nothing
    const Id skrin = dirtySkrin();
    QTRY_VERIFY_WITH_TIMEOUT(!getMember(skrin, "thumbnail64_file").toString().isEmpty(), 10000);
    QThreadPool::globalInstance()->waitForDone();
    QVERIFY(!isSkrinDirty(skrin));
}

void TestImageJobs::largePicturesDecode()
{
    // An 8000 x 4500 capture takes 144 MB decoded, past Qt's default limit.
    QImage capture(8000, 4500, QImage::Format_RGB32);
    capture.fill(Qt::darkGreen);
    const QString file = Database::storeNewFile(encoded(capture, "JPG"), ".jpg");
    capture = QImage();
    const QVariantMap row{{"type", "skrin_image"}, {"file", file}};

    QImageReader::setAllocationLimit(128);
    RowImageState state = RowImageState::Loaded;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("exceeds the current allocation limit"));
    QVERIFY(loadRowImage(row, &state).isNull());
    raiseImageAllocationLimit();
    QCOMPARE(loadRowImage(row, &state).size(), QSize(8000, 4500));
    QCOMPARE(state, RowImageState::Loaded);
}

QTEST_MAIN(TestImageJobs)
#include "tst_imagejobs.moc"
