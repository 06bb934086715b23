#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "conversion/outputtype.h"
#include "engine/pagelist.h"

#include <iterator>

namespace {
const char pageListMarker[] = "background-color:yellow";
}

void MainWindow::on_comboBox_output_type_currentTextChanged(QString text)
{
    // One options page per type, in the order of the type table.
    QWidget *const pages[] = {ui->page_jpeg, ui->page_png, ui->page_bmp, ui->page_tiff};
    const QList<OutputType> &types = outputTypes();
    for (int i = 0; i < qMin(types.size(), qsizetype(std::size(pages))); ++i) {
        if (text == tr(types.at(i).comboText)) {
            ui->stackedWidget_output_type->setCurrentWidget(pages[i]);
            return;
        }
    }
}

void MainWindow::on_radioButton_page_range_between_toggled(bool checked)
{
    ui->lineEdit_pages_between->setEnabled(checked);
    if (!checked)
        return;
    ui->lineEdit_pages_between->setFocus(Qt::OtherFocusReason);
    ui->lineEdit_pages_between->setCursorPosition(0);
}

void MainWindow::on_lineEdit_pages_between_textEdited(QString)
{
    ui->lineEdit_pages_between->setStyleSheet(QString());
}

bool MainWindow::selectPages(QList<int> *pageList)
{
    if (ui->radioButton_page_range_all_pages->isChecked()) {
        pageList->append(allPages(totalPage));
        return true;
    }
    if (ui->radioButton_page_range_cur_page->isChecked()) {
        pageList->append(int(curPage));
        return true;
    }
    if (!ui->radioButton_page_range_between->isChecked())
        return true;

    const PageListResult result = parsePageList(ui->lineEdit_pages_between->text(), totalPage);
    if (result.error == PageListResult::Empty) {
        markPageListError();
        informUser(tr("Note"), tr("Please input page range"));
        return false;
    }
    ui->lineEdit_pages_between->setStyleSheet(QString());
    if (result.error == PageListResult::BelowOne) {
        informUser(tr("Error"), tr("Page number must bigger than zero"));
        markPageListError();
        return false;
    }
    if (result.error == PageListResult::AboveTotal) {
        informUser(tr("Error"),
                   tr("Page number must samller than PDF document's total page count: "
                      "<font color=blue><b>%1</b></font>")
                       .arg(totalPage));
        markPageListError();
        return false;
    }
    pageList->append(result.pages);
    return true;
}

void MainWindow::markPageListError()
{
    ui->lineEdit_pages_between->setStyleSheet(QLatin1String(pageListMarker));
    ui->lineEdit_pages_between->setFocus(Qt::OtherFocusReason);
}
