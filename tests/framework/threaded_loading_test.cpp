#include "framework/threaded_loading.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "framework/fs_manager.h"
#include "framework/tex_manager.h"
#include "tests/framework/captured_log.h"
#include "tests/support/fake_gl.h"
#include "tests/support/test_images.h"

namespace {
const char* const kProcessFile = "TtlTextureThread.ProcessFile";
const char* const kMissingText =
    "Couldn't open file 'tex/missing.png'. Maybe not found in filesystem and/or not available at gameserver.";

uint32_t pixel_at(SDL_Surface* s, int x, int y) {
  uint32_t value;
  std::memcpy(&value, static_cast<const uint8_t*>(s->pixels) + y * s->pitch + x * 4, 4);
  return value;
}

uint32_t rgba_value(TestRgb c) {
  return static_cast<uint32_t>(c.r) << 24 | static_cast<uint32_t>(c.g) << 16 | static_cast<uint32_t>(c.b) << 8 | 0xFF;
}

std::array<uint8_t, 4> texel(const FakeGL& fake, int x, int y) {
  const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(fake.tex_image_width) + static_cast<size_t>(x)) * 4;
  return {fake.tex_image[at], fake.tex_image[at + 1], fake.tex_image[at + 2], fake.tex_image[at + 3]};
}

// Polls until `done` or about five seconds have passed.
bool eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// The entries of ProcessFile's own source, messages only.
std::vector<std::string> process_messages(const CapturedLog& log) {
  std::vector<std::string> out;
  for (const std::string& line : log.Lines()) {
    const auto at = line.find("@" + std::string(kProcessFile) + "]: ");
    if (at != std::string::npos) out.push_back(line.substr(at + std::strlen(kProcessFile) + 4));
  }
  return out;
}

// Records the order in which items are applied and freed.
class RecordingItem : public TtlDataObject {
 public:
  RecordingItem(int id, std::vector<std::string>* events, bool raise = false)
      : id_(id), events_(events), raise_(raise) {}
  ~RecordingItem() override { events_->push_back("free" + std::to_string(id_)); }
  void Apply() override {
    events_->push_back("apply" + std::to_string(id_));
    if (raise_) throw EInvalidArgument("bad item");
  }

 private:
  int id_;
  std::vector<std::string>* events_;
  bool raise_;
};

// A texture that is not a 2D texture.
class OtherTexture : public TtexTexture {
 public:
  OtherTexture() : TtexTexture(nullptr) {}
  void Bind() override {}
  void Unbind() override {}
};

class Loader : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.write("tex/particles.png", png_rgb_bytes(100, 50));
    dir_.write("tex/sprite.tga", tga_rgb_bytes(3, 2));
    dir_.write("tex/noise.png", "neither a PNG nor a TGA file");
    fs_.SetModDir(dir_.path());
  }
  // A thread that never runs, for calling ProcessFile directly.
  std::unique_ptr<TtlTextureThread> idle_thread(TfsManager* fs, TtlQueue* queue) {
    return std::make_unique<TtlTextureThread>(queue, fs, &textures_, true);
  }
  std::unique_ptr<TtlTextureDataObject> pop_texture_item() {
    return std::unique_ptr<TtlTextureDataObject>(dynamic_cast<TtlTextureDataObject*>(results_.Pop()));
  }

  CapturedLog log_;
  FakeGL fake_;
  TempDir dir_;
  TfsManager fs_;
  TtexManager textures_;
  TtlQueue results_;
};
}  // namespace

