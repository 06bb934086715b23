#include "app/mainwindow.h"
#include "config/config.h"
#include "config/settingskeys.h"
#include "engine/nativepath.h"
#include "engine/render/pdfdocument.h"
#include "support/dragdrop.h"
#include "support/modalcatcher.h"
#include "support/pdfmaker.h"
#include "support/warnings.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <cstdio>
#include <memory>

namespace {

// Arguments as the system hands them over, each path's own bytes.
QList<NativePath> commandLine(const QStringList &arguments)
{
    QList<NativePath> bytes;
    for (const QString &argument : arguments)
        bytes << NativePath(nativePath(argument));
    return bytes;
}

const QString recentKey = QLatin1String(SettingsKeys::recentInputDir);

QString counterText(int page, int total)
{
    return QStringLiteral("Page: <font color=blue><b>%1</b></font> Total: <font color=blue><b>%2</b></font>")
        .arg(page)
        .arg(total);
}

QString onOff(bool enabled)
{
    return enabled ? QStringLiteral("on") : QStringLiteral("off");
}

// What the settings file on disk says. Settings objects on one file share their
// unsaved changes within a process, so a copy of the file is read.
QString recentInputDirOnDisk()
{
    QTemporaryDir scratch;
    const QString copy = scratch.filePath(QStringLiteral("copy.ini"));
    if (!QFile::copy(g_config.fileName(), copy))
        return QStringLiteral("<no settings file>");
    return QSettings(copy, QSettings::IniFormat).value(recentKey).toString();
}

void setRecentInputDir(const QString &folder)
{
    g_config.setValue(recentKey, folder);
    g_config.sync();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// This process's children: the preview's workers.
QStringList childProcesses()
{
    QStringList children;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/children")));
        if (file.open(QIODevice::ReadOnly))
            children << QString::fromLatin1(file.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return children;
}

QString fixture(const QString &name)
{
    return qEnvironmentVariable("VELLORAN_TEST_DATA") + QLatin1Char('/') + name;
}

// The first half of a three-page document: pages without a page tree or a cross-reference table.
QByteArray truncatedPdf()
{
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("whole.pdf"));
    QFile file(path);
    if (!makePdf(path, 3) || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray whole = file.readAll();
    return whole.left(whole.size() / 2);
}

struct DialogSeen
{
    bool shown = false;
    QString title;
    QString folder;
    QStringList filters;
    QString selectedFilter;
};

struct BoxSeen
{
    bool shown = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

} // namespace

class TestDocument : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openValidDocument_data();
    void openValidDocument();
    void dialogStartsInRecentFolder();
    void refusedFile_data();
    void refusedFile();
    void documentWithoutFirstPage_data();
    void documentWithoutFirstPage();
    void ownerPasswordOnlyOpens();
    void unusualPaths_data();
    void unusualPaths();
    void cancelClosesOpenDocument();
    void previewFitsLabel_data();
    void previewFitsLabel();
    void posterPreviewedAtLabelSize();
    void navigateThreePages();
    void navigationWithoutDocumentDoesNothing();
    void renderFailureWhileNavigatingClosesDocument();
    void openedFromOutside_data();
    void openedFromOutside();
    void openedByAnyName_data();
    void openedByAnyName();
    void commandLineArguments_data();
    void commandLineArguments();
    void dropRefused_data();
    void dropRefused();
    void previewCrashFailsAlone_data();
    void previewCrashFailsAlone();
    void windowAnswersWhilePreviewHangs();

private:
    // Presses the input file button and answers the open-file dialog with path.
    // When a message box is expected (box given), it is described there and closed with OK.
    void openThroughDialog(const QString &path, DialogSeen *dialog = nullptr, BoxSeen *box = nullptr,
                           const QString &nameFilter = QString(),
                           const std::function<void()> &afterChoosing = nullptr);
    void cancelDialog();
    void clickForced(const char *buttonName);
    QString viewState() const;
    static QString documentState(const QString &path, int page, int total, bool previous, bool next);
    static QString noDocumentState(const QString &path = QString());
    QImage previewImage() const;

    template<class T>
    T *widget(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }

    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ModalCatcher> catcher;
};

void TestDocument::init()
{
    failOnUnexpectedWarnings();
    setRecentInputDir(QString());
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    catcher = std::make_unique<ModalCatcher>();
}

void TestDocument::cleanup()
{
    catcher.reset();
    window.reset();
    dir.reset();
    setRecentInputDir(QString());
    for (QWidget *top : QApplication::topLevelWidgets())
        QVERIFY2(!top->isVisible(), qPrintable(top->metaObject()->className()));
}

void TestDocument::openThroughDialog(const QString &path, DialogSeen *dialog, BoxSeen *box,
                                     const QString &nameFilter, const std::function<void()> &afterChoosing)
{
    catcher->expect([=](QWidget *modal) {
        auto *fileDialog = qobject_cast<QFileDialog *>(modal);
        if (dialog && fileDialog) {
            dialog->shown = true;
            dialog->title = fileDialog->windowTitle();
            dialog->folder = fileDialog->directory().absolutePath();
            dialog->filters = fileDialog->nameFilters();
            dialog->selectedFilter = fileDialog->selectedNameFilter();
        }
        if (fileDialog && !nameFilter.isEmpty())
            fileDialog->selectNameFilter(nameFilter);
        ModalCatcher::chooseFile(path)(modal);
        if (afterChoosing)
            afterChoosing();
    });
    if (!box) {
        // An unexpected box is still recorded and closed by the catcher.
        widget<QToolButton>("toolButton_select_input_file")->click();
        return;
    }
    catcher->expect([=](QWidget *modal) {
        auto *messageBox = qobject_cast<QMessageBox *>(modal);
        if (messageBox) {
            box->shown = true;
            box->icon = messageBox->icon();
            box->buttons = messageBox->standardButtons();
        }
        ModalCatcher::clickButton(QStringLiteral("OK"))(modal);
    });
    // The click returns only after every modal loop it started has ended.
    widget<QToolButton>("toolButton_select_input_file")->click();
}

void TestDocument::cancelDialog()
{
    catcher->expect(ModalCatcher::cancelDialog());
    widget<QToolButton>("toolButton_select_input_file")->click();
}

// The slots must guard themselves whatever state their buttons are in.
void TestDocument::clickForced(const char *buttonName)
{
    auto *button = widget<QPushButton>(buttonName);
    const bool enabled = button->isEnabled();
    button->setEnabled(true);
    button->click();
    button->setEnabled(enabled && button->isEnabled());
}

QString TestDocument::viewState() const
{
    return QStringLiteral("path [%1] counter [%2] previous %3 next %4")
        .arg(widget<QLineEdit>("lineEdit_input_file")->text(), widget<QLabel>("label_pdf_page_info")->text(),
             onOff(widget<QPushButton>("pushButton_preview_previous")->isEnabled()),
             onOff(widget<QPushButton>("pushButton_preview_next")->isEnabled()));
}

QString TestDocument::documentState(const QString &path, int page, int total, bool previous, bool next)
{
    return QStringLiteral("path [%1] counter [%2] previous %3 next %4")
        .arg(path, counterText(page, total), onOff(previous), onOff(next));
}

QString TestDocument::noDocumentState(const QString &path)
{
    return QStringLiteral("path [%1] counter [] previous off next off").arg(path);
}

QImage TestDocument::previewImage() const
{
    return widget<QLabel>("label_preview")->pixmap().toImage();
}

void TestDocument::openValidDocument_data()
{
    QTest::addColumn<int>("pages");
    QTest::addColumn<qint64>("claimed"); // by a linearization dictionary; 0: none
    QTest::newRow("one page") << 1 << qint64(0);
    QTest::newRow("three pages") << 3 << qint64(0);
    QTest::newRow("twenty pages") << 20 << qint64(0);
    // The page tree's count is shown, not the claim.
    QTest::newRow("one page claiming two billion") << 1 << qint64(2000000000);
}

void TestDocument::openValidDocument()
{
    QFETCH(int, pages);
    QFETCH(qint64, claimed);
    const QString path = dir->filePath(QStringLiteral("report.pdf"));
    QVERIFY(claimed ? makeLinearizedPdf(path, claimed) : makePdf(path, pages));
    const QImage startImage = previewImage();

    DialogSeen dialog;
    openThroughDialog(path, &dialog);

    QCOMPARE(catcher->count(), 1);
    QVERIFY(dialog.shown);
    QCOMPARE(dialog.title, QStringLiteral("Choose file"));
    QCOMPARE(dialog.filters, QStringList({"pdf(*.pdf)", "All file(*.*)"}));
    QCOMPARE(dialog.selectedFilter, QStringLiteral("pdf(*.pdf)"));
    QCOMPARE(dialog.folder, QDir::currentPath());

    QCOMPARE(viewState(), documentState(path, 1, pages, false, pages > 1));
    QVERIFY(previewImage() != startImage);
    QCOMPARE(recentInputDirOnDisk(), dir->path());
}

void TestDocument::dialogStartsInRecentFolder()
{
    QTemporaryDir other;
    QVERIFY(other.isValid());
    const QString good = other.filePath(QStringLiteral("good.pdf"));
    const QString broken = dir->filePath(QStringLiteral("broken.pdf"));
    QVERIFY(makePdf(good, 2));
    QVERIFY(writeFile(broken, "not a pdf\n"));

    openThroughDialog(good);
    QCOMPARE(recentInputDirOnDisk(), other.path());

    DialogSeen dialog;
    BoxSeen failedBox;
    openThroughDialog(broken, &dialog, &failedBox);
    QVERIFY(failedBox.shown);
    QCOMPARE(dialog.folder, other.path());
    QCOMPARE(recentInputDirOnDisk(), other.path());

    DialogSeen locked;
    BoxSeen lockedBox;
    openThroughDialog(fixture(QStringLiteral("user-password.pdf")), &locked, &lockedBox);
    QVERIFY(lockedBox.shown);
    QCOMPARE(locked.folder, other.path());
    QCOMPARE(recentInputDirOnDisk(), other.path());
    QCOMPARE(g_config.value(recentKey).toString(), other.path());

    DialogSeen afterRefusals;
    openThroughDialog(good, &afterRefusals);
    QCOMPARE(afterRefusals.folder, other.path());
    QCOMPARE(catcher->count(), 6);
}

void TestDocument::refusedFile_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("contents"); // written unless the file is a fixture
    QTest::addColumn<QString>("nameFilter");
    QTest::addColumn<bool>("deleteAfterChoosing");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QByteArray>("misbehave"); // the test worker's switch

    const QString failed = QStringLiteral("Load Pdf file: %1 failed");
    const int warning = QMessageBox::Warning;
    QTest::newRow("text file named .pdf") << "notes.pdf" << QByteArray("just some text\n") << QString() << false
                                          << "Error" << failed << warning << QByteArray();
    QTest::newRow("text file through All file") << "notes.txt" << QByteArray("just some text\n")
                                                << "All file(*.*)" << false << "Error" << failed << warning << QByteArray();
    QTest::newRow("empty file") << "empty.pdf" << QByteArray() << QString() << false << "Error" << failed
                                << warning << QByteArray();
    QTest::newRow("truncated") << "truncated.pdf" << truncatedPdf() << QString() << false << "Error" << failed
                               << warning << QByteArray();
    QTest::newRow("header only") << "header.pdf" << QByteArray("%PDF-1.4\n") << QString() << false << "Error"
                                 << failed << warning << QByteArray();
    QTest::newRow("deleted after choosing") << "gone.pdf" << QByteArray("x") << QString() << true << "Error"
                                            << failed << warning << QByteArray();
    QTest::newRow("user password") << "user-password.pdf" << QByteArray() << QString() << false << "Infomation"
                                   << QStringLiteral("Pdf file : %1 has password") << int(QMessageBox::Information)
                                   << QByteArray();
    // Opened in a worker first: a file whose opening crashes Poppler is refused.
    QTest::newRow("opening crashes the renderer")
        << "owner-password.pdf" << QByteArray() << QString() << false << "Error"
        << failed + QStringLiteral(" (the renderer crashed (SIGSEGV))") << warning << QByteArray("crash 0:open");
}

void TestDocument::refusedFile()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, contents);
    QFETCH(QString, nameFilter);
    QFETCH(bool, deleteAfterChoosing);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, icon);
    QFETCH(QByteArray, misbehave);

    QString path = dir->filePath(fileName);
    if (QFile::exists(fixture(fileName)))
        QVERIFY(QFile::copy(fixture(fileName), path));
    else
        QVERIFY(writeFile(path, contents));
    setRecentInputDir(QStringLiteral("/nowhere/else"));

    // A document open before is closed whatever the new file turns out to be.
    const QString previous = dir->filePath(QStringLiteral("previous.pdf"));
    QVERIFY(makePdf(previous, 2));
    openThroughDialog(previous);
    QCOMPARE(viewState(), documentState(previous, 1, 2, false, true));
    setRecentInputDir(QStringLiteral("/nowhere/else"));
    const QImage shownBefore = previewImage();
    catcher = std::make_unique<ModalCatcher>();

    qputenv("VELLORAN_TEST_WORKER", misbehave);
    auto unset = qScopeGuard([] { qunsetenv("VELLORAN_TEST_WORKER"); });
    BoxSeen box;
    openThroughDialog(path, nullptr, &box, nameFilter, [&] {
        if (deleteAfterChoosing)
            QFile::remove(path);
    });

    QCOMPARE(catcher->count(), 2);
    QCOMPARE(catcher->last().className, QStringLiteral("QMessageBox"));
    QCOMPARE(catcher->last().title, title);
    QCOMPARE(catcher->last().text, text.arg(path));
    QVERIFY(box.shown);
    QCOMPARE(int(box.icon), icon);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    QCOMPARE(viewState(), noDocumentState());
    QCOMPARE(previewImage(), shownBefore);
    QCOMPARE(recentInputDirOnDisk(), QStringLiteral("/nowhere/else"));
    QCOMPARE(g_config.value(recentKey).toString(), QStringLiteral("/nowhere/else"));
}

