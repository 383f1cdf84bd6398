#include "AppOptions.h"

#include <gtest/gtest.h>

namespace {

ParseResult Parse(const QStringList &args, AppOptions &options)
{
    return ParseAppOptions(QStringList{QStringLiteral("klremote")} + args, options);
}

TEST(AppOptions, PlainStartAsksForTheFamilyAndUsesTheRealLink)
{
    AppOptions options;
    options.family = 2; // stale values must not survive a parse
    options.simulate = true;
    const ParseResult r = Parse({}, options);
    ASSERT_EQ(r.outcome, ParseOutcome::Run);
    EXPECT_EQ(options.family, -1);
    EXPECT_FALSE(options.simulate);
    EXPECT_TRUE(options.simModel.isEmpty());
    EXPECT_TRUE(options.logDir.isEmpty());
}

TEST(AppOptions, SimulateTakesAnOptionalModelWithoutSwallowingTheNextOption)
{
    AppOptions options;
    ASSERT_EQ(Parse({"--simulate"}, options).outcome, ParseOutcome::Run);
    EXPECT_TRUE(options.simulate);
    EXPECT_TRUE(options.simModel.isEmpty());

    ASSERT_EQ(Parse({"--simulate", "--family", "1"}, options).outcome, ParseOutcome::Run);
    EXPECT_TRUE(options.simulate);
    EXPECT_TRUE(options.simModel.isEmpty());
    EXPECT_EQ(options.family, 1);

    ASSERT_EQ(Parse({"--family=0", "--simulate=MW5000C"}, options).outcome, ParseOutcome::Run);
    EXPECT_EQ(options.simModel, QStringLiteral("MW5000C"));
    EXPECT_EQ(options.family, 0);

    // A model is only ever given with "=": a separate word is a stray argument.
    EXPECT_EQ(Parse({"--simulate", "KL561B"}, options).outcome, ParseOutcome::Error);
}

TEST(AppOptions, SimulatedModelMustBeAShortPrintableName)
{
    AppOptions options;
    EXPECT_EQ(Parse({"--simulate=KL 561B"}, options).outcome, ParseOutcome::Error);
    EXPECT_EQ(
        Parse({QStringLiteral("--simulate=") + QString(32, QLatin1Char('K'))}, options).outcome,
        ParseOutcome::Error);
    EXPECT_EQ(Parse({QStringLiteral("--simulate=K\u00e4561")}, options).outcome,
              ParseOutcome::Error);
    EXPECT_EQ(
        Parse({QStringLiteral("--simulate=") + QString(31, QLatin1Char('K'))}, options).outcome,
        ParseOutcome::Run);
}

TEST(AppOptions, ReplayTakesOneFileAndNeitherAFamilyNorTheSimulator)
{
    AppOptions options;
    ASSERT_EQ(Parse({"--replay", "session.mkv"}, options).outcome, ParseOutcome::Run);
    EXPECT_EQ(options.replay, QStringLiteral("session.mkv"));
    EXPECT_EQ(options.family, -1);
    EXPECT_EQ(Parse({"--replay"}, options).outcome, ParseOutcome::Error);
    EXPECT_EQ(Parse({"--replay="}, options).outcome, ParseOutcome::Error);
    EXPECT_EQ(Parse({"--replay", "a.mkv", "--replay", "b.mkv"}, options).outcome,
              ParseOutcome::Error);
    EXPECT_EQ(Parse({"--replay", "a.mkv", "--simulate"}, options).outcome, ParseOutcome::Error);
    EXPECT_EQ(Parse({"--replay", "a.mkv", "--family", "1"}, options).outcome, ParseOutcome::Error);
}

TEST(AppOptions, FamilyAcceptsExactlyTheThreeIndices)
{
    AppOptions options;
    for (int n = 0; n < 3; ++n) {
        ASSERT_EQ(Parse({"--family", QString::number(n)}, options).outcome, ParseOutcome::Run);
        EXPECT_EQ(options.family, n);
    }
    for (const char *bad : {"3", "-1", "x", "", "1.0", "01", "0x1", "9999999999"}) {
        const ParseResult r = Parse({"--family", bad}, options);
        EXPECT_EQ(r.outcome, ParseOutcome::Error) << bad;
        EXPECT_FALSE(r.text.isEmpty()) << bad;
    }
    EXPECT_EQ(Parse({"--family"}, options).outcome, ParseOutcome::Error);
    // Two different answers to one question are refused rather than one picked silently.
    EXPECT_EQ(Parse({"--family", "0", "--family", "1"}, options).outcome, ParseOutcome::Error);
}

TEST(AppOptions, UnknownOptionsAndStrayArgumentsAreErrorsThatNameTheCulprit)
{
    AppOptions options;
    ParseResult r = Parse({"--simulated"}, options);
    EXPECT_EQ(r.outcome, ParseOutcome::Error);
    EXPECT_TRUE(r.text.contains(QStringLiteral("simulated"))) << r.text.toStdString();

    r = Parse({"KL561B"}, options);
    EXPECT_EQ(r.outcome, ParseOutcome::Error);
    EXPECT_TRUE(r.text.contains(QStringLiteral("KL561B"))) << r.text.toStdString();
}

TEST(AppOptions, HelpListsThePublicOptionsOnly)
{
    AppOptions options;
    const ParseResult r = Parse({"--help"}, options);
    ASSERT_EQ(r.outcome, ParseOutcome::Help);
    EXPECT_TRUE(r.text.contains(QStringLiteral("--simulate")));
    EXPECT_TRUE(r.text.contains(QStringLiteral("--family")));
    EXPECT_TRUE(r.text.contains(QStringLiteral("--version")));
    EXPECT_FALSE(r.text.contains(QStringLiteral("--log-dir")));
    EXPECT_EQ(Parse({"-h"}, options).outcome, ParseOutcome::Help);
}

TEST(AppOptions, VersionNamesTheRelease)
{
    AppOptions options;
    const ParseResult r = Parse({"--version"}, options);
    ASSERT_EQ(r.outcome, ParseOutcome::Version);
    EXPECT_TRUE(r.text.contains(QStringLiteral(KLR_VERSION))) << r.text.toStdString();
}

TEST(AppOptions, LogFolderIsTakenAsGivenAndMustNotBeEmpty)
{
    AppOptions options;
    ASSERT_EQ(Parse({"--log-dir", "/tmp/some where"}, options).outcome, ParseOutcome::Run);
    EXPECT_EQ(options.logDir, QStringLiteral("/tmp/some where"));
    EXPECT_EQ(Parse({"--log-dir="}, options).outcome, ParseOutcome::Error);
}

TEST(AppOptions, ShareTakesAPortWithAnOptionalNumericAddress)
{
    AppOptions options;
    ASSERT_EQ(Parse({}, options).outcome, ParseOutcome::Run);
    EXPECT_TRUE(options.share.isEmpty());
    ASSERT_EQ(Parse({"--share", "8080"}, options).outcome, ParseOutcome::Run);
    EXPECT_EQ(options.share, QStringLiteral("8080"));
    ASSERT_EQ(Parse({"--share=0.0.0.0:9000", "--family", "1"}, options).outcome, ParseOutcome::Run);
    EXPECT_EQ(options.share, QStringLiteral("0.0.0.0:9000"));
    for (const char *bad : {"--share=", "--share=lab-pc:8080", "--share=99999"}) {
        const ParseResult r = Parse({bad}, options);
        EXPECT_EQ(r.outcome, ParseOutcome::Error) << bad;
        EXPECT_TRUE(r.text.startsWith("--share takes [ADDRESS:]PORT")) << r.text.toStdString();
    }
}

TEST(AppOptions, TextOnlyRequestsAreRecognisedBeforeAnyWindowExists)
{
    const QString exe = QStringLiteral("klremote");
    EXPECT_TRUE(WantsTextOnly({exe, "--help"}));
    EXPECT_TRUE(WantsTextOnly({exe, "--family", "1", "-v"}));
    EXPECT_TRUE(WantsTextOnly({exe, "--version"}));
    EXPECT_FALSE(WantsTextOnly({exe}));
    EXPECT_FALSE(WantsTextOnly({exe, "--simulate", "--family", "0"}));
    EXPECT_FALSE(WantsTextOnly({exe, "--", "--help"}));
    // The program name itself is never an option.
    EXPECT_FALSE(WantsTextOnly({QStringLiteral("--help")}));
}

TEST(AppOptions, ToolkitOptionsAreLeftForTheToolkitToTakeFirst)
{
    const QString exe = QStringLiteral("klremote");
    EXPECT_TRUE(MayHoldToolkitOptions({exe, "-platform", "offscreen", "--family", "1"}));
    EXPECT_TRUE(MayHoldToolkitOptions({exe, "-style=fusion"}));
    // Our own spellings are judged at once, so a mistake needs no display to be reported.
    EXPECT_FALSE(MayHoldToolkitOptions({exe, "--family", "7"}));
    EXPECT_FALSE(MayHoldToolkitOptions({exe, "-h"}));
    EXPECT_FALSE(MayHoldToolkitOptions({exe, "--", "-platform"}));
    // What the toolkit leaves behind is parsed as ours: "-simulate" spelt with one dash.
    AppOptions options;
    ASSERT_EQ(Parse({"-simulate", "-family", "2"}, options).outcome, ParseOutcome::Run);
    EXPECT_TRUE(options.simulate);
    EXPECT_EQ(options.family, 2);
}

} // namespace
