#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include "support/MediaHandles.h"
#include "support/TestMedia.h"

void TTestEngine::AddOutput(const std::string& path, const char* format, bool writeHeader) {
    AVFormatContext* output = nullptr;
    Check(LibAVFormat.avformat_alloc_output_context2(&output, nullptr, format, path.c_str()),
          "avformat_alloc_output_context2", path);
    OutputFiles[OutputFileCount++].Context.reset(output);
    if (!(output->oformat->flags & AVFMT_NOFILE))
        Check(LibAVFormat.avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), "avio_open", path);
    if (!writeHeader) return;
    AVStream* stream =
        CheckPtr(LibAVFormat.avformat_new_stream(output, nullptr), "avformat_new_stream", path);
    stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    stream->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    stream->codecpar->sample_rate = 8000;
    LibAVUtil.av_channel_layout_default(&stream->codecpar->ch_layout, 1);
    Check(LibAVFormat.avformat_write_header(output, nullptr), "avformat_write_header", path);
}

void WriteInputClip(const std::string& path) {
    TClipSpec clipSpec;
    clipSpec.videoCodec = "";
    clipSpec.audioCodec = "pcm_s16le";
    clipSpec.format = "wav";
    clipSpec.sampleRate = 8000;
    clipSpec.channels = 1;
    clipSpec.durationSeconds = 0.2;
    WriteClip(path, clipSpec);
}

void TTestEngine::AddInput(const std::string& path) {
    WriteInputClip(path);
    AVFormatContext* input = nullptr;
    Check(LibAVFormat.avformat_open_input(&input, path.c_str(), nullptr, nullptr),
          "avformat_open_input", path);
    InputFiles[InputFileCount++].Context.reset(input);
}
