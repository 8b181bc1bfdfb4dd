// The dialog manager hands the view a window's title and bar at most once per frame, the latest values
// and only what changed; what waits goes first when anything else happens to the window, and reaches the
// view at the first pump once the frame is over. Its own record always has the latest values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/dialog_manager.h"
#include "ui/dialog_templates.h"

namespace qor {
namespace {

using namespace std::chrono_literals;

ViewPacing::Clock::time_point fake_time{1h};
ViewPacing::Clock::time_point fake_now() {
  return fake_time;
}

class RecordingView : public DialogView {
 public:
  std::vector<std::string> calls;
  PixelSize pixel_size(const DialogTemplate&) override { return {300, 100}; }
  PixelSize screen_size() override { return {1024, 768}; }
  void on_create(Window, const DialogTemplate&, bool) override {}
  void on_destroy(Window) override { calls.push_back("destroy"); }
  void on_title(Window, const std::string& title) override { calls.push_back("title " + title); }
  void on_text(Window, int, const std::string& text) override { calls.push_back("text " + text); }
  void on_progress_range(Window, int, int low, int high) override {
    calls.push_back("range " + std::to_string(low) + ".." + std::to_string(high));
  }
  void on_progress_pos(Window, int, int pos) override { calls.push_back("pos " + std::to_string(pos)); }
  int message_box(Window, const std::string& text, const std::string&, unsigned) override {
    calls.push_back("box " + text);
    return IDOK;
  }
};

std::intptr_t quiet_proc(Window, unsigned, std::uintptr_t, std::intptr_t) {
  return 0;
}

// One step of a case: "pos N", "title T", "wait MS" (the clock moves on), "pump", "range N", "text T",
// "box T" or "destroy".
struct PacingCase {
  const char* name;
  int frame_ms;
  std::vector<std::string> steps;
  std::vector<std::string> expected;  // what the view is handed, in order
};

class ViewPacingTest : public ::testing::TestWithParam<PacingCase> {};

TEST_P(ViewPacingTest, HandsTheViewTheLatestValuesAtMostOncePerFrame) {
  const PacingCase& c = GetParam();
  RecordingView view;
  DialogManager manager(view, ViewPacing{std::chrono::milliseconds(c.frame_ms), &fake_now});
  Window w = manager.create_dialog(IDD_UPLOAD, quiet_proc);
  ASSERT_NE(w, Window::none);
  int last_pos = 0;
  std::string last_title = manager.snapshot(w)->title;
  bool destroyed = false;
  for (const std::string& step : c.steps) {
    const std::string op = step.substr(0, step.find(' '));
    const std::string arg = step.size() > op.size() ? step.substr(op.size() + 1) : std::string();
    if (op == "pos") {
      last_pos = std::stoi(arg);
      manager.progress_pos(w, IDC_PROGRESS, last_pos);
    } else if (op == "title") {
      last_title = arg;
      manager.set_window_text(w, arg.c_str());
    } else if (op == "wait") {
      fake_time += std::chrono::milliseconds(std::stoi(arg));
    } else if (op == "pump") {
      manager.pump_all(w);
    } else if (op == "range") {
      manager.progress_range(w, IDC_PROGRESS, 0, std::stoi(arg));
    } else if (op == "text") {
      manager.set_item_text(w, IDC_PROGRESS, arg.c_str());
    } else if (op == "box") {
      manager.message_box(Window::none, arg.c_str(), "caption", MB_OK);
    } else if (op == "destroy") {
      manager.destroy_window(w);
      destroyed = true;
    } else {
      FAIL() << "unknown step " << step;
    }
    if (!destroyed) {  // the record has every change at once
      EXPECT_EQ(manager.snapshot(w)->controls[IDC_PROGRESS].position, last_pos) << step;
      EXPECT_EQ(manager.snapshot(w)->title, last_title) << step;
    }
  }
  EXPECT_EQ(view.calls, c.expected);
}

const PacingCase pacing_cases[] = {
    {"FirstChangeAtOnceTheRestAtTheFirstPumpOnceTheFrameIsOver",
     16,
     {"pos 1", "title a", "pos 2", "title b", "pos 3", "pump", "wait 15", "pump", "wait 1", "pump", "pump"},
     {"pos 1", "title b", "pos 3"}},
    {"AChangeOnceTheFrameIsOverTakesWhatWaitsAlong",
     16,
     {"pos 1", "pos 2", "title a", "wait 16", "pos 3", "title b", "wait 16", "title c"},
     {"pos 1", "title a", "pos 3", "title c"}},
    {"WhatTheViewHasIsNotHandedAgain",
     16,
     {"pos 1", "title a", "wait 16", "pos 1", "title a", "pump", "pos 2", "pos 1", "wait 16", "pump"},
     {"pos 1", "title a"}},
    {"ARangeChangeComesAfterWhatWaits",
     16,
     {"pos 1", "pos 9", "title a", "range 20", "pos 0"},
     {"pos 1", "title a", "pos 9", "range 0..20"}},
    {"ATextChangeComesAfterWhatWaits", 16, {"pos 1", "title a", "text t"}, {"pos 1", "title a", "text t"}},
    {"AMessageBoxComesAfterWhatWaits", 16, {"pos 1", "pos 2", "box b"}, {"pos 1", "pos 2", "box b"}},
    {"TheLastValuesReachTheViewBeforeTheWindowGoes",
     16,
     {"pos 1", "pos 2", "title z", "destroy"},
     {"pos 1", "title z", "pos 2", "destroy"}},
    {"AnEmptyTitleReplacesTheCaption", 16, {"title "}, {"title "}},
    {"AFrameOfZeroHandsEveryChange",
     0,
     {"pos 1", "pos 2", "title a", "title a", "pos 2", "pos 3"},
     {"pos 1", "pos 2", "title a", "pos 3"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, ViewPacingTest, ::testing::ValuesIn(pacing_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qor
