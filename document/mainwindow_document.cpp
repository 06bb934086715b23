#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "document/pdfdocument.h"

#include <poppler-qt6.h>

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

// TODO: opening a file, the preview and page navigation.
void MainWindow::makePreview() {}
void MainWindow::on_toolButton_select_input_file_clicked() {}
void MainWindow::on_pushButton_preview_next_clicked() {}
void MainWindow::on_pushButton_preview_previous_clicked() {}
