#ifndef OPENFOLDER_H
#define OPENFOLDER_H

#include <QString>

#include <functional>

// Shows a folder to the user in the system's file manager: Explorer on
// Windows, the desktop's handler for local folders elsewhere. False when no
// file manager could be handed the folder (no desktop opener is installed);
// what the file manager does with it is outside the program.
bool openFolder(const QString &folder);

// The parameter Explorer gets: "/e," and the folder with backslashes. The
// whole text is handed over, however long the path.
QString explorerParameter(const QString &folder);

// Replaces what openFolder() does, so that tests can watch it without
// starting a file manager. An empty function restores the system's way.
// Returns the previous replacement.
using FolderOpener = std::function<bool(const QString &folder)>;
FolderOpener setFolderOpener(FolderOpener opener);

#endif // OPENFOLDER_H
