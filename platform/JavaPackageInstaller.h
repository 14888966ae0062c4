#pragma once
// Installs a downloaded Java package. Each platform has its own kind of package:
// - Linux: a .tar.gz (or .zip) runtime, unpacked into <runtime folder>/<name> and then listed as a
//   Java the player added by hand (platform/archive/);
// - Windows: a Windows Installer package run elevated through msiexec, which installs the
//   runtime system-wide; exit codes 0 and 3010 mean success (platform/win32/, for the Windows
//   port).
// The texts the page sees are chosen by the caller from the outcome.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace lumivale {

struct JavaPackageJob {
    std::filesystem::path package;      // the downloaded file
    std::filesystem::path runtimeRoot;  // Linux: <program folder>/runtime
    std::string runtimeName;            // Linux: folder name below runtimeRoot (a checked plain name)
    std::filesystem::path log;          // <program folder>/log/java-install.log
};

enum class JavaPackageOutcome {
    Installed,               // done
    InstalledRestartNeeded,  // done, takes effect after a restart (msiexec 3010)
    StartedUnconfirmed,      // started, but whether it finished is unknown (no process to wait for)
    NotStarted,              // the installer could not be started (elevation refused, shell failure)
    Failed,                  // the installer ran and failed with `exitCode`
    Unpackable,              // the package could not be unpacked or holds no java executable
};

struct JavaPackageResult {
    JavaPackageOutcome outcome = JavaPackageOutcome::NotStarted;
    int exitCode = 0;
    // The installed runtime's java executable when the launcher must list it itself (Linux);
    // empty when the system installer registers the runtime (Windows).
    std::string javaExe;
};

class JavaPackageInstaller {
public:
    virtual ~JavaPackageInstaller() = default;

    // Whether installing asks the user for administrator rights (the page says so).
    virtual bool NeedsElevation() const = 0;
    // Ending of the package file name when the backend names none (".msi", ".tar.gz").
    virtual std::string PackageSuffix() const = 0;
    // Installs synchronously on the calling thread (never the UI thread). `awaitingConsent` is
    // called when the installer was started but cannot be watched, before waiting for it.
    virtual JavaPackageResult Install(const JavaPackageJob& job, const std::function<void()>& awaitingConsent) = 0;
};

// This platform's installer.
std::shared_ptr<JavaPackageInstaller> MakeJavaPackageInstaller();

}  // namespace lumivale
