#include "link/transfer/received_tree.h"

#include <algorithm>
#include <sstream>
#include <string>

#include "link/transfer/receive_paths.h"

namespace mirka {

namespace {
// Read at most this much of a note: a note that grew beyond it is not taken up.
constexpr std::int64_t kMaxNoteBytes = std::int64_t{64} << 20;

WString NoteName(const WString& rootName) {
    return u"." + rootName + u".made";
}

std::string Joined(const ReceivedTree::Path& below) {
    std::string text;
    for (const WString& part : below) {
        if (!text.empty()) text += '/';
        text += ToUtf8(part);
    }
    return text;
}

ReceivedTree::Path Split(const std::string& text) {
    ReceivedTree::Path below;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t slash = text.find('/', start);
        if (slash == std::string::npos) slash = text.size();
        below.push_back(FromUtf8(text.substr(start, slash - start)));
        start = slash + 1;
    }
    return below;
}

std::string Line(char kind, FileIdentity identity, const std::string& path) {
    std::string line = std::string(1, kind) + ' ' + std::to_string(identity.device) + ' ' +
                       std::to_string(identity.inode);
    if (!path.empty()) line += ' ' + path;
    return line + '\n';
}
}  // namespace

ReceivedTree::ReceivedTree(ContainedFolder place, WString rootName, OpenFile note)
    : place(std::move(place)), rootName(std::move(rootName)), note(std::move(note)) {}

std::optional<ReceivedTree> ReceivedTree::Create(const ContainedFolder& receiveFolder,
                                                 const WString& rootName) {
    std::optional<ContainedFolder> place = receiveFolder.Duplicate();
    std::vector<std::pair<std::size_t, FileIdentity>> created;
    if (!place || !place->MakeFolders({rootName}, &created) || created.empty())
        return std::nullopt;  // failed, or the name was taken meanwhile
    FileIdentity root = created.front().second;
    std::optional<OpenFile> note =
        place->OpenFileAt({NoteName(rootName)}, ContainedFolder::Opening::Replace);
    std::string first = Line('T', root, "");
    if (!root.Known() || !note || !note->Write(first.data(), first.size())) {
        place->RemoveEmptyFolder({rootName});
        return std::nullopt;
    }
    ReceivedTree tree(std::move(*place), rootName, std::move(*note));
    tree.root = root;
    return tree;
}

std::optional<ReceivedTree> ReceivedTree::TakeUp(const ContainedFolder& receiveFolder,
                                                 const WString& rootName) {
    std::optional<ContainedFolder> place = receiveFolder.Duplicate();
    if (!place) return std::nullopt;
    std::optional<OpenFile> note =
        place->OpenFileAt({NoteName(rootName)}, ContainedFolder::Opening::Existing);
    if (!note) return std::nullopt;
    std::int64_t size = note->Size();
    if (size <= 0 || size > kMaxNoteBytes) return std::nullopt;
    std::string text(static_cast<std::size_t>(size), '\0');
    if (note->ReadAt(text.data(), text.size(), 0) != size) return std::nullopt;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line)) return std::nullopt;
    FileIdentity root;
    char kind = 0;
    if (!(std::istringstream(line) >> kind >> root.device >> root.inode) || kind != 'T' ||
        !root.Known() || place->IdentityOf({rootName}) != root ||
        FactsOf(place->PathOf({rootName})).kind != PathFacts::Kind::Folder)
        return std::nullopt;
    ReceivedTree tree(std::move(*place), rootName, std::move(*note));
    tree.root = root;
    while (std::getline(lines, line) && tree.made.size() < kMaxNoted) {
        std::istringstream fields(line);
        FileIdentity identity;
        std::string path;
        if (!(fields >> kind >> identity.device >> identity.inode) || (kind != 'F' && kind != 'D'))
            continue;  // a line cut short by a crash
        fields.get();
        std::getline(fields, path);
        if (path.empty()) continue;
        tree.made[Split(path)] = {static_cast<Kind>(kind), identity};
    }
    if (!tree.note.Seek(size)) return std::nullopt;
    return tree;
}

ReceivedTree::Path ReceivedTree::Full(const Path& below) const {
    Path full{rootName};
    full.insert(full.end(), below.begin(), below.end());
    return full;
}

bool ReceivedTree::Made(const Path& below) const {
    auto it = made.find(below);
    if (it == made.end()) return false;
    FileIdentity now = place.IdentityOf(Full(below));
    return now.Known() && now == it->second.second;
}

