// Frame-time probe for a kiv binary, loaded with LD_PRELOAD: the game as it
// is (SDL2) or as it was (SDL 1.2, presenting with SDL_Flip). It needs no
// SDL headers: it wraps the calls that present a frame and the C allocator.
//
// SIGUSR2 marks the start and then the end of the play measured. At the
// exit it writes one line of key=value pairs to KIV_PROBE_OUT: the time of
// the first presented frame, and over the play the frames per second, frame
// times (median, p99, max), CPU seconds per second of play (the main thread
// outside the present, inside it, the whole process) and heap allocations
// per frame (main thread: called from the game's own code, from libraries).
// SIGUSR1 asks for a snapshot: after the next present of an SDL2 build the
// probe writes the picture that was handed to SDL (the game's screen through
// its palette) to KIV_PROBE_OUT.ppm, creates KIV_PROBE_OUT.ready and holds
// the game still until a second SIGUSR1 (or 10 s), for a screenshot of the
// window to compare with.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* ptr, size_t size);
}

namespace {

constexpr int MAX_FRAMES = 1 << 16;
int64_t frame_ns[MAX_FRAMES];   // CLOCK_MONOTONIC at each present in the play
int frames;
int64_t first_real_ns, start_cpu[3], end_cpu[3], in_present_ns;
long allocs_game, allocs_lib;
volatile sig_atomic_t phase;      // 0 before the play, 1 in it, 2 after it
volatile sig_atomic_t snapshot;   // 0 idle, 1 asked, 2 holding
uintptr_t game_start, game_end;   // the executable's code
pthread_t main_thread;
bool started;

int64_t now(clockid_t clock)
{
    timespec ts;
    clock_gettime(clock, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The main thread's CPU time, whichever thread asks (a signal may come to
// any of them).
int64_t main_cpu()
{
    clockid_t clock;
    return pthread_getcpuclockid(main_thread, &clock) == 0 ? now(clock) : 0;
}

void cpu_now(int64_t out[3])
{
    out[0] = main_cpu();
    out[1] = in_present_ns;
    out[2] = now(CLOCK_PROCESS_CPUTIME_ID);
}

int find_game(dl_phdr_info* info, size_t, void*)
{
    for (int i = 0; i < info->dlpi_phnum; i++)
        if (info->dlpi_phdr[i].p_type == PT_LOAD && (info->dlpi_phdr[i].p_flags & PF_X)) {
            game_start = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
            game_end = game_start + info->dlpi_phdr[i].p_memsz;
        }
    return 1;   // the executable is the first object: stop there
}

inline void count(void* caller)
{
    if (phase != 1 || !pthread_equal(pthread_self(), main_thread))
        return;
    uintptr_t pc = reinterpret_cast<uintptr_t>(caller);
    (pc >= game_start && pc < game_end ? allocs_game : allocs_lib)++;
}

void on_signal(int sig)
{
    if (sig == SIGUSR1) {
        snapshot = snapshot == 0 ? 1 : 0;
    } else if (phase < 2 && started) {
        cpu_now(phase == 0 ? start_cpu : end_cpu);
        phase++;
    }
}

template <typename F>
F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The picture of the frame just presented, `pixel` giving each pixel's
// colour; then the game is held still.
template <typename Pixel>
void write_snapshot(int w, int h, Pixel pixel)
{
    const char* out = std::getenv("KIV_PROBE_OUT");
    if (!out)
        return;
    char path[4096];
    std::snprintf(path, sizeof path, "%s.ppm", out);
    if (std::FILE* f = std::fopen(path, "wb")) {
        std::fprintf(f, "P6\n%d %d\n255\n", w, h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                unsigned char rgb[3];
                pixel(x, y, rgb);
                std::fwrite(rgb, 1, 3, f);
            }
        std::fclose(f);
    }
    std::snprintf(path, sizeof path, "%s.ready", out);
    close(open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644));
    snapshot = 2;
    for (int i = 0; i < 1000 && snapshot == 2; i++)
        usleep(10000);
    snapshot = 0;
}

// Around every present: the present's own CPU time and the frame's time.
template <typename F>
auto present(F&& call)
{
    if (!started) {
        started = true;
        main_thread = pthread_self();
        first_real_ns = now(CLOCK_REALTIME);
        dl_iterate_phdr(find_game, nullptr);
    }
    int64_t cpu = now(CLOCK_THREAD_CPUTIME_ID);
    auto result = call();
    in_present_ns += now(CLOCK_THREAD_CPUTIME_ID) - cpu;
    if (phase == 1 && frames < MAX_FRAMES)
        frame_ns[frames++] = now(CLOCK_MONOTONIC);
    return result;
}

__attribute__((constructor)) void probe_start()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &sa, nullptr);
    sigaction(SIGUSR2, &sa, nullptr);
}

