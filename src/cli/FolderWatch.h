// How `watch` learns that something changed in its folders: the kernel's inotify events where
// they come, a scan at intervals where they do not (no inotify, or a network file system, whose
// changes made by other machines raise no event here).
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

// Why the folder's changes cannot be learnt from events (such as "a network file system
// (nfs)"); empty when they can.
std::string WhyScanFolder(const std::string& folder);

// One inotify instance for every folder watched by events, each known by the number it was
// added with.
class TFolderEvents {
  public:
    TFolderEvents();
    ~TFolderEvents();
    TFolderEvents(const TFolderEvents&) = delete;
    TFolderEvents& operator=(const TFolderEvents&) = delete;

    // Watches `folder` as number `index`: files created, written and closed, moved in, changed
    // or removed. Returns why it cannot be (the folder is then to be scanned), or empty.
    std::string Add(const std::string& folder, std::size_t index);

    // Waits up to `timeout` for events, less when a signal comes. The numbers of the folders
    // that had some (every folder when the kernel dropped events); `lost` gets those that are no
    // longer watched (the folder was removed or its file system unmounted).
    std::vector<std::size_t> Wait(std::chrono::milliseconds timeout,
                                  std::vector<std::size_t>& lost);

  private:
    int fd_ = -1;
    std::string openError_;
    std::map<int, std::size_t> folders_;  // watch descriptor -> folder number
};
