// Output names of the user's choosing: a template such as "{date} {title} ({width}x{height})"
// filled from what the input file says of itself, then made a name that Linux and Windows shares
// alike can hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the tokens are filled with. The picture size and codec are the source's.
struct TNameFacts {
    std::string Input;  // the input file's path
    std::string Profile;
    int Width = 0, Height = 0;  // 0 without video
    std::string Codec;          // of the video; empty without video
    std::int64_t DurationUs = -1;
    // When the container says the recording was made, seconds since 1970; 0 when it does not
    // say (then the file's time of change is used).
    std::int64_t CreatedSeconds = 0;
    std::string Title;  // empty when the container has none (then the input's name is used)
};

class TNameTemplate {
  public:
    // Throws TUsageError for an unknown or unclosed token, a "/" (a template names a file; folders
    // come from --keep-tree) and a template that can only give an empty name.
    static TNameTemplate Parse(const std::string& text);

    // The file name without its extension, characters no share can take replaced; empty when the
    // filled template leaves nothing.
    std::string Render(const TNameFacts& facts) const;

  private:
    struct TPiece {
        bool Token = false;
        std::string Text;  // literal text, or the token's name
    };
    std::vector<TPiece> pieces_;
};

// The tokens a template knows, for messages and --help.
const char* NameTokenList();

// A name any share can hold: control characters and < > : " / \ | ? * replaced by "_", bytes
// that are no UTF-8 replaced too, a leading "." (a hidden file) made "_", trailing dots and
// blanks dropped, the names Windows keeps for devices (CON, NUL, COM1, ...) given a "_", and the
// whole cut at a character boundary so that it takes at most `maxBytes` bytes.
std::string SafeFileName(const std::string& name, std::size_t maxBytes);
