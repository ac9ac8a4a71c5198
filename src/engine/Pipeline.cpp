// The pipelined run: the stages' and the writer's loops, and the job's thread's side of them.
#include "engine/Pipeline.h"

#include <unistd.h>

#include "binding/FFmpegLibs.h"
#include "engine/EngineTypes.h"

namespace {

// Short queues keep memory flat: a few decoded pictures wait for a video output, more of the
// small audio blocks; the writer may fall behind by some deliveries.
constexpr size_t kPictureJobs = 4;
constexpr size_t kSampleJobs = 16;
constexpr size_t kBatches = 16;
constexpr size_t kWriteSteps = 64;

// A reference to the picture when its data is the frame's own, else a copy: pre-processing
// points a picture at a work buffer that the next picture overwrites.
TFramePtr KeepPicture(const AVFrame* picture) {
    TFramePtr kept(LibAVUtil.av_frame_alloc());
    if (!kept) throw FFMpegException("av_frame_alloc failed: out of memory");
    const AVBufferRef* buffer = picture->buf[0];
    const bool ownData = buffer && picture->data[0] >= buffer->data &&
                         picture->data[0] < buffer->data + buffer->size;
    if (ownData) {
        if (LibAVUtil.av_frame_ref(kept.get(), picture) < 0)
            throw FFMpegException("av_frame_ref failed: out of memory");
        return kept;
    }
    kept->format = picture->format;
    kept->width = picture->width;
    kept->height = picture->height;
    if (LibAVUtil.av_frame_get_buffer(kept.get(), 0) < 0 ||
        LibAVUtil.av_frame_copy(kept.get(), picture) < 0 ||
        LibAVUtil.av_frame_copy_props(kept.get(), picture) < 0)
        throw FFMpegException("av_frame_get_buffer failed: out of memory");
    return kept;
}

// While it lives, the output's encoded packets go into `packets` instead of to the muxer.
struct TCollecting {
    TOutputStreamState& ost;
    TCollecting(TOutputStreamState& output, std::vector<TPacketPtr>& packets) : ost(output) {
        ost.Batch = &packets;
    }
    ~TCollecting() { ost.Batch = nullptr; }
    TCollecting(const TCollecting&) = delete;
    TCollecting& operator=(const TCollecting&) = delete;
};

}  // namespace

TPipelinedRun::TPipelinedRun(TJobStages& stages, const TRunPhaseSource& job)
    : stages_(stages), job_(job), steps_(kWriteSteps), jobThread_(std::this_thread::get_id()) {
    const TRunState& run = stages_.Records();
    const auto& outputs = run.OutputStreams;
    outputStages_.resize(outputs.size());
    for (size_t n = 0; n < outputs.size(); ++n) {
        TOutputStreamState& ost = *outputs[n];
        if (!ost.EncodingNeeded) continue;
        const AVMediaType type = ost.Encoder->codec_type;
        if (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_VIDEO) continue;
        auto stage = std::make_unique<TStage>(
            type == AVMEDIA_TYPE_VIDEO ? kPictureJobs : kSampleJobs, kBatches);
        TInputStreamState& source = *run.InputStreams[ost.SourceIndex];
        stage->Output = &ost;
        stage->Sync = ost.SyncStream ? ost.SyncStream : &source;
        stage->Clock.FileIndex = source.FileIndex;
        stage->Clock.StreamIndex = source.StreamIndex;
        stage->Clock.Stream = source.Stream;
        stage->Clock.IsStart = source.IsStart;
        // The output keeps in step with the clock its jobs bring.
        ost.SyncStream = &stage->Clock;
        outputStages_[n] = std::move(stage);
    }
}

TPipelinedRun::~TPipelinedRun() {
    AbortAll();
    JoinAll();
    // After a failure: what the threads logged before it still reaches the job's events.
    try {
        RaiseDeferredEvents();
    } catch (...) {
    }
    for (const auto& stage : outputStages_)
        if (stage) {
            stage->Output->SyncStream = stage->Sync;
            stage->Output->Batch = nullptr;
        }
}

void TPipelinedRun::Start() {
    for (const auto& stage : outputStages_)
        if (stage)
            stage->Thread =
                std::thread([this, &stage = *stage] { AsEngineThread([&] { RunStage(stage); }); });
    writer_ = std::thread([this] { AsEngineThread([this] { RunWriter(); }); });
}

// ---- The job's thread.

int TPipelinedRun::NextInputFile() {
    return stages_.Records().InputFiles[0].EofReached ? -1 : 0;
}

