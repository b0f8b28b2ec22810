// The real program, on the offscreen platform, asked to end at chosen
// moments of its start, and writing past a file-size limit: it ends its own
// way with its status, gives its folder back, and leaves no row naming a
// picture that is not there.

#include "capturestore.h"
#include "database.h"
#include "dirtyskrins.h"
#include "engine.h"
#include "enginestart.h"
#include "openstore.h"
#include "pictures.h"
#include "rawdb.h"
#include "tavrinconnector.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/resource.h>

namespace {

// The program started with "--portable" in a folder, as a shell would start
// it (every signal handled as by default), its output gathered.
class Program
{
public:
    explicit Program(const QString &folder, rlim_t fileSizeLimit = RLIM_INFINITY)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(folder);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setChildProcessModifier([fileSizeLimit] {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit limit{};
            if (fileSizeLimit != RLIM_INFINITY && getrlimit(RLIMIT_FSIZE, &limit) == 0) {
                limit.rlim_cur = fileSizeLimit;
                setrlimit(RLIMIT_FSIZE, &limit);
            }
        });
        process.start(QStringLiteral(PELLIMORE_PROGRAM), {QStringLiteral("--portable")});
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    Q_DISABLE_COPY(Program)

    // Whether the program said `text` (before it ended).
    bool said(const QByteArray &text)
    {
        while (!output.contains(text)) {
            if (!process.waitForReadyRead(60000))
                return false;
            output += process.readAll();
        }
        return true;
    }
    void send(int signal) { ::kill(pid_t(process.processId()), signal); }
    // Its exit status; -1 when a signal ended it.
    int status()
    {
        process.waitForFinished(60000);
        output += process.readAll();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QByteArray output;

private:
    QProcess process;
};

// Every cell of a file column ("file", "..._file") of the file that names a
// picture missing or empty in "files".
QStringList namedButMissing(const QString &folder)
{
    QStringList missing;
    RawDb db(folder + QStringLiteral("/database.db"));
    const QString columns = db.text(QStringLiteral(
        "SELECT m.name, p.name FROM sqlite_master AS m, pragma_table_info(m.name) AS p WHERE m.type = 'table' "
        "AND (p.name = 'file' OR p.name LIKE '%\\_file' ESCAPE '\\')"));
    for (const QString &column : columns.split(u';', Qt::SkipEmptyParts)) {
        const QString table = column.section(u'|', 0, 0), name = column.section(u'|', 1);
        const QString files = db.text(QStringLiteral("SELECT `%1` FROM `%2` WHERE `%1` <> ''").arg(name, table));
        for (const QString &file : files.split(u';', Qt::SkipEmptyParts)) {
            if (QFileInfo(folder + QStringLiteral("/files/") + file).size() <= 0)
                missing.append(table + u'.' + name + u' ' + file);
        }
    }
    return missing;
}

} // namespace

class TestProgramEnds : public QObject
{
    Q_OBJECT

private slots:
    // Asked to end while its store opens (held up here by another
    // connection's write lock), the program ends as a Cancel would: at
    // once, with status 0, its lock gone.
    void requestWhileTheStoreOpens()
    {
        QTemporaryDir folder;
        QVERIFY(Database::open(folder.path()) && Database::close());
        const QString lock = folder.filePath(QStringLiteral("database.db.lock"));
        RawDb holder(folder.filePath(QStringLiteral("database.db")));
        QVERIFY(holder.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        Program program(folder.path());
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo::exists(lock); }, 30000));
        program.send(SIGTERM);
        QVERIFY(holder.exec(QStringLiteral("ROLLBACK")));
        QVERIFY2(program.status() == 0, program.output.constData());
        QVERIFY(!QFileInfo::exists(lock));
    }

    // Asked to end while it asks whether to open a folder that a program on
    // another computer holds, it answers as Cancel: the folder stays as it
    // was, that lock included, and the status is 0.
    void requestWhileAskedToOpenAnyway()
    {
        QTemporaryDir folder;
        const QString lock = folder.filePath(QStringLiteral("database.db.lock"));
        const QByteArray elsewhere("4242\npellimore\nelsewhere\nanother-machine\n");
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(elsewhere) == elsewhere.size());
        file.close();
        Program program(folder.path());
        QVERIFY2(program.said("asking whether to open it anyway"), program.output.constData());
        program.send(SIGTERM);
        QVERIFY2(program.status() == 0, program.output.constData());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), elsewhere);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("database.db.lock")});
    }

    void fileSizeLimitFailsWrites_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("then quit") << false;
        QTest::newRow("then killed") << true;
    }

    // A screenshot's new picture is larger than the process may write: the
    // write fails as on a full disk, the program runs on and says so, and
    // no row in the file names a picture that is missing or empty, whether
    // the program then quits (telling that its changes are lost) or is
    // killed.
    void fileSizeLimitFailsWrites()
    {
        QFETCH(bool, killed);
        QTemporaryDir folder;
        QString error;
        QVERIFY2(engineStartInFolder(folder.path(), &error), qPrintable(error));
        TavrinConnector::stopSync();
        // Marked changed, the screenshot is rendered anew at the start.
        const Id skrin = storeCapture(noisyImage(QSize(1600, 1200)), QStringLiteral(".png"), 90);
        addRow(QStringLiteral("skrin_rectangle"), skrin,
               {{"x", 10}, {"y", 10}, {"w", 300}, {"h", 200}, {"color", "#ff0000"}});
        markSkrinDirty(skrin);
        QVERIFY(shutdownBackground());
        const qint64 database = QFileInfo(folder.filePath(QStringLiteral("database.db"))).size();

        Program program(folder.path(), rlim_t(database + 512 * 1024));
        QVERIFY2(program.said("could not write"), program.output.constData());
        if (killed) {
            program.send(SIGKILL);
            QCOMPARE(program.status(), -1);
        } else {
            program.send(SIGTERM);
            QVERIFY2(program.said("could not be written at exit"), program.output.constData());
            program.send(SIGTERM); // closes the message that tells so
            QVERIFY2(program.status() == 1, program.output.constData());
            QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("database.db.lock"))));
        }
        QCOMPARE(namedButMissing(folder.path()), QStringList());
    }
};

QTEST_MAIN(TestProgramEnds)
#include "tst_programends.moc"
