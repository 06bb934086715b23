#include "runner/taskprotocol.h"

#include "engine/nativepath.h"
#include "runner/taskfields.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

#include <cerrno>
#include <cmath>
#include <sys/socket.h>

namespace TaskProtocol {

namespace {

enum Type : quint8 { SetupType = 1, ReadyType, TaskType, ResultType, TurnWantedType, TurnGivenType };

// Writes each field as it travels: numbers and enums as 32 bits (qint64 as
// 64), paths and texts as their bytes, a list as its count and its items.
class Writer : public TaskFields::Walk<Writer>
{
public:
    explicit Writer(QDataStream &out) : out(out) {}

    template<typename T>
    void operator()(const char *field, const T &value)
    {
        if constexpr (TaskFields::hasFields<T>)
            into(field, value);
        else if constexpr (std::is_same_v<T, QString>)
            out << nativePath(value); // a path that is not UTF-8 keeps its bytes
        else if constexpr (std::is_same_v<T, PixelImage>)
            putImage(value);
        else if constexpr (std::is_enum_v<T> || std::is_same_v<T, int>)
            out << qint32(value);
        else
            out << value; // bool, qint64, double, QByteArray, QRect, QSize
    }
    template<typename T>
    void operator()(const char *field, const QList<T> &list)
    {
        out << quint32(list.size());
        for (qsizetype i = 0; i < list.size(); ++i)
            item(field, i, list.at(i));
    }
    template<typename T, typename Check>
    void operator()(const char *field, const T &value, Check)
    {
        (*this)(field, value);
    }

private:
    // Raw rows rather than QDataStream's PNG: a preview crosses the pipe in
    // the time a copy takes.
    void putImage(const PixelImage &image)
    {
        out << qint32(image.width()) << qint32(image.height()) << qint32(image.format());
        for (int y = 0; y < image.height(); ++y)
            out.writeRawData(reinterpret_cast<const char *>(image.constScanLine(y)), int(image.bytesPerLine()));
    }

    QDataStream &out;
};

// Reads each field as the writer wrote it, and checks every number a program
// or a worker goes on to use (a count it would allocate for, a size it would
// compute with, an enum it would switch on) against its range. It reads on
// past a value out of range, so that what was read of a refused task can
// still be answered for, but an enum out of range is left as it was.
class Reader : public TaskFields::Walk<Reader>
{
public:
    explicit Reader(QDataStream &in) : in(in) {}

    QString refusal; // the first value out of its range, in a few words

