// Image decoding for builds without SDL_image. The surfaces have the layouts SDL_image gives, so the
// code above sees the same pixels on every build: PNG as 8-bit palette (palette and grey images),
// 24-bit R,G,B or 32-bit R,G,B,A bytes; TGA as 8-bit palette (colour-mapped and grey), 16-bit 5-5-5,
// 24-bit B,G,R or 32-bit B,G,R,A bytes.
#include "include/SDL/SDL_image.h"

#include <png.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#define IMG(name) STARLACE_IMGTTF_NAME(name)

namespace {

const int kUnknown = -1;

// SDL 1.2 keeps a surface's pitch in 16 bits and its byte count in an int: larger images would get a
// buffer shorter than their rows.
bool fits_surface(long long w, long long h, long long bytes_per_pixel) {
  const long long pitch = (w * bytes_per_pixel + 3) & ~3LL;
  return w >= 0 && h >= 0 && pitch <= 0xFFFF && pitch * h <= INT_MAX;
}

SDL_Surface* new_surface(int w, int h, int bits, Uint32 r, Uint32 g, Uint32 b, Uint32 a) {
  if (!fits_surface(w, h, (bits + 7) / 8)) {
    SDL_SetError("Image too large");
    return nullptr;
  }
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, bits, r, g, b, a);
  if (!s) SDL_SetError("Out of memory");
  return s;
}

void grey_palette(SDL_Surface* s) {
  SDL_Palette* palette = s->format->palette;
  for (int i = 0; i < 256; ++i) palette->colors[i] = SDL_Color{Uint8(i), Uint8(i), Uint8(i), 0};
  palette->ncolors = 256;
}

bool read_bytes(SDL_RWops* src, void* to, size_t n) {
  return n == 0 || SDL_RWread(src, to, static_cast<int>(n), 1) == 1;
}

bool starts_with(SDL_RWops* src, const char* magic, size_t n) {
  const int start = SDL_RWtell(src);
  unsigned char head[8] = {};
  const bool found = read_bytes(src, head, n) && std::memcmp(head, magic, n) == 0;
  SDL_RWseek(src, start, RW_SEEK_SET);
  return found;
}

bool same_text(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

// --- PNG ---

void png_read_rw(png_structp png, png_bytep data, png_size_t length) {
  if (!read_bytes(static_cast<SDL_RWops*>(png_get_io_ptr(png)), data, length)) png_error(png, "Read error");
}
void png_fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_quiet(png_structp, png_const_charp) {}

struct PngRead {
  png_structp png = nullptr;
  png_infop info = nullptr;
  SDL_Surface* surface = nullptr;
  std::vector<png_bytep> rows;
  bool no_surface = false;  // the surface could not be made; SDL's error text says why
};

// libpng leaves by longjmp on a fault: nothing here may need a destructor between setjmp and the end.
bool png_decode(SDL_RWops* src, PngRead& r) {
  png_structp png = r.png;
  png_infop info = r.info;
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, src, &png_read_rw);
  // libpng only warns about a chunk longer than its limits, then allocates and clears what the chunk
  // claims (gigabytes from a file of a few bytes). The decoder needs no chunk beyond IHDR, PLTE,
  // tRNS, IDAT and IEND, so every other one is skipped unread, in small pieces; no chunk kept whole
  // is larger than a palette (IDAT is streamed), and no row wider than an 8-bit surface's pitch.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_chunk_malloc_max(png, 3 * 256);
  png_set_user_limits(png, 0xFFFF & ~3u, png_get_user_height_max(png));
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colour = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);

  png_set_strip_16(png);
  png_set_packing(png);
  if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  int colour_key = kUnknown;
  png_color_16p key_colour = nullptr;
  if (png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_bytep alphas = nullptr;
    int count = 0;
    png_get_tRNS(png, info, &alphas, &count, &key_colour);
    if (colour == PNG_COLOR_TYPE_PALETTE) {
      // One fully transparent entry among opaque ones is a colour key; any other mix needs alpha.
      int clear = kUnknown;
      bool key_only = true;
      for (int i = 0; i < count && key_only; ++i) {
        if (alphas[i] == 0 && clear == kUnknown) clear = i;
        else if (alphas[i] != 255) key_only = false;
      }
      if (key_only) colour_key = clear;
      else png_set_expand(png);
    } else if (colour == PNG_COLOR_TYPE_RGB) {
      colour_key = 0;  // mapped once the surface exists
    } else {
      png_set_tRNS_to_alpha(png);
      png_set_gray_to_rgb(png);
    }
  }
  if (colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  const int channels = png_get_channels(png, info);
  const bool indexed = channels == 1;
  const int bits = channels * 8;
  const Uint32 amask = channels == 4 ? 0xFF000000u : 0;
  // Grey images too get the colour masks, beside their palette, as SDL_image gives them.
  r.surface = colour == PNG_COLOR_TYPE_PALETTE && indexed
                  ? new_surface(int(width), int(height), 8, 0, 0, 0, 0)
                  : new_surface(int(width), int(height), bits, 0x000000FFu, 0x0000FF00u, 0x00FF0000u, amask);
  r.no_surface = r.surface == nullptr;
  if (!r.surface || png_get_rowbytes(png, info) > r.surface->pitch) return false;
  if (colour_key != kUnknown && !indexed) {
    colour_key = int(SDL_MapRGB(r.surface->format, Uint8(key_colour->red >> (depth > 8 ? 8 : 0)),
                                Uint8(key_colour->green >> (depth > 8 ? 8 : 0)),
                                Uint8(key_colour->blue >> (depth > 8 ? 8 : 0))));
  }
  if (colour_key != kUnknown) SDL_SetColorKey(r.surface, SDL_SRCCOLORKEY, Uint32(colour_key));

  r.rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) r.rows[y] = static_cast<png_bytep>(r.surface->pixels) + y * r.surface->pitch;
  png_read_image(png, r.rows.data());
  png_read_end(png, info);

  if (indexed) {
    png_colorp entries = nullptr;
    int count = 0;
    if (colour == PNG_COLOR_TYPE_GRAY) {
      grey_palette(r.surface);
    } else if (png_get_PLTE(png, info, &entries, &count) && count > 0) {
      SDL_Palette* palette = r.surface->format->palette;
      palette->ncolors = count > 256 ? 256 : count;
      for (int i = 0; i < palette->ncolors; ++i)
        palette->colors[i] = SDL_Color{entries[i].red, entries[i].green, entries[i].blue, 0};
    }
  }
  return true;
}

