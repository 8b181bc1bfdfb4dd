// Test tool on an X display: what a user sees and what a user would paste.
//   x_probe grab FILE.png   saves the whole screen, window manager frames and title bar icons included
//   x_probe clipboard       prints the clipboard's text (a message box copies its text there on Ctrl+C)
#include <QClipboard>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc == 3 && std::strcmp(argv[1], "grab") == 0) {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen && screen->grabWindow(0).save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "clipboard") == 0) {
    std::fputs(QGuiApplication::clipboard()->text().toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    return 0;
  }
  std::fputs("usage: x_probe grab FILE.png | x_probe clipboard\n", stderr);
  return 2;
}
