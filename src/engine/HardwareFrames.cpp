#include "engine/HardwareFrames.h"

#include "engine/EngineTypes.h"

namespace {
std::string Failure(const std::string& what, int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    LibAVUtil.av_strerror(error, text, sizeof text);
    return what + ": " + text;
}
}  // namespace

bool TakesDeviceFramesOnly(const AVCodec* encoder) {
    if (!encoder || !encoder->pix_fmts || encoder->pix_fmts[0] == AV_PIX_FMT_NONE) return false;
    const AVPixFmtDescriptor* descriptor = LibAVUtil.av_pix_fmt_desc_get(encoder->pix_fmts[0]);
    return descriptor && (descriptor->flags & AV_PIX_FMT_FLAG_HWACCEL);
}

TBufferRefPtr AttachDeviceFrames(AVCodecContext* codec, const AVCodec* encoder,
                                 const std::string& device) {
    const AVPixelFormat deviceFormat = encoder->pix_fmts[0];
    if (deviceFormat != AV_PIX_FMT_VAAPI)
        throw FFMpegException(std::string(encoder->name) + ": no device of its kind is known");
    AVBufferRef* opened = nullptr;
    int error = LibAVUtil.av_hwdevice_ctx_create(
        &opened, AV_HWDEVICE_TYPE_VAAPI, device.empty() ? nullptr : device.c_str(), nullptr, 0);
    if (error < 0)
        throw FFMpegException(Failure("the VAAPI device " +
                                          (device.empty() ? std::string("(the first)") : device) +
                                          " did not open",
                                      error));
    TBufferRefPtr deviceRef(opened);
    TBufferRefPtr frames(LibAVUtil.av_hwframe_ctx_alloc(deviceRef.get()));
    if (!frames) throw FFMpegException("av_hwframe_ctx_alloc fail");
    auto* pool = reinterpret_cast<AVHWFramesContext*>(frames->data);
    pool->format = deviceFormat;
    pool->sw_format = codec->pix_fmt;
    pool->width = codec->width;
    pool->height = codec->height;
    if ((error = LibAVUtil.av_hwframe_ctx_init(frames.get())) < 0)
        throw FFMpegException(Failure("the device refused a frame pool", error));
    codec->hw_frames_ctx = LibAVUtil.av_buffer_ref(frames.get());
    if (!codec->hw_frames_ctx) throw FFMpegException("av_buffer_ref fail");
    codec->pix_fmt = deviceFormat;
    return frames;
}

TFramePtr UploadToDevice(AVBufferRef* frames, const AVFrame* frame) {
    TFramePtr copy(LibAVUtil.av_frame_alloc());
    if (!copy) throw FFMpegException("av_frame_alloc fail");
    int error = LibAVUtil.av_hwframe_get_buffer(frames, copy.get(), 0);
    if (error >= 0) error = LibAVUtil.av_hwframe_transfer_data(copy.get(), frame, 0);
    if (error >= 0) error = LibAVUtil.av_frame_copy_props(copy.get(), frame);
    if (error < 0)
        throw FFMpegException(Failure("a picture could not be sent to the device", error));
    return copy;
}