SDL_Surface* load_png(SDL_RWops* src) {
  const int start = SDL_RWtell(src);
  PngRead r;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, &png_fail, &png_quiet);
  r.info = r.png ? png_create_info_struct(r.png) : nullptr;
  bool ok = false;
  if (!r.info) {
    SDL_SetError("Couldn't allocate memory for PNG file or incompatible PNG dll");
  } else {
    ok = png_decode(src, r);
    if (!ok && !r.no_surface) SDL_SetError("Error reading the PNG file.");
  }
  png_destroy_read_struct(&r.png, r.info ? &r.info : nullptr, nullptr);
  if (ok) return r.surface;
  if (r.surface) SDL_FreeSurface(r.surface);
  SDL_RWseek(src, start, RW_SEEK_SET);
  return nullptr;
}

// --- BMP ---

// The bit depth in the header: after the 14-byte file header, the 4-byte header size, then 16-bit
// width and height in OS/2's 12-byte header, or 32-bit ones in every later one.
int bmp_bit_depth(SDL_RWops* src) {
  const int start = SDL_RWtell(src);
  unsigned char head[30] = {};
  const bool read = read_bytes(src, head, sizeof head);
  SDL_RWseek(src, start, RW_SEEK_SET);
  if (!read) return kUnknown;
  const unsigned char* depth = head[14] == 12 && !head[15] && !head[16] && !head[17] ? head + 24 : head + 28;
  return depth[0] | depth[1] << 8;
}

// SDL's own loader, whose surface size is taken from the header as it stands: a height of INT_MIN
// (a top-down image of 2^31 rows) comes back negative. It also takes any depth of 8 bits or more,
// and one it cannot hold in a byte gives a surface whose rows are shorter than its pixels.
SDL_Surface* load_bmp(SDL_RWops* src) {
  const int start = SDL_RWtell(src);
  const int depth = bmp_bit_depth(src);
  if (depth != kUnknown && depth != 1 && depth != 4 && depth != 8 && depth != 15 && depth != 16 && depth != 24 &&
      depth != 32) {
    SDL_SetError("%d-bpp BMP images are not supported", depth);  // SDL's own text for the depths it refuses
    return nullptr;
  }
  SDL_Surface* image = SDL_LoadBMP_RW(src, 0);
  if (image && (!fits_surface(image->w, image->h, image->format->BytesPerPixel) ||
                image->pitch < image->w * image->format->BytesPerPixel)) {
    SDL_FreeSurface(image);
    SDL_SetError("Image too large");
    SDL_RWseek(src, start, RW_SEEK_SET);
    return nullptr;
  }
  return image;
}

