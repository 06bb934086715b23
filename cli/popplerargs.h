#ifndef POPPLERARGS_H
#define POPPLERARGS_H

#include "engine/pdftoppmsize.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>

// The command lines of poppler-utils' programs (22.12), read as their shared
// parser reads them: options of one dash anywhere among the arguments, each
// followed by its value when it takes one; "--" ends the options; any other
// argument, even one that begins with a dash, is positional (a file name).
// The programs run as pdftoppm and pdftocairo each give it their table.

enum class PopplerArgKind { Flag, Int, Double, Text };

template<typename Args>
struct PopplerOption
{
    const char *name;
    PopplerArgKind kind;
    const char *help;
    // Given the value as it was written (empty for a flag): read numbers
    // with popplerInt() and popplerDouble().
    std::function<void(Args &, const QString &)> apply;
};

// Whether text is a value of the kind as the parser takes it: an int is an
// optional sign and digits, a number those with a point and an exponent;
// either may be empty, which reads as 0.
bool popplerValueFits(PopplerArgKind kind, const QString &text);
// A value that fits, read as atoi() and atof() read it.
int popplerInt(const QString &text);
double popplerDouble(const QString &text);

// Reads arguments (the first is the program's name): each option found is
// applied to args, and seen, when given, is told its name and value in the
// order they come; the rest go to positional. False when an option's value
// is missing or does not fit its kind, a usage error.
template<typename Args>
bool readPopplerArgs(const QStringList &arguments, const QList<PopplerOption<Args>> &options, Args &args,
                     QStringList &positional,
                     const std::function<void(const QString &name, const QString &value)> &seen = {})
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--")) {
            positional += arguments.mid(i + 1);
            return true;
        }
        const auto found = std::find_if(options.cbegin(), options.cend(), [&argument](const PopplerOption<Args> &option) {
            return argument == QLatin1String(option.name);
        });
        if (found == options.cend()) {
            positional << argument;
            continue;
        }
        QString value;
        if (found->kind != PopplerArgKind::Flag) {
            if (i + 1 >= arguments.size() || !popplerValueFits(found->kind, arguments.at(i + 1)))
                return false;
            value = arguments.at(++i);
        }
        found->apply(args, value);
        if (seen)
            seen(argument, value);
    }
    return true;
}

// The table as the parser prints it: "Usage: <program> [options] <others>",
// then each option with its value's kind and help, aligned past the longest
// name. otherArguments null: the first line ends at "[options]".
struct PopplerOptionLine
{
    const char *name;
    PopplerArgKind kind;
    const char *help;
};
QString popplerUsage(const QString &program, const QString &otherArguments, const QList<PopplerOptionLine> &lines);

template<typename Args>
QString popplerUsage(const QString &program, const QString &otherArguments, const QList<PopplerOption<Args>> &options)
{
    QList<PopplerOptionLine> lines;
    for (const PopplerOption<Args> &option : options)
        lines.append({option.name, option.kind, option.help});
    return popplerUsage(program, otherArguments, lines);
}

// -r as pdftoppm and pdftocairo apply it once every option is read: to both
// resolutions while one of them is still 150 (-rx and -ry were not both
// given); 0 changes nothing. "-r 100 -rx 200" is 100 both ways.
void applyPopplerResolution(PdftoppmSizing &sizing, double resolution);

// The quality, progressive and optimize of -jpegopt, as pdftoppm and
// pdftocairo read them; false for an unknown option or value, with their
// message.
struct JpegOptions
{
    int quality = 75;
    bool progressive = false;
    bool optimize = false;
};
bool parseJpegOptions(const QString &text, JpegOptions &options, QString *why);

#endif // POPPLERARGS_H
