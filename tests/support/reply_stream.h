// A score server's connection that reads out a reply given in advance; what
// the game writes is dropped. With `lateEnd` the end shows only to the read
// that meets it, as on a socket whose peer closes after the game has read
// its last line.
#pragma once
#include <algorithm>
#include <string>
#include <utility>

#include "media/stream.h"

class TReplyStream : public TStream {
 public:
  TReplyStream(std::string reply, bool lateEnd) : reply_(std::move(reply)), lateEnd_(lateEnd) {}
  int Eof() override { return pos_ >= reply_.size() && (!lateEnd_ || metEnd_); }
  int Read(void* buf, int count) override {
    size_t n = std::min(static_cast<size_t>(std::max(count, 0)), reply_.size() - pos_);
    reply_.copy(static_cast<char*>(buf), n, pos_);
    pos_ += n;
    metEnd_ = n == 0;
    return static_cast<int>(n);
  }
  int Write(const void*, int count) override { return count; }

 private:
  std::string reply_;
  bool lateEnd_;
  size_t pos_ = 0;
  bool metEnd_ = false;
};
