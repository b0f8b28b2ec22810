#include "datafolder.h"

#include "applog.h"
#include "enginestart.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>

FolderStart startOnDataFolder(const QString &folder, const std::function<bool(const FolderLock &)> &openAnyway,
                              QString *error)
{
    if (engineStartInFolder(folder, error))
        return FolderStart::Started;
    const FolderLock lock = Database::folderLock(folder);
    if (lock.state != FolderLock::OtherComputer)
        return FolderStart::Failed;
    qCInfo(lcApp).noquote() << "the data folder" << folder << "is locked by a program on" << lock.host
                            << "; asking whether to open it anyway";
    if (!openAnyway(lock))
        return FolderStart::Declined;
    if (!Database::takeOverLock(lock, error))
        return FolderStart::Failed;
    return engineStartInFolder(folder, error) ? FolderStart::Started : FolderStart::Failed;
}

bool askToOpenAnyway(const FolderLock &lock, QWidget *parent)
{
    const auto tr = [](const char *text) { return QApplication::translate("DataFolder", text); };
    QMessageBox box(QMessageBox::Warning, tr("Pellimore"),
                    tr("The data folder is in use by a program on another computer, %1 (%2, process %3), as its "
                       "lock file says:\n%4")
                        .arg(lock.host, lock.program.isEmpty() ? tr("unknown program") : lock.program)
                        .arg(lock.process)
                        .arg(QDir::toNativeSeparators(lock.path)),
                    QMessageBox::NoButton, parent);
    box.setInformativeText(tr("One data folder serves one program at a time. If that program no longer runs there "
                              "(the computer was switched off, or the folder was carried away while it ran), open "
                              "the folder anyway. If it still runs, changes made on either side can be lost."));
    QPushButton *open = box.addButton(tr("Open Anyway"), QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(QMessageBox::Cancel));
    box.exec();
    return box.clickedButton() == open;
}

void tellDataUnusable(const QString &folder, const QString &reason, bool box)
{
    const QString text =
        QApplication::translate("main", "Pellimore cannot open its data in %1:\n%2").arg(folder, reason);
    std::fprintf(stderr, "%s\n", qPrintable(text));
    if (box)
        QMessageBox::critical(nullptr, QApplication::translate("main", "Pellimore"), text);
}
