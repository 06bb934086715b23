// Loading the back-ends' modules: the first document a process opens with a
// back-end loads its module from the helpers' folder (engine/helperfolder),
// and the module stays for the life of the process (its library keeps
// process-wide state, and documents it opened may live until the end).
#include "engine/render/backendmodule.h"

#include "engine/helperfolder.h"
#include "engine/render/rendererbackend.h"

#include <cstring>
#include <mutex>

#include <dlfcn.h>

namespace {

const ModuleHost host{DrawingNotes::add};

struct Loaded
{
    RendererKind kind;
    const BackEndModule *module; // null: tried, and it could not be loaded
    QString why;                 // then why not
};

std::mutex loading;
QList<Loaded> loaded;          // under loading
qint64 cacheLimit = 0;         // under loading
bool reportsKept = false;      // under loading

Loaded refuse(const RendererBackEnd &backEnd, const NativePath &file, const QString &why)
{
    return Loaded{backEnd.kind, nullptr,
                  QStringLiteral("the %1 renderer cannot be loaded: %2: %3")
                      .arg(QLatin1String(backEnd.name), file.display(), why)};
}

Loaded load(const RendererBackEnd &backEnd)
{
    const NativePath file = helperFolder().joined(backEnd.module);
    // RTLD_LOCAL: the library each module carries or needs stays its own.
    void *handle = dlopen(file.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return refuse(backEnd, file, QString::fromLocal8Bit(dlerror()).section(QStringLiteral(": "), -1));
    const auto entry = reinterpret_cast<BackEndModuleEntry>(dlsym(handle, VELLORAN_BACKEND_MODULE_ENTRY));
    if (!entry)
        return refuse(backEnd, file, QStringLiteral("not a renderer module of this program"));
    const BackEndModule *module = entry(&host);
    if (!module || std::strcmp(module->build, VELLORAN_BACKEND_MODULE_BUILD) != 0)
        return refuse(backEnd, file, QStringLiteral("built for another version of the program"));
    if (module->kind != backEnd.kind || !module->open)
        return refuse(backEnd, file, QStringLiteral("it draws for another back-end"));
    if (cacheLimit > 0 && module->limitCache)
        module->limitCache(cacheLimit);
    if (reportsKept && module->keepReports)
        module->keepReports();
    return Loaded{backEnd.kind, module, QString()};
}

const Loaded &tryLoading(RendererKind kind)
{
    for (const Loaded &tried : loaded) {
        if (tried.kind == kind)
            return tried;
    }
    const RendererBackEnd *backEnd = builtInBackEnd(kind);
    loaded << (backEnd ? load(*backEnd)
                       : Loaded{kind, nullptr, QStringLiteral("the renderer is not built into this program")});
    return loaded.constLast();
}

} // namespace

const BackEndModule *backEndModule(RendererKind kind)
{
    const std::lock_guard<std::mutex> lock(loading);
    return tryLoading(kind).module;
}

QString rendererUnavailable(RendererKind kind)
{
    const std::lock_guard<std::mutex> lock(loading);
    return tryLoading(kind).why;
}

void limitRendererCaches(qint64 bytes)
{
    const std::lock_guard<std::mutex> lock(loading);
    cacheLimit = bytes;
    for (const Loaded &tried : loaded) {
        if (tried.module && tried.module->limitCache)
            tried.module->limitCache(bytes);
    }
}

void keepRendererReports()
{
    const std::lock_guard<std::mutex> lock(loading);
    reportsKept = true;
    for (const Loaded &tried : loaded) {
        if (tried.module && tried.module->keepReports)
            tried.module->keepReports();
    }
}
