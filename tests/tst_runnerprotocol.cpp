#include "engine/nativepath.h"
#include "runner/taskfields.h"
#include "runner/taskprotocol.h"
#include "runner/worker.h"
#include "runner/workerprogram.h"
#include "support/pdfmaker.h"
#include "support/readback.h"

#include <QDir>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// What crosses between a program and its workers: every field of every
// message, walked from the lists the protocol itself reads and writes by, and
// a worker's answer to a task it cannot read.
class TestRunnerProtocol : public QObject
{
    Q_OBJECT

private slots:
    void everyFieldCrosses_data();
    void everyFieldCrosses();
    void framesSurviveAnySplit_data();
    void framesSurviveAnySplit();
    void strangersAreRefused();
    void openingIsPathStampPasswordRendererAndOptions();
    void readingRefusesValuesOutOfRange_data();
    void readingRefusesValuesOutOfRange();
    void unreadableTaskFailsAlone_data();
    void unreadableTaskFailsAlone();
};

namespace {

using TaskProtocol::Ready;
using TaskProtocol::TurnGiven;
using TaskProtocol::TurnWanted;
using TaskProtocol::Setup;

// Sets every field of a message, from its list, to a value within its range
// and away from its default: the nth field to the nth value of its type, so
// that two fields of a type read into each other differ (but for flags, and
// enums of a few values).
class Fill : public TaskFields::Walk<Fill>
{
public:
    template<typename T>
    void operator()(const char *field, T &value)
    {
        ++n;
        if constexpr (TaskFields::hasFields<T>) {
            into(field, value);
        } else if constexpr (std::is_same_v<T, bool>) {
            value = !value;
        } else if constexpr (std::is_same_v<T, double>) {
            value = n + 0.25;
        } else if constexpr (std::is_same_v<T, QString>) {
            value = pathFromNative(QByteArray(field) + " caf\xe9 " + QByteArray::number(n)); // not UTF-8
        } else if constexpr (std::is_same_v<T, QByteArray>) {
            value = QByteArray(field) + '\0' + QByteArray::number(n);
        } else {
            value = PixelImage(3, 2, PixelImage::Rgb32);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x)
                    reinterpret_cast<quint32 *>(value.scanLine(y))[x] = qRgb(n, 40 * x, 100 * y);
        }
    }
    template<typename T>
    void operator()(const char *field, QList<T> &list)
    {
        list.resize(2);
        for (int i = 0; i < 2; ++i)
            item(field, i, list[i]);
    }
    template<typename T>
    void operator()(const char *, T &value, TaskFields::Range range)
    {
        // Short for enums, a few 1000 at the least otherwise (all 64 bits for some).
        const quint64 span = quint64(range.high) - quint64(range.low);
        const auto nth = [&](qint64 i) { return range.low + (span < 1000 ? i % qint64(span + 1) : i); };
        ++n;
        value = T(nth(n) != qint64(value) ? nth(n) : nth(n + 1));
    }
    void operator()(const char *, QRect &rect, TaskFields::Range)
    {
        ++n;
        rect = QRect(n, n + 1, n + 2, n + 3);
    }
    void operator()(const char *, QSize &size, TaskFields::Range)
    {
        ++n;
        size = QSize(n, n + 1);
    }
    void operator()(const char *, double &value, TaskFields::Positive) { value = ++n + 0.5; }

private:
    int n = 10;
};

// Every field of a message with the bytes of its value, by name.
class Flatten : public TaskFields::Walk<Flatten>
{
public:
    QMap<QString, QByteArray> values;

