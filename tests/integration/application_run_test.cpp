// Runs small applications on the real SDL: under the dummy video driver, and with an OpenGL window
// under Xvfb with Mesa.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "framework/gl_binding.h"
#include "framework/log_manager.h"
#include "framework/sdl_manager.h"
#include "tests/support/app_folder.h"
#include "tests/support/os.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"

namespace {

class QuitAfterKeysApp : public TsdlApplication {
 public:
  QuitAfterKeysApp() : TsdlApplication(SDL_INIT_VIDEO) {}
  ~QuitAfterKeysApp() override { DoneAll(); }
  std::string GetName() override { return "Runner"; }
  TsdlApplicationVersion GetVersion() override { return MakeApplicationVersion(0, 1, 2, avsAlpha); }
  void InitSDL() override {
    if (!SDL_SetVideoMode(64, 64, 0, SDL_SWSURFACE)) throw Exception("Initialization error. See log for details.");
    TsdlApplication::InitSDL();
  }
  void Idle() override {
    ++idles;
    if (idles == 1) {
      SDL_Event e{};
      e.type = SDL_KEYDOWN;
      e.key.type = SDL_KEYDOWN;
      e.key.keysym.sym = SDLK_r;
      SDL_PushEvent(&e);
      e.type = e.key.type = SDL_KEYUP;
      SDL_PushEvent(&e);
    }
    if (idles == 3) {
      SDL_Event q{};
      q.type = SDL_QUIT;
      SDL_PushEvent(&q);
    }
  }
  void KeyEvent(SDL_keysym Key, TsdlKeyActionMode Mode) override {
    if (Key.sym == SDLK_r) keys += Mode == kmPress ? "P" : "R";
  }
  void DoneSDL() override {
    LogGlobal(lmetInfo, "SDL done.", "Runner.DoneSDL");
    TsdlApplication::DoneSDL();
  }
  int idles = 0;
  std::string keys;
};

TEST(ApplicationRun, DummyVideoRunLogsStartUpRunAndShutDown) {
  set_env("SDL_VIDEODRIVER", "dummy");
  AppFolder folder;
  {
    QuitAfterKeysApp app;
    app.RunApp();
    EXPECT_TRUE(app.IsTerminated());
    EXPECT_EQ(app.keys, "PR");
    EXPECT_EQ(app.idles, 4);  // the quit event is seen in the fourth pass, which still finishes
  }
  unset_env("SDL_VIDEODRIVER");
  const std::string log = folder.dir.read("log.txt");
  const std::vector<std::string> expected = {
      "[Info@TsdlApplication.RunApp]: Runner V0.1.2 alpha starting up.\r\n",
      clock_log_line(),
      "[Info@TsdlApplication.RunApp]: Runner V0.1.2 alpha initialized.\r\n",
      "[Info@TsdlApplication.RunApp]: Runtime: ",
      "[Info@Runner.DoneSDL]: SDL done.\r\n",
  };
  size_t at = 0;
  for (const auto& line : expected) {
    const size_t p = log.find(line, at);
    ASSERT_NE(p, std::string::npos) << line << "\nin:\n" << log;
    at = p + line.size();
  }
  EXPECT_NE(log.find(" secs\r\n"), std::string::npos);
  EXPECT_EQ(folder.dir.read("heaptrc.txt").substr(0, 3), "***");
  const std::string html = folder.dir.read("log.html");
  EXPECT_EQ(html.substr(html.size() - 15), "</table></body>");
  EXPECT_EQ(folder.dir.read("log.html.css").size(), 201u);
}

TEST(OpenGLBinding, RealWindowUnderXvfbReportsMesaExtensions) {
  Xvfb x;
  ASSERT_TRUE(x.ok()) << x.error();
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  ASSERT_NE(SDL_SetVideoMode(320, 240, 0, SDL_OPENGL), nullptr) << SDL_GetError();
  std::string error;
  ASSERT_TRUE(LoadOpenGL(&error)) << error;
  ASSERT_NE(gl.glGenBuffers, nullptr);  // resolved through get-proc-address when needed

  const std::string extensions = reinterpret_cast<const char*>(gl.glGetString(GL_EXTENSIONS));
  EXPECT_NE(extensions.find("GL_ARB_"), std::string::npos);
  TempDir dir;
  {
    TlmLogFile log(dir.file("log.txt"), lmlmOverwrite, dir.file("log.html"));
    log.LogExtensions();
  }
  const std::string text = dir.read("log.txt");
  EXPECT_EQ(text.rfind("[glInfo@Extensions]: " + extensions + "\r\nARBs: ", 0), 0u);

  // Draw something real through the table and read it back.
  gl.glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
  gl.glClear(GL_COLOR_BUFFER_BIT);
  gl.glFinish();
  unsigned char pixel[4] = {0, 0, 0, 0};
  gl.glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ(pixel[0], 255);
  EXPECT_EQ(pixel[1], 0);
  UnloadOpenGL();
  SDL_Quit();
}

TEST(OpenGLBinding, MissingLibraryIsReportedNotFatal) {
  std::string error;
  EXPECT_FALSE(LoadOpenGL("libstarlace-no-such-gl.so.1", DefaultGLULibraryName(), &error));
  EXPECT_NE(error.find("libstarlace-no-such-gl.so.1"), std::string::npos);
  EXPECT_FALSE(OpenGLLoaded());
  EXPECT_EQ(gl.glEnable, nullptr);
}

}  // namespace
