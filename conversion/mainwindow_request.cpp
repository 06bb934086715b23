#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "conversion/outputtype.h"
#include "engine/filestamp.h"
#include "engine/outputfolder.h"

#include <QProgressDialog>

void MainWindow::on_pushButton_convert_clicked()
{
    ui->lineEdit_pages_between->setStyleSheet(QString());
    if (!pdfDoc) {
        informUser(tr("Note"), tr("Input pdf document is Null"));
        return;
    }
    if (!checkOutputFolder())
        return;
    QList<int> pageList;
    if (!selectPages(&pageList))
        return;
    if (pageList.isEmpty()) {
        informUser(tr("Note"), tr("No page is selected to convert"));
        return;
    }
    // The job of a running worker must not change under it.
    if (conversionRunning()) {
        informUser(tr("Processing"),
                   tr("Already in Converting, please wait untill finished or abort to start a new converting"));
        return;
    }
    if (fileStamp(pdfDoc->path) != pdfDoc->stamp) {
        reopenChangedFile();
        return;
    }
    startConversion(std::move(pageList));
}

// The pages are drawn from the file's path: a file replaced or rewritten
// since it was opened (exported again, say) would have its pages converted
// under the old page count, the pages it gained left out without a word. It
// is opened again, as if chosen anew, and the user looks before converting.
void MainWindow::reopenChangedFile()
{
    const QString path = pdfDoc->path;
    openPdfFile(path);
    if (pdfDoc) // otherwise the opening has said why not
        informUser(tr("Note"), tr("The file %1 has changed since it was opened. It has been opened again: "
                                  "check its pages and press Convert again")
                                   .arg(path));
}

bool MainWindow::checkOutputFolder()
{
    const QString folder = ui->comboBox_output_folder->currentText();
    switch (prepareOutputFolder(folder)) {
    case OutputFolderCheck::Empty:
        informUser(tr("Note"), tr("Please select an Output directory"));
        return false;
    case OutputFolderCheck::CannotCreate:
        informUser(tr("Note"), tr("Could not make Output directory"));
        return false;
    case OutputFolderCheck::Ready:
        break;
    }
    qsOutputDir = folder;
    return true;
}

void MainWindow::startConversion(QList<int> pageList)
{
    process.ResetJob();
    process.pdfDoc = &*pdfDoc;
    process.qsPdfFile = qsPdfFile;
    process.pdfStamp = pdfDoc->stamp;
    process.pageIndex = 0;
    process.qsOutputDir = qsOutputDir;
    process.qsExtension = extensionForTypeText(ui->comboBox_output_type->currentText());
    process.resolution = ui->spinBox_resolution->value();
    process.quality = ui->spinBox_jpeg_quality->value();
    process.pageList = std::move(pageList);

    // The dialog is reused: the last run's range and shown state must not
    // carry over, or a long run after a short one would never show it.
    progressDialog->reset();
    progressDialog->setRange(0, int(process.pageList.size()));
    progressDialog->setValue(0);

    setDocumentControlsEnabled(false);
    process.start(QThread::InheritPriority);
}

void MainWindow::setDocumentControlsEnabled(bool enabled)
{
    ui->toolButton_select_input_file->setEnabled(enabled);
    if (enabled) {
        Update_Gui();
    } else {
        ui->pushButton_preview_previous->setEnabled(false);
        ui->pushButton_preview_next->setEnabled(false);
    }
}

void MainWindow::conversionFinished()
{
    // A finished report queued behind a newer start belongs to the old run.
    if (conversionRunning())
        return;
    setDocumentControlsEnabled(true);
    reportUnfinishedRun();
}
