#pragma once
// The framework's general routines: freeing through a cleared variable, command-line switches,
// exit procedures, bits, time intervals, min/max/clamp, strings, stream helpers, and SDL surface to
// OpenGL texture.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/streams.h"

struct SDL_Surface;

// The default of GetToken used by the extension report.
extern const char* const kNoTokenDefault;  // "[end of expression]"

// Clears the variable first, then frees what it held.
template <typename T>
void FreeAndNilObject(T*& obj) {
  T* held = obj;
  obj = nullptr;
  delete held;
}
template <typename T>
void FreeAndNilObject(std::unique_ptr<T>& obj) {
  std::unique_ptr<T> held = std::move(obj);
  obj.reset();
  held.reset();
}

using TgglSplitParamList = std::vector<std::string>;

// The process's command line, recorded by the program's entry (argument 0 is the program).
void SetCommandLine(int argc, const char* const* argv);
void SetCommandLine(const std::vector<std::string>& args);
// Argument `index`, or the empty string past the last one.
std::string ParamStr(int index);
int ParamCount();

TgglSplitParamList GetCommandLineParams(const std::vector<std::string>& Switches,
                                        const std::vector<std::string>& Defaults, const std::string& Terminator,
                                        int FirstIndex);

// Exit procedures: each added procedure runs once at program end, the last added first.
using TExitProc = void (*)();
void AddExitProc(TExitProc Proc);
void CallExitProc();
// The installed exit procedure (the run-time library's slot); RunExitProcs calls it until none is left.
extern TExitProc ExitProc;
void RunExitProcs();

bool BitIsSet(uint32_t Value, uint8_t Bit);
uint32_t SetBit(uint32_t Value, uint8_t Bit);
uint32_t ClearBit(uint32_t Value, uint8_t Bit);

using TTimeInterval = long double;
TTimeInterval MillisecondsToInterval(uint32_t Milliseconds);
TTimeInterval SingleToInterval(float Seconds);
TTimeInterval ExtendedToInterval(long double Seconds);
int32_t IntervalToMilliseconds(TTimeInterval Interval);

// Min and Max return A when the two are equal.
int32_t Min(int32_t A, int32_t B);
float Min(float A, float B);
double Min(double A, double B);
long double Min(long double A, long double B);
int32_t Max(int32_t A, int32_t B);
float Max(float A, float B);
double Max(double A, double B);
long double Max(long double A, long double B);
int32_t Clamp(int32_t Value, int32_t Low, int32_t High);
int32_t ClampToInt32(int64_t Value);
int32_t NextPowerOfTwo(int32_t N);

std::string CopyString(const std::string& S);
std::u16string CopyWideString(const std::u16string& S);
std::string CharToString(char Ch);
std::u16string WideCharToWideString(char16_t Ch);
std::string WithNullTerminator(const std::string& S);
std::u16string WideWithNullTerminator(const std::u16string& S);

std::string ReadLine(TStream& Stream);
int64_t ReadValue(TStream& Stream, int16_t& Value);
int64_t ReadValue(TStream& Stream, uint16_t& Value);
int64_t ReadValue(TStream& Stream, int32_t& Value);
int64_t ReadValue(TStream& Stream, uint32_t& Value);
int64_t ReadValue(TStream& Stream, int64_t& Value);
int64_t ReadValue(TStream& Stream, uint64_t& Value);
int64_t WriteValue(TStream& Stream, int16_t Value);
int64_t WriteValue(TStream& Stream, uint16_t Value);
int64_t WriteValue(TStream& Stream, int32_t Value);
int64_t WriteValue(TStream& Stream, uint32_t Value);
int64_t WriteValue(TStream& Stream, int64_t Value);
int64_t WriteValue(TStream& Stream, uint64_t Value);

// Used by the logger's extension report.
std::string GetToken(const std::string& Text, int Index, char Delimiter, const std::string& Default);
void SplitBySpaces(const std::string& Text, std::vector<std::string>& List);
// Negative, 0 or positive: WGL names after all others, then ARB before EXT before other levels,
// then the names byte by byte.
int CompareExtensionNames(const std::vector<std::string>& List, int Index1, int Index2);

// An OpenGL 2D texture made from an image: its name, where the image ends inside the power-of-two
// texture (U, V), and the image's size in pixels. The record does not own the texture.
struct TgglTexture2D {
  uint32_t ID = 0;
  float U = 0.0f;
  float V = 0.0f;
  int32_t Width = 0;
  int32_t Height = 0;
};

// Uploads Surface as a GL_RGBA texture. With Convert the image is first copied into the top-left
// corner of a power-of-two RGBA surface; without, Surface must already be tightly packed RGBA bytes
// and Texture's U, V, Width and Height are left as they are. TextureID 0 asks for a new texture
// name; otherwise that texture's image is replaced. Runs on the thread that owns the GL context.
void SDLSurfaceToGLTexture(SDL_Surface* Surface, bool Convert, uint32_t TextureID, TgglTexture2D& Texture);
// Copies the top-left corner of Src into the top-left corner of Dst, alpha channel included.
void SDLCopySurface(SDL_Surface* Src, SDL_Surface* Dst);
