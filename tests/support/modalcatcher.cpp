#include "support/modalcatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
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

ModalCatcher::~ModalCatcher() = default;

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
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == m_handled || !modal->isVisible())
        return;
    if (m_ignoredClasses.contains(QLatin1String(modal->metaObject()->className())))
        return;
    m_handled = modal;

    Record record;
    record.className = QString::fromLatin1(modal->metaObject()->className());
    record.title = modal->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(modal))
        record.text = box->text();
    m_records.append(record);

    if (!m_handlers.isEmpty()) {
        Handler handler = m_handlers.takeFirst();
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
