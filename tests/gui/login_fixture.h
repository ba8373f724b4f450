#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "app/profiles.h"
#include "link/task_manager.h"
#include "support/temp_folder.h"
#include "upnp/port_mapping.h"

namespace mirka::test {

// The login window reads and writes "conf.txt" in the current folder: each test runs in a
// fresh folder of its own, with a link manager and a profile list to hand to the window.
class LoginFixture : public ::testing::Test {
protected:
    void SetUp() override {
        saved = std::filesystem::current_path();
        std::filesystem::current_path(folder.Path());
    }
    void TearDown() override { std::filesystem::current_path(saved); }
    std::string Conf() {
        std::ifstream in(folder.Path() / "conf.txt", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    TempFolder folder;
    std::filesystem::path saved;
    TaskManager link;
    ProfileList profiles;
    OwnReach reach;
};

}  // namespace mirka::test
