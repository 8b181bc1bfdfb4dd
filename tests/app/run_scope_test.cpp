// Two runs in one process, each in a scope of its own with its own toolkit: the end of one ends its
// threads alone, and each draws its windows with its own toolkit only.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "app/report.h"
#include "app/upgrade.h"
#include "base/process.h"
#include "tests/support/fake_toolkit.h"

namespace qor {
namespace {

using namespace std::chrono_literals;

std::atomic<int> helpers_left{0};

RequestResult answer(UpgradeRun&, const RequestJob&, DeviceInfo& info) {
  std::strcpy(info.software_version, "3.0.0");
  return {Outcome::none, 100};
}

// Stands in for the listener: a core thread of the run that waits until the run ends.
Outcome start_helper(UpgradeRun&, std::uint16_t& port) {
  port = 70;
  start_core_thread([] {
    struct Leaving {
      ~Leaving() { ++helpers_left; }
    } leaving;
    wait_for_run_end();
  });
  return Outcome::none;
}

const SequenceOperations fakes{&answer, &start_helper};

struct Device {
  explicit Device(const char* address) : scope(fake.manager()) {
    run.local_addresses[0] = run.local_address = 0x7F000001;
    fake.agree_to_everything(address);
    thread = std::thread([this] {
      InRunScope in(&scope);
      try {
        run_upgrade_sequence(run, fakes);
      } catch (const RunExit&) {
        left_by_run_exit = true;
      }
    });
  }
  // What the listener thread does at the end of a run, from a thread of the run.
  void finish(Outcome outcome) {
    std::thread([this, outcome] {
      InRunScope in(&scope);
      try {
        finish_run(run, outcome);
      } catch (const RunExit&) {
      }
    }).join();
  }

  test::FakeToolkit fake;
  ToolkitScope scope;
  UpgradeRun run;
  std::atomic<bool> left_by_run_exit{false};
  std::thread thread;
};

TEST(RunScope, EndingOneRunEndsItsThreadsAlone) {
  test::ScopedFakeToolkit process_toolkit;  // must stay untouched: every window belongs to a device
  helpers_left = 0;
  auto a = std::make_unique<Device>("127.0.0.2");
  auto b = std::make_unique<Device>("127.0.0.3");
  ASSERT_TRUE(a->fake.wait_for(IDD_CONFIRM) != Window::none && b->fake.wait_for(IDD_CONFIRM) != Window::none);

  a->finish(Outcome::version_not_matching);
  a->thread.join();
  EXPECT_TRUE(a->left_by_run_exit);
  EXPECT_TRUE(test::eventually([] { return helpers_left == 1; }));
  EXPECT_EQ(a->run.outcome.load(), Outcome::version_not_matching);
  ASSERT_EQ(a->fake.message_boxes().size(), 1u);
  EXPECT_EQ(a->fake.message_boxes()[0].text, "Upgrade Failed: Version not matching");

  // A thread of the ended run that reports late changes nothing.
  std::thread([&] {
    InRunScope in(&a->scope);
    report_outcome(a->run, Outcome::upload_incomplete);
  }).join();
  EXPECT_EQ(a->run.outcome.load(), Outcome::version_not_matching);

  // The other run goes on untouched, and so does the process.
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(b->scope.ending());
  EXPECT_FALSE(process_ending());
  EXPECT_EQ(helpers_left, 1);
  EXPECT_TRUE(b->fake.message_boxes().empty());
  EXPECT_EQ(b->run.outcome.load(), Outcome::none);

  b->finish(Outcome::upgraded);
  b->thread.join();
  EXPECT_TRUE(b->left_by_run_exit);
  EXPECT_TRUE(test::eventually([] { return helpers_left == 2; }));
  EXPECT_EQ(b->run.outcome.load(), Outcome::upgraded);

  const std::vector<int> sequence{IDD_WARNING, IDD_ADDRESS, IDD_CONFIRM};
  EXPECT_EQ(a->fake.shown_templates(), sequence);
  EXPECT_EQ(b->fake.shown_templates(), sequence);
  EXPECT_TRUE(process_toolkit->shown_templates().empty());
  EXPECT_EQ(std::string(a->run.device_address_text), "127.0.0.2");
  EXPECT_EQ(std::string(b->run.device_address_text), "127.0.0.3");
}

}  // namespace
}  // namespace qor
