// Writes the seeds of the pictures' fuzz target into the folder it is given:
// a small picture as a file of every kind the tests make, and the damaged
// and hostile files the decoder must refuse or bound.
#include "pictureformats.h"
#include "pictures.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: picture_seeds FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    QList<PictureFile> seeds = everyFormat(structuredPicture(QSize(48, 32)));
    for (const PictureFile &file : std::as_const(seeds)) {
        if (file.name.startsWith("bmp-32"))
            seeds.append({"truncated-bmp.bmp", file.bytes.left(file.bytes.size() / 2)});
    }
    seeds.append({"icon-hiding-huge-png.ico", iconHoldingPng(plainPng(16384, 16383, 1), QSize(256, 256))});
    // 35 bytes whose screen and frame say 8000 x 8000.
    seeds.append({"gif-header-8000.gif", QByteArray::fromHex("474946383961401f401f800000000000ffffff2c00000000401f401f0002024401003b")});
    // 35 bytes: one 1 x 1 frame on a 16000 x 16000 screen.
    seeds.append({"gif-screen-16000.gif", QByteArray::fromHex("474946383961803e803e800000000000ffffff2c00000000010001000002024401003b")});
    seeds.append({"grey-png-header-30000.png", plainPng(30000, 30000, 8, false)});
    for (const PictureFile &seed : std::as_const(seeds)) {
        QFile out(folder.filePath(QString::fromLatin1(seed.name)));
        if (!out.open(QIODevice::WriteOnly) || out.write(seed.bytes) != seed.bytes.size()) {
            std::fprintf(stderr, "picture_seeds: cannot write %s\n", qPrintable(out.fileName()));
            return 1;
        }
    }
    return 0;
}
