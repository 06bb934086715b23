#include "app/mainwindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QTimer>

// TODO: the tray icon and window state.
void MainWindow::createTrayActions()
{
    minimizeAction = new QAction(tr("Minimize"), this);
    maximizeAction = new QAction(tr("Maximize"), this);
    restoreAction = new QAction(tr("Restore"), this);
    quitAction = new QAction(tr("Exit"), this);
}

void MainWindow::createTrayIcon()
{
    trayIconMenu = new QMenu(this);
    trayIcon = new QSystemTrayIcon(this);
}

void MainWindow::setIcon()
{
    trayIcon->setIcon(QIcon(QStringLiteral(":/icon/icon/logo.png")));
    trayIcon->setVisible(true);
}
void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason) {}
void MainWindow::setVisible(bool visible) { QMainWindow::setVisible(visible); }
void MainWindow::showMessage(QString) {}
void MainWindow::changeEvent(QEvent *) {}

void MainWindow::closeEvent(QCloseEvent *)
{
    QTimer::singleShot(500, this, &MainWindow::pushButton_exit_clicked);
    trayIcon->hide();
}
