#include "framework/fs_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/framework/fs_test_support.h"

namespace {

std::string Content(std::unique_ptr<TStream> stream) { return stream ? ReadAll(*stream) : "<nil>"; }

// A manager whose mod directory is a fresh temporary folder.
struct FsFixture : ::testing::Test {
  std::vector<std::string> calls;  // outlives the manager, whose mounts record their release
  TempDir mod;
  TfsManager fs;
  FsFixture() { fs.SetModDir(mod.path()); }
  RecordingMount* MountAt(TfsMountPriority p, const std::string& tag, std::map<std::string, std::string> files = {}) {
    auto* m = new RecordingMount(tag, &calls, std::move(files));
    EXPECT_TRUE(fs.Mount(m, p));
    return m;
  }
};

}  // namespace

TEST(ConvertFileName, ReplacesSeparatorsThenHalvesDoublesInOnePass) {
  EXPECT_EQ(ConvertFileName("x\\y//z", ctNative), "x/y/z");
  EXPECT_EQ(ConvertFileName("x/y", ctWindows), "x\\y");
  EXPECT_EQ(ConvertFileName("a///b", ctLinux), "a//b");
  EXPECT_EQ(ConvertFileName("a\\/\\/b", ctNative), "a//b");
  EXPECT_EQ(ConvertFileName("//lead\\", ctNative), "/lead/");
  // The pass only looks for "/": doubled backslashes survive the Windows target.
  EXPECT_EQ(ConvertFileName("a//b", ctWindows), "a\\\\b");
  EXPECT_EQ(ConvertFileName("../A.TXT", ctNative), "../A.TXT");
}

TEST(TfsManagerModDir, SetModDirAddsOneDelimiterUnlessPresent) {
  TfsManager fs;
  EXPECT_EQ(fs.GetModDir(), "");
  fs.SetModDir("dir");
  EXPECT_EQ(fs.GetModDir(), "dir/");
  fs.SetModDir("dir/");
  EXPECT_EQ(fs.GetModDir(), "dir/");
  fs.SetModDir("dir\\");
  EXPECT_EQ(fs.GetModDir(), "dir\\");
  fs.SetModDir("");
  EXPECT_EQ(fs.GetModDir(), "/");
}

TEST_F(FsFixture, HigherPriorityAndLaterMountWin) {
  mod.write("both.txt", "moddir");
  mod.write("core-and-dir.txt", "moddir");
  MountAt(mpCore, "core1", {{"c.txt", "first"}, {"core-and-dir.txt", "core"}});
  MountAt(mpCore, "core2", {{"c.txt", "second"}});
  MountAt(mpMod, "mod", {{"both.txt", "mod"}, {"d.txt", "mod"}});
  MountAt(mpDebug, "debug", {{"d.txt", "debug"}});
  MountAt(mpBase, "base", {{"b.txt", "base"}});

  EXPECT_EQ(Content(fs.LoadFileToStream("c.txt", fmOpenRead)), "second");
  EXPECT_EQ(Content(fs.LoadFileToStream("both.txt", fmOpenRead)), "mod");
  EXPECT_EQ(Content(fs.LoadFileToStream("core-and-dir.txt", fmOpenRead)), "moddir");
  EXPECT_EQ(Content(fs.LoadFileToStream("d.txt", fmOpenRead)), "debug");
  EXPECT_EQ(Content(fs.LoadFileToStream("b.txt", fmOpenRead)), "base");

  // The search stops at the first source that has it; mounts get the name unchanged.
  calls.clear();
  EXPECT_EQ(fs.LoadFileToStream("sub\\x", fmOpenRead), nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"debug:sub\\x", "mod:sub\\x", "core2:sub\\x", "core1:sub\\x",
                                             "base:sub\\x"}));
  calls.clear();
  EXPECT_EQ(Content(fs.LoadFileToStream("both.txt", fmOpenRead)), "mod");
  EXPECT_EQ(calls, (std::vector<std::string>{"debug:both.txt", "mod:both.txt"}));
}

