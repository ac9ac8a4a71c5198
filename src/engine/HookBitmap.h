// The picture a custom hook receives: 24-bit BGR pixels (blue byte first), rows top to bottom,
// each row padded to a multiple of four bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class THookBitmap {
  public:
    static constexpr int BitsPerPixel = 24;

    THookBitmap() = default;
    THookBitmap(int width, int height) { SetSize(width, height); }
    THookBitmap(const THookBitmap&) = delete;
    THookBitmap& operator=(const THookBitmap&) = delete;

    // Reallocates for the new size; the pixels are black afterwards. A size that is not
    // positive leaves an empty bitmap.
    void SetSize(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Bytes from one row to the next.
    int Stride() const { return stride_; }
    bool Empty() const { return pixels_.empty(); }

    // Row y (0 = top); y must lie in 0 .. Height() - 1.
    uint8_t* Row(int y) { return pixels_.data() + static_cast<size_t>(y) * stride_; }
    const uint8_t* Row(int y) const { return pixels_.data() + static_cast<size_t>(y) * stride_; }
    uint8_t* Bits() { return pixels_.data(); }

    // Held by whoever reads or writes the pixels while another thread may do the same; the
    // engine holds it while it fills the bitmap and while the hook runs.
    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }
    // The same, for std::lock_guard and std::unique_lock.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

  private:
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    std::vector<uint8_t> pixels_;
    std::mutex mutex_;
};
