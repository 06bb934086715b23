#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "config/config.h"
#include "config/settingskeys.h"
#include "engine/nativepath.h"
#include "engine/render/pdfdocument.h"

#include <poppler-qt6.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

// At 72 dpi one PDF point becomes one pixel.
constexpr double previewDpi = 72.0;

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
    if (conversionRunning()) // the worker renders from pdfDoc
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
    if (conversionRunning()) // the worker renders from pdfDoc
        return;
    InitPdf();
    loadChosenFile(path);
}

void MainWindow::loadChosenFile(const QString &path)
{
    PdfLoadResult loaded = loadPdf(path);
    if (loaded.status == PdfLoadStatus::Failed) {
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
    if (loaded.status == PdfLoadStatus::Locked) {
        QMessageBox::information(this, tr("Infomation"), tr("Pdf file : %1 has password").arg(path),
                                 QMessageBox::Ok, QMessageBox::NoButton);
        Update_Gui();
        return;
    }

    pdfDoc = std::move(loaded.document);
    totalPage = quint32(pdfPageCount(pdfDoc.get()));
    curPage = 0;
    qsPdfFile = path;
    makePreview();
    g_config.setValue(QLatin1String(SettingsKeys::recentInputDir), QFileInfo(path).dir().absolutePath());
    g_config.sync();
    Update_Gui();
}

void MainWindow::makePreview()
{
    if (conversionRunning()) // the worker renders from pdfDoc
        return;
    if (!pdfDoc)
        return;
    const QSize fitArea = ui->label_preview->size() - QSize(3, 3);
    const QSize sizeAt72Dpi = pagePixelSize(pdfDoc.get(), int(curPage), previewDpi);
    const PageRenderResult rendered =
        renderPage(pdfDoc.get(), int(curPage), previewResolution(sizeAt72Dpi, fitArea));
    if (rendered.status == PageRenderStatus::NoPage) {
        QMessageBox::warning(this, tr("Error"), tr("Can't get first page from Pdf file : %1 ").arg(qsPdfFile),
                             QMessageBox::Ok, QMessageBox::NoButton);
        pdfDoc.reset();
        return;
    }
    if (rendered.status != PageRenderStatus::Rendered) {
        pdfDoc.reset();
        return;
    }
    ui->label_preview->setPixmap(fitIntoPreview(QPixmap::fromImage(rendered.image), fitArea));
}

void MainWindow::on_pushButton_preview_next_clicked()
{
    if (conversionRunning()) // the worker renders from pdfDoc
        return;
    if (!pdfDoc || curPage + 1 >= totalPage)
        return;
    ++curPage;
    makePreview();
    Update_Gui();
}

void MainWindow::on_pushButton_preview_previous_clicked()
{
    if (conversionRunning()) // the worker renders from pdfDoc
        return;
    if (!pdfDoc || curPage == 0)
        return;
    --curPage;
    makePreview();
    Update_Gui();
}
