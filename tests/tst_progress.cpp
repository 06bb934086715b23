#include "app/mainwindow.h"
#include "app/openfolder.h"
#include "support/modalcatcher.h"
#include "support/warnings.h"

#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// The progress dialog and the completion box, driven by the worker's reports.
class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void explorerParameter_data();
    void explorerParameter();
    void openFolderUsesReplacement();

    void dialogSetUp();
    void idleDialogNeverShowsItself();
    void reportsMoveTheDialog();
    void completionOnlyOnLastReport_data();
    void completionOnlyOnLastReport();
    void completionBox();
    void viewInExplorerOpensTheFolder();
    void viewInExplorerWithoutAFileManager();
    void ignoreOpensNothing();
    void abortStopsFurtherReports();

private:
    QProgressDialog *dialog() const { return window->findChild<QProgressDialog *>(); }

    MainWindow *window = nullptr;
    QStringList opened;
    bool opens = true; // what the stand-in file manager answers
};

void TestProgress::init()
{
    failOnUnexpectedWarnings();
    opened.clear();
    opens = true;
    setFolderOpener([this](const QString &folder) {
        opened.append(folder);
        return opens;
    });
    window = new MainWindow;
}

void TestProgress::cleanup()
{
    delete window;
    window = nullptr;
    setFolderOpener(FolderOpener());
}

void TestProgress::explorerParameter_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("parameter");

    QTest::newRow("forward slashes") << "C:/out/images" << "/e,C:\\out\\images";
    QTest::newRow("already native") << "C:\\out" << "/e,C:\\out";
    QTest::newRow("relative") << "out/images" << "/e,out\\images";
    // Longer than the 256-unit buffers a fixed-size call would have used.
    const QString longFolder = "C:/" + QString(300, QLatin1Char('d')) + "/end";
    QTest::newRow("long path kept whole") << longFolder << "/e,C:\\" + QString(300, QLatin1Char('d')) + "\\end";
}

void TestProgress::explorerParameter()
{
    QFETCH(QString, folder);
    QFETCH(QString, parameter);
    QCOMPARE(::explorerParameter(folder), parameter);
}

void TestProgress::openFolderUsesReplacement()
{
    const QString longFolder = "/tmp/" + QString(400, QLatin1Char('x'));
    openFolder(longFolder);
    QCOMPARE(opened, QStringList{longFolder});

    QStringList second;
    const FolderOpener previous = setFolderOpener([&](const QString &folder) {
        second.append(folder);
        return true;
    });
    QVERIFY(previous);
    openFolder(QStringLiteral("/b"));
    QCOMPARE(second, QStringList{"/b"});
    QCOMPARE(opened.size(), 1);
}

void TestProgress::dialogSetUp()
{
    QProgressDialog *progress = dialog();
    QVERIFY(progress);
    QCOMPARE(progress->parentWidget(), window);
    QCOMPARE(progress->labelText(), QStringLiteral("Converting pdf file..."));
    QStringList buttons;
    for (const QPushButton *button : progress->findChildren<QPushButton *>())
        buttons.append(button->text());
    QCOMPARE(buttons, QStringList{"Abort Convert"});
    QCOMPARE(progress->windowModality(), Qt::WindowModal);
    QCOMPARE(progress->minimum(), 0);
    QCOMPARE(progress->maximum(), 0);
    QVERIFY(!progress->isVisible());
}

void TestProgress::idleDialogNeverShowsItself()
{
    // Qt arms a show timer in every new progress dialog; the window's must not be running.
    QProgressDialog plain;
    bool plainArmed = false;
    for (const QTimer *timer : plain.findChildren<QTimer *>())
        plainArmed = plainArmed || timer->isActive();
    QVERIFY(plainArmed);

    for (const QTimer *timer : dialog()->findChildren<QTimer *>())
        QVERIFY(!timer->isActive());
    QVERIFY(!dialog()->isVisible());
    QVERIFY(!dialog()->wasCanceled());
}

void TestProgress::reportsMoveTheDialog()
{
    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    window->ConvertProgress(1, 12);
    QCOMPARE(dialog()->maximum(), 12);
    QCOMPARE(dialog()->value(), 1);
    window->ConvertProgress(3, 12);
    QCOMPARE(dialog()->value(), 3);
    QCOMPARE(dialog()->minimum(), 0);
    QCOMPARE(catcher.count(), 0);
}

void TestProgress::completionOnlyOnLastReport_data()
{
    QTest::addColumn<int>("pages");
    QTest::newRow("one page") << 1;
    QTest::newRow("twelve pages") << 12;
}

