#include "app/mainwindow.h"
#include "app/pagelistvalidator.h"
#include "app/readtextfile.h"
#include "app/windowplacement.h"
#include "support/warnings.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

// The window as it comes up: form, title, placement, validator.
class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void freshWindowDefaults();
    void outputTypeEntries();
    void spinBoxLimits_data();
    void spinBoxLimits();
    void sizeLimits();
    void shownAtFormSizeUnclipped();
    void changesReachTheBaseClass_data();
    void changesReachTheBaseClass();
    void tabOrder();
    void helpMenu();
    void toolBarHiddenMenuBarShown();
    void title();
    void centring_data();
    void centring();
    void pageListValidator_data();
    void pageListValidator();
    void outputFolderEmptyAfterStart();
    void progressDialogHiddenWithEmptyRange();
    void resourceImages_data();
    void resourceImages();
    void styleSheetText();

private:
    template<typename T>
    T *child(const char *name)
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }

    MainWindow *window = nullptr;
};

void MainWindowTest::init()
{
    failOnUnexpectedWarnings();
    window = new MainWindow;
}

void MainWindowTest::cleanup()
{
    delete window;
    window = nullptr;
}

void MainWindowTest::freshWindowDefaults()
{
    QVERIFY(child<QRadioButton>("radioButton_page_range_all_pages")->isChecked());
    QVERIFY(!child<QRadioButton>("radioButton_page_range_cur_page")->isChecked());
    QVERIFY(!child<QRadioButton>("radioButton_page_range_between")->isChecked());

    auto *pages = child<QLineEdit>("lineEdit_pages_between");
    QVERIFY(!pages->isEnabled());
    QCOMPARE(pages->text(), QStringLiteral("1,2,3,6-9"));

    QVERIFY(!child<QAbstractButton>("pushButton_preview_previous")->isEnabled());
    QVERIFY(!child<QAbstractButton>("pushButton_preview_next")->isEnabled());

    auto *stack = child<QStackedWidget>("stackedWidget_output_type");
    QCOMPARE(stack->currentWidget(), child<QWidget>("page_jpeg"));
    QCOMPARE(child<QSpinBox>("spinBox_jpeg_quality")->value(), 75);
    QCOMPARE(child<QSpinBox>("spinBox_resolution")->value(), 150);

    QVERIFY(child<QLineEdit>("lineEdit_input_file")->text().isEmpty());
    QVERIFY(child<QLabel>("label_pdf_page_info")->text().isEmpty());
    QVERIFY(child<QLineEdit>("lineEdit_input_file")->isReadOnly());
}

void MainWindowTest::outputTypeEntries()
{
    auto *type = child<QComboBox>("comboBox_output_type");
    QVERIFY(!type->isEditable());
    const QStringList expected{"JPEG format", "PNG format", "BMP format", "TIFF format"};
    QCOMPARE(type->count(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(type->itemText(i), expected.at(i));
    QCOMPARE(type->currentIndex(), 0);

    auto *folder = child<QComboBox>("comboBox_output_folder");
    QVERIFY(folder->isEditable());
    QCOMPARE(folder->maxCount(), 20);
    QCOMPARE(child<QStackedWidget>("stackedWidget_output_type")->count(), 5);
}

void MainWindowTest::spinBoxLimits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("step");
    QTest::newRow("resolution") << "spinBox_resolution" << 1 << 999999 << 10;
    QTest::newRow("jpeg quality") << "spinBox_jpeg_quality" << 1 << 100 << 1;
    QTest::newRow("png quality") << "spinBox_png_quality" << 1 << 100 << 1;
}

void MainWindowTest::spinBoxLimits()
{
    QFETCH(QString, name);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, step);
    auto *spin = window->findChild<QSpinBox *>(name);
    QVERIFY(spin);
    QCOMPARE(spin->minimum(), minimum);
    QCOMPARE(spin->maximum(), maximum);
    QCOMPARE(spin->singleStep(), step);
    QVERIFY(spin->suffix().isEmpty());
}

