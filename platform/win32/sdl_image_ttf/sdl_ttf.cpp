// TrueType text for builds without SDL_ttf, over FreeType. Sizes and metrics follow SDL_ttf's rules so
// that text measures and lays out the same on every build:
// - a font opened at ptsize points is scaled at 72 dpi; ascent and descent are the face's, rounded
//   up to whole pixels, and the height is ascent - descent + 1 (the baseline row);
// - each glyph occupies the box from its bearing (rounded down) over its hinted width (rounded up);
//   the pen moves by the advance (rounded up) plus the kerning (rounded down);
// - a line is as wide as its glyphs reach, left of the first pen position too, and as high as the
//   font or down to its lowest glyph's bottom, whichever is more;
// - synthetic bold widens each glyph by ppem / 10 pixels, smearing its coverage rightwards by as
//   many pixels (each pass adds a pixel's left neighbour, up to full cover), and moves the pen on as
//   much; synthetic italic shears the outline by 0.207 of the font height over its height and widens
//   the box by that much; underline covers the face's underline rows over the whole width.
#include "include/SDL/SDL_ttf.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#define TTF(name) STARLACE_IMGTTF_NAME(name)

struct TTF(TTF_Font) {
  FT_Face face = nullptr;
  FT_StreamRec stream{};
  SDL_RWops* src = nullptr;
  bool free_src = false;
  int library = 0;  // the FreeType library it was opened with (see g_library_number)
  int start = 0;  // the handle's position when the font was opened: the font file's first byte
  int ascent = 0, descent = 0, height = 0;
  int underline_offset = 0, underline_height = 0;
  int face_style = TTF_STYLE_NORMAL;  // bold and italic of the face itself: never synthesised
  int style = TTF_STYLE_NORMAL;
  int bold_extra = 0;          // pixels synthetic bold adds to each glyph
  float italic_extra = 0.0f;   // pixels synthetic italic adds to each glyph
};

using Font = TTF(TTF_Font);

