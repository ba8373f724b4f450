#include "support/temp_folder.h"

#include <fstream>
#include <random>
#include <sstream>

#include "toolkit/file_system.h"

namespace mirka::test {

TempFolder::TempFolder() {
    std::random_device random;
    path = std::filesystem::temp_directory_path() /
           ("mirka-test-" + std::to_string(random()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(path);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
}

WString TempFolder::WithSeparator() const {
    return FromFsPath(path) + kPathSeparator;
}

std::string ReadFileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace mirka::test
