#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include "support/MediaHandles.h"
#include "support/TestMedia.h"

void TEventRecorder::Attach(TCustomFFmpeg& engine) {
    engine.OnLog = [this](TCustomFFmpeg*, int level, const std::string& text) {
        std::lock_guard lock(mutex_);
        logs_.push_back({level, text});
    };
    engine.OnTerminate = [this](TCustomFFmpeg* sender) {
        std::lock_guard lock(mutex_);
        ++terminates_;
        terminateThread_ = gettid();
        completed_ = sender->IsCompleted();
        error_ = sender->HasError();
        message_ = sender->ErrorMessage();
        changed_.notify_all();
    };
}

int TEventRecorder::TerminateCount() const {
    std::lock_guard lock(mutex_);
    return terminates_;
}

pid_t TEventRecorder::TerminateThread() const {
    std::lock_guard lock(mutex_);
    return terminateThread_;
}

bool TEventRecorder::CompletedAtTerminate() const {
    std::lock_guard lock(mutex_);
    return completed_;
}

bool TEventRecorder::ErrorAtTerminate() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::string TEventRecorder::MessageAtTerminate() const {
    std::lock_guard lock(mutex_);
    return message_;
}

std::vector<TLogLine> TEventRecorder::Logs() const {
    std::lock_guard lock(mutex_);
    return logs_;
}

bool TEventRecorder::WaitForTerminates(int n) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [&] { return terminates_ >= n; });
}

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

void TTestEngine::AddInput(const std::string& path) {
    TClipSpec clipSpec;
    clipSpec.videoCodec = "";
    clipSpec.audioCodec = "pcm_s16le";
    clipSpec.format = "wav";
    clipSpec.sampleRate = 8000;
    clipSpec.channels = 1;
    clipSpec.durationSeconds = 0.2;
    WriteClip(path, clipSpec);
    AVFormatContext* input = nullptr;
    Check(LibAVFormat.avformat_open_input(&input, path.c_str(), nullptr, nullptr),
          "avformat_open_input", path);
    InputFiles[InputFileCount++].Context.reset(input);
}

bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
