#ifndef WINDOWLOG_H
#define WINDOWLOG_H

#include <QLoggingCategory>

// The window's diagnostics (its working folder, each output path, the end of
// a run, what is handed to the file manager): off unless asked for, with
// QT_LOGGING_RULES="velloran.window.debug=true". Kept in config/, the one
// folder every part of the window may include, since the settings store's
// own start is among them.
Q_DECLARE_LOGGING_CATEGORY(windowLog)

#endif // WINDOWLOG_H