    template<typename T>
    void operator()(const char *field, T &value)
    {
        static_assert((!std::is_enum_v<T> && !std::is_integral_v<T>) || std::is_same_v<T, bool>,
                      "an enum or a whole number is read with its range");
        if constexpr (TaskFields::hasFields<T>) {
            into(field, value);
        } else if constexpr (std::is_same_v<T, QString>) {
            QByteArray bytes;
            in >> bytes;
            value = bytes.isNull() ? QString() : pathFromNative(bytes); // a null text stays null
        } else if constexpr (std::is_same_v<T, PixelImage>) {
            takeImage(field, value);
        } else {
            in >> value;
        }
    }
    template<typename T>
    void operator()(const char *field, QList<T> &list)
    {
        quint32 count = 0;
        in >> count;
        list.clear();
        // A count the stream cannot hold is a damaged message: stop at its end.
        for (quint32 i = 0; i < count && in.status() == QDataStream::Ok && !in.atEnd(); ++i)
            item(field, i, list.emplace_back());
        if (quint32(list.size()) != count)
            in.setStatus(QDataStream::ReadCorruptData);
    }
    template<typename T>
    void operator()(const char *field, T &value, TaskFields::Range range)
    {
        qint64 raw = 0;
        if constexpr (std::is_same_v<T, qint64>) {
            in >> raw;
        } else {
            qint32 wire = 0;
            in >> wire;
            raw = wire;
        }
        if (within(field, raw, range) || !std::is_enum_v<T>)
            value = T(raw);
    }
    // Corners as QDataStream writes them; the sides counted in 64 bits.
    void operator()(const char *field, QRect &rect, TaskFields::Range range)
    {
        qint32 left = 0, top = 0, right = 0, bottom = 0;
        in >> left >> top >> right >> bottom;
        rect = QRect(QPoint(left, top), QPoint(right, bottom));
        for (const qint64 side : {qint64(left), qint64(top), qint64(right) - left + 1, qint64(bottom) - top + 1})
            if (!within(field, side, range))
                return;
    }
    void operator()(const char *field, QSize &size, TaskFields::Range range)
    {
        in >> size;
        if (within(field, size.width(), range))
            within(field, size.height(), range);
    }
    void operator()(const char *field, double &value, TaskFields::Positive)
    {
        in >> value;
        if (!(std::isfinite(value) && value > 0))
            refuse(field, QString::number(value));
    }

private:
    bool within(const char *field, qint64 raw, TaskFields::Range range)
    {
        if (raw >= range.low && raw <= range.high)
            return true;
        refuse(field, QString::number(raw));
        return false;
    }
    void refuse(const char *field, const QString &value)
    {
        // The first only, and only while the stream holds: past its end every number reads 0.
        if (refusal.isEmpty() && in.status() == QDataStream::Ok)
            refusal = QStringLiteral("field %1: value %2 out of range").arg(name(field), value);
    }
    // No rows for no image; rows no longer than what is left of the body.
    void takeImage(const char *field, PixelImage &image)
    {
        qint32 width = 0, height = 0, format = 0;
        in >> width >> height >> format;
        image = PixelImage();
        if (!within(field, width, TaskFields::nonNegative) || !within(field, height, TaskFields::nonNegative)
            || width == 0 || height == 0 || format == PixelImage::Invalid)
            return;
        if (!PixelImage::knownFormat(format))
            return refuse(field, QString::number(format));
        const PixelImage::Format pixels = PixelImage::Format(format);
        const qint64 rowBytes = (qint64(width) * PixelImage::bytesPerPixel(pixels) + 3) / 4 * 4;
        if (rowBytes * height > in.device()->bytesAvailable())
            return refuse(field, QStringLiteral("%1x%2").arg(width).arg(height));
        image = PixelImage(width, height, pixels);
        for (int y = 0; y < height && !image.isNull(); ++y)
            if (in.readRawData(reinterpret_cast<char *>(image.scanLine(y)), int(rowBytes)) != rowBytes)
                in.setStatus(QDataStream::ReadPastEnd);
    }

