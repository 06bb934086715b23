#include "app/mainwindow.h"
#include "app/openfolder.h"
#include "config/config.h"
#include "config/settingskeys.h"
#include "support/dragdrop.h"
#include "support/filechange.h"
#include "support/modalcatcher.h"
#include "support/pdfmaker.h"
#include "support/warnings.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

// The Convert button: the checks in their order, the job, the run.
class TestRequest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void noDocumentIsToldFirst_data();
    void noDocumentIsToldFirst();
    void folderCheck_data();
    void folderCheck();
    void folderCreatedBeforePageListError_data();
    void folderCreatedBeforePageListError();
    void noPageSelected();
    void typedFolderUsedAsTyped();
    void twelvePageRun();
    void ignoreOpensNothing();
    void secondConvertDuringRun();
    void cancelledRunThenNewRun();
    void everyRunShowsItsDialog();
    void unfinishedRunSaysWhy_data();
    void unfinishedRunSaysWhy();
    void documentUntouchedDuringRun();
    void changedFileIsOpenedAgain_data();
    void changedFileIsOpenedAgain();
    void endToEnd();

private:
    template<typename T>
    T *child(const char *name) const
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }
    QString makeDocument(const QString &name, int pages);
    void openDocument(const QString &path);
    void choosePages(const QString &text);
    void setFolder(const QString &folder);
    // Presses Convert with the catcher running; returns the boxes it showed.
    QList<ModalCatcher::Record> pressConvert();
    QStringList filesIn(const QString &folder) const;
    // Cancels a run still going and waits until the window has taken it back.
    void stopRun();
    static void clearFolderHistory();

    QVariant savedRecentInputDir;
    QTemporaryDir *tempDir = nullptr;
    MainWindow *window = nullptr;
    QStringList opened;
};

void TestRequest::initTestCase()
{
    savedRecentInputDir = g_config.value(QLatin1String(SettingsKeys::recentInputDir));
}

void TestRequest::cleanupTestCase()
{
    g_config.setValue(QLatin1String(SettingsKeys::recentInputDir), savedRecentInputDir);
}

void TestRequest::clearFolderHistory()
{
    for (int slot = 0; slot < SettingsKeys::outputDirSlots; ++slot)
        g_config.setValue(SettingsKeys::outputDir(slot), QString());
}

void TestRequest::init()
{
    failOnUnexpectedWarnings();
    clearFolderHistory();
    tempDir = new QTemporaryDir;
    QVERIFY(tempDir->isValid());
    opened.clear();
    setFolderOpener([this](const QString &folder) {
        opened.append(folder);
        return true;
    });
    window = new MainWindow;
}

void TestRequest::cleanup()
{
    if (window)
        stopRun();
    delete window;
    window = nullptr;
    delete tempDir;
    tempDir = nullptr;
    setFolderOpener(FolderOpener());
    clearFolderHistory();
    for (QWidget *top : QApplication::topLevelWidgets())
        QVERIFY2(!top->isVisible(), top->metaObject()->className());
}

