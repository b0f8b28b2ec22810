// Rendering screenshots from their stored rows into pictures and thumbnails.

#include "imagejobs.h"
#include "renderfixture.h"
#include "thumbnailerthread.h"

#include <QApplication>
#include <QAtomicInt>
#include <QSignalSpy>
#include <QTest>

namespace {
const QStringList pictureMembers{"file", "thumbnail512_file", "thumbnail128_file", "thumbnail64_file"};

Id newSkrin()
{
    const Id skrin = createItem("skrin");
    setMember(skrin, "title", "test");
    return skrin;
}

Id addRectangle(Id skrin, double x, double y, double w, double h, const char *colour, double z = 1)
{
    return addRow("skrin_rectangle", skrin, {{"x", x}, {"y", y}, {"z", z}, {"w", w}, {"h", h}, {"color", colour}});
}

Id addImage(Id skrin, const QString &file, const QSize &size, const QRectF &source, double x = 0, double y = 0)
{
    return addRow("skrin_image", skrin,
                  {{"x", x}, {"y", y}, {"z", 0}, {"file", file}, {"w", size.width()}, {"h", size.height()},
                   {"src_x", source.x()}, {"src_y", source.y()}, {"src_w", source.width()},
                   {"src_h", source.height()}});
}

void render(Id skrin, bool commitAfter = false)
{
    ThumbnailerThread job(skrin, commitAfter);
    job.setAutoDelete(false);
    job.run();
}

QVariantMap pictureState(Id skrin)
{
    QVariantMap state;
    for (const QString &member : pictureMembers + QStringList{"x", "y", "w", "h"})
        state.insert(member, getMember(skrin, member));
    return state;
}
} // namespace

class TestRenderer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void thumbnails_data();
    void thumbnails();
    void extentAndStacking();
    void soleImageSharesItsFile_data();
    void soleImageSharesItsFile();
    void pendingPictureWaits_data();
    void pendingPictureWaits();
    void undecodablePictureIsPaintedAsMissing();
    void failedEncodeStoresNothing();
    void oversizedCanvasKeepsTheFiles();
    void changeDuringRenderLeavesTheMark();
    void notAScreenshotOrClaimed();

private:
    RenderStore *store = nullptr;
};

void TestRenderer::init()
{
    store = new RenderStore;
    QVERIFY(store->opened);
}

void TestRenderer::cleanup()
{
    delete store;
    store = nullptr;
}

void TestRenderer::thumbnails_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QList<QSize>>("thumbnails"); // 512, 128, 64; empty: the larger one's name
    QTest::newRow("60x50: none") << QSize(60, 50) << QList<QSize>{{}, {}, {}};
    QTest::newRow("100x80: only 64") << QSize(100, 80) << QList<QSize>{{}, {}, {64, 51}};
    // 2:1 is cropped to 650 x 500 first, and each smaller one from the one before.
    QTest::newRow("1000x500: cropped") << QSize(1000, 500) << QList<QSize>{{512, 393}, {128, 98}, {64, 49}};
    QTest::newRow("600x500: scaled") << QSize(600, 500) << QList<QSize>{{512, 426}, {128, 106}, {64, 53}};
    // Even a larger one is made when the picture exceeds it on one side.
    QTest::newRow("tall 300x900") << QSize(300, 900) << QList<QSize>{{393, 512}, {98, 128}, {49, 64}};
}

void TestRenderer::thumbnails()
{
    QFETCH(QSize, picture);
    QFETCH(QList<QSize>, thumbnails);
    const Id skrin = newSkrin();
    addRectangle(skrin, 10, 20, picture.width(), picture.height(), "#336699");
    markSkrinDirty(skrin);
    render(skrin);

    QVERIFY(!isSkrinDirty(skrin));
    QByteArray format;
    const QImage file = storedImage(skrin, "file", &format);
    QCOMPARE(file.size(), picture);
    QCOMPARE(format, QByteArray("jpeg"));
    QVERIFY(getMember(skrin, "file").toString().endsWith(".jpg"));
    QVERIFY(qAbs(qBlue(file.pixel(picture.width() / 2, picture.height() / 2)) - 0x99) < 8);

    QString larger = getMember(skrin, "file").toString();
    for (int i = 0; i < 3; ++i) {
        const QByteArray member = pictureMembers.at(i + 1).toLatin1();
        const QString name = getMember(skrin, member).toString();
        if (thumbnails.at(i).isEmpty()) {
            QCOMPARE(name, larger);
        } else {
            QVERIFY(name != larger && name.endsWith(".jpg"));
            QCOMPARE(storedImage(skrin, member.constData(), &format).size(), thumbnails.at(i));
            QCOMPARE(format, QByteArray("jpeg"));
        }
        larger = name;
    }
    QCOMPARE(getMember(skrin, "x").toDouble(), 10.0);
    QCOMPARE(getMember(skrin, "w").toDouble(), double(picture.width()));
}

