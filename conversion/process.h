#ifndef PROCESS_H
#define PROCESS_H

#include "runner/pagesinorder.h"
#include "runner/pagetask.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QThread>

#include <atomic>

struct OpenDocument;
class PageRunner;

// The conversion worker: has the pages of its job drawn and written side by
// side, one worker process a core, and reports them one after another in list
// order, each file put in place as its page is reported. It reports only
// through its two signals.
// The job fields are written only while the thread is not running; the
// cancel flag is the one thing another thread may change during a run.
class Process : public QThread
{
    Q_OBJECT

public:
    explicit Process(QObject *parent = nullptr);
    ~Process() override;

    void ResetJob();

    QList<int> pageList;
    unsigned int convertedCount = 0;
    unsigned int totalCount = 0;
    std::atomic<bool> canceled{false};
    QString qsPdfFile;
    FileStamp pdfStamp; // the file the window opened: its pages are drawn from it only
    QString qsOutputDir;
    QString qsExtension;
    const OpenDocument *pdfDoc = nullptr; // borrowed from the window
    int quality = 75;
    int resolution = 150;
    unsigned int pageIndex = 0;

    // How the last run ended, for the window to tell the user once the thread
    // has finished: pages that could not be drawn (0-based), and the status
    // line of a failure that stopped the run (empty when none did).
    QList<int> skippedPages;
    QString failureMessage;

signals:
    void ConvertProgress(qint32 curpage, qint32 totalpage);
    void LogStatusBar(QString qsMsg);

protected:
    void run() override;

private:
    // Emits "User canceled" when a cancel was asked for.
    bool cancelSeen();
    // Emits the status line of a failure that ends the run and keeps it.
    void stopWith(const QString &message);
    // The task that draws the page into filePath, its file held back for report().
    PageTask taskFor(int page, const QString &filePath, ImageFormat format) const;
    // Tells of the next page in list order, whose result is in, and puts its
    // file in place; false when that ends the run.
    bool report(PagesInOrder::Taken &drawn);
    // Keeps the pause between two pages reported.
    void paceReports();

    static constexpr qint64 pauseBetweenPagesMs = 15;
    QElapsedTimer sinceLastPage;
};

#endif // PROCESS_H
