#include "engine/CustomFFmpeg.h"

void TCustomFFmpeg::Transcode() {
    // Nothing is transcoded yet: the run ends as a job whose inputs hold nothing to read.
    Completed = !StopRequested.load();
}
