// The first pass of a GIF: the palette its pictures are mapped to, made from the clip itself.
#pragma once

#include <functional>
#include <string>

struct TPaletteRequest {
    std::string InputFile;
    // The pictures as the output shows them: their size (0: the source's) and frame rate
    // (0: the source's), so that the colours are counted as often as the GIF shows them.
    int Width = 0, Height = 0;
    double FrameRate = 0;
    int Colours = 256;              // at most, 2 ... 256
    std::string PaletteFile;        // the palette is written here, a 16x16 PNG
    std::function<bool()> Stopped;  // asked between pictures: true ends the pass
};

// Decodes the input's video (the stream a conversion takes), counts the colours of its pictures
// at the output's size and rate (libavfilter's palettegen), and writes the palette. Returns
// false when stopped; throws std::runtime_error with the reason when the input has no picture
// or a call of the libraries fails.
bool MakePalette(const TPaletteRequest& request);
