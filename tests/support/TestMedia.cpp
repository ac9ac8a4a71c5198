#include "support/TestMedia.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <vector>

#include "support/ClipPattern.h"
#include "support/MediaHandles.h"

namespace {

// One encoder feeding one output stream. Timestamps of `next` and `end` are in the encoder's
// time base: frames for video, samples for audio.
struct TEncoderStream {
    AVStream* stream = nullptr;
    TCodecContextPtr codec;
    TFramePtr frame;
    std::string where;  // "<file> (<encoder>)" for error texts
    int64_t next = 0, end = 0;
    int64_t shift = -1;  // added to the packets' times; -1: not known before the first packet
    bool finished = false;
};

void DrawPicture(AVFrame* f, int64_t number, int noise) {
    using namespace clip_pattern;
    const int w = f->width, h = f->height;
    const int barLeft = int(number * w / kGridColumns % w), barWidth = std::max(1, w / 10);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = f->data[0] + y * f->linesize[0];
        const int cellRow = y * kGridRows / h;
        for (int x = 0; x < w; ++x) {
            const int cellColumn = x * kGridColumns / w;
            if (cellColumn >= kBoxLeft && cellColumn < kBoxRight && cellRow >= kBoxTop &&
                cellRow < kBoxBottom)
                row[x] = CellLit(number, cellColumn, cellRow) ? kLight : kDark;
            else if (x >= barLeft && x < barLeft + barWidth)
                row[x] = 210;
            else
                row[x] = uint8_t(40 + 150 * (x + y) / (w + h));
        }
    }
    if (noise > 0) {
        // A fixed sequence per picture, so a clip is the same on every run.
        uint32_t state = 2654435761u * uint32_t(number + 1);
        for (int y = 0; y < h; ++y) {
            uint8_t* row = f->data[0] + y * f->linesize[0];
            for (int x = 0; x < w; ++x) {
                state = state * 1664525u + 1013904223u;
                const int offset = int(state >> 24) % (2 * noise + 1) - noise;
                row[x] = uint8_t(std::clamp(row[x] + offset, 0, 255));
            }
        }
    }
    for (int y = 0; y < (h + 1) / 2; ++y) {
        uint8_t* u = f->data[1] + y * f->linesize[1];
        uint8_t* v = f->data[2] + y * f->linesize[2];
        const int cellRow = 2 * y * kGridRows / h;
        for (int x = 0; x < (w + 1) / 2; ++x) {
            const int cellColumn = 2 * x * kGridColumns / w;
            const bool inBox = cellColumn >= kBoxLeft && cellColumn < kBoxRight &&
                               cellRow >= kBoxTop && cellRow < kBoxBottom;
            u[x] = inBox ? 128 : uint8_t(96 + 128 * x / w);
            v[x] = inBox ? 128 : uint8_t(96 + 128 * y / h);
        }
    }
}

// The clip's bars, dimming, black start and logo over a drawn picture (luma 16 is black).
void FramePicture(AVFrame* f, int64_t number, const TClipSpec& shape) {
    const int w = f->width, h = f->height;
    const bool black = number < int64_t(shape.blackSeconds * av_q2d(shape.frameRate));
    for (int y = 0; y < h; ++y) {
        uint8_t* row = f->data[0] + y * f->linesize[0];
        const bool barRow = y < shape.letterbox || y >= h - shape.letterbox;
        for (int x = 0; x < w; ++x) {
            const bool bar = barRow || x < shape.pillarbox || x >= w - shape.pillarbox;
            row[x] = black || bar ? 16 : uint8_t(16 + (row[x] - 16) * shape.dim);
            if (shape.logoInBottomBar && y >= h - shape.letterbox * 2 / 3 &&
                y < h - shape.letterbox / 3 && x >= w * 3 / 4 && x < w * 7 / 8)
                row[x] = 235;
        }
    }
    for (int y = 0; y < (h + 1) / 2; ++y) {
        for (int plane = 1; plane <= 2; ++plane) {
            uint8_t* row = f->data[plane] + y * f->linesize[plane];
            const bool barRow = 2 * y < shape.letterbox || 2 * y >= h - shape.letterbox;
            for (int x = 0; x < (w + 1) / 2; ++x)
                if (black || barRow || 2 * x < shape.pillarbox || 2 * x >= w - shape.pillarbox)
                    row[x] = 128;
        }
    }
}

