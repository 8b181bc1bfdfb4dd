// The ten dialogs drawn by the Qt backend with representative contents, for the review pictures and the
// checks that every text fits its box; and the look-up of the dialogs a test drives.
#pragma once

#include <QStringList>

#include <vector>

#include "base/run.h"
#include "front/qt/qt_toolkit.h"
#include "tests/support/sample_windows.h"

namespace qor::qt::test {

using qor::test::sample_run;

// Opens every template as a modeless window owned by the calling (GUI) thread, filled the way the
// program fills it, and waits until Qt has drawn them all. Returns the windows in template order.
std::vector<Window> open_sample_dialogs(QtToolkit& gui);

// Texts that do not fit their controls (lines too wide, too many lines, wrapped labels too tall,
// button captions too wide), one description each; empty when everything fits.
QStringList fit_problems(const QtDialog& dialog);

// The visible dialog of this template, if any; wait_dialog waits for one (and fails the test without).
QtDialog* visible_dialog(int template_id);
QtDialog* wait_dialog(int template_id, int timeout_ms = 10000);

}  // namespace qor::qt::test
