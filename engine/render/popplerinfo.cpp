// The document's info, read with Poppler's core parser: the Info dictionary,
// the catalog's flags and the pages' boxes are not all within reach of the
// Qt interface, and these are the values pdfinfo prints.
#include "engine/render/documentinfo.h"

#include "engine/nativepath.h"
#include "engine/render/popplerrenderer.h"

#include <poppler/Catalog.h>
#include <poppler/ErrorCodes.h>
#include <poppler/GlobalParams.h>
#include <poppler/JSInfo.h>
#include <poppler/PDFDoc.h>
#include <poppler/Page.h>
#include <poppler/UTF.h>
#include <poppler/XRef.h>
#include <goo/GooString.h>
#include <goo/gmem.h>

#include <sys/stat.h>

namespace {

// A PDF text string (PDFDocEncoding, or UTF-16 after its byte order mark).
QString textString(const GooString *string)
{
    Unicode *characters = nullptr;
    const int length = TextStringToUCS4(string->toStr(), &characters);
    const QString text = QString::fromUcs4(reinterpret_cast<const char32_t *>(characters), length);
    gfree(characters);
    return text;
}

QString infoText(const Object &info, const char *key)
{
    const Object value = info.dictLookup(key);
    return value.isString() ? textString(value.getString()) : QString();
}

QByteArray infoBytes(const Object &info, const char *key)
{
    const Object value = info.dictLookup(key);
    if (!value.isString())
        return QByteArray();
    const std::string &bytes = value.getString()->toStr();
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

PdfBox box(const PDFRectangle *rectangle)
{
    if (!rectangle)
        return PdfBox();
    return {rectangle->x1, rectangle->y1, rectangle->x2, rectangle->y2};
}

bool hasJavaScript(PDFDoc *document, int firstPage, int pages)
{
    JSInfo scan(document, firstPage);
    scan.scanJS(pages);
    return scan.containsJS();
}

} // namespace

PdfDocumentInfo readPopplerInfo(const QString &path, const QByteArray &password)
{
    // Poppler's messages go to standard error, as pdfinfo's do; a worker
    // hands them back with its result.
    const PopplerReportsPrinted printed;
    PdfDocumentInfo info;
    const QByteArray file = nativePath(path);
    std::optional<GooString> given;
    if (!password.isNull())
        given = GooString(password.constData(), int(password.size()));
    PDFDoc document(std::make_unique<GooString>(file.constData(), int(file.size())), given, given);
    if (!document.isOk()) {
        info.status = document.getErrorCode() == errEncrypted ? PdfLoadStatus::Locked : PdfLoadStatus::Failed;
        return info;
    }
    info.status = PdfLoadStatus::Loaded;

    const Object dictionary = document.getDocInfo();
    if (dictionary.isDict()) {
        info.title = infoText(dictionary, "Title");
        info.subject = infoText(dictionary, "Subject");
        info.keywords = infoText(dictionary, "Keywords");
        info.author = infoText(dictionary, "Author");
        info.creator = infoText(dictionary, "Creator");
        info.producer = infoText(dictionary, "Producer");
        info.creationDate = infoBytes(dictionary, "CreationDate");
        info.modDate = infoBytes(dictionary, "ModDate");
        static const QByteArrayList standard{"Title",   "Subject",  "Keywords",     "Author", "Creator",
                                             "Producer", "CreationDate", "ModDate", "Trapped"};
        for (int i = 0; i < dictionary.dictGetLength(); ++i)
            if (!standard.contains(QByteArray(dictionary.dictGetKey(i))))
                info.customMetadata = true;
    }
    info.metadataStream = document.readMetadata() != nullptr;
    Catalog *catalog = document.getCatalog();
    const unsigned int marks = catalog->getMarkInfo();
    info.tagged = marks & Catalog::markInfoMarked;
    info.userProperties = marks & Catalog::markInfoUserProperties;
    info.suspects = marks & Catalog::markInfoSuspects;
    switch (catalog->getFormType()) {
    case Catalog::NoForm:
        info.form = PdfDocumentInfo::NoForm;
        break;
    case Catalog::AcroForm:
        info.form = PdfDocumentInfo::AcroForm;
        break;
    case Catalog::XfaForm:
        info.form = PdfDocumentInfo::XfaForm;
        break;
    }
    info.pageCount = document.getNumPages();
    info.documentJavaScript = hasJavaScript(&document, 0, 0);

    info.encrypted = document.isEncrypted();
    if (info.encrypted) {
        // What the document allows anyone, whichever password opened it.
        info.mayPrint = document.okToPrint(true);
        info.mayCopy = document.okToCopy(true);
        info.mayChange = document.okToChange(true);
        info.mayAddNotes = document.okToAddNotes(true);
        unsigned char *key = nullptr;
        CryptAlgorithm algorithm = cryptRC4;
        int keyLength = 0;
        document.getXRef()->getEncryptionParameters(&key, &algorithm, &keyLength);
        switch (algorithm) {
        case cryptRC4:
            info.encryption = QStringLiteral("RC4");
            break;
        case cryptAES:
            info.encryption = QStringLiteral("AES");
            break;
        case cryptAES256:
            info.encryption = QStringLiteral("AES-256");
            break;
        default:
            info.encryption = QStringLiteral("unknown");
            break;
        }
    }

    for (int number = 1; number <= info.pageCount; ++number) {
        PdfPageInfo page;
        if (Page *read = document.getPage(number)) {
            page.mediaBox = box(read->getMediaBox());
            page.cropBox = box(read->getCropBox());
            page.bleedBox = box(read->getBleedBox());
            page.trimBox = box(read->getTrimBox());
            page.artBox = box(read->getArtBox());
            page.rotation = read->getRotate();
        }
        page.javaScript = hasJavaScript(&document, number - 1, 1);
        info.pages << page;
    }

    struct stat status;
    if (::stat(file.constData(), &status) == 0)
        info.fileSize = status.st_size;
    info.linearized = document.isLinearized();
    info.majorVersion = document.getPDFMajorVersion();
    info.minorVersion = document.getPDFMinorVersion();
    return info;
}
