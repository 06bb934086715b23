#ifndef HELPERFOLDER_H
#define HELPERFOLDER_H

#include "engine/nativepath.h"

// The folder of the worker executable and of the back-ends' modules, which
// are installed together (libexec/velloran/) and sit together in a build
// tree: the folder of the worker VELLORAN_WORKER names (a build tree's test
// worker, or a program run from elsewhere), else the running executable's
// own folder when velloran-worker is there (a build tree, where the programs
// sit beside it; the installed worker itself), else ../libexec/velloran/
// from it (an installed program). Found by the executable's own bytes, so
// that a folder whose name is not UTF-8 works.
NativePath helperFolder();

#endif // HELPERFOLDER_H
