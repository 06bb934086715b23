#include "runner/taskprotocol.h"

#include "engine/nativepath.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

#include <cerrno>
#include <functional>
#include <limits>
#include <sys/socket.h>

namespace TaskProtocol {

namespace {

enum Type : quint8 { SetupType = 1, ReadyType, TaskType, ResultType };

// Paths and texts as bytes: a path that is not UTF-8 keeps them.
void put(QDataStream &out, const QString &text)
{
    out << nativePath(text);
}

QString takeText(QDataStream &in)
{
    QByteArray bytes;
    in >> bytes;
    return pathFromNative(bytes);
}

void put(QDataStream &out, const QStringList &list)
{
    out << quint32(list.size());
    for (const QString &text : list)
        put(out, text);
}

QStringList takeList(QDataStream &in)
{
    quint32 count = 0;
    in >> count;
    QStringList list;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i)
        list << takeText(in);
    return list;
}

template<typename Enum>
void putEnum(QDataStream &out, Enum value)
{
    out << qint32(value);
}

template<typename Enum>
Enum takeEnum(QDataStream &in)
{
    qint32 value = 0;
    in >> value;
    return Enum(value);
}

// Raw rows rather than QDataStream's PNG: a preview crosses the pipe in the
// time a copy takes.
void put(QDataStream &out, const PixelImage &image)
{
    out << qint32(image.width()) << qint32(image.height()) << qint32(image.format());
    if (image.isNull())
        return;
    const qsizetype rowBytes = image.bytesPerLine();
    for (int y = 0; y < image.height(); ++y)
        out.writeRawData(reinterpret_cast<const char *>(image.constScanLine(y)), int(rowBytes));
}

PixelImage takeImage(QDataStream &in)
{
    qint32 width = 0, height = 0, format = 0;
    in >> width >> height >> format;
    // Nothing allocated for more than a message can hold.
    if (width <= 0 || height <= 0 || !PixelImage::knownFormat(format)
        || qint64(width) * PixelImage::bytesPerPixel(PixelImage::Format(format)) * height > maxBodyBytes)
        return PixelImage();
    PixelImage image(width, height, PixelImage::Format(format));
    if (image.isNull())
        return PixelImage();
    for (int y = 0; y < height; ++y)
        if (in.readRawData(reinterpret_cast<char *>(image.scanLine(y)), int(image.bytesPerLine()))
            != image.bytesPerLine())
            return PixelImage();
    return image;
}

QByteArray framed(Type type, const std::function<void(QDataStream &)> &fields)
{
    QByteArray bytes(4, '\0');
    {
        QDataStream out(&bytes, QIODevice::WriteOnly | QIODevice::Append);
        out.setVersion(QDataStream::Qt_6_4);
        out << version << quint8(type);
        fields(out);
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

template<typename T>
std::optional<T> ifWhole(QDataStream &in, T value, QString *why = nullptr)
{
    if (in.status() != QDataStream::Ok || !in.atEnd()) {
        say(why, QStringLiteral("a message that does not parse"));
        return std::nullopt;
    }
    return value;
}

// Nothing, with why, when a field is out of its range.
template<typename T>
std::optional<T> inRange(std::optional<T> value, const char *field, qint64 given, qint64 low, qint64 high, QString *why)
{
    if (!value || (given >= low && given <= high))
        return value;
    say(why, QStringLiteral("%1 out of range (%2)").arg(QLatin1String(field)).arg(given));
    return std::nullopt;
}

} // namespace

QByteArray frame(const Setup &setup)
{
    return framed(SetupType, [&](QDataStream &out) {
        put(out, setup.mark);
        out << setup.maxMemory << qint32(setup.memoryShare);
        put(out, setup.inputs);
        put(out, setup.outputFolders);
    });
}

std::optional<Setup> readSetup(const QByteArray &body)
{
    QDataStream in(body);
    if (!opened(in, SetupType))
        return std::nullopt;
    Setup setup;
    qint32 share = 1;
    setup.mark = takeText(in);
    in >> setup.maxMemory >> share;
    setup.memoryShare = share;
    setup.inputs = takeList(in);
    setup.outputFolders = takeList(in);
    return ifWhole(in, setup);
}

QByteArray frame(const Ready &ready)
{
    return framed(ReadyType, [&](QDataStream &out) { put(out, ready.unconfinedBecause); });
}

std::optional<Ready> readReady(const QByteArray &body, QString *why)
{
    QDataStream in(body);
    if (!opened(in, ReadyType, why))
        return std::nullopt;
    Ready ready;
    ready.unconfinedBecause = takeText(in);
    return ifWhole(in, ready, why);
}

QByteArray frame(const PageTask &task)
{
    return framed(TaskType, [&](QDataStream &out) {
        out << quint8(task.kind) << qint32(task.document);
        put(out, task.path);
        out << task.password;
        putEnum(out, task.renderer);
        out << task.options.withoutPaper;
        putEnum(out, task.options.box);
        out << task.options.antialias << task.options.annotations << task.options.cmyk;
        out << qint32(task.pageIndex) << task.resolution << qint32(task.fitWidth) << qint32(task.fitHeight)
            << qint32(task.longestSide);
        put(out, task.outputPath);
        putEnum(out, task.format);
        out << qint32(task.quality);
        putEnum(out, task.mode);
        out << task.region;
        out << task.encoder.jpegProgressive << task.encoder.jpegOptimize;
        putEnum(out, task.encoder.subsampling);
        putEnum(out, task.encoder.tiffCompression);
        out << task.timeLimitMs << task.synced << qint32(task.bandThreads) << task.previewArea << task.strict;
        out << task.checkSizes << task.heldBack << task.documentInfo;
        const PdftoppmSizing &sizing = task.pdftoppm;
        out << sizing.active << sizing.xResolution << sizing.yResolution << qint32(sizing.scaleTo)
            << qint32(sizing.scaleToX) << qint32(sizing.scaleToY) << qint32(sizing.x) << qint32(sizing.y)
            << qint32(sizing.width) << qint32(sizing.height);
    });
}

std::optional<PageTask> readTask(const QByteArray &body)
{
    QDataStream in(body);
    if (!opened(in, TaskType))
        return std::nullopt;
    PageTask task;
    quint8 kind = 0;
    qint32 document = 0, page = 0, fitWidth = 0, fitHeight = 0, longestSide = 0, quality = 0, bandThreads = 1;
    in >> kind >> document;
    task.kind = PageTask::Kind(kind);
    task.document = document;
    task.path = takeText(in);
    in >> task.password;
    task.renderer = takeEnum<RendererKind>(in);
    in >> task.options.withoutPaper;
    task.options.box = takeEnum<PageBox>(in);
    in >> task.options.antialias >> task.options.annotations >> task.options.cmyk;
    in >> page >> task.resolution >> fitWidth >> fitHeight >> longestSide;
    task.pageIndex = page;
    task.fitWidth = fitWidth;
    task.fitHeight = fitHeight;
    task.longestSide = longestSide;
    task.outputPath = takeText(in);
    task.format = takeEnum<ImageFormat>(in);
    in >> quality;
    task.quality = quality;
    task.mode = takeEnum<PixelMode>(in);
    in >> task.region;
    in >> task.encoder.jpegProgressive >> task.encoder.jpegOptimize;
    task.encoder.subsampling = takeEnum<ChromaSubsampling>(in);
    task.encoder.tiffCompression = takeEnum<TiffCompression>(in);
    in >> task.timeLimitMs >> task.synced >> bandThreads >> task.previewArea >> task.strict;
    in >> task.checkSizes >> task.heldBack >> task.documentInfo;
    task.bandThreads = bandThreads;
    PdftoppmSizing &sizing = task.pdftoppm;
    qint32 sizes[7] = {};
    in >> sizing.active >> sizing.xResolution >> sizing.yResolution;
    for (qint32 &size : sizes)
        in >> size;
    sizing.scaleTo = sizes[0];
    sizing.scaleToX = sizes[1];
    sizing.scaleToY = sizes[2];
    sizing.x = sizes[3];
    sizing.y = sizes[4];
    sizing.width = sizes[5];
    sizing.height = sizes[6];
    if (kind > PageTask::Probe)
        return std::nullopt;
    return ifWhole(in, task);
}

QByteArray frame(const TaskResult &result)
{
    return framed(ResultType, [&](QDataStream &out) {
        const PageOutcome &outcome = result.outcome;
        putEnum(out, outcome.result);
        out << qint32(outcome.page) << qint32(outcome.width) << qint32(outcome.height) << outcome.milliseconds;
        put(out, outcome.outputPath);
        put(out, outcome.heldAt);
        put(out, outcome.detail);
        put(out, outcome.redoneBecause);
        put(out, outcome.renderer);
        put(out, outcome.warnings);
        out << qint32(outcome.warningCount) << outcome.drawingErrors;
        put(out, result.image);
        putEnum(out, result.loadStatus);
        putEnum(out, result.rendererStatus);
        out << qint32(result.pageCount) << result.info;
    });
}

std::optional<TaskResult> readResult(const QByteArray &body, QString *why)
{
    QDataStream in(body);
    if (!opened(in, ResultType, why))
        return std::nullopt;
    TaskResult result;
    PageOutcome &outcome = result.outcome;
    qint32 page = 0, width = 0, height = 0, pageCount = 0;
    const qint32 kind = takeEnum<qint32>(in);
    if (kind >= PageOutcome::Written && kind <= PageOutcome::Skipped)
        outcome.result = PageOutcome::Result(kind);
    in >> page >> width >> height >> outcome.milliseconds;
    outcome.page = page;
    outcome.width = width;
    outcome.height = height;
    outcome.outputPath = takeText(in);
    outcome.heldAt = takeText(in);
    outcome.detail = takeText(in);
    outcome.redoneBecause = takeText(in);
    outcome.renderer = takeText(in);
    outcome.warnings = takeList(in);
    qint32 warningCount = 0;
    in >> warningCount >> outcome.drawingErrors;
    outcome.warningCount = warningCount;
    result.image = takeImage(in);
    result.loadStatus = takeEnum<PdfLoadStatus>(in);
    result.rendererStatus = takeEnum<PdfLoadStatus>(in);
    in >> pageCount >> result.info;
    result.pageCount = pageCount;
    std::optional<TaskResult> read = ifWhole(in, result, why);
    // Every number a program goes on to use is checked: a count it would
    // allocate for, a size it would compute with, an enum it would switch on.
    constexpr qint64 most = std::numeric_limits<qint32>::max();
    const auto status = [](PdfLoadStatus s) { return qint64(s); };
    read = inRange(read, "result", kind, PageOutcome::Written, PageOutcome::Skipped, why);
    // The page is the task's, whatever it is (a missing page may be -1): its
    // worker's program compares them.
    read = inRange(read, "width", width, 0, most, why);
    read = inRange(read, "height", height, 0, most, why);
    read = inRange(read, "milliseconds", outcome.milliseconds, 0, std::numeric_limits<qint64>::max(), why);
    read = inRange(read, "warning count", warningCount, outcome.warnings.size(), most, why);
    read = inRange(read, "load status", status(result.loadStatus), status(PdfLoadStatus::Loaded),
                   status(PdfLoadStatus::Locked), why);
    read = inRange(read, "renderer status", status(result.rendererStatus), status(PdfLoadStatus::Loaded),
                   status(PdfLoadStatus::Locked), why);
    read = inRange(read, "page count", pageCount, 0, most, why);
    return read;
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
