#include "engine/HookBitmap.h"

#include <climits>

void THookBitmap::SetSize(int width, int height) {
    const int64_t stride = (int64_t{width} * 3 + 3) & ~int64_t{3};
    if (width <= 0 || height <= 0 || stride > INT_MAX) {
        width_ = height_ = stride_ = 0;
        pixels_.clear();
        return;
    }
    width_ = width;
    height_ = height;
    stride_ = static_cast<int>(stride);
    pixels_.assign(static_cast<size_t>(stride_) * height, 0);
}
