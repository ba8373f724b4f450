// Feeds arbitrary bytes to the settings file reader as "conf.txt", in the Shift_JIS locale
// the program is made for (UTF-8 where that locale is missing), and through the readers
// built on it: the settings, the profiles and the server port.
//
// Checked besides what the sanitizers catch: every value read fits the field it is read
// for, and saving is stable: a file written from a loaded store, loaded and written again,
// comes out byte for byte the same (the first save may still drop what the code page
// cannot hold).

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "app/config_file.h"
#include "app/profiles.h"
#include "app/settings.h"
#include "temporary_folder.h"

namespace {

namespace fs = std::filesystem;
using mirka::fuzz::FastTemporaryFolder;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

// Made once and never destroyed, so the clean-up at exit can still name it.
const fs::path& Folder() {
    static const fs::path* folder = [] {
        std::random_device random;
        auto* made =
            new fs::path(FastTemporaryFolder() / ("mirka-fuzz-conf-" + std::to_string(random())));
        fs::create_directories(*made);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(Folder(), ignored);
        });
        return made;
    }();
    return *folder;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Loads the file and writes it back; returns what was written.
std::string LoadAndSave(const fs::path& path) {
    mirka::ConfigFile config(path);
    if (!config.Load()) Fail("a readable file did not load");
    if (!config.Save()) Fail("a loaded file did not save");
    return ReadAll(path);
}

void CheckValues(const fs::path& path) {
    mirka::ConfigFile config(path);
    config.Load();
    for (const auto& [section, keys] : config.Content()) {
        for (const auto& [key, value] : keys) {
            if (config.GetString(section, key, u"", 31).size() > 31) Fail("a value over its limit");
            config.GetInt(section, key, 0);
            if (key.find(u'\n') != mirka::WString::npos) Fail("a key holding a line feed");
        }
    }
    mirka::ProgramValues values;
    mirka::LoadSettings(values, path);
    if (values.UserName().size() > 100) Fail("a user name over its limit");
    if (values.ReceiveFolder().size() > 259) Fail("a receive folder over its limit");
    if (values.ChatFont().Face().size() > 31) Fail("a font face over its limit");
    mirka::ProfileList profiles;
    mirka::LoginFields fields;
    mirka::LoadProfiles(profiles, fields, path);
    if (profiles.size() > static_cast<std::size_t>(mirka::kProfileSlots) + 1)
        Fail("more profiles than slots");
    mirka::LoadServerPort(path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::setlocale(LC_ALL, "ja_JP.SJIS")) std::setlocale(LC_ALL, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fs::path path = Folder() / "conf.txt";
    WriteAll(path, data, size);
    CheckValues(path);
    LoadAndSave(path);
    std::string second = LoadAndSave(path);
    if (LoadAndSave(path) != second) Fail("saving a loaded file is not stable");
    return 0;
}