void TestDocument::documentWithoutFirstPage_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("page tree counts no pages") << "no-kids-count-0.pdf";
    QTest::newRow("page tree counts a page it lacks") << "no-kids-count-1.pdf";
}

void TestDocument::documentWithoutFirstPage()
{
    QFETCH(QString, fileName);
    const QString path = dir->filePath(fileName);
    QVERIFY(QFile::copy(fixture(fileName), path));
    const QImage startImage = previewImage();

    BoxSeen box;
    openThroughDialog(path, nullptr, &box);

    QCOMPARE(catcher->count(), 2);
    QCOMPARE(catcher->last().title, QStringLiteral("Error"));
    QCOMPARE(catcher->last().text, QStringLiteral("Can't get first page from Pdf file : %1 ").arg(path));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    // The document is gone; the path stays shown until the next selection.
    QCOMPARE(viewState(), noDocumentState(path));
    QCOMPARE(previewImage(), startImage);
    QCOMPARE(recentInputDirOnDisk(), dir->path());

    clickForced("pushButton_preview_next");
    QCOMPARE(catcher->count(), 2);
    QCOMPARE(viewState(), noDocumentState(path));
}

void TestDocument::ownerPasswordOnlyOpens()
{
    const QString path = dir->filePath(QStringLiteral("owner-password.pdf"));
    QVERIFY(QFile::copy(fixture(QStringLiteral("owner-password.pdf")), path));

    openThroughDialog(path);

    QCOMPARE(catcher->count(), 1);
    QCOMPARE(viewState(), documentState(path, 1, 1, false, false));
    QCOMPARE(widget<QLabel>("label_preview")->pixmap().size(), QSize(200, 200));
    QCOMPARE(recentInputDirOnDisk(), dir->path());
}

