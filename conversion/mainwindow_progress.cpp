#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/openfolder.h"
#include "engine/pagelist.h"

#include "config/windowlog.h"
#include <QDir>
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
    qCDebug(windowLog) << "finished";
    showCompletion(convered);
}

void MainWindow::showCompletion(qint32 converted, const QString &skipped)
{
    QMessageBox box(this);
    QString text = tr("Convert finished, <font color=blue><b>%1</b></font> page converted").arg(converted);
    if (!skipped.isEmpty())
        text += QStringLiteral("<br>") + tr("Pages that could not be drawn: %1").arg(skipped);
    box.setText(text);
    box.setWindowTitle(tr("Finished"));
    QPushButton *viewButton = box.addButton(tr("View in Explorer"), QMessageBox::YesRole);
    box.addButton(tr("Ignore"), QMessageBox::NoRole);
    box.setDefaultButton(viewButton);
    box.exec();
    // The run's own folder: a request refused while this run went on may
    // already have put another folder into qsOutputDir.
    if (box.clickedButton() == viewButton && !openFolder(process.qsOutputDir))
        QMessageBox::warning(this, tr("Failed"),
                             tr("No file manager could be started to show %1.\n"
                                "Install xdg-utils (Debian: sudo apt-get install xdg-utils) and try again.")
                                 .arg(QDir::toNativeSeparators(process.qsOutputDir)),
                             QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::ConvertCanceled()
{
    process.canceled.store(true, std::memory_order_relaxed);
}

// A run that stopped on a failure, or ran out of pages with some that could
// not be drawn, never reports its last page: its dialog would stay up for good.
void MainWindow::reportUnfinishedRun()
{
    if (process.canceled.load(std::memory_order_relaxed))
        return;
    if (!process.failureMessage.isEmpty()) {
        progressDialog->reset();
        QMessageBox::warning(this, tr("Error"), process.failureMessage, QMessageBox::Ok, QMessageBox::NoButton);
    } else if (!process.skippedPages.isEmpty() && process.pageList.isEmpty()) {
        progressDialog->reset();
        showCompletion(qint32(process.convertedCount), pageNumbersText(process.skippedPages));
    }
}
