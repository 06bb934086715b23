#include "conversion/process.h"

// TODO: the conversion worker.
Process::Process(QObject *parent)
    : QThread(parent)
{
}

Process::~Process() = default;

void Process::ResetJob() {}

void Process::run() {}
