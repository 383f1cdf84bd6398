#pragma once

// The window that owns a CDevComm. The USB reader thread reports a completed reply
// through it, from its own thread.
class IDevCommOwner
{
public:
    virtual void SetScreenReady(int value) = 0;

protected:
    ~IDevCommOwner() = default;
};
