#include "LogRecorder.h"

#include <algorithm>

std::ostream& operator<<(std::ostream& out, const TLogLine& line) {
    return out << "(" << line.level << ", \"" << line.text << "\")";
}

void TLogRecorder::Add(int level, std::string text, const void* object) {
    std::lock_guard lock(mutex_);
    lines_.push_back({level, std::move(text), object});
}

std::vector<TLogLine> TLogRecorder::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

int TLogRecorder::Count(const std::string& part) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const TLogLine& line) {
        return line.text.find(part) != std::string::npos;
    }));
}

bool TLogRecorder::Has(const std::string& text) const {
    std::lock_guard lock(mutex_);
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const TLogLine& line) { return line.text == text; });
}

void TLogRecorder::Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}
