#include "enginelog.h"

Q_LOGGING_CATEGORY(lcEngine, "pellimore.engine")