// --- TGA ---

struct TgaHeader {
  int id_length, map_type, image_type, map_first, map_length, map_bits, width, height, pixel_bits, descriptor;
};

int le16(const unsigned char* p) { return p[0] | (p[1] << 8); }

// A colour-map entry of 15/16 (5-5-5), 24 (B,G,R) or 32 (B,G,R,A) bits.
SDL_Color map_entry(const unsigned char* p, int bits, bool& clear) {
  clear = false;
  if (bits <= 16) {
    const int v = le16(p);
    return SDL_Color{Uint8(((v >> 10) & 31) << 3), Uint8(((v >> 5) & 31) << 3), Uint8((v & 31) << 3), 0};
  }
  if (bits == 32) clear = p[3] < 128;
  return SDL_Color{p[2], p[1], p[0], 0};
}

// Where the file's pixel number i (counted in file order) lies in the surface.
struct PixelPlace {
  SDL_Surface* img;
  int w, h, bpp;
  bool top_first;
  unsigned char* at(size_t i) const {
    const size_t row = i / size_t(w), column = i % size_t(w);
    const size_t to_row = top_first ? row : size_t(h) - 1 - row;
    return static_cast<unsigned char*>(img->pixels) + to_row * img->pitch + column * size_t(bpp);
  }
};

// Missing data leaves the rest of the image zero, as a short file gives it.
void read_plain(SDL_RWops* src, const PixelPlace& place) {
  const int row_bytes = place.w * place.bpp;
  for (int y = 0; y < place.h && row_bytes > 0; ++y)
    if (SDL_RWread(src, place.at(size_t(y) * size_t(place.w)), 1, row_bytes) < row_bytes) return;
}

// Run-length packets: a count byte (high bit set: one pixel repeated, else that many raw pixels),
// free to run across rows.
void read_rle(SDL_RWops* src, const PixelPlace& place) {
  const size_t pixels = size_t(place.w) * size_t(place.h);
  const size_t bpp = size_t(place.bpp);
  unsigned char buffer[128 * 4];
  size_t at = 0;
  while (at < pixels) {
    unsigned char packet = 0;
    if (!read_bytes(src, &packet, 1)) return;
    const bool repeat = (packet & 0x80) != 0;
    const size_t stored = size_t(packet & 0x7F) + 1;
    const size_t count = stored < pixels - at ? stored : pixels - at;
    if (repeat) {
      if (!read_bytes(src, buffer, bpp)) return;
      for (size_t i = 0; i < count; ++i) std::memcpy(place.at(at + i), buffer, bpp);
    } else {
      // Raw pixels cut short by the end of the file: whatever bytes are there go in.
      const int got = SDL_RWread(src, buffer, 1, int(count * bpp));
      const size_t bytes = got > 0 ? size_t(got) : 0;
      for (size_t i = 0; i * bpp < bytes; ++i)
        std::memcpy(place.at(at + i), buffer + i * bpp, bytes - i * bpp < bpp ? bytes - i * bpp : bpp);
      if (bytes < count * bpp) return;
    }
    at += count;
  }
}

// A null error keeps SDL's error text.
SDL_Surface* tga_fail(SDL_RWops* src, int start, const char* error) {
  if (error) SDL_SetError("%s", error);
  SDL_RWseek(src, start, RW_SEEK_SET);
  return nullptr;
}