namespace {

FT_Library g_library = nullptr;
int g_init_count = 0;
// Counts the FreeType libraries made: a font closed after the last TTF_Quit has lost its face with
// its library and must not free it again.
int g_library_number = 0;

// SDL_ttf reports FreeType's failures without FreeType's reason.
void set_ft_error(const char* what, FT_Error) { SDL_SetError("%s", what); }

int floor26(FT_Pos v) { return int(v >> 6); }
int ceil26(FT_Pos v) { return int((v + 63) >> 6); }

bool synthetic(const Font* font, int flag) { return (font->style & flag) && !(font->face_style & flag); }

unsigned long stream_read(FT_Stream stream, unsigned long offset, unsigned char* buffer, unsigned long count) {
  const Font* font = static_cast<const Font*>(stream->descriptor.pointer);
  const int seek = SDL_RWseek(font->src, font->start + int(offset), RW_SEEK_SET);
  if (count == 0) return seek < 0 ? 1 : 0;  // a plain seek reports an error as non-zero
  if (seek < 0) return 0;
  const int got = SDL_RWread(font->src, buffer, 1, int(count));
  return got > 0 ? static_cast<unsigned long>(got) : 0;
}

// The next code point of UTF-8 text; malformed bytes give U+FFFD one byte at a time.
uint32_t next_code_point(const unsigned char*& p) {
  const unsigned c = *p++;
  int more = 0;
  uint32_t cp = 0, least = 0;
  if (c < 0x80) return c;
  if ((c & 0xE0) == 0xC0) more = 1, cp = c & 0x1F, least = 0x80;
  else if ((c & 0xF0) == 0xE0) more = 2, cp = c & 0x0F, least = 0x800;
  else if ((c & 0xF8) == 0xF0) more = 3, cp = c & 0x07, least = 0x10000;
  else return 0xFFFD;
  const unsigned char* q = p;
  for (int i = 0; i < more; ++i, ++q) {
    if ((*q & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (*q & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  p = q;
  return cp;
}

struct Glyph {
  FT_UInt index = 0;
  int minx = 0, maxx = 0, miny = 0, maxy = 0, advance = 0;
};

// Loads a glyph's metrics into `g`, and with `render` its coverage into the face's glyph slot.
FT_Error load_glyph(Font* font, uint32_t cp, bool render, Glyph& g) {
  FT_Face face = font->face;
  g.index = FT_Get_Char_Index(face, cp);
  FT_Error error = FT_Load_Glyph(face, g.index, FT_LOAD_DEFAULT);
  if (error) return error;
  FT_GlyphSlot slot = face->glyph;
  const FT_Glyph_Metrics& m = slot->metrics;
  if (FT_IS_SCALABLE(face)) {
    g.minx = floor26(m.horiBearingX);
    g.maxx = g.minx + ceil26(m.width);
    g.maxy = floor26(m.horiBearingY);
    g.miny = g.maxy - ceil26(m.height);
    g.advance = ceil26(m.horiAdvance);
  } else {
    g.minx = floor26(m.horiBearingX);
    g.maxx = g.minx + ceil26(m.horiAdvance);
    g.maxy = floor26(m.horiBearingY);
    g.miny = g.maxy - ceil26(face->size->metrics.height);
    g.advance = ceil26(m.horiAdvance);
  }
  if (synthetic(font, TTF_STYLE_BOLD)) g.maxx += font->bold_extra;
  if (synthetic(font, TTF_STYLE_ITALIC)) g.maxx += int(std::ceil(font->italic_extra));
  if (!render) return 0;

  if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    if (synthetic(font, TTF_STYLE_ITALIC)) {
      FT_Matrix shear{1 << 16, FT_Fixed(font->italic_extra * (1 << 16)) / font->height, 0, 1 << 16};
      FT_Outline_Transform(&slot->outline, &shear);
    }
  }
  return FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL);
}

// Coverage 0..255 of the rendered glyph at (x, y) of its bitmap.
int coverage(const FT_Bitmap& b, int x, int y) {
  const unsigned char* row = b.buffer + y * b.pitch;
  switch (b.pixel_mode) {
    case FT_PIXEL_MODE_GRAY:
      return b.num_grays == 256 ? row[x] : row[x] * 255 / (b.num_grays > 1 ? b.num_grays - 1 : 1);
    case FT_PIXEL_MODE_MONO:
      return (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    default:
      return 0;
  }
}

int underline_top(const Font* font) { return font->ascent - font->underline_offset - 1; }

// Walks the glyphs of `text` in pen order; `each` gets the glyph and its pen position. False when a
// glyph cannot be loaded or the pen runs past what an int holds (the error is set). The pen is wide
// so that a long line at a large size cannot wrap round.
template <class Each>
bool layout(Font* font, const char* text, bool render, Each each) {
  const bool kerning = FT_HAS_KERNING(font->face);
  FT_UInt previous = 0;
  long long pen = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    if (pen > INT_MAX || pen < INT_MIN) {
      SDL_SetError("Text too large");
      return false;
    }
    const uint32_t cp = next_code_point(p);
    if (cp == 0xFEFF || cp == 0xFFFE) continue;  // byte-order marks take no room
    Glyph g;
    const FT_Error error = load_glyph(font, cp, render, g);
    if (error) {
      set_ft_error("Couldn't find glyph", error);
      return false;
    }
    if (kerning && previous && g.index) {
      FT_Vector delta{0, 0};
      FT_Get_Kerning(font->face, previous, g.index, FT_KERNING_DEFAULT, &delta);
      pen += delta.x >> 6;
    }
    each(g, pen);
    pen += g.advance;
    if (synthetic(font, TTF_STYLE_BOLD)) pen += font->bold_extra;
    previous = g.index;
  }
  return true;
}

// The box of the line: from the leftmost reach of any glyph (left of the pen: a negative `left`)
// to the rightmost, and from the top of the font down to the font's height or the lowest glyph's
// bottom, whichever is lower, so no glyph is cut.
bool text_size(Font* font, const char* text, int& w, int& h, int* left = nullptr) {
  long long least_x = 0, most_x = 0;
  int least_y = 0;
  const bool ok = layout(font, text, false, [&](const Glyph& g, long long pen) {
    const int bold = synthetic(font, TTF_STYLE_BOLD) ? font->bold_extra : 0;
    least_x = std::min(least_x, pen + g.minx);
    most_x = std::max(most_x, pen + bold + std::max(g.advance, g.maxx));
    least_y = std::min(least_y, g.miny);
  });
  if (!ok) return false;
  if (most_x - least_x > INT_MAX) {
    SDL_SetError("Text too large");
    return false;
  }
  w = int(most_x - least_x);
  h = std::max(font->height, font->ascent - least_y);
  if (font->style & TTF_STYLE_UNDERLINE)
    h = std::max(h, underline_top(font) + font->underline_height);
  if (left) *left = int(least_x);
  return true;
}

// A font whose FreeType library went with TTF_Quit has lost its face: it can only be closed.
bool check_font(const Font* font, const char* text) {
  if (g_init_count == 0) {
    SDL_SetError("Library not initialized");
    return false;
  }
  if (!font || !text) {
    SDL_SetError("Passed a NULL pointer");
    return false;
  }
  if (font->library != g_library_number) {
    SDL_SetError("Font was opened before the last TTF_Quit");
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

int TTF(TTF_Init)(void) {
  if (g_init_count == 0 && FT_Init_FreeType(&g_library) != 0) {
    SDL_SetError("Couldn't init FreeType engine");
    return -1;
  }
  if (g_init_count == 0) ++g_library_number;
  ++g_init_count;
  return 0;
}

void TTF(TTF_Quit)(void) {
  if (g_init_count > 0 && --g_init_count == 0) {
    FT_Done_FreeType(g_library);
    g_library = nullptr;
  }
}

int TTF(TTF_WasInit)(void) { return g_init_count; }

Font* TTF(TTF_OpenFontRW)(SDL_RWops* src, int freesrc, int ptsize) {
  if (g_init_count == 0) {
    SDL_SetError("Library not initialized");
    return nullptr;
  }
  if (!src) {
    SDL_SetError("Passed a NULL font source");
    return nullptr;
  }
  const int start = SDL_RWtell(src);
  if (start < 0) {
    SDL_SetError("Can't seek in stream");
    return nullptr;
  }
  Font* font = new (std::nothrow) Font;
  if (!font) {
    SDL_SetError("Out of memory");
    if (freesrc) SDL_RWclose(src);
    return nullptr;
  }
  font->library = g_library_number;
  font->src = src;
  font->free_src = freesrc != 0;
  font->start = start;
  const int end = SDL_RWseek(src, 0, RW_SEEK_END);
  SDL_RWseek(src, start, RW_SEEK_SET);
  font->stream.descriptor.pointer = font;
  font->stream.size = static_cast<unsigned long>(end > start ? end - start : 0);
  font->stream.read = &stream_read;
  FT_Open_Args args{};
  args.flags = FT_OPEN_STREAM;
  args.stream = &font->stream;
  FT_Error error = FT_Open_Face(g_library, &args, 0, &font->face);
  if (error) {
    set_ft_error("Couldn't load font file", error);
    TTF(TTF_CloseFont)(font);
    return nullptr;
  }
  FT_Face face = font->face;
  if (FT_IS_SCALABLE(face)) {
    error = FT_Set_Char_Size(face, 0, FT_F26Dot6(ptsize) * 64, 0, 0);
    if (error) {
      set_ft_error("Couldn't set font size", error);
      TTF(TTF_CloseFont)(font);
      return nullptr;
    }
    const FT_Fixed scale = face->size->metrics.y_scale;
    font->ascent = ceil26(FT_MulFix(face->ascender, scale));
    font->descent = ceil26(FT_MulFix(face->descender, scale));
    font->underline_offset = floor26(FT_MulFix(face->underline_position, scale));
    font->underline_height = floor26(FT_MulFix(face->underline_thickness, scale));
  } else {
    // A bitmap font: the fixed size nearest below the one asked for (else the first).
    int best = 0;
    for (int i = 0; i < face->num_fixed_sizes; ++i)
      if (face->available_sizes[i].height <= ptsize && face->available_sizes[i].height > face->available_sizes[best].height)
        best = i;
    if (face->num_fixed_sizes > 0) FT_Select_Size(face, best);
    font->ascent = ceil26(face->size->metrics.ascender);
    font->descent = ceil26(face->size->metrics.descender);
    font->underline_offset = -1;
    font->underline_height = 1;
  }
  font->height = font->ascent - font->descent + 1;
  // Italic shears by the height and lines are laid out by it: a face that claims none is broken.
  if (font->height <= 0) {
    SDL_SetError("Font has no usable height");
    TTF(TTF_CloseFont)(font);
    return nullptr;
  }
  if (font->underline_height < 1) font->underline_height = 1;
  if (face->style_flags & FT_STYLE_FLAG_BOLD) font->face_style |= TTF_STYLE_BOLD;
  if (face->style_flags & FT_STYLE_FLAG_ITALIC) font->face_style |= TTF_STYLE_ITALIC;
  font->style = font->face_style;
  font->bold_extra = face->size->metrics.y_ppem / 10;
  font->italic_extra = 0.207f * float(font->height);  // tan(12°), the slant of a common italic
  return font;
}

Font* TTF(TTF_OpenFont)(const char* file, int ptsize) {
  SDL_RWops* src = SDL_RWFromFile(file, "rb");
  if (!src) return nullptr;  // SDL's error text names the file
  return TTF(TTF_OpenFontRW)(src, 1, ptsize);
}

void TTF(TTF_CloseFont)(Font* font) {
  if (!font) return;
  if (font->face && g_library && font->library == g_library_number) FT_Done_Face(font->face);
  if (font->free_src) SDL_RWclose(font->src);
  delete font;
}

void TTF(TTF_SetFontStyle)(Font* font, int style) {
  if (font) font->style = (style & (TTF_STYLE_BOLD | TTF_STYLE_ITALIC | TTF_STYLE_UNDERLINE)) | font->face_style;
}

int TTF(TTF_GetFontStyle)(const Font* font) { return font ? font->style : TTF_STYLE_NORMAL; }

int TTF(TTF_FontHeight)(const Font* font) { return font ? font->height : 0; }

int TTF(TTF_SizeUTF8)(Font* font, const char* text, int* w, int* h) {
  int width = 0, height = 0;
  if (!check_font(font, text) || !text_size(font, text, width, height)) return -1;
  if (w) *w = width;
  if (h) *h = height;
  return 0;
}

SDL_Surface* TTF(TTF_RenderUTF8_Blended)(Font* font, const char* text, SDL_Color fg) {
  int width = 0, height = 0, least_x = 0;
  if (!check_font(font, text) || !text_size(font, text, width, height, &least_x)) return nullptr;
  if (width == 0) {
    SDL_SetError("Text has zero width");
    return nullptr;
  }
  SDL_Surface* out =
      SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000);
  if (!out) return nullptr;
  const Uint32 colour = (Uint32(fg.r) << 16) | (Uint32(fg.g) << 8) | fg.b;
  SDL_FillRect(out, nullptr, colour);  // the colour everywhere, alpha 0
  auto put = [&](int x, int y, int alpha) {
    if (x < 0 || y < 0 || x >= out->w || y >= out->h || alpha <= 0) return;
    Uint32* px = reinterpret_cast<Uint32*>(static_cast<Uint8*>(out->pixels) + y * out->pitch) + x;
    const int old = int(*px >> 24);
    *px = colour | (Uint32(std::max(old, std::min(alpha, 255))) << 24);  // overlapping glyphs: the larger
  };
  std::vector<int> row;  // one row of a glyph's coverage
  const bool ok = layout(font, text, true, [&](const Glyph& g, long long pen) {
    // Glyphs reaching left of the line's start move the whole line right instead of being cut.
    const FT_Bitmap& b = font->face->glyph->bitmap;
    const int left = int(pen - least_x) + g.minx;
    const int top = font->ascent - g.maxy;
    const int extra = synthetic(font, TTF_STYLE_BOLD) ? font->bold_extra : 0;
    const int columns = std::min(int(b.width) + extra, g.maxx - g.minx);
    if (columns <= 0) return;
    row.resize(size_t(columns));
    for (int y = 0; y < int(b.rows); ++y) {
      for (int x = 0; x < columns; ++x) row[size_t(x)] = x < int(b.width) ? coverage(b, x, y) : 0;
      for (int pass = 0; pass < extra; ++pass)
        for (int x = columns - 1; x > 0; --x) row[size_t(x)] = std::min(255, row[size_t(x)] + row[size_t(x) - 1]);
      for (int x = 0; x < columns; ++x) put(left + x, top + y, row[size_t(x)]);
    }
  });
  if (!ok) {
    SDL_FreeSurface(out);
    return nullptr;
  }
  if (font->style & TTF_STYLE_UNDERLINE) {
    const int top = underline_top(font);
    for (int y = top; y < top + font->underline_height; ++y)
      for (int x = 0; x < out->w; ++x) put(x, y, 255);
  }
  return out;
}

}  // extern "C"
