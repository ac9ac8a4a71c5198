// What the user keeps beyond the settings: the saved queue and the own presets, as JSON files in
// the program's data folder, each written whole or not at all.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/core/FileList.h"
#include "app/core/ParameterReaders.h"
#include "app/core/ProfileCatalogue.h"

// One of the user's XDG base folders: the variable's value when it is an absolute path, else
// `belowHome` in the home folder ("XDG_STATE_HOME", ".local/state"), in `homeless` without one.
std::filesystem::path XdgBaseFolder(const char* variable, const char* belowHome,
                                    const char* homeless = "/");

// The data folder as the window finds it ($XDG_DATA_HOME, else ~/.local/share, then
// "Vavuror/daziziz"), for programs without the toolkit's path lookup.
std::filesystem::path DefaultDataFolder();
inline constexpr const char* kQueueFileName = "queue.json";
inline constexpr const char* kPresetsFileName = "presets.json";

// Writes a temporary file beside the target, flushes it to disk and renames it over the target:
// a crash leaves the old file or the new one, never half of one. False with the reason in error.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& text,
                         std::string& error);
// The whole file, or none when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// The choices of the window that a job is built from, by the texts shown (a catalogue line by
// its text, so that a saved choice survives lines added to the list).
struct TSavedChoices {
    std::string Profile;  // the profile's display name
    TParameterChoice Parameters;
    int AspectIndex = 0;
    int LetterBoxIndex = 0;
    int VolumePosition = 5;
    int64_t FitSizeBytes = 0;  // fit to size: the target in bytes; 0 off
};

// Selects each list's entry of the given text; lists without such an entry keep their choice.
void SelectChoices(TParameterLists& lists, const TParameterChoice& choice);

// The queue as saved: its rows with their states, the output folder and the choices.
struct TSavedQueue {
    std::vector<TFileListRow> Rows;
    std::string OutputFolder;
    bool SameFolderAsInput = false;
    TSavedChoices Choices;
};
std::string SavedQueueJson(const TSavedQueue& queue);
// None for a text that is no saved queue. Rows that were converting when the program ended
// come back not done, their partial outputs named in their status (partialPrefix + file name).
std::optional<TSavedQueue> ReadSavedQueue(const std::string& json,
                                          const std::string& partialPrefix);

// A preset: the user's name for a profile with its parameter choices.
struct TPreset {
    std::string Name;
    TSavedChoices Choices;
};

class TPresetStore {
  public:
    const std::vector<TPreset>& Presets() const { return presets_; }
    const TPreset* Find(const std::string& name) const;
    // Adds the preset, or replaces the one of the same name. An empty name is refused.
    bool Save(const TPreset& preset);
    // False when the old name is unknown or the new one empty or taken by another.
    bool Rename(const std::string& oldName, const std::string& newName);
    bool Remove(const std::string& name);
    // Adds the presets of a store's JSON (replacing those of the same names); the number added,
    // or none for a text that is no preset store.
    std::optional<int> Import(const std::string& json);

    std::string Json() const;
    // Replaces the whole store from JSON; false (store unchanged) for a text that is none.
    bool Load(const std::string& json);

  private:
    std::vector<TPreset> presets_;
};
