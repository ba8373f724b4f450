#include "toolkit/file_system.h"

#include <system_error>

namespace mirka {

std::filesystem::path ToFsPath(WStringView path) {
#ifdef _WIN32
    return std::filesystem::path(std::wstring(path.begin(), path.end()));
#else
    return std::filesystem::path(ToUtf8(path));
#endif
}

WString FromFsPath(const std::filesystem::path& path) {
#ifdef _WIN32
    std::wstring native = path.native();
    return WString(native.begin(), native.end());
#else
    return FromUtf8(path.native());
#endif
}

std::FILE* OpenStdioFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
    std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return ::_wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

bool MatchWildcard(WStringView pattern, WStringView name) {
    // Iterative match with one backtrack point for the last '*'.
    std::size_t p = 0, n = 0, starP = WStringView::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != WStringView::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

bool FileExists(WStringView name) {
    if (name.empty()) return false;
    WStringView last = PathNamePart(name);
    std::error_code ec;
    if (last.find_first_of(u"*?") == WStringView::npos) {
        return std::filesystem::exists(ToFsPath(name), ec);
    }
    WStringView folder = name.substr(0, name.size() - last.size());
    std::filesystem::path dir = folder.empty() ? std::filesystem::path(".") : ToFsPath(folder);
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (MatchWildcard(last, FromFsPath(it->path().filename()))) return true;
    }
    return false;
}

}  // namespace mirka
