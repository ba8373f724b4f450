#include "toolkit/filter_list.h"

#include <algorithm>

namespace mirka {

bool CFilterList::AddFilter(WStringView description, WStringView pattern) {
    WString name = WString(description) + u" (" + WString(pattern) + u")";
    if (pattern.size() >= kFieldUnits || name.size() >= kFieldUnits) return false;
    entries.push_back({WString(pattern), std::move(name)});
    return true;
}

const WString& CFilterList::BuildFilterText() {
    filterText.clear();
    for (const auto& entry : entries) {
        std::size_t size = entry.displayName.size() + 1 + entry.pattern.size() + 1;
        // One unit stays free for the final empty text.
        if (filterText.size() + size + 1 > kFilterTextUnits) break;
        filterText += entry.displayName;
        filterText += u'\0';
        filterText += entry.pattern;
        filterText += u'\0';
    }
    filterText += u'\0';
    return filterText;
}

std::vector<WString> CFilterList::NameFilters() const {
    std::vector<WString> filters;
    for (const auto& entry : entries) {
        WString name = entry.displayName;
        std::size_t open = name.size() - entry.pattern.size() - 1;
        std::replace(name.begin() + static_cast<std::ptrdiff_t>(open), name.end(), u';', u' ');
        filters.push_back(std::move(name));
    }
    return filters;
}

std::vector<WString> ComposeSelectedPaths(WStringView folder, const std::vector<WString>& names,
                                          std::size_t capacity) {
    std::vector<WString> paths;
    WString base(folder);
    // A root folder already ends with its separator.
    if (base.empty() || kPathSeparators.find(base.back()) == WStringView::npos) {
        base += kPathSeparator;
    }
    for (const auto& name : names) {
        WString path = base + name;
        if (path.size() < capacity) paths.push_back(std::move(path));
    }
    return paths;
}

}  // namespace mirka
