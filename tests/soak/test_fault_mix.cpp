// The simulator's fault mix that the soak relies on: about the asked share of replies is
// faulty, the kinds are mixed, a seed repeats a run, and probability 0 ends the mix.
#include "CSimInstrument.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

std::vector<SimReply::Action> Actions(CSimInstrument &instrument, int count)
{
    auto request = std::make_unique<klr::DecodedPacket>();
    request->command = klr::kCommand;
    request->code = klr::REQ_EQUIP_INFO;
    request->total = 1;
    std::vector<SimReply::Action> actions;
    for (int i = 0; i < count; ++i)
        actions.push_back(instrument.Handle(*request).action);
    return actions;
}

TEST(FaultMix, AboutTheAskedShareIsFaultyWithEveryKindDrawn)
{
    CSimInstrument instrument;
    instrument.SetLogSink([](std::string_view) {});
    instrument.SetFaultMix(0.05, {SimFault::Close, SimFault::Silence}, 7);
    const auto actions = Actions(instrument, 4000);
    int close = 0;
    int silence = 0;
    for (SimReply::Action action : actions) {
        close += action == SimReply::Action::Close ? 1 : 0;
        silence += action == SimReply::Action::Silence ? 1 : 0;
    }
    // 200 expected; the bounds only catch a mix that is off or stuck.
    EXPECT_GT(close + silence, 120);
    EXPECT_LT(close + silence, 300);
    EXPECT_GT(close, 40);
    EXPECT_GT(silence, 40);
}

TEST(FaultMix, TheSameSeedRepeatsARunAndZeroEndsTheMix)
{
    CSimInstrument a;
    CSimInstrument b;
    for (CSimInstrument *instrument : {&a, &b}) {
        instrument->SetLogSink([](std::string_view) {});
        instrument->SetFaultMix(0.3, {SimFault::Close, SimFault::Silence}, 99);
    }
    EXPECT_EQ(Actions(a, 300), Actions(b, 300));

    a.SetFaultMix(0, {SimFault::Close}, 1);
    for (SimReply::Action action : Actions(a, 200))
        EXPECT_EQ(action, SimReply::Action::Answer);
    // An empty list of kinds is no mix either.
    a.SetFaultMix(1, {}, 1);
    for (SimReply::Action action : Actions(a, 50))
        EXPECT_EQ(action, SimReply::Action::Answer);
}

} // namespace
