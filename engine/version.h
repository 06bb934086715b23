#ifndef VERSION_H
#define VERSION_H

#include <QCoreApplication>

namespace AppInfo {

inline constexpr char version[] = "1.0.2";
inline constexpr char company[] = "Tarnwick";
inline constexpr char website[] = "https://www.tarnwick.example/pdf-to-image";

// Shared by the window and the command line. The program name is translatable in the MainWindow context.
inline QString programName()
{
    return QCoreApplication::translate("MainWindow", "Tarnwick Pdf to Image Converter");
}

} // namespace AppInfo

#endif // VERSION_H
