#include "widgetslog.h"

Q_LOGGING_CATEGORY(lcWidgets, "pellimore.widgets")
