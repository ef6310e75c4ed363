#include "framework/log_manager.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "framework/gl_binding.h"
#include "framework/helpers.h"
#include "framework/sdl_lock.h"

TlmLogFile* GlobalLogFile = nullptr;

const char* const kLogStyleSheet =
    "th { border: 1px solid #000000; text-align: left; vertical-align: top; background-color: #9F9F9F; }\r\n"
    "td { vertical-align: top; }\r\n"
    "tr { border: 1px solid #000000; }\r\n"
    "table { border-collapse: collapse; }";

namespace {
const char* const kHeadStart =
    "<html><head><title>Log file</title><link rel=\"stylesheet\" type=\"text/css\" href=\"";
const char* const kHeadEnd =
    "\" /></head><body><table width=\"100%\"><tr><th width=\"75px\">Type</th><th width=\"150px\">Method</th>"
    "<th>Message</th></tr>";
const char* const kRowStart = "<tr><td><font color=\"";
const char* const kColourEnd = "\">";
const char* const kLevelEnd = "</font></td><td>";
const char* const kCellBreak = "</td><td>";
const char* const kRowEnd = "</td></tr>";
const char* const kFoot = "</table></body>";
const char* const kReportTableHead =
    "<table width=\"100%\" style=\"border-top: none; margin-top: -2px; margin-bottom: -2px\"><tr>"
    "<th width=\"25px\">Class</th><th width=\"25px\">Level</th><th>Name</th></tr>";
const char* const kReportGroupBorder = " style=\"border-top: 3px solid #000000\"";
const char* const kReportChangeBorder = " style=\"border-top: 2px solid #000000\"";

const char* level_colour(TlmEntryType level) {
  switch (level) {
    case lmetWarning: return "#FF7F00";
    case lmetError:
    case lmetFatal: return "#FF0000";
    default: return "#000000";
  }
}

std::string emphasised_level(TlmEntryType level) {
  const std::string text = EntryTypeToString(level);
  switch (level) {
    case lmetDebug:
    case lmetglInfo: return "<i>" + text + "</i>";
    case lmetFatal: return "<b>" + text + "</b>";
    default: return text;
  }
}

std::string file_part(const std::string& path) {
  const auto p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

// A log that is a pipe (or socket) is left alone: with no one reading it, it would stop every
// writer, the frame loop included. Said on standard error, since no log may exist to say it.
// Any other failure to create a log passes out, as the stream's error.
std::unique_ptr<TFileStream> open_log(const std::string& name, uint16_t mode) {
  std::unique_ptr<TFileStream> stream = TFileStream::OpenUnlessPipe(name, mode);
  if (!stream) std::fprintf(stderr, "Not writing the log \"%s\": not a regular file.\n", name.c_str());
  return stream;
}

// Writes the bytes to one log; the first write to it that fails (a full disk) is reported on
// standard error, once, and the program runs on.
void write_log(TFileStream& stream, const std::string& bytes, bool& failed) {
  if (stream.Write(bytes.data(), static_cast<int64_t>(bytes.size())) == static_cast<int64_t>(bytes.size()) || failed)
    return;
  failed = true;
  std::fprintf(stderr, "Could not write to the log \"%s\". %s\n", stream.FileName().c_str(),
               stream.LastError() != 0 ? std::strerror(stream.LastError()) : "Stream write error");
}

// Holds the level and write mutexes, in that order, for the length of one entry.
class EntryLock {
 public:
  EntryLock(SDL_mutex* level, SDL_mutex* write) : level_(level), write_(write) {}

 private:
  SdlMutexLock level_;
  SdlMutexLock write_;
};
}  // namespace

std::string EntryTypeToString(TlmEntryType level) {
  switch (level) {
    case lmetDebug: return "Debug";
    case lmetInfo: return "Info";
    case lmetglInfo: return "glInfo";
    case lmetHint: return "Hint";
    case lmetWarning: return "Warning";
    case lmetError: return "Error";
    case lmetFatal: return "Fatal";
  }
  return "Unknown";
}

TlmLogFile::TlmLogFile(const std::string& FileName_, TlmLogMode Mode, const std::string& HtmlFileName) {
  if (Mode == lmlmAppend && ::FileExists(FileName_)) {
    TextStream = open_log(FileName_, fmOpenWrite);
    if (TextStream) TextStream->Seek(0, soEnd);
  } else {
    TextStream = open_log(FileName_, fmCreate);
  }
  if (!HtmlFileName.empty()) {
    if (const std::unique_ptr<TFileStream> css = open_log(HtmlFileName + ".css", fmCreate))
      css->WriteString(kLogStyleSheet);
    HtmlStream = open_log(HtmlFileName, fmCreate);
    if (HtmlStream) HtmlStream->WriteString(std::string(kHeadStart) + file_part(HtmlFileName) + ".css" + kHeadEnd);
  }
  FileName = FileName_;
  WriteMutex = SDL_CreateMutex();
  LevelMutex = SDL_CreateMutex();
  EchoMutex = SDL_CreateMutex();
}

TlmLogFile::~TlmLogFile() {
  SDL_DestroyMutex(LevelMutex);
  SDL_DestroyMutex(WriteMutex);
  SDL_DestroyMutex(EchoMutex);
  TextStream.reset();
  if (HtmlStream) {
    write_log(*HtmlStream, kFoot, HtmlWriteFailed);
    HtmlStream.reset();
  }
}

void TlmLogFile::Log(TlmEntryType Level, const std::string& Message, const std::string& Source) {
  EntryLock lock(LevelMutex, WriteMutex);
  WriteEntry(Level, Message, Source, "");
}

void TlmLogFile::LogException(TlmEntryType Level, const Exception* E, const std::string& Source,
                              const std::string& Context) {
  if (!E) return;
  EntryLock lock(LevelMutex, WriteMutex);
  std::string context = Context;
  if (!context.empty()) {
    if (context[0] != ' ') context = " " + context;
    if (context.back() == '.') context.back() = ':';
    else if (context.back() != ':') context += ':';
  }
  const std::string text = "Exception occured" + context + " Exception class = " + E->ClassName() +
                           "; Message = " + E->Message();
  const std::string html = "<b>Exception occured" + context + "</b><br/>Exception class: " + E->ClassName() +
                           "<br/>Message: " + E->Message();
  WriteEntry(Level, text, Source, html);
}

void TlmLogFile::LogExtensions() {
  EntryLock lock(LevelMutex, WriteMutex);
  const GLubyte* raw = gl.glGetString ? gl.glGetString(GL_EXTENSIONS) : nullptr;
  const std::string extensions = raw ? reinterpret_cast<const char*>(raw) : "";
  std::string text, html;
  BuildExtensionReport(extensions, &text, &html);
  WriteEntry(lmetglInfo, text, "Extensions", html);
}

void TlmLogFile::SetMinLevel(TlmEntryType Level) {
  SdlMutexLock lock(LevelMutex);
  MinLevel = Level;
}

TlmEntryType TlmLogFile::GetMinLevel() {
  SdlMutexLock lock(LevelMutex);
  return MinLevel;
}

void TlmLogFile::SetEchoToConsole(bool Value) {
  SdlMutexLock lock(EchoMutex);
  EchoToConsole = Value;
}

bool TlmLogFile::GetEchoToConsole() {
  SdlMutexLock lock(EchoMutex);
  return EchoToConsole;  // every build is a console program
}

void TlmLogFile::ClearTextLog() {
  SdlMutexLock lock(WriteMutex);
  TextStream.reset();
  TextStream = open_log(FileName, fmCreate);
  TextWriteFailed = false;
}

void TlmLogFile::WriteEntry(TlmEntryType Level, const std::string& Message, const std::string& Source,
                            const std::string& HtmlMessage) {
  if (static_cast<uint32_t>(MinLevel) > static_cast<uint32_t>(Level)) return;
  std::string line = "[" + EntryTypeToString(Level);
  if (!Source.empty()) line += "@" + Source;
  line += "]: " + Message + "\r\n";
  if (TextStream) write_log(*TextStream, line, TextWriteFailed);
  if (EchoToConsole) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }
  if (HtmlStream) {
    const std::string row = std::string(kRowStart) + level_colour(Level) + kColourEnd + emphasised_level(Level) +
                            kLevelEnd + (Source.empty() ? std::string("<i>Global</i>") : Source) + kCellBreak +
                            (HtmlMessage.empty() ? Message : HtmlMessage) + kRowEnd;
    write_log(*HtmlStream, row, HtmlWriteFailed);
  }
}

