// Painting stored rows without items (stroke text, font weights, pixelation,
// shared with the scene's items), rendering screenshots from their rows into
// pictures and thumbnails, and the image jobs around it: background encodes,
// batches of dirty screenshots, the decoding limit.

#include "storedfont.h"
#include "imageconnector.h"
#include "imagejobs.h"
#include "imagesaver.h"
#include "paintlimits.h"
#include "pixelate.h"
#include "polygondata.h"
#include "renderfixture.h"
#include "rowpainting.h"

#include <QAtomicInt>
#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

#include <cmath>
#include <cstring>
#include <limits>

namespace {
Id addRectangle(Id skrin, double x, double y, double w, double h, const char *colour, double z = 1)
{
    return addRow("skrin_rectangle", skrin, {{"x", x}, {"y", y}, {"z", z}, {"w", w}, {"h", h}, {"color", colour}});
}

bool near(QRgb pixel, QRgb wanted)
{
    return qAbs(qRed(pixel) - qRed(wanted)) < 24 && qAbs(qGreen(pixel) - qGreen(wanted)) < 24
        && qAbs(qBlue(pixel) - qBlue(wanted)) < 24;
}

const double notANumber = std::numeric_limits<double>::quiet_NaN();

QVariantMap row(const QString &type, QVariantMap members)
{
    members.insert("type", type);
    return members;
}

// The row painted into a white 200 x 120 picture, its origin at (50, 30).
QImage painted(const QVariantMap &row)
{
    QImage image(200, 120, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.translate(50, 30);
    if (row.value("type") == "skrin_image")
        paintImageRow(&painter, row);
    else
        paintRow(&painter, row, image, QPointF(50, 30));
    return image;
}

const QRgb white = qRgb(255, 255, 255);

// Equal to the last bit: fuzzy QPointF comparison would hide -0 against 0.
bool sameBits(const QPolygonF &a, const QPolygonF &b)
{
    return a.size() == b.size() && (a.isEmpty() || !std::memcmp(a.constData(), b.constData(), a.size() * sizeof(QPointF)));
}

} // namespace

class TestRenderer : public QObject
{
    Q_OBJECT

private slots:
    void init() { store = std::make_unique<OpenStore>(); }
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

    // A capture under its annotations is the canvas the rest is painted on;
    // a picture with see-through parts, or one beside the page, still lies
    // on the page colour. The capture's own file is never changed.
    void pictureUnderAnnotations_data()
    {
        QTest::addColumn<bool>("seeThrough");
        QTest::addColumn<bool>("beside");
        QTest::newRow("opaque, covering") << false << false;
        QTest::newRow("see-through half") << true << false;
        QTest::newRow("opaque, with a rectangle beside") << false << true;
    }

