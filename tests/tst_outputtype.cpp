#include "app/mainwindow.h"
#include "conversion/outputtype.h"
#include "support/warnings.h"

#include <QComboBox>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>

class TstOutputType : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void extensionForText_data();
    void extensionForText();
    void tableMatchesCombo();
    void comboShowsOptionsPage_data();
    void comboShowsOptionsPage();
    void unknownTypeKeepsPage();

private:
    template<typename T>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }

    MainWindow *window = nullptr;
};

void TstOutputType::init()
{
    failOnUnexpectedWarnings();
    window = new MainWindow;
}

void TstOutputType::cleanup()
{
    delete window;
    window = nullptr;
}

void TstOutputType::extensionForText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("extension");

    QTest::newRow("JPEG") << "JPEG format" << "jpg";
    QTest::newRow("PNG") << "PNG format" << "png";
    QTest::newRow("BMP") << "BMP format" << "bmp";
    QTest::newRow("TIFF") << "TIFF format" << "tiff";
    QTest::newRow("case matters") << "jpeg format" << "";
    QTest::newRow("unknown") << "GIF format" << "";
    QTest::newRow("WebP is the command line's alone") << "WebP format" << "";
    QTest::newRow("empty") << "" << "";
}

void TstOutputType::extensionForText()
{
    QFETCH(QString, text);
    QFETCH(QString, extension);
    QCOMPARE(extensionForTypeText(text), extension);
}

void TstOutputType::tableMatchesCombo()
{
    auto *combo = child<QComboBox>("comboBox_output_type");
    QCOMPARE(combo->count(), outputTypes().size());
    for (int i = 0; i < combo->count(); ++i)
        QCOMPARE(combo->itemText(i), QString::fromLatin1(outputTypes().at(i).comboText));
    QVERIFY(!combo->isEditable());
}

void TstOutputType::comboShowsOptionsPage_data()
{
    QTest::addColumn<QStringList>("choices");
    QTest::addColumn<QString>("page");

    QTest::newRow("PNG") << QStringList{"PNG format"} << "page_png";
    QTest::newRow("BMP") << QStringList{"BMP format"} << "page_bmp";
    QTest::newRow("TIFF") << QStringList{"TIFF format"} << "page_tiff";
    QTest::newRow("back to JPEG") << QStringList{"TIFF format", "JPEG format"} << "page_jpeg";
}

void TstOutputType::comboShowsOptionsPage()
{
    QFETCH(QStringList, choices);
    QFETCH(QString, page);

    auto *combo = child<QComboBox>("comboBox_output_type");
    auto *stack = child<QStackedWidget>("stackedWidget_output_type");
    QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("page_jpeg"));
    child<QSpinBox>("spinBox_jpeg_quality")->setValue(42);

    for (const QString &choice : choices)
        combo->setCurrentText(choice);
    QCOMPARE(stack->currentWidget()->objectName(), page);
    // Switching pages keeps what the user set on them.
    QCOMPARE(child<QSpinBox>("spinBox_jpeg_quality")->value(), 42);
}

void TstOutputType::unknownTypeKeepsPage()
{
    auto *combo = child<QComboBox>("comboBox_output_type");
    auto *stack = child<QStackedWidget>("stackedWidget_output_type");
    combo->setCurrentText(QStringLiteral("BMP format"));
    combo->addItem(QStringLiteral("GIF format"));
    combo->setCurrentText(QStringLiteral("GIF format"));
    QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("page_bmp"));
}

QTEST_MAIN(TstOutputType)
#include "tst_outputtype.moc"
