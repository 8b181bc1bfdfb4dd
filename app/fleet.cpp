#include "app/fleet.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "app/serve.h"
#include "app/upgrade.h"
#include "base/process.h"
#include "base/text.h"
#include "http/request_runner.h"
#include "ui/dialog_manager.h"
#include "ui/dialogs.h"
#include "ui/texts.h"

namespace qor {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto TICK = std::chrono::milliseconds(100);
constexpr auto PORT_RETRY = std::chrono::milliseconds(100);

}  // namespace

struct FleetDevice;

// Draws nothing: it answers the dialogs of one device's run as the user would and tells the fleet what
// that run's windows show. Called on the run's threads.
class DeviceView : public DialogView {
 public:
  explicit DeviceView(FleetDevice& device) : device_(device) {}
  PixelSize pixel_size(const DialogTemplate& t) override { return {t.width * 3 / 2, t.height * 13 / 8}; }
  PixelSize screen_size() override { return {1024, 768}; }
  void on_create(Window, const DialogTemplate&, bool) override {}
  void on_show(Window window) override;
  void on_destroy(Window window) override;
  void on_progress_range(Window window, int id, int low, int high) override;
  void on_progress_pos(Window window, int id, int pos) override;
  int message_box(Window owner, const std::string& text, const std::string& caption, unsigned flags) override;

 private:
  void answer_address(const WindowSnapshot& s);
  FleetDevice& device_;
};

struct FleetDevice {
  FleetDevice(FleetState& owner, std::size_t position, std::string text, std::uint32_t value)
      : fleet(owner),
        index(position),
        address(std::move(text)),
        address_value(value),
        view(*this),
        manager(view),
        scope(manager) {
    report.address = address;
  }

  FleetState& fleet;
  const std::size_t index;
  const std::string address;
  const std::uint32_t address_value;
  UpgradeRun run;
  DeviceView view;
  DialogManager manager;
  ToolkitScope scope;
  std::thread thread;

  // Under the fleet's lock.
  DeviceReport report;
  bool started = false;
  bool active = false;    // counts against the jobs
  bool released = false;  // past its confirmation
  bool finished = false;
  bool two_stages = false;
  bool timed_out = false;
  bool password_refused = false;
  bool stopped = false;  // cancelled at its confirmation: skipped, planned, or kept back by the batch rule
  bool busy = false;
  Window confirm = Window::none;
  int password_prompts = 0;
  std::set<Window> connecting, waiting;
  Window upload = Window::none;
  int upload_ranges = 0;  // the second range of the upload window is the settling wait's
  int upload_high = 0;
  std::int32_t uploaded_stage = -1;  // the stage whose upload window closed last
  Clock::time_point phase_since = Clock::now();
};

struct FleetState {
  enum class Decision { pending, yes, no };

  explicit FleetState(FleetOptions o) : options(std::move(o)) {}

  double seconds() const { return std::chrono::duration<double>(Clock::now() - start).count(); }

  // With the lock held.
  void refresh(FleetDevice& d);
  void set_phase(FleetDevice& d, DevicePhase phase, std::int32_t stage);
  void start_runs(void (*body)(FleetDevice&));
  void release_runs();
  std::vector<BatchTurn> batch_turns() const;
  bool may_wait_for_port(Clock::time_point deadline);
  void enforce_wait_limit();
  bool settled(bool until_confirmation) const;

  // These take the lock.
  void finish(FleetDevice& d);
  void on_password(FleetDevice& d, Window w);
  void on_confirm(FleetDevice& d, Window w);
  // Starts runs and lets them on, at most `jobs` at work, until every run has ended or, with
  // `until_confirmation`, has ended or waits at its confirmation.
  void drive(const Fleet::Tick& tick, void (*body)(FleetDevice&), bool until_confirmation);

  const FleetOptions options;
  const Clock::time_point start = Clock::now();
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::unique_ptr<FleetDevice>> devices;
  int active = 0;
  bool interrupted = false;
  bool planning = false;
  Decision decision = Decision::pending;
};

