#pragma once
// The program's logger: a text log and an HTML log with its style sheet, entries filtered by a
// minimum level and optionally echoed to standard output. Safe for the main and loader threads.
#include <SDL/SDL_mutex.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "framework/format.h"
#include "framework/streams.h"

enum TlmEntryType : int32_t { lmetDebug = 0, lmetInfo, lmetglInfo, lmetHint, lmetWarning, lmetError, lmetFatal };
enum TlmLogMode : int32_t { lmlmAppend = 0, lmlmOverwrite = 1 };

std::string EntryTypeToString(TlmEntryType level);

class TlmLogFile {
 public:
  TlmLogFile(const std::string& FileName, TlmLogMode Mode, const std::string& HtmlFileName);
  virtual ~TlmLogFile();
  TlmLogFile(const TlmLogFile&) = delete;
  TlmLogFile& operator=(const TlmLogFile&) = delete;

  void Log(TlmEntryType Level, const std::string& Message, const std::string& Source);
  template <typename... Args>
  void LogFmt(TlmEntryType Level, const std::string& Fmt, const std::string& Source, const Args&... args) {
    Log(Level, Format(Fmt, args...), Source);
  }
  void LogException(TlmEntryType Level, const Exception* E, const std::string& Source, const std::string& Context);
  void LogExtensions();
  // Same as LogFmt / LogException (kept for callers that name them so).
  template <typename... Args>
  void LogFmtEx(TlmEntryType Level, const std::string& Fmt, const std::string& Source, const Args&... args) {
    LogFmt(Level, Fmt, Source, args...);
  }
  void LogExceptionEx(TlmEntryType Level, const Exception* E, const std::string& Source, const std::string& Context) {
    LogException(Level, E, Source, Context);
  }

  void SetMinLevel(TlmEntryType Level);
  TlmEntryType GetMinLevel();
  void SetEchoToConsole(bool Value);
  bool GetEchoToConsole();
  void ClearTextLog();
  // Writes one entry; the caller holds LevelMutex and WriteMutex.
  void WriteEntry(TlmEntryType Level, const std::string& Message, const std::string& Source,
                  const std::string& HtmlMessage);

  const std::string& GetFileName() const { return FileName; }

 private:
  std::string FileName;
  SDL_mutex* WriteMutex = nullptr;
  std::unique_ptr<TFileStream> TextStream;
  std::unique_ptr<TFileStream> HtmlStream;
  SDL_mutex* LevelMutex = nullptr;
  TlmEntryType MinLevel = lmetInfo;
  SDL_mutex* EchoMutex = nullptr;
  bool EchoToConsole = false;
  // Whether a write to the log has failed (reported once).
  bool TextWriteFailed = false;
  bool HtmlWriteFailed = false;
};

// The program's one logger, or nullptr.
extern TlmLogFile* GlobalLogFile;

// Writes to GlobalLogFile when it exists (a no-op otherwise), so callers need not test it.
void LogGlobal(TlmEntryType Level, const std::string& Message, const std::string& Source);
template <typename... Args>
void LogGlobalFmt(TlmEntryType Level, const std::string& Fmt, const std::string& Source, const Args&... args) {
  if (GlobalLogFile) GlobalLogFile->LogFmt(Level, Fmt, Source, args...);
}

// Module finalisation: frees GlobalLogFile when still set.
void DoneLogManagerModule();

// The style sheet written beside the HTML log (201 bytes).
extern const char* const kLogStyleSheet;

// The text and HTML messages of the extension report for an extension string.
void BuildExtensionReport(const std::string& Extensions, std::string* TextMessage, std::string* HtmlMessage);
