#include "tempstore.h"

#include "database.h"

TempStore::TempStore()
    : dir(QDir::tempPath() + QStringLiteral("/pellimore-test-XXXXXX"))
{
}

TempStore::~TempStore()
{
    // A store still open in the folder is closed before the folder goes.
    const QString open = Database::dataFolder();
    if (open == dir.path() || open.startsWith(dir.path() + QLatin1Char('/')))
        Database::close();
}
