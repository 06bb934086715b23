#ifndef PAGERENDERER_H
#define PAGERENDERER_H

#include <QDeadlineTimer>
#include <QImage>
#include <QRect>
#include <QSizeF>

#include <atomic>
#include <memory>

namespace Poppler {
class Document;
class Page;
}

// One page of an open document, drawn whole or a band at a time. Drawing
// looks at the stop flag as it goes and gives up soon after it is set.
class PageRenderer
{
public:
    PageRenderer(const Poppler::Document *document, int pageIndex);
    ~PageRenderer();

    bool exists() const { return page != nullptr; }
    QSizeF sizeInPoints() const;
    // Hides the page's form fields in the open document, for drawing without
    // annotations: Poppler's Qt interface draws them under HideAnnotations.
    void hideFormFields() const;

    // The region, in pixels of the page at dpi, as a QImage::Format_RGB32
    // image of the region's size (Format_ARGB32_Premultiplied for a document
    // drawn without paper, as drawWithoutPaper() sets it); a null image when
    // drawing failed or the result came back at another size than asked for.
    // Drawing also gives up once the deadline has passed.
    QImage render(double dpi, const QRect &region, const std::atomic<bool> &stop,
                  QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever)) const;
    // At one resolution across and another down.
    QImage render(double xDpi, double yDpi, const QRect &region, const std::atomic<bool> &stop,
                  QDeadlineTimer deadline) const;
    // A quarter turn (/Rotate 90 or 270).
    bool quarterTurned() const;

private:
    std::unique_ptr<Poppler::Page> page;
    bool withoutPaper = false;
};

#endif // PAGERENDERER_H
