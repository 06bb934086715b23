#include "app/mainwindow.h"
#include "engine/pagelist.h"
#include "support/modalcatcher.h"
#include "support/pdfmaker.h"
#include "support/warnings.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(PageListResult::Error)

namespace {

const QString marker = QStringLiteral("background-color:yellow");

QString rangeErrorText(quint32 total)
{
    return QStringLiteral("Page number must samller than PDF document's total page count: "
                          "<font color=blue><b>%1</b></font>")
        .arg(total);
}

} // namespace

class TstPageList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void parse_data();
    void parse();
    void selectFromLineEdit_data();
    void selectFromLineEdit();
    void allPages_data();
    void allPages();
    void currentPage();
    void pagesRadioEnablesAndFocusesLineEdit();
    void userEditRemovesMarker();

private:
    template<typename T>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QLineEdit *lineEdit() const { return child<QLineEdit>("lineEdit_pages_between"); }
    // Opens a document of total pages, as the user would; none for 0.
    void openDocument(quint32 total);

    QTemporaryDir dir;
    MainWindow *window = nullptr;
};

void TstPageList::initTestCase()
{
    QVERIFY(dir.isValid());
    for (int total : {3, 1, 5, 7, 10, 20})
        QVERIFY(makePdf(dir.filePath(QStringLiteral("%1.pdf").arg(total)), total));
}

void TstPageList::openDocument(quint32 total)
{
    if (total == 0)
        return;
    const QString file = dir.filePath(QStringLiteral("%1.pdf").arg(total));
    QVERIFY2(QFile::exists(file), qPrintable(file));
    ModalCatcher catcher;
    window->openPdfFile(file);
    QCOMPARE(catcher.count(), 0);
}

