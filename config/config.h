#ifndef CONFIG_H
#define CONFIG_H

#include <QObject>
#include <QVariant>

class QSettings;

// The process-wide INI settings store. It lives in "settings/setting.ini"
// under the working directory the program was started in.
class Config : public QObject
{
    Q_OBJECT

public:
    explicit Config(QObject *parent = nullptr);
    ~Config() override;

    QVariant value(const QString &key) const;
    void setValue(const QString &key, const QVariant &value);
    void sync();

    QString fileName() const;

private:
    QSettings *settings;
};

extern Config g_config;

#endif // CONFIG_H