    template<typename T>
    void operator()(const char *field, const T &value)
    {
        if constexpr (TaskFields::hasFields<T>) {
            into(field, value);
        } else {
            QDataStream out(&values[name(field)], QIODevice::WriteOnly);
            if constexpr (std::is_enum_v<T>)
                out << qint64(value);
            else if constexpr (std::is_same_v<T, PixelImage>)
                out << value.size() << qint32(value.format())
                    << QByteArray(reinterpret_cast<const char *>(value.constBits()), value.sizeInBytes());
            else
                out << value;
        }
    }
    template<typename T>
    void operator()(const char *field, const QList<T> &list)
    {
        values.insert(name(field), QByteArray::number(list.size()));
        for (qsizetype i = 0; i < list.size(); ++i)
            item(field, i, list.at(i));
    }
    template<typename T, typename Check>
    void operator()(const char *field, const T &value, Check)
    {
        (*this)(field, value);
    }
};

// The fields whose values are the same in two messages, or those that
// differ (or that one of them lacks, an item of a longer list), by name.
template<typename Message>
QStringList fieldsThatAre(bool same, const Message &a, const Message &b)
{
    Flatten x, y;
    TaskFields::fields(x, a);
    TaskFields::fields(y, b);
    QStringList names;
    for (auto field = x.values.cbegin(); field != x.values.cend(); ++field)
        if ((y.values.value(field.key()) == field.value()) == same)
            names << field.key();
    for (const QString &field : y.values.keys())
        if (!same && !x.values.contains(field))
            names << field;
    return names;
}

template<typename Message>
Message filled()
{
    Message message;
    Fill fill;
    TaskFields::fields(fill, message);
    return message;
}

// The message of the type of the first read back from body.
template<typename Message>
std::optional<Message> readBack(const Message &, const QByteArray &body, QString *why)
{
    if constexpr (std::is_same_v<Message, Setup>)
        return TaskProtocol::readSetup(body, why);
    else if constexpr (std::is_same_v<Message, Ready>)
        return TaskProtocol::readReady(body, why);
    else if constexpr (std::is_same_v<Message, PageTask>)
        return TaskProtocol::readTask(body, why);
    else if constexpr (std::is_same_v<Message, TurnWanted>)
        return TaskProtocol::readTurnWanted(body, why);
    else if constexpr (std::is_same_v<Message, TurnGiven>)
        return TaskProtocol::readTurnGiven(body, why);
    else
        return TaskProtocol::readResult(body, why);
}

// Calls visit with a default message of the type named.
template<typename Visit>
void withMessage(const QString &type, Visit visit)
{
    if (type == QLatin1String("setup"))
        visit(Setup());
    else if (type == QLatin1String("ready"))
        visit(Ready());
    else if (type == QLatin1String("task"))
        visit(PageTask());
    else if (type == QLatin1String("turn wanted"))
        visit(TurnWanted());
    else if (type == QLatin1String("turn given"))
        visit(TurnGiven());
    else
        visit(TaskResult());
}
const QStringList messageTypes{QStringLiteral("setup"),       QStringLiteral("ready"),
                               QStringLiteral("task"),        QStringLiteral("result"),
                               QStringLiteral("turn wanted"), QStringLiteral("turn given")};

// Sets the target-th checked field of a message just past one end of its
// range, where its type on the wire can hold that, and says how the reader
// is to refuse it.
class Spoil : public TaskFields::Walk<Spoil>
{
public:
    Spoil(int target, bool above) : target(target), above(above) {}
    int checked = 0;
    QString refusal; // empty: the field has no value past that end

