#include "engine/CustomFFmpeg.h"

int TCustomFFmpeg::VideoOutput(AVFormatContext*, TOutputStreamState&, TInputStreamState&,
                               AVFrame*) {
    throw FFMpegException("Video re-encoding is not available yet");
}

void TCustomFFmpeg::WriteVideoStats(AVFormatContext*, TOutputStreamState&, int) {
    throw FFMpegException("Video statistics are not available yet");
}
