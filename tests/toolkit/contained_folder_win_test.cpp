// The Windows half of the contained folder: names that mean something else to Windows, and
// the same checks as on POSIX through handles. Japanese names go through ToFsPath: a narrow
// one would be read in the ANSI code page.
#include <fstream>
#include <system_error>

#include <gtest/gtest.h>

#include "support/temp_folder.h"
#include "toolkit/contained_folder.h"
#include "toolkit/file_system.h"

namespace mirka {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

void WriteBytes(const fs::path& path, std::size_t count) {
    std::ofstream(path, std::ios::binary) << std::string(count, 'x');
}

TEST(ContainedFolderWinTest, NamesWindowsReadsOtherwiseAreRefused) {
    TempFolder receive;
    WriteBytes(receive.Path() / "file.txt", 3);
    auto root = ContainedFolder::Open(FromFsPath(receive.Path()));
    ASSERT_TRUE(root);
    using Opening = ContainedFolder::Opening;

    // A stream of another file, a device, a name the system would shorten, a wildcard.
    for (const WString& name :
         {WString(u"file.txt:hidden"), WString(u"CON"), WString(u"nul.txt"), WString(u"COM1"),
          WString(u"lpt9.log"), WString(u"trailing."), WString(u"space "), WString(u"a*b"),
          WString(u"q?"), WString(u"a\\b"), WString(u"a/b")}) {
        EXPECT_FALSE(root->OpenFileAt({name}, Opening::CreateNew)) << ToUtf8(name);
        EXPECT_FALSE(root->MakeFolders({name})) << ToUtf8(name);
        EXPECT_EQ(root->Inspect({name}).kind, ContainedFolder::Leaf::Refused) << ToUtf8(name);
    }
    EXPECT_EQ(fs::file_size(receive.Path() / "file.txt"), 3u);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(receive.Path())) ++entries;
    EXPECT_EQ(entries, 1u);
    // Names that only look like devices are plain.
    EXPECT_TRUE(root->MakeFolders({u"CONSOLE", u"COM10", u"写真"}));
    EXPECT_TRUE(fs::is_directory(receive.Path() / "CONSOLE" / "COM10" / ToFsPath(u"写真")));
}

