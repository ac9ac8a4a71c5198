#include "cli/FolderWatch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

// The kinds of file system (statfs's f_type) whose files other machines change: their changes
// raise no inotify event on this one. FUSE is among them for sshfs and the other remote ones.
struct TRemoteFileSystem {
    unsigned long Magic;
    const char* Name;
};
constexpr TRemoteFileSystem kRemoteFileSystems[] = {
    {0x6969, "nfs"},      {0x517B, "smb"},        {0xFF534D42, "cifs"}, {0xFE534D42, "smb2"},
    {0x65735546, "fuse"}, {0x73757245, "coda"},   {0x5346414F, "afs"},  {0x6B414653, "afs"},
    {0x00C36400, "ceph"}, {0x01021997, "9p"},     {0x564C, "ncp"},      {0x7461636F, "ocfs2"},
    {0x01161970, "gfs2"}, {0x0BD00BD0, "lustre"},
};

constexpr std::uint32_t kEventMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY |
                                     IN_ATTRIB | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR;

}  // namespace

std::string WhyScanFolder(const std::string& folder) {
    struct statfs about {};
    if (::statfs(folder.c_str(), &about) != 0) return {};
    const auto magic = static_cast<unsigned long>(about.f_type) & 0xFFFFFFFFUL;
    for (const TRemoteFileSystem& remote : kRemoteFileSystems) {
        if (remote.Magic == magic)
            return std::string("a network file system (") + remote.Name + ")";
    }
    return {};
}

TFolderEvents::TFolderEvents() {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) openError_ = std::string("no inotify: ") + std::strerror(errno);
}

TFolderEvents::~TFolderEvents() {
    if (fd_ >= 0) ::close(fd_);
}

std::string TFolderEvents::Add(const std::string& folder, std::size_t index) {
    if (fd_ < 0) return openError_;
    const int watch = ::inotify_add_watch(fd_, folder.c_str(), kEventMask);
    if (watch < 0) {
        return std::string("inotify: ") +
               (errno == ENOSPC ? "the limit of watches is reached (fs.inotify.max_user_watches)"
                                : std::strerror(errno));
    }
    folders_[watch] = index;
    return {};
}

std::vector<std::size_t> TFolderEvents::Wait(std::chrono::milliseconds timeout,
                                             std::vector<std::size_t>& lost) {
    std::vector<std::size_t> touched;
    pollfd ready{fd_, POLLIN, 0};
    const int waitMs =
        static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, timeout.count()));
    if (fd_ < 0 || folders_.empty()) {
        ::poll(nullptr, 0, waitMs);
        return touched;
    }
    if (::poll(&ready, 1, waitMs) <= 0) return touched;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got <= 0) break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                for (const auto& [watch, index] : folders_) touched.push_back(index);
                continue;
            }
            const auto folder = folders_.find(event->wd);
            if (folder == folders_.end()) continue;
            if (event->mask & IN_IGNORED) {
                lost.push_back(folder->second);
                folders_.erase(folder);
                continue;
            }
            touched.push_back(folder->second);
        }
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    return touched;
}
