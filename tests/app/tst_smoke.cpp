// The real program under a virtual X server: start it in an empty folder,
// capture a region with the mouse, use the Edit menu, quit, and read what it
// stored; and start it where its store cannot open.

#include "dirtyskrins.h"
#include "openstore.h"
#include "pictureformats.h"
#include "pictures.h"
#include "rawdb.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

class TestSmoke : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty())
            QSKIP("xvfb-run is not installed");
    }

    void captureAndQuit()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QSize dragged(300, 200);
        const int status = runSession(folder.path(), {QStringLiteral("capture"), QString::number(dragged.width()),
                                                      QString::number(dragged.height())});
        QVERIFY2(status == 0, qPrintable(output));

        RawDb db(QDir(folder.path()).filePath(QStringLiteral("database.db")));
        QCOMPARE(db.text(QStringLiteral("SELECT COUNT(*) FROM skrin")), QStringLiteral("1"));
        // One picture, the screenshot's.
        const QString file = db.text(QStringLiteral("SELECT skrin_image.file FROM skrin_image "
                                                    "JOIN skrin ON skrin.id = skrin_image.parent"));
        QVERIFY(!file.isEmpty() && !file.contains(QLatin1Char(';')));

        const QString path = QDir(folder.path()).filePath(QStringLiteral("files/") + file);
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        const QImage picture(path);
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.size(), dragged);
    }

    // Every Edit action in the real program (and under the sanitizers when
    // the build has them): after a capture of the whole screen, a picture is
    // pasted from the clipboard, duplicated, ordered, cropped, resized and
    // reset, the copy removed, a file pasted, and a new capture pasted from
    // where the Edit menu was, which must not be in it.
    void everyEditAction()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            QSKIP("xclip is not installed");
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QDir dir(folder.path());
        QVERIFY(filledImage(QSize(64, 48), Qt::red).save(dir.filePath(QStringLiteral("paste.png"))));
        const int status = runSession(folder.path(), {"edit", "1024", "768", "0", "0"});
        QVERIFY2(status == 0, qPrintable(output));

        RawDb db(dir.filePath(QStringLiteral("database.db")));
        QCOMPARE(db.text(QStringLiteral("SELECT CAST(w AS INT), CAST(h AS INT) FROM skrin_image ORDER BY z")),
                 QStringLiteral("1024|768;64|48;64|48;50|40"));
        const QImage shot(dir.filePath(QStringLiteral("files/")
                                       + db.text(QStringLiteral("SELECT file FROM skrin_image ORDER BY z DESC LIMIT 1"))));
        QCOMPARE(shot.size(), QSize(50, 40));
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x)
                QVERIFY2(qGray(shot.pixel(x, y)) < 64, "the closed menu is in the new capture");
        }
    }

    // A logout or `kill` right after the user named a capture: the program
    // quits as with Ctrl+Q, so the title is in the file and the folder is
    // free for the next start.
    void signalQuitsNormally()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QDir dir(folder.path());
        const QString title = QStringLiteral("Quarterly figures");
        const int status = runSession(folder.path(), {QStringLiteral("signal"), QStringLiteral("TERM"), title});
        QVERIFY2(status == 0, qPrintable(output));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("database.db.lock"))));
        RawDb db(dir.filePath(QStringLiteral("database.db")));
        QCOMPARE(db.text(QStringLiteral("SELECT title FROM skrin")), title);
    }

    // Screenshots as other clients send them, their picture a palette PNG,
    // a grey JPEG or a 1-bit PNG, each with a red rectangle drawn over it
    // and the mark of that edit: the program starts, renders them and quits
    // as usual, and each stored picture holds the rectangle in red.
    void editedPicturesOfAnyFormatRender()
    {
        OpenStore store;
        QVERIFY(store.opened);
        const QSize size(320, 240);
        const QRect red(100, 80, 120, 80);
        QList<Id> skrins;
        for (const PictureFile &file : everyFormat(structuredPicture(size))) {
            if (file.name != "png-palette.png" && file.name != "jpeg-grey.jpg" && file.name != "png-1bit.png")
                continue;
            const Id skrin = OpenStore::newSkrin(QRectF(QPointF(0, 0), size));
            const QString name = Database::storeNewFile(file.bytes, QString::fromLatin1(file.name.mid(file.name.lastIndexOf('.'))));
            setMember(skrin, QStringLiteral("file"), name);
            addRow(QStringLiteral("skrin_image"), skrin,
                   {{"x", 0}, {"y", 0}, {"z", 0}, {"file", name}, {"w", size.width()}, {"h", size.height()},
                    {"src_x", 0}, {"src_y", 0}, {"src_w", size.width()}, {"src_h", size.height()}});
            addRow(QStringLiteral("skrin_rectangle"), skrin,
                   {{"x", red.x()}, {"y", red.y()}, {"z", 1}, {"w", red.width()}, {"h", red.height()}, {"color", "#ff0000"}});
            markSkrinDirty(skrin);
            skrins.append(skrin);
        }
        QCOMPARE(skrins.size(), 3);
        Database::close();

        const int status = runSession(store.dir.path(), {QStringLiteral("render")});
        QVERIFY2(status == 0, qPrintable(output));
        QVERIFY(store.restart());
        for (const Id skrin : std::as_const(skrins)) {
            QVERIFY(!isSkrinDirty(skrin));
            const QImage picture = QImage::fromData(Database::fileData(getMember(skrin, QStringLiteral("file")).toString()));
            QCOMPARE(picture.size(), size);
            const QRgb inside = picture.pixel(red.center());
            QVERIFY2(qRed(inside) > 230 && qGreen(inside) < 25 && qBlue(inside) < 25, qPrintable(QColor(inside).name()));
        }
    }

    void unopenableStoreIsReported()
    {
        // A folder where the database file should be: the user is told why, the
        // program ends with an error, and nothing is touched.
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QDir dir(folder.path());
        QVERIFY(dir.mkpath(QStringLiteral("database.db")));
        const int status = runSession(folder.path(), {QStringLiteral("dismiss")});
        QVERIFY2(status == 1, qPrintable(output));
        QVERIFY2(output.contains(QLatin1String("is not a file")), qPrintable(output));
        QCOMPARE(dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QStringLiteral("database.db")});
        QVERIFY(QDir(dir.filePath(QStringLiteral("database.db"))).isEmpty());
    }

