#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/openfolder.h"

#include <QDebug>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

void MainWindow::ConvertProgress(qint32 convered, qint32 totalpage)
{
    // Reports still queued when the user aborted would bring the dialog back.
    if (process.canceled.load(std::memory_order_relaxed))
        return;

    progressDialog->setValue(convered);
    progressDialog->setMaximum(totalpage);
    if (convered != totalpage)
        return;

    progressDialog->setVisible(false);
    qDebug() << "finished";
    showCompletion(convered);
}

void MainWindow::showCompletion(qint32 converted)
{
    QMessageBox box(this);
    box.setText(tr("Convert finished, <font color=blue><b>%1</b></font> page converted").arg(converted));
    box.setWindowTitle(tr("Finished"));
    QPushButton *viewButton = box.addButton(tr("View in Explorer"), QMessageBox::YesRole);
    box.addButton(tr("Ignore"), QMessageBox::NoRole);
    box.setDefaultButton(viewButton);
    box.exec();
    // The run's own folder: a request refused while this run went on may
    // already have put another folder into qsOutputDir.
    if (box.clickedButton() == viewButton)
        openFolder(process.qsOutputDir);
}

void MainWindow::ConvertCanceled()
{
    process.canceled.store(true, std::memory_order_relaxed);
}
