#include "cli/batchjob.h"

#include "engine/image/imageformat.h"
#include "engine/nativepath.h"
#include "engine/outputname.h"
#include "engine/pagelist.h"
#include "engine/render/pdfstatus.h"
#include "engine/render/renderer.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <unistd.h>

namespace {

QString fileError(const QString &path, const QString &reason)
{
    return displayPath(path) + QStringLiteral(": ") + reason;
}

QString loadError(PdfLoadStatus status, const QByteArray &password)
{
    if (status == PdfLoadStatus::Locked)
        return password.isEmpty() ? QStringLiteral("the PDF needs a password: give it with --password")
                                  : QStringLiteral("wrong password: give the right one with --password");
    return QStringLiteral("cannot be opened as a PDF (damaged or not a PDF)");
}

QString pageListError(const PageListResult &result, const QString &text, int pageCount)
{
    switch (result.error) {
    case PageListResult::Empty:
        return QStringLiteral("the page list is empty");
    case PageListResult::BelowOne:
        return QStringLiteral("page list \"%1\": page numbers start at 1").arg(text);
    case PageListResult::AboveTotal:
        return pageCount == 1 ? QStringLiteral("page list \"%1\": the document has only 1 page").arg(text)
                              : QStringLiteral("page list \"%1\": the document has only %2 pages").arg(text).arg(pageCount);
    case PageListResult::BadPart:
        return QStringLiteral("page list \"%1\": \"%2\" is not a page number, a range such as 6-9 or 6-, odd or even")
            .arg(text, result.badPart);
    case PageListResult::Reversed:
    {
        QStringList ends = result.badPart.split(QLatin1Char('-'));
        std::reverse(ends.begin(), ends.end());
        for (QString &end : ends)
            end = end.trimmed();
        return QStringLiteral("page list \"%1\": the range %2 runs backwards: write %3")
            .arg(text, result.badPart, ends.join(QLatin1Char('-')));
    }
    case PageListResult::None:
        break;
    }
    return result.pages.isEmpty() ? QStringLiteral("page list \"%1\" selects no page").arg(text) : QString();
}

// What is wrong with a page list whatever the document: a part that is
// neither a page, a range, odd nor even, page 0, a range that runs backwards,
// nothing at all. A page past the end, or a list that selects none, is the
// document's; those are found once it is open.
PageListResult pageListMistake(const QString &text)
{
    if (text.trimmed().isEmpty())
        return PageListResult{PageListResult::Empty, {}, QString()};
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    for (const QString &part : text.split(QLatin1Char(','), Qt::KeepEmptyParts)) {
        // Against a document of no pages every page number is past the end,
        // and only what comes before that check is found: the part's form and page 0.
        PageListResult read = parsePageListStrictly(part, 0);
        if (read.error == PageListResult::Empty)
            return PageListResult{PageListResult::BadPart, {}, QString()}; // as the whole list reads ",,"
        if (read.error == PageListResult::BadPart || read.error == PageListResult::BelowOne)
            return read;
        // A range that runs backwards, read against its first number: found
        // before a single page is listed.
        QList<qulonglong> numbers;
        for (QRegularExpressionMatchIterator it = digits.globalMatch(part); it.hasNext();)
            numbers << it.next().captured().toULongLong();
        if (numbers.size() == 2 && numbers.at(0) > numbers.at(1) && numbers.at(0) <= 0xFFFFFFFFu) {
            read = parsePageListStrictly(part, quint32(numbers.at(0)));
            if (read.error == PageListResult::Reversed)
                return read;
        }
    }
    return PageListResult();
}

// What can be told of an input without opening it; an empty string when it
// may be opened. inCommand: the mistake is the command's, not the file's.
QString checkBeforeOpening(const QString &path, bool *inCommand)
{
    if (!nativeExists(path))
        return QStringLiteral("no such file: check the name and the folder");
    *inCommand = nativeIsDir(path);
    if (*inCommand)
        return QStringLiteral("a folder, not a PDF file: name the files in it, such as %1/*.pdf")
            .arg(displayPath(path.endsWith(QLatin1Char('/')) ? path.chopped(1) : path));
    if (!nativeIsFile(path))
        return QStringLiteral("not a file (a device, a pipe or a socket): name a PDF file");
    if (!nativeIsReadable(path))
        return QStringLiteral("not readable");
    return QString();
}

// Reads what opening the file gave; returns the reason it cannot be used, or an empty string.
QString checkFile(const BatchOptions &options, const DocumentProbe &probe, BatchFile &file)
{
    // Poppler decides which files are usable and how many pages they have,
    // whichever library draws: a file the window would refuse is refused, with
    // the same words, and MuPDF's repair of a file cut short does not make it
    // one that Poppler opens. MuPDF must open it too when it draws.
    if (!probe.failure.isEmpty())
        return QStringLiteral("cannot be opened: %1").arg(probe.failure);
    if (probe.status != PdfLoadStatus::Loaded)
        return loadError(probe.status, options.password);
    file.renderer = options.renderer;
    if (probe.rendererStatus != PdfLoadStatus::Loaded) {
        // Poppler opens it and the renderer asked for does not (MuPDF refuses
        // some encryption dictionaries and damage that Poppler reads past):
        // Poppler draws it, unless it cannot draw what was asked.
        if (!renderOptionsRefused(RendererKind::Poppler, options.style.renderOptions()).isEmpty())
            return loadError(probe.rendererStatus, options.password);
        file.renderer = RendererKind::Poppler;
        file.fellBack = QStringLiteral("%1 cannot open it (%2): its pages are drawn by poppler")
                            .arg(rendererName(options.renderer),
                                 probe.rendererStatus == PdfLoadStatus::Locked ? QStringLiteral("it asks for a password")
                                                                               : QStringLiteral("damaged or not a PDF"));
    }
    if (probe.pageCount < 1)
        return QStringLiteral("the document has no pages");
    file.noPageFits = probe.noPageFits;
    file.stamp = probe.stamp;

    if (options.pages.isNull()) {
        file.pageCount = probe.pageCount;
        file.pages = allPages(quint32(probe.pageCount));
        return QString();
    }
    file.pageCount = probe.pageCount;
    const PageListResult parsed = parsePageListStrictly(options.pages, quint32(probe.pageCount));
    file.pages = parsed.pages;
    return pageListError(parsed, options.pages, probe.pageCount);
}

QString systemReason(int error)
{
    return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

// Makes the output folder with its missing parents; what is wrong with it
// and what to do, or an empty string when pages can be written into it.
QString makeOutputFolder(const QString &folder)
{
    if (nativeExists(folder) && !nativeIsDir(folder))
        return QStringLiteral("a file, not a folder: give -o a folder (a missing one is made)");
    // Not QDir::mkpath, which cannot make a folder whose name is not UTF-8.
    const QString absolute = absolutePathOf(folder);
    QString failedAt;
    int error = 0;
    if (!makeFolders(absolute, &failedAt, &error)) {
        const QString where = failedAt == absolute ? QString() : displayPath(failedAt) + QStringLiteral(": ");
        return QStringLiteral("cannot create the output folder (%1%2): give -o another folder")
            .arg(where, systemReason(error));
    }
    if (::access(nativePath(folder).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("the output folder is not writable (%1): give -o a folder you can write to")
            .arg(systemReason(errno));
    return QString();
}

// Two inputs with the same base name would write the same output files,
// unless their outputs go to different folders.
QList<RefusedFile> findNameClashes(const QList<BatchFile> &files)
{
    QList<RefusedFile> clashes;
    QHash<QString, QString> firstByName;
    for (const BatchFile &file : files) {
        const QString name = file.outputDir + QLatin1Char('/') + QFileInfo(file.path).completeBaseName();
        const auto found = firstByName.constFind(name);
        if (found == firstByName.constEnd())
            firstByName.insert(name, file.path);
        else
            clashes << RefusedFile{file.path,
                                   QStringLiteral("its output names clash with those of %1").arg(displayPath(*found)),
                                   true};
    }
    return clashes;
}

// The folder of the input's outputs under --output-tree: the output folder
// and the input's folder relative to the tree's root. Empty when the input
// lies outside the root.
QString treeFolder(const BatchOptions &options, const QString &path)
{
    const QString root = absolutePathOf(options.outputTree);
    const QString folder = QFileInfo(absolutePathOf(path)).absolutePath();
    if (folder == root)
        return options.outputDir;
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (!folder.startsWith(prefix))
        return QString();
    return QDir::cleanPath(options.outputDir + QLatin1Char('/') + folder.mid(prefix.size()));
}

// What the format table offers, in the words of the messages below:
// "-t jpg or -t tiff", "jpg, png, bmp, tiff or webp", "TIFF".
QString typeOptions(const QStringList &extensions)
{
    QStringList options;
    for (const QString &extension : extensions)
        options << QStringLiteral("-t ") + extension;
    return listText(options);
}

QString multiPageNames()
{
    QStringList names;
    for (const ImageFormatFacts &facts : imageFormats()) {
        if (facts.multiPage)
            names << QLatin1String(facts.name);
    }
    return listText(names, QStringLiteral("and"));
}

const char *modeName(PixelMode mode)
{
    switch (mode) {
    case PixelMode::Gray:
        return "gray";
    case PixelMode::Mono:
        return "1-bit";
    case PixelMode::ColorAlpha:
        return "transparent";
    case PixelMode::Cmyk:
        return "CMYK";
    case PixelMode::Color:
        break;
    }
    return "colour";
}

// The combinations of the output options that make no sense, one line each.
QStringList checkOutputStyle(const BatchOptions &options, ImageFormat format)
{
    const OutputStyle &style = options.style;
    QStringList errors;
    if (style.sizedInPixels() && options.resolutionGiven)
        errors << QStringLiteral("give a resolution or a size in pixels, not both");
    if (style.longestSide > 0 && (style.width > 0 || style.height > 0))
        errors << QStringLiteral("give --scale-to or --width/--height, not both");
    if (style.mode == PixelMode::Cmyk && !formatStores(format, style.mode))
        errors << QStringLiteral("--cmyk writes %1 files only: use %2")
                      .arg(listText(extensionsStoring(PixelMode::Cmyk), QStringLiteral("and")),
                           typeOptions(extensionsStoring(PixelMode::Cmyk)));
    else if (!formatStores(format, style.mode))
        errors << QStringLiteral("%1 files cannot hold %2 pages").arg(options.extension, QLatin1String(modeName(style.mode)));
    const QString refusedByRenderer = renderOptionsRefused(options.renderer, style.renderOptions());
    if (!refusedByRenderer.isEmpty())
        errors << refusedByRenderer;
    if (style.multipage && !formatFacts(format).multiPage)
        errors << QStringLiteral("--multipage writes %1 files only: add %2").arg(multiPageNames(), typeOptions(multiPageExtensions()));

    const EncoderOptions &encoder = style.encoder;
    if (format != ImageFormat::Jpeg) {
        if (encoder.jpegProgressive)
            errors << QStringLiteral("--progressive is for JPEG files only: use -t jpg");
        if (encoder.jpegOptimize)
            errors << QStringLiteral("--optimize is for JPEG files only: use -t jpg");
        if (style.subsamplingGiven)
            errors << QStringLiteral("--subsampling is for JPEG files only: use -t jpg");
    } else if (style.subsamplingGiven && style.mode == PixelMode::Gray) {
        errors << QStringLiteral("--subsampling is for colour: a gray JPEG has no colour to subsample");
    } else if (style.subsamplingGiven && style.mode == PixelMode::Cmyk) {
        errors << QStringLiteral("--subsampling is for RGB: a CMYK JPEG keeps every sample of its four inks");
    }
    if (style.compressionGiven) {
        if (format != ImageFormat::Tiff)
            errors << QStringLiteral("--compression is for TIFF files only: add -t tiff");
        else if (style.mode == PixelMode::Mono)
            errors << QStringLiteral("--compression is for colour and gray pages: 1-bit pages are always CCITT G4");
        else if (style.mode == PixelMode::ColorAlpha && encoder.tiffCompression == TiffCompression::Jpeg)
            errors << QStringLiteral("--compression jpeg cannot hold transparent pages: use lzw or deflate");
    }
    // A page on standard output is sent as it is drawn: nothing is left to
    // refuse once --strict would know.
    if (style.strict && options.outputDir == BatchPlan::standardOutputName())
        errors << QStringLiteral("--strict is for pages written to files: leave out -o -");
    if (style.multipage && style.name.usesPage())
        errors << QStringLiteral("--name with --multipage cannot use {page}: one file holds every page");

    if (options.outputDir == BatchPlan::standardOutputName()) {
        if (isatty(STDOUT_FILENO))
            errors << QStringLiteral("-o - writes the image to standard output, which is a terminal: "
                                     "send it to a pipe or a file");
        if (style.multipage)
            errors << QStringLiteral("-o - writes one page to standard output: leave out --multipage");
        if (!style.name.isEmpty())
            errors << QStringLiteral("-o - writes to standard output, which has no name: leave out --name");
        if (style.skipExisting)
            errors << QStringLiteral("-o - writes to standard output, where no file exists: leave out --skip-existing");
        if (!options.outputTree.isEmpty())
            errors << QStringLiteral("-o - writes to standard output, which has no folders: leave out --output-tree");
    }
    return errors;
}

// Two pages of a run that a --name pattern gives the same output name.
QStringList findTemplateClashes(const BatchPlan &plan)
{
    QHash<QString, QString> firstByPath;
    for (const BatchFile &file : plan.files) {
        const QList<int> pages = plan.naming.multipage ? QList<int>{0} : file.pages;
        for (int page : pages) {
            const QString path = plan.outputPath(file, page);
            const QString which = plan.naming.multipage ? displayPath(file.path)
                                                       : QStringLiteral("page %1 of %2").arg(page + 1).arg(displayPath(file.path));
            const auto found = firstByPath.constFind(path);
            if (found != firstByPath.constEnd())
                return {QStringLiteral("--name \"%1\" gives %2 and %3 the same output %4")
                            .arg(plan.naming.name.pattern(), *found, which, displayPath(path))};
            firstByPath.insert(path, which);
        }
    }
    return {};
}

} // namespace

QString refusalText(const RefusedFile &file)
{
    return fileError(file.path, file.reason);
}

QString BatchPlan::outputPath(const BatchFile &file, int pageIndex) const
{
    if (toStandardOutput())
        return standardOutputName();
    QString name;
    if (!naming.name.isEmpty())
        name = naming.name.fileName(file.path, naming.multipage ? 0 : pageIndex, extension,
                                    naming.padNumbers ? int(QString::number(qMax(file.pageCount, 1)).size()) : 0);
    else if (naming.multipage)
        name = documentFileName(file.path, extension);
    else if (naming.padNumbers)
        name = paddedOutputFileName(file.path, pageIndex, file.pageCount, extension);
    else
        name = outputFileName(file.path, pageIndex, extension);
    return outputFilePath(QDir(file.outputDir), name);
}

PageTask BatchPlan::taskFor(int fileIndex, int pageIndex) const
{
    const BatchFile &file = files.at(fileIndex);
    PageTask page = task;
    page.document = fileIndex;
    page.path = file.path;
    page.inputStamp = file.stamp;
    page.renderer = file.renderer;
    page.pageIndex = pageIndex;
    page.outputPath = outputPath(file, pageIndex);
    page.toGivenDescriptor = toStandardOutput() || task.inTurn;
    page.heldBack = naming.multipage;
    return page;
}

PageTask pageTaskOf(const BatchOptions &options)
{
    const OutputStyle &style = options.style;
    PageTask task;
    task.kind = PageTask::Convert;
    task.password = options.password;
    task.renderer = options.renderer;
    task.options = style.renderOptions();
    task.resolution = options.resolution;
    task.fitWidth = style.width;
    task.fitHeight = style.height;
    task.longestSide = style.longestSide;
    // An unknown type is refused before anything is opened.
    task.format = imageFormatForExtension(options.extension).value_or(ImageFormat::Jpeg);
    task.quality = options.quality;
    task.mode = style.mode;
    task.region = style.crop;
    task.encoder = style.encoder;
    task.timeLimitMs = style.timeLimitMs;
    // A file that a later run counts as done must survive a power cut whole.
    task.synced = style.skipExisting;
    task.strict = style.strict;
    task.pdftoppm = style.pdftoppm;
    task.inTurn = style.pagesToStandardOutput;
    task.tone = style.tone;
    return task;
}

QStringList BatchPlan::outputFolders() const
{
    if (toStandardOutput())
        return {};
    QStringList folders;
    for (const BatchFile &file : files) {
        if (!folders.contains(file.outputDir))
            folders << file.outputDir;
    }
    return folders;
}

int BatchPlan::pageCount() const
{
    int count = 0;
    for (const BatchFile &file : files)
        count += file.pages.size();
    return count;
}

QStringList checkBatchOptions(const BatchOptions &options)
{
    QStringList errors;
    if (options.files.isEmpty())
        errors << QStringLiteral("no input file given: name the PDF files to convert; see --help");
    const std::optional<ImageFormat> format = imageFormatForExtension(options.extension);
    if (!format)
        errors << QStringLiteral("unknown type \"%1\": use %2").arg(options.extension, listText(formatExtensions()));
    else
        errors << checkOutputStyle(options, *format);
    if (options.resolution < minResolution || options.resolution > maxResolution)
        errors << QStringLiteral("resolution must be from %1 to %2 dpi").arg(minResolution).arg(maxResolution);
    if (options.quality < minQuality || options.quality > maxQuality)
        errors << QStringLiteral("quality must be from %1 to %2").arg(minQuality).arg(maxQuality);
    if (options.outputDir.isEmpty())
        errors << QStringLiteral("the output folder is empty");
    if (!options.outputTree.isNull() && !nativeIsDir(options.outputTree))
        errors << QStringLiteral("--output-tree \"%1\": no such folder").arg(displayPath(options.outputTree));
    if (!options.pages.isNull()) {
        const PageListResult mistake = pageListMistake(options.pages);
        if (mistake.error != PageListResult::None)
            errors << pageListError(mistake, options.pages, 0);
    }
    return errors;
}

BatchPlan planBatch(const BatchOptions &options, const DocumentProber &prober)
{
    BatchPlan plan;
    plan.outputDir = options.outputDir;
    plan.extension = options.extension;
    plan.task = pageTaskOf(options);
    const OutputStyle &style = options.style;
    plan.naming = OutputNaming{style.padNumbers, style.multipage, style.skipExisting, style.name};
    plan.errors = checkBatchOptions(options);
    if (!plan.errors.isEmpty())
        return plan;

    QList<BatchFile> candidates;
    QStringList toOpen;
    QHash<int, RefusedFile> refusedBefore; // by place among the inputs
    for (int i = 0; i < options.files.size(); ++i) {
        const QString &path = options.files.at(i);
        BatchFile file{path, {}, 0, options.outputDir, options.renderer, QString(), QString(), FileStamp()};
        RefusedFile refused{path, QString(), false};
        if (!options.outputTree.isNull()) {
            file.outputDir = treeFolder(options, path);
            if (file.outputDir.isEmpty())
                refused = RefusedFile{path, QStringLiteral("outside the --output-tree folder %1").arg(displayPath(options.outputTree)),
                                      true};
        }
        if (refused.reason.isEmpty())
            refused.reason = checkBeforeOpening(path, &refused.inCommand);
        if (refused.reason.isEmpty())
            toOpen << path;
        else
            refusedBefore.insert(i, refused);
        candidates << file;
    }
    const QList<DocumentProbe> probes = toOpen.isEmpty() ? QList<DocumentProbe>()
                                                         : prober(toOpen, options.password, options.renderer);
    for (int i = 0, opened = 0; i < candidates.size(); ++i) {
        BatchFile &file = candidates[i];
        RefusedFile refused = refusedBefore.value(i);
        if (refused.reason.isEmpty())
            refused = RefusedFile{file.path, checkFile(options, probes.value(opened++), file), false};
        if (refused.reason.isEmpty())
            plan.files << file;
        else
            plan.refused << refused;
    }
    // A pattern names pages its own way; without one, files of one base name clash.
    if (plan.naming.name.isEmpty())
        plan.refused << findNameClashes(plan.files);
    else
        plan.errors << findTemplateClashes(plan);
    // A file that cannot be used costs itself, unless asked otherwise; a
    // mistake in the command refuses the run.
    const bool refusesRun = options.allOrNothing
                            || std::any_of(plan.refused.cbegin(), plan.refused.cend(),
                                           [](const RefusedFile &refused) { return refused.inCommand; });
    if (refusesRun) {
        for (const RefusedFile &refused : std::as_const(plan.refused))
            plan.errors << refusalText(refused);
    }
    // A size no page of any input can be drawn at is the command's mistake,
    // known before anything is drawn. Where some file's pages fit, a file
    // whose pages do not fails page by page.
    if (!plan.files.isEmpty()
        && std::all_of(plan.files.cbegin(), plan.files.cend(),
                       [](const BatchFile &file) { return !file.noPageFits.isEmpty(); })) {
        const BatchFile &first = plan.files.first();
        const bool pixels = plan.task.sizedInPixels();
        plan.errors << QStringLiteral("no page can be drawn at %1: page 1 of %2 would be %3: give a %4")
                           .arg(pixels ? QStringLiteral("that size") : QStringLiteral("%1 dpi").arg(options.resolution),
                                displayPath(first.path), first.noPageFits,
                                pixels ? QStringLiteral("smaller size") : QStringLiteral("lower resolution with -r"));
    }
    if (!plan.errors.isEmpty())
        return plan;

    if (plan.toStandardOutput()) {
        // Every input refused: nothing to write, said by the refusals.
        if (plan.pageCount() != 1 && !plan.files.isEmpty())
            plan.errors << QStringLiteral("-o - writes one page to standard output; this run would write %1: "
                                          "choose one with -p")
                               .arg(plan.pageCount());
        return plan;
    }

    for (const QString &folder : plan.outputFolders()) {
        const QString problem = makeOutputFolder(folder);
        if (!problem.isEmpty())
            plan.errors << fileError(folder, problem);
    }
    return plan;
}
