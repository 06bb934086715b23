#include "app/dialogabout.h"
#include "app/helpviewer.h"
#include "app/mainwindow.h"
#include "support/modalcatcher.h"
#include "support/warnings.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

static bool writeExecutable(const QString &path, const QByteArray &script)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(script);
    file.close();
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// Page names listed in the [FILES] section of a help project.
static QStringList projectFiles(const QString &projectPath)
{
    QFile file(projectPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList files;
    bool inFiles = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith('['))
            inFiles = line == QLatin1String("[FILES]");
        else if (inFiles && !line.isEmpty())
            files.append(line);
    }
    return files;
}

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Restores the working directory and the search path a test changes.
class EnvironmentGuard
{
public:
    EnvironmentGuard()
        : m_dir(QDir::currentPath())
        , m_path(qgetenv("PATH"))
    {
    }
    ~EnvironmentGuard()
    {
        QDir::setCurrent(m_dir);
        qputenv("PATH", m_path);
    }

private:
    QString m_dir;
    QByteArray m_path;
};

class TstHelp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void viewerProgram_data();
    void viewerProgram();
    void manualMissing();
    void noViewerInstalled();
    void manualLookup_data();
    void manualLookup();
    void manualStartsViewer_data();
    void manualStartsViewer();
    void aboutTwice();
    void aboutContents();
    void builtManual();
    void manualPagesListed();
    void manualExplainsMessages_data();
    void manualExplainsMessages();
};

void TstHelp::init()
{
    QTest::failOnWarning(QRegularExpression(".*"));
}

void TstHelp::cleanup()
{
    QVERIFY(!QApplication::activeModalWidget());
}

void TstHelp::viewerProgram_data()
{
    QTest::addColumn<QStringList>("executables");
    QTest::addColumn<QStringList>("plainFiles");
    QTest::addColumn<QString>("expected");

    QTest::newRow("both viewers") << QStringList{"xchm", "kchmviewer"} << QStringList() << "xchm";
    QTest::newRow("kchmviewer only") << QStringList{"kchmviewer"} << QStringList() << "kchmviewer";
    QTest::newRow("no viewer") << QStringList{"xdg-open"} << QStringList() << "xdg-open";
    QTest::newRow("no viewer, no opener") << QStringList() << QStringList{"xdg-open"} << QString();
    QTest::newRow("viewer not executable") << QStringList{"kchmviewer"} << QStringList{"xchm"} << "kchmviewer";
    QTest::newRow("neither executable") << QStringList{"xdg-open"} << QStringList{"xchm", "kchmviewer"} << "xdg-open";
}

void TstHelp::viewerProgram()
{
#ifdef Q_OS_WIN
    QSKIP("Windows always uses hh.exe");
#endif
    QFETCH(QStringList, executables);
    QFETCH(QStringList, plainFiles);
    QFETCH(QString, expected);

    EnvironmentGuard guard;
    QTemporaryDir bin;
    QVERIFY(bin.isValid());
    for (const QString &name : executables)
        QVERIFY(writeExecutable(bin.filePath(name), "#!/bin/sh\n"));
    for (const QString &name : plainFiles) {
        QFile file(bin.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    qputenv("PATH", QFile::encodeName(bin.path()));

    QCOMPARE(helpViewerProgram(), expected.isEmpty() ? QString() : bin.filePath(expected));
}

void TstHelp::manualMissing()
{
    EnvironmentGuard guard;
    expectNoTray();
    expectNoSizeHints();
    MainWindow window;
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    QVERIFY(QDir::setCurrent(elsewhere.path()));

    ModalCatcher catcher;
    window.findChild<QAction *>("actionManual")->trigger();

    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.last().className, QString("QMessageBox"));
    QCOMPARE(catcher.last().title, QString("Failed"));
    QCOMPARE(catcher.last().text, QString("Manual file is lost,please re-install this program to repair it"));
    QVERIFY(!window.findChild<QProcess *>());
}

// The manual is there but nothing can show it: the box names what to install,
// and no process is started.
void TstHelp::noViewerInstalled()
{
    EnvironmentGuard guard;
    expectNoTray();
    expectNoSizeHints();
    MainWindow window;
    QTemporaryDir work;
    QTemporaryDir emptyBin;
    QVERIFY(work.isValid() && emptyBin.isValid());
    QVERIFY(QDir::setCurrent(work.path()));
    QVERIFY(writeExecutable(work.filePath("Velloran.chm"), "ITSF"));
    qputenv("PATH", QFile::encodeName(emptyBin.path()));

    ModalCatcher catcher;
    window.findChild<QAction *>("actionManual")->trigger();

    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.last().className, QString("QMessageBox"));
    QCOMPARE(catcher.last().title, QString("Failed"));
    QCOMPARE(catcher.last().text, QString("No program that shows the manual was found.\n"
                                          "Install a CHM viewer (Debian: sudo apt-get install xchm) and try again."));
    QVERIFY(!window.findChild<QProcess *>());
}

