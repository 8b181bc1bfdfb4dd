// What an upload costs the GUI thread: the session moves the bar and retitles the upload window once per
// block, 16,385 times for 8 MiB; the Qt view must post a few hundred events for that, about one per
// frame, not one or two per block, and the window must end with the last title and a full bar. The
// frame's clock is a fake one, moved on by the time a block takes, so the count does not depend on how
// fast the machine runs the test.
#include <QApplication>
#include <QProgressBar>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "front/qt/qt_toolkit.h"
#include "tftp/tftp_packet.h"
#include "ui/dialog_templates.h"
#include "ui/texts.h"

using namespace std::chrono_literals;

namespace qor::qt::test {

namespace {

ViewPacing::Clock::time_point fake_time{1h};
ViewPacing::Clock::time_point fake_now() {
  return fake_time;
}

std::intptr_t quiet_proc(Window, unsigned, std::uintptr_t, std::intptr_t) {
  return 0;
}

// Counts the work posted to the GUI thread as it is delivered there.
class PostedWork : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MetaCall) ++count;
    return false;
  }
};

}  // namespace

class QtViewEventsTest : public QObject {
  Q_OBJECT

 private slots:
  void upload_posts_about_one_event_per_frame_data();
  void upload_posts_about_one_event_per_frame();
};

void QtViewEventsTest::upload_posts_about_one_event_per_frame_data() {
  QTest::addColumn<int>("block_us");
  QTest::newRow("loopback, 20 us a block") << 20;
  QTest::newRow("LAN, 200 us each way") << 400;
}

void QtViewEventsTest::upload_posts_about_one_event_per_frame() {
  QFETCH(int, block_us);
  const ViewPacing pacing{16667us, &fake_now};
  QtDialogView view;
  DialogManager manager(view, pacing);
  view.attach(manager);
  PostedWork posted;
  qApp->installEventFilter(&posted);

  const std::uint32_t image_size = 8u << 20;
  const int blocks = static_cast<int>(image_size / TFTP_BLOCK_SIZE + 1);
  Window w = manager.create_dialog(IDD_UPLOAD, quiet_proc);
  manager.progress_range(w, IDC_PROGRESS, 0, blocks);
  QCoreApplication::processEvents();
  posted.count = 0;

  // As the session does after each acknowledgement: the bar to the next block, the title to the bytes.
  char title[192];
  for (int next_block = 2; next_block <= blocks + 1; ++next_block) {
    fake_time += std::chrono::microseconds(block_us);
    const int acked = std::min((next_block - 1) * 512, static_cast<int>(image_size));
    manager.progress_pos(w, IDC_PROGRESS, next_block);
    std::snprintf(title, sizeof title, texts::UPLOADING_TITLE_FORMAT, "Target", "192.168.100.200", acked,
                  static_cast<int>(image_size));
    manager.set_window_text(w, title);
  }
  fake_time += pacing.frame;
  manager.pump_all(w);  // the session's next pump hands over what waits
  QCoreApplication::processEvents();

  const int frames = static_cast<int>(blocks * std::chrono::microseconds(block_us) / pacing.frame);
  qInfo("%d blocks in %d frames: %d events posted", blocks, frames, posted.count);
  QVERIFY2(posted.count <= frames + 2, qPrintable(QStringLiteral("%1 events").arg(posted.count)));
  QVERIFY2(posted.count >= frames - 2, qPrintable(QStringLiteral("%1 events").arg(posted.count)));
  QtDialog* d = view.dialog(w);
  QVERIFY(d);
  QCOMPARE(d->windowTitle(), QString::fromLatin1(title));
  auto* bar = qobject_cast<QProgressBar*>(d->control(IDC_PROGRESS));
  QVERIFY(bar);
  QCOMPARE(bar->value(), bar->maximum());

  qApp->removeEventFilter(&posted);
  manager.destroy_window(w);
  QCoreApplication::processEvents();
}

}  // namespace qor::qt::test

QTEST_MAIN(qor::qt::test::QtViewEventsTest)
#include "qt_view_events_test.moc"
