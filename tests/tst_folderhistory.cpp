#include "app/mainwindow.h"
#include "config/config.h"
#include "config/settingskeys.h"
#include "conversion/folderhistory.h"
#include "support/modalcatcher.h"
#include "support/warnings.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

class TestFolderHistory : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void choose_data();
    void choose();
    void loadSkipsEmptySlots();
    void saveWritesAllTenSlots();

    void startUpShowsHistoryWithEmptyEditText();
    void loadConfigDataSelectsLastUsed_data();
    void loadConfigDataSelectsLastUsed();
    void chooserDialogSettings();
    void chooseAThenBThenA();
    void twelveFoldersAndRestart();
    void twentyFiveFoldersThroughWindow();
    void caseSensitiveDuplicate();
    void cancelChangesNothing();

private:
    static void clearHistory();
    static QStringList storedSlots();
    static QStringList comboItems(const MainWindow &window);
    static QComboBox *folderCombo(const MainWindow &window);
    QString makeFolder(const QString &name);
    static void chooseThroughDialog(MainWindow &window, const QString &folder);

    QTemporaryDir m_dir;
};

void TestFolderHistory::init()
{
    failOnUnexpectedWarnings();
    QVERIFY(m_dir.isValid());
    clearHistory();
}

void TestFolderHistory::cleanup()
{
    clearHistory();
}

void TestFolderHistory::clearHistory()
{
    for (int slot = 0; slot < SettingsKeys::outputDirSlots; ++slot)
        g_config.setValue(SettingsKeys::outputDir(slot), QString());
    g_config.setValue(QLatin1String(SettingsKeys::outputDirLast), QVariant());
}

QStringList TestFolderHistory::storedSlots()
{
    QStringList stored;
    for (int slot = 0; slot < SettingsKeys::outputDirSlots; ++slot)
        stored.append(g_config.value(SettingsKeys::outputDir(slot)).toString());
    return stored;
}

QComboBox *TestFolderHistory::folderCombo(const MainWindow &window)
{
    return window.findChild<QComboBox *>(QStringLiteral("comboBox_output_folder"));
}

QStringList TestFolderHistory::comboItems(const MainWindow &window)
{
    QStringList items;
    const QComboBox *combo = folderCombo(window);
    for (int i = 0; i < combo->count(); ++i)
        items.append(combo->itemText(i));
    return items;
}

QString TestFolderHistory::makeFolder(const QString &name)
{
    const QString path = m_dir.filePath(name);
    if (!QDir().mkpath(path))
        return QString();
    return path;
}

// Presses the tool button and picks the folder in the real folder chooser.
void TestFolderHistory::chooseThroughDialog(MainWindow &window, const QString &folder)
{
    ModalCatcher catcher;
    catcher.expect(ModalCatcher::chooseFile(folder));
    auto *button = window.findChild<QToolButton *>(QStringLiteral("toolButton_select_output_folder"));
    QMetaObject::invokeMethod(button, &QToolButton::click, Qt::QueuedConnection);
    QVERIFY(catcher.waitForCount(1));
    QCOMPARE(catcher.last().title, QStringLiteral("Choose output directory"));
    QTRY_COMPARE(folderCombo(window)->currentText(), folder);
}

void TestFolderHistory::choose_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("current");

    QTest::newRow("new folder goes to the top")
        << QStringList{"/b", "/c"} << "/a" << QStringList{"/a", "/b", "/c"} << 0;
    QTest::newRow("known folder keeps its place")
        << QStringList{"/b", "/a"} << "/a" << QStringList{"/b", "/a"} << 1;
    QTest::newRow("comparison is case-sensitive")
        << QStringList{"c:/out"} << "C:/Out" << QStringList{"C:/Out", "c:/out"} << 0;
    QTest::newRow("paths are not normalised")
        << QStringList{"/tmp/a"} << "/tmp/a/" << QStringList{"/tmp/a/", "/tmp/a"} << 0;
    QStringList full;
    for (int i = 0; i < FolderHistory::maxEntries; ++i)
        full.append(QStringLiteral("/f%1").arg(i));
    QStringList shifted = full;
    shifted.prepend("/new");
    shifted.removeLast();
    QTest::newRow("full list drops its last entry") << full << "/new" << shifted << 0;
    QTest::newRow("full list, known folder") << full << "/f19" << full << 19;
}

