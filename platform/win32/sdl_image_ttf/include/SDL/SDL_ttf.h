#ifndef STARLACE_OWN_SDL_TTF_H
#define STARLACE_OWN_SDL_TTF_H
/* The TrueType calls the program makes, for builds without SDL_ttf, over FreeType: fonts opened from
   SDL read/write handles at a point size (72 dpi), synthetic styles, sizes and blended (anti-aliased,
   32-bit ARGB) rendering of UTF-8 text. Errors are reported through SDL_SetError. */
#include <SDL/SDL.h>

#include "sdl_layer_names.h"

#ifndef TTF_STYLE_NORMAL
#define TTF_STYLE_NORMAL 0x00
#define TTF_STYLE_BOLD 0x01
#define TTF_STYLE_ITALIC 0x02
#define TTF_STYLE_UNDERLINE 0x04
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct STARLACE_IMGTTF_NAME(TTF_Font) STARLACE_IMGTTF_NAME(TTF_Font);

/* Counted: every successful TTF_Init needs one TTF_Quit. */
int STARLACE_IMGTTF_NAME(TTF_Init)(void);
void STARLACE_IMGTTF_NAME(TTF_Quit)(void);
/* The number of TTF_Init calls not yet undone. */
int STARLACE_IMGTTF_NAME(TTF_WasInit)(void);

/* With freesrc not 0 the font owns the handle: it is closed with the font, or at once when the font
   cannot be opened, but not when the library is not initialised or the handle cannot seek. */
STARLACE_IMGTTF_NAME(TTF_Font)* STARLACE_IMGTTF_NAME(TTF_OpenFontRW)(SDL_RWops* src, int freesrc, int ptsize);
STARLACE_IMGTTF_NAME(TTF_Font)* STARLACE_IMGTTF_NAME(TTF_OpenFont)(const char* file, int ptsize);
void STARLACE_IMGTTF_NAME(TTF_CloseFont)(STARLACE_IMGTTF_NAME(TTF_Font)* font);

/* The style set, together with the face's own bold and italic. */
void STARLACE_IMGTTF_NAME(TTF_SetFontStyle)(STARLACE_IMGTTF_NAME(TTF_Font)* font, int style);
int STARLACE_IMGTTF_NAME(TTF_GetFontStyle)(const STARLACE_IMGTTF_NAME(TTF_Font)* font);
/* Ascent + descent + 1 pixel for the baseline. */
int STARLACE_IMGTTF_NAME(TTF_FontHeight)(const STARLACE_IMGTTF_NAME(TTF_Font)* font);

/* 0 and the size of the rendered surface, or -1. */
int STARLACE_IMGTTF_NAME(TTF_SizeUTF8)(STARLACE_IMGTTF_NAME(TTF_Font)* font, const char* text, int* w, int* h);
/* A new 32-bit surface (masks A 0xFF000000, R 0x00FF0000, G 0x0000FF00, B 0x000000FF) filled with the
   colour, the glyphs' coverage in its alpha; NULL for text without width. */
SDL_Surface* STARLACE_IMGTTF_NAME(TTF_RenderUTF8_Blended)(STARLACE_IMGTTF_NAME(TTF_Font)* font, const char* text,
                                                           SDL_Color fg);

#ifdef __cplusplus
}
#endif

#ifndef TTF_GetError
#define TTF_GetError SDL_GetError
#endif

#endif