TEST_F(FsFixture, WritingModesUseOnlyTheModDirectory) {
  MountAt(mpDebug, "debug", {{"m.txt", "mounted"}});
  EXPECT_EQ(fs.LoadFileToStream("m.txt", fmOpenWrite), nullptr);
  EXPECT_EQ(fs.LoadFileToStream("m.txt", fmOpenReadWrite), nullptr);
  {
    auto created = fs.LoadFileToStream("m.txt", fmCreate);
    ASSERT_NE(created, nullptr);
    created->WriteString("new");
  }
  EXPECT_EQ(mod.read("m.txt"), "new");
  {
    auto rw = fs.LoadFileToStream("m.txt", fmOpenReadWrite);
    ASSERT_NE(rw, nullptr);
    rw->Seek(0, soEnd);
    rw->WriteString("er");
  }
  EXPECT_EQ(mod.read("m.txt"), "newer");
  mod.write("m.txt", "existing");
  EXPECT_NE(fs.LoadFileToStream("m.txt", fmCreate), nullptr);
  EXPECT_EQ(mod.read("m.txt"), "");  // created afresh
  EXPECT_TRUE(calls.empty());
  // Reading still prefers the mount.
  EXPECT_EQ(Content(fs.LoadFileToStream("m.txt", fmOpenRead)), "mounted");
}

TEST_F(FsFixture, UnknownModeIsAnErrorThatNeverReachesTheMounts) {
  LogCapture log;
  mod.write("f.txt", "x");
  MountAt(mpMod, "mod", {{"f.txt", "m"}});
  EXPECT_EQ(fs.LoadFileToStream("f.txt", 3), nullptr);
  EXPECT_EQ(fs.LoadFileToStreamFrom("f.txt", 3, mpDebug, true), nullptr);
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(log.Has("[Error@TfsManager.LoadFileToStream]: Unknown stream mode: 3"));
  EXPECT_TRUE(log.Has("[Debug@TfsManager.LoadFileToStream]: Unlocked FMountMutex"));
}

TEST_F(FsFixture, LookupWritesItsDebugEntriesInOrder) {
  mod.write("tex/particles.png", "png");
  LogCapture log;
  SDL_RWops* rw = fs.LoadFileToRWops("tex/particles.png", fmOpenRead);
  ASSERT_NE(rw, nullptr);
  EXPECT_EQ(rw->close(rw), 0);
  const std::string L = "[Debug@TfsManager.LoadFileToStream]: ", C = "[Debug@TfsManager.LoadFileToStream CheckModDir]: ",
                    R = "[Debug@TfsManager.LoadFileToRWops]: ";
  EXPECT_EQ(log.Text(), R + "Getting from stream\r\n" + L + "Locking FMountMutex\r\n" + L + "Locked FMountMutex\r\n" +
                            C + "Locking FModDirMutex\r\n" + C + "Locked FModDirMutex\r\n" + C +
                            "converted filename\r\n" + C + "Checking for existance.\r\n" + C +
                            "Created file stream.\r\n" + C + "Unlocked FModDirMutex\r\n" + L +
                            "Unlocked FMountMutex\r\n" + R + "Converting to RWops\r\n");

  LogCapture missing;
  EXPECT_EQ(fs.LoadFileToRWops("tex/none.png", fmOpenRead), nullptr);
  EXPECT_TRUE(missing.Has(R + "Result is nil"));
  EXPECT_EQ(missing.Text().find("[Warning"), std::string::npos);
  EXPECT_EQ(missing.Text().find("Created file stream."), std::string::npos);
}

TEST_F(FsFixture, DirectoriesAreNotFiles) {
  mod.write("dir/inner.txt", "x");
  EXPECT_EQ(fs.LoadFileToStream("dir", fmOpenRead), nullptr);
  EXPECT_EQ(fs.GetRealFileName("dir"), "");
  TfsMountDirectory mount(mod.path() + "dir", nullptr);
  EXPECT_EQ(mount.Directory(), mod.path() + "dir/");
  EXPECT_TRUE(mount.FileExists("inner.txt"));
  EXPECT_TRUE(mount.FileExists("\\inner.txt"));
  EXPECT_FALSE(mount.FileExists(""));
  EXPECT_EQ(mount.OpenFile("missing.txt"), nullptr);
  EXPECT_EQ(Content(mount.OpenFile("inner.txt")), "x");
  EXPECT_EQ(mount.GetFileSize("inner.txt"), -1);
}