void TestDocument::unusualPaths_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("spaces") << "my documents" << "annual report 2026.pdf";
    QTest::newRow("non-ASCII") << QString::fromUtf8("Übersicht 文件") << QString::fromUtf8("résumé ✓ Ω.pdf");
}

void TestDocument::unusualPaths()
{
    QFETCH(QString, folder);
    QFETCH(QString, fileName);
    QVERIFY(QDir(dir->path()).mkpath(folder));
    const QString folderPath = dir->filePath(folder);
    const QString path = folderPath + QLatin1Char('/') + fileName;
    QVERIFY(makePdf(path, 3));

    openThroughDialog(path);

    QCOMPARE(catcher->count(), 1);
    QCOMPARE(viewState(), documentState(path, 1, 3, false, true));
    QCOMPARE(recentInputDirOnDisk(), folderPath);

    DialogSeen dialog;
    openThroughDialog(path, &dialog);
    QCOMPARE(dialog.folder, folderPath);
}

void TestDocument::cancelClosesOpenDocument()
{
    const QString path = dir->filePath(QStringLiteral("three.pdf"));
    QVERIFY(makePdf(path, 3));
    openThroughDialog(path);
    widget<QPushButton>("pushButton_preview_next")->click();
    QCOMPARE(viewState(), documentState(path, 2, 3, true, true));
    const QImage shown = previewImage();
    setRecentInputDir(QStringLiteral("/kept/as/it/was"));

    cancelDialog();

    QCOMPARE(catcher->count(), 2);
    QCOMPARE(catcher->last().title, QStringLiteral("Choose file"));
    QCOMPARE(viewState(), noDocumentState());
    QCOMPARE(previewImage(), shown);
    QCOMPARE(recentInputDirOnDisk(), QStringLiteral("/kept/as/it/was"));
}

