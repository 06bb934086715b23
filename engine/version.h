#ifndef VERSION_H
#define VERSION_H

#include "engine/projectversion.h"

#include <QCoreApplication>

namespace AppInfo {

// The version given to project() in CMakeLists.txt.
inline constexpr char version[] = VELLORAN_VERSION;
inline constexpr char company[] = "Tarnwick";
inline constexpr char website[] = "https://www.tarnwick.example/pdf-to-image";

// Shared by the window and the command line. The program name is translatable in the MainWindow context.
inline QString programName()
{
    return QCoreApplication::translate("MainWindow", "Tarnwick Pdf to Image Converter");
}

} // namespace AppInfo

#endif // VERSION_H