    template<typename T>
    void operator()(const char *field, T &value)
    {
        if constexpr (TaskFields::hasFields<T>)
            into(field, value);
    }
    template<typename T>
    void operator()(const char *field, QList<T> &list)
    {
        if constexpr (TaskFields::hasFields<T>)
            item(field, 0, list.emplace_back());
    }
    template<typename T>
    void operator()(const char *field, T &value, TaskFields::Range range)
    {
        const qint64 wire = std::is_same_v<T, qint64> ? std::numeric_limits<qint64>::max() : TaskFields::most;
        if (here() && (above ? range.high < wire : range.low > -wire - 1))
            value = T(above ? range.high + 1 : range.low - 1), say(field, QString::number(wired(value)));
    }
    void operator()(const char *field, QRect &rect, TaskFields::Range range)
    {
        if (here() && !above && range.low > -TaskFields::most - 1)
            rect = QRect(int(range.low - 1), 0, 1, 1), say(field, QString::number(range.low - 1));
    }
    void operator()(const char *field, QSize &size, TaskFields::Range range)
    {
        if (here() && !above && range.low > -TaskFields::most - 1)
            size = QSize(int(range.low - 1), 0), say(field, QString::number(range.low - 1));
    }
    void operator()(const char *field, double &value, TaskFields::Positive)
    {
        if (here())
            value = above ? qInf() : 0, say(field, QString::number(value));
    }

private:
    template<typename T>
    static qint64 wired(T value) // as the writer sends it
    {
        return std::is_same_v<T, qint64> ? qint64(value) : qint64(qint32(value));
    }
    bool here() { return checked++ == target; }
    void say(const char *field, const QString &value)
    {
        refusal = QStringLiteral("field %1: value %2 out of range").arg(name(field), value);
    }
    const int target;
    const bool above;
};

// The bodies a reader hands out when the stream arrives in these pieces.
QList<QByteArray> readInPieces(const QByteArray &stream, const QList<int> &pieces)
{
    TaskProtocol::FrameReader reader;
    QList<QByteArray> bodies;
    qsizetype at = 0;
    for (const int piece : pieces) {
        reader.append(stream.constData() + at, piece);
        at += piece;
        while (const std::optional<QByteArray> body = reader.next())
            bodies << *body;
    }
    if (reader.holdsPart())
        bodies << QByteArray("a part left over");
    return bodies;
}

} // namespace

void TestRunnerProtocol::everyFieldCrosses_data()
{
    QTest::addColumn<QString>("type");
    for (const QString &type : messageTypes)
        QTest::newRow(qPrintable(type)) << type;
}

// A message read back is the one sent, field for field through its list:
// every field set apart from its default (a field left unsent or read into
// another shows by name), and every field at its default (a null text stays
// null); sent again, it gives the same bytes.
void TestRunnerProtocol::everyFieldCrosses()
{
    QFETCH(QString, type);
    withMessage(type, [](auto none) {
        using Message = decltype(none);
        const Message all = filled<Message>();
        QCOMPARE(fieldsThatAre(true, none, all).join(QStringLiteral(", ")), QString());
        for (const Message &sent : {all, none}) {
            QString why;
            const QByteArray body = TaskProtocol::frame(sent).mid(4);
            const std::optional<Message> back = readBack(sent, body, &why);
            QVERIFY2(back, qPrintable(why));
            QCOMPARE(fieldsThatAre(false, sent, *back).join(QStringLiteral(", ")), QString());
            QCOMPARE(TaskProtocol::frame(*back).mid(4), body);
        }
    });
}

void TestRunnerProtocol::framesSurviveAnySplit_data()
{
    QTest::addColumn<int>("chunk"); // 0: pieces of random sizes
    QTest::addColumn<quint32>("seed");
    QTest::newRow("a byte at a time") << 1 << 0u;
    QTest::newRow("seven bytes") << 7 << 0u;
    QTest::newRow("all at once") << (1 << 20) << 0u;
    for (quint32 seed : {1u, 2u, 3u})
        QTest::newRow(qPrintable(QStringLiteral("random pieces, seed %1").arg(seed))) << 0 << seed;
}

