// Feeds arbitrary bytes to the archive mount as an archive file: the table reader must either
// accept the table or leave the mount closed, never read or allocate out of bounds; every entry it
// serves must hold exactly the entry's size.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "framework/fs_manager.h"

namespace {

// The scratch archive file of this process, removed at exit.
struct ScratchFile {
  std::string path;
  ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (dir && *dir ? dir : "/tmp");
    path = base + "/starlace-fuzz-archive-" + std::to_string(getpid()) + ".dat";
  }
  ~ScratchFile() { unlink(path.c_str()); }
};

void check(bool condition) {
  if (!condition) __builtin_trap();
}

void probe(TfsMountArchive& archive, const std::string& name) {
  archive.FileExists(name);
  const int32_t index = archive.FindTOCItem(name);
  const int64_t size = archive.GetFileSize(name);
  std::unique_ptr<TStream> stream = archive.OpenFile(name);
  if (index < 0) check(size == -1 && !stream);
  if (stream) check(stream->GetSize() == size && stream->GetPosition() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchFile scratch;
  const std::string& path = scratch.path;
  {
    TFileStream file(path, fmCreate);
    file.WriteBuffer(data, static_cast<int64_t>(size));
  }
  TfsMountArchive archive(path, nullptr);
  const bool open = !archive.FileName().empty();
  for (const char* name : {"a", "b/c", "", "tex/particles.png"}) probe(archive, name);
  // Names taken from the input itself give the lookups something to find.
  if (size > 8) {
    const size_t length = data[4] % 16;
    if (8 + length <= size) probe(archive, std::string(reinterpret_cast<const char*>(data) + 8, length));
  }
  try {
    archive.ReloadTOC();
    check(open || archive.FileName().empty());
  } catch (const Exception&) {
    check(archive.FileName().empty());
  }

  // The entry reader alone, over memory.
  TMemoryStream memory;
  memory.WriteBuffer(data, static_cast<int64_t>(size));
  memory.SetPosition(0);
  try {
    for (int i = 0; i < 64; ++i) {
      TfsMountArchiveTOCItem item;
      item.LoadFromStream(memory);
      check(static_cast<int64_t>(item.Name.size()) <= static_cast<int64_t>(size));
    }
  } catch (const EReadError&) {
  }
  return 0;
}
