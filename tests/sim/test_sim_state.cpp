// How key texts change what the simulated instrument shows.
#include "CSimPanelState.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace {

void Press(CSimPanelState &state, std::initializer_list<const char *> keys)
{
    for (const char *key : keys)
        ASSERT_TRUE(state.Apply(key)) << key;
}

TEST(SimPanelState, EveryPanelKeyTextIsKnown)
{
    // The texts both panels, the knob and the quality menu send.
    const char *texts[] = {
        "KEYP:MODE",      "KEYP:SETUP",    "KEYP:FAV",  "KEYP:QSAVE",   "KEYP:SL",
        "KEYP:CAL",       "KEYP:MARK",     "KEYP:PEAK", "KEYP:TRACE",   "KEYP:LIMIT",
        "KEYP:HOLD",      "KEYP:AUTO",     "KEYP:NUM1", "KEYP:NUM2",    "KEYP:NUM3",
        "KEYP:NUM4",      "KEYP:NUM5",     "KEYP:NUM6", "KEYP:NUM7",    "KEYP:NUM8",
        "KEYP:NUM9",      "KEYP:NUM0",     "KEYP:JUM",  "KEYP:ESC",     "KEYP:ENTR",
        "KEYP:BUHO",      "KEYP:UP",       "KEYP:DOWN", "KEYP:LEFT",    "KEYP:RIGHT",
        "KEYP:RIGH",      "KEYP:CUS1",     "KEYP:CUS2", "KEYP:CUS3",    "KEYP:CUS4",
        "KEYP:CUS5",      "KEYP:CUS6",     "KEYP:CUS7", "KEYP:PREV",    "KEYP:FREQ",
        "KEYP:AMP",       "KEYP:BW",       "KEYP:TRAC", "KEYP:DEL",     "KEYP:QUAL:HIGH",
        "KEYP:QUAL:NORM", "KEYP:QUAL:LOW", "KEYP 0,0",  "KEYP 799,479",
    };
    CSimPanelState state;
    for (const char *text : texts) {
        EXPECT_TRUE(state.Apply(text)) << text;
        EXPECT_TRUE(state.Apply(std::string(text) + "\n")) << text << " with its line feed";
    }
}

TEST(SimPanelState, UnknownTextsAreRejectedAndChangeNothing)
{
    CSimPanelState state;
    Press(state, {"KEYP:FREQ"});
    const std::string status(state.Status());
    for (const char *text : {"KEYP:mode", "KEYP:FOO", "HELLO", "", "KEYP:", "KEYP 1,", "KEYP a,b",
                             "KEYP 1,2,3", "KEYP 99999999999,1", "KEYP:MODE junk"}) {
        EXPECT_FALSE(state.Apply(text)) << text;
    }
    EXPECT_EQ(state.Menu(), SimMenu::Freq);
    EXPECT_EQ(state.Status(), status);
    EXPECT_FALSE(state.Touch().has_value());
}

TEST(SimPanelState, ModeCyclesThroughTheMeasurementsAndWraps)
{
    CSimPanelState state;
    EXPECT_EQ(state.MeasurementName(), "Spectrum Analyzer");
    Press(state, {"KEYP:MODE"});
    EXPECT_EQ(state.MeasurementName(), "Cable & Antenna: Distance-to-Fault");
    EXPECT_TRUE(state.IsCableAntenna());
    for (int i = 1; i < CSimPanelState::MeasurementCount(); ++i)
        Press(state, {"KEYP:MODE"});
    EXPECT_EQ(state.MeasurementName(), "Spectrum Analyzer");
    // The mode menu picks a measurement directly.
    Press(state, {"KEYP:MODE", "KEYP:CUS4"});
    EXPECT_EQ(state.MeasurementName(), "Cable & Antenna: VSWR");
}

