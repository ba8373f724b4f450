#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/exit_code.h"
#include "cli_process.h"
#include "json_reader.h"
#include "link/transfer_support.h"
#include "support/loopback.h"
#include "support/temp_folder.h"

namespace mirka::test {

// A waiting and a connecting mirka-cli on a free loopback port, each with its folders.
class CliPair : public ::testing::Test {
protected:
    CliPair() : port(std::to_string(FreeLoopbackPort())) {
        std::filesystem::create_directory(outbox());
        std::filesystem::create_directory(inbox());
    }
    std::filesystem::path outbox() const { return work.Path() / "outbox"; }
    std::filesystem::path inbox() const { return work.Path() / "inbox"; }

    // `mirka-cli wait` receiving into the inbox, with `more` after the common options.
    std::unique_ptr<CliProcess> Wait(std::vector<std::string> more,
                                     std::map<std::string, std::string> env = {},
                                     const std::string& tag = "wait") {
        std::vector<std::string> args = {"wait",           "--port", port,    "--receive-to",
                                         inbox().string(), "--name", "待つ側"};
        args.insert(args.end(), more.begin(), more.end());
        return std::make_unique<CliProcess>(work.Path(), tag, args, env);
    }
    // `mirka-cli connect` to it, tried again while the waiting side is not listening yet.
    std::unique_ptr<CliProcess> Connect(std::vector<std::string> more,
                                        std::map<std::string, std::string> env = {},
                                        const std::string& tag = "connect") {
        std::vector<std::string> args = {"connect",      "127.0.0.1:" + port, "--retry", "60",
                                         "--receive-to", outbox().string(),   "--name",  "繋ぐ側"};
        args.insert(args.end(), more.begin(), more.end());
        return std::make_unique<CliProcess>(work.Path(), tag, args, env);
    }
    // Every standard output line of a --json run, read as an object (a line that is not one
    // fails the test).
    static std::vector<JsonObject> Events(const CliProcess& process) {
        std::vector<JsonObject> events;
        for (const std::string& line : process.OutLines()) {
            auto object = ReadJsonObject(line);
            EXPECT_TRUE(object.has_value()) << line;
            if (object) events.push_back(*object);
        }
        return events;
    }
    static std::vector<JsonObject> EventsOf(const std::vector<JsonObject>& all,
                                            const std::string& name) {
        std::vector<JsonObject> picked;
        for (const JsonObject& event : all)
            if (event.count("event") && event.at("event") == name) picked.push_back(event);
        return picked;
    }

    TempFolder work;
    std::string port;
};

}  // namespace mirka::test
