#include "tests/support/fake_gl.h"

#include <cstring>

namespace {
FakeGL* g_current = nullptr;

template <typename T>
double as_number(T v) {
  if constexpr (std::is_pointer<T>::value) {
    return 0.0;
  } else {
    return static_cast<double>(v);
  }
}

template <typename... A>
std::vector<double> numbers(A... a) {
  return std::vector<double>{as_number(a)...};
}

// The argument list is built only while recording, so a fake with recording off allocates nothing.
#define FAKE_RECORD(name, ...) \
  if (g_current && g_current->recording) g_current->Record(#name, numbers(__VA_ARGS__))

// Entry points with behaviour are written out; the rest only record (FAKE_PLAIN below).
#define STARLACE_UNPAREN(...) __VA_ARGS__

void GLAPIENTRY fake_glGetFloatv(GLenum pname, GLfloat* params) {
  FAKE_RECORD(glGetFloatv, pname);
  if (!g_current || !params) return;
  if (pname == GL_MODELVIEW_MATRIX) std::memcpy(params, g_current->modelview.data(), 16 * sizeof(float));
  else if (pname == GL_PROJECTION_MATRIX) std::memcpy(params, g_current->projection.data(), 16 * sizeof(float));
  else params[0] = 0.0f;
}

void GLAPIENTRY fake_glGetIntegerv(GLenum pname, GLint* params) {
  FAKE_RECORD(glGetIntegerv, pname);
  if (!g_current || !params) return;
  if (pname == GL_VIEWPORT) {
    for (int i = 0; i < 4; ++i) params[i] = g_current->viewport[static_cast<size_t>(i)];
  } else if (pname == GL_MAX_TEXTURE_SIZE) {
    params[0] = 4096;
  } else {
    params[0] = 0;
  }
}

const GLubyte* GLAPIENTRY fake_glGetString(GLenum name) {
  FAKE_RECORD(glGetString, name);
  if (!g_current) return nullptr;
  static const char* vendor = "starlace fake";
  if (name == GL_EXTENSIONS) return reinterpret_cast<const GLubyte*>(g_current->extensions.c_str());
  return reinterpret_cast<const GLubyte*>(vendor);
}

void GLAPIENTRY fake_glGenTextures(GLsizei n, GLuint* textures) {
  FAKE_RECORD(glGenTextures, n);
  for (GLsizei i = 0; g_current && i < n; ++i) textures[i] = g_current->next_texture++;
}

void GLAPIENTRY fake_glGenBuffers(GLsizei n, GLuint* buffers) {
  FAKE_RECORD(glGenBuffers, n);
  for (GLsizei i = 0; g_current && i < n; ++i) buffers[i] = g_current->next_buffer++;
}

void GLAPIENTRY fake_glBindBuffer(GLenum target, GLuint buffer) {
  FAKE_RECORD(glBindBuffer, target, buffer);
  if (g_current && target == GL_ARRAY_BUFFER) g_current->bound_array_buffer = buffer;
}

void GLAPIENTRY fake_glBufferData(GLenum target, starlace_GLsizeiptr size, const GLvoid* data, GLenum usage) {
  FAKE_RECORD(glBufferData, target, size, data, usage);
  if (!g_current) return;
  auto& store = g_current->buffer_data;
  const uint32_t name = g_current->bound_array_buffer;
  if (store.size() <= name) store.resize(name + 1);
  store[name].assign(static_cast<size_t>(size), 0);
}

GLvoid* GLAPIENTRY fake_glMapBuffer(GLenum target, GLenum access) {
  FAKE_RECORD(glMapBuffer, target, access);
  if (!g_current) return nullptr;
  const uint32_t name = g_current->bound_array_buffer;
  auto& store = g_current->buffer_data;
  if (name >= store.size() || store[name].empty()) return nullptr;
  return store[name].data();
}

GLboolean GLAPIENTRY fake_glUnmapBuffer(GLenum target) {
  FAKE_RECORD(glUnmapBuffer, target);
  return GL_TRUE;
}

void GLAPIENTRY fake_glGetTexParameteriv(GLenum target, GLenum pname, GLint* params) {
  FAKE_RECORD(glGetTexParameteriv, target, pname);
  if (g_current && params) params[0] = g_current->texture_param;
}

void GLAPIENTRY fake_glInterleavedArrays(GLenum format, GLsizei stride, const GLvoid* pointer) {
  FAKE_RECORD(glInterleavedArrays, format, stride);
  if (g_current) {
    g_current->interleaved_pointer = pointer;
    g_current->interleaved_format = format;
  }
}

GLenum GLAPIENTRY fake_glGetError() {
  FAKE_RECORD(glGetError);
  return GL_NO_ERROR;
}

GLboolean GLAPIENTRY fake_glIsEnabled(GLenum cap) {
  FAKE_RECORD(glIsEnabled, cap);
  return GL_FALSE;
}

void GLAPIENTRY fake_glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height,
                                  GLint border, GLenum format, GLenum type, const GLvoid* pixels) {
  FAKE_RECORD(glTexImage2D, target, level, internalformat, width, height, border, format, type, pixels);
  if (!g_current || format != GL_RGBA || type != GL_UNSIGNED_BYTE || !pixels || width < 0 || height < 0) return;
  const auto* bytes = static_cast<const uint8_t*>(pixels);
  g_current->tex_image.assign(bytes, bytes + static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  g_current->tex_image_width = width;
  g_current->tex_image_height = height;
}

// Entry points without behaviour: record only.
#define FAKE_PLAIN(ret, name, params, args) \
  ret GLAPIENTRY fake_##name params { FAKE_RECORD(name, STARLACE_UNPAREN args); }

FAKE_PLAIN(void, glAlphaFunc, (GLenum func, GLclampf ref), (func, ref))
FAKE_PLAIN(void, glBegin, (GLenum mode), (mode))
FAKE_PLAIN(void, glBindTexture, (GLenum target, GLuint texture), (target, texture))
FAKE_PLAIN(void, glBlendFunc, (GLenum sfactor, GLenum dfactor), (sfactor, dfactor))
FAKE_PLAIN(void, glClear, (GLbitfield mask), (mask))
FAKE_PLAIN(void, glClearColor, (GLclampf r, GLclampf g, GLclampf b, GLclampf a), (r, g, b, a))
FAKE_PLAIN(void, glClearDepth, (GLclampd depth), (depth))
FAKE_PLAIN(void, glColor4f, (GLfloat r, GLfloat g, GLfloat b, GLfloat a), (r, g, b, a))
FAKE_PLAIN(void, glColor4ub, (GLubyte r, GLubyte g, GLubyte b, GLubyte a), (r, g, b, a))
FAKE_PLAIN(void, glDeleteTextures, (GLsizei n, const GLuint* textures), (n, textures ? textures[0] : 0))
FAKE_PLAIN(void, glDepthFunc, (GLenum func), (func))
FAKE_PLAIN(void, glDepthMask, (GLboolean flag), (flag))
FAKE_PLAIN(void, glDisable, (GLenum cap), (cap))
FAKE_PLAIN(void, glDisableClientState, (GLenum array), (array))
FAKE_PLAIN(void, glDrawArrays, (GLenum mode, GLint first, GLsizei count), (mode, first, count))
FAKE_PLAIN(void, glDrawElements, (GLenum mode, GLsizei count, GLenum type, const GLvoid* indices),
           (mode, count, type, indices))
FAKE_PLAIN(void, glEnable, (GLenum cap), (cap))
FAKE_PLAIN(void, glEnableClientState, (GLenum array), (array))
FAKE_PLAIN(void, glEnd, (void), ())
FAKE_PLAIN(void, glFinish, (void), ())
FAKE_PLAIN(void, glFlush, (void), ())
FAKE_PLAIN(void, glGetTexImage, (GLenum target, GLint level, GLenum format, GLenum type, GLvoid* pixels),
           (target, level, format, type, pixels))
FAKE_PLAIN(void, glHint, (GLenum target, GLenum mode), (target, mode))
FAKE_PLAIN(void, glLoadIdentity, (void), ())
FAKE_PLAIN(void, glLoadMatrixf, (const GLfloat* m), (m))
FAKE_PLAIN(void, glMatrixMode, (GLenum mode), (mode))
FAKE_PLAIN(void, glMultMatrixf, (const GLfloat* m), (m))
FAKE_PLAIN(void, glNormal3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))
FAKE_PLAIN(void, glOrtho, (GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f),
           (l, r, b, t, n, f))
FAKE_PLAIN(void, glPixelStorei, (GLenum pname, GLint param), (pname, param))
FAKE_PLAIN(void, glPointSize, (GLfloat size), (size))
FAKE_PLAIN(void, glPopMatrix, (void), ())
FAKE_PLAIN(void, glPushMatrix, (void), ())
FAKE_PLAIN(void, glReadPixels, (GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type, GLvoid* pixels),
           (x, y, w, h, format, type, pixels))
FAKE_PLAIN(void, glRotatef, (GLfloat angle, GLfloat x, GLfloat y, GLfloat z), (angle, x, y, z))
FAKE_PLAIN(void, glScalef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))
FAKE_PLAIN(void, glShadeModel, (GLenum mode), (mode))
FAKE_PLAIN(void, glTexCoord2f, (GLfloat s, GLfloat t), (s, t))
FAKE_PLAIN(void, glTexEnvf, (GLenum target, GLenum pname, GLfloat param), (target, pname, param))
FAKE_PLAIN(void, glTexEnvi, (GLenum target, GLenum pname, GLint param), (target, pname, param))
FAKE_PLAIN(void, glTexParameteri, (GLenum target, GLenum pname, GLint param), (target, pname, param))
FAKE_PLAIN(void, glTexSubImage2D, (GLenum target, GLint level, GLint xoffset, GLint yoffset, GLsizei width,
                                   GLsizei height, GLenum format, GLenum type, const GLvoid* pixels),
           (target, level, xoffset, yoffset, width, height, format, type, pixels))
