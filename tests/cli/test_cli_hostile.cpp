// klremote-cli against an instrument whose identification carries terminal control codes.
#include "CSimServer.h"
#include "CliRunner.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace {

TEST(RegressCliHostile, InfoPrintsControlCodesEscapedAndTheRestAsReceived)
{
    // A title change and a bell, DEL, a raw and a UTF-8 C1 CSI, a line break that would hide
    // what came before; then text that must stay as it came: UTF-8 (a euro sign and an s with
    // acute, whose second bytes look like C1 codes) and a Latin-1 e-acute.
    const std::string model = "KL\x1b]0;owned\x07"
                              "561B\x7f|\x9b|\xc2\x9b|\r\n|\xe2\x82\xac\xc5\x9b|\xe9";
    const std::string printed = "KL\\x1b]0;owned\\x07"
                                "561B\\x7f|\\x9b|\\xc2\\x9b|\\x0d\\x0a|\xe2\x82\xac\xc5\x9b|\xe9\n";

    auto instrument = std::make_shared<CSimInstrument>();
    instrument->SetLogSink({});
    instrument->SetModel(model);
    CSimServer server(instrument);
    ASSERT_TRUE(server.Start("127.0.0.1", 0));

    std::ostringstream out, err;
    const int status = RunCli(
        {"--method", "tcp", "--host", "127.0.0.1", "--port", std::to_string(server.Port()), "info"},
        out, err);
    EXPECT_EQ(status, 0) << err.str();
    EXPECT_EQ(out.str(), printed);
    server.Stop();
}

} // namespace
