#ifndef NAMETEMPLATE_H
#define NAMETEMPLATE_H

#include <QList>
#include <QString>

// Output file names made from a pattern such as "{name}-p{page:3}.{ext}":
// {name} is the PDF's complete base name, {page} the page number from 1
// ({page:N}: padded with zeros to N digits), {ext} the type's extension;
// everything else is taken as it stands. A pattern without {ext} gets "."
// and the extension at its end unless its text already ends in it (or in
// .jpeg for jpg, .tif for tiff). A default-made template is empty and names
// nothing: the usual names are used instead.
class NameTemplate
{
public:
    // Reads a pattern; on a mistake returns an empty template and says why
    // (an unknown field, a brace without its pair, a folder separator).
    static NameTemplate parse(const QString &pattern, QString *error);

    bool isEmpty() const { return parts.isEmpty(); }
    bool usesPage() const;
    bool usesExtension() const;
    QString pattern() const { return text; }

    // padTo: the width {page} is padded to when the pattern gives none (0: none).
    QString fileName(const QString &pdfPath, int pageIndex, const QString &extension, int padTo = 0) const;

private:
    struct Part
    {
        enum Kind { Text, Name, Page, Extension } kind = Text;
        QString text; // Text
        int width = 0; // Page: 0 unless given
    };
    QList<Part> parts;
    QString text;
};

#endif // NAMETEMPLATE_H
