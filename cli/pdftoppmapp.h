#ifndef PDFTOPPMAPP_H
#define PDFTOPPMAPP_H

#include <QStringList>

// The program run under the name pdftoppm (its installed link in
// libexec/velloran/poppler-compat/): pdftoppm's arguments, file names,
// image sizes, standard output, messages and exit statuses, for scripts and
// libraries that call pdftoppm, with the pages drawn by velloran-cli's
// workers. Returns the exit status: 0, 1 (a PDF or an output that cannot be
// opened, a wrong password), 99 (anything else), as pdftoppm 22.12 does.
int runPdftoppm(const QStringList &arguments);

#endif // PDFTOPPMAPP_H