FAKE_PLAIN(void, glTranslatef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))
FAKE_PLAIN(void, glVertex3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))
FAKE_PLAIN(void, glVertex3fv, (const GLfloat* v), (v ? v[0] : 0, v ? v[1] : 0, v ? v[2] : 0))
FAKE_PLAIN(void, glViewport, (GLint x, GLint y, GLsizei w, GLsizei h), (x, y, w, h))
FAKE_PLAIN(void, gluPerspective, (GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar),
           (fovy, aspect, zNear, zFar))
FAKE_PLAIN(void, gluLookAt, (GLdouble ex, GLdouble ey, GLdouble ez, GLdouble cx, GLdouble cy, GLdouble cz,
                             GLdouble ux, GLdouble uy, GLdouble uz), (ex, ey, ez, cx, cy, cz, ux, uy, uz))
FAKE_PLAIN(void, glDeleteBuffers, (GLsizei n, const GLuint* buffers), (n, buffers ? buffers[0] : 0))
FAKE_PLAIN(void, glPointParameterf, (GLenum pname, GLfloat param), (pname, param))
}  // namespace

FakeGL::FakeGL() {
  SetIdentity(modelview);
  SetIdentity(projection);
  Install();
}

FakeGL::~FakeGL() {
  if (g_current == this) {
    g_current = nullptr;
    gl = GLFunctions{};
  }
}

