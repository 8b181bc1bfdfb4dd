#include "app/fleet_policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qor {
namespace {

TEST(FlashDecision, ComparesByTheProgramsVersionRule) {
  struct Row {
    const char* device;
    bool force, downgrade;
    FlashDecision expected;
  } rows[] = {
      {"3.1.0", false, false, FlashDecision::flash},
      {"3.2.1", false, false, FlashDecision::skip_current},
      {"3.2.1", true, false, FlashDecision::flash},
      {"3.3.0", false, false, FlashDecision::skip_newer},
      {"10.0.0", false, false, FlashDecision::skip_newer},
      {"10.0.0", true, false, FlashDecision::skip_newer},
      {"10.0.0", false, true, FlashDecision::flash},
      {"3.2.1 (NT)", false, false, FlashDecision::skip_current},
      {"03.02.01", false, false, FlashDecision::skip_current},  // base 0: octal digits, same value
      {"", false, false, FlashDecision::flash},
      {"garbage", false, false, FlashDecision::flash},
  };
  for (const Row& r : rows)
    EXPECT_EQ(decide_flash(r.device, "3.2.1", {r.force, r.downgrade}), r.expected) << r.device;
}

TEST(ClassifyRun, EveryEndingHasItsOwnCode) {
  struct Row {
    RunFacts facts;
    FleetOutcome expected;
  } rows[] = {
      {{Outcome::upgraded, true, true}, FleetOutcome::upgraded},
      {{Outcome::version_not_matching, true, true, false, false, true}, FleetOutcome::version_not_matching},
      {{Outcome::upload_incomplete, true, true}, FleetOutcome::upload_incomplete},
      {{Outcome::no_response, false}, FleetOutcome::unreachable},
      {{Outcome::user_abort, false}, FleetOutcome::unreachable},  // the wait limit, while reading
      {{Outcome::user_abort, false, false, false, true}, FleetOutcome::auth_failed},
      {{Outcome::user_abort, true, false, true}, FleetOutcome::declined},
      {{Outcome::user_abort, true, true}, FleetOutcome::no_fetch},
      {{Outcome::no_response, true, true, false, false, true}, FleetOutcome::no_response_after_flash},
      {{Outcome::user_abort, true, true, false, false, true, true}, FleetOutcome::interrupted},
      {{Outcome::user_abort, true, false, false, false, false, true}, FleetOutcome::not_started},
      {{Outcome::http_bind_failed, false}, FleetOutcome::local_error},
      {{Outcome::listener_bind_failed, true, true}, FleetOutcome::local_error},
  };
  for (const Row& r : rows)
    EXPECT_EQ(classify_run(r.facts), r.expected) << fleet_outcome_name(r.expected);
}

// Each row: the devices as "f" to flash and pending, "F" to flash and started, "-" not to flash, or
// an ended outcome's first letter (u upgraded, x failed, s skipped); then the gate of every "f".
struct GateRow {
  std::size_t canary, max_failures;
  std::string turns;
  std::string gates;  // g go, w wait, s stop, one per "f"
};

class BatchGate : public testing::TestWithParam<GateRow> {};

TEST_P(BatchGate, CanaryAndFailureLimit) {
  const GateRow& row = GetParam();
  std::vector<BatchTurn> turns;
  for (char c : row.turns) {
    BatchTurn t;
    t.to_flash = c == 'f' || c == 'F' || c == 'u' || c == 'x';
    t.started = t.to_flash && c != 'f';
    t.outcome = c == 'u'   ? FleetOutcome::upgraded
                : c == 'x' ? FleetOutcome::version_not_matching
                : c == 's' ? FleetOutcome::skipped_current
                : c == '-' ? FleetOutcome::unreachable
                           : FleetOutcome::pending;
    turns.push_back(t);
  }
  std::string gates;
  for (std::size_t i = 0; i < turns.size(); ++i) {
    if (row.turns[i] != 'f') continue;
    Gate g = batch_gate({row.canary, row.max_failures}, turns, i);
    gates += g == Gate::go ? 'g' : g == Gate::wait ? 'w' : 's';
  }
  EXPECT_EQ(gates, row.gates) << row.turns;
}

INSTANTIATE_TEST_SUITE_P(Tables, BatchGate,
                         testing::Values(GateRow{0, 0, "ffff", "gggg"},  // no rule: everyone
                                         GateRow{1, 0, "ffff", "gwww"},  // the canary alone
                                         GateRow{2, 0, "sfsff", "ggw"},  // skipped devices are no canaries
                                         GateRow{1, 0, "Ffff", "www"},  // the rest wait while the canary runs
                                         GateRow{1, 0, "ufff", "ggg"},  // then go once it is upgraded
                                         GateRow{2, 0, "uxff", "ss"},   // and stop when one canary failed
                                         GateRow{0, 2, "xfuff", "ggg"},  // one failure of two allowed
                                         GateRow{0, 2, "xfxff", "sss"},  // the limit reached
                                         GateRow{0, 1, "-ff", "ss"},     // an unreachable device is a failure
                                         GateRow{3, 1, "fff", "ggg"}));  // canaries themselves go first

}  // namespace
}  // namespace qor
