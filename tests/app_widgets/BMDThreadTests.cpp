// The background worker: which thread each event runs on and in what order, refused starts,
// stopping a suspended worker, waiting for a run, and a group reporting for its members.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "WidgetTestSupport.h"
#include "app/widgets/BMDThread.h"

namespace {

class BMDThreadTest : public TWidgetTest {
  protected:
    // Records an event with whether it ran on the main thread.
    void Record(const std::string& event) {
        std::lock_guard lock(lock_);
        events_.push_back(event + (std::this_thread::get_id() == main_ ? "@main" : "@worker"));
    }
    std::vector<std::string> Events() {
        std::lock_guard lock(lock_);
        return events_;
    }
    bool Saw(const std::string& event) {
        const auto events = Events();
        return std::find(events.begin(), events.end(), event) != events.end();
    }

    const std::thread::id main_ = std::this_thread::get_id();
    std::mutex lock_;
    std::vector<std::string> events_;
};

TEST_F(BMDThreadTest, EventsRunOnTheirThreadsInOrder) {
    TBMDThread worker;
    int data = 7;
    int replaced = 8;
    std::atomic<int> updates{0};
    worker.SetRefreshInterval(1);
    worker.SetUpdateEnabled(true);
    worker.OnStart = [&](QObject* sender, TBMDExecuteThread* thread, void*& d) {
        EXPECT_EQ(sender, &worker);
        EXPECT_EQ(thread, worker.Thread());
        EXPECT_EQ(d, &data);
        d = &replaced;
        Record("start");
    };
    worker.OnExecute = [&](QObject*, TBMDExecuteThread* thread, void*& d) {
        EXPECT_EQ(d, &replaced);
        Record("execute");
        thread->SetPercent(42);
        // The work goes on until the main thread has reported on it.
        while (updates.load() == 0 && !thread->Terminated()) std::this_thread::yield();
    };
    worker.OnUpdate = [&](QObject*, TBMDExecuteThread*, void*&, int percent) {
        if (percent != 42) return;  // a tick before the work set its share
        if (updates++ == 0) Record("update");
    };
    worker.OnTerminate = [&](QObject*, TBMDExecuteThread* thread, void*& d) {
        EXPECT_EQ(d, &replaced);
        EXPECT_NE(thread, nullptr);
        EXPECT_FALSE(worker.IsRunning()) << "the run is forgotten before its end is reported";
        Record("terminate");
    };

    worker.Start(&data);
    EXPECT_TRUE(worker.IsRunning());
    ProcessEventsUntil([&] { return Saw("terminate@main"); });
    EXPECT_EQ(Events(), (std::vector<std::string>{"start@main", "execute@worker", "update@main",
                                                  "terminate@main"}));
    EXPECT_FALSE(worker.Terminated());
}

TEST_F(BMDThreadTest, StartWhileRunningDoesNothingAndWithoutWorkTheEndFollows) {
    TBMDThread worker;
    std::atomic<bool> release{false};
    worker.OnStart = [&](QObject*, TBMDExecuteThread*, void*&) { Record("start"); };
    worker.OnExecute = [&](QObject*, TBMDExecuteThread* thread, void*&) {
        while (!release.load() && !thread->Terminated()) std::this_thread::yield();
    };
    worker.OnTerminate = [&](QObject*, TBMDExecuteThread*, void*&) { Record("terminate"); };
    worker.Start();
    worker.Start();
    EXPECT_EQ(Events(), (std::vector<std::string>{"start@main"}));
    release = true;
    ProcessEventsUntil([&] { return Saw("terminate@main"); });

    // No work: the start event, then at once the end, on the main thread.
    worker.OnExecute = nullptr;
    worker.Start();
    ProcessEventsUntil([&] { return Events().size() == 4; });
    EXPECT_EQ(Events(), (std::vector<std::string>{"start@main", "terminate@main", "start@main",
                                                  "terminate@main"}));
}

TEST_F(BMDThreadTest, StopReachesASuspendedWorkerAndWaitForDeliversTheEnd) {
    TBMDThread worker;
    std::atomic<int> steps{0};
    worker.OnExecute = [&](QObject*, TBMDExecuteThread* thread, void*&) {
        while (!thread->Terminated()) ++steps;
    };
    worker.OnTerminate = [&](QObject*, TBMDExecuteThread*, void*&) { Record("terminate"); };
    worker.Start();
    ProcessEventsUntil([&] { return steps.load() > 0; });
    worker.Suspend();
    worker.Stop();
    worker.WaitFor();
    EXPECT_EQ(Events(), (std::vector<std::string>{"terminate@main"}));
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_TRUE(worker.Terminated()) << "the work returned because it was asked to";

    // Right after a run without work, a new start is not lost.
    worker.OnExecute = nullptr;
    worker.Start();
    worker.WaitFor();
    worker.Start();
    worker.WaitFor();
    EXPECT_EQ(Events().size(), 3u);
}

TEST_F(BMDThreadTest, GroupReportsOnceForItsMembers) {
    TBMDThreadGroup group;
    TBMDThread first;
    TBMDThread second;
    ASSERT_TRUE(first.SetThreadGroup(&group));
    ASSERT_TRUE(second.SetThreadGroup(&group));
    std::atomic<bool> release{false};
    for (TBMDThread* member : {&first, &second}) {
        member->OnExecute = [&](QObject*, TBMDExecuteThread* thread, void*&) {
            while (!release.load() && !thread->Terminated()) std::this_thread::yield();
        };
    }
    group.OnStart = [&](QObject*, TBMDExecuteThread*, void*&) { Record("group start"); };
    group.OnTerminate = [&](QObject*, TBMDExecuteThread*, void*&) { Record("group end"); };
    group.OnThreadStart = [&](QObject*, TBMDExecuteThread*, void*&) { Record("member start"); };
    group.OnThreadTerminate = [&](QObject*, TBMDExecuteThread*, void*&) { Record("member end"); };

    group.Start();
    EXPECT_TRUE(group.IsRunning());
    EXPECT_EQ(group.RunningCount(), 2);
    release = true;
    ProcessEventsUntil([&] { return !group.IsRunning(); });
    EXPECT_EQ(Events(), (std::vector<std::string>{"member start@main", "group start@main",
                                                  "member start@main", "member end@main",
                                                  "member end@main", "group end@main"}));

    // A group cannot become a member of itself through a chain of groups.
    TBMDThreadGroup outer;
    ASSERT_TRUE(group.SetThreadGroup(&outer));
    EXPECT_FALSE(outer.SetThreadGroup(&group));
    EXPECT_FALSE(group.SetThreadGroup(&group));
    EXPECT_EQ(outer.ThreadGroup(), nullptr);
}

TEST_F(BMDThreadTest, GroupUpdateComesFromTheHighestRankedRunningMember) {
    TBMDThreadGroup group;
    TBMDThread low;
    TBMDThread high;
    low.SetThreadGroup(&group);
    high.SetThreadGroup(&group);
    high.UpdatePriority = 5;
    std::atomic<bool> release{false};
    // Until both run, and again once they end, the low rank may rightly be the highest running
    // one: count only while both run.
    std::atomic<int> started{0};
    for (TBMDThread* member : {&low, &high}) {
        member->SetRefreshInterval(1);
        member->SetUpdateEnabled(true);
        member->OnExecute = [&](QObject*, TBMDExecuteThread* thread, void*&) {
            thread->SetPercent(thread->Owner() == &high ? 90 : 10);
            ++started;
            while (!release.load() && !thread->Terminated()) std::this_thread::yield();
        };
    }
    std::atomic<int> memberUpdates{0};
    std::vector<int> groupPercents;
    group.OnThreadUpdate = [&](QObject*, TBMDExecuteThread*, void*&, int) { ++memberUpdates; };
    group.OnUpdate = [&](QObject*, TBMDExecuteThread*, void*&, int percent) {
        if (started.load() == 2 && !release.load()) groupPercents.push_back(percent);
    };
    group.Start();
    ProcessEventsUntil([&] { return started.load() == 2 && groupPercents.size() >= 5; });
    release = true;
    ProcessEventsUntil([&] { return !group.IsRunning(); });
    ASSERT_FALSE(groupPercents.empty());
    // The higher rank's value, or its start value on a tick before its first step.
    for (int percent : groupPercents) {
        EXPECT_NE(percent, 10) << "the lower rank never reports";
        EXPECT_TRUE(percent == 90 || percent == 0) << percent;
    }
    EXPECT_NE(std::find(groupPercents.begin(), groupPercents.end(), 90), groupPercents.end());
}

}  // namespace
