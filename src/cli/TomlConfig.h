// The TOML form of the watch configuration, read into the document its JSON form gives:
//   [[folder]]                     or   [folder.phone]
//   folder = "/srv/in/phone"            folder = "/srv/in/phone"
//   profile = "MP4 - H.264 + AAC"       ...
//   jobs = 2
//   keep_smaller = true
// becomes {"folders": [{"folder": ..., "profile": ..., "jobs": 2, "keep_smaller": true}]}.
// Taken: tables [[folder]] and [folder.NAME] (also [[folders]]), comments, bare and quoted keys,
// texts ("..." with escapes, '...'), whole numbers, true and false, one-line lists of texts.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>

// The document, and in `lines` the line of each key by its JSON pointer ("/folders/0/jobs"),
// of each folder's table by the folder's ("/folders/0"). Throws TUsageError naming the line
// (and the key) of a mistake: "FILE: line 4, key \"jobs\": ...".
nlohmann::ordered_json ReadTomlConfig(const std::string& path, const std::string& text,
                                      std::map<std::string, int>& lines);
