#include "toolkit/contained_folder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>

#include <gtest/gtest.h>

#include "support/temp_folder.h"
#include "toolkit/file_system.h"

// Tests run as root: permission bits stop nothing here, so only links, files and missing
// folders stand in the way.
namespace mirka {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

void WriteBytes(const fs::path& path, std::size_t count) {
    std::ofstream(path, std::ios::binary) << std::string(count, 'x');
}

void SetTime(const fs::path& path, std::int64_t seconds) {
    timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

std::int64_t ModifiedNs(const fs::path& path) {
    return FactsOf(FromFsPath(path)).modifiedNs;
}

TEST(ContainedFolderTest, MakeFoldersNeverGoesThroughALinkOrAFile) {
    TempFolder receive, outside;
    fs::create_symlink(outside.Path(), receive.Path() / "出口");
    fs::create_directory(receive.Path() / "a");
    fs::create_symlink(outside.Path(), receive.Path() / "a" / "link");
    WriteBytes(receive.Path() / "file.txt", 1);
    auto root = ContainedFolder::Open(FromFsPath(receive.Path()));
    ASSERT_TRUE(root);

    EXPECT_FALSE(root->MakeFolders({u"出口", u"x"}));
    EXPECT_FALSE(root->MakeFolders({u"出口"}));
    EXPECT_FALSE(root->MakeFolders({u"a", u"link", u"y"}));
    EXPECT_FALSE(root->MakeFolders({u"file.txt", u"z"}));
    EXPECT_FALSE(root->MakeFolders({u"..", u"up"}));
    EXPECT_FALSE(root->MakeFolders({u"a/../../up"}));
    EXPECT_FALSE(root->MakeFolders({u"a", u""}));
    EXPECT_TRUE(fs::is_empty(outside.Path()));
    EXPECT_FALSE(fs::exists(receive.Path().parent_path() / "up"));
}

TEST(ContainedFolderTest, MakeFoldersBuildsTheTreeBelowTheRootEvenWhenTheRootIsALink) {
    TempFolder place, target;
    fs::create_symlink(target.Path(), place.Path() / "受信");
    auto root = ContainedFolder::Open(FromFsPath(place.Path() / "受信") + kPathSeparator);
    ASSERT_TRUE(root);

    EXPECT_TRUE(root->MakeFolders({u"写真", u"2024年", u"夏"}));
    EXPECT_TRUE(root->MakeFolders({u"写真", u"2024年"}));  // already there
    EXPECT_TRUE(root->MakeFolders({}));
    EXPECT_TRUE(fs::is_directory(target.Path() / "写真" / "2024年" / "夏"));
    EXPECT_EQ(root->PathOf({u"写真", u"夏.jpg"}),
              FromFsPath(place.Path() / "受信" / "写真" / "夏.jpg"));

    EXPECT_FALSE(ContainedFolder::Open(FromFsPath(place.Path() / "missing")));
    WriteBytes(place.Path() / "file", 1);
    EXPECT_FALSE(ContainedFolder::Open(FromFsPath(place.Path() / "file")));
}

TEST(ContainedFolderTest, InspectRefusesAnythingButARegularFileOrNothing) {
    TempFolder receive, outside;
    WriteBytes(outside.Path() / "secret", 9);
    fs::create_directory(receive.Path() / "d");
    WriteBytes(receive.Path() / "d" / "five", 5);
    WriteBytes(receive.Path() / "empty", 0);
    fs::create_symlink(outside.Path() / "secret", receive.Path() / "d" / "file-link");
    fs::create_symlink(outside.Path(), receive.Path() / "folder-link");
    ASSERT_EQ(::mkfifo((receive.Path() / "fifo").c_str(), 0600), 0);
    auto root = ContainedFolder::Open(FromFsPath(receive.Path()));
    ASSERT_TRUE(root);
    using Leaf = ContainedFolder::Leaf;

    auto five = root->Inspect({u"d", u"five"});
    EXPECT_EQ(five.kind, Leaf::RegularFile);
    EXPECT_EQ(five.size, 5);
    auto empty = root->Inspect({u"empty"});
    EXPECT_EQ(empty.kind, Leaf::RegularFile);
    EXPECT_EQ(empty.size, 0);
    EXPECT_EQ(root->Inspect({u"d", u"missing"}).kind, Leaf::Absent);
    EXPECT_EQ(root->Inspect({u"new", u"deeper", u"x"}).kind, Leaf::Absent);

    EXPECT_EQ(root->Inspect({u"d", u"file-link"}).kind, Leaf::Refused);
    EXPECT_EQ(root->Inspect({u"folder-link"}).kind, Leaf::Refused);
    EXPECT_EQ(root->Inspect({u"folder-link", u"secret"}).kind, Leaf::Refused);
    EXPECT_EQ(root->Inspect({u"d"}).kind, Leaf::Refused);
    EXPECT_EQ(root->Inspect({u"fifo"}).kind, Leaf::Refused);
    EXPECT_EQ(root->Inspect({u"d", u"five", u"x"}).kind, Leaf::Refused);
    EXPECT_EQ(root->Inspect({u"..", u"x"}).kind, Leaf::Refused);
    EXPECT_EQ(root->Inspect({}).kind, Leaf::Refused);
}

TEST(ContainedFolderTest, SetModifiedChangesTheNamedFileOrFolderButNoLinkTarget) {
    TempFolder receive, outside;
    fs::create_directory(receive.Path() / "写真");
    WriteBytes(receive.Path() / "写真" / "夏.jpg", 3);
    WriteBytes(outside.Path() / "target", 1);
    SetTime(outside.Path() / "target", 1'000'000'000);
    fs::create_symlink(outside.Path() / "target", receive.Path() / "link");
    fs::create_symlink(outside.Path(), receive.Path() / "folder-link");
    auto root = ContainedFolder::Open(FromFsPath(receive.Path()));
    ASSERT_TRUE(root);

    const std::int64_t when = 1'700'000'000'123'456'789;
    EXPECT_TRUE(root->SetModified({u"写真", u"夏.jpg"}, when));
    EXPECT_EQ(ModifiedNs(receive.Path() / "写真" / "夏.jpg"), when);
    EXPECT_TRUE(root->SetModified({u"写真"}, when + 1));
    EXPECT_EQ(ModifiedNs(receive.Path() / "写真"), when + 1);
    // Half a second before 1970: the seconds round down, the nanoseconds stay positive.
    EXPECT_TRUE(root->SetModified({u"写真", u"夏.jpg"}, -500'000'000));
    EXPECT_EQ(ModifiedNs(receive.Path() / "写真" / "夏.jpg"), -500'000'000);

    EXPECT_FALSE(root->SetModified({u"link"}, when));
    EXPECT_FALSE(root->SetModified({u"folder-link", u"target"}, when));
    EXPECT_FALSE(root->SetModified({u"missing"}, when));
    EXPECT_EQ(ModifiedNs(outside.Path() / "target"), 1'000'000'000'000'000'000);
}

TEST(ContainedFolderTest, MoveNeverReplacesWhatExistsNorFollowsALink) {
    TempFolder receive;
    fs::create_directory(receive.Path() / "part");
    WriteBytes(receive.Path() / "part" / "a", 1);
    fs::create_directory(receive.Path() / "done");
    WriteBytes(receive.Path() / "done" / "b", 1);
    fs::create_directory(receive.Path() / "empty");
    WriteBytes(receive.Path() / "file", 1);
    fs::create_symlink(receive.Path() / "done", receive.Path() / "link");
    auto root = ContainedFolder::Open(FromFsPath(receive.Path()));
    ASSERT_TRUE(root);
    using Outcome = RenameOutcome;

    EXPECT_EQ(root->MoveNoReplace({u"part"}, {u"done"}), Outcome::Exists);
    // rename(2) itself would replace an empty folder.
    EXPECT_EQ(root->MoveNoReplace({u"part"}, {u"empty"}), Outcome::Exists);
    EXPECT_EQ(root->MoveNoReplace({u"part"}, {u"file"}), Outcome::Exists);
    EXPECT_EQ(root->MoveNoReplace({u"file"}, {u"part", u"a"}), Outcome::Exists);
    EXPECT_TRUE(fs::exists(receive.Path() / "part" / "a"));
    EXPECT_TRUE(fs::exists(receive.Path() / "done" / "b"));
    EXPECT_TRUE(fs::is_directory(receive.Path() / "empty"));

    EXPECT_EQ(root->MoveNoReplace({u"missing"}, {u"moved"}), Outcome::Failed);
    EXPECT_EQ(root->MoveNoReplace({u"part"}, {u"../moved"}), Outcome::Failed);
    // Nothing goes through a link on the way; a link itself moves as a link.
    EXPECT_EQ(root->MoveNoReplace({u"file"}, {u"link", u"file"}), Outcome::Failed);
    EXPECT_EQ(root->MoveNoReplace({u"link"}, {u"empty", u"link"}), Outcome::Done);
    EXPECT_TRUE(fs::is_symlink(receive.Path() / "empty" / "link"));
    EXPECT_EQ(root->MoveNoReplace({u"file"}, {u"part", u"file"}), Outcome::Done);
    EXPECT_EQ(root->MoveNoReplace({u"part"}, {u"写真_[01]"}), Outcome::Done);
    EXPECT_TRUE(fs::exists(receive.Path() / "写真_[01]" / "file"));
    EXPECT_FALSE(fs::exists(receive.Path() / "part"));
}

TEST(ContainedFolderTest, FilesAreOpenedAndRemovedOnlyAsTheFileTheyWere) {
    TempFolder receive;
    WriteBytes(receive.Path() / "user.bin", 10);
    fs::create_symlink(receive.Path() / "user.bin", receive.Path() / "link.bin");
    mkfifo((receive.Path() / "fifo").c_str(), 0600);
    // The working folder is a receive folder too.
    fs::path before = fs::current_path();
    fs::current_path(receive.Path());
    auto root = ContainedFolder::Open(u"");
    fs::current_path(before);
    ASSERT_TRUE(root);
    using Opening = ContainedFolder::Opening;

    EXPECT_FALSE(root->OpenFileAt({u"user.bin"}, Opening::CreateNew));
    EXPECT_FALSE(root->OpenFileAt({u"link.bin"}, Opening::Existing));
    EXPECT_FALSE(root->OpenFileAt({u"link.bin"}, Opening::Replace));
    EXPECT_FALSE(root->OpenFileAt({u"fifo"}, Opening::Existing));
    EXPECT_EQ(fs::file_size(receive.Path() / "user.bin"), 10u);
    auto made = root->OpenFileAt({u"new.bin"}, Opening::CreateNew);
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->Write("abc", 3));
    FileIdentity identity = made->Identity();
    EXPECT_EQ(root->IdentityOf({u"new.bin"}), identity);

    // Another file put in its place is not removed in its stead.
    fs::rename(receive.Path() / "new.bin", receive.Path() / "moved.bin");
    WriteBytes(receive.Path() / "new.bin", 5);
    EXPECT_FALSE(root->RemoveFileIf({u"new.bin"}, identity));
    EXPECT_TRUE(fs::exists(receive.Path() / "new.bin"));
    EXPECT_TRUE(root->RemoveFileIf({u"moved.bin"}, identity));
    EXPECT_FALSE(fs::exists(receive.Path() / "moved.bin"));
    EXPECT_FALSE(root->RemoveFileIf({u"link.bin"}, root->IdentityOf({u"user.bin"})));
    EXPECT_TRUE(fs::exists(receive.Path() / "user.bin"));
}

}  // namespace
}  // namespace mirka