void TestDocument::previewFitsLabel_data()
{
    // Page sizes in points, that is pixels at the preview's 72 dpi. The fit area is
    // the label's size less 3, so sizes are given relative to it where it matters.
    QTest::addColumn<QSizeF>("pageOverFit");
    QTest::addColumn<QSizeF>("page");
    QTest::newRow("smaller") << QSizeF() << QSizeF(200, 100);
    QTest::newRow("exactly the fit area") << QSizeF(0, 0) << QSizeF();
    QTest::newRow("one point too wide") << QSizeF(1, -100) << QSizeF();
    QTest::newRow("one point too tall") << QSizeF(-100, 1) << QSizeF();
    QTest::newRow("A4 portrait") << QSizeF() << a4Portrait;
    QTest::newRow("A4 landscape") << QSizeF() << a4Landscape;
    QTest::newRow("tall strip") << QSizeF() << QSizeF(100, 800);
    QTest::newRow("wide strip") << QSizeF() << QSizeF(1000, 50);
}

void TestDocument::previewFitsLabel()
{
    QFETCH(QSizeF, pageOverFit);
    QFETCH(QSizeF, page);
    const QSize fit = widget<QLabel>("label_preview")->size() - QSize(3, 3);
    QVERIFY(fit.width() > 200 && fit.height() > 200);
    if (pageOverFit != QSizeF())
        page = QSizeF(fit) + pageOverFit;
    const QString path = dir->filePath(QStringLiteral("page.pdf"));
    QVERIFY(makePdf(path, {page}));

    openThroughDialog(path);

    QCOMPARE(catcher->count(), 1);
    QCOMPARE(viewState(), documentState(path, 1, 1, false, false));
    const QSize shown = widget<QLabel>("label_preview")->pixmap().size();
    const QSize rendered = page.toSize();
    if (rendered.width() <= fit.width() && rendered.height() <= fit.height()) {
        QCOMPARE(shown, rendered);
        return;
    }
    // Shrunk until one side meets the fit area, the other kept in proportion to the pixel.
    const QString described = QStringLiteral("%1 x %2 in %3 x %4")
                                  .arg(shown.width())
                                  .arg(shown.height())
                                  .arg(fit.width())
                                  .arg(fit.height());
    QVERIFY2(shown.width() <= fit.width() && shown.height() <= fit.height(), qPrintable(described));
    QVERIFY(shown.width() == fit.width() || shown.height() == fit.height());
    const double exactWidth = double(shown.height()) * rendered.width() / rendered.height();
    const double exactHeight = double(shown.width()) * rendered.height() / rendered.width();
    QVERIFY2(qAbs(shown.width() - exactWidth) < 1.0 || qAbs(shown.height() - exactHeight) < 1.0,
             qPrintable(described));
}