void MainWindowTest::sizeLimits()
{
    QCOMPARE(window->size(), QSize(536, 598));
    QCOMPARE(window->maximumSize(), QSize(536, 598));
    window->resize(900, 900);
    QCOMPARE(window->size(), QSize(536, 598));

    auto *preview = child<QLabel>("label_preview");
    QCOMPARE(preview->maximumSize(), QSize(264, 284));
    QVERIFY(preview->hasScaledContents());
    QCOMPARE(child<QGroupBox>("groupBox_preview")->maximumSize(), QSize(280, 295));
    QCOMPARE(child<QLineEdit>("lineEdit_pages_between")->maximumSize(), QSize(110, 20));
}

// The layout's minimum must fit the form's fixed size with the fonts at hand,
// or the shown window grows past it and cuts nothing but looks wrong.
void MainWindowTest::shownAtFormSizeUnclipped()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->size(), QSize(536, 598));
    QVERIFY(window->minimumSizeHint().width() <= 536);
    const QList<QWidget *> widgets = window->centralWidget()->findChildren<QWidget *>();
    for (const QWidget *widget : widgets) {
        const auto *label = qobject_cast<const QLabel *>(widget);
        if (!widget->isVisible() || (label && label->hasScaledContents()))
            continue;
        const QString name = widget->objectName();
        QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()), qPrintable(name));
        QVERIFY2(widget->width() >= widget->minimumSizeHint().width(), qPrintable(name));
    }
}

// Minimizing goes to the tray; every other change is the base class's too:
// its layout is asked to lay the window out again.
void MainWindowTest::changesReachTheBaseClass_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("font") << int(QEvent::FontChange);
    QTest::newRow("style") << int(QEvent::StyleChange);
}

void MainWindowTest::changesReachTheBaseClass()
{
    QFETCH(int, type);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCoreApplication::sendPostedEvents();

    struct LayoutRequests : QObject
    {
        int count = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            count += event->type() == QEvent::LayoutRequest;
            return false;
        }
    } requests;
    window->installEventFilter(&requests);
    QEvent change(static_cast<QEvent::Type>(type));
    QCoreApplication::sendEvent(window, &change);
    QCoreApplication::sendPostedEvents(window, QEvent::LayoutRequest);
    QVERIFY(requests.count > 0);
}

void MainWindowTest::tabOrder()
{
    const QStringList order{"toolButton_select_input_file", "pushButton_preview_previous",
                            "pushButton_preview_next", "comboBox_output_type",
                            "radioButton_page_range_all_pages", "radioButton_page_range_cur_page",
                            "radioButton_page_range_between", "lineEdit_pages_between",
                            "comboBox_output_folder", "toolButton_select_output_folder",
                            "pushButton_cancel"};
    for (int i = 0; i + 1 < order.size(); ++i) {
        QWidget *from = child<QWidget>(qPrintable(order.at(i)));
        QWidget *next = from->nextInFocusChain();
        // Skip what takes no tab focus, and the line edit inside an editable combo box.
        while (next && (!(next->focusPolicy() & Qt::TabFocus) || next->parentWidget() == from))
            next = next->nextInFocusChain();
        QCOMPARE(next ? next->objectName() : QString(), order.at(i + 1));
    }
}

void MainWindowTest::helpMenu()
{
    auto *menu = child<QMenu>("menuHelp");
    QCOMPARE(menu->title(), QStringLiteral("Help"));
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions.at(0)->text(), QStringLiteral("Manual"));
    QCOMPARE(actions.at(1)->text(), QStringLiteral("About"));
    QCOMPARE(window->menuBar()->actions().size(), 1);
    QCOMPARE(window->menuBar()->actions().first()->menu(), menu);
    QVERIFY(window->menuBar()->styleSheet().contains(QLatin1String(":/skin/skin/metal_bg.png")));
}

void MainWindowTest::toolBarHiddenMenuBarShown()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(!child<QToolBar>("mainToolBar")->isVisible());
    QVERIFY(window->menuBar()->isVisible());
    QVERIFY(window->statusBar()->isVisible());
}

void MainWindowTest::title()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Tarnwick Pdf to Image Converter  " VELLORAN_PROJECT_VERSION));
}

