// The executable's path and folder, which the configuration, the alarm log
// and the sender are found by.

#include "win32/executable_path_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace kantiq {
namespace {

TEST(ExecutablePath, FolderOfAPathIsEverythingBeforeItsLastBackslash) {
  const std::string folder = "C:\\Program Files\\Kantiq";
  EXPECT_EQ(folderOf("C:\\Program Files\\Kantiq\\Kantiq.exe"), folder);
  EXPECT_EQ(folderOf("C:\\Kantiq.exe"), "C:");
  EXPECT_EQ(folderOf("Kantiq.exe"), "");
}

TEST(ExecutablePath, ExecutableFolderIsTheModulesFolder) {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  ASSERT_GT(n, 0u);
  const std::string full(path, n);
  const std::string folder = executableFolder();
  ASSERT_LT(folder.size(), full.size());
  EXPECT_EQ(full.substr(0, folder.size() + 1), folder + "\\");
  EXPECT_EQ(full.find('\\', folder.size() + 1), std::string::npos);
}

TEST(ExecutablePath, ThePathIsTheModulesWholePath) {
  const std::string path = executablePath();
  char expected[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, expected, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(path, std::string(expected, n));
  EXPECT_EQ(executableFolder(), folderOf(path));
}

}  // namespace
}  // namespace kantiq
