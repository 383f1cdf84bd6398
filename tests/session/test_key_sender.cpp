// The ordered key sender: order, spacing between consecutive commands, failures, stopping.
#include "CKeySender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

using namespace std::chrono;

namespace {

struct Recorder
{
    std::mutex lock;
    std::vector<std::string> texts;
    std::vector<steady_clock::time_point> times;
    bool Send(const std::string &text)
    {
        std::lock_guard<std::mutex> guard(lock);
        texts.push_back(text);
        times.push_back(steady_clock::now());
        return text.rfind("fail", 0) != 0;
    }
};

} // namespace

TEST(KeySender, CommandsLeaveInOrderAndSpacedApart)
{
    Recorder recorder;
    CKeySender sender([&](const std::string &t) { return recorder.Send(t); }, nullptr);
    for (int i = 0; i < 5; ++i)
        sender.Post("KEYP:NUM" + std::to_string(i), 40);
    ASSERT_TRUE(sender.Drain(seconds(10)));
    ASSERT_EQ(recorder.texts.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(recorder.texts[i], "KEYP:NUM" + std::to_string(i));
    // The spacing is a lower bound between consecutive sends (steady clock, never shorter).
    for (std::size_t i = 1; i < recorder.times.size(); ++i)
        EXPECT_GE(recorder.times[i] - recorder.times[i - 1], milliseconds(40));
}

TEST(KeySender, PostNeverWaitsForTheLink)
{
    std::atomic<bool> release{false};
    std::atomic<int> sent{0};
    CKeySender sender(
        [&](const std::string &) {
            while (!release)
                std::this_thread::sleep_for(milliseconds(1));
            ++sent;
            return true;
        },
        nullptr);
    // Posting while the link is stuck returns at once; nothing is lost.
    for (int i = 0; i < 20; ++i)
        sender.Post("KEYP:LEFT", 0);
    EXPECT_FALSE(sender.Drain(milliseconds(50)));
    release = true;
    ASSERT_TRUE(sender.Drain(seconds(10)));
    EXPECT_EQ(sent.load(), 20);
}

TEST(KeySender, FailureIsReportedForThatCommandOnly)
{
    Recorder recorder;
    std::vector<std::string> failed;
    std::mutex failedLock;
    CKeySender sender([&](const std::string &t) { return recorder.Send(t); },
                      [&](const std::string &t) {
                          std::lock_guard<std::mutex> guard(failedLock);
                          failed.push_back(t);
                      });
    sender.Post("KEYP:MODE", 0);
    sender.Post("fail:1", 0);
    sender.Post("KEYP:PEAK", 0);
    ASSERT_TRUE(sender.Drain(seconds(10)));
    EXPECT_EQ(recorder.texts.size(), 3u);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0], "fail:1");
}

TEST(KeySender, StopDuringASpacingWaitReturnsPromptlyAndDropsTheRest)
{
    Recorder recorder;
    auto sender = std::make_unique<CKeySender>(
        [&](const std::string &t) { return recorder.Send(t); }, nullptr);
    sender->Post("a", 0);
    for (int i = 0; i < 3; ++i)
        sender->Post("b", 60000);
    ASSERT_FALSE(sender->Drain(milliseconds(100)));
    // A generous bound only to catch a hang: the minute-long spacing must not be waited out.
    const auto before = steady_clock::now();
    sender->Stop();
    EXPECT_LT(steady_clock::now() - before, seconds(20));
    std::lock_guard<std::mutex> guard(recorder.lock);
    EXPECT_EQ(recorder.texts, std::vector<std::string>{"a"});
    sender->Post("late", 0); // ignored after Stop, and no crash
}
