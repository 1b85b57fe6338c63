#include "TestSupport.h"
#include "quorvane/compile/Dispatcher.h"
#include "quorvane/base/SizeText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <thread>

using namespace qv;

TEST(SizeText, Boundaries)
{
    EXPECT_EQ(SizeText(0), "0 Byte(s)");
    EXPECT_EQ(SizeText(1023), "1023 Byte(s)");
    EXPECT_EQ(SizeText(1024), "1.00 KB");
    EXPECT_EQ(SizeText(1536), "1.50 KB");
    EXPECT_EQ(SizeText(1048575), "1024.00 KB");
    EXPECT_EQ(SizeText(1048576), "1.00 MB");
    EXPECT_EQ(SizeText(int64_t{3} << 30), "3.00 GB");
    EXPECT_EQ(SizeText(-1), "-1 Byte(s)");
}

TEST(SizeText, LocaleDecimalSeparator)
{
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    EXPECT_EQ(SizeText(1536), "1,50 KB");
    std::setlocale(LC_NUMERIC, "C");
}

TEST(QueueDispatcher, RunsWorkOnTheServingThreadAndReturnsErrors)
{
    QueueDispatcher d;
    const auto servingThread = std::this_thread::get_id();
    std::atomic<bool> done{false};
    std::vector<std::thread::id> ranOn;
    bool errorCameBack = false;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            d.Synchronize([&] { ranOn.push_back(std::this_thread::get_id()); });
        try {
            d.Synchronize([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error&) {
            errorCameBack = true;
        }
        done = true;
        d.Wake();
    });
    d.Serve([&] { return done.load(); });
    worker.join();
    ASSERT_EQ(ranOn.size(), 50u);
    for (auto id : ranOn)
        EXPECT_EQ(id, servingThread);
    EXPECT_TRUE(errorCameBack);
}

TEST(InlineDispatcher, RunsWorkOnTheAskingThreadOneAtATime)
{
    InlineDispatcher d;
    int inside = 0, most = 0, runs = 0;
    bool done = false;
    auto worker = [&] {
        for (int i = 0; i < 200; ++i)
            d.Synchronize([&] {
                most = std::max(most, ++inside);
                ++runs;
                --inside;
            });
    };
    std::thread a(worker), b(worker);
    std::thread::id ranOn;
    std::thread ender([&] {
        a.join();
        b.join();
        d.Synchronize([&] {
            ranOn = std::this_thread::get_id();
            done = true;
        });
        d.Wake();
    });
    const auto enderId = ender.get_id();
    d.ServeUntil([&] { return done; });
    ender.join();
    EXPECT_EQ(runs, 400);
    EXPECT_EQ(most, 1);
    EXPECT_EQ(ranOn, enderId);
    EXPECT_THROW(d.Synchronize([] { throw std::runtime_error("boom"); }), std::runtime_error);
}