TEST_F(FsFixture, MountRefusalsUnmountAndDestructionOwnership) {
  LogCapture log;
  RecordingMount refused("refused", &calls);
  EXPECT_FALSE(fs.Mount(&refused, mpModDir));
  EXPECT_TRUE(log.Has("[Warning@TfsManager.Mount]: Tried to mount at mpModDir. Denied."));
  EXPECT_FALSE(fs.Mount(nullptr, mpBase));
  EXPECT_EQ(log.Text().find("Denied."), log.Text().rfind("Denied."));  // one refusal logged, not two
  EXPECT_FALSE(fs.IsMounted(&refused, mpModDir));

  auto* a = MountAt(mpBase, "a");
  auto* b = MountAt(mpBase, "b");
  EXPECT_TRUE(fs.IsMounted(b, mpBase));
  EXPECT_FALSE(fs.IsMounted(b, mpCore));
  EXPECT_EQ(fs.IndexOfMount(b, mpBase), 1);
  fs.Unmount(a, mpCore, true);  // not there: nothing happens
  fs.Unmount(a, mpBase, false);  // handed back, not freed
  EXPECT_FALSE(fs.IsMounted(a, mpBase));
  EXPECT_EQ(fs.IndexOfMount(b, mpBase), 0);
  EXPECT_TRUE(calls.empty());
  delete a;
  fs.Unmount(b, mpBase, true);
  EXPECT_EQ(calls, (std::vector<std::string>{"free:a", "free:b"}));

  calls.clear();
  {
    TfsManager owner;
    owner.Mount(new RecordingMount("x", &calls), mpDebug);
    owner.Mount(new RecordingMount("y", &calls), mpBase);
    owner.Mount(new RecordingMount("z", &calls), mpBase);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"free:y", "free:z", "free:x"}));
}

TEST_F(FsFixture, LoadFromStartsAtItsPriorityWithoutTheMountLock) {
  MountAt(mpDebug, "debug");
  MountAt(mpMod, "mod");
  MountAt(mpCore, "core1");
  MountAt(mpCore, "core2");
  MountAt(mpExtension, "ext");
  MountAt(mpBase, "base");
  EXPECT_EQ(fs.LoadFileToStreamFrom("f", fmOpenRead, mpCore, false), nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"core2:f", "core1:f"}));
  calls.clear();
  EXPECT_EQ(fs.LoadFileToStreamFrom("f", fmOpenRead, mpMod, true), nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"mod:f", "core2:f", "core1:f", "ext:f", "base:f"}));
  calls.clear();

  // The mod directory sits between mpMod and mpCore in the downward walk, and is the only source
  // for the writing modes.
  mod.write("f", "dir");
  EXPECT_EQ(Content(fs.LoadFileToStreamFrom("f", fmOpenRead, mpMod, true)), "dir");
  EXPECT_EQ(calls, (std::vector<std::string>{"mod:f"}));
  EXPECT_EQ(Content(fs.LoadFileToStreamFrom("f", fmOpenRead, mpModDir, false)), "dir");
  EXPECT_EQ(fs.LoadFileToStreamFrom("f", fmOpenWrite, mpCore, true), nullptr);
  EXPECT_EQ(fs.LoadFileToStreamFrom("f", fmOpenWrite, mpDebug, false), nullptr);
  EXPECT_NE(fs.LoadFileToStreamFrom("f", fmOpenWrite, mpDebug, true), nullptr);
  EXPECT_NE(fs.LoadFileToStreamFrom("f", fmOpenReadWrite, mpModDir, false), nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"mod:f"}));

  // Not found: a handle without a stream, every callback answers -1, closing releases it.
  SDL_RWops* empty = fs.LoadFileToRWopsFrom("none", fmOpenRead, mpBase, false);
  ASSERT_NE(empty, nullptr);
  char byte = 0;
  EXPECT_EQ(empty->read(empty, &byte, 1, 1), -1);
  EXPECT_EQ(empty->write(empty, &byte, 1, 1), -1);
  EXPECT_EQ(empty->seek(empty, 0, RW_SEEK_SET), -1);
  EXPECT_EQ(empty->close(empty), -1);
}

TEST_F(FsFixture, ExistenceQueriesAndRealFileNames) {
  LogCapture log;
  mod.write("songs/x.ogg", "ogg");
  MountAt(mpCore, "core", {{"core.txt", ""}});
  EXPECT_TRUE(fs.FileExists("core.txt"));
  EXPECT_TRUE(fs.FileExists("songs\\x.ogg"));
  EXPECT_FALSE(fs.FileExists("nothing\\here"));
  EXPECT_TRUE(log.Has("[Warning@TfsManager.FileExists]: File not found: nothing\\here"));

  EXPECT_EQ(fs.FindMountPriority("core.txt", fmOpenRead), mpCore);
  EXPECT_EQ(fs.FindMountPriority("songs/x.ogg", fmOpenRead), mpModDir);
  EXPECT_EQ(fs.FindMountPriority("core.txt", fmCreate), mpModDir);

  const std::string real = mod.path() + "songs/x.ogg";
  EXPECT_EQ(fs.GetRealFileName("/songs/x.ogg"), real);
  EXPECT_TRUE(log.Has("[Debug@TfsManager.GetRealFileName]: Looking up native file name of 'songs/x.ogg' (moddir=" +
                      mod.path() + ")."));
  EXPECT_EQ(fs.GetRealFileName("//songs/x.ogg"), real);
  EXPECT_TRUE(log.Has("[Debug@TfsManager.GetRealFileName]: Looking up native file name of '/songs/x.ogg' (moddir=" +
                      mod.path() + ")."));
  EXPECT_EQ(fs.GetRealFileName("core.txt"), "");  // mounts are not consulted
  EXPECT_TRUE(log.Has("[Warning@TfsManager.GetRealFileName]: Could not find file on native file system: "
                      "'core.txt'."));
}

