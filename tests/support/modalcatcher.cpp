#include "support/modalcatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

ModalCatcher::ModalCatcher(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &ModalCatcher::poll);
    m_timer.start();
}

ModalCatcher::~ModalCatcher()
{
    // A check that failed while a box was up must not leave it to block the next test.
    for (int i = 0; i < 10; ++i) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            break;
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->done(QDialog::Rejected);
        else
            modal->close();
    }
}

void ModalCatcher::expect(Handler handler)
{
    m_handlers.append(std::move(handler));
}

void ModalCatcher::ignoreClass(const QString &className)
{
    m_ignoredClasses.append(className);
}

bool ModalCatcher::waitForCount(int n, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_records.size() < n && !deadline.hasExpired())
        QTest::qWait(10);
    return m_records.size() >= n;
}

void ModalCatcher::poll()
{
    m_answered.removeIf([](const Answered &a) { return !a.modal || !a.modal->isVisible(); });
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (m_ignoredClasses.contains(QLatin1String(modal->metaObject()->className())))
        return;
    for (Answered &answered : m_answered) {
        if (answered.modal == modal) {
            retry(answered);
            return;
        }
    }

    Record record;
    record.className = QString::fromLatin1(modal->metaObject()->className());
    record.title = modal->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(modal))
        record.text = box->text();
    m_records.append(record);

    Answered answered{modal, m_handlers.isEmpty() ? Handler() : m_handlers.takeFirst()};
    m_answered.append(answered);
    answerLater(modal, answered.handler);
}

// An answer can miss (a file dialog still reading its folder); it is given
// again until the modal goes, and past the limit the modal is closed by force.
void ModalCatcher::retry(Answered &answered)
{
    if (++answered.attempts < maxAttempts) {
        if (answered.attempts % 10 == 0)
            answerLater(answered.modal, answered.handler);
        return;
    }
    QWidget *modal = answered.modal;
    const QString title = modal->windowTitle();
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->done(QDialog::Rejected);
    else
        modal->close();
    QTest::qFail(qPrintable(QStringLiteral("the modal \"%1\" did not close when answered").arg(title)),
                 __FILE__, __LINE__);
}

void ModalCatcher::answerLater(QWidget *modal, const Handler &handler)
{
    QTimer::singleShot(0, modal, [modal, handler] {
        if (modal->isVisible())
            answer(modal, handler);
    });
}

void ModalCatcher::answer(QWidget *modal, const Handler &handler)
{
    if (handler) {
        handler(modal);
        return;
    }
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        QAbstractButton *button = box->escapeButton() ? box->escapeButton()
                                                      : static_cast<QAbstractButton *>(box->defaultButton());
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        if (button) {
            button->click();
            return;
        }
    }
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
    else
        modal->close();
}

ModalCatcher::Handler ModalCatcher::chooseFile(const QString &path)
{
    return [path](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        // The whole path goes into the name field right before accepting: the
        // dialog reads its folder in the background and moves its selection,
        // which rewrites that field, so nothing may run in between.
        auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (nameEdit)
            nameEdit->setText(QFileInfo(path).absoluteFilePath());
        else
            dialog->selectFile(path);
        // QFileDialog::accept() is protected; QDialog's is public and virtual.
        static_cast<QDialog *>(dialog)->accept();
    };
}

ModalCatcher::Handler ModalCatcher::cancelDialog()
{
    return [](QWidget *modal) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    };
}

ModalCatcher::Handler ModalCatcher::clickButton(const QString &text)
{
    return [text](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (box) {
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == text) {
                    button->click();
                    return;
                }
            }
        }
        modal->close();
    };
}
