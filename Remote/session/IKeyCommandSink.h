#pragma once

#include <string>

// Whoever takes key-command texts for the instrument: the knob and the keys know no more of
// the panel than this.
class IKeyCommandSink
{
public:
    virtual void SendKeyCommand(const std::string &text) = 0;

protected:
    ~IKeyCommandSink() = default;
};
