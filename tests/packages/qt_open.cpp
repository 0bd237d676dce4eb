// Opens a picture through QImageReader with the plug-ins the system's Qt
// finds, as any Qt program does, and prints its format name, width and
// height; exit 1 when Qt cannot read it.
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) return 2;
  QImageReader reader(QString::fromLocal8Bit(argv[1]));
  QByteArray format = reader.format();  // which plug-in took it, by content
  QImage image = reader.read();
  if (image.isNull()) return 1;
  std::printf("%s %d %d\n", format.constData(), image.width(), image.height());
  return 0;
}
