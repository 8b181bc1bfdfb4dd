// A Qt style plugin of an ordinary user's own, built by scripts/package-test.sh with moc and loaded by
// the installed desktop program through QT_PLUGIN_PATH and QT_STYLE_OVERRIDE. Inside the program it
// tries to take UDP port 7 of 127.0.0.1, which only a privileged process may, and then clicks through
// the upgrade of the device at $QORTEST_DEVICE as a user would. What it does goes to $QORTEST_LOG.
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QStyleFactory>
#include <QStylePlugin>
#include <QTimer>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// One line to the log, control characters escaped: the script shows it on a terminal.
void say(const QString& line) {
  QString shown;
  for (QChar c : line) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
      shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    else
      shown += c;
  }
  if (std::FILE* log = std::fopen(qgetenv("QORTEST_LOG").constData(), "a")) {
    std::fprintf(log, "%s\n", shown.toUtf8().constData());
    std::fclose(log);
  }
}

void try_port_7() {
  int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(7);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  say(QStringLiteral("bind 127.0.0.1:7: %1").arg(bound ? "bound" : std::strerror(errno)));
  ::close(s);
}

// The warning, the address, the confirmation and the success window, each answered once. A message box
// (an error) ends the program at once, after its text is logged, rather than waiting for a click.
void answer_windows() {
  static QSet<QString> answered;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    const QString name = w->objectName();
    if (!w->isVisible() || answered.contains(name)) continue;
    answered.insert(name);
    say(QStringLiteral("window %1: %2").arg(name, w->windowTitle()));
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      say(QStringLiteral("message: %1").arg(box->text()));
      ::_exit(1);
    }
    if (name == QLatin1String("dialog_101")) {
      // Typed, as a user would: the dialog takes what is edited, not what is set.
      const QStringList octets = QString::fromLatin1(qgetenv("QORTEST_DEVICE")).split(QLatin1Char('.'));
      for (int i = 0; i < 4 && i < octets.size(); ++i) {
        auto* octet = w->findChild<QLineEdit*>(QStringLiteral("octet_%1").arg(i));
        octet->clear();
        octet->insert(octets[i]);
      }
    } else if (name != QLatin1String("dialog_139") && name != QLatin1String("dialog_103") &&
               name != QLatin1String("dialog_111")) {
      continue;
    }
    w->findChild<QPushButton*>(QStringLiteral("control_1"))->click();
  }
}

}  // namespace

class UserStylePlugin : public QStylePlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QStyleFactoryInterface" FILE "user_style_plugin.json")

 public:
  QStyle* create(const QString&) override {
    try_port_7();
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, answer_windows);
    timer->start(200);
    return QStyleFactory::create(QStringLiteral("Fusion"));
  }
};

#include "user_style_plugin.moc"
