// A run record as the sequence dialogs see it after start-up, and the fake toolkit they draw with.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "base/run.h"
#include "base/text.h"
#include "tests/support/fake_toolkit.h"

namespace qor::test {

class DialogTest : public ::testing::Test {
 protected:
  DialogTest() {
    copy_text(run_.product_display_name, sizeof run_.product_display_name, "QOR-4710");
    set_image_version(run_.target_image, "3.2.1");
    set_image_version(run_.transition_image, "3.0.5");
    run_.local_addresses[0] = 0xC0A80114;  // 192.168.1.20
    run_.local_addresses[1] = 0x0A000005;  // 10.0.0.5
  }

  // Runs a modal dialog of the run whose user does `user` once it shows (nothing when none is given);
  // returns its end value. window_ is the dialog afterwards.
  std::intptr_t dialog(int template_id, DialogProc proc, FakeToolkit::Action user = nullptr) {
    if (user) fake_->on_show(template_id, std::move(user));
    std::intptr_t result = toolkit().dialog_box(template_id, proc, reinterpret_cast<std::intptr_t>(&run_));
    window_ = fake_->wait_for(template_id);
    return result;
  }
  WindowSnapshot state() { return fake_->last_state(window_); }

  ScopedFakeToolkit fake_;
  UpgradeRun run_;
  Window window_ = Window::none;
};

}  // namespace qor::test
