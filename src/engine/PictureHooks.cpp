// The frame-hook step between the source's and the output's picture graphs, once per decoded
// picture: the custom hook with its BGR bitmap, and the frame-hook modules switched on and off
// per picture.
#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>

#include "engine/CustomFFmpeg.h"

namespace {

// Rows of the working pictures start on this many bytes, as the scalers like them.
constexpr int kPictureAlign = 32;

// A message for the log from whatever a handler threw.
std::string CurrentExceptionText() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown exception";
    }
}

}  // namespace

bool TGrowingBuffer::Reserve(size_t bytes) {
    if (bytes <= size_) return true;
    // Contents need not survive: every user refills the buffer after growing it.
    TLibMemoryPtr<uint8_t> grown(static_cast<uint8_t*>(LibAVUtil.av_malloc(bytes)));
    if (!grown) return false;
    memory_ = std::move(grown);
    size_ = bytes;
    return true;
}

void TCustomFFmpeg::GateFrameHooks(int64_t pts) {
    if (OnBeforeHook) {
        try {
            OnBeforeHook(this, pts, HookAction);
        } catch (...) {
            Log(0, "Error occurs OnBeforeHook: %s", CurrentExceptionText().c_str());
            HookAction = haStop;
        }
        if (HookAction == haStop) FrameHooksInUse = false;
    } else if (!HookTimeRanges.empty()) {
        HookAction = haIgnore;
        const int count = static_cast<int>(HookTimeRanges.size());
        for (int i = std::max(HookRangeIndex, 0); i < count; ++i) {
            const THookTimeRange& range = HookTimeRanges[i];
            if (range.StartUs <= pts && pts <= range.EndUs) {
                HookRangeIndex = i;
                HookAction = haContinue;
                break;
            }
            if (i == count - 1 && range.EndUs < pts) {
                HookAction = haStop;
                FrameHooksInUse = false;
            }
        }
    }
}

void TCustomFFmpeg::RunCustomHook(TFrameHookPicture& picture, AVPixelFormat format, int width,
                                  int height, int64_t pts) {
    if (!HookBitmap) HookBitmap = std::make_unique<THookBitmap>();
    // A stream may change its picture size: the bitmap always has the picture's.
    if (HookBitmap->Width() != width || HookBitmap->Height() != height)
        HookBitmap->SetSize(width, height);

    bool failed = HookBitmap->Empty();
    bool stopHook = false;
    TFrameHookPicture rgb = picture;
    const bool isBGR = format == AV_PIX_FMT_BGR24;
    if (!failed && !isBGR) failed = !ConvertToHookRGB(picture, format, width, height, rgb);
    if (!failed) {
        const bool update = CallCustomHook(rgb, width, height, pts, stopHook);
        if (update && !isBGR) failed = !ConvertFromHookRGB(rgb, format, width, height, picture);
    }

    if (failed || stopHook) {
        OnCustomHook = nullptr;
        HookAction = haStop;
        FrameHooksInUse = false;
    }
}

bool TCustomFFmpeg::ConvertToHookRGB(const TFrameHookPicture& picture, AVPixelFormat format,
                                     int width, int height, TFrameHookPicture& rgb) {
    const int bytes =
        LibAVUtil.av_image_get_buffer_size(AV_PIX_FMT_BGR24, width, height, kPictureAlign);
    if (bytes < 0 || !HookRGBBuffer.Reserve(static_cast<size_t>(bytes))) {
        Log(0, "hook buf malloc error.");
        return false;
    }
    LibAVUtil.av_image_fill_arrays(rgb.data, rgb.linesize, HookRGBBuffer.Data(), AV_PIX_FMT_BGR24,
                                   width, height, kPictureAlign);
    if (ScalerConverts(format, AV_PIX_FMT_BGR24) && ScalerConverts(AV_PIX_FMT_BGR24, format))
        // The cached-context call frees the context it is given when it makes another.
        ToRGBContext.reset(LibSwScale.sws_getCachedContext(ToRGBContext.release(), width, height,
                                                           format, width, height, AV_PIX_FMT_BGR24,
                                                           SWS_BICUBIC, nullptr, nullptr, nullptr));
    else
        ToRGBContext.reset();
    if (!ToRGBContext) {
        Log(0, "Cannot initialize the toRGB conversion context");
        return false;
    }
    LibSwScale.sws_scale(ToRGBContext.get(), picture.data, picture.linesize, 0, height, rgb.data,
                         rgb.linesize);
    return true;
}

