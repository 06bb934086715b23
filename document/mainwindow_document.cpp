#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "config/config.h"
#include "config/settingskeys.h"
#include "engine/filestamp.h"
#include "engine/nativepath.h"
#include "document/previewdrawer.h"


#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

// The label stretches its pixmap over its contents, so only a page larger
// than the fit area is shrunk here; a smaller one is never enlarged.
QPixmap fitIntoPreview(const QPixmap &page, const QSize &fitArea)
{
    if (fitArea.width() < page.width() || fitArea.height() < page.height())
        return page.scaled(fitArea, Qt::KeepAspectRatio, Qt::FastTransformation);
    return page;
}

} // namespace

void MainWindow::InitPdf()
{
    dropPreview();
    pdfDoc.reset();
    qsPdfFile.clear();
    curPage = 0;
    totalPage = 0;
}

void MainWindow::Update_Gui()
{
    ui->lineEdit_input_file->setText(qsPdfFile);
    if (totalPage != 0 && pdfDoc && !qsPdfFile.isEmpty()) {
        ui->label_pdf_page_info->setText(
            tr("Page: <font color=blue><b>%1</b></font> Total: <font color=blue><b>%2</b></font>")
                .arg(curPage + 1)
                .arg(totalPage));
        ui->pushButton_preview_next->setEnabled(curPage < totalPage - 1);
        ui->pushButton_preview_previous->setEnabled(curPage != 0);
    } else {
        ui->label_pdf_page_info->clear();
        ui->pushButton_preview_previous->setEnabled(false);
        ui->pushButton_preview_next->setEnabled(false);
    }
}

void MainWindow::on_toolButton_select_input_file_clicked()
{
    if (conversionRunning()) // the worker draws pdfDoc's pages
        return;
    InitPdf();
    QString startDir = g_config.value(QLatin1String(SettingsKeys::recentInputDir)).toString();
    if (startDir.isEmpty())
        startDir = QStringLiteral(".");
    const QString path = QFileDialog::getOpenFileName(this, tr("Choose file"), startDir,
                                                      tr("pdf(*.pdf);;All file(*.*)"));
    if (path.isEmpty()) {
        Update_Gui();
        return;
    }
    loadChosenFile(path);
}

void MainWindow::openPdfFile(const QString &path)
{
    if (conversionRunning()) // the worker draws pdfDoc's pages
        return;
    InitPdf();
    loadChosenFile(path);
}

void MainWindow::loadChosenFile(const QString &path)
{
    // Opened in a worker, never here: a file that crashes or hangs Poppler as
    // it is opened costs that worker, and is refused like any file that
    // cannot be loaded.
    const quint64 id = ++previewId;
    // Taken before the opening: a change while the worker reads the file is
    // then a change since, and is found at Convert.
    const FileStamp stamp = fileStamp(path);
    previewDrawer->requestOpening(id, path);
    const std::optional<TaskResult> opened = waitForDrawer(id);
    if (!opened)
        return; // another file was chosen meanwhile
    if (opened->workerLost) {
        QMessageBox::warning(this, tr("Error"),
                             tr("Load Pdf file: %1 failed").arg(path) + QStringLiteral(" (%1)").arg(opened->outcome.detail),
                             QMessageBox::Ok, QMessageBox::NoButton);
        Update_Gui();
        return;
    }

    if (opened->loadStatus == PdfLoadStatus::Failed) {
        // The file dialog decodes names as UTF-8 and hands over U+FFFD for
        // bytes that are not, so such a name leads nowhere. Calling the file
        // damaged would send the user looking in the wrong place.
        const bool nameUnreadable = path.contains(QChar::ReplacementCharacter) && !nativeExists(path);
        const QString text = nameUnreadable
                                 ? tr("The name of the file %1 cannot be read: rename the file and open it again")
                                 : tr("Load Pdf file: %1 failed");
        QMessageBox::warning(this, tr("Error"), text.arg(path), QMessageBox::Ok, QMessageBox::NoButton);
        Update_Gui();
        return;
    }
    if (opened->loadStatus == PdfLoadStatus::Locked) {
        QMessageBox::information(this, tr("Infomation"), tr("Pdf file : %1 has password").arg(path),
                                 QMessageBox::Ok, QMessageBox::NoButton);
        Update_Gui();
        return;
    }

    pdfDoc = OpenDocument{path, quint32(opened->pageCount), stamp};
    totalPage = pdfDoc->pageCount;
    curPage = 0;
    qsPdfFile = path;
    if (!drawPreview())
        return; // another file was opened meanwhile
    g_config.setValue(QLatin1String(SettingsKeys::recentInputDir), QFileInfo(path).dir().absolutePath());
    g_config.sync();
    Update_Gui();
}

