// Pictures of every format and any damage, decoded the one way that pastes,
// drops, synced downloads and stored files are: no decode leaves the memory
// it was given in a picture, and none takes more than its bound, whatever a
// header claims.

#include "decodedpicture.h"
#include "pictureformats.h"
#include "pictures.h"

#include <QColorSpace>
#include <QImageReader>
#include <QTest>
#include <QtEndian>

#include <malloc.h>

// Under the address sanitizer every allocation comes filled with the byte
// below, whole; the C library's allocator is told the same in initTestCase.
extern "C" const char *__asan_default_options()
{
    return "max_malloc_fill_size=1073741824:malloc_fill_byte=190";
}

namespace {

constexpr uchar fillByte = 190;
// A run this long of the fill is memory no decoder wrote: the pictures made
// here have no two neighbouring pixels alike and no channel at the fill.
constexpr qsizetype telltaleRun = 8;

// The longest run of the fill byte in the picture's pixels.
qsizetype longestFillRun(const QImage &image)
{
    qsizetype longest = 0;
    const qsizetype used = (qsizetype(image.width()) * image.depth() + 7) / 8;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        qsizetype run = 0;
        for (qsizetype i = 0; i < used; ++i) {
            run = line[i] == fillByte ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    return longest;
}

// Where a file is cut: along it, and just before its end.
QList<qsizetype> cuts(qsizetype size)
{
    QList<qsizetype> at;
    for (int i = 1; i < 24; ++i)
        at.append(size * i / 24);
    for (const qsizetype back : {64, 12, 3, 1})
        at.append(size - back);
    return at;
}

// A GIF of one 1 x 1 frame at the screen's top left, on a logical screen of
// `screen`.
QByteArray gifOnScreen(const QSize &screen)
{
    QByteArray bytes = QByteArray::fromHex("47494638396100000000800000000000ffffff2c00000000010001000002024401003b");
    qToLittleEndian<quint16>(quint16(screen.width()), bytes.data() + 6);
    qToLittleEndian<quint16>(quint16(screen.height()), bytes.data() + 8);
    return bytes;
}

// An icon of one 16 x 16 entry, a 24-bit bitmap behind a header of
// `headerSize` bytes: 12 (the old core header) or 40.
QByteArray bitmapIcon(quint32 headerSize)
{
    QByteArray header(int(headerSize), '\0');
    qToLittleEndian<quint32>(headerSize, header.data());
    if (headerSize == 12) {
        qToLittleEndian<quint16>(16, header.data() + 4);
        qToLittleEndian<quint16>(32, header.data() + 6); // picture and mask
        qToLittleEndian<quint16>(1, header.data() + 8);
        qToLittleEndian<quint16>(24, header.data() + 10);
    } else {
        qToLittleEndian<qint32>(16, header.data() + 4);
        qToLittleEndian<qint32>(32, header.data() + 8);
        qToLittleEndian<quint16>(1, header.data() + 12);
        qToLittleEndian<quint16>(24, header.data() + 14);
    }
    const QByteArray data = header + QByteArray(16 * 16 * 3, '\x40') + QByteArray(16 * 4, '\0');
    QByteArray icon = QByteArray::fromHex("000001000100") + QByteArray(16, '\0');
    icon[6] = 16;
    icon[7] = 16;
    qToLittleEndian<quint16>(1, icon.data() + 10);
    qToLittleEndian<quint16>(24, icon.data() + 12);
    qToLittleEndian<quint32>(quint32(data.size()), icon.data() + 14);
    qToLittleEndian<quint32>(22, icon.data() + 18);
    return icon + data;
}

} // namespace

class TestPictures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Every block the C library hands out comes filled with fillByte.
        mallopt(M_PERTURB, fillByte ^ 0xff);
    }

    void truncatedFilesLeaveNoMemory_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("limit");
        for (const PictureFile &file : everyFormat(structuredPicture(QSize(97, 61)))) {
            // Stored and synced pictures at their own size, pastes within the
            // screen, and pastes scaled down (by the decoder or after it).
            QTest::addRow("%s, own size", file.name.constData()) << file.bytes << QSize();
            QTest::addRow("%s, pasted", file.name.constData()) << file.bytes << QSize(1920, 1080);
            QTest::addRow("%s, scaled", file.name.constData()) << file.bytes << QSize(40, 40);
        }
    }
    // A file cut anywhere is refused, or decodes to pixels the file and the
    // decoder made: the rows it lacks never keep what the heap held.
    void truncatedFilesLeaveNoMemory()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, limit);
        const DecodedPicture whole = DecodedPicture::fromBytes(bytes, limit);
        QVERIFY2(whole.failure == DecodedPicture::None, qPrintable(whole.reason));
        QCOMPARE(whole.size, QSize(97, 61));
        QVERIFY(longestFillRun(whole.image) < telltaleRun);
        for (const qsizetype cut : cuts(bytes.size())) {
            const DecodedPicture picture = DecodedPicture::fromBytes(bytes.left(cut), limit);
            QCOMPARE(picture.image.isNull(), picture.failure != DecodedPicture::None);
            // A refusal names a cause the user can act on, never Qt's "Unknown error".
            if (picture.failure == DecodedPicture::Unreadable)
                QVERIFY2(!picture.reason.isEmpty() && picture.reason != QImageReader().errorString(),
                         qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(picture.reason)));
            QVERIFY2(longestFillRun(picture.image) < telltaleRun,
                     qPrintable(QStringLiteral("cut at %1 of %2 bytes").arg(cut).arg(bytes.size())));
        }
    }

    void trueSizeCounts_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("limit");
        QTest::addColumn<int>("failure");
        QTest::addColumn<QSize>("decoded"); // 0 x 0: none
        // 16384 x 16383 pixels in black and white: 32 kB of PNG, 1 GiB at
        // 32 bits, behind an icon directory that says 256 x 256.
        const QByteArray hidden = iconHoldingPng(plainPng(16384, 16383, 1), QSize(256, 256));
        QTest::newRow("icon hiding a huge PNG, pasted") << hidden << QSize(1920, 1080) << int(DecodedPicture::TooLarge) << QSize(0, 0);
        QTest::newRow("icon hiding a huge PNG, synced") << hidden << QSize() << int(DecodedPicture::TooLarge) << QSize(0, 0);
        const QByteArray honest = iconHoldingPng(encoded(structuredPicture(QSize(300, 200))), QSize(0, 0));
        QTest::newRow("icon of 300 x 200, pasted") << honest << QSize(150, 150) << int(DecodedPicture::None) << QSize(150, 100);
        QTest::newRow("icon of 300 x 200, synced") << honest << QSize() << int(DecodedPicture::None) << QSize(300, 200);
        QTest::newRow("header of 40000 x 10") << plainPng(40000, 10, 8, false) << QSize() << int(DecodedPicture::TooLarge) << QSize(0, 0);
        QTest::newRow("header of 20000 x 20000") << plainPng(20000, 20000, 8, false) << QSize() << int(DecodedPicture::TooLarge) << QSize(0, 0);
        // The old header's 16-bit sides are no huge 32-bit ones; Qt cannot
        // decode such an entry, and says so.
        QTest::newRow("icon of an old bitmap header") << bitmapIcon(12) << QSize() << int(DecodedPicture::Unreadable) << QSize(0, 0);
        QTest::newRow("icon of a bitmap header") << bitmapIcon(40) << QSize() << int(DecodedPicture::None) << QSize(16, 16);
        QTest::newRow("not a picture") << QByteArray("hello") << QSize() << int(DecodedPicture::NotPicture) << QSize(0, 0);
    }
    // The size a picture really has decides, not what its header or its
    // icon directory tells.
    void trueSizeCounts()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, limit);
        QFETCH(int, failure);
        QFETCH(QSize, decoded);
        const DecodedPicture picture = DecodedPicture::fromBytes(bytes, limit);
        QCOMPARE(int(picture.failure), failure);
        QCOMPARE(picture.image.size(), decoded);
    }

    void gifScreenCounts_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("limit");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("failure");
        QTest::addColumn<QSize>("decoded");
        // 35 bytes that decode to 1 GB.
        QTest::newRow("1 x 1 on 16000 x 16000, pasted") << gifOnScreen(QSize(16000, 16000)) << QSize(1920, 1080)
                                                        << QSize(16000, 16000) << int(DecodedPicture::TooLarge) << QSize(0, 0);
        QTest::newRow("1 x 1 on 40 x 30, synced") << gifOnScreen(QSize(40, 30)) << QSize() << QSize(40, 30)
                                                  << int(DecodedPicture::None) << QSize(40, 30);
        QTest::newRow("1 x 1 on 0 x 30, synced") << gifOnScreen(QSize(0, 30)) << QSize() << QSize(1, 30)
                                                 << int(DecodedPicture::None) << QSize(1, 30);
    }
    // A GIF is as large as its logical screen, whatever its first frame.
    void gifScreenCounts()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, limit);
        QFETCH(QSize, size);
        QFETCH(int, failure);
        QFETCH(QSize, decoded);
        const DecodedPicture picture = DecodedPicture::fromBytes(bytes, limit);
        QCOMPARE(picture.size, size);
        QCOMPARE(int(picture.failure), failure);
        QCOMPARE(picture.image.size(), decoded);
    }

    // A picture scaled down keeps the colour space its colours are in.
    void scaledKeepsColourSpace()
    {
        QImage picture = structuredPicture(QSize(300, 200));
        picture.setColorSpace(QColorSpace::DisplayP3);
        const DecodedPicture scaled = DecodedPicture::fromImage(picture, QSize(150, 150));
        QCOMPARE(scaled.image.size(), QSize(150, 100));
        QCOMPARE(scaled.image.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    }
};

QTEST_GUILESS_MAIN(TestPictures)
#include "tst_pictures.moc"
