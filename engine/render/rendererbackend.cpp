#include "engine/render/rendererbackend.h"

#include "engine/render/mupdfbackend.h"
#include "engine/render/popplerbackend.h"

#include <QStringList>

namespace {

// "the crop box", "the media and crop boxes", "the media, crop and trim boxes".
QString boxesText(unsigned boxes)
{
    QStringList names;
    for (PageBox box : {PageBox::Media, PageBox::Crop, PageBox::Bleed, PageBox::Trim, PageBox::Art}) {
        if (boxes & boxBit(box))
            names << pageBoxName(box);
    }
    if (names.isEmpty())
        return QStringLiteral("no box");
    if (names.size() == 1)
        return QStringLiteral("the %1 box").arg(names.first());
    const QString last = names.takeLast();
    return QStringLiteral("the %1 and %2 boxes").arg(names.join(QStringLiteral(", ")), last);
}

// One thing a document may be asked for when it is opened.
struct Wish
{
    bool asked;
    bool (*able)(const RendererAbilities &can, const RenderOptions &options);
    QString option;  // as the command line asks for it
    QString instead; // what a back-end without it does
};

const RendererBackEnd &firstBuiltIn(bool (*wanted)(const RendererNeeds &needs))
{
    for (const RendererBackEnd *backEnd : rendererBackEnds()) {
        if (backEnd->module && wanted(backEnd->needs))
            return *backEnd;
    }
    // A build always has the back-end that judges files and draws previews.
    Q_UNREACHABLE();
}

} // namespace

const QList<const RendererBackEnd *> &rendererBackEnds()
{
    static const QList<const RendererBackEnd *> all{&muPdfBackEnd, &popplerBackEnd};
    return all;
}

const RendererBackEnd *rendererBackEnd(RendererKind kind)
{
    for (const RendererBackEnd *backEnd : rendererBackEnds()) {
        if (backEnd->kind == kind)
            return backEnd;
    }
    return nullptr;
}

const RendererBackEnd *builtInBackEnd(RendererKind kind)
{
    const RendererBackEnd *backEnd = rendererBackEnd(kind);
    return backEnd && backEnd->module ? backEnd : nullptr;
}

const RendererBackEnd &judgingBackEnd()
{
    return firstBuiltIn([](const RendererNeeds &needs) { return needs.judgesFiles; });
}

const RendererBackEnd &previewBackEnd()
{
    return firstBuiltIn([](const RendererNeeds &needs) { return needs.drawsPreviews; });
}

qint64 largestRendererCache()
{
    qint64 largest = 0;
    for (const RendererBackEnd *backEnd : rendererBackEnds()) {
        if (backEnd->module)
            largest = qMax(largest, backEnd->cacheBytes);
    }
    return largest;
}

QString renderOptionsRefusedBy(const RendererBackEnd &backEnd, const RenderOptions &options,
                               const QList<const RendererBackEnd *> &others)
{
    const Wish wishes[] = {
        {options.box != PageBox::Crop,
         [](const RendererAbilities &can, const RenderOptions &asked) { return (can.boxes & boxBit(asked.box)) != 0; },
         QStringLiteral("--box %1").arg(pageBoxName(options.box)),
         QStringLiteral("draws %1 only").arg(boxesText(backEnd.can.boxes))},
        {options.cmyk, [](const RendererAbilities &can, const RenderOptions &) { return can.cmyk; },
         QStringLiteral("--cmyk"), QStringLiteral("draws in RGB only")},
        {!options.antialias, [](const RendererAbilities &can, const RenderOptions &) { return can.antialiasOff; },
         QStringLiteral("--no-antialias"), QStringLiteral("always anti-aliases")},
        {!options.annotations, [](const RendererAbilities &can, const RenderOptions &) { return can.annotationsOff; },
         QStringLiteral("--no-annotations"), QStringLiteral("always draws annotations")},
        {options.withoutPaper, [](const RendererAbilities &can, const RenderOptions &) { return can.alpha; },
         QStringLiteral("--transparent"), QStringLiteral("draws on white paper only")},
    };
    for (const Wish &wish : wishes) {
        if (!wish.asked || wish.able(backEnd.can, options))
            continue;
        for (const RendererBackEnd *other : others) {
            if (other != &backEnd && other->module && wish.able(other->can, options))
                return QStringLiteral("%1 needs --renderer %2: %3 %4")
                    .arg(wish.option, QLatin1String(other->name), QLatin1String(backEnd.drawer), wish.instead);
        }
        return QStringLiteral("%1 needs a renderer this build lacks: %2 %3")
            .arg(wish.option, QLatin1String(backEnd.drawer), wish.instead);
    }
    return QString();
}
