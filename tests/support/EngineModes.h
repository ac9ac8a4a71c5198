// The engine's two ways of running a job, as a test parameter: its stages on threads of their
// own ("Pipelined", the default) or the one loop that does them in turn ("OneLoop"). Suites of
// whole conversions run every case in both, because both must give the same output.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>

inline const char* EngineModeName(bool pipeline) {
    return pipeline ? "Pipelined" : "OneLoop";
}

inline auto EngineModes() {
    return ::testing::Values(true, false);
}

// Test names of a suite parameterised by the mode alone.
struct TEngineModeName {
    std::string operator()(const ::testing::TestParamInfo<bool>& info) const {
        return EngineModeName(info.param);
    }
};

// Test names of a table combined with the mode: the case's own name (its `name` field), then
// the mode.
struct TCaseAndModeName {
    template <typename TCase>
    std::string operator()(const ::testing::TestParamInfo<std::tuple<TCase, bool>>& info) const {
        return std::string(std::get<0>(info.param).name) + "_" +
               EngineModeName(std::get<1>(info.param));
    }
};
