#pragma once
// Streams: a sequence of bytes with a position, held in memory or in a file.
// Reads and writes move the position; a short read means the end was reached,
// a short write that the device refused the rest.
//
// Threads: one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/component.h"

namespace fw {

class TStream : public TObject {
public:
    virtual std::int64_t Size() const = 0;
    virtual std::int64_t Position() const = 0;
    virtual void SetPosition(std::int64_t Value) = 0;
    virtual std::size_t Read(void* Buffer, std::size_t Count) = 0;
    virtual std::size_t Write(const void* Buffer, std::size_t Count) = 0;
};

class TMemoryStream : public TStream {
public:
    std::int64_t Size() const override { return static_cast<std::int64_t>(data_.size()); }
    std::int64_t Position() const override { return static_cast<std::int64_t>(pos_); }
    void SetPosition(std::int64_t Value) override;
    std::size_t Read(void* Buffer, std::size_t Count) override;
    std::size_t Write(const void* Buffer, std::size_t Count) override;
    // Room for this many bytes, so that writes up to it do not reallocate.
    void SetCapacity(std::size_t Capacity) { data_.reserve(Capacity); }
    std::size_t Capacity() const { return data_.capacity(); }
    const std::string& Data() const { return data_; }

private:
    std::string data_;
    std::size_t pos_ = 0;
};

// A stream over an open file descriptor, which it owns and closes. Writes are
// gathered up to kWriteBehind bytes before they go to the file; every other
// operation, Flush and the destructor write them out first. A write the file
// refuses shows as a short Write or a false Flush, and later writes fail.
class TFileStream : public TStream {
public:
    static constexpr std::size_t kWriteBehind = 64 * 1024;
    explicit TFileStream(int fd) : fd_(fd) {}
    ~TFileStream() override;
    std::int64_t Size() const override;
    std::int64_t Position() const override;
    void SetPosition(std::int64_t Value) override;
    std::size_t Read(void* Buffer, std::size_t Count) override;
    std::size_t Write(const void* Buffer, std::size_t Count) override;
    // Writes out what is gathered; false when the file refused any of it.
    bool Flush() const;
    int Handle() const { return fd_; }

private:
    bool WriteAll(const char* data, std::size_t count) const;

    int fd_;
    mutable std::string pending_;
    mutable bool failed_ = false;
};

}  // namespace fw