void TstPageList::init()
{
    failOnUnexpectedWarnings();
    window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TstPageList::cleanup()
{
    delete window;
    window = nullptr;
}

void TstPageList::parse_data()
{
    using E = PageListResult;
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("total");
    QTest::addColumn<PageListResult::Error>("error");
    QTest::addColumn<QList<int>>("pages");

    QTest::newRow("initial text") << "1,2,3,6-9" << 20u << E::None << QList<int>{0, 1, 2, 5, 6, 7, 8};
    QTest::newRow("reversed range read ascending") << "9-6" << 20u << E::None << QList<int>{5, 6, 7, 8};
    QTest::newRow("repeat dropped, first place kept") << "3,1-4" << 20u << E::None << QList<int>{2, 0, 1, 3};
    QTest::newRow("one-page range") << "5-5" << 20u << E::None << QList<int>{4};
    QTest::newRow("trailing comma") << "1,2," << 20u << E::None << QList<int>{0, 1};
    QTest::newRow("unfinished range only") << "4-" << 20u << E::None << QList<int>{};
    QTest::newRow("two hyphens skipped") << "1-2-3,4" << 20u << E::None << QList<int>{3};
    QTest::newRow("leading comma") << ",2" << 20u << E::None << QList<int>{1};
    QTest::newRow("leading zeros") << "007" << 10u << E::None << QList<int>{6};
    QTest::newRow("last page") << "10" << 10u << E::None << QList<int>{9};
    QTest::newRow("whole document backwards") << "10-1" << 10u << E::None
                                               << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("letters skipped") << "a,2" << 20u << E::None << QList<int>{1};
    QTest::newRow("number too long for int skipped") << "99999999999,3" << 20u << E::None << QList<int>{2};
    QTest::newRow("sign before a number skipped") << "-3" << 20u << E::None << QList<int>{};
    QTest::newRow("empty") << "" << 20u << E::Empty << QList<int>{};
    QTest::newRow("white space only") << " \t " << 20u << E::Empty << QList<int>{};
    QTest::newRow("zero") << "0" << 20u << E::BelowOne << QList<int>{};
    QTest::newRow("range from zero") << "0-3" << 20u << E::BelowOne << QList<int>{};
    QTest::newRow("range to zero") << "3-0" << 20u << E::BelowOne << QList<int>{};
    QTest::newRow("zero test before range test") << "0-999" << 5u << E::BelowOne << QList<int>{};
    QTest::newRow("zero after a good page") << "2,0" << 20u << E::BelowOne << QList<int>{};
    QTest::newRow("above total") << "12" << 10u << E::AboveTotal << QList<int>{};
    QTest::newRow("range end above total") << "2-12" << 10u << E::AboveTotal << QList<int>{};
    QTest::newRow("good page then bad page") << "2,12" << 10u << E::AboveTotal << QList<int>{};
    QTest::newRow("first failing part decides") << "12,0" << 10u << E::AboveTotal << QList<int>{};
    QTest::newRow("five digits") << "99999" << 10u << E::AboveTotal << QList<int>{};
    QTest::newRow("no document") << "1" << 0u << E::AboveTotal << QList<int>{};
}

void TstPageList::parse()
{
    QFETCH(QString, text);
    QFETCH(quint32, total);
    QFETCH(PageListResult::Error, error);
    QFETCH(QList<int>, pages);

    const PageListResult result = parsePageList(text, total);
    QCOMPARE(result.error, error);
    if (error == PageListResult::None)
        QCOMPARE(result.pages, pages);
}

void TstPageList::selectFromLineEdit_data()
{
    parse_data();
}

void TstPageList::selectFromLineEdit()
{
    QFETCH(QString, text);
    QFETCH(quint32, total);
    QFETCH(PageListResult::Error, error);
    QFETCH(QList<int>, pages);

    openDocument(total);
    if (QTest::currentTestFailed())
        return;
    child<QRadioButton>("radioButton_page_range_between")->setChecked(true);
    lineEdit()->setText(text);
    // A marker left over from an earlier error, except where the marker must come before the box.
    lineEdit()->setStyleSheet(error == PageListResult::Empty ? QString() : marker);
    child<QWidget>("comboBox_output_type")->setFocus(Qt::OtherFocusReason);

    // What the window looked like while the box was up.
    QString markerDuringBox;
    bool focusedDuringBox = false;
    ModalCatcher catcher;
    catcher.expect([&](QWidget *modal) {
        markerDuringBox = lineEdit()->styleSheet();
        focusedDuringBox = window->focusWidget() == lineEdit();
        modal->close();
    });

    QList<int> selected;
    const bool go = window->selectPages(&selected);

    QCOMPARE(go, error == PageListResult::None);
    QCOMPARE(selected, pages);
    switch (error) {
    case PageListResult::None:
        QCOMPARE(catcher.count(), 0);
        QCOMPARE(lineEdit()->styleSheet(), QString());
        return;
    case PageListResult::Empty:
        QCOMPARE(catcher.count(), 1);
        QCOMPARE(catcher.last().title, QStringLiteral("Note"));
        QCOMPARE(catcher.last().text, QStringLiteral("Please input page range"));
        // Marker and focus come before the box.
        QCOMPARE(markerDuringBox, marker);
        QVERIFY(focusedDuringBox);
        break;
    case PageListResult::BelowOne:
    case PageListResult::AboveTotal:
        QCOMPARE(catcher.count(), 1);
        QCOMPARE(catcher.last().title, QStringLiteral("Error"));
        QCOMPARE(catcher.last().text, error == PageListResult::BelowOne
                                          ? QStringLiteral("Page number must bigger than zero")
                                          : rangeErrorText(total));
        // The box comes first, then marker and focus.
        QCOMPARE(markerDuringBox, QString());
        QVERIFY(!focusedDuringBox);
        break;
    case PageListResult::BadPart:
    case PageListResult::Reversed:
        QFAIL("the window reads page lists leniently");
    }
    QCOMPARE(catcher.last().className, QStringLiteral("QMessageBox"));
    QCOMPARE(lineEdit()->styleSheet(), marker);
    QCOMPARE(window->focusWidget(), lineEdit());
}

void TstPageList::allPages_data()
{
    QTest::addColumn<quint32>("total");
    QTest::addColumn<QList<int>>("pages");

    QTest::newRow("three pages") << 3u << QList<int>{0, 1, 2};
    QTest::newRow("one page") << 1u << QList<int>{0};
    QTest::newRow("no document") << 0u << QList<int>{};
}

void TstPageList::allPages()
{
    QFETCH(quint32, total);
    QFETCH(QList<int>, pages);

    QCOMPARE(::allPages(total), pages);

    openDocument(total);
    if (QTest::currentTestFailed())
        return;
    child<QRadioButton>("radioButton_page_range_all_pages")->setChecked(true);
    lineEdit()->setText(QString()); // not looked at
    ModalCatcher catcher;
    QList<int> selected;
    QVERIFY(window->selectPages(&selected));
    QCOMPARE(selected, pages);
    QCOMPARE(catcher.count(), 0);
}

void TstPageList::currentPage()
{
    openDocument(7);
    if (QTest::currentTestFailed())
        return;
    child<QRadioButton>("radioButton_page_range_cur_page")->setChecked(true);
    lineEdit()->setText(QStringLiteral("0"));
    auto *next = child<QPushButton>("pushButton_preview_next");
    int shown = 0;
    for (int page : {0, 4}) {
        for (; shown < page; ++shown)
            next->click();
        QList<int> selected;
        QVERIFY(window->selectPages(&selected));
        QCOMPARE(selected, QList<int>{page});
    }
}

void TstPageList::pagesRadioEnablesAndFocusesLineEdit()
{
    QVERIFY(QTest::qWaitForWindowActive(window));
    auto *between = child<QRadioButton>("radioButton_page_range_between");
    QVERIFY(!lineEdit()->isEnabled());
    lineEdit()->setCursorPosition(5);

    between->click();
    QVERIFY(lineEdit()->isEnabled());
    QVERIFY(lineEdit()->hasFocus());
    QCOMPARE(lineEdit()->cursorPosition(), 0);

    child<QRadioButton>("radioButton_page_range_cur_page")->click();
    QVERIFY(!lineEdit()->isEnabled());
    QCOMPARE(lineEdit()->text(), QStringLiteral("1,2,3,6-9"));
    between->click();
    QVERIFY(lineEdit()->isEnabled());
    QCOMPARE(lineEdit()->text(), QStringLiteral("1,2,3,6-9"));
}

void TstPageList::userEditRemovesMarker()
{
    QVERIFY(QTest::qWaitForWindowActive(window));
    child<QRadioButton>("radioButton_page_range_between")->click();
    lineEdit()->setStyleSheet(marker);

    // Text set by the program is not an edit.
    lineEdit()->setText(QStringLiteral("4"));
    QCOMPARE(lineEdit()->styleSheet(), marker);

    lineEdit()->end(false);
    QTest::keyClick(lineEdit(), Qt::Key_5);
    QCOMPARE(lineEdit()->text(), QStringLiteral("45"));
    QCOMPARE(lineEdit()->styleSheet(), QString());
}

QTEST_MAIN(TstPageList)
#include "tst_pagelist.moc"