void StoreSample(uint8_t* p, AVSampleFormat packedFormat, double v) {
    auto store = [p](auto sample) { std::memcpy(p, &sample, sizeof sample); };
    switch (packedFormat) {
        case AV_SAMPLE_FMT_U8:
            store(uint8_t(128 + std::lrint(v * 127)));
            break;
        case AV_SAMPLE_FMT_S16:
            store(int16_t(std::lrint(v * 32767)));
            break;
        case AV_SAMPLE_FMT_S32:
            store(int32_t(std::lrint(v * 2147483647.0)));
            break;
        case AV_SAMPLE_FMT_S64:
            store(int64_t(std::llrint(v * 9.2233720368547e18)));
            break;
        case AV_SAMPLE_FMT_FLT:
            store(float(v));
            break;
        case AV_SAMPLE_FMT_DBL:
            store(v);
            break;
        default:
            throw std::runtime_error("unexpected sample format");
    }
}

class TClipWriter {
  public:
    TClipWriter(const std::string& path, const TClipSpec& clipSpec)
        : path_(path), spec_(clipSpec) {}

    void Write() {
        AVFormatContext* output = nullptr;
        Check(LibAVFormat.avformat_alloc_output_context2(
                  &output, nullptr, spec_.format.empty() ? nullptr : spec_.format.c_str(),
                  path_.c_str()),
              "avformat_alloc_output_context2", path_);
        output_.reset(output);
        packet_.reset(CheckPtr(LibAVCodec.av_packet_alloc(), "av_packet_alloc", path_));
        if (!spec_.videoCodec.empty()) AddVideo();
        if (!spec_.audioCodec.empty()) AddAudio();
        AddChapters();
        if (!(output_->oformat->flags & AVFMT_NOFILE))
            Check(LibAVFormat.avio_open(&output_->pb, path_.c_str(), AVIO_FLAG_WRITE), "avio_open",
                  path_);
        if (!spec_.title.empty())
            LibAVUtil.av_dict_set(&output_->metadata, "title", spec_.title.c_str(), 0);
        AVDictionary* muxerOptions = nullptr;
        if (spec_.fastStart) LibAVUtil.av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
        const int written = LibAVFormat.avformat_write_header(output_.get(), &muxerOptions);
        LibAVUtil.av_dict_free(&muxerOptions);
        Check(written, "avformat_write_header", path_);
        // Feed whichever stream is behind, so the muxer gets them interleaved.
        for (;;) {
            TEncoderStream* s = nullptr;
            for (TEncoderStream* candidate : {&video_, &audio_})
                if (candidate->codec && !candidate->finished &&
                    (!s || LibAVUtil.av_compare_ts(candidate->next, candidate->codec->time_base,
                                                   s->next, s->codec->time_base) < 0))
                    s = candidate;
            if (!s) break;
            if (s->next >= s->end) {
                Encode(*s, nullptr);
                s->finished = true;
            } else {
                Encode(*s, s == &video_ ? NextPicture() : NextSamples());
            }
        }
        Check(LibAVFormat.av_write_trailer(output_.get()), "av_write_trailer", path_);
    }

  private:
    TEncoderStream OpenEncoder(const std::string& name, AVMediaType type) {
        TEncoderStream s;
        s.where = path_ + " (" + name + ")";
        const AVCodec* codec = LibAVCodec.avcodec_find_encoder_by_name(name.c_str());
        if (!codec || codec->type != type)
            throw std::runtime_error("avcodec_find_encoder_by_name found no " +
                                     std::string(type == AVMEDIA_TYPE_VIDEO ? "video" : "audio") +
                                     " encoder for " + s.where);
        s.codec.reset(
            CheckPtr(LibAVCodec.avcodec_alloc_context3(codec), "avcodec_alloc_context3", s.where));
        s.codec->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
        if (output_->oformat->flags & AVFMT_GLOBALHEADER)
            s.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        s.stream = CheckPtr(LibAVFormat.avformat_new_stream(output_.get(), nullptr),
                            "avformat_new_stream", path_);
        return s;
    }

    void Open(TEncoderStream& s, TDictionary& options) {
        Check(LibAVCodec.avcodec_open2(s.codec.get(), nullptr, options.Address()), "avcodec_open2",
              s.where);
        Check(LibAVCodec.avcodec_parameters_from_context(s.stream->codecpar, s.codec.get()),
              "avcodec_parameters_from_context", s.where);
        s.stream->time_base = s.codec->time_base;
        s.frame.reset(CheckPtr(LibAVUtil.av_frame_alloc(), "av_frame_alloc", s.where));
    }

