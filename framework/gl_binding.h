#pragma once
// The OpenGL binding. GL and GLU are never linked: the libraries are opened by file name at run
// time and every entry point the program uses is resolved into one table of function pointers.
// All code calls GL through `gl` (for example `gl.glEnable(GL_BLEND)`); tests install a recording
// fake into the same table.
#include <GL/gl.h>

#include <cstddef>

#include <string>

#ifndef GLAPIENTRY
#define GLAPIENTRY APIENTRY
#endif

// Types and constants of the buffer-object entry points, in case the system header lacks them.
typedef std::ptrdiff_t starlace_GLsizeiptr;
typedef std::ptrdiff_t starlace_GLintptr;
#ifndef GL_ARRAY_BUFFER
#define GL_ARRAY_BUFFER 0x8892
#endif
#ifndef GL_ELEMENT_ARRAY_BUFFER
#define GL_ELEMENT_ARRAY_BUFFER 0x8893
#endif
#ifndef GL_DYNAMIC_DRAW
#define GL_DYNAMIC_DRAW 0x88E8
#endif
#ifndef GL_STREAM_DRAW
#define GL_STREAM_DRAW 0x88E0
#endif
#ifndef GL_STATIC_DRAW
#define GL_STATIC_DRAW 0x88E4
#endif
#ifndef GL_WRITE_ONLY
#define GL_WRITE_ONLY 0x88B9
#endif
#ifndef GL_POINT_SPRITE
#define GL_POINT_SPRITE 0x8861
#endif
#ifndef GL_COORD_REPLACE
#define GL_COORD_REPLACE 0x8862
#endif
#ifndef GL_GENERATE_MIPMAP
#define GL_GENERATE_MIPMAP 0x8191
#endif
#ifndef GL_MULTISAMPLE
#define GL_MULTISAMPLE 0x809D
#endif

// X(return type, name, parameter list, argument list). Entry points of GL 1.1 and GLU.
#define STARLACE_GL_CORE_FUNCS(X)                                                                    \
  X(void, glAlphaFunc, (GLenum func, GLclampf ref), (func, ref))                                     \
  X(void, glBegin, (GLenum mode), (mode))                                                            \
  X(void, glBindTexture, (GLenum target, GLuint texture), (target, texture))                         \
  X(void, glBlendFunc, (GLenum sfactor, GLenum dfactor), (sfactor, dfactor))                         \
  X(void, glClear, (GLbitfield mask), (mask))                                                        \
  X(void, glClearColor, (GLclampf r, GLclampf g, GLclampf b, GLclampf a), (r, g, b, a))              \
  X(void, glClearDepth, (GLclampd depth), (depth))                                                   \
  X(void, glColor4f, (GLfloat r, GLfloat g, GLfloat b, GLfloat a), (r, g, b, a))                     \
  X(void, glColor4ub, (GLubyte r, GLubyte g, GLubyte b, GLubyte a), (r, g, b, a))                    \
  X(void, glDeleteTextures, (GLsizei n, const GLuint* textures), (n, textures))                      \
  X(void, glDepthFunc, (GLenum func), (func))                                                        \
  X(void, glDepthMask, (GLboolean flag), (flag))                                                     \
  X(void, glDisable, (GLenum cap), (cap))                                                            \
  X(void, glDisableClientState, (GLenum array), (array))                                             \
  X(void, glDrawArrays, (GLenum mode, GLint first, GLsizei count), (mode, first, count))             \
  X(void, glDrawElements, (GLenum mode, GLsizei count, GLenum type, const GLvoid* indices),          \
    (mode, count, type, indices))                                                                    \
  X(void, glEnable, (GLenum cap), (cap))                                                             \
  X(void, glEnableClientState, (GLenum array), (array))                                              \
  X(void, glEnd, (void), ())                                                                         \
  X(void, glFinish, (void), ())                                                                      \
  X(void, glFlush, (void), ())                                                                       \
  X(void, glGenTextures, (GLsizei n, GLuint* textures), (n, textures))                               \
  X(GLenum, glGetError, (void), ())                                                                  \
  X(void, glGetFloatv, (GLenum pname, GLfloat* params), (pname, params))                             \
  X(void, glGetIntegerv, (GLenum pname, GLint* params), (pname, params))                             \
  X(const GLubyte*, glGetString, (GLenum name), (name))                                              \
  X(void, glGetTexImage, (GLenum target, GLint level, GLenum format, GLenum type, GLvoid* pixels),   \
    (target, level, format, type, pixels))                                                           \
  X(void, glGetTexParameteriv, (GLenum target, GLenum pname, GLint* params), (target, pname, params)) \
  X(void, glHint, (GLenum target, GLenum mode), (target, mode))                                      \
  X(void, glInterleavedArrays, (GLenum format, GLsizei stride, const GLvoid* pointer),               \
    (format, stride, pointer))                                                                       \
  X(GLboolean, glIsEnabled, (GLenum cap), (cap))                                                     \
  X(void, glLoadIdentity, (void), ())                                                                \
  X(void, glLoadMatrixf, (const GLfloat* m), (m))                                                    \
  X(void, glMatrixMode, (GLenum mode), (mode))                                                       \
  X(void, glMultMatrixf, (const GLfloat* m), (m))                                                    \
  X(void, glNormal3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))                                  \
  X(void, glOrtho, (GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f),         \
    (l, r, b, t, n, f))                                                                              \
  X(void, glPixelStorei, (GLenum pname, GLint param), (pname, param))                                \
  X(void, glPointSize, (GLfloat size), (size))                                                       \
  X(void, glPopMatrix, (void), ())                                                                   \
  X(void, glPushMatrix, (void), ())                                                                  \
  X(void, glReadPixels, (GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type,         \
                         GLvoid* pixels), (x, y, w, h, format, type, pixels))                        \
  X(void, glRotatef, (GLfloat angle, GLfloat x, GLfloat y, GLfloat z), (angle, x, y, z))             \
  X(void, glScalef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))                                    \
  X(void, glShadeModel, (GLenum mode), (mode))                                                       \
  X(void, glTexCoord2f, (GLfloat s, GLfloat t), (s, t))                                              \
  X(void, glTexEnvf, (GLenum target, GLenum pname, GLfloat param), (target, pname, param))           \
  X(void, glTexEnvi, (GLenum target, GLenum pname, GLint param), (target, pname, param))             \
  X(void, glTexImage2D, (GLenum target, GLint level, GLint internalformat, GLsizei width,            \
                         GLsizei height, GLint border, GLenum format, GLenum type,                   \
                         const GLvoid* pixels),                                                      \
    (target, level, internalformat, width, height, border, format, type, pixels))                    \
  X(void, glTexParameteri, (GLenum target, GLenum pname, GLint param), (target, pname, param))       \
  X(void, glTexSubImage2D, (GLenum target, GLint level, GLint xoffset, GLint yoffset, GLsizei width, \
                            GLsizei height, GLenum format, GLenum type, const GLvoid* pixels),       \
    (target, level, xoffset, yoffset, width, height, format, type, pixels))                          \
  X(void, glTranslatef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))                                \
  X(void, glVertex3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))                                  \
  X(void, glVertex3fv, (const GLfloat* v), (v))                                                      \
  X(void, glViewport, (GLint x, GLint y, GLsizei w, GLsizei h), (x, y, w, h))

