#include "framework/fs_manager.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/framework/captured_log.h"
#include "tests/support/allocation_hooks.h"
#include "framework/sdl_manager.h"
#include "framework/streams.h"
#include "tests/framework/fs_test_support.h"
#include "tests/support/os.h"

namespace {
using Calls = std::vector<std::string>;

// A manager whose mod directory is a fresh folder; `calls` outlives the mounts that record into it.
struct FsFixture : ::testing::Test {
  Calls calls;
  TempDir mod;
  TfsManager fs;
  FsFixture() { fs.SetModDir(mod.path()); }
  void MountAt(TfsMountPriority p, const std::string& tag, std::map<std::string, std::string> files = {}) {
    EXPECT_TRUE(fs.Mount(new RecordingMount(tag, &calls, std::move(files)), p));
  }
};
}  // namespace

TEST(TfsManagerNames, ConvertFileNameInOnePassAndSetModDirForms) {
  EXPECT_EQ(ConvertFileName("x\\y//z", ctNative), "x/y/z");
  EXPECT_EQ(ConvertFileName("x/y", ctWindows), "x\\y");
  EXPECT_EQ(ConvertFileName("a\\//b", ctLinux), "a//b");  // three in a row keep two
  EXPECT_EQ(ConvertFileName("a//b", ctWindows), "a\\\\b");
  EXPECT_EQ(ConvertFileName("//../A", ctNative), "/../A");
  TfsManager fs;
  for (const auto& [dir, stored] : std::map<std::string, std::string>{{"dir", "dir/"}, {"dir/", "dir/"},
                                                                       {"dir\\", "dir\\"}, {"", "/"}}) {
    fs.SetModDir(dir);
    EXPECT_EQ(fs.GetModDir(), stored);
  }
}

TEST_F(FsFixture, HigherPriorityThenLaterMountWinsAndTheModDirSitsBetween) {
  mod.write("both", "moddir");
  mod.write("core-and-dir", "moddir");
  mod.write("sub/dir/file", "x");
  MountAt(mpCore, "core1", {{"dir\\file", "first"}, {"core-and-dir", "core"}});
  EXPECT_TRUE(fs.Mount(new TfsMountDirectory(mod.path() + "sub", &fs), mpCore));
  MountAt(mpMod, "mod", {{"both", "mod"}, {"dir/file", "mod"}});
  MountAt(mpDebug, "debug", {{"c", "debug"}});
  EXPECT_EQ(Content(fs.LoadFileToStream("dir\\file", fmOpenRead)), "x");  // later mpCore mount, name unchanged
  EXPECT_EQ(Content(fs.LoadFileToStream("dir/file", fmOpenRead)), "mod");
  EXPECT_EQ(Content(fs.LoadFileToStream("both", fmOpenRead)), "mod");
  EXPECT_EQ(Content(fs.LoadFileToStream("core-and-dir", fmOpenRead)), "moddir");
  EXPECT_EQ(Content(fs.LoadFileToStream("c", fmOpenRead)), "debug");
  EXPECT_EQ(fs.LoadFileToStream("sub", fmOpenRead), nullptr);  // a directory is no file
  calls.clear();
  EXPECT_EQ(Content(fs.LoadFileToStream("core-and-dir", fmOpenRead)), "moddir");
  EXPECT_EQ(calls, (Calls{"debug:core-and-dir", "mod:core-and-dir"}));
}

TEST_F(FsFixture, WritingAndUnknownModesNeverTouchTheMounts) {
  CapturedLog log;
  MountAt(mpDebug, "debug", {{"m", "mounted"}});
  EXPECT_EQ(fs.LoadFileToStream("m", fmOpenWrite), nullptr);
  fs.LoadFileToStream("m", fmCreate)->WriteString("new");
  fs.LoadFileToStream("m", fmOpenReadWrite)->WriteString("N");
  EXPECT_EQ(mod.read("m"), "New");
  EXPECT_EQ(fs.LoadFileToStream("m", 3), nullptr);
  EXPECT_EQ(fs.LoadFileToStreamFrom("m", 3, mpDebug, true), nullptr);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(log.Count(lmetError, "TfsManager.LoadFileToStream", "Unknown stream mode: 3"), 1);
  EXPECT_EQ(Content(fs.LoadFileToStream("m", fmOpenRead)), "mounted");
}

