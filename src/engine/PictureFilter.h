// The libavfilter graphs a re-encoded picture goes through, in two parts with the frame-hook
// step between them:
// - the source's part (one per input stream, so that the hooks see each decoded picture once):
//   upright from the stream's display matrix, tone-mapped from HDR to BT.709 SDR for an 8-bit
//   encoder, deinterlaced;
// - the output's part (one per re-encoded video output stream): a picture whose size or format
//   changed mid-stream brought back to the one the output was set up for, then crop, scale and
//   pixel format (the scaler's flags as the job gives them), and padding in the pad colour.
// One picture in gives one picture out; the frame rate is kept by the video output, which
// drops or repeats the graph's pictures by the input's clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "binding/LibHandles.h"

// PQ (SMPTE 2084) and HLG (ARIB STD-B67) pictures: too bright and grey without tone mapping.
bool IsHdrTransfer(AVColorTransferCharacteristic transfer);
// Whether a picture format keeps more than 8 bits per component.
bool IsDeepPixelFormat(AVPixelFormat format);

// The source's part of the graph, as text; empty when nothing is to be done. `rotation` is the
// transform's filter text (StreamChoice.h); tone mapping ends in `toneMapTo` (an 8-bit YUV
// format) and BT.709 limited range. `deinterlace` blends each row with its neighbours, 1:2:1,
// the edges repeating their own row, for upright pictures `height` rows high in `format` (the
// decoder's) when the blend can take them (planar formats of 8-bit samples: DeinterlaceTakes).
std::string PictureFilterText(const std::string& rotation, bool toneMap, AVPixelFormat toneMapTo,
                              bool deinterlace = false, AVPixelFormat format = AV_PIX_FMT_NONE,
                              int height = 0);
bool DeinterlaceTakes(AVPixelFormat format);

// What an output's part of the graph makes of the source's pictures.
struct TOutputPictureShape {
    // The picture the output was set up for (after the source's part).
    int SourceWidth = 0, SourceHeight = 0;
    AVPixelFormat SourceFormat = AV_PIX_FMT_NONE;
    int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    // The encoder's picture, padding included.
    int Width = 0, Height = 0;
    AVPixelFormat Format = AV_PIX_FMT_NONE;
    int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    uint8_t PadColour[3] = {16, 128, 128};  // Y, U, V, limited-range BT.601
    // The colour as the pad filter is given it (see PadFilterColour).
    uint8_t PadRgb[3] = {0, 0, 0};
    int ScalerFlags = 0;  // SWS_* of every scaling step
    // A paletted encoder format (PAL8): the pictures are made in RGB and mapped to the colours
    // of this picture file, dithered; without one, each picture gets a palette of its own.
    std::string PaletteFile;

    bool Crops() const { return CropTop || CropBottom || CropLeft || CropRight; }
    bool Pads() const { return PadTop || PadBottom || PadLeft || PadRight; }
    // Whether the cropped picture needs the scaler to become the encoder's unpadded one.
    bool Scales() const;
};
// The format the scaler makes for an encoder's format: BGRA for PAL8 (the palette mapping
// makes the paletted picture), the format itself for the others.
AVPixelFormat ScaledFormatFor(AVPixelFormat encoderFormat);
// The output's part of the graph for a source picture of width × height in `format`, as text.
std::string OutputPictureText(const TOutputPictureShape& shape, int width, int height,
                              AVPixelFormat format);
// Limited-range BT.601 Y, U, V as the 8-bit R, G, B that stand for them.
void YuvToRgb(const uint8_t yuv[3], uint8_t rgb[3]);
// Formats whose padding is painted sample by sample, so that its Y, U, V land exactly as given:
// the YUV and grey formats the lookup filter takes as they are (asked of the library). Others
// are painted in their PaintingFormat, or padded by the pad filter with the colour
// PadFilterColour gives.
bool PaintsSamples(AVPixelFormat format);
// The format the padding of `format` is painted in: itself when PaintsSamples, the planar format
// of the same subsampling and depth for one whose chroma is interleaved or packed (the
// conversion between them only moves samples), else none (the pad filter pads it).
AVPixelFormat PaintingFormat(AVPixelFormat format);
// The R, G, B to give the pad filter for a padding of Y, U, V in `format`: for RGB formats the
// colour YuvToRgb gives; for YUV formats, which the filter converts back into, the colour near
// it that the filter turns into Y, U, V exactly, asking the filter itself (the conversion rounds,
// so the nearest colour may miss by a step). False when none nearby does; `rgb` is then the
// nearest.
bool PadFilterColour(const uint8_t yuv[3], AVPixelFormat format, uint8_t rgb[3]);

class TPictureFilter {
  public:
    // The filters for a source picture of width × height in `format`.
    using TTextFor = std::function<std::string(int width, int height, AVPixelFormat format)>;

    TPictureFilter() = default;
    TPictureFilter(const TPictureFilter&) = delete;
    TPictureFilter& operator=(const TPictureFilter&) = delete;

    // Builds the graph for pictures of the decoder's size, format and aspect in `timeBase`.
    // False leaves the libraries' reason in Error().
    bool Build(const std::string& filters, const AVCodecContext* decoder, AVRational timeBase);
    // Builds the graph for pictures of width × height in `format`; a stream that changes its
    // pictures gets a graph from `textFor` made for them. `scalerOptions` are the options of the
    // scalers the graph puts in by itself (empty: the libraries' own). `untagged`: the graph
    // sees the pictures without their colour tags, so that its scalers convert as a scaler
    // made with no more than a size, a format and flags does (BT.601, the range of the format).
    bool Build(TTextFor textFor, int width, int height, AVPixelFormat format, AVRational aspect,
               AVRational timeBase, const std::string& scalerOptions = {}, bool untagged = false);
    // The graphs built from now on fail where a filter cannot take the format it is given,
    // instead of converting to one it can.
    void KeepFormats() { keepFormats_ = true; }
    // The picture the graph makes of `picture`; it stays the filter's until the next call.
    // Nullptr with Error() when the graph fails, with an empty Error() when it holds the picture
    // back for now.
    AVFrame* Apply(const AVFrame* picture);
    // The end of the pictures: the next picture the graph still holds (a filter that makes its
    // picture from all the others, such as palettegen), as Apply gives it; nullptr with an empty
    // Error() when none is left.
    AVFrame* Finish();

    int Width() const { return width_; }
    int Height() const { return height_; }
    AVPixelFormat Format() const { return format_; }
    // The filters of the graph as built last.
    const std::string& Text() const { return filters_; }
    const std::string& Error() const { return error_; }

  private:
    bool BuildFor(int width, int height, AVPixelFormat format, AVRational aspect);
    bool Connect();
    void Free();
    bool Fail(const char* call, int code);

    TTextFor textFor_;
    std::string filters_;
    std::string scalerOptions_;
    bool untagged_ = false;
    bool keepFormats_ = false;
    int64_t picturesIn_ = 0;
    bool finished_ = false;  // the graph was told that no picture follows
    AVRational timeBase_{1, AV_TIME_BASE};
    // What the source was made for: a stream that changes its pictures gets a new graph.
    int sourceWidth_ = 0, sourceHeight_ = 0;
    AVPixelFormat sourceFormat_ = AV_PIX_FMT_NONE;

    TFilterGraphPtr graph_;  // the contexts below belong to it
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    TFramePtr input_;  // the picture as the graph is given it: a reference, colour tags cleared
    TFramePtr output_;
    int width_ = 0, height_ = 0;
    AVPixelFormat format_ = AV_PIX_FMT_NONE;
    std::string error_;
};
