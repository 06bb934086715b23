#ifndef PDFTOCAIROAPP_H
#define PDFTOCAIROAPP_H

#include <QStringList>

// The program run under the name pdftocairo (its installed link in
// libexec/velloran/poppler-compat/), for scripts that call pdftocairo for
// PNG, JPEG or TIFF pages: its arguments, file names, image sizes, pixel
// modes, standard input and output, messages and exit statuses, with the
// pages drawn by velloran-cli's workers. The vector types are refused.
// Returns the exit status as pdftocairo 22.12 does: 0, 1 (the PDF cannot be
// opened, a wrong password), 2 (an output cannot be written), 4 (the colour
// profile cannot be read), 99 (anything else).
int runPdftocairo(const QStringList &arguments);

#endif // PDFTOCAIROAPP_H
