#include "renderlog.h"

Q_LOGGING_CATEGORY(lcRender, "pellimore.render")
