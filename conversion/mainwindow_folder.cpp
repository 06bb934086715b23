#include "app/mainwindow.h"
#include "ui_mainwindow.h"

// TODO: output folder history.
void MainWindow::LoadConfigData() {}
void MainWindow::on_toolButton_select_output_folder_clicked() {}
