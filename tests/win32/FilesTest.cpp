// Windows files: Chinese UTF-8 names, atomic replace, owner-only DACLs, appends, times, the launcher's folders.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <vector>

#include "Files.h"
#include "Paths.h"
#include "Portable.h"
#include "TempHome.h"
#include "Text.h"

namespace lumivale {
namespace {

namespace fs = std::filesystem;
using test::AccessMode;
using test::ReadFile;
using test::WriteFile;

TEST(Win32Files, ChineseNamesAtomicReplaceAppendsAndTimes) {
    test::TempHome home;
    const std::string folderText = PathUtf8(home.root()) + "\\启动器 文件";
    const fs::path folder = Utf8Path(folderText);
    ASSERT_EQ(PathUtf8(folder), folderText);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));  // the same folder as the system names it
    const fs::path file = folder / Utf8Path("配置.ini");

    ASSERT_TRUE(WriteFileAtomically(file, "first"));
    ASSERT_TRUE(WriteFileAtomically(file, std::string("second\r\n\x1A\0", 10)));  // replaces, bytes as given
    EXPECT_EQ(ReadFile(file), std::string("second\r\n\x1A\0", 10));
    EXPECT_FALSE(fs::exists(folder / Utf8Path("配置.ini.tmp")));
    std::string read;
    ASSERT_TRUE(ReadWholeFile(file, read));
    EXPECT_EQ(read, ReadFile(file));
    EXPECT_FALSE(ReadWholeFile(folder / "missing", read));

    // A failed write keeps the old file: the temporary name is taken by a folder.
    fs::create_directories(folder / Utf8Path("配置.ini.tmp"));
    EXPECT_FALSE(WriteFileAtomically(file, "third"));
    EXPECT_EQ(ReadFile(file), std::string("second\r\n\x1A\0", 10));
    fs::remove(folder / Utf8Path("配置.ini.tmp"));

    {
        AtomicFile abandoned(file);  // destroyed without Commit
        ASSERT_TRUE(abandoned.Write("never"));
    }
    EXPECT_EQ(ReadFile(file), std::string("second\r\n\x1A\0", 10));
    EXPECT_FALSE(fs::exists(folder / Utf8Path("配置.ini.tmp")));

    const fs::path log = folder / Utf8Path("日志.log");
    ASSERT_TRUE(AppendToFile(log, "a\n", false));
    ASSERT_TRUE(AppendToFile(log, "b\n", false));
    EXPECT_EQ(ReadFile(log), "a\nb\n");
    ASSERT_TRUE(AppendToFile(log, "c\n", true));
    EXPECT_EQ(ReadFile(log), "c\n");

    test::SetModifiedTime(log, 1'700'000'000);
    const FileStatus status = StatFile(log);
    EXPECT_TRUE(status.exists);
    EXPECT_EQ(status.size, 2u);
    EXPECT_EQ(status.modifiedUnixSeconds, 1'700'000'000);
    EXPECT_FALSE(StatFile(folder / "missing").exists);
}

TEST(Win32Files, OwnerOnlyFilesAndFoldersGetAProtectedDaclOfTheUserAlone) {
    // What is applied: full access for the current user, nothing inherited from the parent.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user.data(), size, &size));
    CloseHandle(token);
    LPWSTR sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid));
    const std::wstring expected = std::wstring(L"D:P(A;OICI;FA;;;") + sid + L")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = win32::OwnerOnlyDescriptor();
    ASSERT_NE(descriptor, nullptr);
    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &text, nullptr));
    EXPECT_EQ(std::wstring(text), expected);
    LocalFree(text);
    LocalFree(descriptor);

    test::TempHome home;
    const fs::path folder = home.root() / Utf8Path("私密");
    ASSERT_TRUE(MakeOwnerOnlyFolder(folder / "inner"));
    // An old temporary file (with the parent's entries) is reused and made private.
    const fs::path secret = home.root() / "secret.json";
    WriteFile(home.root() / "secret.json.tmp", "leftover");
    ASSERT_TRUE(WriteFileAtomically(secret, "{}", FileAccess::OwnerOnly));
    EXPECT_EQ(ReadFile(secret), "{}");
    const fs::path shared = home.root() / "shared.txt";
    ASSERT_TRUE(WriteFileAtomically(shared, "x"));
    if (test::RunningUnderWine()) GTEST_SKIP() << "Wine takes a file's DACL without keeping it";
    EXPECT_EQ(AccessMode(folder / "inner"), 0700u);
    EXPECT_EQ(AccessMode(secret), 0600u);
    EXPECT_EQ(AccessMode(shared), 0777u);
    EXPECT_EQ(AccessMode(home.root()), 0777u);  // the test's own folder is left as it was
}

TEST(Win32Paths, FoldersComeFromTheSystemAndTheEnvironment) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    EXPECT_EQ(ExecutableFolder(), fs::path(exe).parent_path());

    const fs::path temp = TempFolder();
    EXPECT_TRUE(fs::is_directory(temp));
    const std::wstring tempText = temp.wstring();
    EXPECT_NE(tempText.back(), L'\\');

    test::SetEnv("LUMIVALE_测试", "值 ü");
    EXPECT_EQ(EnvironmentValue("LUMIVALE_测试"), "值 ü");
    test::SetEnv("LUMIVALE_测试", "");
    EXPECT_FALSE(EnvironmentValue("LUMIVALE_测试").has_value());

    const auto local = EnvironmentValue("LOCALAPPDATA");
    const auto profile = EnvironmentValue("USERPROFILE");
    test::SetEnv("LOCALAPPDATA", "C:\\数据\\");
    EXPECT_EQ(PathUtf8(UserDataFolder()), "C:\\数据\\LumivaleLauncher");
    test::UnsetEnv("LOCALAPPDATA");
    test::SetEnv("USERPROFILE", "C:\\Users\\玩家");
    EXPECT_EQ(PathUtf8(UserDataFolder()), "C:\\Users\\玩家\\AppData\\Local\\LumivaleLauncher");
    test::UnsetEnv("USERPROFILE");
    EXPECT_EQ(PathUtf8(UserDataFolder()), "C:\\Users\\Public\\LumivaleLauncher");
    if (local) test::SetEnv("LOCALAPPDATA", *local);
    if (profile) test::SetEnv("USERPROFILE", *profile);
}

}  // namespace
}  // namespace lumivale
