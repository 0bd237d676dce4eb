// The Qt image-format plug-in for QVX pictures (libqvx.so in imageformats/),
// built for Qt 5 and for Qt 6 from this one source. Recognition and the
// size and form of a picture come from its header, peeked at without
// taking bytes from the device; reading goes through qt/qvx_image.h.
//
// QImageReader keeps no reason from a plug-in: a failed read() is "Unable
// to read image data" to its caller. The reason (truncated, not a QVX
// picture, too large, no memory) goes out as a warning in the logging
// category "tavko.qvx", where Qt's own handlers put theirs.
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QLoggingCategory>
#include <QVariant>

#include "qt/qvx_image.h"

namespace {

Q_LOGGING_CATEGORY(lcQvx, "tavko.qvx")

QvxHeadKind PeekHead(QIODevice* device, QvxHead* head) {
  QByteArray first = device->peek(kQvxHeadBytes);
  // A one-way device may hand over what it holds in small pieces, one a peek.
  while (first.size() < kQvxHeadBytes) {
    QByteArray more = device->peek(kQvxHeadBytes);
    if (more.size() <= first.size()) break;
    first = more;
  }
  return ReadQvxHead(first, head);
}

class QvxHandler : public QImageIOHandler {
 public:
  bool canRead() const override {
    if (device() == nullptr || spent_ || !CanRead(device())) return false;
    setFormat("qvx");
    return true;
  }

  bool read(QImage* image) override {
    if (device() == nullptr || spent_) return false;
    QString why;
    // Each picture has its own header: a device may hold several in a row.
    judged_ = false;
    // A pipe may not have brought the whole header yet.
    while ((Head() == QvxHeadKind::kTruncated || !peeked_) && device()->isSequential() &&
           device()->waitForReadyRead(kQvxWaitMs))
      judged_ = false;
    if (Head() == QvxHeadKind::kQvx && ReadQvxImage(device(), head_, image, &why)) {
      judged_ = false;  // the size and form asked for next are the next picture's
      return true;
    }
    switch (kind_) {
      case QvxHeadKind::kQvx: break;
      case QvxHeadKind::kTruncated:
        why = QStringLiteral("the QVX picture is truncated: the data ends inside its header");
        break;
      case QvxHeadKind::kTooLarge:
        why = QStringLiteral("the QVX picture is too large: %1 x %2 pixels").arg(head_.plan.width).arg(head_.plan.rows);
        break;
      case QvxHeadKind::kNotQvx:
        why = peeked_ ? QStringLiteral("not a QVX picture, or one with a depth or compression that cannot be decoded")
                      : QStringLiteral("the file is empty");
        break;
    }
    qCWarning(lcQvx, "%s", qPrintable(why));
    // The device may have moved on to somewhere inside the picture: nothing
    // more is read from it, and canRead() says so.
    spent_ = true;
    kind_ = QvxHeadKind::kNotQvx;
    return false;
  }

  bool supportsOption(ImageOption option) const override { return option == Size || option == ImageFormat; }

  QVariant option(ImageOption option) const override {
    if (!supportsOption(option) || Head() != QvxHeadKind::kQvx) return QVariant();
    return option == Size ? QVariant(head_.size) : QVariant(static_cast<int>(head_.format));
  }

  int imageCount() const override { return 1; }

  static bool CanRead(QIODevice* device) {
    // A picture too large to hold is still a QVX picture: read() says so.
    QvxHead head;
    QvxHeadKind kind = PeekHead(device, &head);
    return kind == QvxHeadKind::kQvx || kind == QvxHeadKind::kTooLarge;
  }

 private:
  // The header at the device's position, peeked once a picture: the size
  // and form are asked for before its bytes are taken.
  QvxHeadKind Head() const {
    if (!judged_ && device() != nullptr) {
      peeked_ = !device()->peek(1).isEmpty();
      kind_ = PeekHead(device(), &head_);
      judged_ = true;
    }
    return kind_;
  }

  bool spent_ = false;  // a read failed
  mutable bool judged_ = false;
  mutable bool peeked_ = false;
  mutable QvxHeadKind kind_ = QvxHeadKind::kNotQvx;
  mutable QvxHead head_;
};

}  // namespace

class QvxPlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "qvx_plugin.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override {
    if (format == "qvx") return CanRead;
    if (!format.isEmpty() || device == nullptr || !device->isOpen() || !device->isReadable()) return {};
    return QvxHandler::CanRead(device) ? CanRead : Capabilities();
  }

  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override {
    QImageIOHandler* handler = new QvxHandler;
    handler->setDevice(device);
    handler->setFormat(format);
    return handler;
  }
};

#include "qvx_plugin.moc"
