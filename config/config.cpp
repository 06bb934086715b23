#include "config/config.h"

#include "config/settingskeys.h"
#include "config/windowlog.h"

#include <QDir>
#include <QSettings>

// Built during static initialisation, before QApplication exists: only QtCore is used.
Config g_config;

Config::Config(QObject *parent)
    : QObject(parent)
{
    QDir settingsDir(QLatin1String(SettingsKeys::folderName));
    qCDebug(windowLog) << QDir::currentPath();

    // The doubled separators are kept as they are: the path handling folds them.
    const QString folderPath = QDir::currentPath() + "//" + QLatin1String(SettingsKeys::folderName);
    if (!settingsDir.exists() && !settingsDir.mkpath(folderPath))
        qCDebug(windowLog, "mkdir setting failed");

    settings = new QSettings(folderPath + "//" + QLatin1String(SettingsKeys::fileName), QSettings::IniFormat);
}

Config::~Config()
{
    delete settings;
}

QVariant Config::value(const QString &key) const
{
    if (key.isEmpty())
        return QVariant(0);
    return settings->value(key, QVariant());
}

void Config::setValue(const QString &key, const QVariant &value)
{
    settings->setValue(key, value);
}

void Config::sync()
{
    settings->sync();
}

QString Config::fileName() const
{
    return settings->fileName();
}