QString TestRequest::makeDocument(const QString &name, int pages)
{
    const QString path = tempDir->filePath(name);
    if (!makePdf(path, pages))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestRequest::openDocument(const QString &path)
{
    ModalCatcher catcher;
    catcher.expect(ModalCatcher::chooseFile(path));
    // The click returns once the file dialog's loop has ended.
    child<QToolButton>("toolButton_select_input_file")->click();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(child<QLineEdit>("lineEdit_input_file")->text(), path);
}

void TestRequest::choosePages(const QString &text)
{
    child<QRadioButton>("radioButton_page_range_between")->click();
    QLineEdit *pages = child<QLineEdit>("lineEdit_pages_between");
    pages->clear();
    QTest::keyClicks(pages, text);
    QCOMPARE(pages->text(), text);
}

void TestRequest::setFolder(const QString &folder)
{
    child<QComboBox>("comboBox_output_folder")->setEditText(folder);
}

QList<ModalCatcher::Record> TestRequest::pressConvert()
{
    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    bool returned = false;
    // Every box of a request is shown inside the slot, so all are caught once it returns.
    QTimer::singleShot(0, window, [&] {
        child<QPushButton>("pushButton_convert")->click();
        returned = true;
    });
    if (!QTest::qWaitFor([&] { return returned; }, 20000))
        qWarning("Convert did not return");
    return catcher.records();
}

QStringList TestRequest::filesIn(const QString &folder) const
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

void TestRequest::stopRun()
{
    QToolButton *fileButton = child<QToolButton>("toolButton_select_input_file");
    if (!window->conversionRunning() && fileButton->isEnabled())
        return;
    window->findChild<QProgressDialog *>()->findChild<QPushButton *>()->click(); // "Abort Convert"
    QTRY_VERIFY_WITH_TIMEOUT(!window->conversionRunning(), 60000);
    QTRY_VERIFY(fileButton->isEnabled());
}

void TestRequest::noDocumentIsToldFirst_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("no folder") << QString();
    QTest::newRow("missing folder") << "missing/deeper";
}

void TestRequest::noDocumentIsToldFirst()
{
    QFETCH(QString, folder);
    const QString folderPath = folder.isEmpty() ? folder : tempDir->filePath(folder);
    setFolder(folderPath);
    child<QLineEdit>("lineEdit_pages_between")->setStyleSheet(QStringLiteral("background-color:yellow"));

    const QList<ModalCatcher::Record> boxes = pressConvert();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.at(0).className, QStringLiteral("QMessageBox"));
    QCOMPARE(boxes.at(0).title, QStringLiteral("Note"));
    QCOMPARE(boxes.at(0).text, QStringLiteral("Input pdf document is Null"));
    QCOMPARE(child<QLineEdit>("lineEdit_pages_between")->styleSheet(), QString());
    if (!folder.isEmpty())
        QVERIFY(!QDir(folderPath).exists());
}

void TestRequest::folderCheck_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QString() << "Please select an Output directory";
    // A regular file stands where a parent folder would have to be made.
    QTest::newRow("cannot be made") << "blocker/out" << "Could not make Output directory";
}

void TestRequest::folderCheck()
{
    QFETCH(QString, folder);
    QFETCH(QString, text);
    openDocument(makeDocument("doc.pdf", 2));
    QFile blocker(tempDir->filePath("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    setFolder(folder.isEmpty() ? folder : tempDir->filePath(folder));
    child<QLineEdit>("lineEdit_pages_between")->setStyleSheet(QStringLiteral("background-color:yellow"));

    const QList<ModalCatcher::Record> boxes = pressConvert();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.at(0).title, QStringLiteral("Note"));
    QCOMPARE(boxes.at(0).text, text);
    QCOMPARE(child<QLineEdit>("lineEdit_pages_between")->styleSheet(), QString());
    QVERIFY(!window->conversionRunning());
}

void TestRequest::folderCreatedBeforePageListError_data()
{
    QTest::addColumn<QString>("pages");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty list") << "" << "Note" << "Please input page range";
    QTest::newRow("page zero") << "0" << "Error" << "Page number must bigger than zero";
    QTest::newRow("beyond the document")
        << "2,12" << "Error"
        << "Page number must samller than PDF document's total page count: <font color=blue><b>3</b></font>";
}

void TestRequest::folderCreatedBeforePageListError()
{
    QFETCH(QString, pages);
    QFETCH(QString, title);
    QFETCH(QString, text);
    openDocument(makeDocument("doc.pdf", 3));
    const QString folder = tempDir->filePath("new/nested/out");
    setFolder(folder);
    choosePages(pages);

    const QList<ModalCatcher::Record> boxes = pressConvert();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.at(0).title, title);
    QCOMPARE(boxes.at(0).text, text);
    QVERIFY(QDir(folder).exists());
    QCOMPARE(child<QLineEdit>("lineEdit_pages_between")->styleSheet(), QStringLiteral("background-color:yellow"));
    QVERIFY(!window->conversionRunning());
    QCOMPARE(filesIn(folder), QStringList());
}

