// Waiting in tests for what another thread makes true, with a limit generous enough for a loaded
// machine: a fault then fails the test instead of hanging it.
#pragma once

#include <chrono>
#include <functional>

inline constexpr std::chrono::seconds kTestPatience{120};

// Looks at the condition every few milliseconds until it holds; false once the limit has passed.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::steady_clock::duration limit = kTestPatience);