namespace {

std::string versions_to_get(const FleetDevice& d) {
  std::string target = version_of(d.run.target_image).text;
  if (!d.two_stages) return target;
  return std::string(version_of(d.run.transition_image).text) + ", then " + target;
}

// The version the device reported after an image was delivered, when it was read.
std::string version_after(const FleetDevice& d) {
  const Outcome o = d.run.outcome.load();
  const bool transition_verified =
      d.two_stages && d.run.upgrade_stage.load() == 1 && d.run.delivered_stage >= 0;
  if (o == Outcome::upgraded || o == Outcome::version_not_matching || transition_verified)
    return d.run.device_info.software_version;
  return "";
}

std::string version_flashed(const FleetDevice& d) {
  switch (d.run.delivered_stage.load()) {
    case 0:
      return version_of(d.run.transition_image).text;
    case 1:
      return version_of(d.run.target_image).text;
    default:
      return "";
  }
}

StartupOptions startup_for(const FleetDevice& d) {
  StartupOptions startup;
  startup.loopback_addresses = (d.address_value >> 24) == 127;  // a device simulated on this PC
  return startup;
}

// The device whose run this thread carries: the sequence's operations below find their fleet by it.
thread_local FleetDevice* current_device = nullptr;

// Every request of a fleet run has a deadline, and one that finds every local port taken (other runs,
// or devices that do not answer) waits for one instead of failing.
RequestResult bounded_device_request(UpgradeRun& run, const RequestJob& job, DeviceInfo& info) {
  FleetDevice* d = current_device;
  if (!d) return run_device_request(run, job, info);
  RequestJob bounded = job;
  bounded.timeout_ms = d->fleet.options.connect_timeout_seconds * 1000;
  const auto deadline = Clock::now() + std::chrono::seconds(d->fleet.options.wait_limit_seconds);
  for (;;) {
    RequestResult r = run_device_request(run, bounded, info);
    if (r.failure != Outcome::http_bind_failed || !d->fleet.may_wait_for_port(deadline)) return r;
  }
}

// The TFTP ports are one pool for every run on this PC: a run that finds them all taken waits its turn.
Outcome waiting_tftp_listener(UpgradeRun& run, std::uint16_t& port) {
  FleetDevice* d = current_device;
  const auto deadline = Clock::now() + std::chrono::seconds(d ? d->fleet.options.wait_limit_seconds : 0);
  for (;;) {
    Outcome o = start_tftp_listener(run, port);
    if (o != Outcome::listener_bind_failed || !d || !d->fleet.may_wait_for_port(deadline)) return o;
  }
}

const SequenceOperations FLEET_OPERATIONS{&bounded_device_request, &waiting_tftp_listener};

void run_upgrade(FleetDevice& d) {
  InRunScope in(&d.scope);
  current_device = &d;
  try {
    upgrade_main(d.run, startup_for(d), FLEET_OPERATIONS);
  } catch (const RunExit&) {
    // The listener ended the run; the outcome is in the run record.
  }
  d.scope.end();  // a listener still waiting stops at its next look
  d.fleet.finish(d);
}

void run_info(FleetDevice& d) {
  InRunScope in(&d.scope);
  current_device = &d;
  try {
    if (Outcome failed = init_program(d.run, startup_for(d)); failed != Outcome::none) {
      d.run.outcome.store(failed);
      throw RunExit{};
    }
    const std::optional<std::string>& wanted = d.fleet.options.local_address;
    for (int i = 0; wanted && i < MAX_LOCAL_ADDRESSES && d.run.local_addresses[i]; ++i) {
      char text[16];
      format_ipv4(text, sizeof text, d.run.local_addresses[i]);
      if (*wanted == text) d.run.local_address = d.run.local_addresses[i];
    }
    d.run.device_address = d.address_value;
    copy_text(d.run.device_address_text, sizeof d.run.device_address_text, d.address.c_str());
    DeviceInfo info{};
    RequestResult r = bounded_device_request(
        d.run,
        {d.run.local_address, HTTP_BIND_PORT_BASE, d.run.device_address, DEVICE_HTTP_PORT, STATUS_PAGE_PATH},
        info);
    if (r.failure == Outcome::none && r.received > 0) {
      std::lock_guard lock(d.fleet.mutex);
      d.report.answered = true;
      d.report.before = info;
    } else {
      d.run.outcome.store(r.failure != Outcome::none ? r.failure : Outcome::no_response);
    }
  } catch (const RunExit&) {
  }
  d.scope.end();
  d.fleet.finish(d);
}

bool stuck_phase(DevicePhase p) {
  return p == DevicePhase::reading || p == DevicePhase::requesting || p == DevicePhase::waiting ||
         p == DevicePhase::verifying;
}

}  // namespace

