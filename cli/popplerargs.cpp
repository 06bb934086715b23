#include "cli/popplerargs.h"

#include <climits>
#include <cmath>

namespace {

// Where the digits of text end from at, or at itself when none.
qsizetype pastDigits(const QString &text, qsizetype at)
{
    while (at < text.size() && text.at(at) >= QLatin1Char('0') && text.at(at) <= QLatin1Char('9'))
        ++at;
    return at;
}

qsizetype pastSign(const QString &text, qsizetype at)
{
    return at < text.size() && (text.at(at) == QLatin1Char('-') || text.at(at) == QLatin1Char('+')) ? at + 1 : at;
}

} // namespace

bool popplerValueFits(PopplerArgKind kind, const QString &text)
{
    switch (kind) {
    case PopplerArgKind::Flag:
    case PopplerArgKind::Text:
        return true;
    case PopplerArgKind::Int:
        return pastDigits(text, pastSign(text, 0)) == text.size();
    case PopplerArgKind::Double: {
        qsizetype at = pastSign(text, 0);
        qsizetype digits = pastDigits(text, at) - at;
        at += digits;
        if (at < text.size() && text.at(at) == QLatin1Char('.'))
            ++at;
        const qsizetype fraction = pastDigits(text, at) - at;
        at += fraction;
        digits += fraction;
        if (digits > 0 && at < text.size() && (text.at(at) == QLatin1Char('e') || text.at(at) == QLatin1Char('E'))) {
            at = pastSign(text, at + 1);
            const qsizetype exponent = pastDigits(text, at);
            if (exponent == at)
                return false;
            at = exponent;
        }
        return at == text.size();
    }
    }
    return false;
}

int popplerInt(const QString &text)
{
    const qsizetype start = pastSign(text, 0);
    qint64 value = 0;
    for (qsizetype at = start; at < pastDigits(text, start); ++at)
        value = qMin(value * 10 + (text.at(at).unicode() - '0'), qint64(INT_MAX) + 1);
    value = start > 0 && text.at(0) == QLatin1Char('-') ? -value : value;
    return int(qBound(qint64(INT_MIN), value, qint64(INT_MAX)));
}

double popplerDouble(const QString &text)
{
    // Locale-free, as the tools read it in the C locale; "", "." and "-" are 0.
    bool ok = false;
    const double value = text.toLatin1().toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

QString popplerUsage(const QString &program, const QString &otherArguments, const QList<PopplerOptionLine> &lines)
{
    qsizetype longest = 0;
    for (const PopplerOptionLine &line : lines)
        longest = qMax(longest, qsizetype(qstrlen(line.name)));
    QString text = QStringLiteral("Usage: %1 [options]").arg(program);
    if (!otherArguments.isNull())
        text += QLatin1Char(' ') + otherArguments;
    text += QLatin1Char('\n');
    for (const PopplerOptionLine &line : lines) {
        const char *value = line.kind == PopplerArgKind::Int      ? " <int>"
                            : line.kind == PopplerArgKind::Double ? " <fp>"
                            : line.kind == PopplerArgKind::Text   ? " <string>"
                                                                  : "";
        const int width = int(9 + longest - qstrlen(line.name));
        text += QStringLiteral("  %1%2: %3\n")
                    .arg(QLatin1String(line.name))
                    .arg(QLatin1String(value), -width)
                    .arg(QLatin1String(line.help));
    }
    return text;
}

void applyPopplerResolution(PdftoppmSizing &sizing, double resolution)
{
    if (resolution != 0.0 && (sizing.xResolution == 150.0 || sizing.yResolution == 150.0))
        sizing.xResolution = sizing.yResolution = resolution;
}

bool parseJpegOptions(const QString &text, JpegOptions &options, QString *why)
{
    // "quality=90,progressive=y": an item without "=" is an unknown option,
    // named whole; a comma at the end adds none.
    QStringList items = text.split(QLatin1Char(','));
    if (items.constLast().isEmpty())
        items.removeLast();
    for (const QString &item : std::as_const(items)) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        if (equals < 0) {
            *why = QStringLiteral("Unknown jpeg option \"%1\"").arg(item);
            return false;
        }
        const QString name = item.left(equals);
        const QString value = item.mid(equals + 1);
        if (name == QLatin1String("quality")) {
            if (!popplerValueFits(PopplerArgKind::Int, value)) {
                *why = QStringLiteral("Invalid jpeg quality");
                return false;
            }
            options.quality = popplerInt(value);
            if (options.quality < 0 || options.quality > 100) {
                *why = QStringLiteral("jpeg quality must be between 0 and 100");
                return false;
            }
        } else if (name == QLatin1String("progressive") || name == QLatin1String("optimize")) {
            if (value != QLatin1String("y") && value != QLatin1String("n")) {
                *why = QStringLiteral("jpeg %1 option must be \"y\" or \"n\"").arg(name);
                return false;
            }
            (name == QLatin1String("progressive") ? options.progressive : options.optimize) = value == QLatin1String("y");
        } else {
            *why = QStringLiteral("Unknown jpeg option \"%1\"").arg(name);
            return false;
        }
    }
    return true;
}