void TPipelinedRun::Deliver(TInputStreamState& ist, int istIndex, const AVPacket* packet,
                            uint8_t* samples, int samplesSize, AVFrame* picture,
                            AVSubtitle* subtitle) {
    const auto& outputs = stages_.Records().OutputStreams;
    TWriteStep step;
    for (size_t n = 0; n < outputs.size(); ++n) {
        TOutputStreamState& ost = *outputs[n];
        if (ost.SourceIndex != istIndex) continue;
        TWriteItem item;
        item.Output = static_cast<int32_t>(n);
        if (outputStages_[n]) {
            const bool audio = ost.Encoder->codec_type == AVMEDIA_TYPE_AUDIO;
            if (audio ? !samples || samplesSize <= 0 : !picture) continue;
            if (!outputStages_[n]->Jobs.Push(
                    JobFor(*outputStages_[n], ist, samples, samplesSize, picture)))
                ThrowFailure();
        } else if (ost.EncodingNeeded) {
            if (ost.Encoder->codec_type != AVMEDIA_TYPE_SUBTITLE)
                throw FFMpegException("invalid codec_type");
            if (!subtitle) continue;
            item.Kind = TWriteItem::kSubtitle;
            const TCollecting collecting(ost, item.Packets);
            stages_.EncodeSubtitle(ost, ist, subtitle, packet ? packet->pts : AV_NOPTS_VALUE);
        } else {
            if (!packet) continue;
            item.Kind = TWriteItem::kCopy;
            item.Copied.reset(LibAVCodec.av_packet_alloc());
            if (!item.Copied || LibAVCodec.av_packet_ref(item.Copied.get(), packet) < 0)
                throw FFMpegException("av_packet_ref failed: out of memory");
            item.SourceTimeBase = ist.Stream->time_base;
            item.SourcePts = ist.Pts;
        }
        step.push_back(std::move(item));
    }
    if (!step.empty() && !steps_.Push(std::move(step))) ThrowFailure();
}

TStageJob TPipelinedRun::JobFor(const TStage& stage, const TInputStreamState& ist,
                                const uint8_t* samples, int samplesSize, const AVFrame* picture) {
    TStageJob job;
    if (picture) {
        job.Kind = TStageJob::kPicture;
        job.Picture = KeepPicture(picture);
    } else {
        job.Kind = TStageJob::kSamples;
        job.Samples.assign(samples, samples + samplesSize);
    }
    job.SyncPts = stage.Sync->Pts;
    job.SyncNextPts = stage.Sync->NextPts;
    job.Quality = ist.Quality;
    job.SampleChannels = ist.SampleChannels;
    job.SampleRate = ist.SampleRate;
    job.Phase = job_.Phase();
    return job;
}

void TPipelinedRun::Drain(int istIndex) {
    TWriteStep step;
    for (size_t n = 0; n < outputStages_.size(); ++n) {
        if (!outputStages_[n] || outputStages_[n]->Output->SourceIndex != istIndex) continue;
        if (!outputStages_[n]->Jobs.Push(TStageJob{})) ThrowFailure();
        TWriteItem item;
        item.Output = static_cast<int32_t>(n);
        step.push_back(std::move(item));
    }
    if (!step.empty() && !steps_.Push(std::move(step))) ThrowFailure();
}

void TPipelinedRun::Finish() {
    for (const auto& stage : outputStages_)
        if (stage) stage->Jobs.Close();
    steps_.Close();
    JoinAll();
    RaiseDeferredEvents();
    std::lock_guard lock(mutex_);
    if (failure_) std::rethrow_exception(failure_);
}

void TPipelinedRun::ThrowFailure() {
    // A queue refuses only once the run was ended, by a failure or by the destructor.
    std::exception_ptr failure;
    {
        std::lock_guard lock(mutex_);
        failure = failure_;
    }
    if (failure) std::rethrow_exception(failure);
    throw FFMpegException("The conversion's threads ended early");
}

void TPipelinedRun::PacketDone() {
    RaiseDeferredEvents();
}

void TPipelinedRun::Raise(std::function<void()> event) {
    if (std::this_thread::get_id() == jobThread_) {
        event();
        return;
    }
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
}

