#include "app/version_info.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace mirka {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// Moves the current folder for the life of the object.
class CurrentFolder {
public:
    explicit CurrentFolder(const fs::path& folder) : previous(fs::current_path()) {
        fs::current_path(folder);
    }
    ~CurrentFolder() { fs::current_path(previous); }

private:
    fs::path previous;
};

TEST(VersionInfoTest, BuildStampFromCompilerDateAndTime) {
    EXPECT_EQ(FormatBuildStamp("May  8 2009", "16:04:16"), u"LastModified: 2009/05/08 16:04:16");
    EXPECT_EQ(FormatBuildStamp("Dec 31 1999", "23:59:59"), u"LastModified: 1999/12/31 23:59:59");
    EXPECT_EQ(FormatBuildStamp("jan 1 2024", "00:00:00"), u"LastModified: 2024/01/01 00:00:00");
    EXPECT_EQ(FormatBuildStamp("Foo 12 2024", "01:02:03"), u"LastModified: 2024/00/12 01:02:03");
    EXPECT_EQ(FormatBuildStamp("", ""), u"LastModified: 0000/00/00 ");
}

TEST(VersionInfoTest, ChangeLogLosesItsLastByteOnly) {
    test::TempFolder folder;
    WriteFile(folder.Path() / "changelog.txt", "abc\r\n");
    EXPECT_EQ(ReadChangeLog(folder.Path()), u"abc\r");

    WriteFile(folder.Path() / "changelog.txt", "x");
    EXPECT_EQ(ReadChangeLog(folder.Path()), u"");
    WriteFile(folder.Path() / "changelog.txt", "");
    EXPECT_EQ(ReadChangeLog(folder.Path()), u"");
}

TEST(VersionInfoTest, MissingChangeLogGivesEmptyText) {
    test::TempFolder folder;
    EXPECT_EQ(ReadChangeLog(folder.Path()), u"");
    fs::create_directory(folder.Path() / "changelog.txt");  // a folder cannot be read
    EXPECT_EQ(ReadChangeLog(folder.Path()), u"");
}

TEST(VersionInfoTest, ChangeLogIsTakenFromTheProgramFolderNotTheCurrentOne) {
    test::TempFolder program;
    test::TempFolder elsewhere;
    WriteFile(program.Path() / "changelog.txt", "program\r\n");
    WriteFile(elsewhere.Path() / "changelog.txt", "current\r\n");
    CurrentFolder current(elsewhere.Path());
    EXPECT_EQ(ReadChangeLog(program.Path()), u"program\r");
}

TEST(VersionInfoTest, LongChangeLogIsBounded) {
    test::TempFolder folder;
    WriteFile(folder.Path() / "changelog.txt", std::string(kChangeLogMaxBytes + 100, 'a'));
    EXPECT_EQ(ReadChangeLog(folder.Path()).size(), kChangeLogMaxBytes);
}

}  // namespace
}  // namespace mirka
