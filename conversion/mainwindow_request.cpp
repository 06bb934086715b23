#include "app/mainwindow.h"
#include "ui_mainwindow.h"

// TODO: the conversion request.
void MainWindow::on_pushButton_convert_clicked() {}
bool MainWindow::checkOutputFolder() { return false; }