// A poster-sized page is previewed at the resolution the label shows, not as
// a bitmap of hundreds of megabytes at one pixel per point.
void TestDocument::posterPreviewedAtLabelSize()
{
    const QString path = dir->filePath(QStringLiteral("poster.pdf"));
    QVERIFY(makePdf(path, {QSizeF(14400, 14400)}));
    const QImage startImage = previewImage();

    openThroughDialog(path);

    QCOMPARE(catcher->count(), 1);
    QCOMPARE(viewState(), documentState(path, 1, 1, false, false));
    const QImage shown = previewImage();
    QVERIFY(shown != startImage);
    const QSize fit = widget<QLabel>("label_preview")->size();
    QVERIFY(shown.width() <= fit.width() && shown.height() <= fit.height());
    QCOMPARE(previewResolution(QSize(14400, 14400), QSize(261, 281)), 72.0 * 261 / 14400);
    QCOMPARE(previewResolution(QSize(595, 842), QSize(261, 281)), 72.0);
}

void TestDocument::navigateThreePages()
{
    const QString path = dir->filePath(QStringLiteral("three.pdf"));
    QVERIFY(makePdf(path, 3));
    openThroughDialog(path);
    QCOMPARE(viewState(), documentState(path, 1, 3, false, true));
    const QImage first = previewImage();

    auto *next = widget<QPushButton>("pushButton_preview_next");
    auto *previous = widget<QPushButton>("pushButton_preview_previous");
    next->click();
    QCOMPARE(viewState(), documentState(path, 2, 3, true, true));
    const QImage second = previewImage();
    QVERIFY(second != first);
    next->click();
    QCOMPARE(viewState(), documentState(path, 3, 3, true, false));
    const QImage third = previewImage();
    QVERIFY(third != second);

    clickForced("pushButton_preview_next");
    QCOMPARE(viewState(), documentState(path, 3, 3, true, false));
    QCOMPARE(previewImage(), third);

    previous->click();
    QCOMPARE(viewState(), documentState(path, 2, 3, true, true));
    QCOMPARE(previewImage(), second);
    previous->click();
    QCOMPARE(viewState(), documentState(path, 1, 3, false, true));
    QCOMPARE(previewImage(), first);

    clickForced("pushButton_preview_previous");
    QCOMPARE(viewState(), documentState(path, 1, 3, false, true));
    QCOMPARE(previewImage(), first);
    QCOMPARE(catcher->count(), 1);
}

