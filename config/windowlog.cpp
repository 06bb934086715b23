#include "config/windowlog.h"

Q_LOGGING_CATEGORY(windowLog, "velloran.window", QtInfoMsg)
