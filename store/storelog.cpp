#include "storelog.h"

Q_LOGGING_CATEGORY(lcStore, "pellimore.store")
