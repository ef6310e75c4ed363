#include "framework/log_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/helpers.h"
#include "tests/support/fake_gl.h"
#include "tests/support/temp_dir.h"

namespace {

struct Logs {
  TempDir dir;
  std::unique_ptr<TlmLogFile> log =
      std::make_unique<TlmLogFile>(dir.file("log.txt"), lmlmOverwrite, dir.file("log.html"));
  std::string text() const { return dir.read("log.txt"); }
  std::string html() const { return dir.read("log.html"); }
};

TEST(Logger, TextLinesAndHtmlRowsPerLevel) {
  Logs logs;
  logs.log->SetMinLevel(lmetDebug);
  logs.log->Log(lmetDebug, "d", "A.B");
  logs.log->Log(lmetInfo, "i", "A.B");
  logs.log->Log(lmetglInfo, "g", "A.B");
  logs.log->Log(lmetHint, "h", "A.B");
  logs.log->Log(lmetWarning, "w <b>&\"", "");
  logs.log->Log(lmetError, "e", "A.B");
  logs.log->Log(lmetFatal, "f", "A.B");
  logs.log->Log(static_cast<TlmEntryType>(9), "u", "A.B");
  EXPECT_EQ(logs.text(),
            "[Debug@A.B]: d\r\n[Info@A.B]: i\r\n[glInfo@A.B]: g\r\n[Hint@A.B]: h\r\n[Warning]: w <b>&\"\r\n"
            "[Error@A.B]: e\r\n[Fatal@A.B]: f\r\n[Unknown@A.B]: u\r\n");
  const std::string html = logs.html();
  const std::string row = "<tr><td><font color=\"";
  EXPECT_NE(html.find(row + "#000000\"><i>Debug</i></font></td><td>A.B</td><td>d</td></tr>"), std::string::npos);
  EXPECT_NE(html.find(row + "#000000\">Info</font></td><td>A.B</td><td>i</td></tr>"), std::string::npos);
  EXPECT_NE(html.find(row + "#000000\"><i>glInfo</i></font>"), std::string::npos);
  // Message bytes go into the HTML row unchanged, as into the text log.
  EXPECT_NE(html.find(row + "#FF7F00\">Warning</font></td><td><i>Global</i></td><td>w <b>&\"</td></tr>"),
            std::string::npos);
  EXPECT_NE(html.find(row + "#FF0000\">Error</font>"), std::string::npos);
  EXPECT_NE(html.find(row + "#FF0000\"><b>Fatal</b></font>"), std::string::npos);
  EXPECT_NE(html.find(row + "#000000\">Unknown</font>"), std::string::npos);
}

TEST(Logger, MinimumLevelDropsEntriesEverywhere) {
  Logs logs;  // lmetInfo after construction
  testing::internal::CaptureStdout();
  logs.log->SetEchoToConsole(true);
  logs.log->Log(lmetDebug, "hidden", "S");
  logs.log->Log(lmetInfo, "shown", "S");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "[Info@S]: shown\r\n");
  EXPECT_EQ(logs.text(), "[Info@S]: shown\r\n");
  EXPECT_EQ(logs.html().find("hidden"), std::string::npos);
}

TEST(Logger, FilesFramingAndStyleSheetBytes) {
  TempDir dir;
  {
    TlmLogFile log(dir.file("log.txt"), lmlmOverwrite, dir.file("log.html"));
    log.Log(lmetInfo, "x", "");
  }
  const std::string css = dir.read("log.html.css");
  const std::string style_sheet =
      "th { border: 1px solid #000000; text-align: left; vertical-align: top; background-color: #9F9F9F; }\r\n"
      "td { vertical-align: top; }\r\n"
      "tr { border: 1px solid #000000; }\r\n"
      "table { border-collapse: collapse; }";
  EXPECT_EQ(style_sheet.size(), 201u);
  EXPECT_EQ(css, style_sheet);

  const std::string html = dir.read("log.html");
  const std::string head_start =
      "<html><head><title>Log file</title><link rel=\"stylesheet\" type=\"text/css\" href=\"";
  EXPECT_EQ(head_start.size(), 80u);
  ASSERT_EQ(html.substr(0, 80), head_start);
  EXPECT_EQ(html.substr(80, 12), "log.html.css");  // named without its folder
  const std::string after_head = html.substr(92);
  EXPECT_EQ(after_head.find("<tr><td><font"), 117u);  // the 117-byte head end comes first
  EXPECT_EQ(html.substr(html.size() - 15), "</table></body>");
}

