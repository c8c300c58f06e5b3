// Packaging's files through the system: the program's own path, file identity and the system's error codes.
#include "package/win32/win32_package_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/file_identity.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

TEST(Win32PackageFiles, OwnPathCopyReadOnlyIdentityAndSystemErrors) {
  Win32PackageFiles files;
  std::uint32_t error = 0;
  const std::optional<std::string> own = files.ProgramPath(error);
  ASSERT_TRUE(own.has_value());
  EXPECT_NE(own->find("win32_tests"), std::string::npos) << *own;

  const std::string dir = test::ScratchForCurrentTest("w32pack");
  const std::string copy = dir + "\\copy.exe";
  test::WriteFile(copy, "old");
  SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_READONLY);
  files.ClearReadOnly(copy);
  EXPECT_EQ(GetFileAttributesA(copy.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  ASSERT_TRUE(files.Copy(*own, copy, error)) << error;  // over the existing file
  std::vector<std::uint8_t> data;
  ASSERT_TRUE(files.Read(copy, std::size_t{1} << 30, data, error));
  EXPECT_EQ(data.size(), test::ReadFile(*own).size());

  // One file by a hard link, by another spelling, and two files with the same bytes.
  const std::string link = dir + "\\link.exe";
  DeleteFileA(link.c_str());
  ASSERT_TRUE(CreateHardLinkA(link.c_str(), copy.c_str(), nullptr));
  test::WriteFile(dir + "\\other.exe", test::ReadFile(copy));
  EXPECT_TRUE(files.SameFile(copy, link));
  EXPECT_TRUE(SameFile(link, copy));  // what the command line checks its outputs with
  EXPECT_TRUE(files.SameFile(dir + "\\.\\COPY.exe", copy));
  EXPECT_FALSE(files.SameFile(copy, dir + "\\other.exe"));
  EXPECT_FALSE(files.SameFile(copy, dir + "\\missing.bin"));

  EXPECT_FALSE(files.Read(dir + "\\missing.bin", 100, data, error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(files.Append(dir + "\\missing.bin", data.data(), 1, error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace romsetter
