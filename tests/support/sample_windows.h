// The ten dialogs with representative contents, as the program fills them, for the backends' review
// pictures and their checks that every text fits. Every address in them is a loopback one.
#pragma once

#include "base/run.h"
#include "ui/toolkit.h"

namespace qor::test {

// A run record with typical values (product, versions, device data) for the dialogs to show.
UpgradeRun& sample_run();

// Opens the template as a modeless window of the calling thread, filled the way the program fills it.
Window open_sample_dialog(Toolkit& tk, int template_id);

}  // namespace qor::test
