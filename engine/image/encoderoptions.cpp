#include "engine/image/encoderoptions.h"

std::optional<ChromaSubsampling> chromaSubsamplingForName(const QString &name)
{
    if (name == QLatin1String("444"))
        return ChromaSubsampling::S444;
    if (name == QLatin1String("422"))
        return ChromaSubsampling::S422;
    if (name == QLatin1String("420"))
        return ChromaSubsampling::S420;
    return std::nullopt;
}

std::optional<TiffCompression> tiffCompressionForName(const QString &name)
{
    if (name == QLatin1String("none"))
        return TiffCompression::None;
    if (name == QLatin1String("packbits"))
        return TiffCompression::PackBits;
    if (name == QLatin1String("lzw"))
        return TiffCompression::Lzw;
    if (name == QLatin1String("deflate"))
        return TiffCompression::Deflate;
    if (name == QLatin1String("jpeg"))
        return TiffCompression::Jpeg;
    return std::nullopt;
}
