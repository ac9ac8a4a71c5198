// Frame hook "drawbox": draws a filled or outlined box of one colour into YUV 4:2:0 pictures.
//
//   drawbox.so -x 10 -y 10 -w 50 -h 40 -c ff0000 [-t 2]
//
//   -x, -y  top-left corner in pixels (default 0, 0; may lie outside the picture)
//   -w, -h  width and height in pixels (required, at least 1)
//   -c      colour: RGB as six hex digits ("ff0000", "#ff0000", "0xff0000") or Y,U,V as three
//           decimals from 0 to 255 ("81,90,240"); default white
//   -t      outline thickness in pixels; 0 (the default) fills the box
//
// Pictures of other pixel formats pass unchanged. Parts of the box outside the picture are cut.
#include <libavutil/pixfmt.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "binding/FrameHookModule.h"

namespace {

constexpr long kMaxCoordinate = 1 << 20;

struct TBox {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int thickness = 0;
    uint8_t colour[3] = {255, 128, 128};  // Y, U, V
};

// The module has no log of the program's to write to: its complaints go to the error stream.
void Complain(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Complain(const char* format, ...) {
    std::fprintf(stderr, "drawbox: ");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\n");
}

bool ParseInteger(const char* text, long low, long high, int& value) {
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

uint8_t Clamp(double value) {
    const long rounded = std::lround(value);
    return static_cast<uint8_t>(rounded < 0 ? 0 : rounded > 255 ? 255 : rounded);
}

// RGB to full-range BT.601 YUV, the same conversion the engine uses for its pad colour.
void RgbToYuv(unsigned rgb, uint8_t yuv[3]) {
    const double r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    yuv[0] = Clamp(0.299 * r + 0.587 * g + 0.114 * b);
    yuv[1] = Clamp(-0.168736 * r - 0.331264 * g + 0.5 * b + 128);
    yuv[2] = Clamp(0.5 * r - 0.418688 * g - 0.081312 * b + 128);
}

bool ParseColour(const char* text, uint8_t yuv[3]) {
    if (std::strchr(text, ',')) {
        int components[3];
        int count = 0;
        for (const char* start = text;; ++count) {
            const char* comma = std::strchr(start, ',');
            const size_t length = comma ? size_t(comma - start) : std::strlen(start);
            char part[16];
            if (count == 3 || length == 0 || length >= sizeof part) return false;
            std::memcpy(part, start, length);
            part[length] = '\0';
            if (!ParseInteger(part, 0, 255, components[count])) return false;
            if (!comma) break;
            start = comma + 1;
        }
        if (count != 2) return false;
        for (int i = 0; i < 3; ++i) yuv[i] = static_cast<uint8_t>(components[i]);
        return true;
    }
    if (text[0] == '#')
        text += 1;
    else if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text += 2;
    if (std::strlen(text) != 6 || std::strspn(text, "0123456789abcdefABCDEF") != 6) return false;
    RgbToYuv(static_cast<unsigned>(std::strtoul(text, nullptr, 16)), yuv);
    return true;
}

bool ParseArguments(int argc, char* argv[], TBox& box) {
    struct TNumberOption {
        const char* name;
        long low;
        long high;
        int* target;
        bool given;
    } numbers[] = {
        {"-x", -kMaxCoordinate, kMaxCoordinate, &box.x, false},
        {"-y", -kMaxCoordinate, kMaxCoordinate, &box.y, false},
        {"-w", 1, kMaxCoordinate, &box.width, false},
        {"-h", 1, kMaxCoordinate, &box.height, false},
        {"-t", 0, kMaxCoordinate, &box.thickness, false},
    };
    for (int i = 1; i < argc; i += 2) {
        const char* option = argv[i];
        if (i + 1 >= argc || !argv[i + 1]) {
            Complain("option %s needs a value", option);
            return false;
        }
        const char* value = argv[i + 1];
        if (std::strcmp(option, "-c") == 0) {
            if (!ParseColour(value, box.colour)) {
                Complain("colour must be RRGGBB in hex or Y,U,V from 0 to 255, not \"%s\"", value);
                return false;
            }
            continue;
        }
        TNumberOption* number = nullptr;
        for (TNumberOption& candidate : numbers)
            if (std::strcmp(option, candidate.name) == 0) number = &candidate;
        if (!number) {
            Complain("unknown option %s (use -x, -y, -w, -h, -c, -t)", option);
            return false;
        }
        if (!ParseInteger(value, number->low, number->high, *number->target)) {
            Complain("%s takes a whole number from %ld to %ld, not \"%s\"", option, number->low,
                     number->high, value);
            return false;
        }
        number->given = true;
    }
    if (!numbers[2].given || !numbers[3].given) {
        Complain("the box needs a width (-w) and a height (-h)");
        return false;
    }
    return true;
}

struct TPlane {
    uint8_t* data;
    int lineSize;
    int width;
    int height;
};

// Fills [x0, x1) x [y0, y1), already cut to the plane.
void FillRect(const TPlane& plane, long x0, long y0, long x1, long y1, uint8_t value) {
    for (long y = y0; y < y1; ++y)
        std::memset(plane.data + y * plane.lineSize + x0, value, size_t(x1 - x0));
}

// One rectangle in luma pixels, cut to the picture. Every chroma sample that covers one of its
// pixels takes the colour too, so an edge at an odd position also colours the chroma shared
// with the neighbouring pixel outside the box.
void FillLumaRect(const TPlane planes[3], const uint8_t colour[3], long x0, long y0, long x1,
                  long y1) {
    x0 = std::max(x0, 0L);
    y0 = std::max(y0, 0L);
    x1 = std::min(x1, long(planes[0].width));
    y1 = std::min(y1, long(planes[0].height));
    if (x0 >= x1 || y0 >= y1) return;
    FillRect(planes[0], x0, y0, x1, y1, colour[0]);
    const long cx0 = x0 / 2, cy0 = y0 / 2, cx1 = (x1 + 1) / 2, cy1 = (y1 + 1) / 2;
    FillRect(planes[1], cx0, cy0, cx1, cy1, colour[1]);
    FillRect(planes[2], cx0, cy0, cx1, cy1, colour[2]);
}

}  // namespace

extern "C" {

DZ_FRAME_HOOK_EXPORT int Configure(void** context, int argc, char* argv[], int highestIndex) {
    if (!context) return 1;
    if (argc > highestIndex + 1) argc = highestIndex + 1;
    TBox box;
    if (!ParseArguments(argc, argv, box)) return 1;
    auto* stored = new (std::nothrow) TBox(box);
    if (!stored) {
        Complain("out of memory");
        return 1;
    }
    *context = stored;
    return 0;
}

DZ_FRAME_HOOK_EXPORT void Process(void* context, TFrameHookPicture* picture, int pixelFormat,
                                  int width, int height, int64_t /*pts*/) {
    const auto* box = static_cast<const TBox*>(context);
    if (!box || !picture || pixelFormat != AV_PIX_FMT_YUV420P || width <= 0 || height <= 0) return;
    if (!picture->data[0] || !picture->data[1] || !picture->data[2]) return;
    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    const TPlane planes[3] = {
        {picture->data[0], picture->linesize[0], width, height},
        {picture->data[1], picture->linesize[1], chromaWidth, chromaHeight},
        {picture->data[2], picture->linesize[2], chromaWidth, chromaHeight},
    };
    const long x0 = box->x, y0 = box->y;
    const long x1 = x0 + box->width, y1 = y0 + box->height;
    const long t = box->thickness;
    if (t == 0 || 2 * t >= box->width || 2 * t >= box->height) {
        FillLumaRect(planes, box->colour, x0, y0, x1, y1);
        return;
    }
    FillLumaRect(planes, box->colour, x0, y0, x1, y0 + t);          // top
    FillLumaRect(planes, box->colour, x0, y1 - t, x1, y1);          // bottom
    FillLumaRect(planes, box->colour, x0, y0 + t, x0 + t, y1 - t);  // left
    FillLumaRect(planes, box->colour, x1 - t, y0 + t, x1, y1 - t);  // right
}

DZ_FRAME_HOOK_EXPORT void Release(void* context) {
    delete static_cast<TBox*>(context);
}

}  // extern "C"
