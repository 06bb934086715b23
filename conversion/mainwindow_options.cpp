#include "app/mainwindow.h"
#include "ui_mainwindow.h"

// TODO: output type page, page-range slots and page selection.
void MainWindow::on_comboBox_output_type_currentTextChanged(QString) {}
void MainWindow::on_radioButton_page_range_between_toggled(bool) {}
void MainWindow::on_lineEdit_pages_between_textEdited(QString) {}
bool MainWindow::selectPages(QList<int> *) { return false; }
void MainWindow::markPageListError() {}