    // The context frees the chapters with itself.
    void AddChapters() {
        const auto& chapters = spec_.chapters;
        if (chapters.empty()) return;
        output_->chapters = static_cast<AVChapter**>(CheckPtr(
            LibAVUtil.av_mallocz(chapters.size() * sizeof(AVChapter*)), "av_mallocz", path_));
        for (size_t i = 0; i < chapters.size(); ++i) {
            auto* chapter = static_cast<AVChapter*>(
                CheckPtr(LibAVUtil.av_mallocz(sizeof(AVChapter)), "av_mallocz", path_));
            output_->chapters[output_->nb_chapters++] = chapter;
            chapter->id = int64_t(i) + 1;
            chapter->time_base = AVRational{1, 1000};
            chapter->start = std::llround(chapters[i].first * 1000);
            chapter->end = std::llround(
                (i + 1 < chapters.size() ? chapters[i + 1].first : spec_.durationSeconds) * 1000);
            if (!chapters[i].second.empty())
                LibAVUtil.av_dict_set(&chapter->metadata, "title", chapters[i].second.c_str(), 0);
        }
    }

    void AddVideo() {
        video_ = OpenEncoder(spec_.videoCodec, AVMEDIA_TYPE_VIDEO);
        AVCodecContext* c = video_.codec.get();
        c->width = spec_.width;
        c->height = spec_.height;
        c->time_base = av_inv_q(spec_.frameRate);
        c->framerate = spec_.frameRate;
        c->gop_size = spec_.gopSize;
        if (spec_.bFrames >= 0) c->max_b_frames = spec_.bFrames;
        c->bit_rate = spec_.videoBitRate;
        c->pix_fmt = spec_.pixelFormat;
        if (c->pix_fmt == AV_PIX_FMT_NONE)
            c->pix_fmt = c->codec->pix_fmts ? c->codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
        video_.stream->avg_frame_rate = spec_.frameRate;
        // The fastest settings keep long clips cheap; quality is not what the clips are for.
        TDictionary options;
        if (spec_.videoCodec.starts_with("libx264")) options.Set("preset", "ultrafast");
        if (spec_.videoCodec.starts_with("libvpx")) {
            options.Set("deadline", "realtime");
            options.Set("cpu-used", "8");
        }
        Open(video_, options);
        video_.end = std::llround(spec_.durationSeconds * av_q2d(spec_.frameRate));

        AVFrame* f = video_.frame.get();
        f->format = c->pix_fmt;
        f->width = c->width;
        f->height = c->height;
        Check(LibAVUtil.av_frame_get_buffer(f, 0), "av_frame_get_buffer", video_.where);
        if (c->pix_fmt == AV_PIX_FMT_YUV420P) return;
        picture_.reset(CheckPtr(LibAVUtil.av_frame_alloc(), "av_frame_alloc", video_.where));
        picture_->format = AV_PIX_FMT_YUV420P;
        picture_->width = c->width;
        picture_->height = c->height;
        Check(LibAVUtil.av_frame_get_buffer(picture_.get(), 0), "av_frame_get_buffer",
              video_.where);
        scaler_.reset(CheckPtr(
            LibSwScale.sws_getContext(c->width, c->height, AV_PIX_FMT_YUV420P, c->width, c->height,
                                      c->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr),
            "sws_getContext", video_.where));
    }

    void AddAudio() {
        audio_ = OpenEncoder(spec_.audioCodec, AVMEDIA_TYPE_AUDIO);
        AVCodecContext* c = audio_.codec.get();
        c->sample_fmt = c->codec->sample_fmts ? c->codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        c->sample_rate = spec_.sampleRate;
        LibAVUtil.av_channel_layout_default(&c->ch_layout, spec_.channels);
        c->bit_rate = spec_.audioBitRate;
        c->time_base = AVRational{1, spec_.sampleRate};
        TDictionary options;
        Open(audio_, options);
        audio_.end = std::llround(spec_.durationSeconds * spec_.sampleRate);

        const bool variable = c->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
        AVFrame* f = audio_.frame.get();
        f->format = c->sample_fmt;
        f->sample_rate = c->sample_rate;
        f->nb_samples = c->frame_size > 0 && !variable ? c->frame_size : 1024;
        Check(LibAVUtil.av_channel_layout_copy(&f->ch_layout, &c->ch_layout),
              "av_channel_layout_copy", audio_.where);
        Check(LibAVUtil.av_frame_get_buffer(f, 0), "av_frame_get_buffer", audio_.where);
        frameSamples_ = f->nb_samples;
    }

