// Fuzz target: option texts as a task carries them, split into keywords and values and applied
// one after another to a fresh engine. The option layer may refuse a value with its own
// exception; anything else (a crash, undefined behaviour, a leak) is a fault.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "FuzzSupport.h"
#include "engine/CustomFFmpeg.h"
#include "engine/OptionText.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LoadLibrariesForFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TCustomFFmpeg engine;
    engine.OnLog = [](TCustomFFmpeg*, int, const std::string&) {};
    engine.Reset();
    for (const auto& [name, value] : SplitOptionText(text)) {
        // A frame-hook module is a program of its own: loading whatever file a text names is
        // what the keyword is for, not a fault.
        if (name == "vhook") continue;
        try {
            engine.ParseOption(name, value);
        } catch (const std::exception&) {
            // A refusal; the next option goes on from the state it left.
        }
    }
    return 0;
}
