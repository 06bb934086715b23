#include "support/warnings.h"

#include <QRegularExpression>
#include <QTest>

void failOnUnexpectedWarnings()
{
    // Without a real system tray (offscreen, bare X server) Qt's tray icon
    // falls back to a connection that the platform does not offer; the
    // offscreen platform also says it ignores size hints of shown windows.
    static const QRegularExpression unexpected(QStringLiteral(
        "^(?!QObject::connect: No such signal QPlatformNativeInterface::systemTrayWindowChanged\\(QScreen\\*\\)"
        "|This plugin does not support propagateSizeHints\\(\\))"));
    QTest::failOnWarning(unexpected);
}
