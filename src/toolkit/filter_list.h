#pragma once

#include <cstddef>
#include <vector>

#include "toolkit/text.h"

// The text side of the file dialogs: the list of file-type filters and the paths that a
// multiple selection yields.
namespace mirka {

class CFilterList {
public:
    // Both fields of an entry hold 199 units and a terminator.
    static constexpr std::size_t kFieldUnits = 200;
    // The built filter text, final empty text included.
    static constexpr std::size_t kFilterTextUnits = 4096;

    struct Entry {
        WString pattern;
        WString displayName;  // "%s (%s)" with the description and the pattern
    };

    virtual ~CFilterList() = default;

    // Appends an entry. One whose display name or pattern would not fit its field is refused
    // (false): a cut pattern would offer other files than the one described.
    bool AddFilter(WStringView description, WStringView pattern);

    const std::vector<Entry>& Entries() const { return entries; }

    // Display name, terminator, pattern, terminator for each entry, then the final empty
    // text, in the form a filter field expects. Entries that no longer fit into the 4,096
    // units are left out whole. Valid until the next build or the list's end.
    const WString& BuildFilterText();

    // One filter per entry for Qt's file dialog: the display name, with the pattern's ';'
    // separators written as blanks, which is how Qt reads several patterns.
    std::vector<WString> NameFilters() const;

private:
    std::vector<Entry> entries;
    WString filterText;
};

// The paths of a selection: each name joined to the folder with one separator. A path that
// would not fit into `capacity` units (terminator included) is left out, never cut, so a
// cut name can never stand for another file.
std::vector<WString> ComposeSelectedPaths(WStringView folder, const std::vector<WString>& names,
                                          std::size_t capacity = 260);

}  // namespace mirka
