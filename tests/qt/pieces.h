// A one-way device, as a pipe or a network reply: it hands the bytes over in
// pieces of 1 to 5003 bytes, the first of one byte, and can go back nowhere.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>

#include <algorithm>
#include <cstring>

class Pieces : public QIODevice {
 public:
  explicit Pieces(const QByteArray& data) : data_(data) { open(ReadOnly); }
  bool isSequential() const override { return true; }

 protected:
  qint64 readData(char* out, qint64 most) override {
    qint64 n = std::min<qint64>({most, 1 + (at_ * 7919) % 5003, data_.size() - at_});
    if (n <= 0) return -1;
    std::memcpy(out, data_.constData() + at_, static_cast<size_t>(n));
    at_ += n;
    return n;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray data_;
  qint64 at_ = 0;
};

// A file that fails after cut bytes, as a disk with a bad sector does.
class Failing : public QBuffer {
 public:
  Failing(QByteArray* data, qint64 cut) : QBuffer(data), cut_(cut) { open(ReadOnly); }

 protected:
  qint64 readData(char* out, qint64 most) override {
    if (pos() >= cut_) {
      setErrorString("Input/output error");
      return -1;
    }
    return QBuffer::readData(out, std::min(most, cut_ - pos()));
  }

 private:
  qint64 cut_;
};
