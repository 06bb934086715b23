#ifndef FOLDERHISTORY_H
#define FOLDERHISTORY_H

#include <QStringList>

class Config;

// The output folders offered in the folder combo box, newest first. The list
// may hold up to twenty entries; the settings keep the first ten.
namespace FolderHistory {

constexpr int maxEntries = 20;

// The stored folders in slot order; empty slots are skipped.
QStringList load(const Config &store);

// Index of the entry stored as last used; 0 when none was stored.
int lastUsedIndex(const Config &store);

// Writes every slot: entry i into slot i, an empty string where the list ends.
void save(Config &store, const QStringList &entries);

// Adds a chosen folder and returns the index to make current. A folder
// already listed (exact, case-sensitive match) keeps its place; a new one
// goes to the top and the oldest drops off past maxEntries.
int choose(QStringList *entries, const QString &folder);

} // namespace FolderHistory

#endif // FOLDERHISTORY_H