    void pictureUnderAnnotations()
    {
        QFETCH(bool, seeThrough);
        QFETCH(bool, beside);
        QImage capture(60, 40, seeThrough ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        capture.fill(QColor(0, 160, 0));
        if (seeThrough) {
            for (int row = 0; row < 40; ++row)
                std::fill_n(reinterpret_cast<QRgb *>(capture.scanLine(row)) + 30, 30, qRgba(0, 0, 0, 0));
        }
        const QString file = storedPicture(capture);
        const Id skrin = createItem("skrin");
        addImage(skrin, file, capture.size(), capture.rect());
        addRectangle(skrin, beside ? -20 : 5, 5, 10, 10, "#0000ff", 1);
        markAndRender(skrin);
        const QImage picture = storedImage(skrin, "file");
        const int left = beside ? 20 : 0; // where the capture lies in the picture
        QCOMPARE(picture.size(), QSize(60 + left, 40));
        QVERIFY(near(picture.pixel(left + 10, 30), qRgb(0, 160, 0)));
        QVERIFY(near(picture.pixel(beside ? 5 : 10, 10), qRgb(0, 0, 255)));
        QVERIFY(near(picture.pixel(left + 50, 20), seeThrough ? qRgb(0xeb, 0xeb, 0xeb) : qRgb(0, 160, 0)));
        if (beside)
            QVERIFY(near(picture.pixel(5, 30), qRgb(0xeb, 0xeb, 0xeb)));
        QCOMPARE(storedFile(file).pixel(50, 20), capture.pixel(50, 20));
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
        QTest::newRow("save under way") << "saving";
        QTest::newRow("download pending") << "downloading";
        QTest::newRow("failing encoder") << "encoder";
        // Another client's row far away asks for a canvas of a million pixels a side.
        QTest::newRow("canvas beyond the limits") << "huge";
        // Nothing is on its way: painted as missing.
        QTest::newRow("file gone") << "gone";
        QTest::newRow("bytes that do not decode") << "broken";
    }

    // No picture with a hole while its bytes are on their way: the files stay,
    // no commit is asked and (but for a canvas that can never be made) the
    // mark stays for a later tick.
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
        std::unique_ptr<ImageSaver> saver; // its bytes are still to come
        if (cause == "saving")
            saver = std::make_unique<ImageSaver>(image, name, false, "PNG", 90);
        QTest::qWait(2);
        markSkrinDirty(skrin);
        render(skrin, true, cause == "encoder" ? "NO-SUCH-FORMAT" : "JPG");
        if (cause == "broken" || cause == "gone") {
            QVERIFY(!isSkrinDirty(skrin));
            QVERIFY(near(storedImage(skrin, "file").pixel(250, 50), qRgb(0xeb, 0xeb, 0xeb)));
            // The missing name was not read into the file store, where it would pass for a file.
            QCOMPARE(Database::fileExists(name), cause == "broken");
            return;
        }
        QCOMPARE(readItem(skrin), before);
        QVERIFY(isSkrinDirty(skrin) || cause == "huge");
        QCOMPARE(commits.count(), 0);
        if (cause == "encoder") { // told once, not on every try
            QTest::failOnWarning(QRegularExpression("encoding"));
            render(skrin, true, "NO-SUCH-FORMAT");
        }
        if (cause == "huge" || cause == "encoder")
            return;

        // Once the bytes are there, the next run renders the picture.
        if (saver)
            saver->run();
        saver.reset();
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

    // Screenshots that wait for their pictures' downloads hold the oldest
    // marks; the younger mark gets its turn all the same.
    void keptMarksLetYoungerOnesPass()
    {
        QList<Id> waiting;
        for (int i = 0; i < 4; ++i) {
            waiting << createItem("skrin");
            const Id row = addImage(waiting.last(), Database::newFileName(".png"), QSize(10, 10), QRectF(0, 0, 10, 10));
            insertRow("downloads", {{"url", QString("http://127.0.0.1:1/%1").arg(i)}, {"member", "file"},
                                    {"id", QVariant(qint64(row))}});
            markSkrinDirty(waiting.last());
        }
        const Id younger = createItem("skrin");
        addRectangle(younger, 0, 0, 10, 10, "#ff0000");
        QTest::qWait(2);
        markSkrinDirty(younger);
        QTest::qWait(1100);
        for (int tick = 0; tick < 2; ++tick) {
            ImageConnector::instance()->makeDirtSkrinsThumbnails();
            QThreadPool::globalInstance()->waitForDone();
        }
        QVERIFY(!isSkrinDirty(younger));
        for (const Id skrin : waiting)
            QVERIFY(isSkrinDirty(skrin) && getMember(skrin, "file").toString().isEmpty());
    }

    // Looked at and left, with no change since its render: nothing is written
    // or sent again, not even when a source file was damaged since.
    void unchangedScreenshotsAreLeftAlone()
    {
        RecordedRequests commits;
        const QString source = storedPicture(filledImage(QSize(600, 400), Qt::darkCyan));
        const Id skrin = createItem("skrin");
        addImage(skrin, source, QSize(600, 400), QRectF(0, 0, 600, 400));
        addRectangle(skrin, 10, 10, 50, 50, "#ff0000");
        markAndRender(skrin);
        const QVariantMap rendered = readItem(skrin);
        Database::setFileData(source, "damaged");
        render(skrin, true);
        QCOMPARE(readItem(skrin), rendered);
        QCOMPARE(commits.count(), 0);
    }

    // "Yes" takes the screenshot apart while its render stores the picture:
    // no file is left that no row names.
    void deletedWhileStoringLeavesNoFiles()
    {
        RecordedRequests commits;
        const Id skrin = createItem("skrin");
        addRectangle(skrin, 0, 0, 600, 400, "#224466");
        InterfaceRecorder deleter;
        deleter.hook = [&](const QString &event) {
            if (event.startsWith(QString("set %1 file=").arg(skrin)))
                removeItemTree(skrin);
        };
        watchInterface({{"type", "skrin"}}, &deleter);
        markAndRender(skrin, true);
        unwatchInterface(&deleter);
        QVERIFY(itemType(skrin).isEmpty() && Database::flush());
        QCOMPARE(QDir(store->dir.path() + "/files").entryList(QDir::Files), QStringList());
        QCOMPARE(commits.count(), 0);
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
        // Rows naming the file wait for it no more: its bytes came, or the
        // failed saver gave the name up.
        addImage(createItem("skrin"), file, sample.size(), sample.rect());
        QVERIFY(Database::flush());
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
        QElapsedTimer sinceFresh;
        sinceFresh.start();
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
        // On a machine slow enough that the fresh mark came of age meanwhile,
        // it may have gone with the second batch.
        if (sinceFresh.elapsed() < 1000)
            QVERIFY(isSkrinDirty(fresh) && getMember(fresh, "file").toString().isEmpty());
    }

    void largePicturesDecode()
    {
        // An 8000 x 4500 capture takes 144 MB decoded, past Qt's default limit.
        const QByteArray file = encoded(filledImage(QSize(8000, 4500), Qt::darkGreen), "JPG");
        const QVariantMap row{{"type", "skrin_image"}, {"file", Database::storeNewFile(file, ".jpg")}};
        QImageReader::setAllocationLimit(128);
        // The decode raises the limit itself.
        QCOMPARE(loadRowImage(row).size(), QSize(8000, 4500));
    }

    void strokeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QPolygonF>("polygon");
        QTest::addColumn<QString>("way"); // "write", "read" or both ways
        QTest::newRow("plain") << "[0,0,3.5,-2,10,12.25]" << QPolygonF{{0, 0}, {3.5, -2}, {10, 12.25}} << "both";
        QTest::newRow("exponents") << "[0.1,0.2,1e-07,123456789012]" << QPolygonF{{0.1, 0.2}, {1e-7, 123456789012}}
                                   << "write";
        QTest::newRow("15 digits") << "[0.3,1e+15]" << QPolygonF{{0.1 + 0.2, 1e15}} << "write";
        QTest::newRow("empty") << "[]" << QPolygonF() << "both";
        QTest::newRow("unpaired last") << "[1,2,3]" << QPolygonF{{1, 2}} << "read";
        QTest::newRow("null") << "null" << QPolygonF() << "read";
        QTest::newRow("object") << "{\"a\":1}" << QPolygonF() << "read";
        QTest::newRow("mixed elements") << "[\"5\",true,\"abc\",null,[1],{}]" << QPolygonF{{5, 1}, {0, 0}, {0, 0}}
                                        << "read";
        QTest::newRow("huge clamped") << "[1e300,-1e300]"
                                      << QPolygonF{{PaintLimits::maxCoordinate, -PaintLimits::maxCoordinate}} << "read";
        QTest::newRow("non-finite dropped") << "[\"nan\",0,\"-inf\",1,7,8]" << QPolygonF{{7, 8}} << "read";
    }

