#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <tuple>

#include "framework/fs_manager.h"
#include "tests/framework/fs_test_support.h"
#include "tests/support/temp_dir.h"

namespace {
template <typename T>
std::string Bytes(T value) {
  std::string s(sizeof value, '\0');
  std::memcpy(&s[0], &value, sizeof value);
  return s;
}
std::string Entry(const std::string& name, int64_t offset, int64_t size) {
  return Bytes(static_cast<int32_t>(name.size())) + name + Bytes(offset) + Bytes(size);
}
// An archive whose data follow the table in entry order.
std::string Archive(const std::vector<std::pair<std::string, std::string>>& files) {
  int64_t offset = 4;
  for (const auto& f : files) offset += 20 + static_cast<int64_t>(f.first.size());
  std::string table = Bytes(static_cast<int32_t>(files.size())), data;
  for (const auto& [name, bytes] : files) {
    table += Entry(name, offset + static_cast<int64_t>(data.size()), static_cast<int64_t>(bytes.size()));
    data += bytes;
  }
  return table + data;
}

struct ArchiveFixture : ::testing::Test {
  TempDir dir;
  std::string path = dir.file("pack.dat");
  std::unique_ptr<TfsMountArchive> Make(const std::string& bytes) {
    dir.write("pack.dat", bytes);
    return std::make_unique<TfsMountArchive>(path, nullptr);
  }
  static void ExpectClosed(TfsMountArchive& a) {
    EXPECT_EQ(a.FileName(), "");
    EXPECT_FALSE(a.FileExists("a"));
    EXPECT_EQ(a.OpenFile("a"), nullptr);
    EXPECT_EQ(a.GetFileSize("a"), -1);
  }
};
}  // namespace

TEST(TfsMountArchiveTOCItem, RoundTripsAndRefusesEntriesPastTheEnd) {
  TMemoryStream stream;
  TfsMountArchiveTOCItem item{"sub/file.txt", 0x123456789AB, 77}, empty{"", 5, 6}, back;
  item.SaveToStream(stream);
  empty.SaveToStream(stream);
  const std::string negative = Bytes(int32_t{-9}) + Bytes(int64_t{1}) + Bytes(int64_t{2});  // no name bytes
  stream.WriteString(negative);
  stream.SetPosition(0);
  EXPECT_EQ(Content(stream), Entry("sub/file.txt", 0x123456789AB, 77) + Entry("", 5, 6) + negative);
  stream.SetPosition(0);
  for (const auto& want : {item, empty, TfsMountArchiveTOCItem{"", 1, 2}}) {
    back.LoadFromStream(stream);
    EXPECT_EQ(std::tie(back.Name, back.Offset, back.Size), std::tie(want.Name, want.Offset, want.Size));
  }
  const std::string full = Entry("name", 1, 2);
  for (const std::string& cut : {full.substr(0, 3), full.substr(0, 6), full.substr(0, 10), full.substr(0, 20),
                                 Bytes(int32_t{0x7FFFFFFF}) + "abc"}) {
    TMemoryStream s;
    s.WriteString(cut);
    s.SetPosition(0);
    EXPECT_THROW(back.LoadFromStream(s), EReadError);
  }
}

TEST_F(ArchiveFixture, LooksUpExactNamesFirstInFileOrder) {
  auto a = Make(Archive({{"sub/file.txt", "hello"}, {"dup", "first"}, {"dup", "second"}, {"empty", ""}}));
  EXPECT_EQ(a->FileName(), path);
  EXPECT_EQ(Content(a->OpenFile("sub/file.txt")), "hello");
  EXPECT_EQ(Content(a->OpenFile("dup")), "first");
  EXPECT_EQ(Content(a->OpenFile("empty")), "");  // not the whole archive
  EXPECT_EQ(a->GetFileSize("dup"), 5);
  // Only the existence test converts separators.
  EXPECT_TRUE(a->FileExists("sub\\file.txt"));
  EXPECT_EQ(a->OpenFile("sub\\file.txt"), nullptr);
  EXPECT_EQ(a->GetFileSize("sub\\file.txt"), -1);
  EXPECT_FALSE(a->FileExists("SUB/FILE.TXT"));
  a->CloseArchive();
  ExpectClosed(*a);
  for (int32_t count : {0, -1, INT32_MIN}) {  // no entries: open and empty
    auto e = Make(Bytes(count) + Entry("a", 0, 1));
    EXPECT_EQ(e->FileName(), path);
    EXPECT_FALSE(e->FileExists("a"));
  }
}