void TestRequest::noPageSelected()
{
    openDocument(makeDocument("doc.pdf", 3));
    const QString folder = tempDir->filePath("out");
    setFolder(folder);
    choosePages(QStringLiteral("4-"));
    child<QLineEdit>("lineEdit_pages_between")->setStyleSheet(QStringLiteral("background-color:yellow"));

    const QList<ModalCatcher::Record> boxes = pressConvert();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.at(0).title, QStringLiteral("Note"));
    QCOMPARE(boxes.at(0).text, QStringLiteral("No page is selected to convert"));
    QCOMPARE(child<QLineEdit>("lineEdit_pages_between")->styleSheet(), QString());
    QVERIFY(QDir(folder).exists());
    QVERIFY(!window->conversionRunning());
}

void TestRequest::typedFolderUsedAsTyped()
{
    openDocument(makeDocument("doc.pdf", 2));
    const QString typed = tempDir->path() + "/typed//out/";
    setFolder(typed);
    child<QSpinBox>("spinBox_resolution")->setValue(20);

    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("View in Explorer")));
    child<QPushButton>("pushButton_convert")->click();
    QVERIFY(catcher.waitForCount(1));
    QCOMPARE(catcher.last().title, QStringLiteral("Finished"));
    QTRY_COMPARE(opened, QStringList{typed});
    QCOMPARE(filesIn(tempDir->filePath("typed/out")), (QStringList{"doc_1.jpg", "doc_2.jpg"}));
    // Typed folders do not enter the history.
    QCOMPARE(child<QComboBox>("comboBox_output_folder")->count(), 0);
    QCOMPARE(g_config.value(SettingsKeys::outputDir(0)).toString(), QString());
}

void TestRequest::twelvePageRun()
{
    openDocument(makeDocument("report.pdf", 12));
    const QString folder = tempDir->filePath("out");
    setFolder(folder);
    child<QComboBox>("comboBox_output_type")->setCurrentText(QStringLiteral("PNG format"));
    child<QSpinBox>("spinBox_resolution")->setValue(20);
    QSignalSpy status(child<QStatusBar>("statusBar"), &QStatusBar::messageChanged);

    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("View in Explorer")));
    child<QPushButton>("pushButton_convert")->click();
    QVERIFY(window->conversionRunning());
    QVERIFY(catcher.waitForCount(1, 60000));
    QTRY_VERIFY(!window->conversionRunning());
    QTRY_VERIFY(child<QToolButton>("toolButton_select_input_file")->isEnabled());

    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.last().title, QStringLiteral("Finished"));
    QCOMPARE(catcher.last().text, QStringLiteral("Convert finished, <font color=blue><b>12</b></font> page converted"));
    QCOMPARE(opened, QStringList{folder});
    QStringList expected;
    for (int page = 1; page <= 12; ++page)
        expected.append(QStringLiteral("report_%1.png").arg(page));
    expected.sort();
    QCOMPARE(filesIn(folder), expected);
    QTRY_COMPARE(status.last().at(0).toString(), QStringLiteral("All converted"));
    QVERIFY(!window->findChild<QProgressDialog *>()->isVisible());
}

void TestRequest::ignoreOpensNothing()
{
    openDocument(makeDocument("doc.pdf", 1));
    const QString folder = tempDir->filePath("out");
    setFolder(folder);
    child<QSpinBox>("spinBox_resolution")->setValue(20);

    ModalCatcher catcher;
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("Ignore")));
    child<QPushButton>("pushButton_convert")->click();
    QVERIFY(catcher.waitForCount(1, 60000));
    QCOMPARE(catcher.last().text, QStringLiteral("Convert finished, <font color=blue><b>1</b></font> page converted"));
    QTRY_VERIFY(!window->conversionRunning());
    QVERIFY(opened.isEmpty());

    // The folder of the last request stays as it was: a second run opens it unchanged.
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("View in Explorer")));
    child<QPushButton>("pushButton_convert")->click();
    QVERIFY(catcher.waitForCount(2, 60000));
    QTRY_COMPARE(opened, QStringList{folder});
}

