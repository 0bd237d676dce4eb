// A one-way device, as a pipe or a network reply: it hands the bytes over in
// pieces of 1 to 5003 bytes, the first of one byte, and can go back nowhere.
#pragma once

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

// A device that fails after cut bytes, as a disk with a bad sector or a
// network reply that breaks off: a file, or one-way.
class Failing : public QIODevice {
 public:
  Failing(const QByteArray& data, qint64 cut, bool sequential) : data_(data), cut_(cut), sequential_(sequential) {
    open(ReadOnly | Unbuffered);
  }
  bool isSequential() const override { return sequential_; }
  qint64 size() const override { return sequential_ ? 0 : data_.size(); }

 protected:
  qint64 readData(char* out, qint64 most) override {
    qint64 at = sequential_ ? at_ : pos();
    if (at >= cut_) {
      setErrorString("Input/output error");
      return -1;
    }
    qint64 n = std::min(most, cut_ - at);
    std::memcpy(out, data_.constData() + at, static_cast<size_t>(n));
    at_ = at + n;
    return n;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray data_;
  qint64 cut_;
  bool sequential_;
  qint64 at_ = 0;
};