TEST_F(Loader, ImmediateLoadOfA24BitPngGivesAnOpaquePowerOfTwoTexture) {
  auto thread = idle_thread(&fs_, &results_);
  EXPECT_EQ(thread->ProcessFile("tex/particles.png", nullptr), tlsSuccess);
  EXPECT_EQ(process_messages(log_),
            (std::vector<std::string>{"Processing file: tex/particles.png", "FileSystem found.", "Loaded", "Freed",
                                      "Created final surface", "Blitted", "Created texture data object",
                                      "Enqueued item."}));
  ASSERT_EQ(results_.Count(), 1);
  std::unique_ptr<TtlTextureDataObject> item = pop_texture_item();
  ASSERT_TRUE(item && item->Surface);
  EXPECT_EQ(item->Surface->format->BitsPerPixel, 32);
  EXPECT_EQ(item->Surface->format->Rmask, 0xFF000000u);
  EXPECT_EQ(item->Surface->w, 100);
  EXPECT_EQ(item->Surface->h, 50);
  EXPECT_EQ(pixel_at(item->Surface, 37, 41), rgba_value(test_pattern(37, 41)));
  EXPECT_EQ(item->TexManager, &textures_);
  EXPECT_EQ(item->Target, nullptr);

  results_.Push(item.release());
  results_.ProcessItems();
  EXPECT_EQ(results_.Count(), 0);
  ASSERT_EQ(textures_.Count(), 1);
  EXPECT_EQ(textures_.GetTexture(0)->GetTextureName(), 1u);
  EXPECT_EQ(fake_.tex_image_width, 128);
  EXPECT_EQ(fake_.tex_image_height, 64);
  const TestRgb c = test_pattern(99, 49);
  EXPECT_EQ(texel(fake_, 99, 49), (std::array<uint8_t, 4>{c.r, c.g, c.b, 255}));
  EXPECT_EQ(texel(fake_, 100, 0), (std::array<uint8_t, 4>{0, 0, 0, 0}));
}

TEST_F(Loader, FilesThatCannotBeReadOrDecodedAreLoggedAndPushNothing) {
  auto thread = idle_thread(&fs_, &results_);
  EXPECT_EQ(thread->ProcessFile("tex/missing.png", nullptr), tlsFailed);
  EXPECT_TRUE(log_.Has(lmetError, kProcessFile, kMissingText));

  const int fds = OpenFileDescriptors();
  EXPECT_EQ(thread->ProcessFile("tex/noise.png", nullptr), tlsFailed);
  EXPECT_EQ(OpenFileDescriptors(), fds);  // the file was closed
  EXPECT_TRUE(log_.Has(lmetWarning, kProcessFile, "Couldn't open file 'tex/noise.png'. Maybe it's tga, i'll try..."));
  const std::string failed = "[Error@" + std::string(kProcessFile) + "]: Sorry, even explicit TGA loading failed. ";
  EXPECT_NE(log_.Text().find(failed), std::string::npos);
  EXPECT_FALSE(log_.Has(lmetHint, kProcessFile, "Success"));
  EXPECT_EQ(results_.Count(), 0);

  auto without_fs = idle_thread(nullptr, &results_);
  EXPECT_EQ(without_fs->ProcessFile("tex/particles.png", nullptr), tlsFailed);
  EXPECT_TRUE(log_.Has(lmetError, kProcessFile, "No FileSystem given to texture thread!"));
  auto without_queue = idle_thread(&fs_, nullptr);
  EXPECT_EQ(without_queue->ProcessFile("tex/particles.png", nullptr), tlsFailed);
  EXPECT_EQ(results_.Count(), 0);
}

TEST_F(Loader, ATgaFileIsDecodedByTheExplicitFallback) {
  auto thread = idle_thread(&fs_, &results_);
  EXPECT_EQ(thread->ProcessFile("tex/sprite.tga", nullptr), tlsSuccess);
  EXPECT_TRUE(log_.Has(lmetWarning, kProcessFile, "Couldn't open file 'tex/sprite.tga'. Maybe it's tga, i'll try..."));
  EXPECT_TRUE(log_.Has(lmetHint, kProcessFile, "Success"));
  std::unique_ptr<TtlTextureDataObject> item = pop_texture_item();
  ASSERT_TRUE(item && item->Surface);
  EXPECT_EQ(item->Surface->w, 3);
  EXPECT_EQ(item->Surface->h, 2);
  EXPECT_EQ(pixel_at(item->Surface, 2, 1), rgba_value(test_pattern(2, 1)));
  EXPECT_EQ(pixel_at(item->Surface, 0, 0), rgba_value(test_pattern(0, 0)));
}

