// Windows: a Java package is a Windows Installer package. It is run elevated through the shell
// ("runas" msiexec), silently, with a verbose log; exit codes 0 and 3010 (restart needed) mean
// success. The installer registers the runtime with the system, so the launcher lists nothing
// itself: the next start-up scan or "java:browse" finds it.
//
// Built by the Windows port only (the Linux build compiles platform/archive/ instead).
#include "JavaPackageInstaller.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <system_error>

#include "Paths.h"

namespace lumivale {

namespace {

namespace fs = std::filesystem;

// When the shell hands back no process, the package is deleted as soon as msiexec lets go of it.
constexpr DWORD kConsentWaitMs = 15000;
constexpr int kDeleteTries = 45;
constexpr DWORD kDeleteRetryMs = 2000;

// Deleted, or already gone.
bool PackageReleased(const fs::path& package) {
    if (DeleteFileW(package.c_str())) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

class MsiJavaInstaller : public JavaPackageInstaller {
public:
    bool NeedsElevation() const override { return true; }
    std::string PackageSuffix() const override { return ".msi"; }

    JavaPackageResult Install(const JavaPackageJob& job, const std::function<void()>& awaitingConsent) override {
        JavaPackageResult result;
        std::error_code ignored;
        fs::create_directories(job.log.parent_path(), ignored);

        const std::wstring parameters = L"/i \"" + job.package.wstring() + L"\" /qn /norestart /L*V \"" +
                                        job.log.wstring() + L"\"";
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = L"runas";
        info.lpFile = L"msiexec";
        info.lpParameters = parameters.c_str();
        info.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&info)) {
            result.outcome = JavaPackageOutcome::NotStarted;  // includes a refused elevation prompt
            return result;
        }

        if (info.hProcess == nullptr) {
            if (awaitingConsent) awaitingConsent();
            Sleep(kConsentWaitMs);
            for (int attempt = 0; attempt < kDeleteTries; ++attempt) {
                if (PackageReleased(job.package)) {
                    result.outcome = JavaPackageOutcome::Installed;
                    Notify();
                    return result;
                }
                Sleep(kDeleteRetryMs);
            }
            result.outcome = JavaPackageOutcome::StartedUnconfirmed;
            return result;
        }

        WaitForSingleObject(info.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hProcess);
        result.exitCode = static_cast<int>(code);
        if (code == 0 || code == 3010) {
            result.outcome = code == 3010 ? JavaPackageOutcome::InstalledRestartNeeded : JavaPackageOutcome::Installed;
            Notify();
        } else {
            result.outcome = JavaPackageOutcome::Failed;
        }
        return result;
    }

private:
    // Tells the shell the program folder changed, so open Explorer windows refresh.
    static void Notify() {
        const std::wstring folder = ProgramFolder().wstring();
        SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW | SHCNF_FLUSH, folder.c_str(), nullptr);
    }
};

}  // namespace

std::shared_ptr<JavaPackageInstaller> MakeJavaPackageInstaller() { return std::make_shared<MsiJavaInstaller>(); }

}  // namespace lumivale
