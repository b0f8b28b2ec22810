#include "mainwindowhost.h"

namespace {
MainWindowHost *registered = nullptr;
}

MainWindowHost::~MainWindowHost()
{
    if (registered == this)
        registered = nullptr;
}

MainWindowHost *MainWindowHost::instance()
{
    return registered;
}

QAction *MainWindowHost::actionByName(const QString &name)
{
    return registered ? registered->namedAction(name) : nullptr;
}

void MainWindowHost::registerInstance(MainWindowHost *window)
{
    registered = window;
}