void TestFolderHistory::choose()
{
    QFETCH(QStringList, before);
    QFETCH(QString, folder);
    QFETCH(QStringList, after);
    QFETCH(int, current);

    QStringList entries = before;
    QCOMPARE(FolderHistory::choose(&entries, folder), current);
    QCOMPARE(entries, after);
}

void TestFolderHistory::loadSkipsEmptySlots()
{
    g_config.setValue(SettingsKeys::outputDir(3), QStringLiteral("/three"));
    g_config.setValue(SettingsKeys::outputDir(7), QStringLiteral("/seven"));
    g_config.setValue(SettingsKeys::outputDir(9), QStringLiteral("/three"));
    QCOMPARE(FolderHistory::load(g_config), (QStringList{"/three", "/seven", "/three"}));
    QCOMPARE(FolderHistory::lastUsedIndex(g_config), 0);
}

void TestFolderHistory::saveWritesAllTenSlots()
{
    for (int slot = 0; slot < SettingsKeys::outputDirSlots; ++slot)
        g_config.setValue(SettingsKeys::outputDir(slot), QStringLiteral("/stale%1").arg(slot));

    QStringList twelve;
    for (int i = 0; i < 12; ++i)
        twelve.append(QStringLiteral("/f%1").arg(i));
    FolderHistory::save(g_config, twelve);
    QCOMPARE(storedSlots(), twelve.mid(0, 10));

    FolderHistory::save(g_config, QStringList{"/b", "/a"});
    QStringList expected{"/b", "/a"};
    while (expected.size() < 10)
        expected.append(QString());
    QCOMPARE(storedSlots(), expected);
    QVERIFY(!g_config.value(QLatin1String(SettingsKeys::outputDirLast)).isValid());
}

void TestFolderHistory::startUpShowsHistoryWithEmptyEditText()
{
    MainWindow fresh;
    QCOMPARE(folderCombo(fresh)->count(), 0);
    QCOMPARE(folderCombo(fresh)->currentText(), QString());

    g_config.setValue(SettingsKeys::outputDir(3), QStringLiteral("/only/slot/three"));
    g_config.setValue(QLatin1String(SettingsKeys::outputDirLast), 0);
    MainWindow window;
    QCOMPARE(comboItems(window), QStringList{"/only/slot/three"});
    QCOMPARE(folderCombo(window)->currentIndex(), -1);
    QCOMPARE(folderCombo(window)->currentText(), QString());
}

void TestFolderHistory::loadConfigDataSelectsLastUsed_data()
{
    QTest::addColumn<QVariant>("last");
    QTest::addColumn<int>("current");
    QTest::addColumn<QString>("text");

    QTest::newRow("absent reads as 0") << QVariant() << 0 << "/a";
    QTest::newRow("second entry") << QVariant(1) << 1 << "/b";
    QTest::newRow("index with no entry") << QVariant(7) << -1 << "";
}

void TestFolderHistory::loadConfigDataSelectsLastUsed()
{
    QFETCH(QVariant, last);
    QFETCH(int, current);
    QFETCH(QString, text);

    g_config.setValue(SettingsKeys::outputDir(0), QStringLiteral("/a"));
    g_config.setValue(SettingsKeys::outputDir(1), QStringLiteral("/b"));
    g_config.setValue(QLatin1String(SettingsKeys::outputDirLast), last);
    MainWindow window;
    folderCombo(window)->addItem(QStringLiteral("/typed"));
    window.LoadConfigData();
    QCOMPARE(comboItems(window), (QStringList{"/a", "/b"}));
    QCOMPARE(folderCombo(window)->currentIndex(), current);
    QCOMPARE(folderCombo(window)->currentText(), text);
}