    QDataStream &in;
};

template<typename Message>
QByteArray framed(Type type, const Message &message)
{
    QByteArray bytes(4, '\0');
    {
        QDataStream out(&bytes, QIODevice::WriteOnly | QIODevice::Append);
        out.setVersion(QDataStream::Qt_6_4);
        out << version << quint8(type);
        Writer writer(out);
        TaskFields::fields(writer, message);
    }
    qToBigEndian(quint32(bytes.size() - 4), bytes.data());
    return bytes;
}

QString typeName(quint8 kind)
{
    switch (kind) {
    case SetupType:
        return QStringLiteral("a setup");
    case ReadyType:
        return QStringLiteral("a ready message");
    case TaskType:
        return QStringLiteral("a task");
    case ResultType:
        return QStringLiteral("a result");
    case TurnWantedType:
        return QStringLiteral("a request for a turn");
    case TurnGivenType:
        return QStringLiteral("a turn");
    }
    return QStringLiteral("a message of unknown type %1").arg(kind);
}

void say(QString *why, const QString &text)
{
    if (why)
        *why = text;
}

// A stream over the body, past its version and type once they are what is wanted.
bool opened(QDataStream &in, Type type, QString *why = nullptr)
{
    in.setVersion(QDataStream::Qt_6_4);
    quint32 theirs = 0;
    quint8 kind = 0;
    in >> theirs >> kind;
    if (in.status() != QDataStream::Ok) {
        say(why, QStringLiteral("a message too short to parse"));
        return false;
    }
    if (theirs != version) {
        say(why, QStringLiteral("protocol version %1, not %2").arg(theirs).arg(version));
        return false;
    }
    if (kind != type) {
        say(why, QStringLiteral("%1 where %2 was due").arg(typeName(kind), typeName(type)));
        return false;
    }
    return true;
}

// A message of this version and type read whole, with every value in its
// range; otherwise nothing, why in *why, and what could be read of it in
// *unreadable.
template<typename Message>
std::optional<Message> readBody(const QByteArray &body, Type type, QString *why,
                                std::optional<Message> *unreadable = nullptr)
{
    QDataStream in(body);
    if (!opened(in, type, why))
        return std::nullopt;
    Message message;
    Reader reader(in);
    TaskFields::fields(reader, message);
    QString refusal = reader.refusal;
    if (refusal.isEmpty() && (in.status() != QDataStream::Ok || !in.atEnd()))
        refusal = QStringLiteral("a message that does not parse");
    if (refusal.isEmpty())
        return message;
    say(why, refusal);
    if (unreadable)
        *unreadable = message;
    return std::nullopt;
}

} // namespace

QByteArray frame(const Setup &setup)
{
    return framed(SetupType, setup);
}

QByteArray frame(const Ready &ready)
{
    return framed(ReadyType, ready);
}

QByteArray frame(const PageTask &task)
{
    return framed(TaskType, task);
}

QByteArray frame(const TaskResult &result)
{
    return framed(ResultType, result);
}

QByteArray frame(const TurnWanted &wanted)
{
    return framed(TurnWantedType, wanted);
}

QByteArray frame(const TurnGiven &given)
{
    return framed(TurnGivenType, given);
}

std::optional<Setup> readSetup(const QByteArray &body, QString *why)
{
    return readBody<Setup>(body, SetupType, why);
}

std::optional<Ready> readReady(const QByteArray &body, QString *why)
{
    return readBody<Ready>(body, ReadyType, why);
}

std::optional<PageTask> readTask(const QByteArray &body, QString *why, std::optional<PageTask> *unreadable)
{
    return readBody<PageTask>(body, TaskType, why, unreadable);
}

std::optional<TaskResult> readResult(const QByteArray &body, QString *why)
{
    std::optional<TaskResult> result = readBody<TaskResult>(body, ResultType, why);
    // The count is of all the texts, of which the first few are sent.
    if (result && result->outcome.warningCount < result->outcome.warnings.size()) {
        say(why, QStringLiteral("field outcome.warningCount: value %1 out of range").arg(result->outcome.warningCount));
        return std::nullopt;
    }
    return result;
}

std::optional<TurnWanted> readTurnWanted(const QByteArray &body, QString *why)
{
    return readBody<TurnWanted>(body, TurnWantedType, why);
}

std::optional<TurnGiven> readTurnGiven(const QByteArray &body, QString *why)
{
    return readBody<TurnGiven>(body, TurnGivenType, why);
}

bool isTurnWanted(const QByteArray &body)
{
    QDataStream in(body);
    return opened(in, TurnWantedType);
}

QByteArray opening(const PageTask &task)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    Writer writer(out);
    TaskFields::opening(writer, task);
    return bytes;
}

bool sendAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

std::optional<QByteArray> FrameReader::next()
{
    if (corrupt || pending.size() < 4)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(pending.constData());
    if (length > maxBodyBytes) {
        corrupt = true;
        return std::nullopt;
    }
    if (pending.size() < qsizetype(4 + length))
        return std::nullopt;
    QByteArray body = pending.mid(4, length);
    pending.remove(0, 4 + length);
    return body;
}

} // namespace TaskProtocol