void TestDocument::navigationWithoutDocumentDoesNothing()
{
    const QImage startImage = previewImage();
    clickForced("pushButton_preview_next");
    clickForced("pushButton_preview_previous");
    QCOMPARE(catcher->count(), 0);
    QCOMPARE(viewState(), noDocumentState());
    QCOMPARE(previewImage(), startImage);
}

void TestDocument::renderFailureWhileNavigatingClosesDocument()
{
    const QString path = qEnvironmentVariable("VELLORAN_TEST_DATA") + QStringLiteral("/thin-middle-page.pdf");
    openThroughDialog(path);
    QCOMPARE(viewState(), documentState(path, 1, 3, false, true));
    const QImage first = previewImage();

    widget<QPushButton>("pushButton_preview_next")->click();

    QCOMPARE(catcher->count(), 1);
    QCOMPARE(viewState(), noDocumentState(path));
    QCOMPARE(previewImage(), first);
    clickForced("pushButton_preview_previous");
    QCOMPARE(viewState(), noDocumentState(path));
}

// "velloran FILE.pdf" and a file dropped on the window take the file dialog's
// way from the chosen path on: the same boxes, the same remembered folder.
void TestDocument::openedFromOutside_data()
{
    QTest::addColumn<bool>("dropped");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("contents"); // written unless the file is a fixture or missing
    QTest::addColumn<QString>("title");       // of the box, none when empty
    QTest::addColumn<QString>("text");

    const QString failed = QStringLiteral("Load Pdf file: %1 failed");
    const QString locked = QStringLiteral("Pdf file : %1 has password");
    for (const bool dropped : {false, true}) {
        const char *route = dropped ? "drop: " : "command line: ";
        auto row = [&](const char *name) -> QTestData & { return QTest::newRow(qPrintable(route + QString::fromLatin1(name))); };
        row("good file") << dropped << "three.pdf" << QByteArray() << QString() << QString();
        row("text file") << dropped << "notes.pdf" << QByteArray("just some text\n") << "Error" << failed;
        row("missing file") << dropped << "missing.pdf" << QByteArray() << "Error" << failed;
        row("user password") << dropped << "user-password.pdf" << QByteArray() << "Infomation" << locked;
    }
}

void TestDocument::openedFromOutside()
{
    QFETCH(bool, dropped);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, contents);
    QFETCH(QString, title);
    QFETCH(QString, text);

    const QString path = dir->filePath(fileName);
    if (fileName == QLatin1String("three.pdf"))
        QVERIFY(makePdf(path, 3));
    else if (QFile::exists(fixture(fileName)))
        QVERIFY(QFile::copy(fixture(fileName), path));
    else if (!contents.isEmpty())
        QVERIFY(writeFile(path, contents));

    if (dropped) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        // The path field, where a file is most likely dropped, takes no files itself.
        QWidget *target = widget<QLineEdit>("lineEdit_input_file");
        QCOMPARE(sendDragEnter(target, data), Qt::CopyAction);
        QCOMPARE(sendDrop(target, data), Qt::CopyAction);
    } else {
        // What follows the first file is ignored.
        window->openFromCommandLine(commandLine({QStringLiteral("velloran"), path, dir->filePath(QStringLiteral("other.pdf"))}));
    }

    if (title.isEmpty()) {
        QTRY_COMPARE(viewState(), documentState(path, 1, 3, false, true));
        QCOMPARE(recentInputDirOnDisk(), dir->path());
        QCOMPARE(catcher->count(), 0);
        return;
    }
    QVERIFY(catcher->waitForCount(1));
    QCOMPARE(catcher->last().title, title);
    QCOMPARE(catcher->last().text, text.arg(path));
    QCOMPARE(viewState(), noDocumentState());
    QCOMPARE(recentInputDirOnDisk(), QString());
}

// A name that is not UTF-8 (Latin-1 bytes) opens from the command line and
// from a drop; where Qt has already turned its bytes into U+FFFD, as the file
// dialog does, the box says that the name cannot be read.
void TestDocument::openedByAnyName_data()
{
    QTest::addColumn<QString>("route"); // "command line", "relative", "drop" or "decoded name"
    QTest::addColumn<bool>("opens");
    QTest::newRow("command line") << "command line" << true;
    QTest::newRow("relative name on the command line") << "relative" << true;
    QTest::newRow("drop") << "drop" << true;
    QTest::newRow("name decoded as UTF-8") << "decoded name" << false;
}

