#include "link/transfer/folder_tree.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include <sodium.h>

#include "link/wire/file_record.h"
#include "secure/sodium_init.h"
#include "toolkit/contained_folder.h"
#include "toolkit/file_system.h"

namespace mirka {

namespace {

PeerPath Refused(PeerPathFault fault) {
    PeerPath path;
    path.fault = fault;
    return path;
}

// FromUtf8 turns what is not UTF-8 into U+FFFD; only well-formed text comes back unchanged.
bool IsWellFormedUtf8(std::string_view text) {
    return ToUtf8(FromUtf8(text)) == text;
}

// One component of a path that is already known to be well-formed UTF-8 without '/', '\',
// or control characters; `name` receives its name on this side.
PeerPathFault CheckComponent(std::string_view component, WString& name) {
    if (component.empty() || component == ".") return PeerPathFault::EmptyOrDotComponent;
    if (component == "..") return PeerPathFault::DotDot;
    if (component.size() > kMaxReceivedNameBytes) return PeerPathFault::ComponentTooLong;
    WString offered = FromUtf8(component);
    // SafeReceivedName reads any "x:" at the start as a drive and drops it, which would
    // silently make "C:a" and "a" the same name.
    if (offered.size() >= 2 && offered[1] == u':') return PeerPathFault::DriveLetter;
    name = SafeReceivedName(offered);
    // A name of nothing but dots and blanks comes back as the substitute name.
    static const WString substitute = SafeReceivedName(u"");
    if (name == substitute && offered != substitute) return PeerPathFault::EmptyOrDotComponent;
    return PeerPathFault::None;
}

bool IsControl(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// A name in a folder being listed, as the system spells it and as UTF-8.
struct ListedName {
    std::filesystem::path path;
    std::string utf8;
    bool representable = true;  // false when the name is not text (not valid UTF-8 here)
};

// Walks a folder depth first, each folder's names in order, and fills the listing.
class FolderLister {
public:
    explicit FolderLister(FolderListing& listing) : listing(listing) {}

    // False when the folder cannot be read to its end.
    static bool ReadNames(const std::filesystem::path& folder, std::vector<ListedName>& names) {
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            ListedName name;
            name.path = it->path();
            std::filesystem::path fileName = name.path.filename();
            WString text = FromFsPath(fileName);
            name.representable = ToFsPath(text) == fileName;
            name.utf8 = ToUtf8(text);
            names.push_back(std::move(name));
        }
        std::sort(names.begin(), names.end(),
                  [](const ListedName& a, const ListedName& b) { return a.utf8 < b.utf8; });
        return !error;
    }

    // Lists `names`, the content of the folder at `prefix` (empty for the listed folder).
    void List(const std::string& prefix, std::size_t depth, const std::vector<ListedName>& names) {
        std::vector<bool> folded = FoldedNames(names);
        for (std::size_t i = 0; i < names.size(); ++i) {
            const ListedName& name = names[i];
            if (listing.overLimits) return;
            std::string relative = prefix.empty() ? name.utf8 : prefix + '/' + name.utf8;
            if (!Sendable(name) || folded[i]) {
                Skip(relative);
                continue;
            }
            if (depth > kMaxFolderDepth || relative.size() > kMaxFolderPathBytes) {
                listing.overLimits = true;
                return;
            }
            ListOne(name, relative, depth);
            if (listing.entries.size() > kMaxFolderEntries ||
                listing.totalBytes > kMaxFolderBytes) {
                listing.overLimits = true;
            }
        }
    }

private:
    // A name the receiving side takes as a name of its own.
    static bool Sendable(const ListedName& name) {
        WString ignored;
        return name.representable && CheckComponent(name.utf8, ignored) == PeerPathFault::None &&
               std::none_of(name.utf8.begin(), name.utf8.end(), IsControl) &&
               name.utf8.find('\\') == std::string::npos;
    }

    // The names of one folder that the receiver's rule would turn into the name of another
    // of them (" x", "x." and "x"; "a?" and "a*"): only one of each such group may go, or
    // the receiver would make one file of two. The one the rule leaves as it is goes, or
    // else the first in order; the others are marked.
    static std::vector<bool> FoldedNames(const std::vector<ListedName>& names) {
        std::vector<bool> folded(names.size(), false);
        std::vector<WString> local(names.size());
        std::vector<bool> changed(names.size(), false);
        std::set<WString> taken;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (!Sendable(names[i])) continue;
            CheckComponent(names[i].utf8, local[i]);
            changed[i] = local[i] != FromUtf8(names[i].utf8);
            if (!changed[i]) taken.insert(local[i]);  // names within a folder are distinct
        }
        for (std::size_t i = 0; i < names.size(); ++i)
            if (changed[i] && !taken.insert(local[i]).second) folded[i] = true;
        return folded;
    }

