#pragma once
// Sequential readers the table loader pulls from: a memory image, a plain file, or a zlib stream
// inflated straight into the destination arrays (no inflated copy of the whole file is held).

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace ab {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Copies up to n bytes to dst; fewer only at the end of the data or after an error.
  virtual size_t Read(uint8_t* dst, size_t n) = 0;
  // At most this many bytes can still come (exact for memory and files; for an inflated stream
  // the output limit that is left).
  virtual uint64_t Remaining() const = 0;
  // The data itself was invalid (zlib error); reading stops.
  virtual bool Failed() const { return false; }
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> data) : data_(data) {}
  size_t Read(uint8_t* dst, size_t n) override;
  uint64_t Remaining() const override { return data_.size() - pos_; }

 private:
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
};

class FileSource final : public ByteSource {
 public:
  // f stays owned by the caller; size is the file's length.
  FileSource(std::FILE* f, uint64_t size) : f_(f), left_(size) {}
  size_t Read(uint8_t* dst, size_t n) override;
  uint64_t Remaining() const override { return left_; }

 private:
  std::FILE* f_;
  uint64_t left_;
};

class InflateSource final : public ByteSource {
 public:
  // Inflates the zlib stream read from f; at most `limit` bytes are ever produced.
  InflateSource(std::FILE* f, uint64_t limit);
  ~InflateSource() override;
  InflateSource(const InflateSource&) = delete;
  InflateSource& operator=(const InflateSource&) = delete;

  size_t Read(uint8_t* dst, size_t n) override;
  uint64_t Remaining() const override { return limit_ - produced_; }
  bool Failed() const override { return failed_; }
  // Inflates the rest of the stream to its end (checking its checksum); false on any error.
  bool Finish();

 private:
  std::FILE* f_;
  z_stream z_{};
  std::vector<uint8_t> in_;
  uint64_t produced_ = 0;
  uint64_t limit_;
  bool ok_init_ = false;
  bool failed_ = false;
  bool ended_ = false;
};

}  // namespace ab
