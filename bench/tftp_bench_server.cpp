// Benchmark server: serves every file of a directory over TFTP with the program's own transfer
// session (same socket for request and transfer, lock-step 512-byte blocks, upload window updates),
// one request after another, until it is killed. The upload window is drawn by one of the program's
// views: none (the dialog manager alone), the console's (its bar drawn to /dev/null as on a terminal)
// or Qt's (a QApplication, offscreen under QT_QPA_PLATFORM=offscreen, with the transfer on a thread of
// its own as in the program).
//
//   tftp_bench_server [--view null|console|qt] ADDRESS PORT DIRECTORY
//   tftp_bench_server --views          (the views it was built with)
#include <arpa/inet.h>
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "front/console/console_view.h"
#include "tftp/tftp_listener.h"
#include "tftp/tftp_packet.h"
#include "tftp/tftp_session.h"
#include "ui/dialog_manager.h"
#include "ui/dialog_templates.h"

#ifdef QOR_BENCH_QT
#include <QApplication>

#include "front/qt/qt_toolkit.h"
#endif

namespace {

// Draws nothing: the transfer still goes through the dialog manager, as it does under a real front end.
class NullView : public qor::DialogView {
 public:
  qor::PixelSize pixel_size(const qor::DialogTemplate&) override { return {400, 200}; }
  qor::PixelSize screen_size() override { return {1920, 1080}; }
  void on_create(qor::Window, const qor::DialogTemplate&, bool) override {}
  void on_destroy(qor::Window) override {}
  int message_box(qor::Window, const std::string&, const std::string&, unsigned) override {
    return qor::IDOK;
  }
};

using Files = std::map<std::string, std::vector<unsigned char>>;

Files load_directory(const std::string& dir) {
  Files files;
  DIR* d = opendir(dir.c_str());
  if (!d) return files;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(dir + "/" + e->d_name, std::ios::binary);
    files[e->d_name].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  closedir(d);
  return files;
}

// The file a read request names (a leading '/' is optional), or null.
const std::vector<unsigned char>* requested_file(const Files& files, const unsigned char* rx, long n) {
  if (n < 3 || qor::get_u16_be(rx) != qor::TFTP_RRQ) return nullptr;
  const char* name = reinterpret_cast<const char*>(rx + 2);
  if (!std::memchr(name, '\0', static_cast<std::size_t>(n - 2))) return nullptr;
  if (*name == '/') ++name;
  auto it = files.find(name);
  return it == files.end() ? nullptr : &it->second;
}

// Serves one request after another on `sock`, drawing through `manager`.
[[noreturn]] void serve(qor::DialogManager& manager, qor::SocketHandle sock, std::uint32_t address,
                        const Files& files) {
  static qor::TftpSession session;
  unsigned char rx[qor::TFTP_RX_BUFFER_SIZE];
  for (;;) {
    qor::wait_readable(sock, 1000);
    std::uint32_t from = 0;
    std::uint16_t from_port = 0;
    long n = qor::receive_datagram(sock, rx, sizeof rx, from, from_port);
    const std::vector<unsigned char>* file = requested_file(files, rx, n);
    if (!file) continue;
    qor::TransferWindowState window_state;
    qor::Window window = manager.create_dialog(qor::IDD_UPLOAD, qor::transfer_dialog_proc,
                                               reinterpret_cast<std::intptr_t>(&window_state));
    qor::init_tftp_session(session, sock, address, from, from_port, static_cast<std::uint32_t>(file->size()));
    manager.progress_range(window, qor::IDC_PROGRESS, 0, static_cast<int>(session.block_count & 0xFFFF));
    const qor::UploadView view{window, &window_state, "Target", "127.0.0.1"};
    qor::Outcome outcome = qor::run_transfer(session, file->data(), view, qor::Timing{});
    manager.destroy_window(window);
    std::printf("%s %u bytes\n", outcome == qor::Outcome::none ? "served" : "timed out",
                static_cast<unsigned>(file->size()));
    std::fflush(stdout);
  }
}

void usage(const char* program) {
  std::fprintf(stderr, "usage: %s [--view null|console|qt] ADDRESS PORT DIRECTORY\n", program);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--views") == 0) {
#ifdef QOR_BENCH_QT
    std::puts("null console qt");
#else
    std::puts("null console");
#endif
    return 0;
  }
  std::string view_name = "null";
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--view") == 0) {
    view_name = argv[2];
    first = 3;
  }
  if (argc - first != 3) usage(argv[0]);
  in_addr a{};
  if (inet_pton(AF_INET, argv[first], &a) != 1) usage(argv[0]);
  const std::uint32_t address = ntohl(a.s_addr);
  const auto port = static_cast<std::uint16_t>(std::atoi(argv[first + 1]));
  const Files files = load_directory(argv[first + 2]);

  qor::Socket sock(qor::open_udp_socket());
  if (!sock.valid() || !qor::bind_socket(sock.get(), address, port)) {
    std::perror("bind");
    return 1;
  }
  auto ready = [&] {
    std::printf("ready %s:%u, %zu files, view %s\n", argv[first], static_cast<unsigned>(port), files.size(),
                view_name.c_str());
    std::fflush(stdout);
  };

  if (view_name == "null") {
    NullView view;
    qor::DialogManager manager(view);
    qor::set_toolkit(&manager);
    ready();
    serve(manager, sock.get(), address, files);
  }
  if (view_name == "console") {
    std::FILE* out = std::fopen("/dev/null", "w");
    if (!out) return 1;
    qor::console::ConsoleView console(qor::console::Answers{}, out, true);
    qor::set_toolkit(&console.manager());
    ready();
    serve(console.manager(), sock.get(), address, files);
  }
#ifdef QOR_BENCH_QT
  if (view_name == "qt") {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    qor::qt::QtToolkit gui;
    qor::set_toolkit(&gui.manager());
    ready();
    std::thread core([&] { serve(gui.manager(), sock.get(), address, files); });
    core.detach();
    return app.exec();
  }
#endif
  usage(argv[0]);
}