void TestRequest::secondConvertDuringRun()
{
    openDocument(makeDocument("doc.pdf", 20));
    const QString first = tempDir->filePath("first");
    const QString second = tempDir->filePath("second");
    setFolder(first);
    child<QSpinBox>("spinBox_resolution")->setValue(40);
    child<QComboBox>("comboBox_output_type")->setCurrentText(QStringLiteral("PNG format"));

    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("OK")));
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("View in Explorer")));
    child<QPushButton>("pushButton_convert")->click();
    QVERIFY(window->conversionRunning());
    // Everything changed for the second request; the run in progress keeps its own job.
    setFolder(second);
    child<QComboBox>("comboBox_output_type")->setCurrentText(QStringLiteral("BMP format"));
    child<QSpinBox>("spinBox_resolution")->setValue(300);
    choosePages(QStringLiteral("1"));
    QLineEdit *pages = child<QLineEdit>("lineEdit_pages_between");
    pages->setStyleSheet(QStringLiteral("background-color:yellow"));
    child<QPushButton>("pushButton_convert")->click();
    QCOMPARE(pages->styleSheet(), QString());
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.last().title, QStringLiteral("Processing"));
    QCOMPARE(catcher.last().text,
             QStringLiteral("Already in Converting, please wait untill finished or abort to start a new converting"));

    QVERIFY(catcher.waitForCount(2, 60000));
    QCOMPARE(catcher.last().text, QStringLiteral("Convert finished, <font color=blue><b>20</b></font> page converted"));
    QTRY_VERIFY(!window->conversionRunning());
    QCOMPARE(filesIn(first).size(), 20);
    QCOMPARE(filesIn(first).filter(QStringLiteral(".png")).size(), 20);
    // A4 at the run's 40 dpi, not the 300 dpi set afterwards.
    QCOMPARE(QImage(QDir(first).filePath("doc_20.png")).size(), QSize(331, 468));
    QCOMPARE(filesIn(second), QStringList());
    // "View in Explorer" shows where the run wrote its files.
    QCOMPARE(opened, QStringList{first});
}

void TestRequest::cancelledRunThenNewRun()
{
    openDocument(makeDocument("doc.pdf", 30));
    const QString folder = tempDir->filePath("out");
    setFolder(folder);
    child<QSpinBox>("spinBox_resolution")->setValue(150);
    QSignalSpy status(child<QStatusBar>("statusBar"), &QStatusBar::messageChanged);

    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    child<QPushButton>("pushButton_convert")->click();
    QVERIFY(window->conversionRunning());
    auto *progress = window->findChild<QProgressDialog *>();
    progress->findChild<QPushButton *>()->click(); // "Abort Convert"
    QTRY_VERIFY_WITH_TIMEOUT(!window->conversionRunning(), 60000);
    QTRY_COMPARE(status.last().at(0).toString(), QStringLiteral("User canceled"));
    QVERIFY(filesIn(folder).size() < 30);
    QCOMPARE(catcher.count(), 0);

    for (const QString &file : filesIn(folder))
        QVERIFY(QFile::remove(QDir(folder).filePath(file)));
    child<QSpinBox>("spinBox_resolution")->setValue(20);
    choosePages(QStringLiteral("2-4"));
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("Ignore")));
    child<QPushButton>("pushButton_convert")->click();
    QVERIFY(catcher.waitForCount(1, 60000));
    QCOMPARE(catcher.last().text, QStringLiteral("Convert finished, <font color=blue><b>3</b></font> page converted"));
    QTRY_VERIFY(!window->conversionRunning());
    QCOMPARE(filesIn(folder), (QStringList{"doc_2.jpg", "doc_3.jpg", "doc_4.jpg"}));
}