TEST_F(FsFixture, LookupLogsEachStepAndAMissingFileQuietly) {
  mod.write("tex/particles.png", "png");
  CapturedLog log;
  SDL_RWops* rw = fs.LoadFileToRWops("tex/particles.png", fmOpenRead);
  ASSERT_NE(rw, nullptr);
  SDL_RWclose(rw);
  EXPECT_EQ(fs.LoadFileToRWops("tex/none.png", fmOpenRead), nullptr);
  const std::string R = "[Debug@TfsManager.LoadFileToRWops]: ", L = "[Debug@TfsManager.LoadFileToStream]: ",
                    C = "[Debug@TfsManager.LoadFileToStream CheckModDir]: ";
  const Calls found{R + "Getting from stream", L + "Locking FMountMutex", L + "Locked FMountMutex",
                    C + "Locking FModDirMutex", C + "Locked FModDirMutex", C + "converted filename",
                    C + "Checking for existance.", C + "Created file stream.", C + "Unlocked FModDirMutex",
                    L + "Unlocked FMountMutex", R + "Converting to RWops"};
  const Calls lines = log.Lines();
  EXPECT_EQ(Calls(lines.begin(), lines.begin() + 11), found);
  EXPECT_EQ(lines.size(), 21u);  // the same less "Created file stream.", ending in "Result is nil"
  EXPECT_EQ(lines.back(), R + "Result is nil");
}

TEST_F(FsFixture, MountRefusalsAndOwnership) {
  CapturedLog log;
  RecordingMount refused("refused", nullptr);
  EXPECT_FALSE(fs.Mount(&refused, mpModDir));
  EXPECT_FALSE(fs.Mount(nullptr, mpBase));
  EXPECT_EQ(log.Lines(), Calls{"[Warning@TfsManager.Mount]: Tried to mount at mpModDir. Denied."});
  auto* a = new RecordingMount("a", &calls);
  auto* b = new RecordingMount("b", &calls);
  fs.Mount(a, mpBase);
  fs.Mount(b, mpBase);
  EXPECT_EQ(fs.IndexOfMount(b, mpBase), 1);
  EXPECT_FALSE(fs.IsMounted(b, mpCore));
  fs.Unmount(a, mpCore, true);   // not there: nothing
  fs.Unmount(a, mpBase, false);  // handed back unfreed
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(fs.IndexOfMount(b, mpBase), 0);
  delete a;
  {
    TfsManager owner;
    owner.Mount(new RecordingMount("x", &calls), mpDebug);
    owner.Mount(new RecordingMount("y", &calls), mpBase);
  }
  fs.Unmount(b, mpBase, true);
  EXPECT_EQ(calls, (Calls{"free:a", "free:y", "free:x", "free:b"}));
}

TEST_F(FsFixture, AMountInSeveralListsIsFreedOnce) {
  {
    TfsManager owner;
    auto* twice = new RecordingMount("twice", &calls);
    EXPECT_TRUE(owner.Mount(twice, mpCore));
    EXPECT_TRUE(owner.Mount(twice, mpCore));
    EXPECT_TRUE(owner.Mount(twice, mpMod));
  }
  EXPECT_EQ(calls, Calls{"free:twice"});

  // Freeing it through one entry takes every entry with it: no lookup reaches the freed mount.
  auto* freed = new RecordingMount("freed", &calls, {{"f", "freed"}});
  fs.Mount(freed, mpBase);
  fs.Mount(freed, mpDebug);
  fs.Unmount(freed, mpBase, true);
  EXPECT_EQ(Content(fs.LoadFileToStream("f", fmOpenRead)), "<nil>");

  // Handed back only once no list holds it; until then the manager keeps (and frees) it.
  auto* kept = new RecordingMount("kept", &calls, {{"f", "kept"}});
  fs.Mount(kept, mpBase);
  fs.Mount(kept, mpCore);
  fs.Unmount(kept, mpCore, false);
  EXPECT_EQ(Content(fs.LoadFileToStream("f", fmOpenRead)), "kept");
  auto* returned = new RecordingMount("returned", &calls);
  fs.Mount(returned, mpMod);
  fs.Mount(returned, mpMod);
  fs.Unmount(returned, mpMod, false);
  fs.Unmount(returned, mpMod, false);
  EXPECT_FALSE(fs.IsMounted(returned, mpMod));
  delete returned;
  fs.UnmountAll();
  EXPECT_EQ(calls, (Calls{"free:twice", "free:freed", "kept:f", "free:returned", "free:kept"}));
}

