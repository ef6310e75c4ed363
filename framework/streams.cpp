#include "framework/streams.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#define st_lseek _lseeki64
#define st_ftruncate _chsize_s
#else
#include <unistd.h>
#define st_lseek lseek
#define st_ftruncate ftruncate
#define O_BINARY 0
#endif

#include "framework/format.h"

int64_t TStream::GetSize() {
  const int64_t pos = Seek(0, soCurrent);
  const int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error" + ErrorDetail());
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error" + ErrorDetail());
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  int64_t done = 0;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, 65536)));
  while (done < count) {
    const int64_t n = std::min<int64_t>(count - done, static_cast<int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    done += n;
  }
  return done;
}

TFileStream::TFileStream(const std::string& file_name, uint16_t mode) : file_name_(file_name) {
  try {
    open(mode);
  } catch (const NotRegular&) {
    if (mode == fmCreate) throw EFCreateError(Format("Cannot create file \"%s\". Not a regular file", file_name));
    throw EFOpenError(Format("Cannot open file \"%s\". Not a regular file", file_name));
  }
}

std::unique_ptr<TFileStream> TFileStream::OpenUnlessPipe(const std::string& file_name, uint16_t mode) {
  std::unique_ptr<TFileStream> stream(new TFileStream(file_name));
  try {
    stream->open(mode);
  } catch (const NotRegular&) {
    return nullptr;
  }
  return stream;
}

void TFileStream::open(uint16_t mode) {
  int flags;
  switch (mode) {
    case fmOpenRead: flags = O_RDONLY; break;
    case fmOpenWrite: flags = O_WRONLY; break;
    case fmOpenReadWrite: flags = O_RDWR; break;
    case fmCreate: flags = O_RDWR | O_CREAT | O_TRUNC; break;
    default: throw EFOpenError(Format("Cannot open file \"%s\". Invalid mode %d", file_name_, mode));
  }
#ifndef _WIN32
  // A pipe keeps the reader or the writer waiting (a pipe opened for writing alone waits for a
  // reader already in the open): open without waiting, then look at what was opened.
  flags |= O_NONBLOCK;
  const bool reading = mode == fmOpenRead || mode == fmOpenReadWrite;
#endif
  fd_ = ::open(file_name_.c_str(), flags | O_BINARY, 0644);
  if (fd_ < 0) {
    const int error = errno;
#ifndef _WIN32
    // A pipe without a reader or a socket; for reading and writing, a directory too.
    if (error == ENXIO || (reading && error == EISDIR)) throw NotRegular{};
#endif
    const std::string reason = std::strerror(error);
    if (mode == fmCreate) throw EFCreateError(Format("Cannot create file \"%s\". %s", file_name_, reason));
    throw EFOpenError(Format("Cannot open file \"%s\". %s", file_name_, reason));
  }
#ifndef _WIN32
  // Only regular files are read (a device could be read for ever); a device is written like a
  // file, since its writes do not wait.
  struct stat st {};
  const bool fstat_failed = ::fstat(fd_, &st) != 0;
  if (fstat_failed || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || (reading && !S_ISREG(st.st_mode))) {
    ::close(fd_);
    fd_ = -1;
    throw NotRegular{};
  }
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
#endif
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t done = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (done < count) {
    const auto n = ::read(fd_, p + done, static_cast<unsigned>(std::min<int64_t>(count - done, 1 << 30)));
    if (n < 0) last_error_ = errno;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t done = 0;
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    const auto n = ::write(fd_, p + done, static_cast<unsigned>(std::min<int64_t>(count - done, 1 << 30)));
    if (n < 0) last_error_ = errno;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::string TFileStream::ErrorDetail() const {
  std::string detail = Format(" on file \"%s\"", file_name_);
  if (last_error_ != 0) detail += Format(". %s", std::strerror(last_error_));
  return detail;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  const auto r = st_lseek(fd_, offset, whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

void TFileStream::SetSize(int64_t size) {
  if (st_ftruncate(fd_, size) != 0) throw EStreamError("Stream set size error");
  if (GetPosition() > size) Seek(size, soBeginning);
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t size = GetSize();
  if (count <= 0 || position_ >= size) return 0;
  const int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || position_ < 0) return 0;
  const int64_t end = position_ + count;
  if (end > GetSize()) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case soBeginning: position_ = offset; break;
    case soCurrent: position_ += offset; break;
    case soEnd: position_ = GetSize() + offset; break;
  }
  if (position_ < 0) position_ = 0;
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
  if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const int64_t size = source.GetSize();
  SetSize(size);
  position_ = 0;
  if (size > 0) source.ReadBuffer(data_.data(), size);
}

void TMemoryStream::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& file_name) {
  TFileStream file(file_name, fmCreate);
  file.WriteBuffer(data_.data(), GetSize());
}

bool FileExists(const std::string& file_name) {
  struct stat st{};
  return !file_name.empty() && ::stat(file_name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, error) && !error;
}
