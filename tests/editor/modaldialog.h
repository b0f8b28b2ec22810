#pragma once

// Closes the modal dialog that the next call opens (a file dialog of a paste
// tool), as a user pressing Cancel would.

#include <QApplication>
#include <QDialog>
#include <QTimer>

inline void cancelNextDialog(int tries = 200)
{
    QTimer::singleShot(10, qApp, [tries] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->reject();
        else if (tries > 0)
            cancelNextDialog(tries - 1); // not shown yet
    });
}
