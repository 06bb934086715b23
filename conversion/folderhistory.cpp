#include "conversion/folderhistory.h"

#include "config/config.h"
#include "config/settingskeys.h"

namespace FolderHistory {

QStringList load(const Config &store)
{
    QStringList entries;
    for (int slot = 0; slot < SettingsKeys::outputDirSlots; ++slot) {
        const QString folder = store.value(SettingsKeys::outputDir(slot)).toString();
        if (!folder.isEmpty())
            entries.append(folder);
    }
    return entries;
}

int lastUsedIndex(const Config &store)
{
    return store.value(QLatin1String(SettingsKeys::outputDirLast)).toInt();
}

void save(Config &store, const QStringList &entries)
{
    // An empty, not a null, string: the INI file then holds an empty value.
    const QString emptySlot = QStringLiteral("");
    for (int slot = 0; slot < SettingsKeys::outputDirSlots; ++slot)
        store.setValue(SettingsKeys::outputDir(slot), entries.value(slot, emptySlot));
}

int choose(QStringList *entries, const QString &folder)
{
    const int existing = entries->indexOf(folder);
    if (existing >= 0)
        return existing;
    entries->prepend(folder);
    while (entries->size() > maxEntries)
        entries->removeLast();
    return 0;
}

} // namespace FolderHistory