TEST_F(Loader, OnlyTwoDimensionalTargetsReceiveTheTexture) {
  auto thread = idle_thread(&fs_, &results_);
  TtexTexture2D* target = textures_.AddTexture(50);
  OtherTexture other;
  ASSERT_EQ(thread->ProcessFile("tex/sprite.tga", target), tlsSuccess);
  ASSERT_EQ(thread->ProcessFile("tex/sprite.tga", &other), tlsSuccess);
  results_.ProcessItems();
  // Newest first: the ignored target's load adds texture 1, then the 2D target gets texture 2.
  ASSERT_EQ(textures_.Count(), 2);
  EXPECT_EQ(textures_.GetTexture(1)->GetTextureName(), 1u);
  EXPECT_EQ(target->GetTextureName(), 2u);
  EXPECT_EQ(other.GetTextureName(), 0u);
  EXPECT_EQ(fake_.Count("glDeleteTextures"), 0u);  // the target's old texture stays alive
}

TEST_F(Loader, AnItemWithoutATextureLeavesItsTargetAlone) {
  TtexTexture2D* target = textures_.AddTexture(50);
  auto* item = new TtlTextureDataObject;
  item->Surface = SDL_CreateRGBSurface(0, 4, 4, 32, 0xFF000000, 0xFF0000, 0xFF00, 0xFF);
  item->TexManager = &textures_;
  item->Target = target;
  results_.Push(item);
  fake_.next_texture = 0;  // GL hands out no name
  results_.ProcessItems();
  EXPECT_EQ(target->GetTextureName(), 50u);
  EXPECT_EQ(textures_.Count(), 1);
}

TEST_F(Loader, ResultsAreAppliedNewestFirstAndEveryItemIsFreedOnce) {
  std::vector<std::string> events;
  for (int id = 1; id <= 3; ++id) results_.Push(new RecordingItem(id, &events));
  results_.ProcessItems();
  EXPECT_EQ(events, (std::vector<std::string>{"apply3", "free3", "apply2", "free2", "apply1", "free1"}));
  EXPECT_EQ(results_.Count(), 0);

  events.clear();
  for (int id = 1; id <= 3; ++id) results_.Push(new RecordingItem(id, &events, id == 2));
  EXPECT_THROW(results_.ProcessItems(), EInvalidArgument);
  EXPECT_EQ(events, (std::vector<std::string>{"apply3", "free3", "apply2", "free2"}));
  // The mutex was let go: another thread can push.
  std::thread pusher([&] { results_.Push(new RecordingItem(4, &events)); });
  pusher.join();
  EXPECT_EQ(results_.Count(), 2);

  events.clear();
  results_.ProcessNext();  // the oldest
  EXPECT_EQ(events, (std::vector<std::string>{"apply1", "free1"}));
  std::unique_ptr<TtlDataObject> popped(results_.Pop());
  EXPECT_NE(popped, nullptr);
  EXPECT_EQ(results_.Pop(), nullptr);
  events.clear();
  for (int id = 5; id <= 6; ++id) results_.Push(new RecordingItem(id, &events));
  results_.Clear();
  EXPECT_EQ(events, (std::vector<std::string>{"free5", "free6"}));
}