void MainWindowTest::centring_data()
{
    QTest::addColumn<QSize>("desktop");
    QTest::addColumn<QPoint>("position");
    QTest::newRow("1920x1080") << QSize(1920, 1080) << QPoint(692, 241);
    QTest::newRow("width 1025 truncates") << QSize(1025, 1080) << QPoint(244, 241);
    QTest::newRow("narrower than the window") << QSize(501, 598) << QPoint(-17, 0);
}

void MainWindowTest::centring()
{
    QFETCH(QSize, desktop);
    QFETCH(QPoint, position);
    QCOMPARE(centredPosition(desktop, QSize(536, 598)), position);
}

void MainWindowTest::pageListValidator_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");
    const int acceptable = QValidator::Acceptable;
    const int intermediate = QValidator::Intermediate;
    const int invalid = QValidator::Invalid;
    QTest::newRow("initial text") << "1,2,3,6-9" << intermediate;
    QTest::newRow("unfinished range") << "4-" << intermediate;
    QTest::newRow("trailing comma") << "1,2,3," << acceptable;
    QTest::newRow("five digits") << "12345," << acceptable;
    QTest::newRow("empty") << "" << acceptable;
    QTest::newRow("letter") << "a" << invalid;
    QTest::newRow("leading minus") << "-1" << invalid;
    QTest::newRow("leading comma") << ",1" << invalid;
    QTest::newRow("two commas") << "1,,2" << invalid;
    QTest::newRow("second hyphen") << "1-2-3" << invalid;
    QTest::newRow("six digits") << "123456" << invalid;
    QTest::newRow("blank") << "1 2" << invalid;
}

void MainWindowTest::pageListValidator()
{
    QFETCH(QString, text);
    QFETCH(int, state);
    const QValidator *validator = child<QLineEdit>("lineEdit_pages_between")->validator();
    QVERIFY(validator);
    int pos = 0;
    QCOMPARE(int(validator->validate(text, pos)), state);
}

void MainWindowTest::outputFolderEmptyAfterStart()
{
    auto *folder = child<QComboBox>("comboBox_output_folder");
    QCOMPARE(folder->currentIndex(), -1);
    QVERIFY(folder->currentText().isEmpty());
}

void MainWindowTest::progressDialogHiddenWithEmptyRange()
{
    auto *dialog = window->findChild<QProgressDialog *>();
    QVERIFY(dialog);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->minimum(), 0);
    QCOMPARE(dialog->maximum(), 0);
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QCOMPARE(dialog->labelText(), QStringLiteral("Converting pdf file..."));
}

void MainWindowTest::resourceImages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("logo") << ":/icon/icon/logo.png" << QSize(256, 256);
    QTest::newRow("open") << ":/icon/icon/document-open.png" << QSize(32, 32);
    QTest::newRow("open folder") << ":/icon/icon/document-open-folder.png" << QSize(32, 32);
    QTest::newRow("previous") << ":/icon/icon/go-previous.png" << QSize(32, 32);
    QTest::newRow("next") << ":/icon/icon/go-next.png" << QSize(32, 32);
    QTest::newRow("banner") << ":/pix/pix/program_banner.png" << QSize(595, 80);
    QTest::newRow("preview") << ":/pix/pix/preview.png" << QSize(260, 280);
    QTest::newRow("background") << ":/skin/skin/metal_bg.png" << QSize(526, 23);
    for (const char *name : {"radio_off", "radio_off_hover", "radio_on", "radio_on_hover"})
        QTest::newRow(name) << QStringLiteral(":/skin/skin/%1.png").arg(QLatin1String(name)) << QSize(19, 21);
    QTest::newRow("down arrow") << ":/skin/skin/combo_down_arrow.png" << QSize(12, 12);
    QTest::newRow("up arrow") << ":/skin/skin/combo_up_arrow.png" << QSize(12, 12);
}

void MainWindowTest::resourceImages()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
}

void MainWindowTest::styleSheetText()
{
    const QString sheet = readTextFile(QStringLiteral(":/skin/skin/style.qss"));
    QVERIFY(sheet.contains(QLatin1String("QPushButton:hover, QPushButton:default:hover")));
    QVERIFY(sheet.contains(QLatin1String("url(:/skin/skin/radio_on.png)")));
    // A sheet that cannot be read leaves Qt's own look.
    QVERIFY(readTextFile(QStringLiteral(":/skin/skin/missing.qss")).isEmpty());
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
