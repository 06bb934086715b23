#include "app/mainwindow.h"
#include "support/modalcatcher.h"
#include "support/warnings.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The Convert button: the checks in their order, the job, the run.
class TestRequest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void noDocumentIsToldFirst_data();
    void noDocumentIsToldFirst();

private:
    template<typename T>
    T *child(const char *name) const
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }
    // Presses Convert with the catcher running; returns the boxes it showed.
    QList<ModalCatcher::Record> pressConvert();

    QTemporaryDir tempDir;
    MainWindow *window = nullptr;
};

void TestRequest::init()
{
    failOnUnexpectedWarnings();
    QVERIFY(tempDir.isValid());
    window = new MainWindow;
}

void TestRequest::cleanup()
{
    delete window;
    window = nullptr;
}

QList<ModalCatcher::Record> TestRequest::pressConvert()
{
    ModalCatcher catcher;
    bool returned = false;
    // Every box of a request is shown inside the slot, so all are caught once it returns.
    QTimer::singleShot(0, window, [&] {
        child<QPushButton>("pushButton_convert")->click();
        returned = true;
    });
    if (!QTest::qWaitFor([&] { return returned; }, 20000))
        qWarning("Convert did not return");
    return catcher.records();
}

void TestRequest::noDocumentIsToldFirst_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("no folder") << QString();
    QTest::newRow("missing folder") << "missing/deeper";
}

void TestRequest::noDocumentIsToldFirst()
{
    QFETCH(QString, folder);
    const QString folderPath = folder.isEmpty() ? folder : tempDir.filePath(folder);
    child<QComboBox>("comboBox_output_folder")->setEditText(folderPath);
    child<QLineEdit>("lineEdit_pages_between")->setStyleSheet(QStringLiteral("background-color:yellow"));

    const QList<ModalCatcher::Record> boxes = pressConvert();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.at(0).className, QStringLiteral("QMessageBox"));
    QCOMPARE(boxes.at(0).title, QStringLiteral("Note"));
    QCOMPARE(boxes.at(0).text, QStringLiteral("Input pdf document is Null"));
    QCOMPARE(child<QLineEdit>("lineEdit_pages_between")->styleSheet(), QString());
    if (!folder.isEmpty())
        QVERIFY(!QDir(folderPath).exists());
}

QTEST_MAIN(TestRequest)
#include "tst_request.moc"
