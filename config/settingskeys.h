#ifndef SETTINGSKEYS_H
#define SETTINGSKEYS_H

#include <QString>

// Every settings key and its place, defined once.
namespace SettingsKeys {

// Plain literals: the store reads these during static initialisation.
inline constexpr char folderName[] = "settings";
inline constexpr char fileName[] = "setting.ini";

// Ten history slots of output folders, "Output/outputdir_0" to "Output/outputdir_9".
constexpr int outputDirSlots = 10;
inline QString outputDir(int slot)
{
    return QStringLiteral("Output/outputdir_%1").arg(slot);
}

inline constexpr char outputDirLast[] = "Output/outputdir_last";
inline constexpr char recentInputDir[] = "RecentInputDir";

} // namespace SettingsKeys

#endif // SETTINGSKEYS_H