bool TCustomFFmpeg::CallCustomHook(const TFrameHookPicture& rgb, int width, int height, int64_t pts,
                                   bool& stopHook) {
    THookBitmap& bitmap = *HookBitmap;
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    bool update = true;
    std::lock_guard lock(bitmap);
    for (int y = 0; y < height; ++y)
        std::memcpy(bitmap.Row(y), rgb.data[0] + static_cast<ptrdiff_t>(y) * rgb.linesize[0],
                    rowBytes);
    try {
        OnCustomHook(this, bitmap, HookFrameNumber, pts, update, stopHook);
    } catch (...) {
        Log(0, "Error occurs OnCustomHook: %s", CurrentExceptionText().c_str());
        update = false;
    }
    if (update)
        for (int y = 0; y < height; ++y)
            std::memcpy(rgb.data[0] + static_cast<ptrdiff_t>(y) * rgb.linesize[0], bitmap.Row(y),
                        rowBytes);
    return update;
}

bool TCustomFFmpeg::ConvertFromHookRGB(const TFrameHookPicture& rgb, AVPixelFormat format,
                                       int width, int height, TFrameHookPicture& picture) {
    FromRGBContext.reset(LibSwScale.sws_getCachedContext(FromRGBContext.release(), width, height,
                                                         AV_PIX_FMT_BGR24, width, height, format,
                                                         SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!FromRGBContext) {
        Log(0, "Cannot initialize the fromRGB conversion context");
        return false;
    }
    LibSwScale.sws_scale(FromRGBContext.get(), rgb.data, rgb.linesize, 0, height, picture.data,
                         picture.linesize);
    return true;
}

void TCustomFFmpeg::PreprocessPicture(TInputStreamState& ist, AVFrame* picture) {
    ++HookFrameNumber;
    const int64_t pts = ist.Pts;
    if (!picture || !picture->data[0] || picture->width <= 0 || picture->height <= 0) return;
    const auto format = static_cast<AVPixelFormat>(picture->format);
    const int width = picture->width;
    const int height = picture->height;

    if (!OnCustomHook && FrameHooksInUse) GateFrameHooks(pts);

    TFrameHookPicture input{};
    for (int i = 0; i < 4; ++i) {
        input.data[i] = picture->data[i];
        input.linesize[i] = picture->linesize[i];
    }
    const bool hooksWork = FrameHooksInUse && HookAction == haContinue;
    if (!OnCustomHook && !hooksWork) return;
    // Hooks paint on a copy: the decoder may still refer to its own picture.
    const int bytes = LibAVUtil.av_image_get_buffer_size(format, width, height, kPictureAlign);
    if (bytes < 0 || !HookWorkBuffer.Reserve(static_cast<size_t>(bytes))) {
        Log(0, "hook buf malloc error.");
        return;
    }
    TFrameHookPicture working{};
    LibAVUtil.av_image_fill_arrays(working.data, working.linesize, HookWorkBuffer.Data(), format,
                                   width, height, kPictureAlign);
    LibAVUtil.av_image_copy(working.data, working.linesize, const_cast<const uint8_t**>(input.data),
                            input.linesize, format, width, height);

    if (OnCustomHook)
        RunCustomHook(working, format, width, height, pts);
    else if (hooksWork)
        RunFrameHooks(FrameHooks, &working, format, width, height, pts);

    for (int i = 0; i < 4; ++i) {
        picture->data[i] = working.data[i];
        picture->linesize[i] = working.linesize[i];
    }
}
