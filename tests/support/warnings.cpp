#include "support/warnings.h"

#include <QStringList>

#include <QGuiApplication>
#include <QRegularExpression>
#include <QTest>

namespace {

const char noTrayWarning[] = "QObject::connect: No such signal QPlatformNativeInterface::systemTrayWindowChanged(QScreen*)";
const char noSizeHintsWarning[] = "This plugin does not support propagateSizeHints()";

bool offscreen()
{
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

} // namespace

void failOnUnexpectedWarnings()
{
    // Without a real system tray (offscreen, bare X server) Qt's tray icon
    // falls back to a connection that the platform does not offer; the
    // offscreen platform also says it ignores size hints of shown windows.
    static const QRegularExpression unexpected(
        QStringLiteral("^(?!%1|%2)")
            .arg(QRegularExpression::escape(QLatin1String(noTrayWarning)),
                 QRegularExpression::escape(QLatin1String(noSizeHintsWarning))));
    QTest::failOnWarning(unexpected);
}

void expectNoTray()
{
    if (offscreen())
        QTest::ignoreMessage(QtWarningMsg, noTrayWarning);
}

void expectNoSizeHints(int windows)
{
    for (int i = 0; offscreen() && i < windows; ++i)
        QTest::ignoreMessage(QtWarningMsg, noSizeHintsWarning);
}

QString programErrors(const QByteArray &stderrBytes)
{
    QStringList kept;
    const QStringList lines = QString::fromLocal8Bit(stderrBytes).split(QLatin1Char('\n'));
    for (const QString &line : lines)
        if (!(line.startsWith(QLatin1String("==")) && line.indexOf(QLatin1String("=="), 2) > 2))
            kept << line;
    return kept.join(QLatin1Char('\n'));
}
