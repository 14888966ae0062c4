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

bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         FileAccess access) {
    std::filesystem::path temp = target;
    temp += ".tmp";
    const mode_t mode = access == FileAccess::OwnerOnly ? 0600 : 0644;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return false;
    // An existing .tmp keeps its old mode; make sure a private file is private.
    if (access == FileAccess::OwnerOnly) ::fchmod(fd, 0600);
    const bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok) {
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());  // nothing half-done stays behind
        return false;
    }
    return true;
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
