#include "tempstore.h"

TempStore::TempStore()
    : dir(QDir::tempPath() + QStringLiteral("/pellimore-test-XXXXXX"))
{
}