// Each allocation of Mount fails in turn: a Mount that throws leaves the mount with the caller.
TEST_F(FsFixture, AMountThatCannotBeListedStaysTheCallers) {
  for (int nth = 1;; ++nth) {
    ASSERT_LT(nth, 10) << "Mount never succeeded";
    auto* mount = new RecordingMount("m", &calls);
    bool threw = false;
    {
      TfsManager owner;
      try {
        FailingAllocation fail(nth);
        owner.Mount(mount, mpBase);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
      EXPECT_EQ(owner.IsMounted(mount, mpBase), !threw) << nth;
    }
    EXPECT_EQ(calls, threw ? Calls{} : Calls{"free:m"}) << nth;
    if (!threw) {
      EXPECT_GT(nth, 2);  // a fresh manager grows both of its lists
      break;
    }
    if (calls.empty()) delete mount;
    calls.clear();
  }
}

TEST_F(FsFixture, ReleaseTakesTheMountOutFromTheTopAndFreesOnlyAnUnheldOne) {
  auto* mount = new RecordingMount("m", &calls, {}, &fs);
  fs.Mount(mount, mpBase);
  fs.Mount(mount, mpDebug);
  mount->Release();
  EXPECT_FALSE(fs.IsMounted(mount, mpDebug));
  EXPECT_TRUE(fs.IsMounted(mount, mpBase));
  mount->Release();  // out of its last list: the caller's again, not freed
  EXPECT_FALSE(fs.IsMounted(mount, mpBase));
  EXPECT_TRUE(calls.empty());
  mount->Release();  // no list holds it: it frees itself
  (new RecordingMount("alone", &calls))->Release();
  fs.UnmountAll();
  EXPECT_EQ(calls, (Calls{"free:m", "free:alone"}));
}

TEST_F(FsFixture, LoadFromStartsAtItsPriority) {
  for (const auto& [p, tag] : std::vector<std::pair<TfsMountPriority, std::string>>{
           {mpDebug, "debug"}, {mpMod, "mod"}, {mpCore, "core1"}, {mpCore, "core2"}, {mpExtension, "ext"}, {mpBase, "base"}})
    MountAt(p, tag);
  EXPECT_EQ(fs.LoadFileToStreamFrom("f", fmOpenRead, mpCore, false), nullptr);
  EXPECT_EQ(fs.LoadFileToStreamFrom("f", fmOpenRead, mpMod, true), nullptr);
  EXPECT_EQ(calls, (Calls{"core2:f", "core1:f", "mod:f", "core2:f", "core1:f", "ext:f", "base:f"}));
  mod.write("f", "dir");
  calls.clear();
  EXPECT_EQ(Content(fs.LoadFileToStreamFrom("f", fmOpenRead, mpMod, true)), "dir");
  EXPECT_EQ(calls, Calls{"mod:f"});
  EXPECT_EQ(fs.LoadFileToStreamFrom("f", fmOpenWrite, mpCore, true), nullptr);
  EXPECT_EQ(fs.LoadFileToStreamFrom("f", fmOpenWrite, mpDebug, false), nullptr);
  EXPECT_NE(fs.LoadFileToStreamFrom("f", fmOpenWrite, mpDebug, true), nullptr);
  EXPECT_NE(fs.LoadFileToStreamFrom("f", fmOpenReadWrite, mpModDir, false), nullptr);
  // Nothing found: a handle without a stream whose callbacks answer -1.
  SDL_RWops* none = fs.LoadFileToRWopsFrom("none", fmOpenRead, mpBase, false);
  char byte = 0;
  EXPECT_EQ(none->read(none, &byte, 1, 1), -1);
  EXPECT_EQ(none->write(none, &byte, 1, 1), -1);
  EXPECT_EQ(none->seek(none, 0, RW_SEEK_SET), -1);
  EXPECT_EQ(SDL_RWclose(none), -1);
}

TEST_F(FsFixture, ExistenceAndRealFileNames) {
  CapturedLog log;
  mod.write("songs/x.ogg", "ogg");
  MountAt(mpCore, "core", {{"core", ""}});
  EXPECT_TRUE(fs.FileExists("core") && fs.FileExists("songs\\x.ogg"));
  EXPECT_FALSE(fs.FileExists("no\\file"));
  EXPECT_TRUE(log.Has(lmetWarning, "TfsManager.FileExists", "File not found: no\\file"));
  EXPECT_EQ(fs.FindMountPriority("core", fmOpenRead), mpCore);
  EXPECT_EQ(fs.FindMountPriority("songs/x.ogg", fmOpenRead), mpModDir);
  EXPECT_EQ(fs.FindMountPriority("core", fmCreate), mpModDir);
  // The native name has every separator turned into "/" (Windows temporary folders have backslashes).
  std::string real = mod.path() + "songs/x.ogg";
  std::replace(real.begin(), real.end(), '\\', '/');
  EXPECT_EQ(fs.GetRealFileName("/songs/x.ogg"), real);
  EXPECT_EQ(fs.GetRealFileName("//songs/x.ogg"), real);
  EXPECT_EQ(fs.GetRealFileName("core"), "");  // mounts are not consulted
  const std::string src = "TfsManager.GetRealFileName", look = "Looking up native file name of '";
  EXPECT_TRUE(log.Has(lmetDebug, src, look + "songs/x.ogg' (moddir=" + mod.path() + ")."));
  EXPECT_TRUE(log.Has(lmetDebug, src, look + "/songs/x.ogg' (moddir=" + mod.path() + ")."));
  EXPECT_TRUE(log.Has(lmetWarning, src, "Could not find file on native file system: 'core'."));
}

// A pipe in place of a file is not a file: never opened for a read that would wait for a writer.
TEST_F(FsFixture, PipesCountAsMissingAndAreNeverOpenedForReading) {
  mod.write("songs/bbb/placeholder", "");
  for (const char* name : {"songs/bbb/music.ogg", "songs/bbb/melody.txt", "settings.dat"}) {
    if (!make_pipe(mod.file(name))) GTEST_SKIP() << "no named pipes in this file system";
  }
  CapturedLog log;
  EXPECT_FALSE(fs.FileExists("songs/bbb/melody.txt"));
  EXPECT_EQ(fs.LoadFileToStream("songs/bbb/melody.txt", fmOpenRead), nullptr);
  EXPECT_EQ(fs.GetRealFileName("songs/bbb/music.ogg"), "");
  EXPECT_TRUE(log.Has(lmetWarning, "TfsManager.GetRealFileName",
                      "Could not find file on native file system: 'songs/bbb/music.ogg'."));
  EXPECT_FALSE(FileExists(mod.file("settings.dat")));
  EXPECT_THROW(TFileStream(mod.file("settings.dat"), fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(mod.file("settings.dat"), fmOpenReadWrite), EFOpenError);
  TsdlSettings settings;
  settings.LoadFromFile(mod.file("settings.dat"), true);  // as if missing: the defaults
  EXPECT_EQ(settings.Width, 800);
  EXPECT_EQ(settings.BPP, 32);
}

TEST(StreamToRWops, ReadSeekWriteCloseAndCopy) {
  auto stream = std::make_unique<TMemoryStream>();
  stream->WriteString("0123456789");
  stream->SetPosition(2);
  SDL_RWops* rw = StreamToRWops(std::move(stream));
  EXPECT_EQ(rw->type, 2u);
  char buf[16] = {};
  EXPECT_EQ(rw->read(rw, buf, 4, 3), 2);  // 8 bytes left: two whole elements
  EXPECT_EQ(rw->read(rw, buf, 1, 5), 0);
  EXPECT_EQ(rw->seek(rw, 0, RW_SEEK_END), 10);
  EXPECT_EQ(rw->seek(rw, 1, RW_SEEK_SET), 1);
  EXPECT_EQ(rw->read(rw, buf, 4, 3), 2);  // 9 left: rounded down to 8
  EXPECT_EQ(std::string(buf, 8), "12345678");
  EXPECT_EQ(rw->seek(rw, -4, RW_SEEK_CUR), 5);
  EXPECT_EQ(rw->seek(rw, 3, 7), 5);
  EXPECT_EQ(rw->read(rw, buf, 0, 3), 0);
  EXPECT_EQ(rw->seek(rw, 20, RW_SEEK_SET), 20);
  EXPECT_EQ(rw->read(rw, buf, 1, 1), 0);
  rw->seek(rw, 0, RW_SEEK_SET);
  EXPECT_EQ(rw->write(rw, "abcdefg", 3, 2), 2);
  rw->seek(rw, 4, RW_SEEK_SET);
  TMemoryStream copy;
  CopyRWopsToStream(rw, &copy);
  CopyRWopsToStream(nullptr, &copy);
  copy.SetPosition(0);
  EXPECT_EQ(Content(copy), "ef6789");
  EXPECT_EQ(SDL_RWclose(rw), 0);  // frees stream and handle (the sanitizer runs check both)
}