TEST(Logger, AppendModeKeepsTheTextLogButNotTheHtmlLog) {
  TempDir dir;
  dir.write("log.txt", "old\r\n");
  dir.write("log.html", "old html");
  {
    TlmLogFile log(dir.file("log.txt"), lmlmAppend, dir.file("log.html"));
    log.Log(lmetInfo, "new", "");
  }
  EXPECT_EQ(dir.read("log.txt"), "old\r\n[Info]: new\r\n");
  EXPECT_EQ(dir.read("log.html").find("old html"), std::string::npos);
  {
    TlmLogFile log(dir.file("log.txt"), lmlmOverwrite, "");
    log.Log(lmetInfo, "fresh", "");
  }
  EXPECT_EQ(dir.read("log.txt"), "[Info]: fresh\r\n");
}

TEST(Logger, ExceptionEntriesNormaliseTheirContext) {
  Logs logs;
  const EListError e("List index (5) out of bounds");
  logs.log->LogException(lmetFatal, &e, "S", "during initialization.");
  logs.log->LogException(lmetError, &e, "S", "while loading");
  logs.log->LogException(lmetError, &e, "S", " ready:");
  logs.log->LogException(lmetError, &e, "S", "");
  logs.log->LogException(lmetError, nullptr, "S", "nothing");
  EXPECT_EQ(logs.text(),
            "[Fatal@S]: Exception occured during initialization: Exception class = EListError; Message = List index "
            "(5) out of bounds\r\n"
            "[Error@S]: Exception occured while loading: Exception class = EListError; Message = List index (5) out "
            "of bounds\r\n"
            "[Error@S]: Exception occured ready: Exception class = EListError; Message = List index (5) out of "
            "bounds\r\n"
            "[Error@S]: Exception occured Exception class = EListError; Message = List index (5) out of bounds\r\n");
  EXPECT_NE(logs.html().find("<b>Exception occured during initialization:</b><br/>Exception class: EListError<br/>"
                             "Message: List index (5) out of bounds"),
            std::string::npos);
  const EReadError markup("Unexpected '<' in \"<script>\"");
  logs.log->LogException(lmetError, &markup, "S", "");
  EXPECT_NE(logs.html().find("<br/>Message: Unexpected '<' in \"<script>\"</td></tr>"),
            std::string::npos);
}

TEST(ExtensionReport, OrdersGroupsAndBordersTheExampleString) {
  std::string text, html;
  BuildExtensionReport("GL_EXT_b GL_ARB_z GL_NV_a GL_ARB_a GL_SGIS_x ", &text, &html);
  const std::string head_end = "<th>Name</th></tr>";
  const std::string rows = html.substr(html.find(head_end) + head_end.size());
  EXPECT_EQ(rows.substr(0, rows.find("</table>")),
            "<tr><td>GL</td><td>ARB</td><td>a</td></tr>"
            "<tr><td>GL</td><td>ARB</td><td>z</td></tr>"
            "<tr style=\"border-top: 2px solid #000000\"><td>GL</td><td>EXT</td><td>b</td></tr>"
            "<tr style=\"border-top: 3px solid #000000\"><td>GL</td><td>NV</td><td>a</td></tr>"
            "<tr style=\"border-top: 2px solid #000000\"><td>GL</td><td>SGIS</td><td>x</td></tr>");
  EXPECT_EQ(text, "GL_EXT_b GL_ARB_z GL_NV_a GL_ARB_a GL_SGIS_x \r\nARBs: 2; EXTs: 1; NVs: 1; ATIs: 0; Others: 1");
  EXPECT_NE(html.find("</table><br/><b>ARBs: </b>2&nbsp;&nbsp;&nbsp;<b>EXTs: </b>1"), std::string::npos);

  BuildExtensionReport("GL_EXT_b GL_ARB_z GL_NV_a GL_ARB_a GL_SGIS_x", &text, &html);
  EXPECT_EQ(html.find("SGIS"), std::string::npos);  // the last name has no closing space
  EXPECT_NE(text.find("Others: 0"), std::string::npos);

  BuildExtensionReport("GL_ARB_a  ", &text, &html);  // two spaces: an empty name
  EXPECT_NE(html.find("<td></td><td>[end of expression]</td><td></td>"), std::string::npos);
  EXPECT_NE(text.find("ARBs: 1; EXTs: 0; NVs: 0; ATIs: 0; Others: 1"), std::string::npos);
}

