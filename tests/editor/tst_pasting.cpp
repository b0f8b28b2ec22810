// Pictures pasted through the file dialog, the clipboard and a drop: each
// decoded at the size it is stored at, whatever its header claims, and each
// refusal told to the user in a message box.

#include "editorscene.h"

#include <QClipboard>
#include <QDataStream>
#include <QDropEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

namespace {

QByteArray damagedJpeg()
{
    QByteArray bytes = encoded(filledImage(QSize(300, 200), Qt::darkBlue), "JPEG");
    const qsizetype table = bytes.indexOf("\xff\xc4");
    for (qsizetype i = table + 4; i < table + 40; ++i)
        bytes[i] = char(0xff);
    return bytes;
}

// Resident memory in MB: now, and at its peak since the last reset.
std::pair<qint64, qint64> residentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    qint64 now = -1, peak = -1;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            const qint64 kB = line.simplified().split(' ').value(1).toLongLong();
            if (line.startsWith("VmRSS:"))
                now = kB / 1024;
            else if (line.startsWith("VmHWM:"))
                peak = kB / 1024;
        }
    }
    return {now, peak};
}

// Restarts the peak of resident memory, where the system allows it.
void restartPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// Answers file dialogs with `file`, and records and closes every message box
// shown meanwhile, waited for or not.
class Answers : public QObject
{
public:
    Answers()
    {
        connect(&poll, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (!widget->isVisible())
                    continue;
                if (auto *dialog = qobject_cast<QFileDialog *>(widget)) {
                    dialog->selectFile(file);
                    static_cast<QDialog *>(dialog)->accept(); // public there
                } else if (auto *box = qobject_cast<QMessageBox *>(widget)) {
                    told << box->windowTitle() + QLatin1String(": ") + box->text();
                    box->done(QMessageBox::Ok);
                }
            }
        });
        poll.start(5);
    }
    // Lets a box that is not waited for show, then takes it.
    QStringList messages()
    {
        QTest::qWait(50);
        return told;
    }

    QString file;

private:
    QTimer poll;
    QStringList told;
};

} // namespace

class TestPasting : public QObject
{
    Q_OBJECT

private:
    enum Way { File, Clipboard, Drop };

    // Pastes `bytes`, a file of that name, the given way; the rows of
    // pictures made.
    static QList<Id> paste(EditorScene &editor, Way way, const QByteArray &bytes, const QString &name, Answers &answers)
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(name);
        answers.file = path;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        file.close();
        editor.scene->setTool(Skrin::ToolSelect);
        if (way == File) {
            editor.scene->setTool(Skrin::ToolPasteFile);
        } else if (way == Clipboard) {
            auto *mime = new QMimeData;
            mime->setData(QStringLiteral("image/png"), bytes);
            QGuiApplication::clipboard()->setMimeData(mime);
            editor.scene->setTool(Skrin::ToolPasteClipboard);
        } else {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(path)});
            const QPoint at(100, 100);
            QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
            QApplication::sendEvent(editor.view->viewport(), &enter);
            QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
            QApplication::sendEvent(editor.view->viewport(), &drop);
        }
        return editor.rows(QStringLiteral("skrin_image"));
    }

    static QSize storedSize(Id id) { return {getMember(id, "w").toInt(), getMember(id, "h").toInt()}; }

private slots:
    void initTestCase()
    {
        hugeSparse = plainPng(16384, 16384, 1);
        QVERIFY(hugeSparse.size() < 64 * 1024);
    }

    void decodesAtTheStoredSize_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("paste file") << int(File);
        QTest::newRow("clipboard") << int(Clipboard);
        QTest::newRow("drop") << int(Drop);
    }
    // A 33 kB PNG of 16384 x 16384 pixels in black and white: decoded at the
    // screen's size, never widened whole to 1 GiB of colour.
    void decodesAtTheStoredSize()
    {
        QFETCH(int, way);
        EditorScene editor;
        Answers answers;
        restartPeak();
        const qint64 before = residentMB().first;
        const QList<Id> pasted = paste(editor, Way(way), hugeSparse, QStringLiteral("sparse.png"), answers);
        const qint64 peak = residentMB().second;
        QCOMPARE(answers.messages(), QStringList());
        QCOMPARE(pasted.size(), 1);
        const QScreen *screen = QGuiApplication::primaryScreen();
        const QSize limit = (QSizeF(screen->geometry().size()) * screen->devicePixelRatio()).toSize();
        const int side = std::min(limit.width(), limit.height());
        QCOMPARE(storedSize(pasted.first()), QSize(side, side));
        if (before < 0 || peak < 0)
            QSKIP("no memory figures on this system");
        QVERIFY2(peak - before < 512, qPrintable(QStringLiteral("%1 MB more at the peak").arg(peak - before)));
    }

    void refusalsAreTold_data()
    {
        QTest::addColumn<int>("way");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("told"); // "" when pasted
        const QByteArray png = encoded(filledImage(QSize(300, 200), Qt::darkCyan));
        const struct
        {
            const char *name;
            QByteArray bytes;
            const char *told;
        } pictures[] = {{"one pixel", encoded(filledImage(QSize(1, 1), Qt::red)), ""},
                        {"30000 x 30000", plainPng(30000, 30000, 8, false), "is too large (30000 x 30000 pixels)"},
                        {"truncated PNG", png.left(png.size() / 2), "could not be read"},
                        {"damaged JPEG", damagedJpeg(), "could not be read"}};
        for (const auto &picture : pictures) {
            for (const auto &[way, name] : {std::pair{File, "paste file"}, {Clipboard, "clipboard"}, {Drop, "drop"}})
                QTest::addRow("%s, %s", picture.name, name) << int(way) << picture.bytes << QString::fromLatin1(picture.told);
        }
    }
    // Every way in tells why a picture was refused, in the same message box.
    void refusalsAreTold()
    {
        QFETCH(int, way);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, told);
        EditorScene editor;
        Answers answers;
        const QList<Id> pasted = paste(editor, Way(way), bytes, QStringLiteral("picture.png"), answers);
        const QStringList messages = answers.messages();
        if (told.isEmpty()) {
            QCOMPARE(messages, QStringList());
            QCOMPARE(pasted.size(), 1);
            QCOMPARE(storedSize(pasted.first()), QSize(1, 1));
            return;
        }
        QVERIFY(pasted.isEmpty());
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().contains(told), qPrintable(messages.first()));
        QVERIFY(messages.first().startsWith(way == Clipboard ? QLatin1String("Paste: ") : QLatin1String("Paste file: ")));
    }

private:
    QByteArray hugeSparse;
};

QTEST_MAIN(TestPasting)
#include "tst_pasting.moc"
