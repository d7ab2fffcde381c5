#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sys/Directory.h"
#include "sys/Files.h"

namespace {

// Folder and file names outside ASCII (here one byte of the ANSI code page) must survive the
// round trip from the current directory through the file list to fopen.
TEST(AnsiPaths, CurrentDirectoryListAndOpenAgree) {
  char temp[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
  const std::string folder = std::string(temp) + "odflash_\xE9";
  const std::string name = "\xE9t\xE9.BIN";
  CreateDirectoryA(folder.c_str(), nullptr);
  std::FILE* file = std::fopen(sys::JoinPath(folder, name).c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);

  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
  const std::string current = sys::CurrentDirectory();
  SetCurrentDirectoryA(previous);

  EXPECT_EQ(sys::FileNameOf(current), "odflash_\xE9");
  EXPECT_EQ(sys::ListFiles(current, "*.BIN"), std::vector<std::string>{name});
  EXPECT_TRUE(sys::FileExists(sys::JoinPath(current, name)));
  EXPECT_TRUE(sys::SameFile(sys::JoinPath(current, name), sys::JoinPath(folder, name)));

  DeleteFileA(sys::JoinPath(folder, name).c_str());
  RemoveDirectoryA(folder.c_str());
}

} // namespace
