#include "app/mainwindow.h"
#include "ui_mainwindow.h"

// TODO: progress and completion.
void MainWindow::ConvertProgress(qint32, qint32) {}
void MainWindow::ConvertCanceled() {}
