#pragma once
// Streams of the run-time support: an abstract byte stream with position and size, a file stream
// (unbuffered: each write reaches the operating system at once) and a growable memory stream.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/exceptions.h"

enum TSeekOrigin : int32_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// Open modes of the file stream; no other value is valid.
constexpr uint16_t fmOpenRead = 0;
constexpr uint16_t fmOpenWrite = 1;
constexpr uint16_t fmOpenReadWrite = 2;
constexpr uint16_t fmCreate = 0xFFFF;

class TStream {
 public:
  virtual ~TStream() = default;
  // Plain read and write: return the number of bytes moved, raise nothing when fewer remain.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t GetSize();
  virtual void SetSize(int64_t size) = 0;

  int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(int64_t position) { Seek(position, soBeginning); }
  // Read and write all `count` bytes or raise EReadError / EWriteError.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  void WriteString(const std::string& text) { WriteBuffer(text.data(), static_cast<int64_t>(text.size())); }
  // Copies `count` bytes from `source` (0: the whole source from its start); returns bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);

 protected:
  // What the read and write errors add to their message (a file stream names its file).
  virtual std::string ErrorDetail() const { return ""; }
};

class TFileStream : public TStream {
 public:
  // Raises EFOpenError (modes 0..2) or EFCreateError (fmCreate) when the file cannot be opened.
  // On POSIX systems the open never waits: only regular files are opened for reading, and a pipe
  // or socket is never opened for writing (a pipe would keep the reader or the writer waiting).
  TFileStream(const std::string& file_name, uint16_t mode);
  // As the constructor, except that a name the constructor refuses as not a regular file (for
  // writing: a pipe or socket) gives nullptr instead of an error.
  static std::unique_ptr<TFileStream> OpenUnlessPipe(const std::string& file_name, uint16_t mode);
  ~TFileStream() override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  const std::string& FileName() const { return file_name_; }
  // The system's error code of the last read or write that failed; 0 when none did.
  int LastError() const { return last_error_; }

 protected:
  std::string ErrorDetail() const override;

 private:
  struct NotRegular {};
  explicit TFileStream(std::string file_name) : file_name_(std::move(file_name)) {}
  // Opens the file into fd_; throws NotRegular for what the constructor refuses as not a regular file.
  void open(uint16_t mode);

  std::string file_name_;
  int fd_ = -1;
  int last_error_ = 0;
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;
  void Clear();
  void LoadFromStream(TStream& source);
  void LoadFromFile(const std::string& file_name);
  void SaveToFile(const std::string& file_name);
  const uint8_t* Memory() const { return data_.data(); }
  uint8_t* Memory() { return data_.data(); }

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

// Whether a regular file of that name exists (not a directory, pipe or device).
bool FileExists(const std::string& file_name);
// Whether both names exist and are the same file (through links, relative names or other spellings).
bool SameFile(const std::string& a, const std::string& b);
