/* Records the OpenGL and GLU calls the program makes, one line per call with its arguments, so
 * that the bare program can replay exactly the same frame. The frame bench is linked with
 * -Wl,--wrap for each of these functions (see CMakeLists.txt). Recording runs from
 * gltrace_open (the context's set-up and the texture uploads) to the first present, and from
 * each gltrace_mark to the next present; in between a wrapper costs one test of a pointer.
 * Texture uploads carry their pixels after the line. */
#include <GL/gl.h>
#include <GL/glu.h>
#include <stdio.h>

static FILE* file;
static FILE* trace;            /* the file while recording, else null */
void (*gltrace_on_swap)(void); /* the bench's per-present hook, on the main thread */

void gltrace_open(const char* path) { trace = file = fopen(path, "wb"); }
/* Records the next frame under the name of its game state, by which the replay finds it. */
void gltrace_mark(const char* state) {
    trace = file;
    if (trace)
        fprintf(trace, "frame %s\n", state);
}

#define REC(...)                                                                                   \
    if (trace)                                                                                     \
    fprintf(trace, __VA_ARGS__)
#define D "%.17g"

#define WRAP0(name)                                                                                \
    void __real_##name(void);                                                                      \
    void __wrap_##name(void) {                                                                     \
        REC(#name "\n");                                                                           \
        __real_##name();                                                                           \
    }
#define WRAP1(name, T)                                                                             \
    void __real_##name(T);                                                                         \
    void __wrap_##name(T a) {                                                                      \
        REC(#name " " D "\n", (double)a);                                                          \
        __real_##name(a);                                                                          \
    }
#define WRAP2(name, T, U)                                                                          \
    void __real_##name(T, U);                                                                      \
    void __wrap_##name(T a, U b) {                                                                 \
        REC(#name " " D " " D "\n", (double)a, (double)b);                                         \
        __real_##name(a, b);                                                                       \
    }
#define WRAP3(name, T, U, V)                                                                       \
    void __real_##name(T, U, V);                                                                   \
    void __wrap_##name(T a, U b, V c) {                                                            \
        REC(#name " " D " " D " " D "\n", (double)a, (double)b, (double)c);                        \
        __real_##name(a, b, c);                                                                    \
    }
#define WRAP4(name, T, U, V, W)                                                                    \
    void __real_##name(T, U, V, W);                                                                \
    void __wrap_##name(T a, U b, V c, W d) {                                                       \
        REC(#name " " D " " D " " D " " D "\n", (double)a, (double)b, (double)c, (double)d);       \
        __real_##name(a, b, c, d);                                                                 \
    }

WRAP0(glEnd)
WRAP0(glLoadIdentity)
WRAP1(glBegin, GLenum)
WRAP1(glEnable, GLenum)
WRAP1(glDisable, GLenum)
WRAP1(glMatrixMode, GLenum)
WRAP1(glClear, GLbitfield)
WRAP2(glVertex2d, GLdouble, GLdouble)
WRAP2(glTexCoord2d, GLdouble, GLdouble)
WRAP2(glTexCoord2f, GLfloat, GLfloat)
WRAP2(glBindTexture, GLenum, GLuint)
WRAP2(glBlendFunc, GLenum, GLenum)
WRAP2(glHint, GLenum, GLenum)
WRAP2(glPixelStorei, GLenum, GLint)
WRAP3(glVertex3f, GLfloat, GLfloat, GLfloat)
WRAP3(glColor3f, GLfloat, GLfloat, GLfloat)
WRAP3(glTranslatef, GLfloat, GLfloat, GLfloat)
WRAP3(glTexParameteri, GLenum, GLenum, GLint)
WRAP4(glColor4f, GLfloat, GLfloat, GLfloat, GLfloat)
WRAP4(glClearColor, GLclampf, GLclampf, GLclampf, GLclampf)
WRAP4(glViewport, GLint, GLint, GLsizei, GLsizei)

GLboolean __real_glIsEnabled(GLenum);
GLboolean __wrap_glIsEnabled(GLenum cap) {
    REC("glIsEnabled %u\n", cap);
    return __real_glIsEnabled(cap);
}

void __real_glOrtho(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble);
void __wrap_glOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
    REC("glOrtho " D " " D " " D " " D " " D " " D "\n", l, r, b, t, n, f);
    __real_glOrtho(l, r, b, t, n, f);
}

/* The names the program got; the replay maps each to a name of its own. */
void __real_glGenTextures(GLsizei, GLuint*);
void __wrap_glGenTextures(GLsizei n, GLuint* names) {
    __real_glGenTextures(n, names);
    for (GLsizei i = 0; i < n; ++i)
        REC("glGenTextures %u\n", names[i]);
}

static size_t pixel_bytes(GLsizei width, GLsizei height, GLenum format) {
    return (size_t)width * (size_t)height * (format == GL_RGBA ? 4 : 3);
}

void __real_glTexImage2D(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum,
                         const void*);
void __wrap_glTexImage2D(GLenum target, GLint level, GLint internal, GLsizei width, GLsizei height,
                         GLint border, GLenum format, GLenum type, const void* pixels) {
    REC("glTexImage2D %u %d %d %d %d %d %u %u\n", target, level, internal, width, height, border,
        format, type);
    if (trace)
        fwrite(pixels, 1, pixel_bytes(width, height, format), trace);
    __real_glTexImage2D(target, level, internal, width, height, border, format, type, pixels);
}

GLint __real_gluBuild2DMipmaps(GLenum, GLint, GLsizei, GLsizei, GLenum, GLenum, const void*);
GLint __wrap_gluBuild2DMipmaps(GLenum target, GLint internal, GLsizei width, GLsizei height,
                               GLenum format, GLenum type, const void* pixels) {
    REC("gluBuild2DMipmaps %u %d %d %d %u %u\n", target, internal, width, height, format, type);
    if (trace)
        fwrite(pixels, 1, pixel_bytes(width, height, format), trace);
    return __real_gluBuild2DMipmaps(target, internal, width, height, format, type, pixels);
}

/* The program has one quadric at a time, the ball's disc. */
GLUquadric* __real_gluNewQuadric(void);
GLUquadric* __wrap_gluNewQuadric(void) {
    REC("gluNewQuadric\n");
    return __real_gluNewQuadric();
}
void __real_gluQuadricNormals(GLUquadric*, GLenum);
void __wrap_gluQuadricNormals(GLUquadric* q, GLenum normals) {
    REC("gluQuadricNormals %u\n", normals);
    __real_gluQuadricNormals(q, normals);
}
void __real_gluQuadricTexture(GLUquadric*, GLboolean);
void __wrap_gluQuadricTexture(GLUquadric* q, GLboolean on) {
    REC("gluQuadricTexture %u\n", on);
    __real_gluQuadricTexture(q, on);
}
void __real_gluDisk(GLUquadric*, GLdouble, GLdouble, GLint, GLint);
void __wrap_gluDisk(GLUquadric* q, GLdouble inner, GLdouble outer, GLint slices, GLint loops) {
    REC("gluDisk " D " " D " %d %d\n", inner, outer, slices, loops);
    __real_gluDisk(q, inner, outer, slices, loops);
}

/* The present: ends a recorded frame and tells the bench. */
void __real_SDL_GL_SwapWindow(void* window);
void __wrap_SDL_GL_SwapWindow(void* window) {
    __real_SDL_GL_SwapWindow(window);
    if (trace) {
        fputs("swap\n", trace);
        fflush(trace); /* whole, whatever becomes of the process */
        trace = NULL;
    }
    if (gltrace_on_swap)
        gltrace_on_swap();
}
