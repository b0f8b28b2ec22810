// The program: one window over the local store in the data folder.

#include "database.h"
#include "datafolder.h"
#include "decodedpicture.h"
#include "engine.h"
#include "filesizesignal.h"
#include "heapmemory.h"
#include "mainwindow.h"
#include "quitrequests.h"

#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    // First, before anything a signal could cut short: a logout, a shutdown
    // or `kill` ends the program its own way from now until the process
    // ends, and a write past a file-size limit fails as on a full disk
    // instead of ending it.
    QuitRequests::holdForProcess();
    failWritesPastFileSizeLimit();
    // Before any thread: the pool's threads share one heap, so that what one
    // frees serves the next instead of staying with the process.
    limitHeapArenas(programHeapArenas);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellimore"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/rc/icon.png")));
    // The window's close ends the program itself, once the store is written.
    QApplication::setQuitOnLastWindowClosed(false);
    // Large screens make large captures; Qt's default limit refuses them.
    raiseImageAllocationLimit();

    // Until the window takes them, a request ends the start as Cancel does:
    // a box that asks or tells is closed, and the program ends once the
    // store's open has returned.
    QuitRequests quitRequests;
    bool quitRequested = false;
    const QMetaObject::Connection beforeWindow
        = QObject::connect(&quitRequests, &QuitRequests::requested, &application, [&quitRequested] {
              quitRequested = true;
              if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                  dialog->reject();
          });

    // The files no row names are swept once the window is shown: the sweep's
    // first flush would have the file columns' indexes built under the table
    // lock that the window reads its items through.
    Database::setOrphanSweepAtOpen(false);
    // The check of the store's file reads it whole: it runs once the window
    // is shown, before the first write.
    Database::setCheckAfterOpen(true);
    const bool portable = QApplication::arguments().contains(QStringLiteral("--portable"));
    const QString folder = dataDirectory(portable);
    QString error;
    const auto openAnyway = [&](const FolderLock &lock) {
        quitRequests.deliverPending();
        return !quitRequested && askToOpenAnyway(lock);
    };
    const FolderStart started = startOnDataFolder(folder, openAnyway, &error);
    quitRequests.deliverPending();
    if (started == FolderStart::Failed) {
        // A quit asked for meanwhile is not held up by the box.
        tellDataUnusable(folder, error, !quitRequested);
        return 1;
    }
    if (quitRequested || started == FolderStart::Declined) {
        // The folder is given back at once.
        if (started == FolderStart::Started)
            shutdownBackground();
        return quitRequested ? 0 : 1;
    }

    // From here a request ends the program as its Quit does.
    MainWindow window;
    QObject::disconnect(beforeWindow);
    QObject::connect(&quitRequests, &QuitRequests::requested, &window, &MainWindow::quitOnRequest);
    QObject::connect(&window, &MainWindow::firstPainted, &window, [] { Database::startOrphanSweep(); });
    // For start-up measurements: the moment of the first paint on stdout, and
    // the window closed the given milliseconds after it.
    bool closeAfterOk = false;
    const int closeAfterMs = qEnvironmentVariableIntValue("PELLIMORE_FIRST_PAINT_CLOSE_MS", &closeAfterOk);
    if (closeAfterOk && closeAfterMs >= 0) {
        QObject::connect(&window, &MainWindow::firstPainted, &window, [&window, closeAfterMs] {
            std::printf("first paint\n");
            std::fflush(stdout);
            QTimer::singleShot(closeAfterMs, &window, &QWidget::close);
        });
    }
    window.show();
    return QApplication::exec();
}
