#include "engine/pagelist.h"

#include <QRegularExpression>
#include <QStringList>

#include <limits>

namespace {

// Checks one number against the page count; the zero test comes first.
PageListResult::Error checkPageNumber(int n, quint32 totalPage)
{
    if (n < 1)
        return PageListResult::BelowOne;
    if (quint32(n) > totalPage)
        return PageListResult::AboveTotal;
    return PageListResult::None;
}

void appendOnce(QList<int> &pages, int index)
{
    if (!pages.contains(index))
        pages.append(index);
}

} // namespace

PageListResult parsePageList(const QString &text, quint32 totalPage)
{
    PageListResult result;
    const QString simplified = text.simplified();
    if (simplified.isEmpty()) {
        result.error = PageListResult::Empty;
        return result;
    }

    const QStringList parts = simplified.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &part : parts) {
        if (part.contains(QLatin1Char('-'))) {
            const QStringList ends = part.split(QLatin1Char('-'), Qt::KeepEmptyParts, Qt::CaseSensitive);
            if (ends.size() != 2)
                continue;
            bool okA = false;
            bool okB = false;
            int a = ends.at(0).toInt(&okA, 10);
            int b = ends.at(1).toInt(&okB, 10);
            if (!okA || !okB)
                continue;
            if (a < 1 || b < 1)
                result.error = PageListResult::BelowOne;
            else if (quint32(a) > totalPage || quint32(b) > totalPage)
                result.error = PageListResult::AboveTotal;
            if (result.error != PageListResult::None)
                return result;
            if (a > b)
                std::swap(a, b);
            for (int p = a; p <= b; ++p)
                appendOnce(result.pages, p - 1);
        } else {
            bool ok = false;
            const int n = part.toInt(&ok, 10);
            if (!ok)
                continue;
            result.error = checkPageNumber(n, totalPage);
            if (result.error != PageListResult::None)
                return result;
            appendOnce(result.pages, n - 1);
        }
    }
    return result;
}

PageListResult parsePageListStrictly(const QString &text, quint32 totalPage)
{
    PageListResult result;
    if (text.trimmed().isEmpty()) {
        result.error = PageListResult::Empty;
        return result;
    }
    static const QRegularExpression partPattern(QStringLiteral("^\\s*(\\d+)\\s*(?:(-)\\s*(\\d*)\\s*)?$"));
    static const QRegularExpression parityPattern(QStringLiteral("^\\s*(odd|even)\\s*$"),
                                                  QRegularExpression::CaseInsensitiveOption);
    const auto number = [](const QString &digits) {
        bool ok = false;
        const qulonglong n = digits.toULongLong(&ok, 10);
        return ok ? n : std::numeric_limits<qulonglong>::max();
    };
    for (const QString &part : text.split(QLatin1Char(','), Qt::KeepEmptyParts)) {
        const QRegularExpressionMatch parity = parityPattern.match(part);
        if (parity.hasMatch()) {
            const quint32 first = parity.captured(1).compare(QLatin1String("odd"), Qt::CaseInsensitive) == 0 ? 1 : 2;
            for (quint32 p = first; p <= totalPage; p += 2)
                appendOnce(result.pages, int(p - 1));
            continue;
        }
        const QRegularExpressionMatch match = partPattern.match(part);
        if (!match.hasMatch()) {
            result.error = PageListResult::BadPart;
            result.badPart = part.trimmed();
            result.pages.clear();
            return result;
        }
        // "5-" runs to the last page.
        const bool openRange = match.hasCaptured(2) && match.captured(3).isEmpty();
        qulonglong a = number(match.captured(1));
        qulonglong b = openRange ? qMax<qulonglong>(a, totalPage) : match.hasCaptured(2) ? number(match.captured(3)) : a;
        if (a < 1 || b < 1)
            result.error = PageListResult::BelowOne;
        else if (a > totalPage || b > totalPage)
            result.error = PageListResult::AboveTotal;
        else if (a > b)
            result.error = PageListResult::Reversed;
        if (result.error != PageListResult::None) {
            result.badPart = part.trimmed();
            result.pages.clear();
            return result;
        }
        for (qulonglong p = a; p <= b; ++p)
            appendOnce(result.pages, int(p - 1));
    }
    return result;
}

QList<int> allPages(quint32 totalPage)
{
    QList<int> pages;
    pages.reserve(int(totalPage));
    for (quint32 i = 0; i < totalPage; ++i)
        pages.append(int(i));
    return pages;
}

QString pageNumbersText(const QList<int> &pageIndexes)
{
    QStringList numbers;
    for (int index : pageIndexes)
        numbers.append(QString::number(index + 1));
    return numbers.join(QStringLiteral(", "));
}