FakeGL* FakeGL::Current() { return g_current; }

void FakeGL::Install() {
  g_current = this;
#define FAKE_ASSIGN(ret, name, params, args) gl.name = &fake_##name;
  STARLACE_GL_ALL_FUNCS(FAKE_ASSIGN)
#undef FAKE_ASSIGN
  if (!buffer_objects) {
    gl.glBindBuffer = nullptr;
    gl.glBufferData = nullptr;
    gl.glDeleteBuffers = nullptr;
    gl.glGenBuffers = nullptr;
    gl.glMapBuffer = nullptr;
    gl.glUnmapBuffer = nullptr;
  }
}

void FakeGL::Record(const char* name, std::vector<double> args) {
  if (recording) calls.push_back(GLCall{name, std::move(args)});
}

size_t FakeGL::Count(const std::string& name) const {
  size_t n = 0;
  for (const auto& c : calls) n += c.name == name;
  return n;
}

const GLCall* FakeGL::Last(const std::string& name) const {
  for (auto it = calls.rbegin(); it != calls.rend(); ++it)
    if (it->name == name) return &*it;
  return nullptr;
}

std::vector<const GLCall*> FakeGL::All(const std::string& name) const {
  std::vector<const GLCall*> out;
  for (const auto& c : calls)
    if (c.name == name) out.push_back(&c);
  return out;
}

void FakeGL::SetIdentity(std::array<float, 16>& m) {
  m.fill(0.0f);
  m[0] = m[5] = m[10] = m[15] = 1.0f;
}
