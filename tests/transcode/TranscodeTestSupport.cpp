#include "TranscodeTestSupport.h"

#include <algorithm>
#include <fstream>

TTranscodeEngine::TTranscodeEngine(bool pipeline) : pipeline_(pipeline) {
    // Fixtures make their engine before their SetUp runs: load the libraries here, or Reset
    // would find none and leave the option templates out.
    RequireMediaLibraries();
    Reset();
    recorder_.Attach(*this);
}

void TTranscodeEngine::SetUpOnly() {
    try {
        SetUpTranscode();
    } catch (...) {
        FreeRunState();
        throw;
    }
}

void TTranscodeEngine::Apply(const std::vector<std::pair<std::string, std::string>>& options) {
    for (const auto& [name, value] : options) ParseOption(name, value);
}

bool TTranscodeEngine::RunToEnd() {
    Start(false, tpNormal);
    return IsCompleted() && !HasError();
}

TClipCache& TClipCache::Instance() {
    static TClipCache cache;
    return cache;
}

std::string TClipCache::Clip(const std::string& name, const TClipSpec& clipSpec) {
    RequireMediaLibraries();
    std::lock_guard lock(mutex_);
    const std::string path = dir_.File(name);
    if (std::find(made_.begin(), made_.end(), name) == made_.end()) {
        WriteClip(path, clipSpec);
        made_.push_back(name);
    }
    return path;
}

std::string Mp4Clip() {
    return TClipCache::Instance().Clip("clip.mp4", TClipSpec{});
}

std::string MpegPsClip() {
    TClipSpec clipSpec;
    clipSpec.videoCodec = "mpeg2video";
    clipSpec.audioCodec = "mp2";
    clipSpec.format = "vob";
    clipSpec.sampleRate = 48000;
    return TClipCache::Instance().Clip("clip.mpg", clipSpec);
}

std::string MpegTsClip() {
    TClipSpec clipSpec;
    clipSpec.videoCodec = "mpeg2video";
    clipSpec.audioCodec = "mp2";
    clipSpec.durationSeconds = 1.0;
    return TClipCache::Instance().Clip("clip.ts", clipSpec);
}

std::string MpegTsAudioClip() {
    TClipSpec clipSpec;
    clipSpec.videoCodec = "";
    clipSpec.audioCodec = "mp2";
    clipSpec.durationSeconds = 1.0;
    return TClipCache::Instance().Clip("audio.ts", clipSpec);
}

std::string WavClip(double seconds, int sampleRate) {
    TClipSpec clipSpec;
    clipSpec.videoCodec = "";
    clipSpec.audioCodec = "pcm_s16le";
    clipSpec.sampleRate = sampleRate;
    clipSpec.channels = 1;
    clipSpec.durationSeconds = seconds;
    return TClipCache::Instance().Clip(
        "tone-" + std::to_string(int(seconds * 1000)) + "-" + std::to_string(sampleRate) + ".wav",
        clipSpec);
}

std::string FileHead(const std::string& path, size_t bytes) {
    std::ifstream file(path, std::ios::binary);
    std::string head(bytes, '\0');
    file.read(head.data(), static_cast<std::streamsize>(bytes));
    head.resize(static_cast<size_t>(file.gcount()));
    return head;
}
