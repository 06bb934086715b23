#include "engine/parallelbands.h"

#include <system_error>

ParallelBands::ParallelBands(const RenderPage &page, int pageIndex, int bandCount, int helpers, OpenCopy openCopy,
                             DrawBand draw)
    : page(page)
    , bandCount(bandCount)
    , window(helpers + 1)
    , openCopy(std::move(openCopy))
    , draw(std::move(draw))
{
    for (int i = 0; i < helpers; ++i) {
        try {
            threads.emplace_back([this, pageIndex] { help(pageIndex); });
        } catch (const std::system_error &) {
            break; // fewer helpers: the calling thread draws what they would have
        }
    }
}

ParallelBands::~ParallelBands()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        abandoned = true;
    }
    changed.notify_all();
    for (std::thread &thread : threads)
        thread.join();
}

int ParallelBands::claim()
{
    if (abandoned || nextToDraw >= bandCount || nextToDraw >= nextToTake + window)
        return -1;
    return nextToDraw++;
}

void ParallelBands::store(int band, PixelImage image)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        drawn[band] = std::move(image);
    }
    changed.notify_all();
}

void ParallelBands::help(int pageIndex)
{
    const std::unique_ptr<RenderDocument> copy = openCopy();
    const std::unique_ptr<RenderPage> own = copy ? copy->page(pageIndex) : nullptr;
    if (!own || !own->exists())
        return; // the calling thread draws the bands this one would have
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
        const int band = claim();
        if (band < 0) {
            if (abandoned || nextToDraw >= bandCount)
                return;
            changed.wait(lock);
            continue;
        }
        lock.unlock();
        PixelImage image = draw(*own, band);
        store(band, std::move(image));
        lock.lock();
    }
}

PixelImage ParallelBands::take(int band)
{
    std::unique_lock<std::mutex> lock(mutex);
    // The band before has been written: its memory is free for the next one.
    nextToTake = band;
    changed.notify_all();
    while (true) {
        const auto found = drawn.find(band);
        if (found != drawn.end()) {
            PixelImage image = std::move(found->second);
            drawn.erase(found);
            return image;
        }
        const int mine = claim();
        if (mine >= 0) {
            lock.unlock();
            PixelImage image = draw(page, mine);
            store(mine, std::move(image));
            lock.lock();
            continue;
        }
        changed.wait(lock);
    }
}
