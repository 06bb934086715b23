#ifndef CLIAPP_H
#define CLIAPP_H

#include "cli/batchjob.h"

#include <QString>
#include <QStringList>

// The command-line converter: reads the options, checks every input before
// anything is written, has the pages drawn by worker processes and answers
// with an exit status.
class BatchWorkers;

class CliApp
{
public:
    enum ExitStatus {
        AllWritten = 0,
        SomePagesFailed = 1,
        BadUsage = 2,   // bad options or input that stops the run before it starts
        ReportLost = 3, // the --json report could not be written whole
        StoppedBySignal = 128 // plus the signal's number, as shells report it: 130 for Ctrl-C
    };

    struct CommandLine
    {
        BatchOptions options;
        int jobs = 1;
        qint64 maxMemory = 0; // bytes of address space per worker process; 0: the default share
        bool quiet = false;
        bool verbose = false; // what the renderer reported while drawing each page, on stderr
        bool json = false;
        bool help = false;
        bool version = false;
        QString helpText;
        QStringList errors;
    };

    // Reads the arguments (the first is the program name) without acting on them.
    static CommandLine parse(const QStringList &arguments);

    int run(const QStringList &arguments);

private:
    static int convert(const CommandLine &commandLine, const BatchPlan &plan, BatchWorkers &workers);
    static int refuse(const CommandLine &commandLine, const BatchPlan &plan);
};

#endif // CLIAPP_H