void TestProgress::completionOnlyOnLastReport()
{
    QFETCH(int, pages);
    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    for (int i = 1; i < pages; ++i)
        window->ConvertProgress(i, pages);
    QCOMPARE(catcher.count(), 0);

    QMetaObject::invokeMethod(window, "ConvertProgress", Qt::QueuedConnection, Q_ARG(qint32, pages),
                              Q_ARG(qint32, pages));
    QVERIFY(catcher.waitForCount(1));
    QCOMPARE(catcher.last().className, QStringLiteral("QMessageBox"));
    QCOMPARE(catcher.last().title, QStringLiteral("Finished"));
    QCOMPARE(catcher.last().text,
             QStringLiteral("Convert finished, <font color=blue><b>%1</b></font> page converted").arg(pages));
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCOMPARE(catcher.count(), 1);
    QVERIFY(!dialog()->isVisible());
}

void TestProgress::completionBox()
{
    ModalCatcher catcher;
    bool inspected = false;
    catcher.expect([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        inspected = true;
        QCOMPARE(box->parentWidget(), window);
        QCOMPARE(box->icon(), QMessageBox::NoIcon);
        QCOMPARE(box->informativeText(), QString());
        const QList<QAbstractButton *> buttons = box->buttons();
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(buttons.at(0)->text(), QStringLiteral("View in Explorer"));
        QCOMPARE(box->buttonRole(buttons.at(0)), QMessageBox::YesRole);
        QCOMPARE(buttons.at(1)->text(), QStringLiteral("Ignore"));
        QCOMPARE(box->buttonRole(buttons.at(1)), QMessageBox::NoRole);
        QCOMPARE(box->defaultButton(), buttons.at(0));
        box->close();
    });
    QMetaObject::invokeMethod(window, "ConvertProgress", Qt::QueuedConnection, Q_ARG(qint32, 1), Q_ARG(qint32, 1));
    QVERIFY(catcher.waitForCount(1));
    QVERIFY(inspected);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    // Leaving the box without choosing "View in Explorer" opens nothing.
    QVERIFY(opened.isEmpty());
}

void TestProgress::viewInExplorerOpensTheFolder()
{
    ModalCatcher catcher;
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("View in Explorer")));
    QMetaObject::invokeMethod(window, "ConvertProgress", Qt::QueuedConnection, Q_ARG(qint32, 2), Q_ARG(qint32, 2));
    QVERIFY(catcher.waitForCount(1));
    // No request has passed the folder check in this window, so the folder is empty.
    QTRY_COMPARE(opened, QStringList{QString()});
}

// No desktop opener is installed: the window says what to install.
void TestProgress::viewInExplorerWithoutAFileManager()
{
    opens = false;
    ModalCatcher catcher;
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("View in Explorer")));
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("OK")));
    QMetaObject::invokeMethod(window, "ConvertProgress", Qt::QueuedConnection, Q_ARG(qint32, 2), Q_ARG(qint32, 2));
    QVERIFY(catcher.waitForCount(2));
    QCOMPARE(catcher.last().className, QStringLiteral("QMessageBox"));
    QCOMPARE(catcher.last().title, QStringLiteral("Failed"));
    QCOMPARE(catcher.last().text, QStringLiteral("No file manager could be started to show .\n"
                                                 "Install xdg-utils (Debian: sudo apt-get install xdg-utils) and try again."));
    QTRY_VERIFY(!QApplication::activeModalWidget());
}

void TestProgress::ignoreOpensNothing()
{
    ModalCatcher catcher;
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("Ignore")));
    QMetaObject::invokeMethod(window, "ConvertProgress", Qt::QueuedConnection, Q_ARG(qint32, 2), Q_ARG(qint32, 2));
    QVERIFY(catcher.waitForCount(1));
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCoreApplication::processEvents();
    QVERIFY(opened.isEmpty());
}

void TestProgress::abortStopsFurtherReports()
{
    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    window->ConvertProgress(1, 12);
    QPushButton *abort = dialog()->findChild<QPushButton *>();
    QVERIFY(abort);
    abort->click();
    QVERIFY(!dialog()->isVisible());
    const int valueAfterAbort = dialog()->value();
    QVERIFY(valueAfterAbort != 1);

    // A report already queued when the user aborted neither moves the dialog
    // (which would bring it back) nor, for the last page, shows the completion box.
    window->ConvertProgress(2, 12);
    QCOMPARE(dialog()->value(), valueAfterAbort);
    window->ConvertProgress(12, 12);
    QCoreApplication::processEvents();
    QVERIFY(!dialog()->isVisible());
    QCOMPARE(catcher.count(), 0);
}

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
