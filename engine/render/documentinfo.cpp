#include "engine/render/documentinfo.h"

namespace {

QDataStream &operator<<(QDataStream &out, const PdfBox &box)
{
    return out << box.x1 << box.y1 << box.x2 << box.y2;
}

QDataStream &operator>>(QDataStream &in, PdfBox &box)
{
    return in >> box.x1 >> box.y1 >> box.x2 >> box.y2;
}

} // namespace

QDataStream &operator<<(QDataStream &out, const PdfDocumentInfo &info)
{
    out << qint32(info.status) << info.title << info.subject << info.keywords << info.author << info.creator
        << info.producer << info.creationDate << info.modDate << info.customMetadata << info.metadataStream
        << info.tagged << info.userProperties << info.suspects << quint8(info.form) << info.documentJavaScript
        << qint32(info.pageCount) << info.encrypted << info.mayPrint << info.mayCopy << info.mayChange
        << info.mayAddNotes << info.encryption << info.fileSize << info.linearized << qint32(info.majorVersion)
        << qint32(info.minorVersion) << quint32(info.pages.size());
    for (const PdfPageInfo &page : info.pages)
        out << page.mediaBox << page.cropBox << page.bleedBox << page.trimBox << page.artBox << qint32(page.rotation)
            << page.javaScript;
    return out;
}

QDataStream &operator>>(QDataStream &in, PdfDocumentInfo &info)
{
    qint32 status = 0, pageCount = 0, major = 0, minor = 0;
    quint8 form = 0;
    quint32 pages = 0;
    in >> status >> info.title >> info.subject >> info.keywords >> info.author >> info.creator >> info.producer
        >> info.creationDate >> info.modDate >> info.customMetadata >> info.metadataStream >> info.tagged
        >> info.userProperties >> info.suspects >> form >> info.documentJavaScript >> pageCount >> info.encrypted
        >> info.mayPrint >> info.mayCopy >> info.mayChange >> info.mayAddNotes >> info.encryption >> info.fileSize
        >> info.linearized >> major >> minor >> pages;
    info.status = status >= 0 && status <= int(PdfLoadStatus::Locked) ? PdfLoadStatus(status) : PdfLoadStatus::Failed;
    info.form = form <= PdfDocumentInfo::XfaForm ? PdfDocumentInfo::Form(form) : PdfDocumentInfo::NoForm;
    info.pageCount = pageCount;
    info.majorVersion = major;
    info.minorVersion = minor;
    info.pages.clear();
    // A count the stream cannot hold is a damaged message: stop at its end.
    for (quint32 i = 0; i < pages && in.status() == QDataStream::Ok && !in.atEnd(); ++i) {
        PdfPageInfo page;
        qint32 rotation = 0;
        in >> page.mediaBox >> page.cropBox >> page.bleedBox >> page.trimBox >> page.artBox >> rotation
            >> page.javaScript;
        page.rotation = rotation;
        info.pages << page;
    }
    if (quint32(info.pages.size()) != pages)
        in.setStatus(QDataStream::ReadCorruptData);
    return in;
}
