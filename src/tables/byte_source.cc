#include "tables/byte_source.h"

#include <algorithm>
#include <cstring>

namespace ab {

size_t MemorySource::Read(uint8_t* dst, size_t n) {
  n = std::min(n, data_.size() - pos_);
  if (n) std::memcpy(dst, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

size_t FileSource::Read(uint8_t* dst, size_t n) {
  n = static_cast<size_t>(std::min<uint64_t>(n, left_));
  size_t got = n ? std::fread(dst, 1, n, f_) : 0;
  // A read error ends the data here, like the end of a short file.
  left_ = got == n ? left_ - got : 0;
  return got;
}

InflateSource::InflateSource(std::FILE* f, uint64_t limit) : f_(f), in_(1 << 16), limit_(limit) {
  ok_init_ = inflateInit(&z_) == Z_OK;
  failed_ = !ok_init_;
}

InflateSource::~InflateSource() {
  if (ok_init_) inflateEnd(&z_);
}

size_t InflateSource::Read(uint8_t* dst, size_t n) {
  if (failed_ || ended_) return 0;
  if (n > limit_ - produced_) n = static_cast<size_t>(limit_ - produced_);
  size_t done = 0;
  while (done < n) {
    if (z_.avail_in == 0) {
      size_t got = std::fread(in_.data(), 1, in_.size(), f_);
      if (got == 0) {
        failed_ = true;  // the stream stops before its end
        break;
      }
      z_.next_in = in_.data();
      z_.avail_in = static_cast<uInt>(got);
    }
    size_t chunk = std::min<size_t>(n - done, 1u << 30);
    z_.next_out = dst + done;
    z_.avail_out = static_cast<uInt>(chunk);
    int rc = inflate(&z_, Z_NO_FLUSH);
    done += chunk - z_.avail_out;
    if (rc == Z_STREAM_END) {
      ended_ = true;
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      failed_ = true;
      break;
    }
  }
  produced_ += done;
  return done;
}

bool InflateSource::Finish() {
  uint8_t scratch[4096];
  while (!failed_ && !ended_) {
    if (Read(scratch, sizeof scratch) == 0 && !ended_) {
      // The limit, not the stream, stopped us: too big to be a table file.
      failed_ = true;
    }
  }
  return !failed_;
}

}  // namespace ab
