#include "engine/nametemplate.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace {

constexpr int maxPageWidth = 9;

// Whether a name already ends in the extension of the type, in its own
// spelling or the other usual one (.jpeg, .tif), in any case.
bool endsInExtension(const QString &name, const QString &extension)
{
    QStringList spellings{extension};
    if (extension == QLatin1String("jpg"))
        spellings << QStringLiteral("jpeg");
    else if (extension == QLatin1String("tiff"))
        spellings << QStringLiteral("tif");
    for (const QString &spelling : std::as_const(spellings)) {
        if (name.endsWith(QLatin1Char('.') + spelling, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

} // namespace

NameTemplate NameTemplate::parse(const QString &pattern, QString *error)
{
    NameTemplate result;
    const auto refuse = [error](const QString &why) {
        *error = why;
        return NameTemplate();
    };
    if (pattern.isEmpty())
        return refuse(QStringLiteral("the name is empty"));
    if (pattern.contains(QLatin1Char('/')))
        return refuse(QStringLiteral("a name cannot hold a /: the files go into the output folder"));
    static const QRegularExpression pageField(QStringLiteral("^page(?::(\\d+))?$"));
    QString literal;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('}'))
            return refuse(QStringLiteral("a } without its {"));
        if (c != QLatin1Char('{')) {
            literal += c;
            continue;
        }
        const qsizetype end = pattern.indexOf(QLatin1Char('}'), i + 1);
        if (end < 0)
            return refuse(QStringLiteral("a { without its }"));
        const QString field = pattern.mid(i + 1, end - i - 1);
        Part part;
        if (field == QLatin1String("name")) {
            part.kind = Part::Name;
        } else if (field == QLatin1String("ext")) {
            part.kind = Part::Extension;
        } else if (const QRegularExpressionMatch page = pageField.match(field); page.hasMatch()) {
            part.kind = Part::Page;
            if (page.hasCaptured(1)) {
                part.width = page.captured(1).toInt();
                if (part.width < 1 || part.width > maxPageWidth)
                    return refuse(QStringLiteral("{%1}: a page number is 1 to %2 digits wide").arg(field).arg(maxPageWidth));
            }
        } else {
            return refuse(QStringLiteral("unknown field {%1}: use {name}, {page}, {page:3} or {ext}").arg(field));
        }
        if (!literal.isEmpty())
            result.parts.append(Part{Part::Text, literal, 0});
        literal.clear();
        result.parts.append(part);
        i = end;
    }
    if (!literal.isEmpty())
        result.parts.append(Part{Part::Text, literal, 0});
    result.text = pattern;
    return result;
}

bool NameTemplate::usesExtension() const
{
    for (const Part &part : parts) {
        if (part.kind == Part::Extension)
            return true;
    }
    return false;
}

bool NameTemplate::usesPage() const
{
    for (const Part &part : parts) {
        if (part.kind == Part::Page)
            return true;
    }
    return false;
}

QString NameTemplate::fileName(const QString &pdfPath, int pageIndex, const QString &extension, int padTo) const
{
    // Concatenation, not QString::arg: a "%1" in a file name stays as it is.
    QString name;
    for (const Part &part : parts) {
        switch (part.kind) {
        case Part::Text:
            name += part.text;
            break;
        case Part::Name:
            name += QFileInfo(pdfPath).completeBaseName();
            break;
        case Part::Page:
            name += QStringLiteral("%1").arg(pageIndex + 1, part.width > 0 ? part.width : padTo, 10, QLatin1Char('0'));
            break;
        case Part::Extension:
            name += extension;
            break;
        }
    }
    // A pattern without {ext} gets the type's extension, as pdftoppm gives
    // its root name one, unless its own text already ends in it.
    if (!usesExtension() && !(parts.last().kind == Part::Text && endsInExtension(parts.last().text, extension)))
        name += QLatin1Char('.') + extension;
    return name;
}
