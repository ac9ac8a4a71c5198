#include "cli/SetAside.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "app/core/OutputNames.h"
#include "app/core/UserData.h"
#include "cli/StopPoint.h"

namespace fs = std::filesystem;

namespace {

std::string SystemError(const std::string& what, int error = errno) {
    return what + ": " + std::strerror(error);
}

bool DeviceOf(const std::string& path, dev_t& device) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return false;
    device = status.st_dev;
    return true;
}

// The top folder of the file system the path is on (where it is mounted).
fs::path MountTop(const fs::path& path) {
    dev_t device = 0;
    DeviceOf(path.string(), device);
    fs::path top = path.parent_path();
    for (fs::path up = top.parent_path(); up != top; up = top.parent_path()) {
        dev_t upDevice = 0;
        if (!DeviceOf(up.string(), upDevice) || upDevice != device) break;
        top = up;
    }
    return top;
}

// A path as the trash records it: bytes other than letters, digits, "/" and "-_.~" written %XX.
std::string Escaped(const std::string& path) {
    std::string text;
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-_.~", c)) {
            text += static_cast<char>(c);
        } else {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", c);
            text += code;
        }
    }
    return text;
}

// files/ and info/ of a trash folder, made when missing (private to the user).
void MakeTrash(const fs::path& trash) {
    std::error_code made;
    fs::create_directories(trash.parent_path(), made);
    for (const char* part : {"", "files", "info"}) {
        const fs::path folder = trash / part;
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::runtime_error(SystemError("the trash folder " + folder.string()));
    }
}

// The trash on the file's own file system, when not the home trash: TOP/.Trash/UID when the
// administrator made TOP/.Trash (sticky, no link), else TOP/.Trash-UID.
fs::path TrashOnFileSystemOf(const fs::path& file, fs::path& top) {
    top = MountTop(file);
    const std::string uid = std::to_string(::getuid());
    struct stat shared {};
    if (::lstat((top / ".Trash").c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) &&
        (shared.st_mode & S_ISVTX)) {
        try {
            MakeTrash(top / ".Trash" / uid);
            return top / ".Trash" / uid;
        } catch (const std::runtime_error&) {
            // Not writable for us: the trash of our own below.
        }
    }
    MakeTrash(top / (".Trash-" + uid));
    return top / (".Trash-" + uid);
}

std::string DeletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// Writes the text into the file and flushes it to disk.
std::string WriteDurably(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return SystemError(path);
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = ok && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    return ok ? std::string() : SystemError(path, error);
}

void SyncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Copies the file to `target` through a hidden file beside it, flushed before it is renamed.
std::string CopyDurably(const std::string& file, const fs::path& target) {
    const fs::path part = target.parent_path() / ("." + target.filename().string() + ".archiving");
    const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return SystemError(file);
    const int out = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        const std::string why = SystemError(part.string());
        ::close(in);
        return why;
    }
    struct stat status {};
    ::fstat(in, &status);
    std::string why;
    char buffer[1 << 16];
    off_t copied = 0;
    for (ssize_t got; why.empty() && (got = ::read(in, buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            why = SystemError(file);
            break;
        }
        for (ssize_t at = 0; at < got && why.empty();) {
            const ssize_t put = ::write(out, buffer + at, got - at);
            if (put < 0) why = SystemError("the archive folder " + target.parent_path().string());
            at += put > 0 ? put : 0;
        }
        copied += got;
        if (copied >= status.st_size / 2 && copied - got < status.st_size / 2)
            StopPointReached("archive-copying");
    }
    if (why.empty() && ::fsync(out) != 0) why = SystemError(part.string());
    ::fchmod(out, status.st_mode & 07777);
    ::close(in);
    ::close(out);
    StopPointReached("archive-part-written");
    if (why.empty() && ::rename(part.c_str(), target.c_str()) != 0)
        why = SystemError(target.string());
    if (!why.empty()) {
        ::unlink(part.c_str());
        return why;
    }
    SyncFolder(target.parent_path());
    return {};
}

}  // namespace

std::string HomeTrashFolder() {
    return (XdgBaseFolder("XDG_DATA_HOME", ".local/share") / "Trash").string();
}

TSetAsidePlace TrashPlaceFor(const std::string& fileText) {
    const fs::path file = fs::absolute(fileText).lexically_normal();
    fs::path trash = HomeTrashFolder();
    MakeTrash(trash);
    dev_t fileDevice = 0, trashDevice = 0;
    if (!DeviceOf(file.string(), fileDevice) || !DeviceOf(trash.string(), trashDevice))
        throw std::runtime_error(SystemError(file.string()));
    // The home trash holds absolute paths; one on the file's own file system, paths from its top.
    std::string recorded = file.string();
    if (fileDevice != trashDevice) {
        fs::path top;
        trash = TrashOnFileSystemOf(file, top);
        recorded = file.lexically_relative(top).string();
    }
    const std::string name = file.filename().string();
    for (int n = 1;; ++n) {
        const std::string candidate = n == 1 ? name : name + "." + std::to_string(n);
        const fs::path destination = trash / "files" / candidate;
        const fs::path info = trash / "info" / (candidate + ".trashinfo");
        std::error_code error;
        if (fs::exists(fs::symlink_status(destination, error)) ||
            fs::exists(fs::symlink_status(info, error)))
            continue;
        return {
            destination.string(), info.string(),
            "[Trash Info]\nPath=" + Escaped(recorded) + "\nDeletionDate=" + DeletionDate() + "\n"};
    }
}

TSetAsidePlace ArchivePlaceFor(const std::string& file, const std::string& folder) {
    const fs::path wanted = fs::path(folder) / fs::path(file).filename();
    return {UniqueOutputName(wanted.string(), wanted.extension().string()), "", ""};
}

std::string SetAside(const std::string& file, const TSetAsidePlace& place) {
    const fs::path destination(place.Destination);
    if (!place.InfoFile.empty()) {
        // The record first, as the trash wants it: a file in files/ never lacks its record.
        if (std::string why = WriteDurably(place.InfoFile, place.InfoText); !why.empty())
            return "the trash: " + why;
        StopPointReached("trash-info-written");
        if (::rename(file.c_str(), destination.c_str()) != 0) {
            const std::string why = SystemError("moving it to the trash");
            ::unlink(place.InfoFile.c_str());
            return why;
        }
        SyncFolder(destination.parent_path());
        return {};
    }
    if (::rename(file.c_str(), destination.c_str()) == 0) {
        SyncFolder(destination.parent_path());
        return {};
    }
    if (errno != EXDEV) return SystemError("moving it to " + destination.parent_path().string());
    if (std::string why = CopyDurably(file, destination); !why.empty()) return why;
    StopPointReached("archive-copied");
    if (::unlink(file.c_str()) != 0) return SystemError("removing " + file + " after its copy");
    SyncFolder(fs::path(file).parent_path());
    return {};
}
