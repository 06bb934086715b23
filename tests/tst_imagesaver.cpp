#include "conversion/imagesaver.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QImage testImage()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.setPixel(10, 10, qRgb(200, 0, 0));
    return image;
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TstImageSaver : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void init();
    void writesByTheSuffix_data();
    void writesByTheSuffix();
    void replacesAndKeepsPermissions();
    void writesThroughSymlink();
    void failureLeavesNothing_data();
    void failureLeavesNothing();

private:
    static bool save(const QImage &image, const QString &path, QString *error = nullptr);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TstImageSaver::initTestCase_data()
{
    QTest::addColumn<bool>("synced");
    QTest::newRow("synced") << true;
    QTest::newRow("unsynced") << false;
}

bool TstImageSaver::save(const QImage &image, const QString &path, QString *error)
{
    QFETCH_GLOBAL(bool, synced);
    return synced ? saveImageAtomically(image, path, 75, error) : saveImageAtomicallyUnsynced(image, path, 75, error);
}

void TstImageSaver::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TstImageSaver::writesByTheSuffix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");

    QTest::newRow("jpg") << "a.jpg" << QByteArray("jpeg");
    QTest::newRow("png") << "a.png" << QByteArray("png");
    QTest::newRow("bmp") << "a.bmp" << QByteArray("bmp");
    QTest::newRow("tiff") << "a.tiff" << QByteArray("tiff");
    QTest::newRow("upper-case suffix") << "a.PNG" << QByteArray("png");
}

void TstImageSaver::writesByTheSuffix()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);

    const QString path = m_dir->filePath(name);
    QString error;
    QVERIFY2(save(testImage(), path, &error), qPrintable(error));
    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    QCOMPARE(reader.read().size(), QSize(64, 48));
    QCOMPARE(entriesOf(m_dir->path()), QStringList{name});
}

void TstImageSaver::replacesAndKeepsPermissions()
{
    const QString path = m_dir->filePath(QStringLiteral("a.png"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("not an image");
    }
    const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(path, mode));

    QVERIFY(save(testImage(), path));
    QCOMPARE(QImage(path).pixel(10, 10), qRgb(200, 0, 0));
    QCOMPARE(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser), mode);
    QCOMPARE(entriesOf(m_dir->path()), QStringList{"a.png"});
}

void TstImageSaver::writesThroughSymlink()
{
    QDir dir(m_dir->path());
    QVERIFY(dir.mkdir(QStringLiteral("real")));
    const QString target = dir.filePath(QStringLiteral("real/a.png"));
    QVERIFY(QFile(target).open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(target, dir.filePath(QStringLiteral("a.png"))));

    QVERIFY(save(testImage(), dir.filePath(QStringLiteral("a.png"))));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("a.png"))).isSymLink());
    QCOMPARE(QImage(target).size(), QSize(64, 48));
}

void TstImageSaver::failureLeavesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("blocker");

    QTest::newRow("no writer for the suffix") << "a.xyz" << "";
    QTest::newRow("no suffix") << "a" << "";
    // Written whole, then it cannot replace a folder.
    QTest::newRow("folder in the way") << "a.png" << "a.png";
    QTest::newRow("folder is missing") << "missing/a.png" << "";
}

void TstImageSaver::failureLeavesNothing()
{
    QFETCH(QString, name);
    QFETCH(QString, blocker);

    if (!blocker.isEmpty())
        QVERIFY(QDir(m_dir->path()).mkdir(blocker));
    const QStringList before = entriesOf(m_dir->path());
    QString error;
    QVERIFY(!save(testImage(), m_dir->filePath(name), &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(entriesOf(m_dir->path()), before);
}

QTEST_MAIN(TstImageSaver)
#include "tst_imagesaver.moc"
