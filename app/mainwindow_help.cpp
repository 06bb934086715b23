#include "app/mainwindow.h"
#include "ui_mainwindow.h"

// TODO: About box, manual and status line.
void MainWindow::on_actionManual_triggered() {}
void MainWindow::on_actionAbout_triggered() {}
void MainWindow::LogStatusBar(QString qsMsg)
{
    ui->statusBar->showMessage(qsMsg, 0);
}