// Frames arrive in whatever pieces the pipe gives: each body comes out whole,
// once, in order, and nothing is left over.
void TestRunnerProtocol::framesSurviveAnySplit()
{
    QFETCH(int, chunk);
    QFETCH(quint32, seed);
    const QList<QByteArray> frames{TaskProtocol::frame(filled<Setup>()), TaskProtocol::frame(filled<Ready>()),
                                   TaskProtocol::frame(filled<PageTask>()), TaskProtocol::frame(filled<TaskResult>()),
                                   TaskProtocol::frame(filled<TurnWanted>()), TaskProtocol::frame(filled<TurnGiven>())};
    const QByteArray stream = frames.join();
    QRandomGenerator random(seed);
    QList<int> pieces;
    for (qsizetype left = stream.size(); left > 0; left -= pieces.last())
        pieces << int(qMin<qsizetype>(left, chunk ? chunk : random.bounded(1, 300)));
    const QList<QByteArray> bodies = readInPieces(stream, pieces);
    QCOMPARE(bodies.size(), frames.size());
    for (qsizetype i = 0; i < frames.size(); ++i)
        QCOMPARE(bodies.at(i), frames.at(i).mid(4));
}

// Bytes that are not this protocol are never taken for a message.
void TestRunnerProtocol::strangersAreRefused()
{
    const QByteArray task = TaskProtocol::frame(filled<PageTask>());
    QString why;
    QVERIFY(!TaskProtocol::readResult(task.mid(4), &why)); // the wrong type
    QCOMPARE(why, QStringLiteral("a task where a result was due"));
    QVERIFY(!TaskProtocol::readTask(task.mid(4).chopped(1), &why)); // cut short
    QCOMPARE(why, QStringLiteral("a message that does not parse"));
    QByteArray otherVersion = task.mid(4);
    otherVersion[3] = char(otherVersion[3] + 1); // the version, big-endian
    std::optional<PageTask> unreadable;
    QVERIFY(!TaskProtocol::readTask(otherVersion, &why, &unreadable));
    QVERIFY(!unreadable); // nothing to answer for in another version

    TaskProtocol::FrameReader reader;
    reader.append("\xff\xff\xff\xff", 4); // a length no message has
    QVERIFY(!reader.next());
    QVERIFY(reader.broken());
}

// A worker keeps its document open for the next task that opens it the
// same way, whatever page, size or type that task asks for.
void TestRunnerProtocol::openingIsPathStampPasswordRendererAndOptions()
{
    const PageTask first;
    PageTask next = filled<PageTask>();
    next.path = first.path;
    next.inputStamp = first.inputStamp;
    next.password = first.password;
    next.renderer = first.renderer;
    next.options = first.options;
    QCOMPARE(TaskProtocol::opening(next), TaskProtocol::opening(first));
    next.options.box = PageBox::Art;
    QVERIFY(TaskProtocol::opening(next) != TaskProtocol::opening(first));
    next.options = first.options;
    next.password = "x";
    QVERIFY(TaskProtocol::opening(next) != TaskProtocol::opening(first));
    next.password = first.password;
    next.inputStamp.changedNs = 1; // the same path, another file
    QVERIFY(TaskProtocol::opening(next) != TaskProtocol::opening(first));
}

void TestRunnerProtocol::readingRefusesValuesOutOfRange_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("why");
    // Each checked field of each message just below and just above its range.
    for (const QString &type : messageTypes) {
        withMessage(type, [&type](auto none) {
            for (int target = 0;; ++target) {
                int checked = 0;
                for (const bool above : {false, true}) {
                    decltype(none) message;
                    Spoil spoil(target, above);
                    TaskFields::fields(spoil, message);
                    checked = spoil.checked;
                    if (!spoil.refusal.isEmpty())
                        QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(type, spoil.refusal)))
                            << type << TaskProtocol::frame(message).mid(4) << spoil.refusal;
                }
                if (target >= checked)
                    break;
            }
        });
    }
    TaskResult fewer;
    fewer.outcome.warnings = QStringList{QStringLiteral("a")};
    QTest::newRow("result, fewer warnings counted than sent")
        << QStringLiteral("result") << TaskProtocol::frame(fewer).mid(4)
        << QStringLiteral("field outcome.warningCount: value 0 out of range");
    QByteArray image = TaskProtocol::frame(filled<TaskResult>()).mid(4);
    const QByteArray size = QByteArray::fromHex("000000030000000200000004"); // 3 x 2, RGB32
    QVERIFY(image.contains(size));
    image.replace(size, QByteArray::fromHex("000100000001000000000004"));
    QTest::newRow("result, an image larger than its message")
        << QStringLiteral("result") << image << QStringLiteral("field image: value 65536x65536 out of range");
}