// The dialog is reused from run to run; a short run must not leave it in a
// state where the next, long one never shows it.
void TestRequest::everyRunShowsItsDialog()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    openDocument(makeDocument("doc.pdf", 42));
    setFolder(tempDir->filePath("out"));
    auto *progress = window->findChild<QProgressDialog *>();
    // Shown after a tenth of a second rather than Qt's four, to keep the test short.
    progress->setMinimumDuration(100);
    QSignalSpy status(child<QStatusBar>("statusBar"), &QStatusBar::messageChanged);

    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("Ignore")));
    child<QSpinBox>("spinBox_resolution")->setValue(20);
    child<QRadioButton>("radioButton_page_range_cur_page")->click();
    child<QPushButton>("pushButton_convert")->click();
    QVERIFY(catcher.waitForCount(1, 60000));
    QTRY_VERIFY(!window->conversionRunning());

    child<QSpinBox>("spinBox_resolution")->setValue(300);
    child<QRadioButton>("radioButton_page_range_all_pages")->click();
    child<QPushButton>("pushButton_convert")->click();
    QTRY_VERIFY_WITH_TIMEOUT(progress->isVisible(), 20000);
    QVERIFY(window->conversionRunning());
    QCOMPARE(progress->maximum(), 42);
    progress->findChild<QPushButton *>()->click(); // "Abort Convert"
    QTRY_VERIFY_WITH_TIMEOUT(!window->conversionRunning(), 60000);
    QTRY_COMPARE(status.last().at(0).toString(), QStringLiteral("User canceled"));
    QVERIFY(!progress->isVisible());
    QCOMPARE(catcher.count(), 1);
    window->hide();
}

// A run that cannot reach its last page takes its dialog down and says why.
void TestRequest::unfinishedRunSaysWhy_data()
{
    QTest::addColumn<QString>("document"); // a fixture, or a generated one-page file
    QTest::addColumn<int>("resolution");
    QTest::addColumn<QString>("blocker");  // a folder in the way of this output name
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("statusLine");

    QTest::newRow("page tree promises a page it lacks")
        << "count-3-two-kids.pdf" << 20 << QString() << "Finished"
        << "Convert finished, <font color=blue><b>2</b></font> page converted<br>Pages that could not be drawn: 3"
        << "2 page converted, pages that could not be drawn: 3";
    QTest::newRow("page too large")
        << QString() << 999999 << QString() << "Error" << "Page 1 is too large to render at 999999 dpi,stoped"
        << "Page 1 is too large to render at 999999 dpi,stoped";
    QTest::newRow("save fails")
        << QString() << 20 << "doc_1.jpg" << "Error" << "Error to save image: %1,stoped"
        << "Error to save image: %1,stoped";
}

void TestRequest::unfinishedRunSaysWhy()
{
    QFETCH(QString, document);
    QFETCH(int, resolution);
    QFETCH(QString, blocker);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, statusLine);

    openDocument(document.isEmpty() ? makeDocument("doc.pdf", 1)
                                    : qEnvironmentVariable("VELLORAN_TEST_DATA") + QLatin1Char('/') + document);
    const QDir folder(tempDir->filePath("out"));
    if (!blocker.isEmpty()) {
        QVERIFY(folder.mkpath(blocker));
        text = text.arg(folder.absoluteFilePath(blocker));
        statusLine = statusLine.arg(folder.absoluteFilePath(blocker));
    }
    setFolder(folder.path());
    child<QSpinBox>("spinBox_resolution")->setValue(resolution);
    QSignalSpy status(child<QStatusBar>("statusBar"), &QStatusBar::messageChanged);

    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    catcher.expect(ModalCatcher::clickButton(title == "Finished" ? QStringLiteral("Ignore") : QStringLiteral("OK")));
    child<QPushButton>("pushButton_convert")->click();
    QVERIFY(catcher.waitForCount(1, 60000));
    QCOMPARE(catcher.last().title, title);
    QCOMPARE(catcher.last().text, text);
    QTRY_VERIFY(!window->conversionRunning());
    QVERIFY(!window->findChild<QProgressDialog *>()->isVisible());
    QCOMPARE(status.last().at(0).toString(), statusLine);
    QVERIFY(opened.isEmpty());
}