void FleetState::set_phase(FleetDevice& d, DevicePhase phase, std::int32_t stage) {
  if (phase == d.report.phase && stage == d.report.stage) return;
  d.report.phase = phase;
  d.report.stage = stage;
  d.report.phases.push_back({phase, stage, seconds()});
  d.phase_since = Clock::now();
}

// What the device is doing, from the windows its run has open.
void FleetState::refresh(FleetDevice& d) {
  const std::int32_t stage = d.released ? d.run.upgrade_stage.load() : -1;
  DevicePhase p;
  if (d.finished) {
    p = DevicePhase::done;
  } else if (d.upload != Window::none) {
    p = d.upload_ranges >= 2 ? DevicePhase::updating : DevicePhase::uploading;
  } else if (!d.connecting.empty()) {
    if (!d.released)
      p = DevicePhase::reading;
    else
      p = d.uploaded_stage == stage ? DevicePhase::verifying : DevicePhase::requesting;
  } else if (!d.waiting.empty()) {
    p = DevicePhase::waiting;
  } else if (d.confirm != Window::none && !d.released) {
    p = DevicePhase::ready;
  } else {
    return;  // between two windows
  }
  set_phase(d, p, p == DevicePhase::done ? d.report.stage : stage);
}

void FleetState::finish(FleetDevice& d) {
  std::lock_guard lock(mutex);
  d.finished = true;
  if (d.active) {
    d.active = false;
    --active;
  }
  Outcome o = d.run.outcome.load();
  // A Ctrl-C that came before the run had anything to report (at its warning, say) ends it as Cancel
  // after the address does.
  if (interrupted && (o == Outcome::none || o == Outcome::declined) && !d.report.answered) {
    o = Outcome::user_abort;
    d.report.message = texts::USER_ABORT;
  }
  d.report.outcome = o;
  d.report.after = version_after(d);
  d.report.flashed = version_flashed(d);
  // A device that answered a plan is described by its decision alone.
  if (d.report.code == FleetOutcome::pending && !(planning && d.report.answered)) {
    RunFacts facts;
    facts.outcome = o;
    facts.answered = d.report.answered;
    facts.released = d.released;
    facts.declined = d.report.declined;
    facts.password_refused = d.password_refused;
    facts.delivered = d.run.delivered_stage.load() >= 0;
    facts.interrupted = interrupted;
    d.report.code = classify_run(facts);
  }
  refresh(d);
  changed.notify_all();
}

void FleetState::on_password(FleetDevice& d, Window w) {
  std::lock_guard lock(mutex);
  const int prompt = d.password_prompts++;
  const DeviceCredentials* own =
      d.index < options.credentials.size() ? &options.credentials[d.index] : nullptr;
  const std::optional<std::string>& user = own && own->user ? own->user : options.user;
  const std::optional<std::string>& password = own && own->password ? own->password : options.password;
  if (prompt == 0 && password) {
    if (user) d.manager.user_set_text(w, password_ids::USERNAME, *user);
    d.manager.user_set_text(w, password_ids::PASSWORD, *password);
    d.manager.user_command(w, IDOK);
    return;
  }
  d.password_refused = true;
  d.report.note = prompt == 0 ? "it asks for a password and none was given"
                              : "it did not accept the user name and password";
  d.manager.user_command(w, IDCANCEL);
}

void FleetState::on_confirm(FleetDevice& d, Window w) {
  std::lock_guard lock(mutex);
  d.confirm = w;
  d.two_stages = d.run.upgrade_stage.load() == 0;
  d.report.answered = true;
  d.report.before = d.run.device_info;
  d.report.gets = versions_to_get(d);
  if (d.active) {
    d.active = false;
    --active;
  }
  refresh(d);
  const std::string carried = version_of(d.run.target_image).text;
  d.report.decision = decide_flash(d.report.before.software_version, carried.c_str(), options.flash);
  if (d.report.decision != FlashDecision::flash || planning) {
    // Left alone before the one confirmation: it is not among the devices it asks about.
    d.stopped = true;
    if (!planning) {
      d.report.code = skip_outcome(d.report.decision);
      d.report.note = d.report.decision == FlashDecision::skip_current
                          ? std::string("already runs ") + carried
                          : "runs a newer version";
    }
    d.manager.user_command(w, IDCANCEL);
  } else if (decision == Decision::no || interrupted) {
    d.report.declined = !interrupted;
    d.manager.user_command(w, IDCANCEL);
  }
  changed.notify_all();
}