void TestDocument::openedByAnyName()
{
    QFETCH(QString, route);
    QFETCH(bool, opens);

    const QByteArray bytes = QFile::encodeName(dir->path()) + "/caf\xe9-\xe0.pdf";
    QVERIFY(makePdf(dir->filePath(QStringLiteral("made.pdf")), 3));
    QVERIFY(::rename(QFile::encodeName(dir->filePath(QStringLiteral("made.pdf"))).constData(), bytes.constData()) == 0);
    // QTemporaryDir cannot remove what it cannot name.
    const auto removeFile = qScopeGuard([&bytes] { ::remove(bytes.constData()); });
    const QString path = route == QLatin1String("decoded name") ? QString::fromUtf8(bytes) : pathFromNative(bytes);

    if (route == QLatin1String("drop")) {
        QMimeData data;
        data.setUrls({QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"))});
        QWidget *target = widget<QLineEdit>("lineEdit_input_file");
        QCOMPARE(sendDragEnter(target, data), Qt::CopyAction);
        QCOMPARE(sendDrop(target, data), Qt::CopyAction);
    } else if (route == QLatin1String("relative")) {
        // Typed in a terminal in the file's own folder: made absolute by its bytes.
        const QString workingFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir->path()));
        window->openFromCommandLine({NativePath("velloran"), NativePath("caf\xe9-\xe0.pdf")});
        QVERIFY(QDir::setCurrent(workingFolder));
    } else {
        window->openFromCommandLine(commandLine({QStringLiteral("velloran"), path}));
    }

    if (opens) {
        QTRY_COMPARE(viewState(), documentState(path, 1, 3, false, true));
        QCOMPARE(catcher->count(), 0);
        return;
    }
    QVERIFY(catcher->waitForCount(1));
    QCOMPARE(catcher->last().title, QStringLiteral("Error"));
    QCOMPARE(catcher->last().text,
             QStringLiteral("The name of the file %1 cannot be read: rename the file and open it again").arg(path));
    QCOMPARE(viewState(), noDocumentState());
}

void TestDocument::commandLineArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("opened"); // relative to the working folder; none when empty
    QTest::newRow("no argument") << QStringList{"velloran"} << QString();
    QTest::newRow("empty argument") << QStringList{"velloran", ""} << QString();
    QTest::newRow("relative path") << QStringList{"velloran", "sub/../here.pdf"} << "here.pdf";
}

void TestDocument::commandLineArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, opened);
    const QString workingFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    QVERIFY(makePdf(dir->filePath(QStringLiteral("here.pdf")), 1));

    window->openFromCommandLine(commandLine(arguments));
    QCoreApplication::sendPostedEvents();
    QVERIFY(QDir::setCurrent(workingFolder));

    // A path typed in a terminal is shown as the file dialog would give it.
    const QString path = opened.isEmpty() ? QString() : dir->filePath(opened);
    QCOMPARE(viewState(), path.isEmpty() ? noDocumentState() : documentState(path, 1, 1, false, false));
    QCOMPARE(catcher->count(), 0);
}

void TestDocument::dropRefused_data()
{
    QTest::addColumn<QList<QUrl>>("urls"); // relative paths are made local files in the test folder
    QTest::addColumn<int>("actions");

    const int all = int(fileManagerActions);
    QTest::newRow("two PDF files") << QList<QUrl>{QUrl("a.pdf"), QUrl("b.pdf")} << all;
    QTest::newRow("not a PDF") << QList<QUrl>{QUrl("notes.txt")} << all;
    QTest::newRow("folder named .pdf") << QList<QUrl>{QUrl("folder.pdf")} << all;
    QTest::newRow("remote file") << QList<QUrl>{QUrl("https://example.org/a.pdf")} << all;
    QTest::newRow("text, no file") << QList<QUrl>() << all;
    QTest::newRow("move only: the original would go") << QList<QUrl>{QUrl("a.pdf")} << int(Qt::MoveAction);
}

