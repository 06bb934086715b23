#ifndef WORKERPROGRAM_H
#define WORKERPROGRAM_H

#include <QString>

// Where the worker executable is: the one VELLORAN_WORKER names (a build
// tree's test worker, or a program run from elsewhere), else velloran-worker
// beside the running executable (a build tree), else in
// ../libexec/velloran/ from it (an installed program). Found by the
// executable's own bytes, so that a folder whose name is not UTF-8 works.
QString workerProgram();

#endif // WORKERPROGRAM_H