void DeviceView::answer_address(const WindowSnapshot& s) {
  DialogManager& m = device_.manager;
  const std::optional<std::string>& wanted = device_.fleet.options.local_address;
  auto list = s.controls.find(address_ids::LOCAL_ADDRESSES);
  if (wanted && list != s.controls.end()) {
    const auto& items = list->second.items;
    auto it = std::find(items.begin(), items.end(), *wanted);
    if (it != items.end())
      m.user_select(s.window, address_ids::LOCAL_ADDRESSES, static_cast<int>(it - items.begin()));
  }
  m.user_set_text(s.window, address_ids::ADDRESS, device_.address);
  m.user_command(s.window, IDOK);
}

void DeviceView::on_show(Window window) {
  auto s = device_.manager.snapshot(window);
  if (!s) return;
  FleetState& f = device_.fleet;
  switch (s->template_id) {
    case IDD_WARNING:
    case IDD_SUCCESS:
      return device_.manager.user_command(window, IDOK);
    case IDD_ADDRESS:
    case IDD_ADDRESS_PHONE:
      return answer_address(*s);
    case IDD_PASSWORD:
      return f.on_password(device_, window);
    case IDD_CONFIRM:
    case IDD_CONFIRM_TRANSITION:
      return f.on_confirm(device_, window);
    default:
      break;
  }
  std::lock_guard lock(f.mutex);
  if (s->template_id == IDD_CONNECTING) device_.connecting.insert(window);
  if (s->template_id == IDD_WAITING) device_.waiting.insert(window);
  if (s->template_id == IDD_UPLOAD) {
    device_.upload = window;
    device_.upload_ranges = 0;
    device_.report.percent = 0;
  }
  f.refresh(device_);
}

void DeviceView::on_destroy(Window window) {
  FleetState& f = device_.fleet;
  std::lock_guard lock(f.mutex);
  device_.connecting.erase(window);
  device_.waiting.erase(window);
  if (window == device_.confirm) device_.confirm = Window::none;
  if (window == device_.upload) {
    device_.upload = Window::none;
    device_.uploaded_stage = device_.run.upgrade_stage.load();
  }
  f.refresh(device_);
}

void DeviceView::on_progress_range(Window window, int, int, int high) {
  FleetState& f = device_.fleet;
  std::lock_guard lock(f.mutex);
  if (window != device_.upload) return;
  ++device_.upload_ranges;
  device_.upload_high = high;
  f.refresh(device_);
}

void DeviceView::on_progress_pos(Window window, int, int pos) {
  FleetState& f = device_.fleet;
  std::lock_guard lock(f.mutex);
  if (window != device_.upload || device_.upload_high <= 0) return;
  const int high = device_.upload_high;
  if (device_.upload_ranges < 2) {
    device_.report.percent = static_cast<int>(std::clamp(100LL * pos / high, 0LL, 100LL));
  } else {
    const Timing& t = device_.run.timing;
    const long long unit_ms = 1LL << std::clamp(t.settle_shift, 1u, 31u);
    const long long left_ms = std::max(0, high - pos) * unit_ms;
    device_.report.seconds_left = static_cast<int>((left_ms + 999) / 1000);
  }
}

int DeviceView::message_box(Window, const std::string& text, const std::string&, unsigned) {
  std::lock_guard lock(device_.fleet.mutex);
  if (device_.stopped && !device_.fleet.interrupted)
    return IDOK;  // its Cancel was the fleet's, not a failure
  device_.report.message = text;
  return IDOK;
}

void FleetState::start_runs(void (*body)(FleetDevice&)) {
  for (auto& dp : devices) {
    FleetDevice& d = *dp;
    if (active >= options.jobs || interrupted) return;
    if (d.started) continue;
    d.started = true;
    if (options.claim && !options.claim(d.address)) {
      d.busy = d.finished = true;
      d.report.code = FleetOutcome::busy;
      d.report.note = "another run on this PC is upgrading it";
      set_phase(d, DevicePhase::done, -1);
      continue;
    }
    d.active = true;
    ++active;
    set_phase(d, DevicePhase::reading, -1);
    try {
      d.thread = std::thread(body, std::ref(d));
    } catch (const std::system_error&) {
      d.report.note = "its run could not be started";
      d.finished = true;
      d.active = false;
      --active;
      set_phase(d, DevicePhase::done, -1);
    }
  }
}