// Working folder first, then share/velloran beside the executable's bin folder,
// wherever the installation was put.
void TstHelp::manualLookup_data()
{
    QTest::addColumn<bool>("inWorkingFolder");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("working folder only") << true << false << "Velloran.chm";
    QTest::newRow("both: the working folder wins") << true << true << "Velloran.chm";
    QTest::newRow("installed only") << false << true << "<prefix>/share/velloran/Velloran.chm";
    QTest::newRow("neither") << false << false << QString();
}

void TstHelp::manualLookup()
{
    QFETCH(bool, inWorkingFolder);
    QFETCH(bool, installed);
    QFETCH(QString, expected);

    EnvironmentGuard guard;
    QTemporaryDir work;
    QTemporaryDir prefix;
    QVERIFY(work.isValid() && prefix.isValid());
    QVERIFY(QDir(prefix.path()).mkpath("bin") && QDir(prefix.path()).mkpath("share/velloran"));
    QVERIFY(QDir::setCurrent(work.path()));
    if (inWorkingFolder)
        QVERIFY(writeExecutable(work.filePath("Velloran.chm"), "ITSF"));
    if (installed)
        QVERIFY(writeExecutable(prefix.filePath("share/velloran/Velloran.chm"), "ITSF"));

    const QString bin = prefix.filePath("bin");
    QCOMPARE(installedManualPath(bin), prefix.filePath("share/velloran/Velloran.chm"));
    QCOMPARE(findManual(bin), QString(expected).replace("<prefix>", prefix.path()));
}

void TstHelp::manualStartsViewer_data()
{
    QTest::addColumn<bool>("installed");
    QTest::newRow("in the working folder") << false;
    QTest::newRow("installed beside the program") << true;
}

void TstHelp::manualStartsViewer()
{
#ifdef Q_OS_WIN
    QSKIP("needs a shell script as the viewer");
#endif
    QFETCH(bool, installed);
    EnvironmentGuard guard;
    expectNoTray();
    MainWindow window;

    // A stand-in viewer that records its arguments in its working directory.
    QTemporaryDir bin;
    QTemporaryDir work;
    QVERIFY(bin.isValid() && work.isValid());
    QVERIFY(writeExecutable(bin.filePath("xchm"), "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > args.txt\n"));
    qputenv("PATH", QFile::encodeName(bin.path()));
    QVERIFY(QDir::setCurrent(work.path()));

    // The installed copy goes where an installation beside this test's folder would put it.
    const QString chmPath = installed ? installedManualPath(QCoreApplication::applicationDirPath())
                                      : work.filePath("Velloran.chm");
    const QString shareFolder = QFileInfo(chmPath).dir().absoluteFilePath("..");
    auto removeInstalled = qScopeGuard([&] {
        if (installed) {
            QFile::remove(chmPath);
            QDir(shareFolder).rmpath("velloran");
        }
    });
    QVERIFY(QDir().mkpath(QFileInfo(chmPath).path()));
    QFile chm(chmPath);
    QVERIFY(chm.open(QIODevice::WriteOnly));
    chm.close();
    const QString argument = installed ? chmPath : QStringLiteral("Velloran.chm");

    ModalCatcher catcher;
    window.findChild<QAction *>("actionManual")->trigger();

    auto *viewer = window.findChild<QProcess *>();
    QVERIFY(viewer);
    QCOMPARE(viewer->program(), bin.filePath("xchm"));
    QCOMPARE(viewer->arguments(), QStringList{argument});
    // The slot returned without waiting for the viewer.
    QVERIFY(viewer->state() != QProcess::NotRunning);

    QTRY_COMPARE(readAll(work.filePath("args.txt")), "[" + QFile::encodeName(argument) + "]\n");
    // Once the viewer has ended, its process object goes.
    QTRY_VERIFY(!window.findChild<QProcess *>());
    QCOMPARE(catcher.count(), 0);
}

void TstHelp::aboutTwice()
{
    expectNoTray();
    expectNoSizeHints(2);
    MainWindow window;
    QList<QPointer<QWidget>> dialogs;
    bool modalAndParented = true;
    auto remember = [&](QWidget *modal) {
        dialogs.append(modal);
        modalAndParented = modalAndParented && modal->isModal() && modal->parentWidget() == &window;
    };

    ModalCatcher catcher;
    // Closed with OK the first time, with Escape the second.
    catcher.expect([&](QWidget *modal) {
        remember(modal);
        modal->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    });
    catcher.expect([&](QWidget *modal) {
        remember(modal);
        QTest::keyClick(modal, Qt::Key_Escape);
    });

    QAction *about = window.findChild<QAction *>("actionAbout");
    about->trigger();
    QCOMPARE(dialogs.size(), 1);
    QVERIFY2(dialogs.first().isNull(), "the first About box outlived its slot");
    about->trigger();

    QCOMPARE(catcher.count(), 2);
    for (const ModalCatcher::Record &record : catcher.records()) {
        QCOMPARE(record.className, QString("DialogAbout"));
        QCOMPARE(record.title, QString("About"));
    }
    QCOMPARE(dialogs.size(), 2);
    QVERIFY(dialogs.last().isNull());
    QVERIFY(modalAndParented);
}