    void strokeText()
    {
        QFETCH(QString, text);
        QFETCH(QPolygonF, polygon);
        QFETCH(QString, way);
        if (way != "write")
            QCOMPARE(dataToPolygon(text), polygon);
        if (way != "read")
            QCOMPARE(polygonToData(polygon).toString(), text);
    }

    void directReadingAgreesWithJson()
    {
        QLoggingCategory::setFilterRules("default.debug=false"); // malformed texts are logged by the JSON reader
        const QStringList pieces{",", ",", " ", "\n", "-", ".", "e", "E+", "e-", "0", "7", "12.5", "-0", "1e308",
                                 "1e309", "2e-400", "9223372036854775808", "-9223372036854775808", "\"3\"", "nan",
                                 "/**/", "x", "[", "]", "{}", QString(QChar(0)), QString(QChar(0x660))};
        QStringList texts{"", "[]", " [1,2]\t", "[1,2]x", "[1,2]/**/", "[1 2,,3-4]", "[1e]", "[.5,-.5e1,1e5e5]"};
        QRandomGenerator random(7);
        for (int i = 0; i < 4000; ++i) {
            QString text = i % 4 ? "[" : "";
            for (int n = random.bounded(16); n > 0; --n)
                text += pieces.at(random.bounded(i % 2 ? 18 : pieces.size())); // odd texts: numbers only
            texts << text + (i % 3 ? "]" : "");
        }
        for (int i = 0; i < 300; ++i) { // as written: reals of every magnitude, subnormals included
            QPolygonF points;
            for (int n = random.bounded(6); n > 0; --n)
                points << QPointF(std::ldexp(random.generateDouble() - 0.5, random.bounded(-1080, 1030)), i);
            texts << polygonToData(points).toString();
        }
        for (const QString &text : texts)
            QVERIFY2(sameBits(dataToPolygon(text), dataToPolygonViaJson(text)), qPrintable(text));
    }

