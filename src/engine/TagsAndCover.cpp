// What a recording says about itself: its tags and its cover picture, carried to the outputs
// that can hold them.
#include <cstring>

#include "engine/CustomFFmpeg.h"
#include "engine/StreamChoice.h"

namespace {

// Tags a player shows; others (encoder names, durations, handler names) describe the input's
// coding, not the recording, and would be wrong in the output.
constexpr const char* kRecordingTags[] = {
    "title", "artist",  "album_artist", "author",   "album",  "date",      "track",       "disc",
    "genre", "comment", "copyright",    "composer", "lyrics", "publisher", "description", "year"};

// Muxers that keep a cover as a picture stream beside the sound.
constexpr const char* kCoverFormats[] = {"mp3", "ipod", "mp4", "mov", "flac", "matroska"};

void CarryTagsFrom(const AVDictionary* from, AVDictionary** to) {
    for (const char* key : kRecordingTags) {
        const AVDictionaryEntry* entry = LibAVUtil.av_dict_get(from, key, nullptr, 0);
        if (entry && !LibAVUtil.av_dict_get(*to, key, nullptr, 0))
            LibAVUtil.av_dict_set(to, key, entry->value, 0);
    }
}

}  // namespace

void TCustomFFmpeg::CarryTags(AVFormatContext* output) {
    if (InputFileCount == 0 || !InputFiles[0].Context) return;
    const AVFormatContext* input = InputFiles[0].Context.get();
    // The file's own tags first; Ogg and some others keep them with the sound.
    CarryTagsFrom(input->metadata, &output->metadata);
    const int audio = ChooseStream(input, AVMEDIA_TYPE_AUDIO);
    if (audio >= 0) CarryTagsFrom(input->streams[audio]->metadata, &output->metadata);
}

bool TCustomFFmpeg::new_cover_stream(AVFormatContext* file) {
    if (InputFileCount == 0 || !InputFiles[0].Context) return false;
    AVFormatContext* input = InputFiles[0].Context.get();
    bool holdsCover = false;
    for (const char* name : kCoverFormats)
        holdsCover |= std::strcmp(file->oformat->name, name) == 0;
    const int cover = FindCoverStream(input);
    if (!holdsCover || cover < 0) return false;
    AVStream* source = input->streams[cover];
    TCodecContextPtr codec(LibAVCodec.avcodec_alloc_context3(nullptr));
    if (!codec) return false;
    codec->codec_type = AVMEDIA_TYPE_VIDEO;
    codec->codec_id = source->codecpar->codec_id;
    codec->time_base = AVRational{1, 90000};
    if (!AddOutputStream(file, codec, true, 0.0f)) return false;
    // A profile without video discards the input's pictures: the cover's one packet must come.
    source->discard = AVDISCARD_DEFAULT;
    return true;
}
