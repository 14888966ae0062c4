// Linux: a Java package is a .tar.gz (or .zip) runtime. It is unpacked with libarchive into a
// fresh folder beside its final place, checked, and only then moved to
// <runtime folder>/<name>; the launcher lists its java executable itself.
//
// Nothing may land outside the fresh folder. libarchive refuses ".." in names and writing through
// links (ARCHIVE_EXTRACT_SECURE_NODOTDOT, ARCHIVE_EXTRACT_SECURE_SYMLINKS); every entry name is
// rewritten to an absolute path below the fresh folder (the working folder belongs to every
// thread, so no chdir), which is why an absolute entry name is refused here rather than by
// ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS. Links must stay inside too: a link's target is
// checked by name when it arrives and, once everything is unpacked, by resolving it.
#include "JavaPackageInstaller.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "Paths.h"
#include "Platform.h"

namespace lumivale {

namespace {

namespace fs = std::filesystem;

class InstallLog {
public:
    explicit InstallLog(const fs::path& file) {
        std::error_code ignored;
        fs::create_directories(file.parent_path(), ignored);
        out_.open(file, std::ios::binary | std::ios::trunc);
    }
    void Line(const std::string& text) {
        if (out_) out_ << text << "\n" << std::flush;
    }

private:
    std::ofstream out_;
};

// The entry's name as a relative path of plain components ("." and empty components dropped);
// nothing when it is absolute or climbs with "..".
std::optional<fs::path> PlainRelative(std::string_view name) {
    if (name.empty() || name.front() == '/') return std::nullopt;
    fs::path relative;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string_view::npos) end = name.size();
        const std::string_view part = name.substr(start, end - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") relative /= fs::path(std::string(part));
        start = end + 1;
    }
    return relative;
}

// A link named `relative` pointing at `target` stays inside the folder, judged by names alone.
bool LinkTargetInside(const fs::path& relative, std::string_view target) {
    if (target.empty() || target.front() == '/') return false;
    int depth = 0;
    for (const auto& part : relative.parent_path()) {
        (void)part;
        ++depth;
    }
    std::size_t start = 0;
    while (start <= target.size()) {
        std::size_t end = target.find('/', start);
        if (end == std::string_view::npos) end = target.size();
        const std::string_view part = target.substr(start, end - start);
        if (part == "..") {
            if (--depth < 0) return false;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return true;
}

bool IsInside(const fs::path& path, const fs::path& folder) {
    const fs::path relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

// Every link below `folder`, fully resolved, leads to a place inside it.
bool LinksStayInside(const fs::path& folder, InstallLog& log) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_symlink(error)) continue;
        const fs::path target = fs::read_symlink(it->path(), error);
        const fs::path resolved = error ? fs::path() : fs::weakly_canonical(it->path().parent_path() / target, error);
        if (error || !IsInside(resolved, folder)) {
            log.Line("拒绝指向目录外的链接：" + PathUtf8(it->path()));
            return false;
        }
    }
    if (error) log.Line("无法检查解压结果：" + error.message());
    return !error;
}

// bin/java at the top of the runtime, or in one folder below it (JDK archives usually hold a
// single "jdk-21.0.2+13" folder).
std::optional<fs::path> FindJava(const fs::path& folder) {
    const auto usable = [](const fs::path& java) {
        std::error_code error;
        const fs::file_status status = fs::status(java, error);
        return !error && fs::is_regular_file(status) &&
               (status.permissions() & fs::perms::owner_exec) != fs::perms::none;
    };
    const fs::path top = fs::path("bin") / platform_constants::kJavaExecutable;
    if (usable(folder / top)) return top;
    std::vector<fs::path> subfolders;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) subfolders.push_back(it->path().filename());
    }
    std::sort(subfolders.begin(), subfolders.end());
    for (const fs::path& sub : subfolders) {
        if (usable(folder / sub / top)) return sub / top;
    }
    return std::nullopt;
}

struct ArchivePair {
    archive* reader = archive_read_new();
    archive* writer = archive_write_disk_new();
    ~ArchivePair() {
        archive_read_free(reader);
        archive_write_free(writer);
    }
};

std::string ErrorOf(archive* handle) {
    const char* text = archive_error_string(handle);
    return text ? text : "unknown error";
}

