#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/pagelistvalidator.h"
#include "app/windowplacement.h"
#include "document/previewdrawer.h"
#include "engine/version.h"


#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QScreen>

#include <cstdlib>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    setBackground();
    ui->mainToolBar->hide();
    centreOnDesktop();
    setAcceptDrops(true);
    setWindowTitle(QStringLiteral("%1  %2").arg(AppInfo::programName(), QLatin1String(AppInfo::version)));

    createTrayActions();
    createTrayIcon();
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::iconActivated);
    setIcon();
    trayIcon->setVisible(true);

    previewDrawer = new PreviewDrawer(this);
    InitPdf();
    createProgressDialog();
    LoadConfigData();
    ui->comboBox_output_folder->setCurrentIndex(-1);
    installPageListValidator();
    Update_Gui();
    connectWorker();
}

MainWindow::~MainWindow()
{
    stopConversion();
    delete ui;
}

void MainWindow::setBackground()
{
    const QPixmap tile(QStringLiteral(":/skin/skin/metal_bg.png"));
    QPalette pal = palette();
    pal.setBrush(QPalette::All, QPalette::Window, QBrush(tile));
    setPalette(pal);
}

void MainWindow::centreOnDesktop()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    move(centredPosition(screen->virtualGeometry().size(), size()));
}

void MainWindow::installPageListValidator()
{
    ui->lineEdit_pages_between->setValidator(createPageListValidator(this));
}

void MainWindow::createProgressDialog()
{
    progressDialog = new QProgressDialog(tr("Converting pdf file..."), tr("Abort Convert"),
                                         int(curPage), int(totalPage), this);
    progressDialog->setWindowModality(Qt::WindowModal);
    // Qt 6 arms the dialog's show timer on construction; without this reset
    // the idle dialog would pop up a few seconds after start-up.
    progressDialog->reset();
}

void MainWindow::connectWorker()
{
    connect(&process, &Process::ConvertProgress, this, &MainWindow::ConvertProgress);
    connect(&process, &Process::LogStatusBar, this, &MainWindow::LogStatusBar);
    connect(progressDialog, &QProgressDialog::canceled, this, &MainWindow::ConvertCanceled);
    connect(&process, &QThread::finished, this, &MainWindow::conversionFinished);
    // When the event loop ends with the last window, the worker must not be cut off mid-page.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &MainWindow::stopConversion);
}

bool MainWindow::conversionRunning() const
{
    return process.isRunning();
}

void MainWindow::stopConversion()
{
    if (!process.isRunning())
        return;
    process.canceled.store(true, std::memory_order_relaxed);
    process.wait();
}

void MainWindow::informUser(const QString &title, const QString &text)
{
    QMessageBox::information(this, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::pushButton_exit_clicked()
{
    // The worker stops within a fraction of a second, even inside a page, and
    // leaves no file of a page it did not finish.
    stopConversion();
    QCoreApplication::quit();
    std::exit(0);
}

void MainWindow::on_pushButton_cancel_clicked()
{
    closeEvent(nullptr);
}