__attribute__((destructor)) void probe_stop()
{
    const char* out = std::getenv("KIV_PROBE_OUT");
    std::FILE* f = out ? std::fopen(out, "w") : nullptr;
    if (!f)
        return;
    int n = frames - 1;
    if (phase < 2 || n < 2) {
        std::fprintf(f, "error=no-play-measured\n");
        std::fclose(f);
        return;
    }
    static int64_t gaps[MAX_FRAMES];
    for (int i = 0; i < n; i++)
        gaps[i] = frame_ns[i + 1] - frame_ns[i];
    std::sort(gaps, gaps + n);
    double span = (frame_ns[n] - frame_ns[0]) / 1e9;
    double present = (end_cpu[1] - start_cpu[1]) / 1e9;
    std::fprintf(f,
                 "first_frame_real_ns=%lld fps=%.1f frame_median_ms=%.2f frame_p99_ms=%.2f frame_max_ms=%.2f "
                 "cpu_game=%.4f cpu_present=%.4f cpu_process=%.4f allocs_game=%.2f allocs_lib=%.2f\n",
                 static_cast<long long>(first_real_ns), n / span, gaps[n / 2] / 1e6, gaps[n * 99 / 100] / 1e6,
                 gaps[n - 1] / 1e6, ((end_cpu[0] - start_cpu[0]) / 1e9 - present) / span, present / span,
                 (end_cpu[2] - start_cpu[2]) / 1e9 / span, double(allocs_game) / n, double(allocs_lib) / n);
    std::fclose(f);
}

} // namespace

extern "C" {

// SDL 1.2.
int SDL_Flip(void* surface)
{
    static auto call = real<int (*)(void*)>("SDL_Flip");
    return present([&] { return call(surface); });
}

// SDL2: the window's own framebuffer, and a renderer's present; a snapshot
// takes the pixels as the game handed them over.
struct Surface2 {   // the first fields of SDL2's SDL_Surface
    std::uint32_t flags;
    void* format;
    int w, h, pitch;
    void* pixels;
};

int SDL_UpdateWindowSurface(void* window)
{
    static auto call = real<int (*)(void*)>("SDL_UpdateWindowSurface");
    int result = present([&] { return call(window); });
    if (snapshot == 1) {
        auto surface = reinterpret_cast<Surface2* (*)(void*)>(dlsym(RTLD_DEFAULT, "SDL_GetWindowSurface"))(window);
        auto get_rgb = reinterpret_cast<void (*)(std::uint32_t, void*, unsigned char*, unsigned char*,
                                                 unsigned char*)>(dlsym(RTLD_DEFAULT, "SDL_GetRGB"));
        write_snapshot(surface->w, surface->h, [&](int x, int y, unsigned char* rgb) {
            auto p = static_cast<std::uint32_t*>(surface->pixels)[y * surface->pitch / 4 + x];
            get_rgb(p, surface->format, rgb, rgb + 1, rgb + 2);
        });
    }
    return result;
}

// A renderer's frame is taken as the game writes it into the texture
// (ARGB8888, as the game asks for).
static std::uint32_t texture_frame[480][640];
static bool frame_taken;
static void* locked_pixels;
static int locked_pitch;

int SDL_LockTexture(void* texture, const void* rect, void** pixels, int* pitch)
{
    static auto call = real<int (*)(void*, const void*, void**, int*)>("SDL_LockTexture");
    int result = call(texture, rect, pixels, pitch);
    locked_pixels = *pixels;
    locked_pitch = *pitch;
    return result;
}

void SDL_UnlockTexture(void* texture)
{
    static auto call = real<void (*)(void*)>("SDL_UnlockTexture");
    if (snapshot == 1 && locked_pixels) {
        for (int y = 0; y < 480; y++)
            std::memcpy(texture_frame[y], static_cast<char*>(locked_pixels) + y * locked_pitch, sizeof texture_frame[y]);
        frame_taken = true;
    }
    call(texture);
}

void SDL_RenderPresent(void* renderer)
{
    static auto call = real<void (*)(void*)>("SDL_RenderPresent");
    present([&] {
        call(renderer);
        return 0;
    });
    if (snapshot == 1 && frame_taken)
        write_snapshot(640, 480, [](int x, int y, unsigned char* rgb) {
            std::uint32_t p = texture_frame[y][x];
            rgb[0] = p >> 16 & 255, rgb[1] = p >> 8 & 255, rgb[2] = p & 255;
        });
}

void* malloc(size_t size)
{
    count(__builtin_return_address(0));
    return __libc_malloc(size);
}

void* calloc(size_t n, size_t size)
{
    count(__builtin_return_address(0));
    return __libc_calloc(n, size);
}

void* realloc(void* ptr, size_t size)
{
    count(__builtin_return_address(0));
    return __libc_realloc(ptr, size);
}

} // extern "C"
