// The desktop program upgrades the simulated device, driven as a user drives it: QTest clicks and
// typing on the GUI thread, the upgrade on threads of the core, the device simulator as a real process.
// The simulator serves HTTP on port 80 and the upgrade serves TFTP from port 69: without root it skips.
#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>

#include "app/upgrade.h"
#include "base/process.h"
#include "front/qt/ip_address_edit.h"
#include "front/qt/qt_toolkit.h"
#include "tests/qt/sample_dialogs.h"
#include "tests/support/fake_toolkit.h"
#include "ui/dialog_templates.h"
#include "ui/dialogs.h"

using namespace std::chrono_literals;

namespace qor::qt::test {

namespace {

constexpr const char* DEVICE = "127.0.0.30";

void click(QtDialog* d, int id) {
  QTest::mouseClick(qobject_cast<QPushButton*>(d->control(id)), Qt::LeftButton);
}

}  // namespace

class GuiUpgradeTest : public QObject {
  Q_OBJECT

 private slots:
  void upgrades_the_simulated_device();
};

void GuiUpgradeTest::upgrades_the_simulated_device() {
  if (geteuid() != 0) QSKIP("the simulated device needs port 80 and the upgrade port 69: run as root");
  const QString sim = qEnvironmentVariable("QOR_DEVICE_SIM");
  QVERIFY2(!sim.isEmpty(), "QOR_DEVICE_SIM names the simulator");

  QProcess device;
  device.setProcessChannelMode(QProcess::MergedChannels);
  device.start(sim, {"--address", DEVICE, "--once", "--flash-seconds", "1"});
  QVERIFY(device.waitForStarted());
  QByteArray log;
  QTRY_VERIFY_WITH_TIMEOUT(
      (log += device.readAll()).contains("listening") || device.state() != QProcess::Running, 5000);
  QCOMPARE(device.state(), QProcess::Running);

  // The settling wait is shortened to 3 s: longer than the simulated flash, so the first status read
  // after it finds the device back.
  static UpgradeRun run;
  run.timing.settle_steps = 94;
  QApplication::setQuitOnLastWindowClosed(false);
  QtToolkit gui;
  set_toolkit(&gui.manager());
  qor::test::ExitTrap trap;

  auto upgrade = std::async(std::launch::async, [] {
    try {
      upgrade_main(run, StartupOptions{true});
    } catch (const ProcessExit&) {
    }
  });

  QtDialog* warning = wait_dialog(IDD_WARNING, 20000);
  QVERIFY(warning);
  click(warning, IDOK);

  QtDialog* address = wait_dialog(IDD_ADDRESS, 20000);
  QVERIFY(address);
  auto* field = qobject_cast<IpAddressEdit*>(address->control(address_ids::ADDRESS));
  QTRY_COMPARE(QApplication::focusWidget(), field->field(0));
  for (QChar c : QString::fromLatin1(DEVICE))
    QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
  click(address, IDOK);

  QtDialog* confirm = wait_dialog(IDD_CONFIRM, 20000);
  QVERIFY(confirm);
  QCOMPARE(qobject_cast<QLineEdit*>(confirm->control(confirm_ids::SOFTWARE_VERSION))->text(),
           QStringLiteral("3.0.0"));
  click(confirm, IDOK);

  QVERIFY(wait_dialog(IDD_UPLOAD, 20000));
  QtDialog* success = wait_dialog(IDD_SUCCESS, 60000);
  QVERIFY(success);
  QCOMPARE(success->windowTitle(), QStringLiteral("QOR@127.0.0.30 Upgrade Successful!"));
  QCOMPARE(qobject_cast<QLineEdit*>(success->control(success_ids::VERSION))->text(), QStringLiteral("3.2.1"));
  click(success, IDOK);

  QTRY_VERIFY_WITH_TIMEOUT(trap.ended(), 10000);
  QCOMPARE(trap.code(), 0);
  QCOMPARE(run.outcome.load(), Outcome::upgraded);
  QVERIFY(gui.manager().unknown_controls().empty());
  QVERIFY(upgrade.wait_for(10s) == std::future_status::ready);
  QVERIFY(device.waitForFinished(30000));
  QCOMPARE(device.exitCode(), 0);  // the image arrived whole, with a valid header

  set_toolkit(nullptr);
}

}  // namespace qor::qt::test

QTEST_MAIN(qor::qt::test::GuiUpgradeTest)
#include "gui_upgrade_test.moc"