void TestDocument::dropRefused()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(int, actions);
    QVERIFY(makePdf(dir->filePath(QStringLiteral("a.pdf")), 1));
    QVERIFY(makePdf(dir->filePath(QStringLiteral("b.pdf")), 1));
    QVERIFY(writeFile(dir->filePath(QStringLiteral("notes.txt")), "text\n"));
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("folder.pdf")));
    for (QUrl &url : urls) {
        if (url.isRelative())
            url = QUrl::fromLocalFile(dir->filePath(url.path()));
    }
    QMimeData data;
    if (urls.isEmpty())
        data.setText(dir->filePath(QStringLiteral("a.pdf")));
    else
        data.setUrls(urls);

    const Qt::DropActions offered(actions);
    QCOMPARE(sendDragEnter(window.get(), data, offered), Qt::IgnoreAction);
    QCOMPARE(sendDrop(window.get(), data, offered), Qt::IgnoreAction);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(viewState(), noDocumentState());
    QCOMPARE(catcher->count(), 0);
}

QTEST_MAIN(TestDocument)

// The renderer crashes on a page while the preview draws it, in the worker
// the preview is drawn by: a box names the page and why, the document is
// closed as for a page that cannot be drawn, and the next file opens as if
// nothing had happened.
void TestDocument::previewCrashFailsAlone_data()
{
    QTest::addColumn<int>("page"); // 0-based, reached with Next
    QTest::addColumn<QString>("text");
    QTest::newRow("first page") << 0 << "Can't get first page from Pdf file : %1 (the renderer crashed (SIGSEGV))";
    QTest::newRow("third page") << 2 << "Can't get page 3 from Pdf file : %1 (the renderer crashed (SIGSEGV))";
}

void TestDocument::previewCrashFailsAlone()
{
    QFETCH(int, page);
    QFETCH(QString, text);
    const QString path = dir->filePath(QStringLiteral("three.pdf"));
    QVERIFY(makePdf(path, 3));
    const QString next = dir->filePath(QStringLiteral("next.pdf"));
    QVERIFY(makePdf(next, 2));
    qputenv("VELLORAN_TEST_WORKER", QByteArrayLiteral("crash 0:") + QByteArray::number(page));
    auto unset = qScopeGuard([] { qunsetenv("VELLORAN_TEST_WORKER"); });

    BoxSeen box;
    openThroughDialog(path, nullptr, page == 0 ? &box : nullptr);
    for (int i = 0; i < page; ++i) {
        if (i == page - 1)
            catcher->expect([&box](QWidget *modal) {
                box.shown = qobject_cast<QMessageBox *>(modal) != nullptr;
                ModalCatcher::clickButton(QStringLiteral("OK"))(modal);
            });
        widget<QPushButton>("pushButton_preview_next")->click();
    }
    QVERIFY(box.shown);
    QCOMPARE(catcher->last().title, QStringLiteral("Error"));
    QCOMPARE(catcher->last().text, text.arg(path));
    QCOMPARE(viewState(), noDocumentState(path));
    QCOMPARE(recentInputDirOnDisk(), dir->path());

    unset.dismiss();
    qunsetenv("VELLORAN_TEST_WORKER");
    const int seen = catcher->count();
    const QImage before = previewImage();
    openThroughDialog(next);
    QCOMPARE(catcher->count(), seen + 1); // the file dialog, and no box
    QCOMPARE(viewState(), documentState(next, 1, 2, false, true));
    QVERIFY(previewImage() != before);
}

// While the renderer never finishes a preview, the window goes on answering:
// another file can be chosen, its preview supersedes the one in hand (whose
// worker is ended) and the window shows the new document alone.
void TestDocument::windowAnswersWhilePreviewHangs()
{
    const QString hanging = dir->filePath(QStringLiteral("three.pdf"));
    QVERIFY(makePdf(hanging, 3));
    const QString other = dir->filePath(QStringLiteral("other.pdf"));
    QVERIFY(makePdf(other, 2));
    // The worker that draws three.pdf's previews hangs on its second page.
    qputenv("VELLORAN_TEST_WORKER", "hang 0:1");
    auto unset = qScopeGuard([] { qunsetenv("VELLORAN_TEST_WORKER"); });
    openThroughDialog(hanging);
    QCOMPARE(viewState(), documentState(hanging, 1, 3, false, true));
    qunsetenv("VELLORAN_TEST_WORKER");

    // Next starts the preview that never ends; the window still takes the
    // next click, from inside the wait.
    bool secondChosen = false;
    QTimer::singleShot(0, this, [&] {
        secondChosen = true;
        openThroughDialog(other);
    });
    widget<QPushButton>("pushButton_preview_next")->click();

    QVERIFY(secondChosen);
    QCOMPARE(catcher->count(), 2); // the two file dialogs, no box
    QCOMPARE(viewState(), documentState(other, 1, 2, false, true));
    // The hung worker is gone: the only one left draws the new document's previews.
    QTRY_COMPARE(childProcesses().size(), 1);
}

#include "tst_document.moc"
