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
