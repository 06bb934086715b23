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

#include <QByteArray>
#include <QString>

// What a program printed on stderr, without the lines a sanitizer's runtime
// adds on its own ("==123==Unable to get registers from thread 456." when a
// thread is ending as the leak check stops the world). A sanitizer's finding
// still fails the test: it ends the program with another exit status.
QString programErrors(const QByteArray &stderrBytes);

#endif // WARNINGS_H
