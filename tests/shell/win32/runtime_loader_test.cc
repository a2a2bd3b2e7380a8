// The installed-runtime lookup against registry entries and version folders
// made here, under a key of the test's own.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "shell/win32/runtime_loader.h"

namespace varnholt_app {
namespace {

constexpr wchar_t kKey[] = L"SOFTWARE\\VarnholtTest\\ClientState\\{runtime}";
constexpr wchar_t kDll[] = L"EBWebView\\x64\\EmbeddedBrowserWebView.dll";

void setFolder(HKEY root, const std::filesystem::path& folder) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, kKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                            &key, nullptr), ERROR_SUCCESS);
  const std::wstring text = folder.wstring() + L"\\";  // a trailing separator is allowed
  RegSetValueExW(key, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

TEST(RuntimeLoader, TakesTheFirstRegisteredVersionFolderThatHoldsTheClientDll) {
  const auto root = std::filesystem::temp_directory_path() / L"varnholt-runtime-test";
  const auto machine = root / L"machine" / L"120.0.1.2";
  const auto user = root / L"user" / L"121.0.3.4";
  std::filesystem::create_directories(machine);  // no DLL yet
  std::filesystem::create_directories((user / kDll).parent_path());
  std::FILE* file = _wfopen((user / kDll).c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);

  EXPECT_EQ(findRuntimeClientDll(kKey), L"") << "no key";
  setFolder(HKEY_CURRENT_USER, user);
  setFolder(HKEY_LOCAL_MACHINE, machine);
  EXPECT_EQ(findRuntimeClientDll(kKey), (user / kDll).wstring())
      << "the machine's folder lacks the DLL: the user's is next";
  std::filesystem::create_directories((machine / kDll).parent_path());
  std::filesystem::copy_file(user / kDll, machine / kDll);
  EXPECT_EQ(findRuntimeClientDll(kKey), (machine / kDll).wstring()) << "per machine first";

  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    RegDeleteTreeW(hive, L"SOFTWARE\\VarnholtTest");
  }
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace varnholt_app
