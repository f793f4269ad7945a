/* The bare program: the least a program needs to put the game's frames on the screen with SDL2,
 * OpenGL and GLU. It replays a trace that brevox_bench recorded from the game (every OpenGL and
 * GLU call, with the pixels of the texture uploads), so both issue the same calls.
 *
 *   brevox_bare frames W H TRACE      at each line "STATE N" on standard input, N timed frames
 *                                     of that game state of the trace, uncapped
 *   brevox_bare pace W H FPS TRACE    at each line "STATE SECONDS", that state for that long
 *                                     with the game's frame cap at FPS frames per second
 *   brevox_bare start W H TRACE       opens the window, the context and the sound device,
 *                                     uploads the textures and presents the menu until stopped
 *   brevox_bare restart W H N TRACE   N rebuilds of the window and the context, textures
 *                                     uploaded again
 *
 * Times are printed in microseconds, one row per figure, as brevox_bench prints them. The window
 * stands at the right edge of the screen, so that it does not hide the game's (at the top left)
 * while the two take turns. */
#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* clang-format off */
enum op {
    op_glEnd, op_glLoadIdentity, op_glBegin, op_glEnable, op_glDisable, op_glMatrixMode,
    op_glClear, op_glVertex2d, op_glTexCoord2d, op_glTexCoord2f, op_glBindTexture,
    op_glBlendFunc, op_glHint, op_glPixelStorei, op_glVertex3f, op_glColor3f, op_glTranslatef,
    op_glTexParameteri, op_glColor4f, op_glClearColor, op_glViewport, op_glIsEnabled, op_glOrtho,
    op_glGenTextures, op_glTexImage2D, op_gluBuild2DMipmaps, op_gluNewQuadric,
    op_gluQuadricNormals, op_gluQuadricTexture, op_gluDisk, op_frame, op_swap, op_count
};
static const char* const op_names[op_count] = {
    "glEnd", "glLoadIdentity", "glBegin", "glEnable", "glDisable", "glMatrixMode", "glClear",
    "glVertex2d", "glTexCoord2d", "glTexCoord2f", "glBindTexture", "glBlendFunc", "glHint",
    "glPixelStorei", "glVertex3f", "glColor3f", "glTranslatef", "glTexParameteri", "glColor4f",
    "glClearColor", "glViewport", "glIsEnabled", "glOrtho", "glGenTextures", "glTexImage2D",
    "gluBuild2DMipmaps", "gluNewQuadric", "gluQuadricNormals", "gluQuadricTexture", "gluDisk",
    "frame", "swap"};
/* clang-format on */

struct call {
    enum op op;
    double a[9];
    char state[16];        /* op_frame */
    unsigned char* pixels; /* uploads */
};

static struct call* calls;
static int call_count;
static GLuint names[65536]; /* the game's texture names to ours */
static GLUquadric* disc;
static SDL_Window* window;
static SDL_GLContext context;

static double now_us(void) {
    return (double)SDL_GetPerformanceCounter() * 1e6 / (double)SDL_GetPerformanceFrequency();
}

static void fail(const char* what) {
    fprintf(stderr, "brevox_bare: %s: %s\n", what, SDL_GetError());
    exit(1);
}

static void load_trace(const char* path) {
    FILE* file = fopen(path, "rb");
    char line[512], name[32];
    if (!file)
        fail(path);
    while (fgets(line, sizeof line, file)) {
        struct call c = {0};
        double* a = c.a;
        if (sscanf(line, "%31s %lf %lf %lf %lf %lf %lf %lf %lf %lf", name, a, a + 1, a + 2, a + 3,
                   a + 4, a + 5, a + 6, a + 7, a + 8) < 1)
            continue;
        for (c.op = 0; c.op < op_count && strcmp(name, op_names[c.op]) != 0; ++c.op)
            ;
        if (c.op == op_count) {
            fprintf(stderr, "brevox_bare: %s: not a call of the trace\n", name);
            exit(1);
        }
        if (c.op == op_frame)
            sscanf(line, "frame %15s", c.state);
        if (c.op == op_glTexImage2D || c.op == op_gluBuild2DMipmaps) {
            const int at = c.op == op_glTexImage2D ? 3 : 2; /* width, height, format */
            const size_t bytes = (size_t)a[at] * (size_t)a[at + 1] *
                                 ((GLenum)a[c.op == op_glTexImage2D ? 6 : 4] == GL_RGBA ? 4 : 3);
            c.pixels = malloc(bytes);
            if (!c.pixels || fread(c.pixels, 1, bytes, file) != bytes)
                fail("truncated trace");
        }
        calls = realloc(calls, sizeof *calls * (size_t)(call_count + 1));
        if (!calls)
            fail("out of memory");
        calls[call_count++] = c;
    }
    fclose(file);
}

