// Black bars: the picture of a video sampled at about ten positions, and the crop that takes away
// only the bars every sampled picture has. Offered, never applied unless asked for.
//
// Conservative by design: a row or column counts as bar only when every one of its pixels is
// black (a white logo in a bar keeps the bar); a picture that is black all over (a fade, the
// first seconds of a film) says nothing; every picture that shows something must keep it, so a
// picture that changes its shape loses none of it; and a side is cropped only where most
// pictures show a clear edge between the bar and the picture, so a dark scene's black margins
// stay. (This is stricter than the crop most pictures hold: it is the crop all of them hold.) The
// crop is rounded outwards to what the encoder takes (even sizes and offsets for 4:2:0 pictures).
#pragma once

#include <optional>
#include <string>

struct TBlackBarCrop {
    int Width = 0;  // the picture kept
    int Height = 0;
    int X = 0;  // its top left corner in the source's picture
    int Y = 0;
    int SourceWidth = 0;
    int SourceHeight = 0;
    int Top() const { return Y; }
    int Bottom() const { return SourceHeight - Height - Y; }
    int Left() const { return X; }
    int Right() const { return SourceWidth - Width - X; }
    bool Crops() const { return Width < SourceWidth || Height < SourceHeight; }
    // "crop=W:H:X:Y"
    std::string Text() const;
};

struct TBlackBarSearch {
    std::optional<TBlackBarCrop> Crop;  // none when no picture could be read
    int Pictures = 0;                   // sampled pictures that showed something
    std::string Reason;                 // why there is no crop, in words
};

// The crop of the file's video (the stream a conversion takes); the libraries must be loaded.
// A file whose pictures are turned by a display matrix gets none (its bars would be found on the
// picture as stored, not as shown).
TBlackBarSearch FindBlackBars(const std::string& path, int positions = 10);
