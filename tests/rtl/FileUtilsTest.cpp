#include "rtl/FileUtils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "rtl/Windows.h"

namespace {

namespace fs = std::filesystem;

TEST(FileUtilsTest, SplitsWindowsAndPosixNames) {
  struct Case {
    std::string Name, Drive, Path, Dir, File, Ext;
  } cases[] = {
      {"C:\\data\\demo.db", "C:", "C:\\data\\", "C:\\data", "demo.db", ".db"},
      {"/data/demo.db", "", "/data/", "/data", "demo.db", ".db"},
      {"C:/mixed\\dir/demo.tar.gz", "C:", "C:/mixed\\dir/", "C:/mixed\\dir", "demo.tar.gz", ".gz"},
      {"C:\\demo.db", "C:", "C:\\", "C:\\", "demo.db", ".db"},
      {"/demo.db", "", "/", "/", "demo.db", ".db"},
      {"C:demo.db", "C:", "C:", "C:", "demo.db", ".db"},
      {"\\\\srv\\share\\dir\\a.db", "\\\\srv\\share", "\\\\srv\\share\\dir\\",
       "\\\\srv\\share\\dir", "a.db", ".db"},
      {"demo.db", "", "", "", "demo.db", ".db"},
      {"dir.v2/README", "", "dir.v2/", "dir.v2", "README", ""},
      {"/data/", "", "/data/", "/data", "", ""},
      {"/data/a:b.db", "", "/data/", "/data", "a:b.db", ".db"},  // ':' only after a drive letter
      {"1:x", "", "", "", "1:x", ""},
      {"", "", "", "", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vcl::ExtractFileDrive(c.Name), c.Drive) << c.Name;
    EXPECT_EQ(vcl::ExtractFilePath(c.Name), c.Path) << c.Name;
    EXPECT_EQ(vcl::ExtractFileDir(c.Name), c.Dir) << c.Name;
    EXPECT_EQ(vcl::ExtractFileName(c.Name), c.File) << c.Name;
    EXPECT_EQ(vcl::ExtractFileExt(c.Name), c.Ext) << c.Name;
    EXPECT_EQ(vcl::ExtractFilePath(c.Name) + vcl::ExtractFileName(c.Name), c.Name);
  }
}

TEST(FileUtilsTest, ChangeFileExtReplacesOnlyTheNamesExtension) {
  struct Case {
    std::string Name, Ext, Expected;
  } cases[] = {
      {"C:\\data\\demo.db", ".log", "C:\\data\\demo.log"},
      {"/data/demo", ".db", "/data/demo.db"},
      {"/data.v1/demo", ".db", "/data.v1/demo.db"},
      {"a.tar.gz", ".zip", "a.tar.zip"},
      {"demo.db", "", "demo"},
  };
  for (const Case& c : cases) EXPECT_EQ(vcl::ChangeFileExt(c.Name, c.Ext), c.Expected) << c.Name;
}

TEST(FileUtilsTest, TrailingDelimiters) {
  struct Case {
    std::string In, Included, Excluded;
  } cases[] = {
      {"/data", "/data/", "/data"},
      {"/data/", "/data/", "/data"},
      {"C:\\data", "C:\\data\\", "C:\\data"},
      {"C:\\data\\", "C:\\data\\", "C:\\data"},
      {"C:", "C:\\", "C:"},
      {"rel/dir", "rel/dir/", "rel/dir"},
      {"dir", "dir/", "dir"},
      {"/", "/", "/"},           // the root stays the root
      {"C:\\", "C:\\", "C:\\"},
      {"", "", ""},              // "here" must not become the root
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vcl::IncludeTrailingPathDelimiter(c.In), c.Included) << c.In;
    EXPECT_EQ(vcl::ExcludeTrailingPathDelimiter(c.In), c.Excluded) << c.In;
  }
}

class FileUtilsDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/fileutils_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    FDir = fs::canonical(tmpl).string();
    FOldCwd = fs::current_path().string();
  }
  void TearDown() override {
    fs::current_path(FOldCwd);
    fs::remove_all(FDir);
  }
  std::string Touch(const std::string& Name) {
    const std::string p = FDir + "/" + Name;
    std::ofstream(p) << "x";
    return p;
  }
  std::string FDir, FOldCwd;
};

TEST_F(FileUtilsDirTest, ExpandFileNameNormalises) {
  fs::current_path(FDir);
  struct Case {
    std::string In, Expected;
  } cases[] = {
      {"demo.db", FDir + "/demo.db"},
      {"./a/../b//c.db", FDir + "/b/c.db"},
      {"", FDir},
      {"/x/./y/../z", "/x/z"},
      {"/../../etc", "/etc"},
      {"/data/dir/", "/data/dir/"},
      {"C:\\data\\..\\demo.db", "C:\\demo.db"},
      {"C:/a/./b", "C:\\a\\b"},
      {"\\\\srv\\share\\a\\..\\b", "\\\\srv\\share\\b"},
  };
  for (const Case& c : cases) EXPECT_EQ(vcl::ExpandFileName(c.In), c.Expected) << c.In;
}

TEST_F(FileUtilsDirTest, ExistenceDistinguishesFilesAndDirectories) {
  const std::string file = Touch("demo.db");
  fs::create_directory(FDir + "/sub");
  fs::create_symlink(file, FDir + "/link.db");
  fs::create_symlink(FDir + "/missing", FDir + "/dangling");
  EXPECT_TRUE(vcl::FileExists(file));
  EXPECT_TRUE(vcl::FileExists(FDir + "/link.db"));
  EXPECT_FALSE(vcl::FileExists(FDir + "/dangling"));
  EXPECT_FALSE(vcl::FileExists(FDir + "/sub"));
  EXPECT_FALSE(vcl::FileExists(FDir + "/none.db"));
  EXPECT_FALSE(vcl::FileExists(""));
  EXPECT_TRUE(vcl::DirectoryExists(FDir + "/sub"));
  EXPECT_TRUE(vcl::DirectoryExists(FDir + "/sub/"));
  EXPECT_FALSE(vcl::DirectoryExists(file));
  EXPECT_FALSE(vcl::DirectoryExists(""));
}

TEST_F(FileUtilsDirTest, DeleteFileReportsFailures) {
  const std::string file = Touch("demo.db");
  fs::create_directory(FDir + "/sub");
  EXPECT_TRUE(vcl::DeleteFile(file));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(vcl::DeleteFile(file));
  EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(vcl::DeleteFile(FDir + "/sub"));  // not a file
  EXPECT_TRUE(fs::exists(FDir + "/sub"));
}

TEST_F(FileUtilsDirTest, RenameFileNeverReplaces) {
  const std::string a = Touch("a.db");
  const std::string b = FDir + "/b.db";
  EXPECT_TRUE(vcl::RenameFile(a, b));
  EXPECT_FALSE(fs::exists(a));
  EXPECT_TRUE(fs::exists(b));

  const std::string c = Touch("c.db");
  std::ofstream(b) << "keep";
  EXPECT_FALSE(vcl::RenameFile(c, b));
  EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_FILE_EXISTS);
  std::ifstream in(b);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");
  EXPECT_TRUE(fs::exists(c));

  EXPECT_FALSE(vcl::RenameFile(FDir + "/none.db", FDir + "/other.db"));
  EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_FILE_NOT_FOUND);
}

}  // namespace
