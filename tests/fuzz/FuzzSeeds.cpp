// Writes the seed corpora of the fuzz targets: tiny clips of every container family the
// converter reads (each behind the byte that makes the targets name it with its extension), and
// option texts of the kinds a task carries.
//
//   fuzz-seeds FOLDER    writes FOLDER/media/* and FOLDER/options/*
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "binding/FFmpegLibs.h"
#include "support/TestMedia.h"

namespace {

struct TSeedClip {
    int extensionByte;  // index into the targets' extension list
    const char* file;
    const char* videoCodec;
    const char* audioCodec;
};

const TSeedClip kClips[] = {
    {0, "a.mp4", "mpeg4", "aac"},       {1, "b.mov", "mpeg4", "aac"},
    {2, "c.avi", "mpeg4", "mp2"},       {3, "d.mkv", "mpeg4", "aac"},
    {4, "e.webm", "libvpx", "libopus"}, {5, "f.mpg", "mpeg1video", "mp2"},
    {6, "g.ts", "mpeg2video", "mp2"},   {7, "h.flv", "flv", "aac"},
    {8, "i.wmv", "wmv2", "wmav2"},      {9, "j.ogg", "libtheora", "libvorbis"},
    {10, "k.wav", "", "pcm_s16le"},     {11, "l.mp3", "", "libmp3lame"},
};

const char* const kOptionTexts[] = {
    "vcodec=mpeg4\nb=800k\ns=640x480\nr=25\nacodec=mp2\nab=128k\nar=44100\nac=2",
    "target=pal-dvd\naspect=16:9\ncroptop=8\npadbottom=8\npadcolor=$FF00FF",
    "ss=00:00:01.5\nt=10\nitsoffset=-2\nitsscale=0:1.5\nmap=0:0\nmap=0:1:0:0",
    "f=mp4\nvcodec=copy\nacodec=copy\ntitle=A title\nauthor=Someone\ntimestamp=now",
    "pass=2\npasslogfile=stats\nqscale=3.5\nrc_override=0,100,2/200,300,-0.5\ng=12",
    "intra_matrix=8,16,19,22,26,27,29,34\nme_threshold=4\nvsync=2\nasync=1\nvol=512",
    "flags=+global_header\nsws_flags=lanczos\npix_fmt=yuv420p\nvtag=XVID\natag=$55",
};

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz-seeds FOLDER\n");
        return 2;
    }
    if (!LoadFFmpegLibs("", true)) {
        std::fprintf(stderr, "%s\n", FFmpegLibsError().c_str());
        return 1;
    }
    SetLibraryLogLevel(-1);
    const fs::path media = fs::path(argv[1]) / "media", options = fs::path(argv[1]) / "options";
    fs::create_directories(media);
    fs::create_directories(options);
    try {
        for (const TSeedClip& clip : kClips) {
            const fs::path clipPath = media / ("clip-" + std::string(clip.file));
            TClipSpec clipSpec;
            clipSpec.videoCodec = clip.videoCodec;
            clipSpec.audioCodec = clip.audioCodec;
            clipSpec.width = 64;
            clipSpec.height = 48;
            clipSpec.frameRate = {10, 1};
            clipSpec.sampleRate = 24000;
            clipSpec.channels = 1;
            clipSpec.durationSeconds = 0.5;
            clipSpec.videoBitRate = 100000;
            clipSpec.audioBitRate = 32000;
            WriteClip(clipPath.string(), clipSpec);
            std::ifstream in(clipPath, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), {});
            in.close();
            fs::remove(clipPath);
            std::ofstream seed(media / clip.file, std::ios::binary | std::ios::trunc);
            seed.put(static_cast<char>(clip.extensionByte));
            seed << bytes;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    int number = 0;
    for (const char* text : kOptionTexts)
        std::ofstream(options / ("text-" + std::to_string(number++))) << text;
    std::printf("seeds in %s\n", argv[1]);
    return 0;
}