std::vector<BatchTurn> FleetState::batch_turns() const {
  std::vector<BatchTurn> turns;
  for (const auto& d : devices) {
    BatchTurn t;
    t.to_flash = d->report.answered && d->report.decision == FlashDecision::flash && !d->stopped;
    t.started = d->released;
    t.outcome = d->finished ? d->report.code : FleetOutcome::pending;
    turns.push_back(t);
  }
  return turns;
}

void FleetState::release_runs() {
  if (decision != Decision::yes || interrupted) return;
  const std::vector<BatchTurn> turns = batch_turns();
  const auto failures = std::count_if(turns.begin(), turns.end(),
                                      [](const BatchTurn& t) { return counts_as_failure(t.outcome); });
  const bool limit_reached =
      options.batch.max_failures > 0 && static_cast<std::size_t>(failures) >= options.batch.max_failures;
  for (auto& dp : devices) {
    FleetDevice& d = *dp;
    if (d.finished || d.released || d.stopped || d.confirm == Window::none) continue;
    const Gate gate = batch_gate(options.batch, turns, d.index);
    if (gate == Gate::wait) continue;
    if (gate == Gate::stop) {
      d.stopped = true;
      d.report.code = FleetOutcome::not_started;
      d.report.note = limit_reached ? "not started: " + std::to_string(failures) + " devices failed"
                                    : "not started: a canary did not end upgraded";
      d.manager.user_command(d.confirm, IDCANCEL);
      continue;
    }
    if (active >= options.jobs) return;
    d.released = true;
    d.report.released = true;
    d.active = true;
    ++active;
    set_phase(d, DevicePhase::requesting, d.run.upgrade_stage.load());
    d.manager.user_command(d.confirm, IDOK);
  }
}

// A device that does not move on within the limit has its windows cancelled, as the user would.
void FleetState::enforce_wait_limit() {
  const auto limit = std::chrono::seconds(options.wait_limit_seconds);
  for (auto& dp : devices) {
    FleetDevice& d = *dp;
    if (!d.started || d.finished || d.timed_out || !stuck_phase(d.report.phase)) continue;
    if (Clock::now() - d.phase_since < limit) continue;
    d.timed_out = true;
    const std::string seconds = std::to_string(options.wait_limit_seconds) + " s";
    d.report.note = d.report.phase == DevicePhase::waiting
                        ? "it did not ask for its image within " + seconds
                        : "its web server did not answer within " + seconds;
    for (Window w : d.connecting)
      d.manager.user_command(w, IDCANCEL);
    for (Window w : d.waiting)
      d.manager.user_command(w, IDCANCEL);
  }
}

// While a port is waited for, the run goes on as long as the wait limit and the user allow.
bool FleetState::may_wait_for_port(Clock::time_point deadline) {
  {
    std::lock_guard lock(mutex);
    if (interrupted) return false;
  }
  if (run_ending() || Clock::now() >= deadline) return false;
  std::this_thread::sleep_for(PORT_RETRY);
  return true;
}

bool FleetState::settled(bool until_confirmation) const {
  for (const auto& d : devices) {
    if (d->finished) continue;
    if (!until_confirmation || !d->started || d->released || d->confirm == Window::none) return false;
  }
  return true;
}

void FleetState::drive(const Fleet::Tick& tick, void (*body)(FleetDevice&), bool until_confirmation) {
  for (;;) {
    {
      std::unique_lock lock(mutex);
      start_runs(body);
      release_runs();
      enforce_wait_limit();
      if (settled(until_confirmation)) return;
      changed.wait_for(lock, TICK);
    }
    if (tick) tick();
  }
}

Fleet::Fleet(FleetOptions options) : state_(std::make_unique<FleetState>(std::move(options))) {
  FleetState& f = *state_;
  for (const std::string& address : f.options.addresses) {
    std::uint32_t value = 0;
    parse_ip_address(address.c_str(), &value);
    f.devices.push_back(std::make_unique<FleetDevice>(f, f.devices.size(), address, value));
  }
}

// The run threads end, but a thread of an ended run may still be winding down (a request left waiting
// on a device that never answers) and use its run's records: they stay allocated.
Fleet::~Fleet() {
  for (auto& d : state_->devices) {
    if (d->thread.joinable()) d->thread.join();
  }
  for (auto& d : state_->devices)
    static_cast<void>(d.release());
  static_cast<void>(state_.release());
}