#define E(i) ((GLenum)a[i])
#define F(i) ((GLfloat)a[i])
#define I(i) ((GLint)a[i])

static void replay(int from, int to) {
    for (int i = from; i < to; ++i) {
        const double* a = calls[i].a;
        /* clang-format off */
        switch (calls[i].op) {
        case op_glEnd: glEnd(); break;
        case op_glLoadIdentity: glLoadIdentity(); break;
        case op_glBegin: glBegin(E(0)); break;
        case op_glEnable: glEnable(E(0)); break;
        case op_glDisable: glDisable(E(0)); break;
        case op_glMatrixMode: glMatrixMode(E(0)); break;
        case op_glClear: glClear((GLbitfield)a[0]); break;
        case op_glVertex2d: glVertex2d(a[0], a[1]); break;
        case op_glTexCoord2d: glTexCoord2d(a[0], a[1]); break;
        case op_glTexCoord2f: glTexCoord2f(F(0), F(1)); break;
        case op_glBindTexture: glBindTexture(E(0), names[(GLuint)a[1] & 0xFFFF]); break;
        case op_glBlendFunc: glBlendFunc(E(0), E(1)); break;
        case op_glHint: glHint(E(0), E(1)); break;
        case op_glPixelStorei: glPixelStorei(E(0), I(1)); break;
        case op_glVertex3f: glVertex3f(F(0), F(1), F(2)); break;
        case op_glColor3f: glColor3f(F(0), F(1), F(2)); break;
        case op_glTranslatef: glTranslatef(F(0), F(1), F(2)); break;
        case op_glTexParameteri: glTexParameteri(E(0), E(1), I(2)); break;
        case op_glColor4f: glColor4f(F(0), F(1), F(2), F(3)); break;
        case op_glClearColor: glClearColor(F(0), F(1), F(2), F(3)); break;
        case op_glViewport: glViewport(I(0), I(1), I(2), I(3)); break;
        case op_glIsEnabled: glIsEnabled(E(0)); break;
        case op_glOrtho: glOrtho(a[0], a[1], a[2], a[3], a[4], a[5]); break;
        case op_glGenTextures: glGenTextures(1, &names[(GLuint)a[0] & 0xFFFF]); break;
        case op_glTexImage2D:
            glTexImage2D(E(0), I(1), I(2), I(3), I(4), I(5), E(6), E(7), calls[i].pixels);
            break;
        case op_gluBuild2DMipmaps:
            gluBuild2DMipmaps(E(0), I(1), I(2), I(3), E(4), E(5), calls[i].pixels);
            break;
        case op_gluNewQuadric: disc = gluNewQuadric(); break;
        case op_gluQuadricNormals: gluQuadricNormals(disc, E(0)); break;
        case op_gluQuadricTexture: gluQuadricTexture(disc, (GLboolean)a[0]); break;
        case op_gluDisk: gluDisk(disc, a[0], a[1], I(2), I(3)); break;
        default: break;
        }
        /* clang-format on */
    }
}

/* The calls before the first frame: the context's set-up and the texture uploads. */
static int setup_end(void) {
    int i = 0;
    while (i < call_count && calls[i].op != op_frame)
        ++i;
    return i;
}

static void open_window(int width, int height) {
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Rect screen = {0, 0, width, height};
    SDL_GetDisplayBounds(0, &screen);
    window = SDL_CreateWindow("bare", screen.x + screen.w - width, screen.y, width, height,
                              SDL_WINDOW_OPENGL);
    if (!window || !(context = SDL_GL_CreateContext(window)))
        fail("window");
    SDL_GL_SetSwapInterval(0);
    replay(0, setup_end());
}

/* Once uploaded the pixels are no longer needed: the game too frees each picture it uploaded. */
static void drop_pixels(void) {
    for (int i = 0; i < call_count; ++i) {
        free(calls[i].pixels);
        calls[i].pixels = NULL;
    }
}

static void close_window(void) {
    gluDeleteQuadric(disc);
    disc = NULL;
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
}

