// Song-script files are untrusted input: any bytes must parse into statements and actions, or end
// in the parser's own exceptions, without crashing, hanging or running away with memory.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "framework/exceptions.h"
#include "framework/streams.h"
#include "show/song_parser.h"
#include "show/song_script.h"

namespace {

// Stands in for the firework effect: 18 launch kinds and 4 setup kinds.
class CatalogueTarget : public SongScriptTarget {
 public:
  void Launch(int32_t kind, const TKZ_Vectorf3&, const TKZ_Vectorf3&, double) override {
    if (kind < 0 || kind >= 18) throw EListError("List index out of bounds");
  }
  void Setup(int32_t kind, const TKZ_Vectorf3&, double) override {
    if (kind < 0 || kind >= 4) throw EListError("List index out of bounds");
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    (void)TSongDataParser::ParseText(text)->AsText();
  } catch (const Exception&) {
  }

  CatalogueTarget target;
  TSongScript script(&target);
  TMemoryStream stream;
  stream.WriteString(text);
  stream.SetPosition(0);
  try {
    TSongDataParser().ParseStream(stream, script, false);
  } catch (const Exception&) {
  }
  for (const auto& action : script.Actions) (void)action->AsText();
  script.Prepare();
  script.Advance(-0.25);
  for (int i = 0; i < 8; ++i) script.Advance(2.5);
  script.Seek(15);
  script.Advance(std::numeric_limits<double>::infinity());
  script.Reset();
  script.Advance(std::numeric_limits<double>::quiet_NaN());
  script.Reset();
  script.Advance(1e300);
  return 0;
}
