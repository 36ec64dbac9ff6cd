#include "platform/NotificationCenter.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qz {
namespace {

TEST(NotificationCenterTest, ObserversRunSynchronouslyOnThePostingThreadInOrder) {
    NotificationCenter center;
    std::vector<std::string> calls;
    std::thread::id caller = std::this_thread::get_id(), seen;
    center.addObserver("A", [&](const Notification& n) {
        calls.push_back("first");
        seen = std::this_thread::get_id();
    });
    center.addObserver("A", [&](const Notification&) { calls.push_back("second"); });
    center.addObserver("B", [&](const Notification&) { calls.push_back("other name"); });
    center.post("A");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(seen, caller);
}

TEST(NotificationCenterTest, ObjectFilterAndUserInfoReachTheObserver) {
    NotificationCenter center;
    int sender = 0, stranger = 0;
    int filtered = 0, any = 0;
    const std::string* text = nullptr;
    std::string copied;
    center.addObserver("N", &sender, [&](const Notification&) { ++filtered; });
    center.addObserver("N", [&](const Notification& n) {
        ++any;
        text = n.value<std::string>("text");
        if (text) copied = *text;
        EXPECT_EQ(n.value<int>("text"), nullptr);  // wrong type
        EXPECT_EQ(n.value<std::string>("missing"), nullptr);
    });
    center.post("N", &sender, {{"text", std::string("hello")}});
    center.post("N", &stranger);
    EXPECT_EQ(filtered, 1);
    EXPECT_EQ(any, 2);
    EXPECT_EQ(copied, "hello");
}

TEST(NotificationCenterTest, ObserverMayRemoveItselfAndOthersDuringAPost) {
    NotificationCenter center;
    std::vector<std::string> calls;
    ObserverToken self = 0, later = 0;
    self = center.addObserver("N", [&](const Notification&) {
        calls.push_back("self");
        center.removeObserver(self);
        center.removeObserver(later);
    });
    center.addObserver("N", [&](const Notification&) { calls.push_back("middle"); });
    later = center.addObserver("N", [&](const Notification&) { calls.push_back("later"); });
    center.post("N");
    center.post("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"self", "middle", "middle"}));
    center.removeObserver(self);  // again: ignored
    center.removeObserver(12345);
}

TEST(NotificationCenterTest, ObserverAddedDuringAPostRunsFromTheNextPost) {
    NotificationCenter center;
    int added = 0;
    bool once = false;
    center.addObserver("N", [&](const Notification&) {
        if (once) return;
        once = true;
        center.addObserver("N", [&](const Notification&) { ++added; });
    });
    center.post("N");
    EXPECT_EQ(added, 0);
    center.post("N");
    EXPECT_EQ(added, 1);
}

TEST(NotificationCenterTest, PostsMayNestInsideObservers) {
    NotificationCenter center;
    std::vector<std::string> calls;
    center.addObserver("outer", [&](const Notification&) {
        calls.push_back("outer");
        center.post("inner");
        calls.push_back("outer done");
    });
    center.addObserver("inner", [&](const Notification&) { calls.push_back("inner"); });
    center.post("outer");
    EXPECT_EQ(calls, (std::vector<std::string>{"outer", "inner", "outer done"}));
}

TEST(NotificationCenterTest, ConcurrentPostsAddsAndRemovesAreSafe) {
    NotificationCenter center;
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        while (!stop) {
            auto token = center.addObserver("N", [&](const Notification&) { ++calls; });
            center.removeObserver(token);
        }
    });
    center.addObserver("N", [&](const Notification&) { ++calls; });
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) center.post("N");
        });
    for (auto& t : posters) t.join();
    stop = true;
    churn.join();
    EXPECT_GE(calls.load(), 8000);
}

TEST(NotificationCenterTest, DefaultCenterIsOneSharedCentre) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}

}  // namespace
}  // namespace qz
