#pragma once
// Shared by the file-system tests: a logger capture and a recording in-memory mount.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/fs_manager.h"
#include "framework/log_manager.h"
#include "tests/support/temp_dir.h"

// Installs a debug-level logger in a temporary folder as GlobalLogFile for the test's duration.
class LogCapture {
 public:
  LogCapture() : previous_(GlobalLogFile) {
    log_ = std::make_unique<TlmLogFile>(dir_.file("log.txt"), lmlmOverwrite, "");
    log_->SetMinLevel(lmetDebug);
    GlobalLogFile = log_.get();
  }
  ~LogCapture() { GlobalLogFile = previous_; }
  std::string Text() const { return dir_.read("log.txt"); }
  bool Has(const std::string& line) const { return Text().find(line + "\r\n") != std::string::npos; }

 private:
  TempDir dir_;
  TlmLogFile* previous_;
  std::unique_ptr<TlmLogFile> log_;
};

// A mount over a name -> content map that records every question asked of it as "<tag>:<name>".
class RecordingMount : public TfsMount {
 public:
  RecordingMount(std::string tag, std::vector<std::string>* calls, std::map<std::string, std::string> files = {})
      : TfsMount(nullptr), tag_(std::move(tag)), calls_(calls), files_(std::move(files)) {}
  ~RecordingMount() override {
    if (calls_) calls_->push_back("free:" + tag_);
  }
  bool FileExists(const std::string& name) override {
    if (calls_) calls_->push_back(tag_ + ":" + name);
    return files_.count(name) != 0;
  }
  std::unique_ptr<TStream> OpenFile(const std::string& name) override {
    if (calls_) calls_->push_back(tag_ + ":" + name);
    const auto it = files_.find(name);
    if (it == files_.end()) return nullptr;
    auto stream = std::make_unique<TMemoryStream>();
    stream->WriteString(it->second);
    stream->SetPosition(0);
    return stream;
  }
  int64_t GetFileSize(const std::string& name) override {
    const auto it = files_.find(name);
    return it == files_.end() ? -1 : static_cast<int64_t>(it->second.size());
  }

 private:
  std::string tag_;
  std::vector<std::string>* calls_;
  std::map<std::string, std::string> files_;
};

// The whole content of a stream from its current position.
inline std::string ReadAll(TStream& stream) {
  std::string bytes(static_cast<size_t>(stream.GetSize() - stream.GetPosition()), '\0');
  if (!bytes.empty()) stream.ReadBuffer(&bytes[0], static_cast<int64_t>(bytes.size()));
  return bytes;
}
