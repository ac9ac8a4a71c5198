#include "support/TrackedMedia.h"

#include <cstdio>
#include <fstream>

#include "support/MediaHandles.h"

namespace {

std::string Clock(int milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "00:%02d:%02d,%03d", milliseconds / 60000,
                  milliseconds / 1000 % 60, milliseconds % 1000);
    return text;
}

}  // namespace

void WriteSubRip(const std::string& path, const std::string& word, int count) {
    std::ofstream file(path);
    for (int i = 0; i < count; ++i) {
        const int start = 500 + 2500 * i;
        file << i + 1 << "\n"
             << Clock(start) << " --> " << Clock(start + 1500) << "\n"
             << word << " " << i + 1 << "\n\n";
    }
    if (!file) throw std::runtime_error("could not write " + path);
}

void WriteTrackedFile(const std::string& path, const std::vector<TTrackSource>& tracks) {
    std::vector<TInputPtr> inputs;
    AVFormatContext* created = nullptr;
    Check(LibAVFormat.avformat_alloc_output_context2(&created, nullptr, nullptr, path.c_str()),
          "avformat_alloc_output_context2", path);
    TOutputPtr output(created);
    for (const TTrackSource& track : tracks) {
        inputs.push_back(OpenMediaFile(track.Path));
        const AVStream* from = inputs.back()->streams[track.Stream];
        AVStream* to = CheckPtr(LibAVFormat.avformat_new_stream(output.get(), nullptr),
                                "avformat_new_stream", path);
        Check(LibAVCodec.avcodec_parameters_copy(to->codecpar, from->codecpar),
              "avcodec_parameters_copy", path);
        to->codecpar->codec_tag = 0;
        to->time_base = from->time_base;
        to->disposition = track.Disposition;
        if (!track.Language.empty())
            LibAVUtil.av_dict_set(&to->metadata, "language", track.Language.c_str(), 0);
    }
    Check(LibAVFormat.avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), "avio_open", path);
    Check(LibAVFormat.avformat_write_header(output.get(), nullptr), "avformat_write_header", path);
    // Track after track: the muxer's interleaving queue puts the packets in time order.
    TPacketPtr packet(LibAVCodec.av_packet_alloc());
    for (size_t i = 0; i < tracks.size(); ++i) {
        while (LibAVFormat.av_read_frame(inputs[i].get(), packet.get()) >= 0) {
            if (packet->stream_index != tracks[i].Stream) {
                LibAVCodec.av_packet_unref(packet.get());
                continue;
            }
            LibAVCodec.av_packet_rescale_ts(packet.get(),
                                            inputs[i]->streams[tracks[i].Stream]->time_base,
                                            output->streams[i]->time_base);
            packet->stream_index = static_cast<int>(i);
            packet->pos = -1;
            // The muxer takes the packet's contents and leaves it blank.
            Check(LibAVFormat.av_interleaved_write_frame(output.get(), packet.get()),
                  "av_interleaved_write_frame", path);
        }
    }
    Check(LibAVFormat.av_write_trailer(output.get()), "av_write_trailer", path);
}