void TPipelinedRun::Write(AVFormatContext*, TOutputStreamState& ost, AVPacket* packet,
                          bool encoder) {
    if (!ost.Batch) {
        // Outside the stages' jobs (none today): written at once.
        if (encoder)
            stages_.WriteEncoded(ost, packet);
        else
            stages_.WriteAsIs(ost, packet);
        return;
    }
    TPacketPtr kept(LibAVCodec.av_packet_alloc());
    // A packet that owns no buffer (a subtitle's) has its data copied.
    if (!kept || LibAVCodec.av_packet_ref(kept.get(), packet) < 0)
        throw FFMpegException("av_packet_ref failed: out of memory");
    ost.Batch->push_back(std::move(kept));
}

int32_t TPipelinedRun::FramesWritten(const TOutputStreamState& ost) const {
    return ost.EncodingNeeded ? ost.WrittenFrameNumber : ost.FrameNumber;
}

void TPipelinedRun::RaiseDeferredEvents() {
    std::vector<std::function<void()>> events;
    {
        std::lock_guard lock(mutex_);
        events.swap(events_);
    }
    for (const auto& event : events) event();
}

// ---- The stages.

void TPipelinedRun::RunStage(TStage& stage) {
    try {
        TStageJob job;
        while (stage.Jobs.Pop(job)) {
            TStageBatch batch;
            {
                const TCollecting collecting(*stage.Output, batch.Packets);
                WorkOn(stage, job);
            }
            batch.FrameNumber = stage.Output->FrameNumber;
            job = TStageJob{};  // the picture goes back to the decoder now
            if (!stage.Batches.Push(std::move(batch))) return;
        }
    } catch (...) {
        Fail(std::current_exception());
    }
}

void TPipelinedRun::WorkOn(TStage& stage, TStageJob& job) {
    TOutputStreamState& ost = *stage.Output;
    stage.Clock.Pts = job.SyncPts;
    stage.Clock.NextPts = job.SyncNextPts;
    stage.Clock.Quality = job.Quality;
    stage.Clock.SampleChannels = job.SampleChannels;
    stage.Clock.SampleRate = job.SampleRate;
    const TKeptPhase handedOn(job.Phase);
    switch (job.Kind) {
        case TStageJob::kPicture:
            stages_.EncodePicture(ost, stage.Clock, job.Picture.get(), handedOn);
            break;
        case TStageJob::kSamples:
            stages_.EncodeSamples(ost, stage.Clock, job.Samples.data(),
                                  static_cast<int>(job.Samples.size()));
            break;
        case TStageJob::kDrain:
            stages_.DrainOutput(ost);
            break;
    }
}

// ---- The writer.

void TPipelinedRun::RunWriter() {
    try {
        TWriteStep step;
        while (steps_.Pop(step)) {
            for (TWriteItem& item : step)
                if (!Write(item)) return;
            step.clear();
            stages_.ReportProgressAtInterval();
        }
    } catch (...) {
        Fail(std::current_exception());
    }
}

bool TPipelinedRun::Write(TWriteItem& item) {
    TOutputStreamState& ost = *stages_.Records().OutputStreams[item.Output];
    switch (item.Kind) {
        case TWriteItem::kFromStage: {
            TStageBatch batch;
            if (!outputStages_[item.Output]->Batches.Pop(batch)) return false;
            for (const TPacketPtr& packet : batch.Packets) stages_.WriteEncoded(ost, packet.get());
            ost.WrittenFrameNumber = batch.FrameNumber;
            break;
        }
        case TWriteItem::kCopy:
            stages_.WriteCopied(ost, item.SourceTimeBase, item.SourcePts, item.Copied.get());
            break;
        case TWriteItem::kSubtitle:
            for (const TPacketPtr& packet : item.Packets) stages_.WriteAsIs(ost, packet.get());
            break;
    }
    return true;
}

// ---- Ending.

void TPipelinedRun::Fail(std::exception_ptr failure) {
    {
        std::lock_guard lock(mutex_);
        if (!failure_) failure_ = std::move(failure);
    }
    AbortAll();
}

void TPipelinedRun::AbortAll() {
    for (const auto& stage : outputStages_)
        if (stage) {
            stage->Jobs.Abort();
            stage->Batches.Abort();
        }
    steps_.Abort();
}

void TPipelinedRun::JoinAll() {
    for (const auto& stage : outputStages_)
        if (stage && stage->Thread.joinable()) stage->Thread.join();
    if (writer_.joinable()) writer_.join();
}

void TPipelinedRun::AsEngineThread(const std::function<void()>& body) {
    const pid_t id = gettid();
    stages_.NoteRunThread(id, true);
    body();
    stages_.NoteRunThread(id, false);
}
