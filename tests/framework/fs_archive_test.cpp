#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <utility>

#include "framework/fs_manager.h"
#include "tests/framework/fs_test_support.h"

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
  for (const auto& f : files) {
    table += Entry(f.first, offset + static_cast<int64_t>(data.size()), static_cast<int64_t>(f.second.size()));
    data += f.second;
  }
  return table + data;
}

std::string Content(std::unique_ptr<TStream> stream) { return stream ? ReadAll(*stream) : "<nil>"; }

struct ArchiveFixture : ::testing::Test {
  TempDir dir;
  std::string path = dir.file("pack.dat");
  std::unique_ptr<TfsMountArchive> Make(const std::string& bytes) {
    dir.write("pack.dat", bytes);
    return std::make_unique<TfsMountArchive>(path, nullptr);
  }
  // The mount is closed and answers every lookup with absence.
  static void ExpectClosed(TfsMountArchive& a, const std::string& name) {
    EXPECT_EQ(a.FileName(), "");
    EXPECT_FALSE(a.FileExists(name));
    EXPECT_EQ(a.OpenFile(name), nullptr);
    EXPECT_EQ(a.GetFileSize(name), -1);
  }
};

}  // namespace

TEST(TfsMountArchiveTOCItem, WritesAndReadsTheEntryFormat) {
  TMemoryStream stream;
  TfsMountArchiveTOCItem item;
  item.Name = "sub/file.txt";
  item.Offset = 0x123456789AB;
  item.Size = 77;
  item.SaveToStream(stream);
  TfsMountArchiveTOCItem empty;
  empty.Offset = 5;
  empty.Size = 6;
  empty.SaveToStream(stream);
  stream.SetPosition(0);
  EXPECT_EQ(ReadAll(stream), Entry("sub/file.txt", 0x123456789AB, 77) + Entry("", 5, 6));

  stream.SetPosition(0);
  TfsMountArchiveTOCItem back;
  back.LoadFromStream(stream);
  EXPECT_EQ(back.Name, "sub/file.txt");
  EXPECT_EQ(back.Offset, 0x123456789AB);
  EXPECT_EQ(back.Size, 77);
  back.LoadFromStream(stream);
  EXPECT_EQ(back.Name, "");
  EXPECT_EQ(back.Offset, 5);
  EXPECT_EQ(back.Size, 6);

  // A negative length means no name bytes: offset and size follow at once.
  TMemoryStream negative;
  negative.WriteString(Bytes(int32_t{-9}) + Bytes(int64_t{1}) + Bytes(int64_t{2}));
  negative.SetPosition(0);
  back.LoadFromStream(negative);
  EXPECT_EQ(back.Name, "");
  EXPECT_EQ(back.Size, 2);
}

TEST(TfsMountArchiveTOCItem, EntriesRunningPastTheEndRaise) {
  const std::string full = Entry("name", 1, 2);
  for (size_t cut : {size_t{0}, size_t{3}, size_t{6}, size_t{10}, full.size() - 1}) {
    TMemoryStream stream;
    stream.WriteString(full.substr(0, cut));
    stream.SetPosition(0);
    TfsMountArchiveTOCItem item;
    EXPECT_THROW(item.LoadFromStream(stream), EReadError) << "cut at " << cut;
  }
  TMemoryStream huge;
  huge.WriteString(Bytes(int32_t{0x7FFFFFFF}) + "abc");
  huge.SetPosition(0);
  TfsMountArchiveTOCItem item;
  EXPECT_THROW(item.LoadFromStream(huge), EReadError);
}

TEST_F(ArchiveFixture, LooksUpEntriesByExactNameFirstInFileOrder) {
  auto a = Make(Archive({{"sub/file.txt", "hello"}, {"dup", "first"}, {"dup", "second"}, {"empty", ""}}));
  EXPECT_EQ(a->FileName(), path);
  EXPECT_EQ(Content(a->OpenFile("sub/file.txt")), "hello");
  EXPECT_EQ(a->GetFileSize("sub/file.txt"), 5);
  EXPECT_EQ(Content(a->OpenFile("dup")), "first");
  EXPECT_EQ(a->FindTOCItem("dup"), 1);
  EXPECT_EQ(Content(a->OpenFile("empty")), "");  // not the whole archive
  EXPECT_EQ(a->GetFileSize("empty"), 0);

  // Only the existence test converts separators.
  EXPECT_TRUE(a->FileExists("sub\\file.txt"));
  EXPECT_TRUE(a->FileExists("sub//file.txt"));
  EXPECT_EQ(a->OpenFile("sub\\file.txt"), nullptr);
  EXPECT_EQ(a->GetFileSize("sub\\file.txt"), -1);
  EXPECT_FALSE(a->FileExists("SUB/FILE.TXT"));
  EXPECT_EQ(a->OpenFile("missing"), nullptr);
  EXPECT_EQ(a->GetFileSize("missing"), -1);

  a->CloseArchive();
  ExpectClosed(*a, "dup");
}

TEST_F(ArchiveFixture, CountOfZeroOrLessIsAnEmptyOpenTable) {
  for (int32_t count : {0, -1, INT32_MIN}) {
    auto a = Make(Bytes(count) + Entry("x", 0, 1));
    EXPECT_EQ(a->FileName(), path);
    EXPECT_FALSE(a->FileExists("x"));
    EXPECT_EQ(a->OpenFile("x"), nullptr);
  }
}

