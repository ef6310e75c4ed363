#ifndef STARLACE_SDL_LAYER_NAMES_H
#define STARLACE_SDL_LAYER_NAMES_H
/* The comparison tests link this layer beside the real library: there every name gets a prefix. */
#ifndef STARLACE_IMGTTF_NAME
#ifdef STARLACE_IMGTTF_PREFIXED
#define STARLACE_IMGTTF_NAME(name) starlace_##name
#else
#define STARLACE_IMGTTF_NAME(name) name
#endif
#endif
#endif
