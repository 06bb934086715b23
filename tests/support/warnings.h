#ifndef WARNINGS_H
#define WARNINGS_H

// Makes every Qt warning fail the current test, except the ones the platform
// itself prints (listed in warnings.cpp). Call it from init().
void failOnUnexpectedWarnings();

// For tests that expect each platform warning exactly: on the offscreen
// platform, one for a window's tray icon made visible, and one for each
// window of fixed size shown. Elsewhere they expect nothing.
void expectNoTray();
void expectNoSizeHints(int windows = 1);

#endif // WARNINGS_H
