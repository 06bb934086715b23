#include "app/mainwindow.h"

#include "engine/version.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QMenu>
#include <QTimer>

void MainWindow::createTrayActions()
{
    minimizeAction = new QAction(tr("Minimize"), this);
    connect(minimizeAction, &QAction::triggered, this, &QWidget::hide);

    maximizeAction = new QAction(tr("Maximize"), this);
    connect(maximizeAction, &QAction::triggered, this, &QWidget::showMaximized);

    restoreAction = new QAction(tr("Restore"), this);
    connect(restoreAction, &QAction::triggered, this, &QWidget::showNormal);

    quitAction = new QAction(tr("Exit"), this);
    connect(quitAction, &QAction::triggered, this, &MainWindow::pushButton_exit_clicked);
}

void MainWindow::createTrayIcon()
{
    trayIconMenu = new QMenu(this);
    trayIconMenu->addAction(minimizeAction);
    trayIconMenu->addAction(maximizeAction);
    trayIconMenu->addAction(restoreAction);
    trayIconMenu->addSeparator();
    trayIconMenu->addAction(quitAction);

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setContextMenu(trayIconMenu);
}

void MainWindow::setIcon()
{
    trayIcon->setIcon(QIcon(QStringLiteral(":/icon/icon/logo.png")));
    trayIcon->setVisible(true);
}

void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger)
        return;
    showNormal();
    activateWindow();
}

void MainWindow::setVisible(bool visible)
{
    // The maximized state is read before the window changes.
    const bool maximized = isMaximized();
    minimizeAction->setEnabled(visible);
    maximizeAction->setEnabled(!maximized);
    restoreAction->setEnabled(maximized || !visible);
    QMainWindow::setVisible(visible);
}

void MainWindow::showMessage(QString qsMsg)
{
    trayIcon->showMessage(AppInfo::programName(), qsMsg, QSystemTrayIcon::Information, 3000);
}

void MainWindow::changeEvent(QEvent *event)
{
    // Minimizing skips the base handler on purpose: the window goes to the
    // tray instead of the task bar. Font, style and palette changes need it.
    if (event->type() != QEvent::WindowStateChange || !(windowState() & Qt::WindowMinimized)) {
        QMainWindow::changeEvent(event);
        return;
    }
    QTimer::singleShot(0, this, &QWidget::hide);
    trayIcon->setVisible(true);
    trayIcon->setToolTip(AppInfo::programName());
    showMessage(tr("Minimized"));
    event->ignore();
}

// Also called with no event by the Cancel button.
void MainWindow::closeEvent(QCloseEvent *)
{
    QTimer::singleShot(500, this, &MainWindow::pushButton_exit_clicked);
    trayIcon->hide();
}
