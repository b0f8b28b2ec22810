#pragma once

// The store a benchmark works on: a temporary data folder with the engine
// bound to it and the sync connector in place but never synchronising, so
// nothing leaves the machine.

#include "database.h"
#include "engine.h"
#include "tavrinconnector.h"

#include <QTemporaryDir>

#include <cstdio>

// False (with a message) when the store could not be opened.
inline bool openBenchStore(const QTemporaryDir &dir)
{
    registerEngineTypes();
    TavrinConnector::create();
    TavrinConnector::stopSync();
    QString error;
    if (!dir.isValid() || !Database::open(dir.path(), &error)) {
        std::fprintf(stderr, "cannot open the store: %s\n", qPrintable(error));
        return false;
    }
    bindTables();
    return true;
}
