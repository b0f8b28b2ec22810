#include "editorlog.h"

Q_LOGGING_CATEGORY(lcEditor, "pellimore.editor")