TEST(ExtensionReport, LoggedFromTheCurrentContextAtGlInfo) {
  FakeGL fake;
  fake.extensions = "WGL_ARB_x GL_EXT_y ";
  Logs logs;
  logs.log->LogExtensions();
  EXPECT_EQ(logs.text(), "[glInfo@Extensions]: WGL_ARB_x GL_EXT_y \r\nARBs: 1; EXTs: 1; NVs: 0; ATIs: 0; Others: 0\r\n");
  // GL names come before WGL names, whatever their level.
  const std::string html = logs.html();
  EXPECT_LT(html.find("<td>GL</td>"), html.find("<td>WGL</td>"));
}

// The names in the order the extension comparison gives them.
std::vector<std::string> SortedNames(std::vector<std::string> names) {
  std::vector<int> order(names.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::sort(order.begin(), order.end(), [&](int a, int b) { return CompareExtensionNames(names, a, b) < 0; });
  std::vector<std::string> sorted;
  for (int i : order) sorted.push_back(names[static_cast<size_t>(i)]);
  return sorted;
}

TEST(ExtensionReport, ComparisonIsAStrictWeakOrderForMixedClasses) {
  const std::vector<std::string> names = {"GLX_EXT_x", "GL_NV_z", "WGL_ARB_y", "GL_ARB_a", "WGL_EXT_b",
                                          "GLX_ARB_c", "",        "GL",        "WGL_NV_c"};
  const int n = static_cast<int>(names.size());
  auto less = [&](int a, int b) { return CompareExtensionNames(names, a, b) < 0; };
  for (int a = 0; a < n; ++a) {
    EXPECT_EQ(CompareExtensionNames(names, a, a), 0) << names[a];
    for (int b = 0; b < n; ++b) {
      EXPECT_EQ(CompareExtensionNames(names, a, b), -CompareExtensionNames(names, b, a)) << names[a] << " " << names[b];
      for (int c = 0; c < n; ++c) {
        if (less(a, b) && less(b, c)) {
          EXPECT_TRUE(less(a, c)) << names[a] << " < " << names[b] << " < " << names[c];
        }
      }
    }
  }
  // GL with WGL, and GL with GLX, as the report describes them.
  EXPECT_EQ(SortedNames({"WGL_ARB_y", "GL_NV_z", "WGL_EXT_b", "GL_EXT_e", "GL_ARB_a"}),
            (std::vector<std::string>{"GL_ARB_a", "GL_EXT_e", "GL_NV_z", "WGL_ARB_y", "WGL_EXT_b"}));
  EXPECT_EQ(SortedNames({"GLX_EXT_b", "GL_NV_d", "GL_ARB_a", "GLX_ARB_c", ""}),
            (std::vector<std::string>{"GLX_ARB_c", "GL_ARB_a", "GLX_EXT_b", "", "GL_NV_d"}));
  // All three: WGL names last, the rest as without them.
  EXPECT_EQ(SortedNames({"GLX_EXT_x", "GL_NV_z", "WGL_ARB_y", "GL_ARB_a", "WGL_EXT_b", "GLX_ARB_c"}),
            (std::vector<std::string>{"GLX_ARB_c", "GL_ARB_a", "GLX_EXT_x", "GL_NV_z", "WGL_ARB_y", "WGL_EXT_b"}));
}

TEST(Tokens, GetTokenAndSplitBySpaces) {
  EXPECT_EQ(GetToken("GL_ARB_multitexture", 0, '_', "d"), "GL");
  EXPECT_EQ(GetToken("GL_ARB_multitexture", 1, '_', "d"), "ARB");
  EXPECT_EQ(GetToken("GL_ARB_multitexture", 2, '_', "d"), "multitexture");
  EXPECT_EQ(GetToken("GL_ARB_multitexture", 3, '_', "d"), "d");
  EXPECT_EQ(GetToken("GL_ARB_multitexture", -1, '_', "d"), "d");
  EXPECT_EQ(GetToken("_a__b", 0, '_', "d"), "");
  EXPECT_EQ(GetToken("_a__b", 2, '_', "d"), "");
  EXPECT_EQ(GetToken("_a__b", 3, '_', "d"), "b");
  std::vector<std::string> list;
  SplitBySpaces(" a  b c", list);
  EXPECT_EQ(list, (std::vector<std::string>{"", "a", "", "b"}));
}

}  // namespace
