#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/dialogabout.h"
#include "app/helpviewer.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProcess>

void MainWindow::on_actionManual_triggered()
{
    const QString manual = findManual(QCoreApplication::applicationDirPath());
    if (manual.isEmpty()) {
        QMessageBox::warning(this, tr("Failed"), tr("Manual file is lost,please re-install this program to repair it"),
                             QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    const QString program = helpViewerProgram();
    if (program.isEmpty()) {
        QMessageBox::warning(this, tr("Failed"),
                             tr("No program that shows the manual was found.\n"
                                "Install a CHM viewer (Debian: sudo apt-get install xchm) and try again."),
                             QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    // The viewer runs on its own and is neither waited for nor checked. Its
    // output goes to ours rather than into a buffer nobody reads, and the
    // process object goes once the viewer has ended, so repeated openings do
    // not pile up children of the window.
    auto *viewer = new QProcess(this);
    viewer->setProcessChannelMode(QProcess::ForwardedChannels);
    connect(viewer, &QProcess::finished, viewer, &QObject::deleteLater);
    connect(viewer, &QProcess::errorOccurred, viewer, [viewer](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            viewer->deleteLater();
    });
    viewer->start(program, {manual}, QIODevice::ReadWrite);
}

void MainWindow::on_actionAbout_triggered()
{
    DialogAbout dialog(this);
    dialog.setModal(true);
    dialog.exec();
}

void MainWindow::LogStatusBar(QString qsMsg)
{
    ui->statusBar->showMessage(qsMsg, 0);
}
