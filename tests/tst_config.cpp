#include "app/mainwindow.h"
#include "config/config.h"
#include "config/settingskeys.h"
#include "support/warnings.h"

#include <QApplication>
#include <QSettings>
#include <QtTest>

#include <cstring>

// The settings store. Cases that depend on where the process starts run in a
// child process: this executable started again with a mode argument.
class ConfigTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void emptyKeyIsIntegerZero();
    void absentKeyIsInvalid();
    void valueRoundTrip();
    void folderAndFileInStartDirectory();
    void unsyncedValueWrittenAtNormalExit();
    void blockedSettingsFolderRunsOnDefaults();

private:
    struct ChildResult
    {
        int exitCode = -1;
        QString output;
    };
    static ChildResult runChild(const QString &mode, const QString &workingDir, const QString &logRules = QString());
};

void ConfigTest::init()
{
    failOnUnexpectedWarnings();
}

void ConfigTest::emptyKeyIsIntegerZero()
{
    const QVariant value = g_config.value(QString());
    QCOMPARE(value.typeId(), QMetaType::Int);
    QCOMPARE(value.toInt(), 0);
}

void ConfigTest::absentKeyIsInvalid()
{
    const QVariant value = g_config.value(QStringLiteral("Output/never_written"));
    QVERIFY(!value.isValid());
    QVERIFY(value.toString().isEmpty());
    QCOMPARE(value.toInt(), 0);
}

void ConfigTest::valueRoundTrip()
{
    const QString path = QStringLiteral("/tmp/a folder/ünïcode, with; separators");
    g_config.setValue(SettingsKeys::outputDir(3), path);
    g_config.sync();
    QCOMPARE(g_config.value(SettingsKeys::outputDir(3)).toString(), path);

    QSettings file(g_config.fileName(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Output/outputdir_3")).toString(), path);
    g_config.setValue(SettingsKeys::outputDir(3), QString());
    g_config.sync();
}

ConfigTest::ChildResult ConfigTest::runChild(const QString &mode, const QString &workingDir, const QString &logRules)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    if (!logRules.isEmpty())
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), logRules);
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(workingDir);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), mode});
    ChildResult result;
    if (!child.waitForFinished(60000))
        return result;
    result.output = QString::fromLocal8Bit(child.readAll());
    result.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    return result;
}

void ConfigTest::folderAndFileInStartDirectory()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const ChildResult result = runChild(QStringLiteral("store"), dir.path());
    QCOMPARE(result.exitCode, 0);
    QVERIFY(QFileInfo(dir.filePath("settings")).isDir());
    QVERIFY(QFileInfo::exists(dir.filePath("settings/setting.ini")));
    // The start directory is written to the window's debug log, quoted, only when it is asked for.
    const auto namesFolder = [&dir](const QString &output) {
        return output.contains('"' + QDir(dir.path()).canonicalPath() + '"') || output.contains('"' + dir.path() + '"');
    };
    QVERIFY2(!namesFolder(result.output), qPrintable(result.output));
    const ChildResult logged = runChild(QStringLiteral("store"), dir.path(), QStringLiteral("velloran.window.debug=true"));
    QVERIFY2(namesFolder(logged.output), qPrintable(logged.output));
}

void ConfigTest::unsyncedValueWrittenAtNormalExit()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(runChild(QStringLiteral("store"), dir.path()).exitCode, 0);

    QSettings file(dir.filePath("settings/setting.ini"), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("RecentInputDir")).toString(), QStringLiteral("/srv/pdf files"));
    QCOMPARE(file.value(QStringLiteral("Output/outputdir_0")).toString(), QStringLiteral("/srv/out"));
}

void ConfigTest::blockedSettingsFolderRunsOnDefaults()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile blocker(dir.filePath("settings"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const ChildResult result =
        runChild(QStringLiteral("window"), dir.path(), QStringLiteral("velloran.window.debug=true"));
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    QVERIFY(result.output.contains(QLatin1String("mkdir setting failed")));
    QVERIFY(result.output.contains(QLatin1String("no modal box")));
    QVERIFY(QFileInfo(dir.filePath("settings")).isFile());
}

// Child modes. "store" sets two values without syncing and returns from main
// normally; "window" builds the main window and reports whether a box came up.
static int runChildMode(int argc, char **argv)
{
    const QByteArray mode = argv[2];
    if (mode == "store") {
        QCoreApplication app(argc, argv);
        g_config.setValue(SettingsKeys::recentInputDir, QStringLiteral("/srv/pdf files"));
        g_config.setValue(SettingsKeys::outputDir(0), QStringLiteral("/srv/out"));
        return 0;
    }
    if (mode == "window") {
        QApplication app(argc, argv);
        MainWindow window;
        window.show();
        QCoreApplication::processEvents();
        if (QApplication::activeModalWidget())
            return 3;
        if (g_config.value(SettingsKeys::outputDir(0)).isValid())
            return 4;
        qDebug("no modal box");
        return 0;
    }
    return 2;
}

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return runChildMode(argc, argv);
    QApplication app(argc, argv);
    ConfigTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_config.moc"