/* Outside the timed frame, as the game's message pump is outside its frame. */
static void drain_events(void) {
    SDL_Event event;
    while (SDL_PollEvent(&event))
        ;
}

static void frame(int from) {
    int to = from + 1;
    while (to < call_count && calls[to].op != op_swap)
        ++to;
    replay(from + 1, to);
    SDL_GL_SwapWindow(window);
}

/* The recorded frame of the state named `state`, or -1. */
static int find_frame(const char* state) {
    for (int f = 0; f < call_count; ++f)
        if (calls[f].op == op_frame && strcmp(calls[f].state, state) == 0)
            return f;
    return -1;
}

static void end_row(void) {
    printf("\n");
    fflush(stdout); /* the other side waits for it */
}

static void time_frames(int width, int height, int f, double count) {
    printf("frame %dx%d %s", width, height, calls[f].state);
    for (int i = -(int)count / 10; i < count; ++i) { /* the first tenth warms up */
        drain_events();
        const double start = now_us();
        frame(f);
        if (i >= 0)
            printf(" %.1f", now_us() - start);
    }
    end_row();
}

/* As the game's main loop at its cap: events, the frame, then a busy wait until the frame has
 * lasted 1000 / max_fps whole milliseconds since the reading that ended the last wait. The row
 * holds the time from the first present to the last, then the time between presents. */
static void pace_frames(int width, int height, int f, double seconds, int max_fps) {
    static double intervals[1 << 16];
    const double minimum_us = 1000.0 * (max_fps > 0 ? 1000 / max_fps : 0);
    int count = 0;
    double frame_start = now_us(), first_present = 0, last_present = 0;
    for (;;) {
        drain_events();
        frame(f);
        const double presented = now_us();
        if (first_present == 0)
            first_present = presented;
        else if (count < (int)(sizeof intervals / sizeof *intervals))
            intervals[count++] = presented - last_present;
        last_present = presented;
        if (presented - first_present >= seconds * 1e6)
            break;
        double now;
        while ((now = now_us()) - frame_start < minimum_us)
            ;
        frame_start = now;
    }
    printf("pace %dx%d %s %.1f", width, height, calls[f].state, last_present - first_present);
    for (int i = 0; i < count; ++i)
        printf(" %.1f", intervals[i]);
    end_row();
}

/* Runs each line "STATE ARGUMENT" of standard input, to its end: timed frames, or paced ones
 * when `paced`. */
static void take_orders(int width, int height, int paced, int max_fps) {
    char state[16];
    double argument;
    while (scanf("%15s %lf", state, &argument) == 2) {
        const int f = find_frame(state);
        if (f < 0) {
            fprintf(stderr, "brevox_bare: no frame of '%s' in the trace\n", state);
            exit(1);
        }
        if (paced)
            pace_frames(width, height, f, argument, max_fps);
        else
            time_frames(width, height, f, argument);
    }
}

static void silence(void* unused, Uint8* stream, int bytes) {
    (void)unused;
    memset(stream, 0, (size_t)bytes);
}

static void open_sound(void) {
    SDL_AudioSpec want = {0};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = silence;
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(NULL, 0, &want, NULL, 0);
    if (device)
        SDL_PauseAudioDevice(device, 0);
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    const int width = argc > 3 ? atoi(argv[2]) : 0, height = argc > 3 ? atoi(argv[3]) : 0;
    const int count = argc > 4 ? atoi(argv[4]) : 0;
    if (argc < 5 || SDL_Init(SDL_INIT_VIDEO) != 0)
        fail("usage: brevox_bare frames|pace|start|restart W H [N|FPS] TRACE");
    load_trace(argv[argc - 1]);
    if (strcmp(mode, "start") == 0) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0)
            open_sound();
        open_window(width, height);
        drop_pixels();
        for (;;) {
            drain_events();
            frame(setup_end()); /* the preloaded shim ends the process */
        }
    }
    open_window(width, height);
    if (strcmp(mode, "frames") == 0)
        take_orders(width, height, 0, 0);
    if (strcmp(mode, "pace") == 0)
        take_orders(width, height, 1, count);
    if (strcmp(mode, "restart") == 0) {
        printf("restart %dx%d", width, height);
        for (int i = 0; i < count; ++i) {
            const double start = now_us();
            close_window();
            open_window(width, height);
            printf(" %.1f", now_us() - start);
        }
        printf("\n");
    }
    close_window();
    SDL_Quit();
    return 0;
}