    void fontWeights()
    {
        QCOMPARE(qtFontWeightFromStored(50), int(QFont::Normal));
        QCOMPARE(qtFontWeightFromStored("75"), int(QFont::Bold));
        QCOMPARE(qtFontWeightFromStored("abc"), int(QFont::Thin));
        QCOMPARE(qtFontWeightFromStored(1e9), int(QFont::Black));
        QFont font;
        font.setBold(true);
        QCOMPARE(storedFontWeight(font), 75);
        // Black is 87, as in Qt's old-style font strings; above it, Black still.
        QCOMPARE(qtFontWeightFromStored(87), int(QFont::Black));
        QCOMPARE(qtFontWeightFromStored(81), int(QFont::ExtraBold));
        for (int stored = 0; stored <= 99; ++stored) // every stored value survives a round trip
            QCOMPARE(storedFontWeightFromQt(qtFontWeightFromStored(stored)), std::min(stored, 87));
    }

    void pixelation()
    {
        // Left half opaque black, right half transparent.
        QImage source(40, 20, QImage::Format_ARGB32_Premultiplied);
        source.fill(0);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x)
                source.setPixel(x, y, qRgb(0, 0, 0));
        QImage target(40, 20, QImage::Format_ARGB32_Premultiplied);
        target.fill(qRgb(1, 2, 3));
        QPainter painter(&target);
        pixelateUnderMask(&painter, source, source.rect(), QPolygonF{{8, 10}, {36, 10}}, 8, QPointF(0, 0));
        painter.end();
        QCOMPARE(target.pixel(10, 10), qRgba(4, 4, 4, 255));        // black: 235 / 50 from the page colour
        QCOMPARE(target.pixel(30, 10), qRgba(235, 235, 235, 255));  // transparent: the page colour
        QCOMPARE(target.pixel(10, 1), qRgb(1, 2, 3));               // beside the band
        QCOMPARE(target.pixel(2, 10), qRgb(1, 2, 3));               // before the round cap
    }

    void rows_data()
    {
        QTest::addColumn<QVariantMap>("row");
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<QPoint>("on");  // painted in the row's colour (in the picture, origin at 50, 30)
        QTest::addColumn<QPoint>("off"); // left white
        // One point: a disc of the pen's width.
        QTest::newRow("pen dot") << row("skrin_pen", {{"data", "[20,30]"}, {"pen_size", 10}, {"color", "#00ff00"}})
                                 << QRectF(15, 25, 10, 10) << QPoint(73, 60) << QPoint(77, 60);
        // A frame's stroke lies wholly outside its rectangle.
        QTest::newRow("frame") << row("skrin_rectangle_frame", {{"w", 100}, {"h", 50}, {"pen_size", 4}, {"color", "#0000ff"}})
                               << QRectF(-4, -4, 108, 58) << QPoint(152, 50) << QPoint(51, 31);
        // Shrunk by its handles below its pen: painted inside out, as the editor shows it.
        QTest::newRow("shrunk frame") << row("skrin_rectangle_frame", {{"w", -30}, {"h", -30}, {"pen_size", 20}, {"color", "#0000ff"}})
                                      << QRectF(-30, -30, 30, 30) << QPoint(35, 15) << QPoint(55, 35);
        // pen_size 0.1 paints nothing at all.
        QTest::newRow("thin pen is none") << row("skrin_ellipse_frame", {{"w", 10}, {"h", 10}, {"pen_size", 0.1}})
                                          << QRectF(0, 0, 10, 10) << QPoint() << QPoint(50, 35);
        QTest::newRow("thin pen dot") << row("skrin_pen", {{"data", "[20,30]"}, {"pen_size", 0.1}, {"color", "#000000"}})
                                      << QRectF(20, 30, 0, 0) << QPoint() << QPoint(70, 60);
        QTest::newRow("reversed line")
            << row("skrin_line", {{"begin_x", 10}, {"begin_y", 10}, {"end_x", 0}, {"end_y", 0}, {"pen_size", 2}, {"color", "#ff0000"}})
            << QRectF(-1, -1, 12, 12) << QPoint(55, 35) << QPoint(60, 30);
        QTest::newRow("zero arrow")
            << row("skrin_arrow", {{"begin_x", 5}, {"begin_y", 5}, {"end_x", 5}, {"end_y", 5}, {"pen_size", 4}})
            << QRectF(3, 3, 4, 4) << QPoint() << QPoint();
        QTest::newRow("pin") << row("skrin_pin", {{"data", "note"}, {"color", "#ffff00"}}) << QRectF() << QPoint()
                             << QPoint(50, 30);
    }

