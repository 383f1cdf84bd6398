// Command line of klremote-cli, parsed without side effects.
#pragma once

#include "ConnMethod.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class CliCommand
{
    Info,
    Screenshot,
    Key,
    Watch,
    Serve,
    Record
};

struct CliOptions
{
    ConnMethod method = ConnMethod::TcpIPv4;
    std::string host = "127.0.0.1";
    std::uint16_t port = 66;
    std::string usbIds;                // "VVVV:PPPP", empty for the back-end's default
    std::optional<std::string> usbSim; // simulated USB instrument with this model
    CliCommand command = CliCommand::Info;
    std::string file;                      // screenshot, record
    std::vector<std::string> keys;         // key
    int count = 10;                        // watch; record (0: no limit)
    int seconds = 0;                       // record (0: no limit)
    int intervalMs = 500;                  // watch, record, serve
    std::string outDir;                    // watch
    std::string listen = "127.0.0.1:8080"; // serve: "[ADDRESS:]PORT"
    bool allowControl = false;             // serve: keys from browsers and scripts
    bool reconnect = false;                // watch: a lost instrument is waited for and reconnected
    bool help = false;
};

// Longest key text: with its line feed and terminating NUL it fills the 128-byte field.
inline constexpr std::size_t kMaxKeyText = 126;

extern const char *const kCliUsage;

// Fills `options`; on a usage error returns false with `error` set.
bool ParseCliOptions(const std::vector<std::string> &args, CliOptions &options, std::string &error);

// "VVVV:PPPP" with four hexadecimal digits on each side.
bool IsUsbId(const std::string &text);
// Printable ASCII, short enough for one text command.
bool IsKeyText(const std::string &text);
