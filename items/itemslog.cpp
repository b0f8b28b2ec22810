#include "itemslog.h"

Q_LOGGING_CATEGORY(lcItems, "pellimore.items")
