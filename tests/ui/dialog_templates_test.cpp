#include <gtest/gtest.h>

#include <set>

#include "ui/dialog_templates.h"

namespace qor {
namespace {

TEST(DialogTemplates, TheTenDialogsExistOnce) {
  std::multiset<int> ids;
  for (const DialogTemplate& t : all_dialog_templates())
    ids.insert(t.id);
  EXPECT_EQ(ids, (std::multiset<int>{101, 103, 104, 105, 110, 111, 114, 139, 304, 305}));
  for (int id : ids)
    EXPECT_EQ(find_dialog_template(id)->id, id);
  EXPECT_EQ(find_dialog_template(102), nullptr);
}

// A control outside its dialog would be cut off by every backend. The drop-down list is the exception:
// its rectangle includes the opened list, which may hang below the dialog.
TEST(DialogTemplates, ControlsLieInsideTheirDialog) {
  for (const DialogTemplate& t : all_dialog_templates()) {
    for (const ControlTemplate& c : t.controls) {
      int bottom = c.rect.y + (c.kind == ControlKind::list ? 14 : c.rect.height);
      EXPECT_GE(c.rect.x, 0) << t.id << '/' << c.id;
      EXPECT_GE(c.rect.y, 0) << t.id << '/' << c.id;
      EXPECT_LE(c.rect.x + c.rect.width, t.width) << t.id << '/' << c.id;
      EXPECT_LE(bottom, t.height) << t.id << '/' << c.id;
    }
  }
}

TEST(DialogTemplates, IdsAreUniqueAndSharedIdsMeanTheSameEverywhere) {
  for (const DialogTemplate& t : all_dialog_templates()) {
    std::set<int> seen;
    int defaults = 0;
    for (const ControlTemplate& c : t.controls) {
      if (c.id != 0) {
        EXPECT_TRUE(seen.insert(c.id).second) << t.id << " repeats " << c.id;
      }
      if (c.id == IDC_MAIN_TEXT) {
        EXPECT_EQ(c.kind, ControlKind::text) << t.id;
      }
      if (c.id == IDC_PROGRESS) {
        EXPECT_EQ(c.kind, ControlKind::bar) << t.id;
      }
      if (c.id == 1 || c.id == 2) {
        EXPECT_EQ(c.kind, ControlKind::button) << t.id;
      }
      if (c.flags & CF_DEFAULT) ++defaults;
      EXPECT_EQ(c.kind == ControlKind::icon, c.icon != 0) << t.id << '/' << c.id;
    }
    // Enter needs exactly one button to press in the dialogs that wait for an answer.
    EXPECT_EQ(defaults, seen.count(1) ? 1 : 0) << t.id;
  }
}

}  // namespace
}  // namespace qor