TEST_F(Loader, TheManagerLoadsAtOnceOrThroughItsThreadAndStopsItOnDestruction) {
  const auto started = std::chrono::steady_clock::now();
  std::shared_ptr<platform::ThreadEndSignal> second_end;
  {
    TtlManager manager;
    EXPECT_EQ(manager.LoadTexture("tex/particles.png", tllmImmediate, nullptr), tlsFailed);
    EXPECT_EQ(manager.LoadTexture("tex/particles.png", tllmQueue, nullptr), tlsFailed);
    EXPECT_EQ(log_.Size(), 0u);

    auto* first = new TtlTextureThread(&results_, &fs_, &textures_, false);
    const auto first_end = first->EndSignal();
    manager.SetThread(first);
    manager.SetThread(first);  // the same thread again changes nothing
    EXPECT_EQ(manager.GetThread(), first);
    EXPECT_EQ(manager.LoadTexture("tex/particles.png", tllmImmediate, nullptr), tlsSuccess);
    EXPECT_EQ(results_.Count(), 1);
    EXPECT_EQ(manager.LoadTexture("tex/particles.png", static_cast<TtlLoadingMode>(2), nullptr), tlsFailed);

    // Queued: decoded on the loader thread (with its 32 KB stack).
    EXPECT_EQ(manager.LoadTexture("tex/sprite.tga", tllmQueue, nullptr), tlsEnqueued);
    EXPECT_EQ(manager.LoadTexture("tex/missing.png", tllmQueue, nullptr), tlsEnqueued);
    EXPECT_EQ(manager.LoadTexture("tex/particles.png", tllmQueue, nullptr), tlsEnqueued);
    EXPECT_TRUE(eventually([&] { return results_.Count() == 3; }));
    EXPECT_TRUE(eventually([&] { return log_.Has(lmetError, kProcessFile, kMissingText); }));
    results_.ProcessItems();
    ASSERT_EQ(textures_.Count(), 3);
    // Newest first: the queued PNG, the TGA, then the immediate PNG.
    EXPECT_EQ(fake_.tex_image_width, 128);
    const TestRgb c = test_pattern(5, 7);
    EXPECT_EQ(texel(fake_, 5, 7), (std::array<uint8_t, 4>{c.r, c.g, c.b, 255}));
    const auto uploads = fake_.All("glTexImage2D");
    ASSERT_EQ(uploads.size(), 3u);
    EXPECT_EQ(uploads[0]->args[3], 128);
    EXPECT_EQ(uploads[1]->args[3], 4);
    EXPECT_EQ(uploads[2]->args[3], 128);

    // A suspended thread replaces the first, which is stopped and ends on its own.
    auto* second = new TtlTextureThread(&results_, &fs_, &textures_, true);
    second_end = second->EndSignal();
    manager.SetThread(second);
    EXPECT_TRUE(first_end->WaitFor(5000));
  }
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GE(elapsed, std::chrono::milliseconds(3000));
  EXPECT_TRUE(second_end->Ended());
  const std::vector<std::string> lines = log_.Lines();
  const std::vector<std::string> tail(lines.end() - 3, lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      CapturedLog::Entry(lmetInfo, "TtlManager.Destroy", "Terminating texture thread..."),
                      CapturedLog::Entry(lmetInfo, "TtlManager.Destroy", "Done."),
                      CapturedLog::Entry(lmetInfo, "TtlManager.Destroy", "Waiting for all threads to get freed...")}));
}

namespace {
// A loader whose processing raises, ending the thread early.
class FailingThread : public TtlThread {
 public:
  FailingThread(TtlQueue* queue) : TtlThread(queue, nullptr, true) { Resume(); }
  TtlStatus ProcessFile(const std::string& FileName, TtexTexture*) override {
    throw EInvalidArgument("cannot process " + FileName);
  }
};
}  // namespace

TEST_F(Loader, AThreadEndedByAnExceptionIsNeverTouchedAgain) {
  std::shared_ptr<platform::ThreadEndSignal> end;
  {
    TtlManager manager;
    auto* thread = new FailingThread(&results_);
    end = thread->EndSignal();
    manager.SetThread(thread);
    EXPECT_EQ(manager.LoadTexture("a.png", tllmQueue, nullptr), tlsEnqueued);
    ASSERT_TRUE(end->WaitFor(5000));  // ended and freed
    EXPECT_TRUE(log_.Has(lmetError, "TtlThread.Execute",
                         "Exception occured Exception class = EInvalidArgument; Message = cannot process a.png"));
    EXPECT_EQ(manager.GetThread(), nullptr);
    EXPECT_EQ(manager.LoadTexture("b.png", tllmQueue, nullptr), tlsFailed);
    EXPECT_EQ(manager.LoadTexture("b.png", tllmImmediate, nullptr), tlsFailed);
    manager.StopThread(manager.GetThread(), true);
  }
  EXPECT_TRUE(log_.Has(lmetInfo, "TtlManager.Destroy", "Done."));
}

TEST_F(Loader, AnIdleThreadSeesATerminateRequestAfterItsCurrentWait) {
  auto* thread = new TtlTextureThread(&results_, &fs_, &textures_, false);
  EXPECT_EQ(thread->StackSize(), 32768u);
  const auto end = thread->EndSignal();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // inside its 500 ms wait
  const auto asked = std::chrono::steady_clock::now();
  thread->Terminate();
  ASSERT_TRUE(end->WaitFor(5000));
  // One wait of 500 ms and the 10 ms before the end, with room for a slow machine.
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(2000));
}