SDL_Surface* load_tga(SDL_RWops* src) {
  const int start = SDL_RWtell(src);
  unsigned char raw[18];
  if (!read_bytes(src, raw, sizeof raw)) return tga_fail(src, start, "Error reading TGA data");
  const TgaHeader h{raw[0], raw[1], raw[2], le16(raw + 3), le16(raw + 5), raw[7],
                    le16(raw + 12), le16(raw + 14), raw[16], raw[17]};
  const char* const unsupported = "Unsupported TGA format";
  const bool rle = h.image_type >= 9 && h.image_type <= 11;
  const int kind = rle ? h.image_type - 8 : h.image_type;  // 1 colour-mapped, 2 true colour, 3 grey
  if (kind < 1 || kind > 3) return tga_fail(src, start, unsupported);
  if (kind == 1 && (h.map_type != 1 || h.pixel_bits != 8 || h.map_first + h.map_length > 256))
    return tga_fail(src, start, unsupported);
  if (kind == 3 && h.pixel_bits != 8) return tga_fail(src, start, unsupported);
  if (kind == 2 && h.pixel_bits != 15 && h.pixel_bits != 16 && h.pixel_bits != 24 && h.pixel_bits != 32)
    return tga_fail(src, start, unsupported);
  // Right-to-left rows and interleaved lines are not read.
  if ((h.descriptor & 0x10) || (h.descriptor & 0xC0)) return tga_fail(src, start, unsupported);
  const int map_entry_bytes = (h.map_bits + 7) / 8;
  if (h.map_type == 1 && kind == 1 && (map_entry_bytes < 2 || map_entry_bytes > 4))
    return tga_fail(src, start, unsupported);

  const int bpp = (h.pixel_bits + 7) / 8;
  SDL_Surface* img = nullptr;
  if (kind != 2) img = new_surface(h.width, h.height, 8, 0, 0, 0, 0);
  else if (bpp == 2) img = new_surface(h.width, h.height, 16, 0x7C00, 0x03E0, 0x001F, 0);
  else img = new_surface(h.width, h.height, bpp * 8, 0x00FF0000, 0x0000FF00, 0x000000FF, bpp == 4 ? 0xFF000000u : 0);
  if (!img) return tga_fail(src, start, nullptr);

  SDL_RWseek(src, h.id_length, RW_SEEK_CUR);
  if (h.map_type == 1) {
    std::vector<unsigned char> map(size_t(h.map_length) * size_t(map_entry_bytes));
    if (kind == 1) {
      if (!read_bytes(src, map.data(), map.size())) {
        SDL_FreeSurface(img);
        return tga_fail(src, start, "Error reading TGA data");
      }
      SDL_Palette* palette = img->format->palette;
      int clear = kUnknown;
      palette->ncolors = h.map_first + h.map_length;
      for (int i = 0; i < h.map_length; ++i) {
        bool transparent = false;
        palette->colors[h.map_first + i] = map_entry(map.data() + size_t(i) * size_t(map_entry_bytes), h.map_bits, transparent);
        if (transparent) clear = h.map_first + i;
      }
      if (clear != kUnknown) SDL_SetColorKey(img, SDL_SRCCOLORKEY, Uint32(clear));
    } else {
      SDL_RWseek(src, int(map.size()), RW_SEEK_CUR);
    }
  }
  if (kind == 3) grey_palette(img);

  const PixelPlace place{img, h.width, h.height, bpp, (h.descriptor & 0x20) != 0};
  if (rle) read_rle(src, place);
  else read_plain(src, place);
  return img;
}

}  // namespace

extern "C" {

SDL_Surface* IMG(IMG_LoadTyped_RW)(SDL_RWops* src, int freesrc, const char* type) {
  if (!src) {
    SDL_SetError("Passed a NULL data source");
    return nullptr;
  }
  SDL_Surface* image = nullptr;
  if (SDL_RWseek(src, 0, RW_SEEK_CUR) < 0) {
    SDL_SetError("Can't seek in this data source");
  } else if (type && same_text(type, "TGA")) {
    image = load_tga(src);  // no signature: taken on the caller's word
  } else if (starts_with(src, "\x89PNG", 4)) {
    image = load_png(src);
  } else if (starts_with(src, "BM", 2)) {
    image = load_bmp(src);
  } else {
    SDL_SetError("Unsupported image format");
  }
  if (freesrc) SDL_RWclose(src);
  return image;
}

SDL_Surface* IMG(IMG_Load_RW)(SDL_RWops* src, int freesrc) { return IMG(IMG_LoadTyped_RW)(src, freesrc, nullptr); }

SDL_Surface* IMG(IMG_Load)(const char* file) {
  SDL_RWops* src = SDL_RWFromFile(file, "rb");
  if (!src) return nullptr;  // SDL's error text names the file
  const char* dot = std::strrchr(file, '.');
  return IMG(IMG_LoadTyped_RW)(src, 1, dot ? dot + 1 : nullptr);
}

}  // extern "C"
