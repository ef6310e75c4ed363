#pragma once
// Shared by the file-system tests: a recording in-memory mount and a stream reader.
#include <map>
#include <string>
#include <vector>

#include "framework/fs_manager.h"

// What is left in the stream, or "<nil>".
inline std::string Content(TStream& stream) {
  std::string bytes(static_cast<size_t>(stream.GetSize() - stream.GetPosition()), '\0');
  if (!bytes.empty()) stream.ReadBuffer(&bytes[0], static_cast<int64_t>(bytes.size()));
  return bytes;
}
inline std::string Content(const std::unique_ptr<TStream>& stream) { return stream ? Content(*stream) : "<nil>"; }

// Serves a name -> content map and records each question as "<tag>:<name>" and its release.
class RecordingMount : public TfsMount {
 public:
  RecordingMount(std::string tag, std::vector<std::string>* calls, std::map<std::string, std::string> files = {},
                 TfsManager* manager = nullptr)
      : TfsMount(manager), tag_(std::move(tag)), calls_(calls), files_(std::move(files)) {}
  ~RecordingMount() override { Note("free:" + tag_); }
  bool FileExists(const std::string& name) override { return Note(tag_ + ":" + name), files_.count(name) != 0; }
  std::unique_ptr<TStream> OpenFile(const std::string& name) override {
    Note(tag_ + ":" + name);
    if (!files_.count(name)) return nullptr;
    auto stream = std::make_unique<TMemoryStream>();
    stream->WriteString(files_[name]);
    stream->SetPosition(0);
    return stream;
  }
  int64_t GetFileSize(const std::string&) override { return -1; }

 private:
  void Note(const std::string& call) {
    if (calls_) calls_->push_back(call);
  }
  std::string tag_;
  std::vector<std::string>* calls_;
  std::map<std::string, std::string> files_;
};
