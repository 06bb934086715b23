#ifndef WARNINGS_H
#define WARNINGS_H

// Makes every Qt warning fail the current test, except the ones the platform
// itself prints (listed in warnings.cpp). Call it from init().
void failOnUnexpectedWarnings();

#endif // WARNINGS_H
