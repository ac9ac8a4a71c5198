#include "engine/CustomFFmpeg.h"

void TCustomFFmpeg::PreprocessPicture(TInputStreamState&, AVFrame*) {
    throw FFMpegException("Picture pre-processing is not available yet");
}
