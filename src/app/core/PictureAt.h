// One picture of a video stream at a position, decoded: what the black-bar search samples and
// thumbnails show.
#pragma once

#include "binding/FFmpegLibs.h"

// Decodes the first picture at or after `seconds` (from the stream's start) into `frame`, after
// one seek to the key frame before it; false at the end or on failure.
bool PictureAt(AVFormatContext* file, AVCodecContext* decoder, int stream, double seconds,
               AVFrame* frame);
