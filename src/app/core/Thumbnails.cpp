#include "app/core/Thumbnails.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "app/core/PictureAt.h"
#include "app/core/UserData.h"
#include "binding/LibHandles.h"
#include "engine/PictureFilter.h"
#include "engine/StreamChoice.h"

namespace fs = std::filesystem;

namespace {

// Where in the file the picture is taken: past titles and fades, before the end.
constexpr double kPosition = 0.1;

TThumbnail Failed(std::string reason) {
    TThumbnail thumbnail;
    thumbnail.Reason = std::move(reason);
    return thumbnail;
}

// The picture's size as shown (its pixels' aspect and the display matrix applied), scaled to
// at most `longSide` on its longer side; never enlarged.
void ShownSize(const AVFrame* frame, const TDisplayTransform& transform, int longSide, int& width,
               int& height) {
    const AVRational sar = frame->sample_aspect_ratio;
    double w = frame->width * (sar.num > 0 && sar.den > 0 ? double(sar.num) / sar.den : 1.0);
    double h = frame->height;
    if (transform.SwapsSides()) std::swap(w, h);
    const double scale = std::min(1.0, double(longSide) / std::max(w, h));
    width = std::max(1, int(std::lround(w * scale)));
    height = std::max(1, int(std::lround(h * scale)));
}

// The decoded picture through the engine's source steps (upright, tone-mapped), scaled and in
// RGB.
TThumbnail Shrunk(const AVFrame* frame, const AVCodecContext* decoder, const AVStream* video,
                  int longSide) {
    const TDisplayTransform transform = DisplayTransformOf(video);
    const bool toneMap = IsHdrTransfer(frame->color_trc) || IsHdrTransfer(decoder->color_trc);
    std::string filters = PictureFilterText(transform.FilterText(), toneMap, AV_PIX_FMT_YUV420P);
    int width = 0, height = 0;
    ShownSize(frame, transform, longSide, width, height);
    filters += std::string(filters.empty() ? "" : ",") + "scale=" + std::to_string(width) + ":" +
               std::to_string(height) + ",format=rgb24";
    TPictureFilter filter;
    AVFrame* shown = nullptr;
    if (filter.Build(filters, decoder, video->time_base)) shown = filter.Apply(frame);
    if (!shown || shown->format != AV_PIX_FMT_RGB24)
        return Failed(
            "its picture cannot be made smaller: " +
            (filter.Error().empty() ? std::string("no picture came out") : filter.Error()));
    TThumbnail thumbnail;
    thumbnail.Width = shown->width;
    thumbnail.Height = shown->height;
    thumbnail.Rgb.resize(std::size_t(shown->width) * shown->height * 3);
    for (int y = 0; y < shown->height; ++y)
        std::memcpy(thumbnail.Rgb.data() + std::size_t(y) * shown->width * 3,
                    shown->data[0] + std::ptrdiff_t(y) * shown->linesize[0],
                    std::size_t(shown->width) * 3);
    return thumbnail;
}

TThumbnail Decoded(const std::string& path, int longSide) {
    AVFormatContext* opened = nullptr;
    if (!AVFormatLoaded() ||
        LibAVFormat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0)
        return Failed("the file does not open");
    const TInputPtr file(opened);
    const int stream = LibAVFormat.avformat_find_stream_info(file.get(), nullptr) < 0
                           ? -1
                           : ChooseStream(file.get(), AVMEDIA_TYPE_VIDEO);
    if (stream < 0) return Failed("no video");
    const AVStream* video = file->streams[stream];
    const AVCodec* codec = LibAVCodec.avcodec_find_decoder(video->codecpar->codec_id);
    const TCodecContextPtr decoder(LibAVCodec.avcodec_alloc_context3(codec));
    if (!codec || !decoder ||
        LibAVCodec.avcodec_parameters_to_context(decoder.get(), video->codecpar) < 0 ||
        LibAVCodec.avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return Failed("its video cannot be decoded");
    // A cover picture is the stream's one picture.
    const bool cover = video->disposition & AV_DISPOSITION_ATTACHED_PIC;
    const double length = file->duration > 0 ? double(file->duration) / AV_TIME_BASE : 0;
    const TFramePtr frame(LibAVUtil.av_frame_alloc());
    if (!PictureAt(file.get(), decoder.get(), stream, cover ? 0 : length * kPosition, frame.get()))
        return Failed("no picture could be decoded");
    return Shrunk(frame.get(), decoder.get(), video, longSide);
}

// FNV-1a, 64 bits: a name for the cache file that stays the same from run to run.
uint64_t NameHash(const std::string& text) {
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// What a cache file was made for, as its comment line holds it: a file changed since (another
// size or change time) or a picture of another size misses.
std::string StampOf(const std::string& path, int longSide) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error) return {};
    const auto changed = fs::last_write_time(path, error);
    if (error) return {};
    return "# " + std::to_string(size) + " " + std::to_string(changed.time_since_epoch().count()) +
           " " + std::to_string(longSide);
}

// The picture of a binary PPM file whose comment line is `stamp`; false when it is not one.
bool ReadCached(const fs::path& file, const std::string& stamp, TThumbnail& thumbnail) {
    const std::optional<std::string> text = ReadWholeFile(file);
    const std::string head = "P6\n" + stamp + "\n";
    if (!text || text->compare(0, head.size(), head) != 0) return false;
    int width = 0, height = 0, maximum = 0, read = 0;
    if (std::sscanf(text->c_str() + head.size(), "%d %d %d%n", &width, &height, &maximum, &read) !=
            3 ||
        width <= 0 || height <= 0 || maximum != 255)
        return false;
    const std::size_t start = head.size() + std::size_t(read) + 1;  // one blank ends the header
    const std::size_t bytes = std::size_t(width) * height * 3;
    if (text->size() != start + bytes) return false;
    thumbnail.Width = width;
    thumbnail.Height = height;
    thumbnail.Rgb.assign(text->begin() + std::ptrdiff_t(start), text->end());
    thumbnail.FromCache = true;
    return true;
}

// Written under a name of its own and renamed into place, so that a reader never sees half a
// file; a cache that cannot be written only costs a decode next time.
void WriteCached(const fs::path& file, const std::string& stamp, const TThumbnail& thumbnail) {
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    std::string temporary = file.string() + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return;
    const std::string head = "P6\n" + stamp + "\n" + std::to_string(thumbnail.Width) + " " +
                             std::to_string(thumbnail.Height) + "\n255\n";
    const bool written =
        ::write(fd, head.data(), head.size()) == ssize_t(head.size()) &&
        ::write(fd, thumbnail.Rgb.data(), thumbnail.Rgb.size()) == ssize_t(thumbnail.Rgb.size());
    ::close(fd);
    if (written) fs::rename(temporary, file, error);
    if (!written || error) fs::remove(temporary, error);
}

}  // namespace

fs::path DefaultThumbnailFolder() {
    return XdgBaseFolder("XDG_CACHE_HOME", ".cache", "/tmp") / "Vavuror" / "daziziz" / "thumbnails";
}

TThumbnailMaker::TThumbnailMaker(fs::path cacheFolder, int longSide)
    : folder_(std::move(cacheFolder)), longSide_(std::max(longSide, 16)) {}

fs::path TThumbnailMaker::CacheFileOf(const std::string& path) const {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (folder_.empty() || error || StampOf(path, longSide_).empty()) return {};
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.ppm",
                  static_cast<unsigned long long>(NameHash(absolute.lexically_normal())));
    return folder_ / name;
}

TThumbnail TThumbnailMaker::Make(const std::string& path) const {
    const std::string stamp = StampOf(path, longSide_);
    if (stamp.empty()) return Failed("the file cannot be read");
    const fs::path cached = CacheFileOf(path);
    TThumbnail thumbnail;
    if (!cached.empty() && ReadCached(cached, stamp, thumbnail)) return thumbnail;
    thumbnail = Decoded(path, longSide_);
    if (thumbnail.Ok() && !cached.empty()) WriteCached(cached, stamp, thumbnail);
    return thumbnail;
}
