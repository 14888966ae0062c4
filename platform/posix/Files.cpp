#include "Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lumivale {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

struct AtomicFile::State {
    std::filesystem::path target;
    std::filesystem::path temp;
    int fd = -1;
    bool failed = false;
};

AtomicFile::AtomicFile(const std::filesystem::path& target, FileAccess access)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.target = target;
    s.temp = target;
    s.temp += ".tmp";
    const mode_t mode = access == FileAccess::OwnerOnly ? 0600 : 0644;
    s.fd = ::open(s.temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    // An existing .tmp keeps its old mode; make sure a private file is private.
    if (s.fd >= 0 && access == FileAccess::OwnerOnly) ::fchmod(s.fd, 0600);
}

AtomicFile::~AtomicFile() {
    State& s = *state_;
    if (s.fd >= 0) ::close(s.fd);
    if (s.fd >= 0 || s.failed) ::unlink(s.temp.c_str());  // nothing half-done stays behind
}

bool AtomicFile::IsOpen() const { return state_->fd >= 0; }

bool AtomicFile::Write(std::string_view bytes) {
    State& s = *state_;
    if (s.fd < 0 || s.failed) return false;
    if (!WriteAll(s.fd, bytes)) s.failed = true;
    return !s.failed;
}

bool AtomicFile::Commit() {
    State& s = *state_;
    if (s.fd < 0 || s.failed) return false;
    const bool synced = ::fsync(s.fd) == 0;
    const bool closed = ::close(s.fd) == 0;
    s.fd = -1;
    if (!synced || !closed) {
        s.failed = true;
        return false;
    }
    s.failed = ::rename(s.temp.c_str(), s.target.c_str()) != 0;
    return !s.failed;
}

bool CopyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    return !error;
}

bool ReadWholeFile(const std::filesystem::path& file, std::string& out) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        out.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
}

bool AppendToFile(const std::filesystem::path& file, std::string_view bytes, bool truncate) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND);
    const int fd = ::open(file.c_str(), flags, 0644);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, bytes);
    return ::close(fd) == 0 && ok;
}

FileStatus StatFile(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return {};
    return {true, static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec)};
}

bool MakeOwnerOnlyFolder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return false;
    return ::chmod(folder.c_str(), 0700) == 0;
}

}  // namespace lumivale
