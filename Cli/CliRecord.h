// The file behind klremote-cli record: a recording exactly as the panels write it. A build
// without the recording module (the Windows core build) refuses with a clear message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CCliRecording
{
public:
    enum class Added
    {
        Ok,
        Skipped, // not a JPEG picture: left out, the recording goes on
        Stop,    // a full disk or a write error: the recording has to stop
    };

    virtual ~CCliRecording() = default;
    // One frame, `ms` milliseconds after the first; the reason in `error` unless Ok.
    virtual Added Add(const std::vector<std::uint8_t> &jpeg, std::int64_t ms,
                      std::string &error) = 0;
    // Writes the end of the file; false, with the reason, when that failed.
    virtual bool Finish(std::string &error) = 0;
    virtual std::int64_t Bytes() const = 0;
};

// Creates (or replaces) the file; `model` is the instrument's identification. Null, with the
// reason, when it cannot be created or this build cannot record.
std::unique_ptr<CCliRecording> StartCliRecording(const std::string &path, const std::string &model,
                                                 std::string &error);
