#include "framework/helpers.h"

#include <SDL/SDL.h>

#include <cstdlib>

#include "framework/gl_binding.h"
#include "framework/log_manager.h"

const char* const kNoTokenDefault = "[end of expression]";

namespace {
std::vector<std::string> g_args;
}  // namespace

void SetCommandLine(int argc, const char* const* argv) {
  g_args.clear();
  for (int i = 0; i < argc; ++i) g_args.emplace_back(argv[i] ? argv[i] : "");
}

void SetCommandLine(const std::vector<std::string>& args) { g_args = args; }

std::string ParamStr(int index) {
  return index >= 0 && static_cast<size_t>(index) < g_args.size() ? g_args[static_cast<size_t>(index)] : std::string();
}

int ParamCount() { return g_args.empty() ? 0 : static_cast<int>(g_args.size()) - 1; }

TgglSplitParamList GetCommandLineParams(const std::vector<std::string>& Switches,
                                        const std::vector<std::string>& Defaults, const std::string& Terminator,
                                        int FirstIndex) {
  const size_t n = Switches.size();
  TgglSplitParamList result(n);
  if (Defaults.size() == n) result = Defaults;
  int pending = -1;
  int i = FirstIndex;
  std::string arg = ParamStr(i);
  while (!arg.empty() && arg != Terminator) {
    if (pending >= 0) {
      result[static_cast<size_t>(pending)] = arg;
      pending = -1;
    } else {
      for (size_t j = 0; j < n; ++j)
        if (Switches[j] == arg) pending = static_cast<int>(j);
    }
    ++i;
    arg = ParamStr(i);
  }
  return result;
}

TExitProc ExitProc = nullptr;

namespace {
struct ExitNode {
  ExitNode* Next;
  TExitProc Previous;
  TExitProc Proc;
};
ExitNode* g_exit_head = nullptr;
bool g_atexit_registered = false;
}  // namespace

void AddExitProc(TExitProc Proc) {
  g_exit_head = new ExitNode{g_exit_head, ExitProc, Proc};
  ExitProc = &CallExitProc;
  if (!g_atexit_registered) {
    g_atexit_registered = true;
    std::atexit(&RunExitProcs);
  }
}

void CallExitProc() {
  ExitNode* node = g_exit_head;
  if (!node) return;
  g_exit_head = node->Next;
  ExitProc = node->Previous;
  const TExitProc proc = node->Proc;
  delete node;
  if (proc) proc();
}

void RunExitProcs() {
  while (ExitProc) {
    const TExitProc proc = ExitProc;
    ExitProc = nullptr;
    proc();
  }
}

bool BitIsSet(uint32_t Value, uint8_t Bit) { return (Value >> (Bit % 32)) & 1u; }
uint32_t SetBit(uint32_t Value, uint8_t Bit) { return Value | (1u << (Bit % 32)); }
uint32_t ClearBit(uint32_t Value, uint8_t Bit) { return Value & ~(1u << (Bit % 32)); }

TTimeInterval MillisecondsToInterval(uint32_t Milliseconds) { return static_cast<TTimeInterval>(Milliseconds) / 1000; }
TTimeInterval SingleToInterval(float Seconds) { return Seconds; }
TTimeInterval ExtendedToInterval(long double Seconds) { return Seconds; }
int32_t IntervalToMilliseconds(TTimeInterval Interval) {
  const int64_t ms = static_cast<int64_t>(Interval * 1000);  // truncates toward zero
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ms)));
}

int32_t Min(int32_t A, int32_t B) { return B < A ? B : A; }
float Min(float A, float B) { return B < A ? B : A; }
double Min(double A, double B) { return B < A ? B : A; }
long double Min(long double A, long double B) { return B < A ? B : A; }
int32_t Max(int32_t A, int32_t B) { return B > A ? B : A; }
float Max(float A, float B) { return B > A ? B : A; }
double Max(double A, double B) { return B > A ? B : A; }
long double Max(long double A, long double B) { return B > A ? B : A; }