    AVFrame* NextPicture() {
        AVFrame* f = video_.frame.get();
        Check(LibAVUtil.av_frame_make_writable(f), "av_frame_make_writable", video_.where);
        if (scaler_) {
            DrawPicture(picture_.get(), video_.next, spec_.noise);
            FramePicture(picture_.get(), video_.next, spec_);
            Check(LibSwScale.sws_scale(scaler_.get(), picture_->data, picture_->linesize, 0,
                                       f->height, f->data, f->linesize),
                  "sws_scale", video_.where);
        } else {
            DrawPicture(f, video_.next, spec_.noise);
            FramePicture(f, video_.next, spec_);
        }
        f->pts = video_.next++;
        return f;
    }

    AVFrame* NextSamples() {
        AVFrame* f = audio_.frame.get();
        const AVCodecContext* c = audio_.codec.get();
        // Only encoders that accept a short last frame get one; the others get a full frame.
        f->nb_samples = frameSamples_;
        if (c->codec->capabilities &
            (AV_CODEC_CAP_VARIABLE_FRAME_SIZE | AV_CODEC_CAP_SMALL_LAST_FRAME))
            f->nb_samples = int(std::min<int64_t>(frameSamples_, audio_.end - audio_.next));
        Check(LibAVUtil.av_frame_make_writable(f), "av_frame_make_writable", audio_.where);
        const auto format = AVSampleFormat(f->format);
        const AVSampleFormat packed = LibAVUtil.av_get_packed_sample_fmt(format);
        const bool planar = LibAVUtil.av_sample_fmt_is_planar(format);
        const int bytes = LibAVUtil.av_get_bytes_per_sample(format);
        const int channels = f->ch_layout.nb_channels;
        for (int i = 0; i < f->nb_samples; ++i) {
            const double v = 0.5 * std::sin(phase_);
            const double t = double(audio_.next + i) / c->sample_rate;
            phase_ = std::fmod(phase_ + 2 * std::numbers::pi * ToneFrequencyAt(t) / c->sample_rate,
                               2 * std::numbers::pi);
            for (int ch = 0; ch < channels; ++ch)
                StoreSample(planar ? f->extended_data[ch] + i * bytes
                                   : f->extended_data[0] + (i * channels + ch) * bytes,
                            packed, v);
        }
        f->pts = audio_.next;
        audio_.next += f->nb_samples;
        return f;
    }

    // Sends one frame (nullptr: the end) and writes every packet the encoder has ready.
    void Encode(TEncoderStream& s, AVFrame* frame) {
        Check(LibAVCodec.avcodec_send_frame(s.codec.get(), frame), "avcodec_send_frame", s.where);
        for (;;) {
            const int rc = LibAVCodec.avcodec_receive_packet(s.codec.get(), packet_.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            Check(rc, "avcodec_receive_packet", s.where);
            // An audio encoder's priming samples come with negative times. A muxer that cannot
            // store those would shift every stream, moving the pictures off their frame grid;
            // the audio starts at zero instead (the priming plays as part of the stream).
            if (s.shift < 0)
                s.shift = s.codec->codec_type == AVMEDIA_TYPE_AUDIO &&
                                  packet_->pts != AV_NOPTS_VALUE && packet_->pts < 0 &&
                                  !(output_->oformat->flags & AVFMT_TS_NEGATIVE)
                              ? -packet_->pts
                              : 0;
            if (s.shift > 0) {
                packet_->pts += s.shift;
                if (packet_->dts != AV_NOPTS_VALUE) packet_->dts += s.shift;
            }
            LibAVCodec.av_packet_rescale_ts(packet_.get(), s.codec->time_base, s.stream->time_base);
            packet_->stream_index = s.stream->index;
            // The packet is blank afterwards: the muxer took its contents.
            Check(LibAVFormat.av_interleaved_write_frame(output_.get(), packet_.get()),
                  "av_interleaved_write_frame", s.where);
        }
    }

    const std::string& path_;
    const TClipSpec& spec_;
    // Destroyed in reverse order: encoders and frames before the output they feed.
    TOutputPtr output_;
    TPacketPtr packet_;
    TEncoderStream video_, audio_;
    TFramePtr picture_;  // the drawn YUV420P picture when the encoder wants another format
    TSwsPtr scaler_;
    int frameSamples_ = 0;
    double phase_ = 0;  // radians
};

}  // namespace

void WriteClip(const std::string& path, const TClipSpec& clipSpec) {
    if (clipSpec.videoCodec.empty() && clipSpec.audioCodec.empty())
        throw std::runtime_error("WriteClip: no stream asked for " + path);
    TClipWriter(path, clipSpec).Write();
}

