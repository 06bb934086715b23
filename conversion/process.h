#ifndef PROCESS_H
#define PROCESS_H

#include <QList>
#include <QString>
#include <QThread>

#include <atomic>

namespace Poppler {
class Document;
}

// The conversion worker: renders the pages of its job one at a time and
// writes each as an image file. It reports only through its two signals.
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
    QString qsOutputDir;
    QString qsExtension;
    Poppler::Document *pdfDoc = nullptr; // borrowed from the window
    int quality = 75;
    int resolution = 150;
    unsigned int pageIndex = 0;

signals:
    void ConvertProgress(qint32 curpage, qint32 totalpage);
    void LogStatusBar(QString qsMsg);

protected:
    void run() override;

private:
    // Emits "User canceled" when a cancel was asked for.
    bool cancelSeen();

    static constexpr unsigned long pauseBetweenPagesMs = 15;
};

#endif // PROCESS_H