// Unpacks `package` below `folder` (absolute, without links in it); false with the reason in
// the log on anything refused or unreadable.
bool Unpack(const fs::path& package, const fs::path& folder, InstallLog& log) {
    ArchivePair pair;
    if (!pair.reader || !pair.writer) return false;
    archive_read_support_filter_all(pair.reader);
    archive_read_support_format_tar(pair.reader);
    archive_read_support_format_zip(pair.reader);
    archive_write_disk_set_options(pair.writer, ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                    ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    if (archive_read_open_filename(pair.reader, package.c_str(), 65536) != ARCHIVE_OK) {
        log.Line("无法打开安装包：" + ErrorOf(pair.reader));
        return false;
    }
    std::size_t count = 0;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(pair.reader, &entry);
        if (status == ARCHIVE_EOF) break;
        if (status < ARCHIVE_WARN) {
            log.Line("安装包已损坏：" + ErrorOf(pair.reader));
            return false;
        }
        const char* rawName = archive_entry_pathname(entry);
        const std::string name = rawName ? rawName : "";
        const auto relative = PlainRelative(name);
        if (!relative) {
            log.Line("拒绝目录外的条目：" + name);
            return false;
        }
        if (relative->empty()) continue;  // the archive's own "./"

        const auto type = archive_entry_filetype(entry);
        const char* hardlink = archive_entry_hardlink(entry);
        if (hardlink != nullptr) {
            const auto linked = PlainRelative(hardlink);
            if (!linked || linked->empty()) {
                log.Line("拒绝指向目录外的链接：" + name);
                return false;
            }
            archive_entry_set_hardlink(entry, (folder / *linked).c_str());
        } else if (type == AE_IFLNK) {
            const char* target = archive_entry_symlink(entry);
            if (!target || !LinkTargetInside(*relative, target)) {
                log.Line("拒绝指向目录外的链接：" + name);
                return false;
            }
        } else if (type == AE_IFDIR) {
            archive_entry_set_perm(entry, archive_entry_perm(entry) | 0700);
        } else if (type == AE_IFREG) {
            archive_entry_set_perm(entry, archive_entry_perm(entry) | 0600);
        } else {
            log.Line("拒绝特殊文件：" + name);
            return false;
        }
        archive_entry_set_pathname(entry, (folder / *relative).c_str());

        if (archive_write_header(pair.writer, entry) < ARCHIVE_WARN) {
            log.Line("无法写出 " + name + "：" + ErrorOf(pair.writer));
            return false;
        }
        if (archive_entry_size(entry) > 0) {
            const void* block = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            int read = ARCHIVE_OK;
            while ((read = archive_read_data_block(pair.reader, &block, &size, &offset)) == ARCHIVE_OK) {
                if (archive_write_data_block(pair.writer, block, size, offset) < ARCHIVE_OK) {
                    log.Line("无法写出 " + name + "：" + ErrorOf(pair.writer));
                    return false;
                }
            }
            if (read != ARCHIVE_EOF) {
                log.Line("安装包已损坏：" + ErrorOf(pair.reader));
                return false;
            }
        }
        if (archive_write_finish_entry(pair.writer) < ARCHIVE_WARN) {
            log.Line("无法写出 " + name + "：" + ErrorOf(pair.writer));
            return false;
        }
        ++count;
    }
    if (archive_write_close(pair.writer) < ARCHIVE_WARN) {
        log.Line("无法完成解压：" + ErrorOf(pair.writer));
        return false;
    }
    log.Line("已解压 " + std::to_string(count) + " 个条目");
    return true;
}

class ArchiveJavaInstaller : public JavaPackageInstaller {
public:
    bool NeedsElevation() const override { return false; }
    std::string PackageSuffix() const override { return ".tar.gz"; }

    JavaPackageResult Install(const JavaPackageJob& job, const std::function<void()>&) override {
        InstallLog log(job.log);
        log.Line("安装包：" + PathUtf8(job.package));
        JavaPackageResult result;
        result.outcome = JavaPackageOutcome::Unpackable;

        std::error_code error;
        fs::create_directories(job.runtimeRoot, error);
        // Resolved, so that no link above the fresh folder trips the link check.
        const fs::path root = error ? fs::path() : fs::canonical(job.runtimeRoot, error);
        if (error || job.runtimeName.empty()) {
            log.Line("无法创建运行时目录：" + PathUtf8(job.runtimeRoot));
            return result;
        }
        const fs::path staging = root / (job.runtimeName + ".part");
        const fs::path target = root / job.runtimeName;
        fs::remove_all(staging, error);
        if (!fs::create_directory(staging, error)) {
            log.Line("无法创建目录：" + PathUtf8(staging));
            return result;
        }
        log.Line("解压到：" + PathUtf8(staging));

        std::optional<fs::path> java;
        if (Unpack(job.package, staging, log) && LinksStayInside(staging, log)) {
            java = FindJava(staging);
            if (!java) log.Line("安装包里没有 bin/" + std::string(platform_constants::kJavaExecutable));
        }
        if (java) {
            // A runtime installed before under the same name is replaced.
            fs::remove_all(target, error);
            if (!error) fs::rename(staging, target, error);
            if (error) log.Line("无法移入 " + PathUtf8(target) + "：" + error.message());
        }
        if (!java || error) {
            std::error_code ignored;
            fs::remove_all(staging, ignored);
            log.Line("安装失败，已删除解压目录");
            return result;
        }
        result.outcome = JavaPackageOutcome::Installed;
        result.javaExe = PathUtf8(job.runtimeRoot / job.runtimeName / *java);
        log.Line("已安装：" + result.javaExe);
        return result;
    }
};

}  // namespace

std::shared_ptr<JavaPackageInstaller> MakeJavaPackageInstaller() { return std::make_shared<ArchiveJavaInstaller>(); }

}  // namespace lumivale
