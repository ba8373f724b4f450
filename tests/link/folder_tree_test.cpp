#include "link/transfer/folder_tree.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "support/temp_folder.h"
#include "toolkit/file_system.h"

namespace mirka {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

// `count` components of `bytes` letters each.
std::string PathOf(std::size_t count, std::size_t bytes) {
    std::string path;
    for (std::size_t i = 0; i < count; ++i) path += (i ? "/" : "") + std::string(bytes, 'a');
    return path;
}

TEST(FolderTreeTest, HostilePathsAreRefusedWithTheirFault) {
    using F = PeerPathFault;
    // 20 components of 200 bytes and one of 76: 4,096 bytes; one more letter is too long.
    std::string longest = PathOf(20, 200) + "/" + std::string(76, 'b');
    ASSERT_EQ(longest.size(), kMaxFolderPathBytes);
    const std::pair<std::string, F> cases[] = {
        {"", F::Empty},
        {".", F::EmptyOrDotComponent},
        {"..", F::DotDot},
        {"../x", F::DotDot},
        {"a/../../x", F::DotDot},
        {"a/..", F::DotDot},
        {"/etc/x", F::Absolute},
        {"a\\..\\x", F::Backslash},
        {"a//b", F::EmptyOrDotComponent},
        {"a/b/", F::EmptyOrDotComponent},
        {"./a", F::EmptyOrDotComponent},
        {"a/./b", F::EmptyOrDotComponent},
        {"a/...", F::EmptyOrDotComponent},  // nothing left once the trailing dots go
        {"a/ . ", F::EmptyOrDotComponent},
        {"C:x", F::DriveLetter},
        {"a/C:/b", F::DriveLetter},
        {"a/c:", F::DriveLetter},
        {"a\tb", F::ControlCharacter},
        {std::string("a\0b", 3), F::ControlCharacter},
        {"a/\x7f", F::ControlCharacter},
        {"a/\xff", F::BadUtf8},
        {"\xc0\xaf", F::BadUtf8},      // an overlong '/'
        {"\xed\xa0\x80", F::BadUtf8},  // a lone surrogate
        {"\xe5\x86", F::BadUtf8},      // a character cut short
        {"a/" + std::string(300, 'x'), F::ComponentTooLong},
        {std::string(201, 'x'), F::ComponentTooLong},
        {PathOf(65, 1), F::TooDeep},
        {longest + "b", F::TooLong},
    };
    for (const auto& [path, fault] : cases) {
        PeerPath checked = CheckPeerPath(path);
        EXPECT_EQ(checked.fault, fault) << path;
        EXPECT_TRUE(checked.components.empty()) << path;
        EXPECT_FALSE(PeerPathFaultText(fault).empty());
    }
}

TEST(FolderTreeTest, AcceptedPathsBecomeTheNamesUsedOnThisSide) {
    using Names = std::vector<WString>;
    std::string longest = PathOf(20, 200) + "/" + std::string(76, 'b');
    const std::pair<std::string, Names> cases[] = {
        {"写真/2024年/夏.jpg", {u"写真", u"2024年", u"夏.jpg"}},
        {"メモ:1.txt", {u"メモ_1.txt"}},
        {"a/b<c>?.txt", {u"a", u"b_c__.txt"}},
        {"末尾. ", {u"末尾"}},
        {"..a/a..", {u"..a", u"a"}},
        {"received_file", {u"received_file"}},
    };
    for (const auto& [path, names] : cases) {
        PeerPath checked = CheckPeerPath(path);
        EXPECT_EQ(checked.fault, PeerPathFault::None) << path;
        EXPECT_EQ(checked.components, names) << path;
    }
    // The limits themselves are still accepted.
    EXPECT_EQ(CheckPeerPath(PathOf(64, 1)).components.size(), kMaxFolderDepth);
    EXPECT_EQ(CheckPeerPath(longest).components.size(), 21u);
    EXPECT_EQ(CheckPeerPath(std::string(200, 'x')).fault, PeerPathFault::None);
}

void WriteBytes(const fs::path& path, std::size_t count) {
    std::ofstream(path, std::ios::binary) << std::string(count, 'x');
}

void SetTime(const fs::path& path, std::int64_t seconds, long nanoseconds) {
    timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST(FolderTreeTest, ListingWalksTheTreeInOrderWithoutFollowingLinks) {
    TempFolder temp, outside;
    WriteBytes(outside.Path() / "secret", 7);
    fs::path top = temp.Path() / "送るフォルダ";
    fs::create_directories(top / "写真" / "2024年");
    fs::create_directory(top / "空");
    WriteBytes(top / "写真" / "2024年" / "夏.jpg", 5);
    WriteBytes(top / "写真" / "b.txt", 0);
    WriteBytes(top / "a.txt", 3);
    fs::create_symlink(top / "a.txt", top / "file-link");
    fs::create_symlink(outside.Path(), top / "folder-link");
    ASSERT_EQ(::mkfifo((top / "fifo").c_str(), 0600), 0);
    SetTime(top / "写真" / "2024年" / "夏.jpg", 1'700'000'000, 123'456'789);
    SetTime(top, 1'600'000'000, 5);

    // Given with a trailing separator, as a dropped folder may come.
    FolderListing listing = ListFolder(FromFsPath(top) + kPathSeparator);
    EXPECT_FALSE(listing.overLimits);
    EXPECT_FALSE(listing.unreadable);
    EXPECT_EQ(listing.name, u"送るフォルダ");
    EXPECT_EQ(listing.modifiedNs, 1'600'000'000'000'000'005);

    struct Expected {
        std::string path;
        bool directory;
        std::int64_t size;
    };
    const std::vector<Expected> expected = {
        {"a.txt", false, 3},      {"写真", true, 0},
        {"写真/2024年", true, 0}, {"写真/2024年/夏.jpg", false, 5},
        {"写真/b.txt", false, 0}, {"空", true, 0},
    };
    ASSERT_EQ(listing.entries.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const FolderEntry& entry = listing.entries[i];
        EXPECT_EQ(entry.relativePath, expected[i].path);
        EXPECT_EQ(entry.directory, expected[i].directory) << entry.relativePath;
        EXPECT_EQ(entry.size, expected[i].size) << entry.relativePath;
        EXPECT_EQ(entry.sourcePath, FromFsPath(top / ToFsPath(FromUtf8(entry.relativePath))));
    }
    EXPECT_EQ(listing.entries[3].modifiedNs, 1'700'000'000'123'456'789);
    EXPECT_EQ(listing.skipped, (std::vector<WString>{u"fifo", u"file-link", u"folder-link"}));
    EXPECT_EQ(listing.fileCount, 3u);
    EXPECT_EQ(listing.totalBytes, 8);
}

TEST(FolderTreeTest, ListingSkipsNamesTheReceiverWouldRefuse) {
    TempFolder temp;
    for (const char* name : {"\xff.bin", "a\\b", "C:x", "tab\tname", "...", "メモ:1"})
        WriteBytes(temp.Path() / name, 1);

    FolderListing listing = ListFolder(FromFsPath(temp.Path()));
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_EQ(listing.entries[0].relativePath, "メモ:1");  // the receiver maps ':' itself
    EXPECT_EQ(listing.skipped.size(), 5u);
    EXPECT_EQ(listing.fileCount, 1u);
    EXPECT_FALSE(listing.overLimits);
}

TEST(FolderTreeTest, ListingSendsOneOfTheNamesTheReceiverWouldMakeOne) {
    TempFolder temp;
    // " x", "x." and "x" are one name on the receiving side, as are "a?" and "a*", and the
    // file "d" and the folder "d." (whose content would go below the file).
    for (const char* name : {" x", "x.", "x", "a?", "a*", "b ", "b.", "d", "u?", "u_"})
        WriteBytes(temp.Path() / name, 1);
    fs::create_directories(temp.Path() / "d." / "inner");
    fs::create_directories(temp.Path() / "sub");
    for (const char* name : {"y", "y "}) WriteBytes(temp.Path() / "sub" / name, 1);

    FolderListing listing = ListFolder(FromFsPath(temp.Path()));
    std::vector<std::string> sent;
    for (const FolderEntry& entry : listing.entries) sent.push_back(entry.relativePath);
    // The name the rule leaves as it is goes; else the first of them in order.
    EXPECT_EQ(sent, (std::vector<std::string>{"a*", "b ", "d", "sub", "sub/y", "u_", "x"}));
    std::vector<WString> skipped = listing.skipped;
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped, (std::vector<WString>{u" x", u"a?", u"b.", u"d.", u"sub/y ", u"u?", u"x."}));
    EXPECT_EQ(listing.fileCount, 6u);
    // What goes is one name each on the receiving side.
    std::set<std::vector<WString>> local;
    for (const std::string& path : sent)
        EXPECT_TRUE(local.insert(CheckPeerPath(path).components).second) << path;
}

TEST(FolderTreeTest, ListingStopsOverTheLimitsAndOnWhatIsNoFolder) {
    TempFolder temp;
    fs::path deepest = temp.Path() / "top";
    for (std::size_t i = 0; i < kMaxFolderDepth; ++i) deepest /= "d";
    fs::create_directories(deepest);
    FolderListing deep = ListFolder(FromFsPath(temp.Path() / "top"));
    EXPECT_FALSE(deep.overLimits);
    EXPECT_EQ(deep.entries.size(), kMaxFolderDepth);

    fs::create_directory(deepest / "d");
    EXPECT_TRUE(ListFolder(FromFsPath(temp.Path() / "top")).overLimits);

    WriteBytes(temp.Path() / "file", 1);
    EXPECT_TRUE(ListFolder(FromFsPath(temp.Path() / "file")).unreadable);
    EXPECT_TRUE(ListFolder(FromFsPath(temp.Path() / "missing")).unreadable);
    // A link the user dropped is the user's choice: its folder is listed.
    fs::create_directories(temp.Path() / "small" / "x");
    fs::create_symlink(temp.Path() / "small", temp.Path() / "link");
    FolderListing linked = ListFolder(FromFsPath(temp.Path() / "link"));
    EXPECT_FALSE(linked.unreadable);
    EXPECT_EQ(linked.name, u"link");
    ASSERT_EQ(linked.entries.size(), 1u);
    EXPECT_EQ(linked.entries[0].relativePath, "x");
}

}  // namespace
}  // namespace mirka
