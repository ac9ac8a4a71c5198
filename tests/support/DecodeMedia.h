// Decoding for tests that look at pixels or samples, through the bound libraries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One decoded picture in YUV420P, planes packed without padding: y is width*height bytes,
// u and v are ((width+1)/2)*((height+1)/2) bytes each.
struct TDecodedFrame {
    int width = 0, height = 0;
    std::vector<uint8_t> y, u, v;
    double seconds = -1;  // presentation time from the stream's start; -1: unknown
};

// Interleaved float samples, full scale +-1.
struct TDecodedAudio {
    int sampleRate = 0, channels = 0;
    std::vector<float> samples;
    double Seconds() const {
        return channels && sampleRate ? double(samples.size()) / channels / sampleRate : 0;
    }
};

// Decodes up to maxFrames pictures of the first video stream (all when maxFrames < 0).
// Throws std::runtime_error naming the failed call and the file.
std::vector<TDecodedFrame> DecodeVideoFrames(const std::string& path, int maxFrames = -1);

// Decodes the whole first audio stream. Throws std::runtime_error like DecodeVideoFrames.
TDecodedAudio DecodeAudioSamples(const std::string& path);

// The frame number (modulo 10000) WriteClip burned into a picture, or -1 when it cannot be read.
// The digits sit on a grid that scales with the picture: they read reliably after lossy coding
// down to about 4x4 pixels a cell, e.g. a 320x240 clip scaled to half size.
int ReadFrameNumber(const TDecodedFrame& frame);

// The tone's frequency in Hz over [startSeconds, startSeconds + lengthSeconds) of the first
// channel, from its zero crossings; 0 when the span is silent or out of range.
double MeasureToneFrequency(const TDecodedAudio& audio, double startSeconds, double lengthSeconds);