void LogGlobal(TlmEntryType Level, const std::string& Message, const std::string& Source) {
  if (GlobalLogFile) GlobalLogFile->Log(Level, Message, Source);
}

void DoneLogManagerModule() {
  TlmLogFile* log = GlobalLogFile;
  GlobalLogFile = nullptr;
  delete log;
}

void BuildExtensionReport(const std::string& Extensions, std::string* TextMessage, std::string* HtmlMessage) {
  std::vector<std::string> list;
  SplitBySpaces(Extensions, list);
  // Sort indices with the comparison over the list, then reorder.
  std::vector<int> order(list.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](int x, int y) { return CompareExtensionNames(list, x, y) < 0; });

  std::string sub = kReportTableHead;
  int arbs = 0, exts = 0, nvs = 0, atis = 0, others = 0;
  std::string previous_class, previous_level;
  for (int index : order) {
    const std::string& name = list[static_cast<size_t>(index)];
    const std::string cls = GetToken(name, 0, '_', kNoTokenDefault);
    const std::string level = GetToken(name, 1, '_', kNoTokenDefault);
    const size_t cut = cls.size() + level.size() + 2;
    const std::string rest = cut < name.size() ? name.substr(cut) : std::string();
    if (level == "ARB") ++arbs;
    else if (level == "EXT") ++exts;
    else if (level == "NV") ++nvs;
    else if (level == "ATI") ++atis;
    else ++others;
    std::string style;
    if (previous_level == "EXT" && level != "EXT" && level != "ARB") style = kReportGroupBorder;
    else if ((cls != previous_class || level != previous_level) && !previous_class.empty() && !previous_level.empty())
      style = kReportChangeBorder;
    sub += "<tr" + style + "><td>" + cls + "</td><td>" + level + "</td><td>" + rest + "</td></tr>";
    previous_class = cls;
    previous_level = level;
  }
  sub += "</table><br/>";
  sub += Format("<b>ARBs: </b>%d&nbsp;&nbsp;&nbsp;<b>EXTs: </b>%d&nbsp;&nbsp;&nbsp;<b>NVs: </b>%d&nbsp;&nbsp;&nbsp;"
                "<b>ATIs: </b>%d&nbsp;&nbsp;&nbsp;<b>Others: </b>%d",
                arbs, exts, nvs, atis, others);
  *HtmlMessage = sub;
  *TextMessage = Extensions + "\r\n" +
                 Format("ARBs: %d; EXTs: %d; NVs: %d; ATIs: %d; Others: %d", arbs, exts, nvs, atis, others);
}