int32_t Clamp(int32_t Value, int32_t Low, int32_t High) {
  if (Value < Low) return Low;
  if (Value > High) return High;
  return Value;
}

int32_t ClampToInt32(int64_t Value) {
  if (Value > 2147483647LL) return 2147483647;
  if (Value < -2147483648LL) return static_cast<int32_t>(-2147483647 - 1);
  return static_cast<int32_t>(Value);
}

int32_t NextPowerOfTwo(int32_t N) {
  int32_t p = 1;
  while (p < N) p *= 2;
  return p;
}

std::string CopyString(const std::string& S) { return std::string(S.data(), S.size()); }
std::u16string CopyWideString(const std::u16string& S) { return std::u16string(S.data(), S.size()); }
std::string CharToString(char Ch) { return std::string(1, Ch); }
std::u16string WideCharToWideString(char16_t Ch) { return std::u16string(1, Ch); }
std::string WithNullTerminator(const std::string& S) {
  return !S.empty() && S.back() == '\0' ? S : S + std::string(1, '\0');
}
std::u16string WideWithNullTerminator(const std::u16string& S) {
  return !S.empty() && S.back() == u'\0' ? S : S + std::u16string(1, u'\0');
}

std::string ReadLine(TStream& Stream) {
  const int64_t start = Stream.GetPosition();
  int64_t count = 0;
  char c;
  while (Stream.Read(&c, 1) == 1 && c != '\r' && c != '\n') ++count;
  Stream.SetPosition(start);
  std::string line(static_cast<size_t>(count), '\0');
  if (count > 0) Stream.Read(&line[0], count);
  if (Stream.Read(&c, 1) == 1 && c == '\r') {
    if (Stream.Read(&c, 1) == 1 && c != '\n') Stream.Seek(-1, soCurrent);
  }
  return line;
}

namespace {
template <typename T>
int64_t read_raw(TStream& s, T& v) { return s.Read(&v, sizeof v); }
template <typename T>
int64_t write_raw(TStream& s, T v) { return s.Write(&v, sizeof v); }
}  // namespace

int64_t ReadValue(TStream& Stream, int16_t& Value) { return read_raw(Stream, Value); }
int64_t ReadValue(TStream& Stream, uint16_t& Value) { return read_raw(Stream, Value); }
int64_t ReadValue(TStream& Stream, int32_t& Value) { return read_raw(Stream, Value); }
int64_t ReadValue(TStream& Stream, uint32_t& Value) { return read_raw(Stream, Value); }
int64_t ReadValue(TStream& Stream, int64_t& Value) { return read_raw(Stream, Value); }
int64_t ReadValue(TStream& Stream, uint64_t& Value) { return read_raw(Stream, Value); }
int64_t WriteValue(TStream& Stream, int16_t Value) { return write_raw(Stream, Value); }
int64_t WriteValue(TStream& Stream, uint16_t Value) { return write_raw(Stream, Value); }
int64_t WriteValue(TStream& Stream, int32_t Value) { return write_raw(Stream, Value); }
int64_t WriteValue(TStream& Stream, uint32_t Value) { return write_raw(Stream, Value); }
int64_t WriteValue(TStream& Stream, int64_t Value) { return write_raw(Stream, Value); }
int64_t WriteValue(TStream& Stream, uint64_t Value) { return write_raw(Stream, Value); }

std::string GetToken(const std::string& Text, int Index, char Delimiter, const std::string& Default) {
  std::string work = Text + Delimiter;
  int count = -1;
  std::string::size_type p;
  while ((p = work.find(Delimiter)) != std::string::npos) {
    ++count;
    if (count == Index) return work.substr(0, p);
    work.erase(0, p + 1);
  }
  return Default;
}

