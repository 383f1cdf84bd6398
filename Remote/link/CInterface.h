// The socket object the link embeds; closes with the 50 ms pause when destroyed.
#pragma once

#include "CSocketComm.h"

class CInterface : public CSocketComm
{
public:
    CInterface() = default;
    ~CInterface() override;
};