    void rows()
    {
        QFETCH(QVariantMap, row);
        QFETCH(QRectF, rect);
        QFETCH(QPoint, on);
        QFETCH(QPoint, off);
        QCOMPARE(rowRect(row), rect);
        const QImage image = painted(row);
        if (!on.isNull())
            QCOMPARE(image.pixelColor(on), QColor(row.value("color").toString()));
        if (!off.isNull())
            QCOMPARE(image.pixel(off), white);
    }

    void markerAndText()
    {
        // A marker is translucent: alpha 0.3 of its colour.
        const QImage image = painted(row("skrin_marker", {{"data", "[0,10,40,10]"}, {"pen_size", 6}, {"color", "#000000"}}));
        QCOMPARE(qGray(image.pixel(60, 40)), 178);
        // Text: point size truncated, the stored weight converted.
        const QFont font = textFontFromRow(row("skrin_text", {{"font_name", "DejaVu Sans"}, {"font_size", 12.9},
                                                              {"font_weight", 75}, {"font_italic", 1}}));
        QVERIFY(font.pointSize() == 12 && font.weight() == QFont::Bold && font.italic() && !font.underline());
    }

    void hostileRowsPaintSafely()
    {
        const QList<QVariantMap> rows{
            row("skrin_pen", {{"data", "[0,0,1e300,1e300,nan,3]"}, {"pen_size", 1e9}, {"color", "#123456"}}),
            row("skrin_blur", {{"data", "[0,0,1e9,5]"}, {"pen_size", -5}}),
            row("skrin_rectangle", {{"w", -5}, {"h", 1e300}, {"color", "#ff0000"}}),
            row("skrin_ellipse_frame", {{"w", notANumber}, {"h", 10}, {"pen_size", notANumber}, {"color", "bogus"}}),
            row("skrin_line", {{"begin_x", -1e300}, {"end_x", 1e300}, {"pen_size", 3}, {"color", "#000000"}}),
            row("skrin_text", {{"data", "x"}, {"font_size", 1e12}, {"font_weight", "heavy"}}),
            row("skrin_image", {{"file", "../../etc/passwd"}, {"w", 1e9}, {"h", 1e9}, {"src_w", notANumber}}),
        };
        for (const QVariantMap &r : rows) {
            const QRectF rect = rowRect(r);
            QVERIFY2(std::isfinite(rect.width()) && std::isfinite(rect.height()) && std::abs(rect.left()) <= 2.1e6
                         && std::abs(rect.right()) <= 2.1e6,
                     qPrintable(r.value("type").toString()));
            painted(r); // returns at once, without a crash or a sanitizer report
        }
        // A point JSON cannot spell is left out; points beyond the limit are not read.
        QCOMPARE(polygonToData(QPolygonF{{1, 2}, {notANumber, 0}}).toString(), QString("[1,2]"));
        QString many = "[";
        for (int i = 0; i <= PaintLimits::maxPolygonPoints; ++i)
            many += "1,2,";
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("points cut to"));
        QCOMPARE(dataToPolygon(many + "1,2]").size(), PaintLimits::maxPolygonPoints);
    }

private:
    std::unique_ptr<OpenStore> store;
    const QImage sample = filledImage(QSize(64, 40), QColor(200, 40, 90));
};

QTEST_MAIN(TestRenderer)
#include "tst_renderer.moc"
