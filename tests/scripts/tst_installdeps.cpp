// The set-up script: quiet when every package is there, and a user who cannot
// install is told the command instead of being sent to apt or sudo.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#ifndef PELLIMORE_SOURCE_DIR
#error "PELLIMORE_SOURCE_DIR must name the source tree"
#endif

class InstallDepsTest : public QObject
{
    Q_OBJECT

private:
    struct Run
    {
        int exitCode = -1;
        QByteArray errors;
        QByteArray aptCalls;
    };

    QTemporaryDir m_dir;

    void writeStub(const QString &name, const QByteArray &body)
    {
        QFile file(m_dir.filePath(QStringLiteral("bin/") + name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + body);
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
    }

    void linkTool(const QString &name)
    {
        const QString path = QStandardPaths::findExecutable(name);
        QVERIFY2(!path.isEmpty(), qPrintable(name));
        QVERIFY(QFile::link(path, m_dir.filePath(QStringLiteral("bin/") + name)));
    }

    // A machine whose only commands are the stubs: apt-get and sudo record
    // that they ran; dpkg-query reports the packages in STUB_MISSING as absent
    // (or defers to the real one when realDpkg is set); id reports the user.
    void makeMachine(bool realDpkg, bool root, bool withSudo)
    {
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("bin")));
        const QByteArray log = m_dir.filePath(QStringLiteral("apt.log")).toUtf8();
        writeStub(QStringLiteral("apt-get"), "echo \"apt-get $*\" >> '" + log + "'\n");
        if (withSudo)
            writeStub(QStringLiteral("sudo"), "echo \"sudo $*\" >> '" + log + "'\nexit 1\n");
        writeStub(QStringLiteral("id"), root ? "echo 0\n" : "echo 1000\n");
        if (realDpkg) {
            linkTool(QStringLiteral("dpkg-query"));
        } else {
            writeStub(QStringLiteral("dpkg-query"),
                      "for p; do pkg=$p; done\n"
                      "case \" $STUB_MISSING \" in *\" $pkg \"*) echo 'unknown ok not-installed';;\n"
                      "*) echo 'install ok installed';; esac\n");
        }
        for (const char *tool : {"bash", "env", "grep", "cat"})
            linkTool(QString::fromLatin1(tool));
    }

    Run run(const QString &missing = QString())
    {
        QProcess process;
        QProcessEnvironment env;
        env.insert(QStringLiteral("PATH"), m_dir.filePath(QStringLiteral("bin")));
        env.insert(QStringLiteral("STUB_MISSING"), missing);
        process.setProcessEnvironment(env);
        process.start(m_dir.filePath(QStringLiteral("bin/bash")),
                      {QStringLiteral(PELLIMORE_SOURCE_DIR "/scripts/install-deps.sh")});
        Run result;
        if (!process.waitForFinished(60000))
            return result;
        result.exitCode = process.exitCode();
        result.errors = process.readAllStandardError();
        QFile log(m_dir.filePath(QStringLiteral("apt.log")));
        if (log.open(QIODevice::ReadOnly))
            result.aptCalls = log.readAll();
        return result;
    }

private slots:
    void init() { QVERIFY(m_dir.isValid()); QDir(m_dir.path()).removeRecursively(); QVERIFY(QDir().mkpath(m_dir.path())); }

    // This machine built the tests, so every package the script names is
    // installed under that very name: nothing may go to apt.
    void everyPackageHereRunsNoApt()
    {
        makeMachine(true, false, false);
        const Run result = run();
        QVERIFY2(result.exitCode == 0, result.errors.constData());
        QCOMPARE(result.aptCalls, QByteArray());
    }

    void missingWithoutSudoTellsTheCommand()
    {
        makeMachine(false, false, false);
        const Run result = run(QStringLiteral("xdotool"));
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.aptCalls, QByteArray());
        QVERIFY(result.errors.contains("apt-get install -y --no-install-recommends xdotool"));
        // Where there is no sudo, the command is to be run as root through su.
        QVERIFY2(result.errors.contains("su -c 'apt-get update && apt-get install"), result.errors.constData());
        QVERIFY2(!result.errors.contains("sudo"), result.errors.constData());
    }

    void missingWithSudoThatAsksForAPasswordTellsTheCommand()
    {
        makeMachine(false, false, true);
        const Run result = run(QStringLiteral("xdotool"));
        QCOMPARE(result.exitCode, 1);
        QVERIFY(!result.aptCalls.contains("apt-get"));
        QVERIFY(result.errors.contains("xdotool"));
        QVERIFY2(result.errors.contains("sudo sh -c 'apt-get update && apt-get install"), result.errors.constData());
    }

    void missingAsRootInstallsOnlyWhatIsMissing()
    {
        makeMachine(false, true, false);
        const Run result = run(QStringLiteral("xdotool xclip"));
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.aptCalls.contains("update"));
        const QList<QByteArray> lines = result.aptCalls.split('\n');
        const auto install = std::find_if(lines.cbegin(), lines.cend(),
                                          [](const QByteArray &line) { return line.contains(" install "); });
        QVERIFY(install != lines.cend());
        QVERIFY(install->endsWith("xdotool xclip"));
    }
};

QTEST_GUILESS_MAIN(InstallDepsTest)
#include "tst_installdeps.moc"
