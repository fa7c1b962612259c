#include "framework/streams.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fw {

void TMemoryStream::SetPosition(std::int64_t Value) {
    pos_ = static_cast<std::size_t>(std::clamp<std::int64_t>(Value, 0, Size()));
}

std::size_t TMemoryStream::Read(void* Buffer, std::size_t Count) {
    const std::size_t n = std::min(Count, data_.size() - pos_);
    std::memcpy(Buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
}

std::size_t TMemoryStream::Write(const void* Buffer, std::size_t Count) {
    const char* p = static_cast<const char*>(Buffer);
    if (pos_ == data_.size()) {
        data_.append(p, Count);
    } else {
        const std::size_t over = std::min(Count, data_.size() - pos_);
        data_.replace(pos_, over, p, over);
        data_.append(p + over, Count - over);
    }
    pos_ += Count;
    return Count;
}

TFileStream::~TFileStream() {
    if (fd_ < 0)
        return;
    Flush();
    ::close(fd_);
}

bool TFileStream::WriteAll(const char* data, std::size_t count) const {
    while (count > 0) {
        const ssize_t n = ::write(fd_, data, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failed_ = true;
            return false;
        }
        data += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool TFileStream::Flush() const {
    if (failed_)
        return false;
    const bool ok = WriteAll(pending_.data(), pending_.size());
    pending_.clear();
    return ok;
}

std::int64_t TFileStream::Size() const {
    Flush();
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? st.st_size : 0;
}

std::int64_t TFileStream::Position() const {
    Flush();
    const off_t p = ::lseek(fd_, 0, SEEK_CUR);
    return p < 0 ? 0 : p;
}

void TFileStream::SetPosition(std::int64_t Value) {
    Flush();
    ::lseek(fd_, Value, SEEK_SET);
}

std::size_t TFileStream::Read(void* Buffer, std::size_t Count) {
    Flush();
    std::size_t done = 0;
    while (done < Count) {
        const ssize_t n = ::read(fd_, static_cast<char*>(Buffer) + done, Count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t TFileStream::Write(const void* Buffer, std::size_t Count) {
    if (failed_)
        return 0;
    const char* data = static_cast<const char*>(Buffer);
    if (pending_.size() + Count > kWriteBehind && !Flush())
        return 0;
    if (Count >= kWriteBehind)
        return WriteAll(data, Count) ? Count : 0;
    pending_.append(data, Count);
    return Count;
}

}  // namespace fw