TEST(ContainedFolderWinTest, FilesAreMadeMovedListedAndRemovedThroughTheirHandles) {
    TempFolder receive;
    auto root = ContainedFolder::Open(FromFsPath(receive.Path()) + kPathSeparator);
    ASSERT_TRUE(root);
    using Opening = ContainedFolder::Opening;
    std::vector<std::pair<std::size_t, FileIdentity>> made;
    ASSERT_TRUE(root->MakeFolders({u"写真", u"夏"}, &made));
    EXPECT_EQ(made.size(), 2u);
    EXPECT_EQ(root->IdentityOf({u"写真", u"夏"}), made[1].second);

    auto file = root->OpenFileAt({u"写真", u"夏", u"海.jpg"}, Opening::CreateNew);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Write("abcdef", 6));
    EXPECT_EQ(file->Size(), 6);
    char head[3] = {};
    EXPECT_EQ(file->ReadAt(head, 3, 2), 3);
    EXPECT_EQ(std::string(head, 3), "cde");
    EXPECT_TRUE(file->Write("gh", 2));  // ReadAt left the position at the end
    EXPECT_TRUE(file->Truncate(4));
    EXPECT_EQ(file->Size(), 4);
    EXPECT_FALSE(root->OpenFileAt({u"写真", u"夏", u"海.jpg"}, Opening::CreateNew));
    auto inspected = root->Inspect({u"写真", u"夏", u"海.jpg"});
    EXPECT_EQ(inspected.kind, ContainedFolder::Leaf::RegularFile);
    EXPECT_EQ(inspected.size, 4);
    EXPECT_EQ(root->Inspect({u"写真", u"夏"}).kind, ContainedFolder::Leaf::Refused);
    EXPECT_EQ(root->Inspect({u"無い", u"x"}).kind, ContainedFolder::Leaf::Absent);
    const std::int64_t when = 1'700'000'000'123'456'700;
    EXPECT_TRUE(root->SetModified({u"写真", u"夏", u"海.jpg"}, when));
    EXPECT_EQ(FactsOf(root->PathOf({u"写真", u"夏", u"海.jpg"})).modifiedNs, when);

    WriteBytes(receive.Path() / ToFsPath(u"写真") / "other.jpg", 1);
    EXPECT_EQ(root->MoveNoReplace({u"写真", u"夏", u"海.jpg"}, {u"写真", u"other.jpg"}),
              RenameOutcome::Exists);
    EXPECT_EQ(root->MoveNoReplace({u"写真", u"夏"}, {u"写真", u"other.jpg"}),
              RenameOutcome::Exists);
    EXPECT_EQ(root->MoveNoReplace({u"写真", u"夏", u"海.jpg"}, {u"海.jpg"}), RenameOutcome::Done);
    EXPECT_EQ(root->MoveNoReplace({u"missing"}, {u"moved"}), RenameOutcome::Failed);
    EXPECT_EQ(fs::file_size(receive.Path() / ToFsPath(u"写真") / "other.jpg"), 1u);

    auto listed = root->List({});
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->size(), 2u);
    for (const auto& child : *listed) {
        if (child.name == u"海.jpg") {
            EXPECT_EQ(child.kind, PathFacts::Kind::File);
            EXPECT_EQ(child.identity, file->Identity());
        } else {
            EXPECT_EQ(child.name, u"写真");
            EXPECT_EQ(child.kind, PathFacts::Kind::Folder);
        }
    }

    // Removed only as the file it was, even while still open.
    EXPECT_FALSE(root->RemoveFileIf({u"写真", u"other.jpg"}, file->Identity()));
    EXPECT_TRUE(root->RemoveFileIf({u"海.jpg"}, file->Identity()));
    file.reset();
    EXPECT_FALSE(fs::exists(receive.Path() / ToFsPath(u"海.jpg")));
    EXPECT_FALSE(root->RemoveEmptyFolder({u"写真"}));
    EXPECT_TRUE(root->RemoveEmptyFolder({u"写真", u"夏"}));
    EXPECT_FALSE(fs::exists(receive.Path() / ToFsPath(u"写真") / ToFsPath(u"夏")));
}

TEST(ContainedFolderWinTest, LinksAreNeverFollowed) {
    TempFolder receive, outside;
    WriteBytes(outside.Path() / "secret", 9);
    std::error_code error;
    fs::create_directory_symlink(outside.Path(), receive.Path() / ToFsPath(u"出口"), error);
    if (error) GTEST_SKIP() << "this system makes no symbolic link: " << error.message();
    fs::create_symlink(outside.Path() / "secret", receive.Path() / "file-link", error);
    if (error) GTEST_SKIP() << "this system makes no symbolic link: " << error.message();
    auto root = ContainedFolder::Open(FromFsPath(receive.Path()));
    ASSERT_TRUE(root);
    using Opening = ContainedFolder::Opening;

    EXPECT_FALSE(root->MakeFolders({u"出口", u"x"}));
    EXPECT_FALSE(root->OpenFileAt({u"出口", u"secret"}, Opening::Existing));
    EXPECT_FALSE(root->OpenFileAt({u"file-link"}, Opening::Replace));
    EXPECT_EQ(root->Inspect({u"file-link"}).kind, ContainedFolder::Leaf::Refused);
    EXPECT_FALSE(root->SetModified({u"出口", u"secret"}, 0));
    EXPECT_EQ(FactsOf(FromFsPath(receive.Path() / "file-link")).kind, PathFacts::Kind::Link);
    EXPECT_EQ(fs::file_size(outside.Path() / "secret"), 9u);
    EXPECT_FALSE(fs::exists(outside.Path() / "x"));
}

}  // namespace
}  // namespace mirka