void TestFolderHistory::chooserDialogSettings()
{
    const QString folder = makeFolder(QStringLiteral("picked"));
    MainWindow window;
    ModalCatcher catcher;
    bool inspected = false;
    catcher.expect([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        inspected = true;
        QCOMPARE(dialog->parentWidget(), &window);
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
        QVERIFY(dialog->testOption(QFileDialog::DontResolveSymlinks));
        QCOMPARE(dialog->directory().absolutePath(), QDir::current().absolutePath());
        ModalCatcher::chooseFile(folder)(modal);
    });
    QMetaObject::invokeMethod(&window, "on_toolButton_select_output_folder_clicked", Qt::QueuedConnection);
    QVERIFY(catcher.waitForCount(1));
    QCOMPARE(catcher.last().className, QStringLiteral("QFileDialog"));
    QCOMPARE(catcher.last().title, QStringLiteral("Choose output directory"));
    QVERIFY(inspected);
    QTRY_COMPARE(comboItems(window), QStringList{folder});
}

void TestFolderHistory::chooseAThenBThenA()
{
    const QString a = makeFolder(QStringLiteral("A"));
    const QString b = makeFolder(QStringLiteral("B"));
    MainWindow window;
    chooseThroughDialog(window, a);
    chooseThroughDialog(window, b);
    chooseThroughDialog(window, a);

    QCOMPARE(comboItems(window), (QStringList{b, a}));
    QCOMPARE(folderCombo(window)->currentIndex(), 1);
    QStringList expected{b, a};
    while (expected.size() < 10)
        expected.append(QString());
    QCOMPARE(storedSlots(), expected);
}

void TestFolderHistory::twelveFoldersAndRestart()
{
    QStringList newestFirst;
    {
        MainWindow window;
        for (int i = 0; i < 12; ++i) {
            const QString folder = makeFolder(QStringLiteral("twelve/%1").arg(i));
            chooseThroughDialog(window, folder);
            newestFirst.prepend(folder);
        }
        QCOMPARE(comboItems(window), newestFirst);
        QCOMPARE(storedSlots(), newestFirst.mid(0, 10));
    }

    MainWindow restarted;
    QCOMPARE(comboItems(restarted), newestFirst.mid(0, 10));
    QCOMPARE(folderCombo(restarted)->currentText(), QString());
}

void TestFolderHistory::twentyFiveFoldersThroughWindow()
{
    MainWindow window;
    QStringList newestFirst;
    for (int i = 0; i < 25; ++i) {
        const QString folder = makeFolder(QStringLiteral("many/%1").arg(i));
        chooseThroughDialog(window, folder);
        newestFirst.prepend(folder);
        QVERIFY(folderCombo(window)->count() <= 20);
    }
    QCOMPARE(comboItems(window), newestFirst.mid(0, 20));
    QCOMPARE(storedSlots(), newestFirst.mid(0, 10));
}

void TestFolderHistory::caseSensitiveDuplicate()
{
    const QString lower = makeFolder(QStringLiteral("case/out"));
    const QString upper = makeFolder(QStringLiteral("case/Out"));
    MainWindow window;
    chooseThroughDialog(window, lower);
    chooseThroughDialog(window, upper);
    QCOMPARE(comboItems(window), (QStringList{upper, lower}));
    QCOMPARE(folderCombo(window)->currentIndex(), 0);
}

void TestFolderHistory::cancelChangesNothing()
{
    const QString a = makeFolder(QStringLiteral("kept"));
    MainWindow window;
    chooseThroughDialog(window, a);
    folderCombo(window)->setEditText(QStringLiteral("/typed/by/hand"));
    g_config.setValue(SettingsKeys::outputDir(5), QStringLiteral("/marker"));
    const QStringList slotsBefore = storedSlots();

    ModalCatcher catcher;
    catcher.expect(ModalCatcher::cancelDialog());
    QMetaObject::invokeMethod(&window, "on_toolButton_select_output_folder_clicked", Qt::QueuedConnection);
    QVERIFY(catcher.waitForCount(1));
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCoreApplication::processEvents();

    QCOMPARE(comboItems(window), QStringList{a});
    QCOMPARE(folderCombo(window)->currentText(), QStringLiteral("/typed/by/hand"));
    QCOMPARE(storedSlots(), slotsBefore);
}

QTEST_MAIN(TestFolderHistory)
#include "tst_folderhistory.moc"
