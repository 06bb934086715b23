#ifndef ENCODEROPTIONS_H
#define ENCODEROPTIONS_H

#include <QString>

#include <optional>

// How many chroma samples JPEG keeps for each luma sample: 444 all of them,
// 422 half across, 420 half across and half down (libjpeg's default).
enum class ChromaSubsampling { S444, S422, S420 };

// TIFF compression of colour and gray pages; 1-bit pages are always CCITT G4.
enum class TiffCompression { None, PackBits, Lzw, Deflate, Jpeg };

// Choices of one format that the others ignore. The defaults write the
// same bytes as before these choices existed.
struct EncoderOptions
{
    bool jpegProgressive = false;
    bool jpegOptimize = false; // Huffman tables made for the image
    ChromaSubsampling subsampling = ChromaSubsampling::S420;
    TiffCompression tiffCompression = TiffCompression::None;
};

// "444", "422", "420"; nothing for any other text.
std::optional<ChromaSubsampling> chromaSubsamplingForName(const QString &name);
// "none", "packbits", "lzw", "deflate", "jpeg"; nothing for any other text.
std::optional<TiffCompression> tiffCompressionForName(const QString &name);

#endif // ENCODEROPTIONS_H