void CopyWithDisplayMatrix(const std::string& source, const std::string& target, double angle,
                           bool mirrored) {
    // Calls the program itself never makes, bound here from the modules already loaded.
    const auto bind = [](const std::string& module, const char* name) {
        void* handle = CheckPtr(dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD), "dlopen", module);
        void* symbol = dlsym(handle, name);
        dlclose(handle);
        return CheckPtr(symbol, name, module);
    };
    const auto rotationSet = reinterpret_cast<decltype(&av_display_rotation_set)>(
        bind(AVUtilFileName(), "av_display_rotation_set"));
    const auto matrixFlip = reinterpret_cast<decltype(&av_display_matrix_flip)>(
        bind(AVUtilFileName(), "av_display_matrix_flip"));
    const auto newSideData = reinterpret_cast<decltype(&av_stream_new_side_data)>(
        bind(AVFormatFileName(), "av_stream_new_side_data"));

    const TInputPtr input = OpenMediaFile(source);
    AVFormatContext* made = nullptr;
    Check(LibAVFormat.avformat_alloc_output_context2(&made, nullptr, nullptr, target.c_str()),
          "avformat_alloc_output_context2", target);
    TOutputPtr output(made);
    bool matrixSet = false;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* from = input->streams[i];
        AVStream* to = CheckPtr(LibAVFormat.avformat_new_stream(output.get(), nullptr),
                                "avformat_new_stream", target);
        Check(LibAVCodec.avcodec_parameters_copy(to->codecpar, from->codecpar),
              "avcodec_parameters_copy", target);
        to->codecpar->codec_tag = 0;
        to->time_base = from->time_base;
        if (matrixSet || from->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        auto* matrix = reinterpret_cast<int32_t*>(
            CheckPtr(newSideData(to, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)),
                     "av_stream_new_side_data", target));
        rotationSet(matrix, angle);
        if (mirrored) matrixFlip(matrix, 1, 0);
        matrixSet = true;
    }
    Check(LibAVFormat.avio_open(&output->pb, target.c_str(), AVIO_FLAG_WRITE), "avio_open", target);
    Check(LibAVFormat.avformat_write_header(output.get(), nullptr), "avformat_write_header",
          target);
    TPacketPtr packet(CheckPtr(LibAVCodec.av_packet_alloc(), "av_packet_alloc", target));
    while (LibAVFormat.av_read_frame(input.get(), packet.get()) >= 0) {
        const int index = packet->stream_index;
        LibAVCodec.av_packet_rescale_ts(packet.get(), input->streams[index]->time_base,
                                        output->streams[index]->time_base);
        packet->pos = -1;
        Check(LibAVFormat.av_interleaved_write_frame(output.get(), packet.get()),
              "av_interleaved_write_frame", target);
    }
    Check(LibAVFormat.av_write_trailer(output.get()), "av_write_trailer", target);
}

double ToneFrequencyAt(double seconds) {
    // Steps of 110 Hz each second, back to 440 Hz every ten seconds: below 1500 Hz, the tone
    // stays well inside the band of an 8 kHz stream.
    return 440.0 + 110.0 * (std::max(0L, long(std::floor(seconds))) % 10);
}

void DamageFile(const std::string& path, TDamage damage, double fraction, unsigned seed) {
    namespace fs = std::filesystem;
    const auto size = fs::file_size(path);  // throws for a missing file
    const auto from = std::uintmax_t(std::clamp(fraction, 0.0, 1.0) * double(size));
    switch (damage) {
        case TDamage::Truncated:
            fs::resize_file(path, from);
            return;
        case TDamage::Empty:
            fs::resize_file(path, 0);
            return;
        case TDamage::NotMedia: {
            std::ofstream text(path, std::ios::binary | std::ios::trunc);
            for (int i = 0; i < 20; ++i) text << "This is a plain text file, not a media file.\n";
            if (!text) throw std::runtime_error("DamageFile cannot write " + path);
            return;
        }
        case TDamage::Overwritten:
            break;
    }
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
    // Runs of 16..255 bytes with gaps of 0..255 between them; every byte of a run changes.
    std::mt19937 random(seed);
    for (std::uintmax_t at = from + random() % 256; at < bytes.size(); at += random() % 256) {
        const std::uintmax_t run = 16 + random() % 240;
        for (std::uintmax_t end = std::min<std::uintmax_t>(bytes.size(), at + run); at < end; ++at)
            bytes[at] = char(bytes[at] ^ (1 + random() % 255));
    }
    file.clear();
    file.seekp(0);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    if (!file) throw std::runtime_error("DamageFile cannot write " + path);
}