void SplitBySpaces(const std::string& Text, std::vector<std::string>& List) {
  std::string word;
  for (char c : Text) {
    if (c == ' ') {
      List.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
}

namespace {
int level_rank(const std::string& level) { return level == "ARB" ? 0 : level == "EXT" ? 1 : 2; }
}  // namespace

int CompareExtensionNames(const std::vector<std::string>& List, int Index1, int Index2) {
  const std::string& a = List[static_cast<size_t>(Index1)];
  const std::string& b = List[static_cast<size_t>(Index2)];
  // WGL names go after all others, not only after GL names: comparing a WGL name with any other
  // class by level would make the order circular (WGL_ARB_y < GLX_EXT_x < GL_NV_z < WGL_ARB_y).
  // GL names with WGL names, or with names of other classes, still come in the report's order.
  const bool wgl_a = GetToken(a, 0, '_', kNoTokenDefault) == "WGL";
  const bool wgl_b = GetToken(b, 0, '_', kNoTokenDefault) == "WGL";
  if (wgl_a != wgl_b) return wgl_a ? 1 : -1;
  const int ra = level_rank(GetToken(a, 1, '_', kNoTokenDefault)), rb = level_rank(GetToken(b, 1, '_', kNoTokenDefault));
  if (ra != rb) return ra < rb ? -1 : 1;
  const int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}


namespace {
// Blits the rectangle (0, 0, w, h) of src to the same place in dst. A source with per-surface
// alpha would be blended into dst; its alpha is switched off for the blit and restored after, so
// the source's own alpha channel is copied as it is.
void copy_with_alpha(SDL_Surface* src, SDL_Surface* dst, int w, int h) {
  const Uint32 kept_flags = src->flags & (SDL_SRCALPHA | SDL_RLEACCELOK);
  const Uint8 kept_alpha = src->format->alpha;
  if (kept_flags & SDL_SRCALPHA) SDL_SetAlpha(src, 0, 0);
  SDL_Rect src_rect{0, 0, static_cast<Uint16>(w), static_cast<Uint16>(h)};
  SDL_Rect dst_rect = src_rect;
  SDL_UpperBlit(src, &src_rect, dst, &dst_rect);
  if (kept_flags & SDL_SRCALPHA) SDL_SetAlpha(src, kept_flags, kept_alpha);
}

void set_texture_parameters() {
  gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  gl.glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, 1);
}
}  // namespace

void SDLSurfaceToGLTexture(SDL_Surface* Surface, bool Convert, uint32_t TextureID, TgglTexture2D& Texture) {
  if (!Surface) return;
  SDL_Surface* upload = Surface;
  if (Convert) {
    const int32_t tex_w = NextPowerOfTwo(Surface->w);
    const int32_t tex_h = NextPowerOfTwo(Surface->h);
    upload = SDL_CreateRGBSurface(0, tex_w, tex_h, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000);
    if (!upload) {
      LogGlobal(lmetError, "Couldn't create conversion surface. Texture won't be converted.", "SDLSurfaceToGLTexture");
      return;
    }
    copy_with_alpha(Surface, upload, Surface->w, Surface->h);
    Texture.U = static_cast<float>(Surface->w) / static_cast<float>(tex_w);
    Texture.V = static_cast<float>(Surface->h) / static_cast<float>(tex_h);
    Texture.Width = Surface->w;
    Texture.Height = Surface->h;
  }

  if (TextureID == 0) {
    GLuint name = 0;
    gl.glGenTextures(1, &name);
    Texture.ID = name;
    if (name == 0) {
      if (Convert) SDL_FreeSurface(upload);
      return;
    }
  } else {
    Texture.ID = TextureID;
  }

  gl.glBindTexture(GL_TEXTURE_2D, Texture.ID);
  set_texture_parameters();
  const bool must_lock = SDL_MUSTLOCK(upload);
  if (must_lock) SDL_LockSurface(upload);
  gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, upload->w, upload->h, 0, GL_RGBA, GL_UNSIGNED_BYTE, upload->pixels);
  if (must_lock) SDL_UnlockSurface(upload);
  set_texture_parameters();
  if (Convert) SDL_FreeSurface(upload);
}

void SDLCopySurface(SDL_Surface* Src, SDL_Surface* Dst) {
  if (!Src || !Dst) return;
  copy_with_alpha(Src, Dst, Min(Src->w, Dst->w), Min(Src->h, Dst->h));
}