void TestRequest::documentUntouchedDuringRun()
{
    const QString path = makeDocument("doc.pdf", 30);
    openDocument(path);
    const QString folder = tempDir->filePath("out");
    setFolder(folder);
    child<QSpinBox>("spinBox_resolution")->setValue(300);
    QToolButton *fileButton = child<QToolButton>("toolButton_select_input_file");
    QPushButton *next = child<QPushButton>("pushButton_preview_next");
    QPushButton *previous = child<QPushButton>("pushButton_preview_previous");
    QLabel *pageInfo = child<QLabel>("label_pdf_page_info");
    QVERIFY(next->isEnabled());
    const QString pageInfoBefore = pageInfo->text();

    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    child<QPushButton>("pushButton_convert")->click();
    QVERIFY(window->conversionRunning());
    QVERIFY(!fileButton->isEnabled());
    QVERIFY(!next->isEnabled());
    QVERIFY(!previous->isEnabled());
    QVERIFY(child<QPushButton>("pushButton_convert")->isEnabled());

    // Even when reached past the disabled buttons, the slots leave the document alone.
    for (QAbstractButton *button : {static_cast<QAbstractButton *>(fileButton), static_cast<QAbstractButton *>(next)}) {
        button->setEnabled(true);
        button->click();
        button->setEnabled(false);
    }
    QMetaObject::invokeMethod(window, "on_pushButton_preview_previous_clicked");
    QMetaObject::invokeMethod(window, "makePreview");
    // A file dropped on the window is refused as the Select button is.
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(makeDocument("other.pdf", 1))});
    QCOMPARE(sendDragEnter(window, dropped), Qt::IgnoreAction);
    QCOMPARE(sendDrop(window, dropped), Qt::IgnoreAction);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(pageInfo->text(), pageInfoBefore);
    QCOMPARE(child<QLineEdit>("lineEdit_input_file")->text(), path);
    QVERIFY(window->conversionRunning());

    stopRun();
    QVERIFY(fileButton->isEnabled());
    QVERIFY(next->isEnabled());
    QVERIFY(!previous->isEnabled());
    next->click();
    QCOMPARE(pageInfo->text(), QStringLiteral("Page: <font color=blue><b>2</b></font> Total: <font color=blue><b>30</b></font>"));
    // Every file the run left behind is whole.
    for (const QString &file : filesIn(folder))
        QVERIFY2(!QImage(QDir(folder).filePath(file)).isNull(), qPrintable(file));
}

// A file exported again while the window has it open: its pages are drawn
// from the path, so under the old page count the pages it gained would be
// left out and the report would say the run was whole.
void TestRequest::changedFileIsOpenedAgain_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("replaced by a longer one") << "replaced";
    QTest::newRow("rewritten in place") << "rewritten";
    QTest::newRow("removed") << "removed";
}

void TestRequest::changedFileIsOpenedAgain()
{
    QFETCH(QString, change);
    const QString path = makeDocument("doc.pdf", 3);
    openDocument(path);
    const QString folder = tempDir->filePath("out");
    setFolder(folder);
    child<QSpinBox>("spinBox_resolution")->setValue(20);

    const QString longer = makeDocument("longer.pdf", 5);
    if (change == "replaced") {
        QVERIFY(replaceFile(path, longer));
    } else if (change == "rewritten") {
        QVERIFY(rewriteInPlace(path, longer));
    } else {
        QVERIFY(QFile::remove(path));
    }

    const QList<ModalCatcher::Record> boxes = pressConvert();
    QVERIFY(!window->conversionRunning());
    QCOMPARE(filesIn(folder), QStringList());
    QCOMPARE(boxes.size(), 1);
    if (change == "removed") {
        QCOMPARE(boxes.at(0).title, QStringLiteral("Error"));
        QCOMPARE(boxes.at(0).text, QStringLiteral("Load Pdf file: %1 failed").arg(path));
        QCOMPARE(child<QLineEdit>("lineEdit_input_file")->text(), QString());
        return;
    }
    QVERIFY2(boxes.at(0).title == QStringLiteral("Note"), qPrintable(boxes.at(0).text));
    QCOMPARE(boxes.at(0).text, QStringLiteral("The file %1 has changed since it was opened. It has been opened "
                                              "again: check its pages and press Convert again")
                                   .arg(path));
    QVERIFY2(child<QLabel>("label_pdf_page_info")->text().endsWith(
                 QStringLiteral("Total: <font color=blue><b>5</b></font>")),
             qPrintable(child<QLabel>("label_pdf_page_info")->text()));

    // Pressed again, the file as it is now is converted whole.
    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("Ignore")));
    child<QPushButton>("pushButton_convert")->click();
    QVERIFY(catcher.waitForCount(1, 60000));
    QCOMPARE(catcher.last().text, QStringLiteral("Convert finished, <font color=blue><b>5</b></font> page converted"));
    QTRY_VERIFY(!window->conversionRunning());
    QCOMPARE(filesIn(folder), (QStringList{"doc_1.jpg", "doc_2.jpg", "doc_3.jpg", "doc_4.jpg", "doc_5.jpg"}));
}

