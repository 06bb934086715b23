#include "engine/image/jpegencoder.h"

#include <QIODevice>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

static_assert(jpegMaxSide == JPEG_MAX_DIMENSION, "the format table gives JPEG libjpeg's limit");

namespace {

constexpr size_t outputBufferSize = 256 * 1024;

} // namespace

// libjpeg reports errors by a jump out of the failing call (its documented
// way); everything the jump passes over is plain data, so nothing is leaked.
struct JpegEncoder::State
{
    jpeg_compress_struct cinfo{};
    struct Error
    {
        jpeg_error_mgr manager;
        std::jmp_buf jump;
        char message[JMSG_LENGTH_MAX];
    } error{};
    jpeg_destination_mgr destination{};
    std::vector<JOCTET> buffer = std::vector<JOCTET>(outputBufferSize);
    QIODevice *device = nullptr;
    std::vector<JSAMPLE> inverted; // CMYK rows as Adobe's files hold them
    bool created = false;
    bool writeFailed = false;

    static State *of(j_compress_ptr cinfo) { return static_cast<State *>(cinfo->client_data); }

    static void onError(j_common_ptr cinfo)
    {
        auto *error = reinterpret_cast<Error *>(cinfo->err);
        (*cinfo->err->format_message)(cinfo, error->message);
        std::longjmp(error->jump, 1);
    }

    static void onMessage(j_common_ptr, int) {}

    void flush(size_t bytes)
    {
        if (!writeFailed && device->write(reinterpret_cast<const char *>(buffer.data()), qint64(bytes)) != qint64(bytes))
            writeFailed = true;
    }

    static void initDestination(j_compress_ptr cinfo)
    {
        State *state = of(cinfo);
        state->destination.next_output_byte = state->buffer.data();
        state->destination.free_in_buffer = state->buffer.size();
    }

    static boolean emptyBuffer(j_compress_ptr cinfo)
    {
        State *state = of(cinfo);
        state->flush(state->buffer.size());
        initDestination(cinfo);
        return TRUE;
    }

    static void termDestination(j_compress_ptr cinfo)
    {
        State *state = of(cinfo);
        state->flush(state->buffer.size() - state->destination.free_in_buffer);
    }
};

JpegEncoder::JpegEncoder()
    : state(std::make_unique<State>())
{
}

JpegEncoder::~JpegEncoder()
{
    if (state->created)
        jpeg_destroy_compress(&state->cinfo);
}

