// What a recording says about itself: its tags and its cover picture, carried to the outputs
// that can hold them.
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "engine/CustomFFmpeg.h"
#include "engine/StreamChoice.h"

namespace {

// Tags a player shows, and when the recording was made; others (encoder names, durations,
// handler names) describe the input's coding, not the recording, and would be wrong in the output.
constexpr const char* kRecordingTags[] = {
    "title",  "artist",    "album_artist", "author",  "album",        "date",
    "track",  "disc",      "genre",        "comment", "copyright",    "composer",
    "lyrics", "publisher", "description",  "year",    "creation_time"};

// Where the recording was made (ISO 6709, "+48.8584+002.2945/"), as the inputs name it: the
// common key, a phone's QuickTime key, and the key with its language that MP4 files give. Every
// output gets it as "location", which the MP4 and MOV muxers write into the file's user data
// and Matroska as a tag.
constexpr const char* kLocationTags[] = {"location", "com.apple.quicktime.location.ISO6709",
                                         "location-eng"};

// Muxers that keep a cover as a picture stream beside the sound.
constexpr const char* kCoverFormats[] = {"mp3", "ipod", "mp4", "mov", "flac"};

// Muxers that keep a cover in the sound's comments, as a picture block of the lossless format.
constexpr const char* kCommentCoverFormats[] = {"ogg", "oga", "opus"};

bool NamedIn(const char* name, const char* const* names, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (std::strcmp(name, names[i]) == 0) return true;
    return false;
}

void PutBigEndian(std::vector<uint8_t>& block, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) block.push_back(uint8_t(value >> shift));
}

// The picture block behind METADATA_BLOCK_PICTURE: type, MIME, description, size, depth, colours
// and the picture's own bytes, in base64. Empty when the picture cannot go there.
std::string CommentCover(const AVStream* source) {
    const AVPacket& picture = source->attached_pic;
    const AVCodecID codec = source->codecpar->codec_id;
    if (!picture.data || picture.size <= 0 ||
        (codec != AV_CODEC_ID_MJPEG && codec != AV_CODEC_ID_PNG))
        return {};
    const std::string mime = codec == AV_CODEC_ID_PNG ? "image/png" : "image/jpeg";
    std::vector<uint8_t> block;
    PutBigEndian(block, 3);  // the front cover
    PutBigEndian(block, uint32_t(mime.size()));
    block.insert(block.end(), mime.begin(), mime.end());
    PutBigEndian(block, 0);  // no description
    PutBigEndian(block, uint32_t(source->codecpar->width));
    PutBigEndian(block, uint32_t(source->codecpar->height));
    PutBigEndian(block, 24);  // bits per pixel
    PutBigEndian(block, 0);   // not indexed
    PutBigEndian(block, uint32_t(picture.size));
    block.insert(block.end(), picture.data, picture.data + picture.size);
    std::string text(size_t(AV_BASE64_SIZE(block.size())), '\0');
    if (!LibAVUtil.av_base64_encode(text.data(), int(text.size()), block.data(), int(block.size())))
        return {};
    text.resize(std::strlen(text.c_str()));
    return text;
}