TEST_F(ArchiveFixture, MalformedTablesLeaveTheMountClosed) {
  const std::string two = Entry("a", 44, 1) + Entry("b", 44, 1);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty file", ""},
      {"short header", std::string("\x01\x00", 2)},
      {"table shorter than its count", Bytes(int32_t{3}) + two + "xy"},
      {"absurd count", Bytes(int32_t{0x7FFFFFFF}) + two},
      {"count just one too many", Bytes(int32_t{3}) + two},
      {"name past the end", Bytes(int32_t{1}) + Bytes(int32_t{1000}) + "abc"},
      {"huge name length", Bytes(int32_t{1}) + Bytes(int32_t{0x7FFFFFFF}) + std::string(40, 'n')},
      {"entry cut in its size", Bytes(int32_t{1}) + Entry("a", 0, 1).substr(0, 20)},
      {"second entry cut", Bytes(int32_t{2}) + Entry(std::string(30, 'a'), 0, 1) + Entry(std::string(30, 'b'), 0, 1).substr(0, 25)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    dir.write("pack.dat", c.second);
    TfsMountArchive a(path, nullptr);
    ExpectClosed(a, "a");
    // Opening a good archive afterwards works on the same mount.
    dir.write("good.dat", Archive({{"a", "A"}}));
    EXPECT_TRUE(a.Open(dir.file("good.dat")));
    EXPECT_EQ(Content(a.OpenFile("a")), "A");
    EXPECT_FALSE(a.Open(path));
    ExpectClosed(a, "a");
  }
}

TEST_F(ArchiveFixture, DataOutsideTheFileOpensAsNothingAndTheMountStaysUsable) {
  auto table = [](int64_t end) {
    return Bytes(int32_t{6}) + Entry("ok", end, 2) + Entry("past", end - 4, 10) + Entry("negoff", -1, 1) +
           Entry("negsize", 4, -1) + Entry("far", INT64_MAX, 1) + Entry("wrap", 2, INT64_MAX);
  };
  const auto end = static_cast<int64_t>(table(0).size());
  auto a = Make(table(end) + "..");
  EXPECT_EQ(a->FileName(), path);
  for (const char* name : {"past", "negoff", "negsize", "far", "wrap"}) {
    EXPECT_TRUE(a->FileExists(name)) << name;
    EXPECT_EQ(a->OpenFile(name), nullptr) << name;
  }
  EXPECT_EQ(a->GetFileSize("past"), 10);
  EXPECT_EQ(Content(a->OpenFile("ok")), "..");
}

TEST_F(ArchiveFixture, MissingFileRaisesAndReloadReadsTheRewrittenTable) {
  EXPECT_THROW(TfsMountArchive(dir.file("none.dat"), nullptr), EFOpenError);

  auto a = Make(Archive({{"one", "1"}}));
  write_file(path, Archive({{"two", "22"}, {"three", "333"}}));  // rewritten in place
  EXPECT_EQ(Content(a->OpenFile("two")), "<nil>");
  a->ReloadTOC();
  EXPECT_EQ(Content(a->OpenFile("three")), "333");
  EXPECT_FALSE(a->FileExists("one"));

  write_file(path, Bytes(int32_t{5}));
  EXPECT_THROW(a->ReloadTOC(), EReadError);
  ExpectClosed(*a, "two");
  a->ReloadTOC();  // closed: nothing to read, nothing raised
  ExpectClosed(*a, "two");

  // A failed open keeps the mount it was asked on as it was (closed here).
  EXPECT_THROW(a->Open(dir.file("none.dat")), EFOpenError);
  ExpectClosed(*a, "two");
}

TEST_F(ArchiveFixture, ServesTheManagerAndConcurrentReaders) {
  dir.write("pack.dat", Archive({{"tex/a.png", std::string(5000, 'a')}, {"tex/b.png", std::string(3000, 'b')}}));
  TfsManager fs;
  fs.SetModDir(dir.path() + "nomod");
  auto* archive = new TfsMountArchive(path, &fs);
  ASSERT_TRUE(fs.Mount(archive, mpCore));
  EXPECT_TRUE(fs.FileExists("tex\\a.png"));
  EXPECT_EQ(fs.FindMountPriority("tex/b.png", fmOpenRead), mpCore);

  std::atomic<int> wrong{0};
  auto reader = [&](const std::string& name, char fill, size_t size) {
    for (int i = 0; i < 100; ++i) {
      SDL_RWops* rw = fs.LoadFileToRWops(name, fmOpenRead);
      TMemoryStream copy;
      CopyRWopsToStream(rw, &copy);
      if (rw) SDL_RWclose(rw);
      copy.SetPosition(0);
      if (ReadAll(copy) != std::string(size, fill)) ++wrong;
    }
  };
  std::thread t1(reader, "tex/a.png", 'a', 5000), t2(reader, "tex/b.png", 'b', 3000);
  for (int i = 0; i < 100; ++i)
    if (archive->GetFileSize("tex/a.png") != 5000) ++wrong;
  t1.join();
  t2.join();
  EXPECT_EQ(wrong.load(), 0);
}
