#include "engine/CustomFFmpeg.h"

void TCustomFFmpeg::AudioOutput(AVFormatContext*, TOutputStreamState&, TInputStreamState&, uint8_t*,
                                int) {
    throw FFMpegException("Audio re-encoding is not available yet");
}

void TCustomFFmpeg::FlushAudioOutput(AVFormatContext*, TOutputStreamState&) {
    throw FFMpegException("Audio re-encoding is not available yet");
}