TEST(StreamToRWops, ReadSeekWriteAndCloseRules) {
  auto stream = std::make_unique<TMemoryStream>();
  stream->WriteString("0123456789");
  stream->SetPosition(2);
  SDL_RWops* rw = StreamToRWops(std::move(stream));
  ASSERT_NE(rw, nullptr);
  EXPECT_EQ(rw->type, 2u);

  char buffer[16] = {};
  EXPECT_EQ(rw->read(rw, buffer, 4, 3), 2);  // 8 of the 8 bytes left: two whole elements
  EXPECT_EQ(std::string(buffer, 8), "23456789");
  EXPECT_EQ(rw->read(rw, buffer, 1, 5), 0);  // at the end
  EXPECT_EQ(rw->seek(rw, 0, RW_SEEK_END), 10);
  EXPECT_EQ(rw->seek(rw, 1, RW_SEEK_SET), 1);
  EXPECT_EQ(rw->read(rw, buffer, 4, 3), 2);  // 9 left: rounded down to 8 bytes
  EXPECT_EQ(rw->seek(rw, 0, RW_SEEK_CUR), 9);
  EXPECT_EQ(rw->seek(rw, -4, RW_SEEK_CUR), 5);
  EXPECT_EQ(rw->seek(rw, 3, 7), 5);  // unknown whence moves nothing
  EXPECT_EQ(rw->read(rw, buffer, 0, 3), 0);  // element size 0 must not fault
  EXPECT_EQ(rw->seek(rw, 20, RW_SEEK_SET), 20);
  EXPECT_EQ(rw->read(rw, buffer, 1, 1), 0);  // past the end
  EXPECT_EQ(SDL_RWseek(rw, 0, RW_SEEK_SET), 0);
  EXPECT_EQ(rw->write(rw, "abcdef", 3, 2), 2);
  EXPECT_EQ(SDL_RWseek(rw, 0, RW_SEEK_SET), 0);
  EXPECT_EQ(SDL_RWread(rw, buffer, 1, 16), 10);
  EXPECT_EQ(std::string(buffer, 10), "abcdef6789");
  EXPECT_EQ(SDL_RWclose(rw), 0);  // frees the stream and the handle (the sanitizers check both)
}

TEST(CopyRWopsToStream, CopiesWhatIsLeftInKilobyteSteps) {
  std::string data(3000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  auto source = std::make_unique<TMemoryStream>();
  source->WriteString(data);
  source->SetPosition(100);
  SDL_RWops* rw = StreamToRWops(std::move(source));
  TMemoryStream dest;
  CopyRWopsToStream(rw, &dest);
  dest.SetPosition(0);
  EXPECT_EQ(ReadAll(dest), data.substr(100));
  CopyRWopsToStream(rw, &dest);  // nothing left
  EXPECT_EQ(dest.GetSize(), 2900);
  CopyRWopsToStream(nullptr, &dest);
  CopyRWopsToStream(rw, nullptr);
  SDL_RWclose(rw);
}

TEST_F(FsFixture, ConcurrentLookupsWhileMounting) {
  mod.write("shared.txt", "dir");
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  auto reader = [&] {
    while (!stop.load()) {
      const std::string got = Content(fs.LoadFileToStream("shared.txt", fmOpenRead));
      if (got != "dir" && got != "mod") ++wrong;
      SDL_RWops* rw = fs.LoadFileToRWops("shared.txt", fmOpenRead);
      if (!rw) ++wrong;
      else SDL_RWclose(rw);
    }
  };
  std::thread t1(reader), t2(reader);
  for (int i = 0; i < 200; ++i) {
    auto* m = new RecordingMount("m", nullptr, {{"shared.txt", "mod"}});
    fs.Mount(m, mpMod);
    fs.FileExists("shared.txt");
    fs.Unmount(m, mpMod, true);
    fs.SetModDir(mod.path());
  }
  stop = true;
  t1.join();
  t2.join();
  EXPECT_EQ(wrong.load(), 0);
}
