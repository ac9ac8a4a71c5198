// A filter graph that turns each decoded picture of one input stream into the picture the
// outputs take: upright (from the stream's display matrix) and, for an 8-bit encoder, tone-mapped
// from HDR to BT.709 SDR. One picture in gives one picture out.
#pragma once

#include <memory>
#include <string>

#include "binding/LibHandles.h"

// PQ (SMPTE 2084) and HLG (ARIB STD-B67) pictures: too bright and grey without tone mapping.
bool IsHdrTransfer(AVColorTransferCharacteristic transfer);
// Whether a picture format keeps more than 8 bits per component.
bool IsDeepPixelFormat(AVPixelFormat format);

// The filters between the decoder and the outputs, as text; empty when nothing is to be done.
// `rotation` is the transform's filter text (StreamChoice.h); tone mapping ends in `toneMapTo`
// (an 8-bit YUV format) and BT.709 limited range.
std::string PictureFilterText(const std::string& rotation, bool toneMap, AVPixelFormat toneMapTo);

class TPictureFilter {
  public:
    TPictureFilter() = default;
    TPictureFilter(const TPictureFilter&) = delete;
    TPictureFilter& operator=(const TPictureFilter&) = delete;

    // Builds the graph for pictures of the decoder's size, format and aspect in `timeBase`.
    // False leaves the libraries' reason in Error().
    bool Build(const std::string& filters, const AVCodecContext* decoder, AVRational timeBase);
    // The picture the graph makes of `picture`; it stays the filter's until the next call.
    // Nullptr with Error() when the graph fails, with an empty Error() when it holds the picture
    // back for now.
    AVFrame* Apply(const AVFrame* picture);

    int Width() const { return width_; }
    int Height() const { return height_; }
    AVPixelFormat Format() const { return format_; }
    const std::string& Error() const { return error_; }

  private:
    bool BuildFor(int width, int height, AVPixelFormat format, AVRational aspect);
    void Free();
    bool Fail(const char* call, int code);

    std::string filters_;
    AVRational timeBase_{1, AV_TIME_BASE};
    // What the source was made for: a stream that changes its pictures gets a new graph.
    int sourceWidth_ = 0, sourceHeight_ = 0;
    AVPixelFormat sourceFormat_ = AV_PIX_FMT_NONE;

    TFilterGraphPtr graph_;  // the contexts below belong to it
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    TFramePtr output_;
    int width_ = 0, height_ = 0;
    AVPixelFormat format_ = AV_PIX_FMT_NONE;
    std::string error_;
};