bool JpegEncoder::begin(QIODevice *device, const EncodeSettings &settings)
{
    State &s = *state;
    s.device = device;
    jpeg_compress_struct &cinfo = s.cinfo;
    cinfo.err = jpeg_std_error(&s.error.manager);
    s.error.manager.error_exit = State::onError;
    s.error.manager.emit_message = State::onMessage;
    if (setjmp(s.error.jump)) {
        error = QString::fromLatin1(s.error.message);
        return false;
    }
    jpeg_create_compress(&cinfo);
    s.created = true;
    cinfo.client_data = &s;
    s.destination.init_destination = State::initDestination;
    s.destination.empty_output_buffer = State::emptyBuffer;
    s.destination.term_destination = State::termDestination;
    cinfo.dest = &s.destination;

    cinfo.image_width = JDIMENSION(settings.width);
    cinfo.image_height = JDIMENSION(settings.height);
    mode = settings.mode;
    layout = settings.layout;
    width = settings.width;
    // libjpeg reads each of the row layouts itself, with its own fast
    // conversion to YCbCr or gray.
    switch (layout) {
    case PixelLayout::Pixels32:
        cinfo.input_components = 4;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        cinfo.in_color_space = JCS_EXT_BGRX;
#else
        cinfo.in_color_space = JCS_EXT_XRGB;
#endif
        break;
    case PixelLayout::Rgb24:
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        break;
    case PixelLayout::Bgr24:
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        break;
    case PixelLayout::Gray8:
        cinfo.input_components = 1;
        cinfo.in_color_space = JCS_GRAYSCALE;
        break;
    }
    const bool cmyk = mode == PixelMode::Cmyk;
    if (cmyk) {
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_CMYK;
    }
    jpeg_set_defaults(&cinfo);
    // CMYK is stored as it is, all four at full resolution, behind Adobe's
    // marker (which libjpeg writes for it); readers take such files to
    // hold inverted values, as Adobe's programs write them.
    if (cmyk) {
        jpeg_set_colorspace(&cinfo, JCS_CMYK);
        s.inverted.resize(size_t(width) * 4);
    }
    // Gray files are made by libjpeg from the same rows, with its own fast conversion.
    if (mode == PixelMode::Gray)
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    jpeg_set_quality(&cinfo, settings.quality, TRUE);
    if (mode != PixelMode::Gray && !cmyk) {
        const ChromaSubsampling sampling = settings.options.subsampling;
        cinfo.comp_info[0].h_samp_factor = sampling == ChromaSubsampling::S444 ? 1 : 2;
        cinfo.comp_info[0].v_samp_factor = sampling == ChromaSubsampling::S420 ? 2 : 1;
    }
    cinfo.optimize_coding = settings.options.jpegOptimize ? TRUE : FALSE;
    if (settings.options.jpegProgressive)
        jpeg_simple_progression(&cinfo);
    // JFIF is for gray and YCbCr only, so a CMYK file has no density.
    cinfo.write_JFIF_header = cmyk ? FALSE : TRUE;
    cinfo.density_unit = 1; // dots per inch
    cinfo.X_density = UINT16(qBound(1, qRound(settings.resolution), 65535));
    cinfo.Y_density = cinfo.X_density;
    jpeg_start_compress(&cinfo, TRUE);
    return true;
}

qint64 JpegEncoder::bytesHeld(const EncodeSettings &settings) const
{
    if (!settings.options.jpegProgressive && !settings.options.jpegOptimize)
        return 0;
    // One 2-byte coefficient a sample, in blocks padded to whole MCUs of 16 x 16.
    const qint64 lumaSamples = qint64((settings.width + 15) / 16 * 16) * ((settings.height + 15) / 16 * 16);
    if (settings.mode == PixelMode::Gray)
        return 2 * lumaSamples;
    if (settings.mode == PixelMode::Cmyk)
        return 2 * 4 * lumaSamples;
    const int chromaDivisor = settings.options.subsampling == ChromaSubsampling::S444   ? 1
                              : settings.options.subsampling == ChromaSubsampling::S422 ? 2
                                                                                        : 4;
    return 2 * (lumaSamples + 2 * lumaSamples / chromaDivisor);
}

bool JpegEncoder::writeRows(const uchar *rows, qsizetype bytesPerLine, int count)
{
    State &s = *state;
    if (setjmp(s.error.jump)) {
        error = QString::fromLatin1(s.error.message);
        return false;
    }
    JSAMPROW pointers[64];
    for (int done = 0; done < count;) {
        const int n = qMin(count - done, 64);
        if (mode == PixelMode::Cmyk) {
            const uchar *row = rows + done * bytesPerLine;
            for (size_t x = 0; x < s.inverted.size(); ++x)
                s.inverted[x] = JSAMPLE(255 - row[x]);
            pointers[0] = s.inverted.data();
            jpeg_write_scanlines(&s.cinfo, pointers, 1);
            ++done;
            continue;
        }
        for (int i = 0; i < n; ++i)
            pointers[i] = const_cast<JSAMPROW>(rows + (done + i) * bytesPerLine);
        jpeg_write_scanlines(&s.cinfo, pointers, JDIMENSION(n));
        done += n;
    }
    if (s.writeFailed) {
        error = s.device->errorString();
        return false;
    }
    return true;
}

bool JpegEncoder::finish()
{
    State &s = *state;
    if (setjmp(s.error.jump)) {
        error = QString::fromLatin1(s.error.message);
        return false;
    }
    jpeg_finish_compress(&s.cinfo);
    if (s.writeFailed) {
        error = s.device->errorString();
        return false;
    }
    return true;
}
