#include "CInterface.h"

CInterface::~CInterface()
{
    Close(true);
}
