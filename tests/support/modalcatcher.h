#ifndef MODALCATCHER_H
#define MODALCATCHER_H

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QWidget;

// Watches for modal widgets (message boxes, file dialogs, progress and About
// dialogs) while a test drives the window, records them and closes them.
// Each expected modal can be given a handler that answers it (picks a file,
// presses a button); without one, a message box is closed with its escape or
// default button and any other dialog is rejected. A modal that is still up
// after its handler is answered again until it goes; one that will not go is
// closed by force and fails the test, so that no test waits on it forever.
// Whatever modal is still open when the catcher goes is closed too.
class ModalCatcher : public QObject
{
    Q_OBJECT

public:
    struct Record
    {
        QString className;
        QString title;
        QString text; // QMessageBox text; empty for other dialogs
    };
    using Handler = std::function<void(QWidget *modal)>;

    explicit ModalCatcher(QObject *parent = nullptr);
    ~ModalCatcher() override;

    // Queues a handler for the next modal widget that appears.
    void expect(Handler handler);

    // Leaves modals of this class alone, unrecorded (e.g. "QProgressDialog",
    // which a conversion run may or may not put on screen).
    void ignoreClass(const QString &className);

    QList<Record> records() const { return m_records; }
    int count() const { return m_records.size(); }
    Record last() const { return m_records.isEmpty() ? Record() : m_records.last(); }

    // Waits (processing events) until at least n modals were handled.
    bool waitForCount(int n, int timeoutMs = 10000);

    // Handlers for common cases.
    static Handler chooseFile(const QString &path);  // QFileDialog: select and accept
    static Handler cancelDialog();                   // any dialog: reject
    static Handler clickButton(const QString &text); // QMessageBox: the button with this text

private:
    // A modal answered and not yet gone.
    struct Answered
    {
        QPointer<QWidget> modal;
        Handler handler; // null: the default answer
        int attempts = 0;
    };

    void poll();
    void retry(Answered &answered);
    // Answers from the event loop, not from inside poll(): an answer may open
    // a modal of its own (a file dialog's warning), which must be caught too.
    void answerLater(QWidget *modal, const Handler &handler);
    static void answer(QWidget *modal, const Handler &handler);

    static constexpr int maxAttempts = 300; // polls, 10 ms apart

    QTimer m_timer;
    QList<Handler> m_handlers;
    QList<Record> m_records;
    QStringList m_ignoredClasses;
    QList<Answered> m_answered;
};

#endif // MODALCATCHER_H