void Fleet::upgrade(const Confirm& confirm, const Tick& tick) {
  FleetState& f = *state_;
  f.drive(tick, run_upgrade, true);
  bool any_ready = false;
  {
    std::lock_guard lock(f.mutex);
    for (const auto& d : f.devices)
      any_ready = any_ready || (!d->finished && !d->stopped && d->confirm != Window::none);
  }
  const bool go = any_ready && !interrupted() && confirm && confirm(reports());
  {
    std::lock_guard lock(f.mutex);
    f.decision = go ? FleetState::Decision::yes : FleetState::Decision::no;
    for (auto& dp : f.devices) {
      FleetDevice& d = *dp;
      if (go || d.finished || d.stopped || d.confirm == Window::none) continue;
      d.report.declined = !f.interrupted;
      d.manager.user_command(d.confirm, IDCANCEL);
    }
  }
  f.drive(tick, run_upgrade, false);
  for (auto& d : f.devices) {
    if (d->thread.joinable()) d->thread.join();
  }
}

void Fleet::plan(const Tick& tick) {
  FleetState& f = *state_;
  {
    std::lock_guard lock(f.mutex);
    f.planning = true;
  }
  f.drive(tick, run_upgrade, false);
  for (auto& d : f.devices) {
    if (d->thread.joinable()) d->thread.join();
  }
}

void Fleet::read_info(const Tick& tick) {
  FleetState& f = *state_;
  f.drive(tick, run_info, false);
  for (auto& d : f.devices) {
    if (d->thread.joinable()) d->thread.join();
  }
}

void Fleet::cancel_everything() {
  FleetState& f = *state_;
  std::lock_guard lock(f.mutex);
  if (f.interrupted) return;
  f.interrupted = true;
  for (auto& dp : f.devices) {
    FleetDevice& d = *dp;
    if (d.finished) continue;
    if (d.started) {
      d.manager.cancel_everything();
      continue;
    }
    d.started = d.finished = true;
    d.report.outcome = Outcome::user_abort;
    d.report.code = FleetOutcome::not_started;
    d.report.message = texts::USER_ABORT;
    d.report.note = "not started";
    f.set_phase(d, DevicePhase::done, -1);
  }
  f.changed.notify_all();
}

bool Fleet::interrupted() const {
  std::lock_guard lock(state_->mutex);
  return state_->interrupted;
}

std::vector<DeviceReport> Fleet::reports() const {
  std::lock_guard lock(state_->mutex);
  std::vector<DeviceReport> out;
  out.reserve(state_->devices.size());
  for (const auto& d : state_->devices)
    out.push_back(d->report);
  return out;
}

const char* phase_name(DevicePhase phase) {
  switch (phase) {
    case DevicePhase::queued:
      return "queued";
    case DevicePhase::reading:
      return "reading";
    case DevicePhase::ready:
      return "ready";
    case DevicePhase::requesting:
      return "requesting";
    case DevicePhase::waiting:
      return "waiting";
    case DevicePhase::uploading:
      return "uploading";
    case DevicePhase::updating:
      return "updating";
    case DevicePhase::verifying:
      return "verifying";
    case DevicePhase::done:
      return "done";
  }
  return "?";
}

const char* outcome_name(Outcome outcome) {
  switch (outcome) {
    case Outcome::none:
      return "none";
    case Outcome::declined:
      return "declined";
    case Outcome::upgraded:
      return "upgraded";
    case Outcome::networking_failed:
      return "networking_failed";
    case Outcome::user_abort:
      return "user_abort";
    case Outcome::no_response:
      return "no_response";
    case Outcome::http_socket_failed:
      return "http_socket_failed";
    case Outcome::http_bind_failed:
      return "http_bind_failed";
    case Outcome::listener_alloc_failed:
      return "listener_alloc_failed";
    case Outcome::listener_socket_failed:
      return "listener_socket_failed";
    case Outcome::listener_bind_failed:
      return "listener_bind_failed";
    case Outcome::session_alloc_failed:
      return "session_alloc_failed";
    case Outcome::upload_incomplete:
      return "upload_incomplete";
    case Outcome::version_not_matching:
      return "version_not_matching";
  }
  return "?";
}

}  // namespace qor
