// Encoders that take pictures only in a device's memory (the VAAPI ones): the engine makes its
// pictures in NV12 as for any encoder, and each is copied into a frame of the device's pool
// just before it is sent. Encoders that also take ordinary pictures (NVENC, Quick Sync) copy
// them in themselves and need nothing here.
#pragma once

#include <memory>
#include <string>

#include "binding/FFmpegLibs.h"
#include "binding/LibHandles.h"

struct TBufferRefFree {
    void operator()(AVBufferRef* buffer) const { LibAVUtil.av_buffer_unref(&buffer); }
};
using TBufferRefPtr = std::unique_ptr<AVBufferRef, TBufferRefFree>;

// Whether the encoder takes device frames only (its first picture format is a device's).
bool TakesDeviceFramesOnly(const AVCodec* encoder);

// Opens the encoder's device (`device`: a VAAPI render node, empty for the driver's first) and
// a pool of its frames in the context's size and picture format, and hands the pool to the
// context with the device's picture format, as the encoder must be opened. Throws
// FFMpegException with the library's reason when the device or the pool cannot be had.
TBufferRefPtr AttachDeviceFrames(AVCodecContext* codec, const AVCodec* encoder,
                                 const std::string& device);

// A copy of `frame` (with its timing) in a frame of the pool; throws when the device refuses.
TFramePtr UploadToDevice(AVBufferRef* frames, const AVFrame* frame);