void MainWindow::makePreview()
{
    drawPreview();
}

// The page is drawn in a worker process while the window goes on answering;
// the caller goes on once it is shown. A newer preview, or another file,
// supersedes it: false then, and the caller leaves the window to the newer one.
bool MainWindow::drawPreview()
{
    if (conversionRunning()) // the controls that lead here are off during a run
        return true;
    if (!pdfDoc)
        return true;
    const QSize fitArea = ui->label_preview->size() - QSize(3, 3);
    const quint64 id = ++previewId;
    previewDrawer->request(id, qsPdfFile, int(curPage), fitArea);
    const std::optional<TaskResult> drawn = waitForDrawer(id);
    if (!drawn)
        return false;
    showPreview(*drawn, fitArea);
    return true;
}

// Waits for the drawer's answer to request id while the window goes on
// answering; nothing when a newer request, or another file, superseded it.
std::optional<TaskResult> MainWindow::waitForDrawer(quint64 id)
{
    if (previewWait)
        previewWait->quit(); // the request before this one is no longer wanted
    std::optional<TaskResult> answer;
    QEventLoop wait;
    connect(previewDrawer, &PreviewDrawer::drawn, &wait, [&](quint64 drawnId, const TaskResult &result) {
        if (drawnId != id)
            return;
        answer = result;
        wait.quit();
    });
    previewWait = &wait;
    wait.exec();
    if (previewWait == &wait)
        previewWait = nullptr;
    return answer;
}

void MainWindow::dropPreview()
{
    previewDrawer->cancel();
    if (previewWait)
        previewWait->quit();
    previewWait = nullptr;
}

void MainWindow::showPreview(const TaskResult &drawn, const QSize &fitArea)
{
    const PageOutcome &page = drawn.outcome;
    if (page.result == PageOutcome::Written) {
        ui->label_preview->setPixmap(fitIntoPreview(QPixmap::fromImage(drawn.image), fitArea));
        return;
    }
    if (page.result == PageOutcome::NoPage) {
        QMessageBox::warning(this, tr("Error"), tr("Can't get first page from Pdf file : %1 ").arg(qsPdfFile),
                             QMessageBox::Ok, QMessageBox::NoButton);
    } else if (drawn.workerLost) {
        // The renderer crashed, passed the time limit or could not be started.
        const QString text = curPage == 0 ? tr("Can't get first page from Pdf file : %1 ").arg(qsPdfFile)
                                          : tr("Can't get page %1 from Pdf file : %2 ").arg(curPage + 1).arg(qsPdfFile);
        QMessageBox::warning(this, tr("Error"), text + QStringLiteral("(%1)").arg(page.detail), QMessageBox::Ok,
                             QMessageBox::NoButton);
    }
    pdfDoc.reset();
}

void MainWindow::on_pushButton_preview_next_clicked()
{
    if (conversionRunning()) // the worker draws pdfDoc's pages
        return;
    if (!pdfDoc || curPage + 1 >= totalPage)
        return;
    ++curPage;
    if (drawPreview())
        Update_Gui();
}

void MainWindow::on_pushButton_preview_previous_clicked()
{
    if (conversionRunning()) // the worker draws pdfDoc's pages
        return;
    if (!pdfDoc || curPage == 0)
        return;
    --curPage;
    if (drawPreview())
        Update_Gui();
}