// Matroska keeps a cover as an attached file: a picture stream would be a one-picture video
// track to every reader. The file gets it when it has no pictures of its own.
void AttachCover(const AVStream* source, AVFormatContext* output) {
    const char* format = output->oformat->name;
    const AVCodecID codec = source->codecpar->codec_id;
    const AVPacket& picture = source->attached_pic;
    if (std::strcmp(format, "matroska") != 0 || !picture.data || picture.size <= 0 ||
        (codec != AV_CODEC_ID_MJPEG && codec != AV_CODEC_ID_PNG))
        return;
    for (unsigned i = 0; i < output->nb_streams; ++i)
        if (output->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) return;
    AVStream* attachment = LibAVFormat.avformat_new_stream(output, nullptr);
    if (!attachment) return;
    AVCodecParameters* parameters = attachment->codecpar;
    parameters->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    parameters->codec_id = codec;
    parameters->extradata = static_cast<uint8_t*>(
        LibAVUtil.av_mallocz(size_t(picture.size) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (parameters->extradata) {
        std::memcpy(parameters->extradata, picture.data, size_t(picture.size));
        parameters->extradata_size = picture.size;
    }
    const bool png = codec == AV_CODEC_ID_PNG;
    LibAVUtil.av_dict_set(&attachment->metadata, "filename", png ? "cover.png" : "cover.jpg", 0);
    LibAVUtil.av_dict_set(&attachment->metadata, "mimetype", png ? "image/png" : "image/jpeg", 0);
}

void CarryTagsFrom(const AVDictionary* from, AVDictionary** to) {
    for (const char* key : kRecordingTags) {
        const AVDictionaryEntry* entry = LibAVUtil.av_dict_get(from, key, nullptr, 0);
        if (entry && !LibAVUtil.av_dict_get(*to, key, nullptr, 0))
            LibAVUtil.av_dict_set(to, key, entry->value, 0);
    }
    if (LibAVUtil.av_dict_get(*to, "location", nullptr, 0)) return;
    for (const char* key : kLocationTags)
        if (const AVDictionaryEntry* entry = LibAVUtil.av_dict_get(from, key, nullptr, 0)) {
            LibAVUtil.av_dict_set(to, "location", entry->value, 0);
            return;
        }
}

}  // namespace

bool WritesCoverStream(const AVOutputFormat* format) {
    return format && NamedIn(format->name, kCoverFormats, std::size(kCoverFormats));
}

void TCustomFFmpeg::CarryTags(AVFormatContext* output) {
    if (InputFileCount == 0 || !InputFiles[0].Context) return;
    const AVFormatContext* input = InputFiles[0].Context.get();
    // The file's own tags first; Ogg and some others keep them with the sound.
    CarryTagsFrom(input->metadata, &output->metadata);
    const int audio = ChooseStream(input, AVMEDIA_TYPE_AUDIO);
    if (audio >= 0) CarryTagsFrom(input->streams[audio]->metadata, &output->metadata);
    const int cover = FindCoverStream(input);
    if (cover >= 0) AttachCover(input->streams[cover], output);
}

bool TCustomFFmpeg::new_cover_stream(AVFormatContext* file) {
    if (InputFileCount == 0 || !InputFiles[0].Context) return false;
    AVFormatContext* input = InputFiles[0].Context.get();
    const int cover = FindCoverStream(input);
    if (cover < 0) return false;
    AVStream* source = input->streams[cover];
    const char* format = file->oformat->name;
    if (NamedIn(format, kCommentCoverFormats, std::size(kCommentCoverFormats))) {
        // No picture stream: the comments of the sound just added carry it.
        const std::string block = CommentCover(source);
        if (block.empty() || file->nb_streams == 0) return false;
        AVStream* sound = file->streams[file->nb_streams - 1];
        return LibAVUtil.av_dict_set(&sound->metadata, "METADATA_BLOCK_PICTURE", block.c_str(),
                                     0) >= 0;
    }
    if (!NamedIn(format, kCoverFormats, std::size(kCoverFormats))) return false;
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

void TCustomFFmpeg::CarryChapters(AVFormatContext* output) {
    if (InputFileCount == 0 || !InputFiles[0].Context || output->nb_chapters > 0) return;
    const AVFormatContext* input = InputFiles[0].Context.get();
    if (input->nb_chapters == 0) return;
    // On the input's clock, where the job's start (ss) is zero.
    const int64_t offset = InputFiles[0].TimeOffset;
    std::vector<TChapterSpan> chapters;
    for (unsigned i = 0; i < input->nb_chapters; ++i) {
        const AVChapter* chapter = input->chapters[i];
        const auto at = [&](int64_t time) {
            return LibAVUtil.av_rescale_q(time, chapter->time_base, AVRational{1, AV_TIME_BASE}) +
                   offset;
        };
        chapters.push_back(TChapterSpan{at(chapter->start), at(chapter->end), int(i)});
    }
    const std::vector<TCutPiece> pieces =
        Cut ? Cut->Pieces : std::vector<TCutPiece>{TCutPiece{0, RecordingTime, 0}};
    const std::vector<TChapterSpan> spans = MapChapterSpans(chapters, pieces);
    if (spans.empty()) return;
    // The output context frees the list, each chapter and its tags with itself.
    output->chapters =
        static_cast<AVChapter**>(LibAVUtil.av_mallocz(spans.size() * sizeof(AVChapter*)));
    if (!output->chapters) throw FFMpegException("av_mallocz fail");
    for (const TChapterSpan& span : spans) {
        auto* chapter = static_cast<AVChapter*>(LibAVUtil.av_mallocz(sizeof(AVChapter)));
        if (!chapter) throw FFMpegException("av_mallocz fail");
        output->chapters[output->nb_chapters++] = chapter;
        chapter->id = output->nb_chapters;
        chapter->time_base = AVRational{1, AV_TIME_BASE};
        chapter->start = span.Start;
        chapter->end = span.End;
        if (LibAVUtil.av_dict_copy(&chapter->metadata, input->chapters[span.Source]->metadata, 0) <
            0)
            throw FFMpegException("av_dict_copy fail");
        // MP4's chapter track holds a text per titled chapter only: with an untitled one, the
        // reader cannot find the track every stream refers to, and says so as an error.
        if (!LibAVUtil.av_dict_get(chapter->metadata, "title", nullptr, 0) &&
            LibAVUtil.av_dict_set(&chapter->metadata, "title", "", 0) < 0)
            throw FFMpegException("av_dict_set fail");
    }
}