    void ListOne(const ListedName& name, const std::string& relative, std::size_t depth) {
        WString source = FromFsPath(name.path);
        PathFacts facts = FactsOf(source);
        FolderEntry entry{relative, false, 0, facts.modifiedNs, source, facts.identity};
        if (facts.kind == PathFacts::Kind::File) {
            entry.size = facts.size;
            listing.entries.push_back(std::move(entry));
            ++listing.fileCount;
            listing.totalBytes += facts.size;
        } else if (facts.kind == PathFacts::Kind::Folder) {
            // Read before the entry goes in, so a folder that cannot be read is not sent
            // as if it were empty.
            std::vector<ListedName> inner;
            if (!ReadNames(name.path, inner)) {
                Skip(relative);
                return;
            }
            entry.directory = true;
            listing.entries.push_back(std::move(entry));
            List(relative, depth + 1, inner);
        } else {
            Skip(relative);  // a link, a special file, or gone since it was read
        }
    }

    void Skip(const std::string& relative) {
        listing.skipped.push_back(FromUtf8(relative));
        if (listing.skipped.size() > kMaxFolderEntries) listing.overLimits = true;
    }

    FolderListing& listing;
};

}  // namespace

PeerPath CheckPeerPath(std::string_view utf8) {
    if (utf8.empty()) return Refused(PeerPathFault::Empty);
    if (!IsWellFormedUtf8(utf8)) return Refused(PeerPathFault::BadUtf8);
    if (utf8.size() > kMaxFolderPathBytes) return Refused(PeerPathFault::TooLong);
    if (utf8.front() == '/') return Refused(PeerPathFault::Absolute);
    if (utf8.find('\\') != std::string_view::npos) return Refused(PeerPathFault::Backslash);
    if (std::any_of(utf8.begin(), utf8.end(), IsControl))
        return Refused(PeerPathFault::ControlCharacter);
    if (static_cast<std::size_t>(std::count(utf8.begin(), utf8.end(), '/')) >= kMaxFolderDepth)
        return Refused(PeerPathFault::TooDeep);

    PeerPath path;
    std::size_t start = 0;
    while (start <= utf8.size()) {
        std::size_t slash = std::min(utf8.find('/', start), utf8.size());
        WString name;
        PeerPathFault fault = CheckComponent(utf8.substr(start, slash - start), name);
        if (fault != PeerPathFault::None) return Refused(fault);
        path.components.push_back(std::move(name));
        start = slash + 1;
    }
    return path;
}

WStringView PeerPathFaultText(PeerPathFault fault) {
    switch (fault) {
        case PeerPathFault::None:
            return u"";
        case PeerPathFault::Empty:
            return u"パスが空です";
        case PeerPathFault::Absolute:
            return u"絶対パスです";
        case PeerPathFault::EmptyOrDotComponent:
            return u"空の名前か「.」を含みます";
        case PeerPathFault::DotDot:
            return u"上位のフォルダを指しています";
        case PeerPathFault::Backslash:
            return u"「\\」を含みます";
        case PeerPathFault::DriveLetter:
            return u"ドライブ名を含みます";
        case PeerPathFault::ControlCharacter:
            return u"制御文字を含みます";
        case PeerPathFault::BadUtf8:
            return u"文字コードが正しくありません";
        case PeerPathFault::ComponentTooLong:
            return u"名前が長すぎます";
        case PeerPathFault::TooDeep:
            return u"フォルダの階層が深すぎます";
        case PeerPathFault::TooLong:
            return u"パスが長すぎます";
    }
    return u"";
}

LocalPaths::LocalPaths() {
    static_assert(sizeof(key) == crypto_shorthash_KEYBYTES);
    secure::EnsureSodium();
    randombytes_buf(key.data(), key.size());
}

std::uint64_t LocalPaths::HashOf(const std::vector<WString>& components) const {
    // Components never hold '/', so joined with it two paths give the same text only when
    // they are the same path.
    WString joined;
    for (const WString& component : components) {
        if (!joined.empty()) joined.push_back(u'/');
        joined += component;
    }
    static_assert(crypto_shorthash_BYTES == sizeof(std::uint64_t));
    std::array<unsigned char, crypto_shorthash_BYTES> hash{};
    crypto_shorthash(hash.data(), reinterpret_cast<const unsigned char*>(joined.data()),
                     joined.size() * sizeof(char16_t), key.data());
    std::uint64_t value = 0;
    for (unsigned char byte : hash) value = value << 8 | byte;
    return value;
}

LocalPaths::Kind LocalPaths::Find(const std::vector<WString>& components) const {
    if (components.empty()) return Kind::Folder;
    auto it = seen.find(HashOf(components));
    if (it == seen.end()) return Kind::None;
    return it->second ? Kind::Folder : Kind::File;
}

void LocalPaths::Add(const std::vector<WString>& components, bool folder) {
    seen.emplace(HashOf(components), folder);
}

FolderListing ListFolder(const WString& folder) {
    FolderListing listing;
    WString trimmed = folder;
    while (trimmed.size() > 1 && kPathSeparators.find(trimmed.back()) != WStringView::npos)
        trimmed.pop_back();
    listing.name = WString(PathNamePart(trimmed));
    // The dropped folder is the user's own choice, link or not; nothing below it is followed.
    PathFacts facts = TargetFactsOf(trimmed);
    std::vector<ListedName> names;
    if (facts.kind != PathFacts::Kind::Folder ||
        !FolderLister::ReadNames(ToFsPath(trimmed), names)) {
        listing.unreadable = true;
        return listing;
    }
    listing.modifiedNs = facts.modifiedNs;
    FolderLister(listing).List({}, 1, names);
    return listing;
}

}  // namespace mirka
