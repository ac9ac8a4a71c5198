// Log lines as tests record them, from whatever thread writes them.
#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

// One line: the level its writer gave it, its text, and the library object it names (the
// library's own log only).
struct TLogLine {
    int level = 0;
    std::string text;
    const void* object = nullptr;
    bool operator==(const TLogLine&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TLogLine& line);

class TLogRecorder {
  public:
    void Add(int level, std::string text, const void* object = nullptr);
    std::vector<TLogLine> Lines() const;
    // How many lines contain the text.
    int Count(const std::string& part) const;
    // Whether a line reads exactly the text.
    bool Has(const std::string& text) const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<TLogLine> lines_;
};
