#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "conversion/process.h"
#include "document/opendocument.h"
#include "engine/nativepath.h"

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>

namespace Ui {
class MainWindow;
}

class PreviewDrawer;
class QAction;
class QEventLoop;
struct TaskResult;
class QMenu;
class QProgressDialog;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // True while the worker renders from the open document.
    bool conversionRunning() const;

    // Opens path as if it had been chosen in the file dialog, with the same
    // boxes; does nothing during a run, as the Select button does.
    void openPdfFile(const QString &path);
    // "velloran FILE.pdf": opens the first argument once the event loop runs.
    void openFromCommandLine(const QList<NativePath> &arguments);

    // The pages (0-based, in the order given) that the page-range controls
    // choose in the open document: Convert's second step, after the output
    // folder. A list that cannot be read is marked and the user told; then
    // it returns false.
    bool selectPages(QList<int> *pageList);

public slots:
    void pushButton_exit_clicked();
    void Update_Gui();
    void InitPdf();
    void makePreview();
    void LoadConfigData();
    void ConvertProgress(qint32 convered, qint32 totalpage);
    void ConvertCanceled();
    void LogStatusBar(QString qsMsg);

private slots:
    void on_lineEdit_pages_between_textEdited(QString);
    void on_radioButton_page_range_between_toggled(bool checked);
    void on_actionManual_triggered();
    void on_actionAbout_triggered();
    void on_pushButton_cancel_clicked();
    void on_pushButton_convert_clicked();
    void on_comboBox_output_type_currentTextChanged(QString);
    void on_toolButton_select_output_folder_clicked();
    void on_pushButton_preview_next_clicked();
    void on_pushButton_preview_previous_clicked();
    void on_toolButton_select_input_file_clicked();
    void setIcon();
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
    void setVisible(bool visible) override;
    void showMessage(QString qsMsg);

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void setBackground();
    void centreOnDesktop();
    void installPageListValidator();
    void loadChosenFile(const QString &path);
    // The preview of curPage; false when a newer one or another file superseded it.
    bool drawPreview();
    void showPreview(const TaskResult &drawn, const QSize &fitArea);
    std::optional<TaskResult> waitForDrawer(quint64 id);
    void dropPreview();
    void createProgressDialog();
    void connectWorker();
    void createTrayActions();
    void createTrayIcon();

    // Conversion request steps; each tells the user and returns false when the request must stop.
    bool checkOutputFolder();
    void markPageListError();
    void informUser(const QString &title, const QString &text);
    void startConversion(QList<int> pageList);
    // The open file changed on disk: opens it again and says so.
    void reopenChangedFile();
    // skipped names the pages that could not be drawn, if any.
    void showCompletion(qint32 converted, const QString &skipped = QString());
    void reportUnfinishedRun();

    // The worker draws pdfDoc's pages: the controls that replace or render the
    // document stay off for the length of a run.
    void setDocumentControlsEnabled(bool enabled);
    void conversionFinished();

    // Ends a running conversion and waits for it, so that no page is left half written.
    void stopConversion();

    Ui::MainWindow *ui;
    QAction *minimizeAction = nullptr;
    QAction *maximizeAction = nullptr;
    QAction *restoreAction = nullptr;
    QAction *quitAction = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayIconMenu = nullptr;

    QString qsPdfFile;
    QString qsOutputDir;
    std::optional<OpenDocument> pdfDoc;
    quint32 curPage = 0;
    quint32 totalPage = 0;
    Process process;
    QProgressDialog *progressDialog = nullptr;
    PreviewDrawer *previewDrawer = nullptr;
    quint64 previewId = 0;               // the newest preview asked for
    QEventLoop *previewWait = nullptr;   // where drawPreview waits for it

};

#endif // MAINWINDOW_H
