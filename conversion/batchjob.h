#ifndef BATCHJOB_H
#define BATCHJOB_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What a command-line run was asked to do, before anything is checked.
struct BatchOptions
{
    QStringList files;
    QString outputDir = QStringLiteral(".");
    QString extension = QStringLiteral("jpg");
    int resolution = 150;
    int quality = 75;
    QString pages; // a page list such as "1,2,3,6-9"; null for every page
    QByteArray password;
};

constexpr int minResolution = 1;
constexpr int maxResolution = 999999;
constexpr int minQuality = 1;
constexpr int maxQuality = 100;

// One input file that passed the checks, with the pages to write from it.
struct BatchFile
{
    QString path;
    QList<int> pages; // 0-based, in the order given
};

// A checked run: every file opens and every page exists. When errors is not
// empty nothing may be written; each error names the file it is about.
struct BatchPlan
{
    QList<BatchFile> files;
    QString outputDir;
    QString extension;
    int resolution = 150;
    int quality = 75;
    QByteArray password;
    QStringList errors;

    int pageCount() const;
};

// Problems with the option values alone, one line each; empty when they are usable.
QStringList checkBatchOptions(const BatchOptions &options);

// Opens every file to check it and its page list, then makes the output
// folder. The folder is made only when everything else passed.
BatchPlan planBatch(const BatchOptions &options);

#endif // BATCHJOB_H