TEST_F(ArchiveFixture, MalformedTablesLeaveTheMountClosedAndReusable) {
  const std::string two = Entry("a", 44, 1) + Entry("b", 44, 1), longname(30, 'n');
  for (const std::string& bytes :
       {std::string(), std::string("\x01\x00", 2), Bytes(int32_t{3}) + two + "xy", Bytes(int32_t{0x7FFFFFFF}) + two,
        Bytes(int32_t{1}) + Bytes(int32_t{1000}) + "abc", Bytes(int32_t{1}) + Bytes(int32_t{0x7FFFFFFF}) + two,
        Bytes(int32_t{2}) + Entry(longname, 0, 1) + Entry(longname, 0, 1).substr(0, 25)}) {
    auto a = Make(bytes);
    ExpectClosed(*a);
    dir.write("good.dat", Archive({{"a", "A"}}));
    EXPECT_TRUE(a->Open(dir.file("good.dat")));
    EXPECT_EQ(Content(a->OpenFile("a")), "A");
    EXPECT_FALSE(a->Open(path));
    ExpectClosed(*a);
  }
  EXPECT_THROW(TfsMountArchive(dir.file("none.dat"), nullptr), EFOpenError);
}

TEST_F(ArchiveFixture, DataOutsideTheFileOpensAsNothing) {
  auto table = [](int64_t end) {
    return Bytes(int32_t{6}) + Entry("ok", end, 2) + Entry("past", end - 4, 10) + Entry("negoff", -1, 1) +
           Entry("negsize", 4, -1) + Entry("far", INT64_MAX, 1) + Entry("wrap", 2, INT64_MAX);
  };
  auto a = Make(table(static_cast<int64_t>(table(0).size())) + "..");
  for (const char* name : {"past", "negoff", "negsize", "far", "wrap"}) EXPECT_EQ(a->OpenFile(name), nullptr) << name;
  EXPECT_EQ(a->GetFileSize("past"), 10);
  EXPECT_EQ(Content(a->OpenFile("ok")), "..");  // still usable
}

TEST_F(ArchiveFixture, EntryPastFourGiBOfASparseFile) {
  // Offsets and sizes are 64-bit on every build, 32-bit ones included: a file over 4 GiB (a hole,
  // so it takes no disk space) opens, sizes and seeks, and its last entry reads back.
  const int64_t far = (int64_t{1} << 32) + 4099;
  const std::string tail = "beyond four GiB";
  {
    TFileStream file(path, fmCreate);
    file.WriteString(Bytes(int32_t{2}) + Entry("near", 51, 2) + Entry("far", far, static_cast<int64_t>(tail.size())) +
                     "ok");
    file.SetSize(far);
    file.SetPosition(far);
    file.WriteString(tail);
  }
  TFileStream plain(path, fmOpenRead);
  EXPECT_EQ(plain.GetSize(), far + static_cast<int64_t>(tail.size()));
  EXPECT_EQ(plain.Seek(far + 7, soBeginning), far + 7);
  EXPECT_EQ(Content(plain), tail.substr(7));

  TfsMountArchive a(path, nullptr);
  EXPECT_EQ(a.GetFileSize("far"), static_cast<int64_t>(tail.size()));
  EXPECT_EQ(Content(a.OpenFile("far")), tail);
  EXPECT_EQ(Content(a.OpenFile("near")), "ok");
}

TEST_F(ArchiveFixture, ReloadReadsTheTableRewrittenInPlace) {
  auto a = Make(Archive({{"one", "1"}}));
  write_file(path, Archive({{"two", "22"}, {"a", "333"}}));
  EXPECT_EQ(a->OpenFile("two"), nullptr);
  a->ReloadTOC();
  EXPECT_EQ(Content(a->OpenFile("a")), "333");
  EXPECT_FALSE(a->FileExists("one"));
  write_file(path, Bytes(int32_t{5}));
  EXPECT_THROW(a->ReloadTOC(), EReadError);  // no half table is kept
  ExpectClosed(*a);
  a->ReloadTOC();
  ExpectClosed(*a);
}

TEST_F(ArchiveFixture, ServesTheManagerToReadersWhileOtherMountsComeAndGo) {
  dir.write("pack.dat", Archive({{"tex/a.png", std::string(5000, 'a')}, {"tex/b.png", std::string(3000, 'b')}}));
  TfsManager fs;
  fs.SetModDir(dir.path() + "nomod");
  ASSERT_TRUE(fs.Mount(new TfsMountArchive(path, &fs), mpCore));
  EXPECT_TRUE(fs.FileExists("tex\\a.png"));
  std::atomic<int> wrong{0};
  auto reader = [&](const std::string& name, const std::string& want) {
    for (int i = 0; i < 100; ++i) {
      SDL_RWops* rw = fs.LoadFileToRWops(name, fmOpenRead);
      TMemoryStream copy;
      CopyRWopsToStream(rw, &copy);
      SDL_RWclose(rw);
      copy.SetPosition(0);
      const std::string got = Content(copy);
      wrong += got != want && got != "mod";
    }
  };
  std::thread t1(reader, "tex/a.png", std::string(5000, 'a')), t2(reader, "tex/b.png", std::string(3000, 'b'));
  for (int i = 0; i < 100; ++i) {
    auto* m = new RecordingMount("m", nullptr, {{"tex/a.png", "mod"}});
    fs.Mount(m, mpMod);
    fs.SetModDir(dir.path() + "nomod");
    fs.Unmount(m, mpMod, true);
  }
  t1.join();
  t2.join();
  EXPECT_EQ(wrong.load(), 0);
}
