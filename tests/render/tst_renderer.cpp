// Rendering screenshots from their stored rows into pictures and thumbnails,
// and the image jobs around it: background encodes, batches of dirty
// screenshots, the decoding limit.

#include "imageconnector.h"
#include "imagejobs.h"
#include "imagesaver.h"
#include "renderfixture.h"
#include "rowpainting.h"

#include <QAtomicInt>
#include <QPixmap>
#include <QTest>

namespace {
Id addRectangle(Id skrin, double x, double y, double w, double h, const char *colour, double z = 1)
{
    return addRow("skrin_rectangle", skrin, {{"x", x}, {"y", y}, {"z", z}, {"w", w}, {"h", h}, {"color", colour}});
}

// Marks the screenshot changed at a time of its own, and renders it.
void markAndRender(Id skrin, bool commitAfter = false)
{
    QTest::qWait(2);
    markSkrinDirty(skrin);
    render(skrin, commitAfter);
}

bool near(QRgb pixel, QRgb wanted)
{
    return qAbs(qRed(pixel) - qRed(wanted)) < 24 && qAbs(qGreen(pixel) - qGreen(wanted)) < 24
        && qAbs(qBlue(pixel) - qBlue(wanted)) < 24;
}
} // namespace

class TestRenderer : public QObject
{
    Q_OBJECT

private slots:
    void init() { store = std::make_unique<EngineStore>(); }
    void cleanup() { store.reset(); }