// A message is read only with every enum and number in its range, both ways;
// the reader names the field that is not.
void TestRunnerProtocol::readingRefusesValuesOutOfRange()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, body);
    QFETCH(QString, why);
    withMessage(type, [&](auto none) {
        QString said;
        QVERIFY(!readBack(none, body, &said));
        QCOMPARE(said, why);
    });
}

void TestRunnerProtocol::unreadableTaskFailsAlone_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("why");
    QTest::newRow("an enum") << QStringLiteral("mode") << QStringLiteral("field mode: value 9 out of range");
    QTest::newRow("a page") << QStringLiteral("page") << QStringLiteral("field pageIndex: value -1 out of range");
    QTest::newRow("a resolution") << QStringLiteral("resolution")
                                  << QStringLiteral("field resolution: value nan out of range");
}

// A task its worker cannot read fails with the reason, and leaves no file;
// the worker lives on and carries out the next task as sent.
void TestRunnerProtocol::unreadableTaskFailsAlone()
{
    QFETCH(QString, field);
    QFETCH(QString, why);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("one.pdf"));
    QVERIFY(makePdf(pdf, 1));
    Setup setup;
    setup.inputs = QStringList{pdf};
    setup.outputFolders = QStringList{dir.path()};
    Worker worker;
    QVERIFY(worker.start(workerProgram(), setup));
    QTRY_VERIFY_WITH_TIMEOUT((worker.receive(), worker.ready()), 30000);
    PageTask good;
    good.path = pdf;
    good.resolution = 9;
    good.format = ImageFormat::Png;
    good.outputPath = dir.filePath(QStringLiteral("one_1.png"));
    PageTask bad = good;
    if (field == QLatin1String("mode"))
        bad.mode = PixelMode(9);
    else if (field == QLatin1String("page"))
        bad.pageIndex = -1;
    else
        bad.resolution = qQNaN();

    QVERIFY(worker.send(bad, 0));
    QTRY_VERIFY_WITH_TIMEOUT(worker.receive() || !worker.busy(), 30000); // an answer, or its end
    std::optional<std::pair<int, TaskResult>> answer = worker.takeResult();
    QVERIFY2(answer, qPrintable(worker.fault().isEmpty() ? QStringLiteral("it ended unanswered") : worker.fault()));
    QCOMPARE(answer->first, 0);
    QCOMPARE(answer->second.outcome.result, PageOutcome::RenderFailed);
    QCOMPARE(answer->second.outcome.detail, QStringLiteral("the worker could not read its task: ") + why);
    QCOMPARE(worker.fault(), QString());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("one.pdf")});

    QVERIFY(worker.send(good, 1));
    QTRY_VERIFY_WITH_TIMEOUT(worker.receive() || !worker.busy(), 30000); // an answer, or its end
    answer = worker.takeResult();
    QVERIFY2(answer, qPrintable(worker.fault().isEmpty() ? QStringLiteral("it ended unanswered") : worker.fault()));
    QCOMPARE(answer->first, 1);
    QCOMPARE(answer->second.outcome.result, PageOutcome::Written);
    const DecodedImage page = readPng(good.outputPath);
    QCOMPARE(page.error, QString());
    QCOMPARE(QSize(page.width, page.height), QSize(74, 105)); // A4 at 9 dpi
    QVERIFY(page.samples.count(char(255)) > page.samples.size() / 2); // paper, mostly
    worker.retire(true, {dir.path()});
}

QTEST_MAIN(TestRunnerProtocol)
#include "tst_runnerprotocol.moc"