void TestRequest::endToEnd()
{
    const QString path = makeDocument("e2e.pdf", 6);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    openDocument(path);

    const QString folder = tempDir->filePath("chosen");
    QVERIFY(QDir().mkpath(folder));
    {
        ModalCatcher catcher;
        catcher.expect(ModalCatcher::chooseFile(folder));
        QTest::mouseClick(child<QToolButton>("toolButton_select_output_folder"), Qt::LeftButton);
        QCOMPARE(catcher.count(), 1);
    }
    QCOMPARE(child<QComboBox>("comboBox_output_folder")->currentText(), folder);

    QComboBox *type = child<QComboBox>("comboBox_output_type");
    type->setFocus();
    type->setCurrentIndex(1);
    QCOMPARE(type->currentText(), QStringLiteral("PNG format"));
    QSpinBox *resolution = child<QSpinBox>("spinBox_resolution");
    resolution->selectAll();
    QTest::keyClicks(resolution, QStringLiteral("36"));
    QCOMPARE(resolution->value(), 36);
    QTest::mouseClick(child<QRadioButton>("radioButton_page_range_between"), Qt::LeftButton);
    QLineEdit *pages = child<QLineEdit>("lineEdit_pages_between");
    pages->selectAll();
    QTest::keyClicks(pages, QStringLiteral("5,2-3"));
    QCOMPARE(pages->text(), QStringLiteral("5,2-3"));

    QSignalSpy status(child<QStatusBar>("statusBar"), &QStatusBar::messageChanged);
    ModalCatcher catcher;
    catcher.ignoreClass(QStringLiteral("QProgressDialog"));
    catcher.expect(ModalCatcher::clickButton(QStringLiteral("View in Explorer")));
    QTest::mouseClick(child<QPushButton>("pushButton_convert"), Qt::LeftButton);
    QVERIFY(catcher.waitForCount(1, 60000));
    QCOMPARE(catcher.last().text, QStringLiteral("Convert finished, <font color=blue><b>3</b></font> page converted"));
    QTRY_VERIFY(!window->conversionRunning());
    QTRY_COMPARE(status.last().at(0).toString(), QStringLiteral("All converted"));

    QStringList lines;
    for (const QList<QVariant> &signal : status)
        lines.append(signal.at(0).toString());
    QCOMPARE(lines, (QStringList{"Start convert...", "Output: e2e_5.png", "Output: e2e_2.png", "Output: e2e_3.png",
                                 "All converted"}));
    QCOMPARE(filesIn(folder), (QStringList{"e2e_2.png", "e2e_3.png", "e2e_5.png"}));
    // A4 at 36 dpi: 595 x 842 points scaled by 36/72.
    const QImage page(QDir(folder).filePath("e2e_5.png"));
    QCOMPARE(page.size(), QSize(298, 421));
    QCOMPARE(opened, QStringList{folder});
    window->hide();
}

QTEST_MAIN(TestRequest)
#include "tst_request.moc"
