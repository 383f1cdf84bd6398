#include "CliOptions.h"

#include <cctype>
#include <charconv>

const char *const kCliUsage =
    "usage: klremote-cli [--method tcp|tcp6|usb] [--host ADDRESS] [--port N]\n"
    "                    [--usb-id VVVV:PPPP] COMMAND [ARGS]\n"
    "  info                        print the identification text and a newline\n"
    "  screenshot FILE             fetch \"currentdisp.jpg\" and write the reply bytes to FILE;\n"
    "                              a FILE ending in .png is decoded and saved as PNG instead\n"
    "  key TEXT [TEXT...]          send each text as a key command (line feed appended), in order\n"
    "  watch [-n COUNT] [--interval MS] [--out DIR] [--reconnect]\n"
    "                              fetch COUNT screens (default 10), at most one per MS\n"
    "                              (default 500, 0 = back to back); print one line per frame and\n"
    "                              a summary; with --out, save each frame into DIR; with\n"
    "                              --reconnect, an instrument that goes away is tried again\n"
    "                              1, 2, 4 and 8 s later, then every 10 s, until it is back\n"
    "  serve [--listen [ADDRESS:]PORT] [--allow-control] [--interval MS]\n"
    "                              show the screen in web browsers and to scripts on PORT\n"
    "                              (default 127.0.0.1:8080): the live page at /, the latest\n"
    "                              picture at /screen.jpg, a summary at /api/info; with\n"
    "                              --allow-control, POST /api/key?token=TOKEN takes key texts;\n"
    "                              fetches a screen at most every MS (default 500) until stopped\n"
    "  record FILE.mkv [-n COUNT | --seconds S] [--interval MS]\n"
    "                              fetch screens at most one per MS (default 500) and record\n"
    "                              them into FILE.mkv (Matroska, the instrument's JPEG frames\n"
    "                              unchanged, with their arrival times): COUNT screens, S\n"
    "                              seconds, or until interrupted; one line per frame\n"
    "Defaults: --method tcp, --host 127.0.0.1, --port 66.\n"
    "Testing aid: --usb-sim[=MODEL] with --method usb talks to an in-process simulated\n"
    "instrument through a simulated USB device instead of real hardware.\n"
    "Exit status: 0 success, 1 link failure (\"error: TEXT\" on standard error), 2 usage error.\n";

namespace {

bool ParseInt(const std::string &text, long lo, long hi, long &value)
{
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end && value >= lo && value <= hi;
}

} // namespace

