#include "app/openfolder.h"

#include "config/windowlog.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <shellapi.h>

#include <string>
#else
#include <QDesktopServices>
#include <QUrl>
#endif

namespace {

FolderOpener &replacement()
{
    static FolderOpener opener;
    return opener;
}

bool openInFileManager(const QString &folder)
{
#ifdef Q_OS_WIN
    const QString parameter = explorerParameter(folder);
    qCDebug(windowLog) << parameter;
    // Built from the whole path: a fixed buffer would cut long folders short.
    const std::wstring wideParameter = parameter.toStdWString();
    ShellExecuteW(nullptr, L"open", L"Explorer.exe", wideParameter.c_str(), nullptr, SW_SHOWNORMAL);
    return true;
#else
    qCDebug(windowLog) << folder;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
#endif
}

} // namespace

QString explorerParameter(const QString &folder)
{
    QString nativeFolder = folder;
    nativeFolder.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return QStringLiteral("/e,") + nativeFolder;
}

FolderOpener setFolderOpener(FolderOpener opener)
{
    FolderOpener previous = std::move(replacement());
    replacement() = std::move(opener);
    return previous;
}

bool openFolder(const QString &folder)
{
    return replacement() ? replacement()(folder) : openInFileManager(folder);
}
