// Renders one of our own pictures (res/icons/*.xpm) as the PNG icons of a hicolor theme:
//   qor_render_icon PICTURE OUTDIR NAME SIZE...
// writes OUTDIR/<SIZE>x<SIZE>/apps/NAME.png for every size. The pixels stay square: whole multiples of
// the picture are drawn pixel for pixel; other sizes are drawn at the next whole multiple above and
// then smoothly reduced.
#include <QDir>
#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fputs("usage: qor_render_icon PICTURE OUTDIR NAME SIZE...\n", stderr);
    return 2;
  }
  QImage picture(QString::fromLocal8Bit(argv[1]));
  if (picture.isNull() || picture.width() != picture.height()) {
    std::fprintf(stderr, "qor_render_icon: %s is not a square picture\n", argv[1]);
    return 1;
  }
  picture = picture.convertToFormat(QImage::Format_ARGB32);
  const int side = picture.width();
  for (int i = 4; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 8 || size > 1024) {
      std::fprintf(stderr, "qor_render_icon: bad size %s\n", argv[i]);
      return 2;
    }
    const int whole = (size + side - 1) / side * side;
    QImage icon = picture.scaled(whole, whole, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (whole != size) icon = icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
    const QString file = QStringLiteral("%1/%2.png").arg(dir, QString::fromLocal8Bit(argv[3]));
    if (!QDir().mkpath(dir) || !icon.save(file, "PNG")) {
      std::fprintf(stderr, "qor_render_icon: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
