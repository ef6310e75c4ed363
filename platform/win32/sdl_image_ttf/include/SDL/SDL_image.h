#ifndef STARLACE_OWN_SDL_IMAGE_H
#define STARLACE_OWN_SDL_IMAGE_H
/* The image calls the program makes, for builds without SDL_image: PNG (libpng) and BMP (SDL) found
   by their signature, TGA when the caller names the type. Errors are reported through SDL_SetError. */
#include <SDL/SDL.h>

#include "sdl_layer_names.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the file named; a ".tga" (any case) file is read as TGA. */
SDL_Surface* STARLACE_IMGTTF_NAME(IMG_Load)(const char* file);
/* Reads a PNG or BMP image from the handle's position; closes the handle when freesrc is not 0. */
SDL_Surface* STARLACE_IMGTTF_NAME(IMG_Load_RW)(SDL_RWops* src, int freesrc);
/* As IMG_Load_RW; type "TGA" (any case) reads the data as TGA, which has no signature. */
SDL_Surface* STARLACE_IMGTTF_NAME(IMG_LoadTyped_RW)(SDL_RWops* src, int freesrc, const char* type);

#ifdef __cplusplus
}
#endif

#ifndef IMG_GetError
#define IMG_GetError SDL_GetError
#endif

#endif