private:
    // Runs the session script under a virtual X server; its exit code.
    int runSession(const QString &folder, const QStringList &arguments);
    QString output;
};

int TestSmoke::runSession(const QString &folder, const QStringList &arguments)
{
    QProcess session;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The program talks to the virtual X server, not to Qt's offscreen platform.
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    session.setProcessEnvironment(environment);
    session.setProcessChannelMode(QProcess::MergedChannels);
    // A session of its own, so that one that hangs is ended whole, X server
    // included; and none of this process's files (a landing's lock, the test
    // log) passed on to an X server that might outlive it.
    session.setChildProcessModifier([] {
        ::setsid();
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    });
    // The X authority file in a folder of the test's own: xvfb-run then has
    // no folder of its own to remove at the end, whose removal could fail
    // beside other sessions and replace the program's exit status.
    const QTemporaryDir authority;
    // xvfb-run -a takes the first display number without a lock file, which
    // two test runs starting at once (other checkouts, CI) can both take: each
    // run starts its search at a number of its own.
    const QString firstDisplay = QString::number(100 + QCoreApplication::applicationPid() % 800);
    session.start(QStringLiteral("xvfb-run"), QStringList{QStringLiteral("-n"), firstDisplay, QStringLiteral("-a"),
                                                          QStringLiteral("-f"),
                                                          authority.filePath(QStringLiteral("Xauthority")),
                                                          QStringLiteral("-s"),
                                                          QStringLiteral("-screen 0 1024x768x24"),
                                                          QStringLiteral(PELLIMORE_SMOKE_SESSION),
                                                          QStringLiteral(PELLIMORE_PROGRAM), folder}
                                                  + arguments);
    if (!session.waitForStarted())
        return -1;
    if (!session.waitForFinished(60000)) {
        ::kill(-pid_t(session.processId()), SIGKILL);
        session.waitForFinished();
    }
    output = QString::fromLocal8Bit(session.readAll());
    return session.exitStatus() == QProcess::NormalExit ? session.exitCode() : -1;
}

QTEST_GUILESS_MAIN(TestSmoke)
#include "tst_smoke.moc"
