// Linked into every plain test executable of the Windows build: sockets need Winsock
// started before the first call, which the application does in its panel start-up.
#include "Networking.h"

#include <gtest/gtest.h>

namespace {

class WinsockEnvironment : public testing::Environment
{
public:
    void SetUp() override { ASSERT_TRUE(klr::net::StartNetworking()) << "WSAStartup failed"; }
    void TearDown() override { klr::net::StopNetworking(); }
};

const testing::Environment *const registered =
    testing::AddGlobalTestEnvironment(new WinsockEnvironment);

} // namespace