TEST(SimPanelState, NumericEntryCommitsCentreFrequency)
{
    CSimPanelState state;
    Press(state, {"KEYP:FREQ", "KEYP:CUS1"});
    EXPECT_TRUE(state.EntryActive());
    EXPECT_EQ(state.EntryTarget(), SimEntryTarget::Center);
    EXPECT_EQ(state.HighlightedSoftKey(), 0);
    Press(state, {"KEYP:NUM1", "KEYP:NUM2", "KEYP:JUM", "KEYP:JUM", "KEYP:NUM5"});
    EXPECT_EQ(state.EntryText(), "12.5"); // a second decimal point is ignored
    EXPECT_EQ(state.HighlightedSoftKey(), 0);
    Press(state, {"KEYP:ENTR"});
    EXPECT_EQ(state.HighlightedSoftKey(), -1);
    EXPECT_FALSE(state.EntryActive());
    EXPECT_DOUBLE_EQ(state.CenterMHz(), 12.5);

    // Span through the second soft key.
    Press(state, {"KEYP:CUS2", "KEYP:NUM2", "KEYP:NUM0", "KEYP:ENTR"});
    EXPECT_DOUBLE_EQ(state.SpanMHz(), 20.0);
    EXPECT_DOUBLE_EQ(state.CenterMHz(), 12.5);
}

TEST(SimPanelState, EntryEditingSignDeleteEscapeAndLimits)
{
    CSimPanelState state;
    // A digit with no menu open edits the centre.
    Press(state, {"KEYP:NUM7", "KEYP:BUHO"});
    EXPECT_EQ(state.EntryText(), "-7");
    Press(state, {"KEYP:BUHO", "KEYP:DEL"});
    EXPECT_EQ(state.EntryText(), "");
    Press(state, {"KEYP:NUM3", "KEYP:ESC"});
    EXPECT_FALSE(state.EntryActive());
    EXPECT_DOUBLE_EQ(state.CenterMHz(), 1000.0);

    // Out of range and malformed entries leave the value alone.
    Press(state, {"KEYP:NUM5", "KEYP:BUHO", "KEYP:ENTR"});
    EXPECT_DOUBLE_EQ(state.CenterMHz(), 1000.0);
    EXPECT_EQ(state.Status(), "Out of range");
    Press(state, {"KEYP:JUM", "KEYP:ENTR"});
    EXPECT_DOUBLE_EQ(state.CenterMHz(), 1000.0);
    EXPECT_EQ(state.Status(), "Invalid entry");

    // The field holds a bounded number of characters.
    for (int i = 0; i < 40; ++i)
        Press(state, {"KEYP:NUM9"});
    EXPECT_EQ(state.EntryText().size(), CSimPanelState::kMaxEntryChars);

    // In the amplitude menu digits edit the reference level.
    CSimPanelState amp;
    Press(amp, {"KEYP:AMP", "KEYP:NUM2", "KEYP:NUM0", "KEYP:BUHO", "KEYP:ENTR"});
    EXPECT_DOUBLE_EQ(amp.RefLevelDbm(), -20.0);
}

TEST(SimPanelState, ArrowsAndKnobMoveCentreOrMarker)
{
    CSimPanelState state;
    const double span = state.SpanMHz();
    Press(state, {"KEYP:RIGH"});
    EXPECT_DOUBLE_EQ(state.CenterMHz(), 1000.0 + span / 10);
    Press(state, {"KEYP:LEFT", "KEYP:LEFT"});
    EXPECT_DOUBLE_EQ(state.CenterMHz(), 1000.0 - span / 10);
    Press(state, {"KEYP:UP"});
    EXPECT_DOUBLE_EQ(state.CenterMHz(), 1000.0 - span / 10 + span / 2);

    // With the marker menu open the steps move the marker, not the centre.
    Press(state, {"KEYP:MARK", "KEYP:CUS1"});
    ASSERT_TRUE(state.MarkerOn());
    const double centre = state.CenterMHz();
    const double marker = state.MarkerMHz();
    Press(state, {"KEYP:RIGHT"});
    EXPECT_DOUBLE_EQ(state.CenterMHz(), centre);
    EXPECT_DOUBLE_EQ(state.MarkerMHz(), marker + span / 100);
    // The marker stays on screen.
    for (int i = 0; i < 50; ++i)
        Press(state, {"KEYP:UP"});
    EXPECT_DOUBLE_EQ(state.MarkerMHz(), centre + span / 2);

    // The centre cannot go below zero.
    CSimPanelState low;
    Press(low, {"KEYP:NUM1", "KEYP:ENTR"});
    for (int i = 0; i < 10; ++i)
        Press(low, {"KEYP:DOWN"});
    EXPECT_DOUBLE_EQ(low.CenterMHz(), 0.0);
}