void TstHelp::aboutContents()
{
    DialogAbout dialog;
    QCOMPARE(dialog.windowTitle(), QString("About"));
    QCOMPARE(dialog.findChild<QLabel *>("label_program_name")->text(), QString("Tarnwick Pdf to Image Converter"));
    QCOMPARE(dialog.findChild<QLabel *>("label_version")->text(), QStringLiteral(VELLORAN_PROJECT_VERSION));
    QCOMPARE(dialog.findChild<QLabel *>("label_company_name")->text(), QString("Tarnwick"));

    auto *website = dialog.findChild<QLabel *>("label_website");
    const QRegularExpression link(R"re(^<a href="(https?://[^"]+)">\1</a>$)re");
    QVERIFY2(link.match(website->text()).hasMatch(), qPrintable(website->text()));
    QVERIFY(website->openExternalLinks());

    auto *buttons = dialog.findChild<QDialogButtonBox *>("buttonBox");
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::StandardButtons(QDialogButtonBox::Ok));
    QCOMPARE(buttons->orientation(), Qt::Horizontal);

    // The logo sits left of the texts, at most 128 x 128, above the button row.
    expectNoSizeHints();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *logo = dialog.findChild<QLabel *>("label");
    QVERIFY(!logo->pixmap().isNull());
    QVERIFY(logo->width() <= 128 && logo->height() <= 128);
    QVERIFY(logo->geometry().right() < dialog.findChild<QLabel *>("label_program_name")->geometry().left());
    QVERIFY(logo->geometry().bottom() < buttons->geometry().top());
    dialog.close();
}

void TstHelp::builtManual()
{
    const QString chm = qEnvironmentVariable("VELLORAN_MANUAL");
    if (chm.isEmpty())
        QSKIP("chmcmd was not found, so the manual was not built");
    const QByteArray bytes = readAll(chm);
    QVERIFY2(bytes.startsWith("ITSF"), qPrintable(chm));

    const QStringList pages = projectFiles(QDir(qEnvironmentVariable("VELLORAN_MANUAL_SOURCE")).filePath("Velloran.hhp"));
    QVERIFY(pages.contains("index.html"));
    for (const QString &page : pages)
        QVERIFY2(bytes.contains('/' + page.toLatin1()), qPrintable(page));
}

void TstHelp::manualPagesListed()
{
    const QDir source(qEnvironmentVariable("VELLORAN_MANUAL_SOURCE"));
    QVERIFY(source.exists());
    const QStringList listed = projectFiles(source.filePath("Velloran.hhp"));
    const QByteArray contents = readAll(source.filePath("toc.hhc"));
    const QStringList pages = source.entryList({"*.html"}, QDir::Files);
    QVERIFY(!pages.isEmpty());
    for (const QString &page : pages) {
        QVERIFY2(listed.contains(page), qPrintable(page + " is not in the project"));
        QVERIFY2(contents.contains("\"" + page.toLatin1() + "\""), qPrintable(page + " is not in the contents"));
    }
}

void TstHelp::manualExplainsMessages_data()
{
    QTest::addColumn<QString>("message");
    for (const char *message :
         {"Load Pdf file: ", "Pdf file : ", "Can't get first page from Pdf file : ", "Input pdf document is Null",
          "Please select an Output directory", "Could not make Output directory", "Please input page range",
          "Page number must bigger than zero", "Page number must samller than PDF document's total page count: ",
          "No page is selected to convert",
          "Already in Converting, please wait untill finished or abort to start a new converting",
          "Manual file is lost,please re-install this program to repair it", "Start convert...", "Output: ",
          "User canceled", "Error to save image: ", "All converted", "Convert finished, ", "Minimized"})
        QTest::newRow(message) << QString::fromLatin1(message);
}

void TstHelp::manualExplainsMessages()
{
    QFETCH(QString, message);
    const QDir source(qEnvironmentVariable("VELLORAN_MANUAL_SOURCE"));
    const QString page = QString::fromUtf8(readAll(source.filePath("messages.html"))).simplified();
    QVERIFY(page.contains(message));
}

QTEST_MAIN(TstHelp)

#include "tst_help.moc"