void TestRenderer::extentAndStacking()
{
    const Id skrin = newSkrin();
    // Negative coordinates: the picture starts at the leftmost, topmost row.
    addRectangle(skrin, -50, -20, 40, 40, "#ff0000", 1);
    // Equal z: rows stack in table order, so the rectangle covers the ellipse.
    addRow("skrin_ellipse", skrin, {{"x", 0}, {"y", 0}, {"z", 2}, {"w", 40}, {"h", 40}, {"color", "#00ff00"}});
    addRectangle(skrin, 10, 10, 20, 20, "#0000ff", 2);
    // A frame's stroke lies outside its rectangle and counts for the extent.
    addRow("skrin_rectangle_frame", skrin,
           {{"x", 60}, {"y", 0}, {"z", 0}, {"w", 20}, {"h", 20}, {"pen_size", 4}, {"color", "#000000"}});
    // Pins are notes: they neither paint nor widen the picture.
    addRow("skrin_pin", skrin, {{"x", 500}, {"y", 500}, {"z", 9}, {"data", "note"}, {"color", "#ffff00"}});
    markSkrinDirty(skrin);
    render(skrin);

    QCOMPARE(getMember(skrin, "x").toDouble(), -50.0);
    QCOMPARE(getMember(skrin, "y").toDouble(), -20.0);
    QCOMPARE(getMember(skrin, "w").toDouble(), 134.0); // to 84, the frame's outer edge
    QCOMPARE(getMember(skrin, "h").toDouble(), 60.0);  // to the ellipse's 40
    const QImage picture = storedImage(skrin, "file");
    QCOMPARE(picture.size(), QSize(134, 60));
    auto near = [](QRgb pixel, QRgb wanted) {
        return qAbs(qRed(pixel) - qRed(wanted)) < 24 && qAbs(qGreen(pixel) - qGreen(wanted)) < 24
            && qAbs(qBlue(pixel) - qBlue(wanted)) < 24;
    };
    QVERIFY(near(picture.pixel(5, 5), qRgb(255, 0, 0)));           // the negative rectangle
    QVERIFY(near(picture.pixel(50 + 20, 20 + 20), qRgb(0, 0, 255))); // blue over green
    QVERIFY(near(picture.pixel(50 + 3, 20 + 20), qRgb(0, 255, 0)));
    QVERIFY(near(picture.pixel(50 + 45, 20 + 5), qRgb(0xeb, 0xeb, 0xeb))); // the page
    QVERIFY(near(picture.pixel(50 + 58, 20 + 10), qRgb(0, 0, 0)));       // the frame, outside its rectangle
}

void TestRenderer::soleImageSharesItsFile_data()
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

