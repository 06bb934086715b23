#ifndef PARALLELBANDS_H
#define PARALLELBANDS_H

#include "engine/bandplan.h"
#include "engine/render/renderdocument.h"

#include <QRect>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The bands of one page drawn by several threads at once and handed out in
// order. Neither renderer lets two threads draw from one document, so each
// helper thread opens a copy of its own. The bands are the same regions a
// single thread draws, so the bytes are the same; at most one band a thread
// is held at a time, which the caller counts against the memory budget.
class ParallelBands
{
public:
    using OpenCopy = std::function<std::unique_ptr<RenderDocument>()>;
    // Draws band i of the page: the same function for every thread.
    using DrawBand = std::function<PixelImage(const RenderPage &page, int band)>;

    ParallelBands(const RenderPage &page, int pageIndex, int bandCount, int helpers, OpenCopy openCopy,
                  DrawBand draw);
    ~ParallelBands(); // lets the helpers finish the band in hand, then joins them
    ParallelBands(const ParallelBands &) = delete;
    ParallelBands &operator=(const ParallelBands &) = delete;

    // Band i, once drawn (by this thread meanwhile, when one is free to draw);
    // a null image when drawing it failed. Bands are taken in order.
    PixelImage take(int band);

private:
    int claim(); // the next band to draw, or -1; with the lock held
    void help(int pageIndex);
    void store(int band, PixelImage image);

    const RenderPage &page;
    const int bandCount;
    const int window; // bands drawn ahead of the one written, at most
    const OpenCopy openCopy;
    const DrawBand draw;

    std::mutex mutex;
    std::condition_variable changed;
    int nextToDraw = 0;
    int nextToTake = 0;
    bool abandoned = false;
    std::map<int, PixelImage> drawn;
    std::vector<std::thread> threads;
};

#endif // PARALLELBANDS_H
