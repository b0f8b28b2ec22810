#include "capturelog.h"

Q_LOGGING_CATEGORY(lcCapture, "pellimore.capture")