void TestRenderer::soleImageSharesItsFile()
{
    QFETCH(QSize, size);
    QFETCH(QRectF, source);
    QFETCH(bool, annotated);
    QFETCH(bool, shared);
    QImage image(80, 60, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString file = storedPicture(image);
    const Id skrin = newSkrin();
    addImage(skrin, file, size, source);
    if (annotated)
        addRectangle(skrin, 5, 5, 10, 10, "#ff0000");
    markSkrinDirty(skrin);
    render(skrin);

    QCOMPARE(getMember(skrin, "file").toString() == file, shared);
    QCOMPARE(storedImage(skrin, "file").size(), size);
    QCOMPARE(storedImage(skrin, "thumbnail64_file").size(), QSize(64, 49));
}

void TestRenderer::pendingPictureWaits_data()
{
    QTest::addColumn<bool>("downloading");
    QTest::newRow("file not stored yet") << false;
    QTest::newRow("download pending") << true;
}

void TestRenderer::pendingPictureWaits()
{
    QFETCH(bool, downloading);
    const Id skrin = newSkrin();
    addRectangle(skrin, 0, 0, 100, 100, "#ff0000");
    markSkrinDirty(skrin);
    render(skrin);
    const QVariantMap before = pictureState(skrin);

    QImage image(100, 100, QImage::Format_RGB32);
    image.fill(Qt::blue);
    const QString name = Database::newFileName(".png");
    const Id row = addImage(skrin, name, image.size(), image.rect(), 200, 0);
    const int downloads = Database::tableId("downloads");
    const QString url = "http://127.0.0.1:1/f/" + name;
    if (downloading) {
        Database::insertRow(downloads, Database::columnIds(downloads, {{"url", url},
                                                                       {"id", QVariant(qint64(row))},
                                                                       {"member", "file"}}));
        QVERIFY(getMember(row, "file").toString().isEmpty());
    }
    QTest::qWait(5); // a mark of its own time
    markSkrinDirty(skrin);
    QSignalSpy commits(TavrinConnector::instance(), &TavrinConnector::commitSignal);
    render(skrin, true);
    // No picture with a hole: nothing is written and the mark stays for a later tick.
    QCOMPARE(pictureState(skrin), before);
    QVERIFY(isSkrinDirty(skrin));
    QCOMPARE(commits.count(), 0);

    // Once the bytes are there, the next run renders the picture.
    Database::setFileData(name, encoded(image));
    RowCursor waiting = Database::select(downloads, Database::columnId(downloads, "url"), url);
    while (waiting.next())
        Database::removeRow(waiting);
    render(skrin, true);
    QVERIFY(!isSkrinDirty(skrin));
    QVERIFY(getMember(skrin, "file") != before.value("file"));
    QCOMPARE(qBlue(storedImage(skrin, "file").pixel(250, 50)) > 200, true);
    QCOMPARE(commits.count(), 1);
}

void TestRenderer::undecodablePictureIsPaintedAsMissing()
{
    const Id skrin = newSkrin();
    addImage(skrin, Database::storeNewFile("not a picture at all", ".png"), QSize(50, 40), QRectF(0, 0, 50, 40));
    markSkrinDirty(skrin);
    render(skrin);
    QVERIFY(!isSkrinDirty(skrin));
    const QImage picture = storedImage(skrin, "file");
    QCOMPARE(picture.size(), QSize(50, 40));
    QVERIFY(qAbs(qRed(picture.pixel(25, 20)) - 0xeb) < 4);
}

void TestRenderer::failedEncodeStoresNothing()
{
    const Id skrin = newSkrin();
    addRectangle(skrin, 0, 0, 100, 100, "#ff0000");
    markSkrinDirty(skrin);
    QSignalSpy commits(TavrinConnector::instance(), &TavrinConnector::commitSignal);
    ThumbnailerThread job(skrin, true, "NO-SUCH-FORMAT");
    job.setAutoDelete(false);
    job.run();
    QVERIFY(getMember(skrin, "file").toString().isEmpty());
    QVERIFY(getMember(skrin, "thumbnail64_file").toString().isEmpty());
    QVERIFY(isSkrinDirty(skrin));
    QCOMPARE(commits.count(), 0);
    // The claim was released: a working encoder renders the same mark.
    render(skrin);
    QVERIFY(!isSkrinDirty(skrin));
    QCOMPARE(storedImage(skrin, "file").size(), QSize(100, 100));
}

void TestRenderer::oversizedCanvasKeepsTheFiles()
{
    const Id skrin = newSkrin();
    addRectangle(skrin, 0, 0, 100, 100, "#ff0000");
    markSkrinDirty(skrin);
    render(skrin);
    const QVariantMap before = pictureState(skrin);

    // Another client's row far away asks for a canvas of a million pixels a side.
    addRectangle(skrin, 1e9, 0, 10, 10, "#00ff00");
    QTest::qWait(5);
    markSkrinDirty(skrin);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("beyond the limits"));
    render(skrin);
    QCOMPARE(pictureState(skrin), before);
}

void TestRenderer::changeDuringRenderLeavesTheMark()
{
    const Id skrin = newSkrin();
    // Large enough that the job runs for a while.
    addRectangle(skrin, 0, 0, 2400, 1600, "#224466");
    addRow("skrin_pen", skrin, {{"x", 0}, {"y", 0}, {"z", 2}, {"pen_size", 30}, {"color", "#ffffff"},
                                {"data", "[20,20,2000,1500,100,1500,2300,20]"}});
    markSkrinDirty(skrin);
    QAtomicInt done = 0;
    QThreadPool::globalInstance()->start([&] {
        render(skrin);
        done.storeRelease(1);
    });
    // The editor saves changes while the job renders.
    while (!done.loadAcquire()) {
        markSkrinDirty(skrin);
        QThread::usleep(300);
    }
    QThreadPool::globalInstance()->waitForDone();
    QThread::msleep(2);
    // The job saw its mark renewed: it wrote nothing and left the mark.
    QVERIFY(isSkrinDirty(skrin));
    QVERIFY(getMember(skrin, "file").toString().isEmpty());
    // A quiet run then renders.
    render(skrin);
    QVERIFY(!isSkrinDirty(skrin));
    QCOMPARE(storedImage(skrin, "file").size(), QSize(2400, 1600));
}

void TestRenderer::notAScreenshotOrClaimed()
{
    QSignalSpy commits(TavrinConnector::instance(), &TavrinConnector::commitSignal);
    const Id skrin = newSkrin();
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

QTEST_MAIN(TestRenderer)
#include "tst_renderer.moc"