TEST(SimPanelState, PeakFindsTheSignalOnlyWhenItIsInSpan)
{
    CSimPanelState state;
    Press(state, {"KEYP:PEAK"});
    EXPECT_TRUE(state.MarkerOn());
    EXPECT_TRUE(state.MarkerAtPeak());
    EXPECT_DOUBLE_EQ(state.MarkerMHz(), state.SignalMHz());
    EXPECT_EQ(state.Menu(), SimMenu::Peak);

    Press(state, {"KEYP:FREQ", "KEYP:CUS1", "KEYP:NUM5", "KEYP:ENTR", "KEYP:PEAK"});
    EXPECT_FALSE(state.MarkerAtPeak());
    EXPECT_DOUBLE_EQ(state.MarkerMHz(), 5.0);

    Press(state, {"KEYP:MARK", "KEYP:CUS4"});
    EXPECT_FALSE(state.MarkerOn());
}

TEST(SimPanelState, TouchIsClampedToTheScreenOfTheFamily)
{
    CSimPanelState lk(SimFamily::Lk);
    Press(lk, {"KEYP 100,200"});
    ASSERT_TRUE(lk.Touch());
    EXPECT_EQ(lk.Touch()->x, 100);
    EXPECT_EQ(lk.Touch()->y, 200);
    Press(lk, {"KEYP 800,600"});
    EXPECT_EQ(lk.Touch()->x, 799);
    EXPECT_EQ(lk.Touch()->y, 599);

    CSimPanelState kkc(SimFamily::Kkc);
    Press(kkc, {"KEYP -5,590"});
    EXPECT_EQ(kkc.Touch()->x, 0);
    EXPECT_EQ(kkc.Touch()->y, 479);
}

TEST(SimPanelState, QualityTogglesAndMenus)
{
    CSimPanelState state;
    EXPECT_EQ(state.JpegQuality(), 90);
    Press(state, {"KEYP:QUAL:LOW"});
    EXPECT_EQ(state.JpegQuality(), 50);
    Press(state, {"KEYP:QUAL:NORM"});
    EXPECT_EQ(state.JpegQuality(), 75);

    Press(state, {"KEYP:HOLD", "KEYP:LIMIT", "KEYP:AUTO"});
    EXPECT_TRUE(state.Hold());
    EXPECT_TRUE(state.LimitOn());
    EXPECT_TRUE(state.AutoSave());
    Press(state, {"KEYP:HOLD"});
    EXPECT_FALSE(state.Hold());

    Press(state, {"KEYP:TRAC", "KEYP:CUS2"});
    EXPECT_EQ(state.TraceMode(), SimTraceMode::MaxHold);
    EXPECT_EQ(state.SoftKeyLabels()[1], "Max Hold");
    Press(state, {"KEYP:BW", "KEYP:PREV"});
    EXPECT_EQ(state.Menu(), SimMenu::Trace);
    Press(state, {"KEYP:ESC"});
    EXPECT_EQ(state.Menu(), SimMenu::None);

    Press(state, {"KEYP:QSAVE"});
    EXPECT_EQ(state.Status(), "Key: QSAVE");
}

TEST(SimTypes, ModelsImplyTheirScreenFamily)
{
    EXPECT_EQ(DefaultFamilyForModel("KL561B"), SimFamily::Lk);
    EXPECT_EQ(DefaultFamilyForModel("QX512A"), SimFamily::Lk);
    EXPECT_EQ(DefaultFamilyForModel("MW310"), SimFamily::Lk);
    EXPECT_EQ(DefaultFamilyForModel("KL535C"), SimFamily::Kkc);
    EXPECT_EQ(DefaultFamilyForModel("MW5000"), SimFamily::Kkc);
    EXPECT_EQ(DefaultFamilyForModel(""), SimFamily::Lk);
    EXPECT_EQ(ScreenSizeOf(SimFamily::Kkc).height, 480);
    EXPECT_EQ(ScreenSizeOf(SimFamily::Lk).height, 600);
    EXPECT_EQ(ParseFault("overlong"), SimFault::Overlong);
    EXPECT_FALSE(ParseFault("Overlong"));
    EXPECT_FALSE(ParseFamily("LK"));
}

} // namespace
