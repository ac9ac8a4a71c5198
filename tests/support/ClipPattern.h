// The picture layout WriteClip draws and ReadFrameNumber reads back.
//
// The frame number is drawn as four 3x5 digits on a grid of kGridColumns x kGridRows cells that
// always spans the whole picture, so a picture scaled to any size keeps the same cells. At
// 320x240 a cell is 8x8 pixels (4x4 at half size): coarse enough to survive lossy coding.
// Digit strokes are white on a black box; the box's border cells stay black.
#pragma once

#include <cstdint>

namespace clip_pattern {

constexpr int kGridColumns = 40, kGridRows = 30;
constexpr int kDigits = 4;  // the frame number modulo 10000
constexpr int kDigitColumns = 3, kDigitRows = 5, kDigitPitch = 4;
// The box: columns [kBoxLeft, kBoxRight), rows [kBoxTop, kBoxBottom); digit k starts at column
// kBoxLeft + 1 + k * kDigitPitch, row kBoxTop + 1.
constexpr int kBoxLeft = 1, kBoxTop = 1;
constexpr int kBoxRight = kBoxLeft + 1 + kDigits * kDigitPitch, kBoxBottom = kBoxTop + 7;
constexpr uint8_t kDark = 16, kLight = 235;

// One 15-bit pattern per digit, row by row from the top, the left column in the highest bit.
constexpr uint16_t kFont[10] = {
    0b111'101'101'101'111,  // 0
    0b010'110'010'010'111,  // 1
    0b111'001'111'100'111,  // 2
    0b111'001'111'001'111,  // 3
    0b101'101'111'001'001,  // 4
    0b111'100'111'001'111,  // 5
    0b111'100'111'101'111,  // 6
    0b111'001'001'001'001,  // 7
    0b111'101'111'101'111,  // 8
    0b111'101'111'001'111,  // 9
};

// Whether grid cell (column, row) inside the box is a lit stroke of `number`.
inline bool CellLit(int64_t number, int column, int row) {
    const int digitRow = row - (kBoxTop + 1), offset = column - (kBoxLeft + 1);
    if (digitRow < 0 || digitRow >= kDigitRows || offset < 0) return false;
    const int k = offset / kDigitPitch, digitColumn = offset % kDigitPitch;
    if (k >= kDigits || digitColumn >= kDigitColumns) return false;
    int64_t divisor = 1;
    for (int i = k + 1; i < kDigits; ++i) divisor *= 10;
    const int digit = int(number / divisor % 10);
    const int bit = (kDigitRows - 1 - digitRow) * kDigitColumns + (kDigitColumns - 1 - digitColumn);
    return kFont[digit] >> bit & 1;
}

}  // namespace clip_pattern