bool IsUsbId(const std::string &text)
{
    if (text.size() != 9 || text[4] != ':')
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != 4 && !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

bool IsKeyText(const std::string &text)
{
    if (text.empty() || text.size() > kMaxKeyText)
        return false;
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

bool ParseCliOptions(const std::vector<std::string> &args, CliOptions &options, std::string &error)
{
    std::size_t i = 0;
    auto value = [&](const std::string &option, std::string &out) {
        if (i + 1 >= args.size()) {
            error = "missing value for " + option;
            return false;
        }
        out = args[++i];
        return true;
    };
    // A whole number from lo to hi as the option's value ("bad <what>: ..." otherwise).
    auto number = [&](const std::string &option, long lo, long hi, const char *what, int &out) {
        std::string v;
        long n = 0;
        if (!value(option, v))
            return false;
        if (!ParseInt(v, lo, hi, n)) {
            error = std::string("bad ") + what + ": " + v;
            return false;
        }
        out = static_cast<int>(n);
        return true;
    };
    // A value that must not be empty (`emptyError` otherwise).
    auto nonEmpty = [&](const std::string &option, const char *emptyError, std::string &out) {
        std::string v;
        if (!value(option, v))
            return false;
        if (v.empty()) {
            error = emptyError;
            return false;
        }
        out = v;
        return true;
    };

    // Options of the link come before the command.
    for (; i < args.size(); ++i) {
        const std::string &arg = args[i];
        std::string v;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return true;
        }
        if (arg == "--method") {
            if (!value(arg, v))
                return false;
            if (v == "tcp") {
                options.method = ConnMethod::TcpIPv4;
            } else if (v == "tcp6") {
                options.method = ConnMethod::TcpIPv6;
            } else if (v == "usb") {
                options.method = ConnMethod::Usb;
            } else {
                error = "unknown method: " + v;
                return false;
            }
        } else if (arg == "--host") {
            if (!nonEmpty(arg, "empty host", options.host))
                return false;
        } else if (arg == "--port") {
            long port = 0;
            if (!value(arg, v))
                return false;
            if (!ParseInt(v, 1, 65535, port)) {
                error = "bad port: " + v;
                return false;
            }
            options.port = static_cast<std::uint16_t>(port);
        } else if (arg == "--usb-id") {
            if (!value(arg, v))
                return false;
            if (!IsUsbId(v)) {
                error = "bad USB id (want VVVV:PPPP): " + v;
                return false;
            }
            options.usbIds = v;
        } else if (arg == "--usb-sim") {
            options.usbSim = std::string();
        } else if (arg.starts_with("--usb-sim=")) {
            options.usbSim = arg.substr(std::string("--usb-sim=").size());
        } else if (arg.starts_with("-")) {
            error = "unknown option: " + arg;
            return false;
        } else {
            break;
        }
    }
    if (options.usbSim && options.method != ConnMethod::Usb) {
        error = "--usb-sim needs --method usb";
        return false;
    }
    if (i >= args.size()) {
        error = "no command";
        return false;
    }

    const std::string &command = args[i++];
    const std::size_t rest = args.size() - i;
    if (command == "info") {
        options.command = CliCommand::Info;
        if (rest != 0) {
            error = "info takes no arguments";
            return false;
        }
    } else if (command == "screenshot") {
        options.command = CliCommand::Screenshot;
        if (rest != 1 || args[i].empty()) {
            error = "screenshot takes one FILE";
            return false;
        }
        options.file = args[i];
    } else if (command == "key") {
        options.command = CliCommand::Key;
        if (rest == 0) {
            error = "key takes at least one TEXT";
            return false;
        }
        for (; i < args.size(); ++i) {
            if (!IsKeyText(args[i])) {
                error = "not a key text (printable ASCII, 1 to 126 characters): " + args[i];
                return false;
            }
            options.keys.push_back(args[i]);
        }
    } else if (command == "watch") {
        options.command = CliCommand::Watch;
        for (; i < args.size(); ++i) {
            const std::string &arg = args[i];
            if (arg == "-n") {
                if (!number(arg, 1, 1000000, "count", options.count))
                    return false;
            } else if (arg == "--interval") {
                if (!number(arg, 0, 3600000, "interval", options.intervalMs))
                    return false;
            } else if (arg == "--out") {
                if (!nonEmpty(arg, "empty output folder", options.outDir))
                    return false;
            } else if (arg == "--reconnect") {
                options.reconnect = true;
            } else {
                error = "unknown watch argument: " + arg;
                return false;
            }
        }
    } else if (command == "serve") {
        options.command = CliCommand::Serve;
        for (; i < args.size(); ++i) {
            const std::string &arg = args[i];
            if (arg == "--listen") {
                if (!nonEmpty(arg, "empty listen address", options.listen))
                    return false;
            } else if (arg == "--allow-control") {
                options.allowControl = true;
            } else if (arg == "--interval") {
                if (!number(arg, 0, 3600000, "interval", options.intervalMs))
                    return false;
            } else {
                error = "unknown serve argument: " + arg;
                return false;
            }
        }
    } else if (command == "record") {
        options.command = CliCommand::Record;
        options.count = 0;
        if (rest == 0 || args[i].empty() || args[i].starts_with("-")) {
            error = "record takes a FILE first";
            return false;
        }
        options.file = args[i++];
        bool counted = false;
        bool timed = false;
        for (; i < args.size(); ++i) {
            const std::string &arg = args[i];
            if (arg == "-n") {
                if (!number(arg, 1, 1000000, "count", options.count))
                    return false;
                counted = true;
            } else if (arg == "--seconds") {
                if (!number(arg, 1, 7 * 24 * 3600, "seconds", options.seconds))
                    return false;
                timed = true;
            } else if (arg == "--interval") {
                if (!number(arg, 0, 3600000, "interval", options.intervalMs))
                    return false;
            } else {
                error = "unknown record argument: " + arg;
                return false;
            }
        }
        if (counted && timed) {
            error = "record takes -n or --seconds, not both";
            return false;
        }
    } else {
        error = "unknown command: " + command;
        return false;
    }
    return true;
}