std::optional<OpenFile> ReceivedTree::OpenMade(const Path& below) const {
    auto it = made.find(below);
    if (it == made.end() || it->second.first != Kind::File) return std::nullopt;
    std::optional<OpenFile> file =
        place.OpenFileAt(Full(below), ContainedFolder::Opening::Existing);
    if (!file || file->Identity() != it->second.second) return std::nullopt;
    return file;
}

std::optional<OpenFile> ReceivedTree::CreateFile(const Path& below) {
    std::optional<OpenFile> file =
        place.OpenFileAt(Full(below), ContainedFolder::Opening::CreateNew);
    if (!file) return std::nullopt;
    if (!Record(Kind::File, below, file->Identity())) {
        place.RemoveFileIf(Full(below), file->Identity());
        return std::nullopt;
    }
    return file;
}

bool ReceivedTree::Record(Kind kind, const Path& below, FileIdentity identity) {
    if (below.empty() || !identity.Known()) return false;
    if (made.size() >= kMaxNoted && !made.count(below)) return false;
    return Append(kind, below, identity);
}

bool ReceivedTree::Append(Kind kind, const Path& below, FileIdentity identity) {
    std::string line = Line(static_cast<char>(kind), identity, Joined(below));
    if (!note.Write(line.data(), line.size())) return false;
    made[below] = {kind, identity};
    return true;
}

bool ReceivedTree::SetAside(const Path& below) {
    if (asideName.empty()) {
        WString name = ReceivePaths::FinalPathOf(rootName) + u".kept";
        for (int i = -1; i < ReceivePaths::kClashCandidates && asideName.empty(); ++i) {
            WString candidate = i < 0 ? name : ReceivePaths::ClashName(name, i);
            std::vector<std::pair<std::size_t, FileIdentity>> created;
            if (place.MakeFolders({candidate}, &created) && !created.empty()) asideName = candidate;
        }
        if (asideName.empty()) return false;
    }
    Path target{asideName};
    target.insert(target.end(), below.begin(), below.end());
    Path parent(target.begin(), target.end() - 1);
    if (!place.MakeFolders(parent) ||
        place.MoveNoReplace(Full(below), target) != RenameOutcome::Done)
        return false;
    ++movedAside;
    return true;
}

ReceivedTree::Sweep ReceivedTree::KeepOnly(const std::set<Path>& announced) {
    std::set<Path> keep;
    for (const Path& path : announced)
        for (std::size_t n = 1; n <= path.size(); ++n)
            keep.insert(Path(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(n)));
    Sweep sweep;
    SweepFolder({}, keep, sweep);
    sweep.setAside = movedAside;
    sweep.asideName = asideName;
    return sweep;
}

void ReceivedTree::SweepFolder(const Path& folder, const std::set<Path>& keep, Sweep& sweep) {
    std::optional<std::vector<ContainedFolder::Child>> children = place.List(Full(folder));
    if (!children) return;
    for (const ContainedFolder::Child& child : *children) {
        Path below = folder;
        below.push_back(child.name);
        bool folderHere = child.kind == PathFacts::Kind::Folder;
        // The listing already says which file or folder this is: no second walk to it.
        auto noted = made.find(below);
        bool ours = noted != made.end() && noted->second.second == child.identity;
        if (keep.count(below) && (folderHere || child.kind == PathFacts::Kind::File)) {
            if (folderHere) SweepFolder(below, keep, sweep);
            continue;
        }
        if (ours && folderHere) {
            SweepFolder(below, keep, sweep);
            if (place.RemoveEmptyFolder(Full(below))) {
                ++sweep.removed;
                continue;
            }
        } else if (ours && place.RemoveFileIf(Full(below), child.identity)) {
            ++sweep.removed;
            continue;
        }
        if (!SetAside(below)) ++sweep.stuck;
    }
}

void ReceivedTree::RemoveMade() {
    // Longer paths sort after the folders they are in: backwards, contents go first.
    for (auto it = made.rbegin(); it != made.rend(); ++it) {
        const auto& [below, fact] = *it;
        if (fact.first == Kind::File) {
            place.RemoveFileIf(Full(below), fact.second);
        } else if (place.IdentityOf(Full(below)) == fact.second) {
            place.RemoveEmptyFolder(Full(below));
        }
    }
    made.clear();
    if (place.IdentityOf({rootName}) == root) place.RemoveEmptyFolder({rootName});
}

void ReceivedTree::Forget() {
    note.Close();
    FileIdentity noteFile = place.IdentityOf({NoteName(rootName)});
    if (noteFile.Known()) place.RemoveFileIf({NoteName(rootName)}, noteFile);
}

}  // namespace mirka
