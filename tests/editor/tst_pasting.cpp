// Pictures pasted through the file dialog, the clipboard and a drop: each
// decoded at the size it is stored at, whatever its header claims, and each
// refusal told to the user in a message box.

#include "editorscene.h"
#include "pictureformats.h"

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
    void decodesWithinTheBound_data()
    {
        QTest::addColumn<int>("way");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("boundMB"); // beyond the stored picture; 0: refused
        // Small files, each claiming a picture that is huge decoded whole:
        // PNG of every kind is read row by row; the GIF decoder takes the
        // whole screen the header claims, within the bound; the icon hides
        // a PNG of 1 GiB at 32 bits behind a directory of 256 x 256.
        const struct
        {
            const char *name;
            QByteArray bytes;
            QSize size;
            int boundMB;
        } pictures[] = {
            {"1-bit PNG of 16384 x 16384", plainPng(16384, 16384, 1), {16384, 16384}, 48},
            {"grey PNG of 16384 x 16384", plainPng(16384, 16384, 8), {16384, 16384}, 48},
            {"palette PNG of 70 MP", plainPng(10000, 7000, 8, true, true), {10000, 7000}, 48},
            {"palette PNG of 200 MP", plainPng(16000, 12500, 8, true, true), {16000, 12500}, 48},
            {"GIF of 35 bytes, 8000 x 8000",
             QByteArray::fromHex("474946383961401f401f800000000000ffffff2c00000000401f401f0002024401003b"),
             {8000, 8000}, 256 + 48},
            {"icon hiding 16384 x 16383", iconHoldingPng(plainPng(16384, 16383, 1), QSize(256, 256)), {16384, 16383}, 0},
        };
        for (const auto &picture : pictures) {
            for (const auto &[way, name] : {std::pair{File, "paste file"}, {Clipboard, "clipboard"}, {Drop, "drop"}})
                QTest::addRow("%s, %s", picture.name, name) << int(way) << picture.bytes << picture.size << picture.boundMB;
        }
    }
    // Pictures are decoded at the size they are stored at (the screen's) or
    // refused, each way in, and memory stays within the stated bound
    // whatever the file's header claims.
    void decodesWithinTheBound()
    {
        QFETCH(int, way);
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, size);
        QFETCH(int, boundMB);
        EditorScene editor;
        Answers answers;
        restartPeak();
        const qint64 before = residentMB().first;
        const QList<Id> pasted = paste(editor, Way(way), bytes, QStringLiteral("huge.png"), answers);
        const qint64 peak = residentMB().second;
        const QStringList messages = answers.messages();
        if (boundMB == 0) {
            QVERIFY(pasted.isEmpty());
            QCOMPARE(messages.size(), 1);
            QVERIFY2(messages.first().contains(QStringLiteral("is too large (%1 x %2 pixels)").arg(size.width()).arg(size.height())),
                     qPrintable(messages.first()));
        } else {
            QCOMPARE(messages, QStringList());
            QCOMPARE(pasted.size(), 1);
            const QScreen *screen = QGuiApplication::primaryScreen();
            const QSize limit = (QSizeF(screen->geometry().size()) * screen->devicePixelRatio()).toSize();
            QCOMPARE(storedSize(pasted.first()), size.scaled(limit, Qt::KeepAspectRatio));
        }
        if (before < 0 || peak < 0)
            QSKIP("no memory figures on this system");
#ifdef __SANITIZE_ADDRESS__
        QSKIP("the address sanitizer keeps freed memory and adds its own");
#endif
        QVERIFY2(peak - before < std::max(boundMB, 48), qPrintable(QStringLiteral("%1 MB more at the peak").arg(peak - before)));
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
};

QTEST_MAIN(TestPasting)
#include "tst_pasting.moc"