    void thumbnails_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QList<QSize>>("thumbnails"); // 512, 128, 64; empty: the larger one's name
        QTest::newRow("60x50: none") << QSize(60, 50) << QList<QSize>{{}, {}, {}};
        QTest::newRow("100x80: only 64") << QSize(100, 80) << QList<QSize>{{}, {}, {64, 51}};
        // 2:1 is cropped to 650 x 500 first, and each smaller one from the one before.
        QTest::newRow("1000x500: cropped") << QSize(1000, 500) << QList<QSize>{{512, 393}, {128, 98}, {64, 49}};
        QTest::newRow("600x500: scaled") << QSize(600, 500) << QList<QSize>{{512, 426}, {128, 106}, {64, 53}};
        QTest::newRow("300x900: tall") << QSize(300, 900) << QList<QSize>{{393, 512}, {98, 128}, {49, 64}};
    }

    void thumbnails()
    {
        QFETCH(QSize, picture);
        QFETCH(QList<QSize>, thumbnails);
        const Id skrin = createItem("skrin");
        addRectangle(skrin, 10, 20, picture.width(), picture.height(), "#336699");
        markAndRender(skrin);
        QVERIFY(!isSkrinDirty(skrin));
        QByteArray format;
        const QImage file = storedImage(skrin, "file", &format);
        QVERIFY(file.size() == picture && format == "jpeg");
        QVERIFY(near(file.pixel(picture.width() / 2, picture.height() / 2), qRgb(0x33, 0x66, 0x99)));
        QString larger = getMember(skrin, "file").toString();
        QVERIFY(larger.endsWith(".jpg"));
        for (int i = 0; i < 3; ++i) {
            const QByteArray member = QStringLiteral("thumbnail%1_file").arg(QList<int>{512, 128, 64}.at(i)).toLatin1();
            const QString name = getMember(skrin, member).toString();
            QCOMPARE(name == larger, thumbnails.at(i).isEmpty());
            if (!thumbnails.at(i).isEmpty())
                QVERIFY(storedImage(skrin, member.constData(), &format).size() == thumbnails.at(i) && format == "jpeg");
            larger = name;
        }
        QCOMPARE(skrinRect(skrin), QRectF(QPointF(10, 20), picture));
    }

    void extentAndStacking()
    {
        const Id skrin = createItem("skrin");
        addRectangle(skrin, -50, -20, 40, 40, "#ff0000");  // negative coordinates start the picture
        // Equal z: rows stack in table order, so the rectangle covers the ellipse.
        addRow("skrin_ellipse", skrin, {{"x", 0}, {"y", 0}, {"z", 2}, {"w", 40}, {"h", 40}, {"color", "#00ff00"}});
        addRectangle(skrin, 10, 10, 20, 20, "#0000ff", 2);
        // A frame's stroke lies outside its rectangle and counts for the extent.
        addRow("skrin_rectangle_frame", skrin,
               {{"x", 60}, {"y", 0}, {"z", 0}, {"w", 20}, {"h", 20}, {"pen_size", 4}, {"color", "#000000"}});
        // Pins are notes: they neither paint nor widen the picture.
        addRow("skrin_pin", skrin, {{"x", 500}, {"y", 500}, {"z", 9}, {"data", "note"}, {"color", "#ffff00"}});
        markAndRender(skrin);
        QCOMPARE(skrinRect(skrin), QRectF(-50, -20, 134, 60));
        const QImage picture = storedImage(skrin, "file");
        QCOMPARE(picture.size(), QSize(134, 60));
        QVERIFY(near(picture.pixel(5, 5), qRgb(255, 0, 0)));
        QVERIFY(near(picture.pixel(70, 40), qRgb(0, 0, 255)));       // blue over green
        QVERIFY(near(picture.pixel(53, 40), qRgb(0, 255, 0)));
        QVERIFY(near(picture.pixel(95, 25), qRgb(0xeb, 0xeb, 0xeb))); // the page
        QVERIFY(near(picture.pixel(108, 30), qRgb(0, 0, 0)));         // the frame, outside its rectangle
    }

    void soleImageSharesItsFile_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRectF>("source");
        QTest::addColumn<bool>("annotated");
        QTest::addColumn<bool>("shared");
        QTest::newRow("as it is") << QSize(80, 60) << QRectF(0, 0, 80, 60) << false << true;
        QTest::newRow("stretched") << QSize(160, 60) << QRectF(0, 0, 80, 60) << false << false;
        QTest::newRow("cropped, stretched back") << QSize(80, 60) << QRectF(10, 10, 40, 30) << false << false;
        QTest::newRow("with an annotation") << QSize(80, 60) << QRectF(0, 0, 80, 60) << true << false;
    }

    void soleImageSharesItsFile()
    {
        QFETCH(QSize, size);
        QFETCH(QRectF, source);
        QFETCH(bool, annotated);
        QFETCH(bool, shared);
        const QString file = storedPicture(filledImage(QSize(80, 60), Qt::darkCyan));
        const Id skrin = createItem("skrin");
        addImage(skrin, file, size, source);
        if (annotated)
            addRectangle(skrin, 5, 5, 10, 10, "#ff0000");
        markAndRender(skrin);
        QCOMPARE(getMember(skrin, "file").toString() == file, shared);
        QCOMPARE(storedImage(skrin, "file").size(), size);
        QCOMPARE(storedImage(skrin, "thumbnail64_file").size(), QSize(64, 49));
    }

    void nothingWrittenWithoutAWholePicture_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::newRow("file not stored yet") << "later";
        QTest::newRow("download pending") << "downloading";
        QTest::newRow("bytes that do not decode") << "broken";
        QTest::newRow("failing encoder") << "encoder";
        // Another client's row far away asks for a canvas of a million pixels a side.
        QTest::newRow("canvas beyond the limits") << "huge";
    }

    // No picture with a hole: the files stay, no commit is asked and (but for
    // a canvas that can never be made) the mark stays for a later tick.
    void nothingWrittenWithoutAWholePicture()
    {
        QFETCH(QString, cause);
        RecordedRequests commits;
        const Id skrin = createItem("skrin");
        addRectangle(skrin, 0, 0, 100, 100, "#ff0000");
        markAndRender(skrin);
        const QVariantMap before = readItem(skrin);

        const QImage image = filledImage(QSize(100, 100), Qt::blue);
        const QString name = Database::newFileName(".png");
        const int downloads = Database::tableId("downloads");
        const QString url = "http://127.0.0.1:1/f/" + name;
        if (cause == "huge") {
            addRectangle(skrin, 1e9, 0, 10, 10, "#00ff00");
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("beyond the limits"));
        } else if (cause != "encoder") {
            if (cause == "broken")
                Database::setFileData(name, "not a picture");
            const Id row = addImage(skrin, name, image.size(), image.rect(), 200);
            if (cause == "downloading")
                Database::insertRow(downloads, Database::columnIds(downloads, {{"url", url}, {"member", "file"},
                                                                               {"id", QVariant(qint64(row))}}));
        }
        QTest::qWait(2);
        markSkrinDirty(skrin);
        render(skrin, true, cause == "encoder" ? "NO-SUCH-FORMAT" : "JPG");
        if (cause == "broken") {
            // Only a file that truly does not decode is painted as missing.
            QVERIFY(!isSkrinDirty(skrin));
            QVERIFY(near(storedImage(skrin, "file").pixel(250, 50), qRgb(0xeb, 0xeb, 0xeb)));
            return;
        }
        QCOMPARE(readItem(skrin), before);
        QVERIFY(isSkrinDirty(skrin) || cause == "huge");
        QCOMPARE(commits.count(), 0);
        if (cause == "huge" || cause == "encoder")
            return;

        // Once the bytes are there, the next run renders the picture.
        Database::setFileData(name, encoded(image));
        RowCursor waiting = Database::select(downloads, Database::columnId(downloads, "url"), url);
        while (waiting.next())
            Database::removeRow(waiting);
        render(skrin, true);
        QVERIFY(!isSkrinDirty(skrin));
        QVERIFY(near(storedImage(skrin, "file").pixel(250, 50), qRgb(0, 0, 255)));
        QCOMPARE(commits.count(), 1);
    }

    void changeDuringRenderLeavesTheMark()
    {
        const Id skrin = createItem("skrin");
        addRectangle(skrin, 0, 0, 2400, 1600, "#224466"); // large enough to take a while
        markSkrinDirty(skrin);
        QAtomicInt done = 0;
        QThreadPool::globalInstance()->start([&] {
            render(skrin);
            done.storeRelease(1);
        });
        while (!done.loadAcquire()) { // the editor saves changes meanwhile
            markSkrinDirty(skrin);
            QThread::usleep(300);
        }
        QThreadPool::globalInstance()->waitForDone();
        // The job saw its mark renewed: it wrote nothing and left the mark.
        QVERIFY(isSkrinDirty(skrin));
        QVERIFY(getMember(skrin, "file").toString().isEmpty());
        markAndRender(skrin); // a quiet run then renders
        QVERIFY(!isSkrinDirty(skrin));
        QCOMPARE(storedImage(skrin, "file").size(), QSize(2400, 1600));
    }

    void claimedOrNotAScreenshot()
    {
        RecordedRequests commits;
        const Id skrin = createItem("skrin");
        addRectangle(skrin, 0, 0, 10, 10, "#ff0000");
        // A running job holds the claim (here on a screenshot without a mark):
        // later jobs stop at once, and must not release the claim they never made.
        bool claimed = false;
        const QDateTime mark = beginSkrinThumbnail(skrin, &claimed);
        QVERIFY(!claimed && mark.isNull());
        render(skrin, true);
        render(skrin, true);
        QVERIFY(getMember(skrin, "file").toString().isEmpty());
        beginSkrinThumbnail(skrin, &claimed);
        QVERIFY(claimed);
        endSkrinThumbnail(skrin, mark);
        render(skrin, true);
        QCOMPARE(storedImage(skrin, "file").size(), QSize(10, 10));
        QCOMPARE(commits.count(), 1);

        // An id of another type, or gone, writes nothing and asks no commit.
        const Id pen = addRow("skrin_pen", skrin, {{"data", "[1,1]"}, {"pen_size", 2}});
        render(pen, true);
        render(-987654, true);
        QVERIFY(readItem(pen).value("file").isNull());
        QCOMPARE(commits.count(), 1);
    }

    void savesInTheFormatOfTheName_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("asPixmap");
        QTest::addColumn<bool>("commitAfter");
        QTest::addColumn<QByteArray>("format"); // "": nothing stored, no commit
        QTest::newRow("png, capture") << ".png" << true << true << QByteArray("png");
        QTest::newRow("PNG in capitals") << ".PNG" << false << false << QByteArray("png");
        QTest::newRow("jpg") << ".jpg" << false << true << QByteArray("jpeg");
        QTest::newRow("no suffix") << "" << true << false << QByteArray("jpeg");
        QTest::newRow("no such encoder") << ".jpg" << false << true << QByteArray();
    }

    void savesInTheFormatOfTheName()
    {
        QFETCH(QString, suffix);
        QFETCH(bool, asPixmap);
        QFETCH(bool, commitAfter);
        QFETCH(QByteArray, format);
        RecordedRequests commits;
        const QString file = Database::newFileName(suffix);
        if (format.isEmpty()) { // a failing encoder, and a picture with nothing in it
            for (const QImage &image : {sample, QImage()}) {
                ImageSaver saver(image, file, commitAfter, image.isNull() ? "JPEG" : "NO-SUCH-FORMAT", 85);
                saver.setAutoDelete(false);
                saver.run();
            }
        } else if (asPixmap) {
            saveImageAsync(QPixmap::fromImage(sample), file, commitAfter, 90);
        } else {
            saveImageAsync(sample, file, commitAfter, 90);
        }
        QCOMPARE(cachedImage(file).size(), sample.size()); // shown at once, before the bytes exist, and kept
        QCOMPARE(cachedPixmap(file).size(), sample.size());
        QThreadPool::globalInstance()->waitForDone();
        QByteArray stored;
        QCOMPARE(Database::fileData(file).isEmpty(), format.isEmpty());
        QCOMPARE(storedFile(file, &stored).size(), format.isEmpty() ? QSize(0, 0) : sample.size());
        QCOMPARE(stored, format);
        QTRY_COMPARE(commits.count(), commitAfter && !format.isEmpty() ? 1 : 0);
    }

    void dueScreenshotsRenderInBatchesOfFour()
    {
        const auto dirtySkrin = [] {
            const Id skrin = createItem("skrin");
            addRow("skrin_rectangle", skrin, {{"w", 30}, {"h", 20}, {"color", "#00ff00"}});
            markSkrinDirty(skrin);
            QTest::qWait(3); // marks of distinct times, oldest first
            return skrin;
        };
        QList<Id> skrins;
        for (int i = 0; i < 6; ++i)
            skrins.append(dirtySkrin());
        QTest::qWait(1100); // all six are due now
        const Id fresh = dirtySkrin();
        const auto tick = [] {
            ImageConnector::instance()->makeDirtSkrinsThumbnails();
            QThreadPool::globalInstance()->waitForDone();
        };
        tick();
        for (int i = 0; i < 6; ++i)
            QCOMPARE(getMember(skrins.at(i), "file").toString().isEmpty() && isSkrinDirty(skrins.at(i)), i >= 4);
        tick(); // the other two; the mark younger than a second waits
        for (const Id skrin : skrins)
            QVERIFY(!isSkrinDirty(skrin) && !getMember(skrin, "thumbnail64_file").toString().isEmpty());
        QVERIFY(isSkrinDirty(fresh) && getMember(fresh, "file").toString().isEmpty());
    }

    void largePicturesDecode()
    {
        // An 8000 x 4500 capture takes 144 MB decoded, past Qt's default limit.
        const QByteArray file = encoded(filledImage(QSize(8000, 4500), Qt::darkGreen), "JPG");
        const QVariantMap row{{"type", "skrin_image"}, {"file", Database::storeNewFile(file, ".jpg")}};
        QImageReader::setAllocationLimit(128);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("exceeds the current allocation limit"));
        QVERIFY(loadRowImage(row).isNull());
        startThumbnailTimer(); // raises the limit once at start-up
        QCOMPARE(loadRowImage(row).size(), QSize(8000, 4500));
    }
private:
    std::unique_ptr<EngineStore> store;
    const QImage sample = filledImage(QSize(64, 40), QColor(200, 40, 90));
};

QTEST_MAIN(TestRenderer)
#include "tst_renderer.moc"