// GLU entry points (from the GLU library).
#define STARLACE_GLU_FUNCS(X)                                                                        \
  X(void, gluPerspective, (GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar),           \
    (fovy, aspect, zNear, zFar))                                                                     \
  X(void, gluLookAt, (GLdouble ex, GLdouble ey, GLdouble ez, GLdouble cx, GLdouble cy, GLdouble cz,  \
                     GLdouble ux, GLdouble uy, GLdouble uz), (ex, ey, ez, cx, cy, cz, ux, uy, uz))

// Entry points that are extensions or later than GL 1.1: resolved by symbol and, failing that,
// through the GL library's get-proc-address. They may be missing (nullptr) on old drivers.
#define STARLACE_GL_EXT_FUNCS(X)                                                                     \
  X(void, glBindBuffer, (GLenum target, GLuint buffer), (target, buffer))                            \
  X(void, glBufferData, (GLenum target, starlace_GLsizeiptr size, const GLvoid* data, GLenum usage), \
    (target, size, data, usage))                                                                     \
  X(void, glDeleteBuffers, (GLsizei n, const GLuint* buffers), (n, buffers))                         \
  X(void, glGenBuffers, (GLsizei n, GLuint* buffers), (n, buffers))                                  \
  X(GLvoid*, glMapBuffer, (GLenum target, GLenum access), (target, access))                          \
  X(GLboolean, glUnmapBuffer, (GLenum target), (target))                                             \
  X(void, glPointParameterf, (GLenum pname, GLfloat param), (pname, param))

#define STARLACE_GL_ALL_FUNCS(X) STARLACE_GL_CORE_FUNCS(X) STARLACE_GLU_FUNCS(X) STARLACE_GL_EXT_FUNCS(X)

struct GLFunctions {
#define STARLACE_GL_MEMBER(ret, name, params, args) ret(GLAPIENTRY* name) params = nullptr;
  STARLACE_GL_ALL_FUNCS(STARLACE_GL_MEMBER)
#undef STARLACE_GL_MEMBER
};

// The table every caller uses.
extern GLFunctions gl;

// The library names this build opens.
const char* DefaultGLLibraryName();
const char* DefaultGLULibraryName();

// Opens both libraries and resolves every entry point. False when a library is missing or a
// core or GLU entry point cannot be resolved; `error` then says which. Extension entry points
// that are missing stay nullptr.
bool LoadOpenGL(const std::string& gl_library, const std::string& glu_library, std::string* error);
bool LoadOpenGL(std::string* error = nullptr);
// Clears the table and closes the libraries.
void UnloadOpenGL();
// True while the real libraries are loaded.
bool OpenGLLoaded();

// Module initialisation and finalisation of the binding.
void InitGLBindingModule();
void DoneGLBindingModule();
