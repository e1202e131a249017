// Frame-time probe for the real kiv binary, loaded with LD_PRELOAD.
//
// It wraps SDL_Flip and the C allocator and, when the process exits, writes
// what it saw to the file named by KIV_PROBE_OUT (nothing without it):
//   - per presented frame: monotonic and wall-clock time when SDL_Flip
//     returned, the main thread's CPU time inside SDL_Flip and outside it
//     (steps and drawing; sleeping in SDL_Delay costs no CPU), the process
//     CPU time, and the heap allocations made since the previous present,
//     split into the game's own code, libraries, and other threads;
//   - the wall time spent before the first frame in SDL_Init,
//     SDL_SetVideoMode, IMG_Load and SDL_ConvertSurface;
//   - the SDL2 renderer that presents the window (under sdl12-compat);
//   - the libraries that allocated on the main thread after the first frame,
//     and the game's own allocation sites (offsets into the executable, for
//     addr2line).
// SIGUSR1 asks for a snapshot: after the next present the probe writes the
// frame it just presented (the 8-bit screen through its palette) to
// KIV_PROBE_OUT.ppm, creates KIV_PROBE_OUT.ready and holds the game still
// until a second SIGUSR1 (or 10 s), so that a screenshot of the window can be
// compared with what the game drew.
//
// The probe allocates nothing itself: every table is a fixed static array.

#include <SDL.h>

#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

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
void __libc_free(void* ptr);
}

namespace {

struct FrameRecord {
    int64_t mono_ns;     // CLOCK_MONOTONIC when SDL_Flip returned
    int64_t real_ns;     // CLOCK_REALTIME, the same moment
    int64_t cpu_in_ns;   // main thread CPU inside SDL_Flip
    int64_t cpu_out_ns;  // main thread CPU since the previous SDL_Flip returned
    int64_t proc_ns;     // process CPU (all threads) when SDL_Flip returned
    int32_t allocs_game; // main thread, called from the executable
    int32_t allocs_lib;  // main thread, called from a library
    int32_t allocs_other;// any other thread (audio mixing, X, ...)
    int32_t held;        // 1 when this frame was held still for a snapshot
};

constexpr int MAX_FRAMES = 1 << 17;   // about 22 minutes at 100 frames/s
FrameRecord frames[MAX_FRAMES];
std::atomic<int> frame_count{0};

// Address ranges of the loaded objects, for telling callers apart.
struct ObjectRange {
    uintptr_t start;
    uintptr_t end;
    const char* name;   // owned by the dynamic loader
    int kind;           // see ObjectKind
    long allocs;        // main-thread allocations attributed to it after start-up
};
enum ObjectKind { OBJ_GAME, OBJ_PROBE, OBJ_RUNTIME, OBJ_LIBRARY };
constexpr int MAX_RANGES = 256;
ObjectRange ranges[MAX_RANGES];
int range_count;

// The game's own allocation sites after start-up.
struct Site {
    uintptr_t offset;   // return address minus the executable's load bias
    long count;
};
constexpr int MAX_SITES = 32;
Site sites[MAX_SITES];
uintptr_t game_bias;

__thread int busy __attribute__((tls_model("initial-exec")));

std::atomic<bool> recording{false};
pthread_t main_thread;
int64_t first_flip_real_ns;
int64_t first_flip_mono_ns;
int64_t load_real_ns;
int64_t last_flip_end_cpu;
std::atomic<int> allocs_game{0}, allocs_lib{0}, allocs_other{0};
long allocs_startup;
std::atomic<long> frees_total{0};

// Snapshot hand-shake: 0 idle, 1 requested, 2 holding, 3 released.
volatile sig_atomic_t snapshot_state;

int (*real_flip)(SDL_Surface*);
// Start-up: wall time spent in the slow calls before the first frame.
int64_t init_ns, set_mode_ns, image_load_ns, image_convert_ns;
int image_loads;
char renderer_name[64] = "-";

// Under sdl12-compat, the SDL2 renderer that presents the window.
void find_renderer()
{
    void* sdl2 = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (!sdl2)
        return;
    struct RendererInfo {
        const char* name;
        Uint32 flags;
        Uint32 num_texture_formats;
        Uint32 texture_formats[16];
        int max_texture_width;
        int max_texture_height;
    };
    auto window_from_id = reinterpret_cast<void* (*)(Uint32)>(dlsym(sdl2, "SDL_GetWindowFromID"));
    auto get_renderer = reinterpret_cast<void* (*)(void*)>(dlsym(sdl2, "SDL_GetRenderer"));
    auto get_info = reinterpret_cast<int (*)(void*, RendererInfo*)>(dlsym(sdl2, "SDL_GetRendererInfo"));
    if (window_from_id && get_renderer && get_info) {
        for (Uint32 id = 1; id < 8; id++) {
            void* window = window_from_id(id);
            void* renderer = window ? get_renderer(window) : nullptr;
            RendererInfo info;
            if (renderer && get_info(renderer, &info) == 0 && info.name) {
                std::snprintf(renderer_name, sizeof renderer_name, "%s", info.name);
                break;
            }
        }
    }
    dlclose(sdl2);
}

int64_t now_ns(clockid_t clock)
{
    timespec ts;
    clock_gettime(clock, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

const char* base_name(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

int classify_name(const char* name, bool is_main_program)
{
    if (is_main_program)
        return OBJ_GAME;
    const char* base = base_name(name);
    if (std::strstr(base, "kiv_probe"))
        return OBJ_PROBE;
    // operator new and strdup live here; their caller decides.
    if (std::strncmp(base, "libstdc++", 9) == 0 || std::strncmp(base, "libc.so", 7) == 0)
        return OBJ_RUNTIME;
    return OBJ_LIBRARY;
}

int add_ranges(dl_phdr_info* info, size_t, void*)
{
    // The first object reported is the executable itself (empty name).
    bool is_main = range_count == 0 && info->dlpi_name[0] == '\0';
    const char* name = is_main ? "kiv" : info->dlpi_name;
    if (is_main)
        game_bias = info->dlpi_addr;
    for (int i = 0; i < info->dlpi_phnum && range_count < MAX_RANGES; i++) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD)
            continue;
        ObjectRange& r = ranges[range_count++];
        r.start = info->dlpi_addr + ph.p_vaddr;
        r.end = r.start + ph.p_memsz;
        r.name = name;
        r.kind = classify_name(name, is_main);
        r.allocs = 0;
    }
    return 0;
}

void scan_objects()
{
    // Keep the counts of objects already known across a rescan.
    static ObjectRange old[MAX_RANGES];
    int old_count = range_count;
    std::memcpy(old, ranges, sizeof(ObjectRange) * old_count);
    range_count = 0;
    dl_iterate_phdr(add_ranges, nullptr);
    for (int i = 0; i < range_count; i++)
        for (int j = 0; j < old_count; j++)
            if (old[j].start == ranges[i].start)
                ranges[i].allocs = old[j].allocs;
}

ObjectRange* find_range(uintptr_t pc)
{
    for (int pass = 0; pass < 2; pass++) {
        for (int i = 0; i < range_count; i++)
            if (pc >= ranges[i].start && pc < ranges[i].end)
                return &ranges[i];
        if (pass == 0)
            scan_objects();   // a library loaded since the last scan
    }
    return nullptr;
}

void note_game_site(uintptr_t pc)
{
    uintptr_t offset = pc - game_bias;
    for (int i = 0; i < MAX_SITES; i++) {
        if (sites[i].count == 0) {
            sites[i].offset = offset;
            sites[i].count = 1;
            return;
        }
        if (sites[i].offset == offset) {
            sites[i].count++;
            return;
        }
    }
}

// Attributes one main-thread allocation after start-up to the game's own code
// or to the library that asked for it.
__attribute__((noinline)) void attribute_allocation(void* caller)
{
    ObjectRange* r = find_range(reinterpret_cast<uintptr_t>(caller));
    uintptr_t site = reinterpret_cast<uintptr_t>(caller);
    if (r && r->kind == OBJ_RUNTIME) {
        // Walk up past operator new / strdup to the code that wanted memory.
        void* stack[8];
        int n = backtrace(stack, 8);
        ObjectRange* found = nullptr;
        for (int i = 0; i < n; i++) {
            ObjectRange* s = find_range(reinterpret_cast<uintptr_t>(stack[i]));
            if (s && (s->kind == OBJ_GAME || s->kind == OBJ_LIBRARY)) {
                found = s;
                site = reinterpret_cast<uintptr_t>(stack[i]);
                break;
            }
        }
        if (found)
            r = found;
    }
    if (r && r->kind == OBJ_GAME) {
        allocs_game.fetch_add(1, std::memory_order_relaxed);
        note_game_site(site);
    } else {
        allocs_lib.fetch_add(1, std::memory_order_relaxed);
    }
    if (r)
        r->allocs++;
}

inline void count_allocation(void* caller)
{
    if (busy)
        return;
    if (!recording.load(std::memory_order_relaxed)) {
        allocs_startup++;   // racy across threads, but only a rough figure
        return;
    }
    if (!pthread_equal(pthread_self(), main_thread)) {
        allocs_other.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    busy = 1;
    attribute_allocation(caller);
    busy = 0;
}

void on_sigusr1(int)
{
    if (snapshot_state == 0)
        snapshot_state = 1;
    else if (snapshot_state == 2)
        snapshot_state = 3;
}

void write_snapshot(SDL_Surface* s, const char* out)
{
    if (!s || !s->format || s->format->BitsPerPixel != 8 || !s->format->palette)
        return;
    char path[4096];
    std::snprintf(path, sizeof path, "%s.ppm", out);
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return;
    std::fprintf(f, "P6\n%d %d\n255\n", s->w, s->h);
    const SDL_Color* colours = s->format->palette->colors;
    static unsigned char row[3 * 4096];
    for (int y = 0; y < s->h; y++) {
        const Uint8* p = static_cast<const Uint8*>(s->pixels) + y * s->pitch;
        int w = s->w < 4096 ? s->w : 4096;
        for (int x = 0; x < w; x++) {
            const SDL_Color& c = colours[p[x]];
            row[3 * x] = c.r;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.b;
        }
        std::fwrite(row, 3, w, f);
    }
    std::fclose(f);
    std::snprintf(path, sizeof path, "%s.ready", out);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0)
        close(fd);
}

void write_report()
{
    const char* out = std::getenv("KIV_PROBE_OUT");
    if (!out)
        return;
    FILE* f = std::fopen(out, "w");
    if (!f)
        return;
    int n = frame_count.load();
    std::fprintf(f, "# kiv_probe frames=%d\n", n);
    std::fprintf(f, "# load_real_ns=%lld\n", static_cast<long long>(load_real_ns));
    std::fprintf(f, "# first_flip_real_ns=%lld\n", static_cast<long long>(first_flip_real_ns));
    std::fprintf(f, "# first_flip_mono_ns=%lld\n", static_cast<long long>(first_flip_mono_ns));
    std::fprintf(f, "# allocs_startup=%ld\n", allocs_startup);
    std::fprintf(f, "# frees_total=%ld\n", frees_total.load());
    Dl_info info;
    if (real_flip && dladdr(reinterpret_cast<void*>(real_flip), &info) && info.dli_fname)
        std::fprintf(f, "# sdl_flip_from=%s\n", info.dli_fname);
    std::fprintf(f, "# renderer=%s\n", renderer_name);
    std::fprintf(f, "# startup_sdl_init_ns=%lld startup_set_video_mode_ns=%lld startup_img_load_ns=%lld startup_convert_ns=%lld startup_images=%d\n",
        static_cast<long long>(init_ns), static_cast<long long>(set_mode_ns),
        static_cast<long long>(image_load_ns), static_cast<long long>(image_convert_ns), image_loads);
    for (int i = 0; i < range_count; i++) {
        // Several ranges per object: report each object once.
        bool first = true;
        long total = 0;
        for (int j = 0; j < range_count; j++) {
            if (ranges[j].name == ranges[i].name) {
                if (j < i)
                    first = false;
                total += ranges[j].allocs;
            }
        }
        if (first && total > 0)
            std::fprintf(f, "# lib_allocs %ld %s\n", total, ranges[i].name);
    }
    for (int i = 0; i < MAX_SITES && sites[i].count; i++)
        std::fprintf(f, "# game_site 0x%llx %ld\n", static_cast<unsigned long long>(sites[i].offset), sites[i].count);
    std::fprintf(f, "# columns: mono_ns real_ns cpu_in_ns cpu_out_ns proc_ns allocs_game allocs_lib allocs_other held\n");
    for (int i = 0; i < n; i++) {
        const FrameRecord& r = frames[i];
        std::fprintf(f, "%lld %lld %lld %lld %lld %d %d %d %d\n",
            static_cast<long long>(r.mono_ns), static_cast<long long>(r.real_ns),
            static_cast<long long>(r.cpu_in_ns), static_cast<long long>(r.cpu_out_ns),
            static_cast<long long>(r.proc_ns), r.allocs_game, r.allocs_lib, r.allocs_other, r.held);
    }
    std::fclose(f);
}

__attribute__((constructor)) void probe_start()
{
    load_real_ns = now_ns(CLOCK_REALTIME);
    busy = 1;
    // backtrace loads the unwinder on first use; do it now, not inside malloc.
    void* warm[2];
    backtrace(warm, 2);
    busy = 0;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_sigusr1;
    sa.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &sa, nullptr);
}

__attribute__((destructor)) void probe_stop()
{
    recording.store(false);
    busy = 1;
    write_report();
}

} // namespace

// Calls timed on their way to the real library.
template <typename F>
F next_symbol(const char* name)
{
    busy = 1;
    F f = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
    busy = 0;
    return f;
}

extern "C" {

int SDL_Init(Uint32 flags)
{
    static auto real = next_symbol<int (*)(Uint32)>("SDL_Init");
    int64_t t = now_ns(CLOCK_MONOTONIC);
    int result = real ? real(flags) : -1;
    init_ns += now_ns(CLOCK_MONOTONIC) - t;
    return result;
}

SDL_Surface* SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags)
{
    static auto real = next_symbol<SDL_Surface* (*)(int, int, int, Uint32)>("SDL_SetVideoMode");
    int64_t t = now_ns(CLOCK_MONOTONIC);
    SDL_Surface* result = real ? real(width, height, bpp, flags) : nullptr;
    set_mode_ns += now_ns(CLOCK_MONOTONIC) - t;
    return result;
}

SDL_Surface* IMG_Load(const char* file)
{
    static auto real = next_symbol<SDL_Surface* (*)(const char*)>("IMG_Load");
    int64_t t = now_ns(CLOCK_MONOTONIC);
    SDL_Surface* result = real ? real(file) : nullptr;
    image_load_ns += now_ns(CLOCK_MONOTONIC) - t;
    image_loads++;
    return result;
}

SDL_Surface* SDL_ConvertSurface(SDL_Surface* src, SDL_PixelFormat* fmt, Uint32 flags)
{
    static auto real = next_symbol<SDL_Surface* (*)(SDL_Surface*, SDL_PixelFormat*, Uint32)>("SDL_ConvertSurface");
    int64_t t = now_ns(CLOCK_MONOTONIC);
    SDL_Surface* result = real ? real(src, fmt, flags) : nullptr;
    image_convert_ns += now_ns(CLOCK_MONOTONIC) - t;
    return result;
}

int SDL_Flip(SDL_Surface* surface)
{
    if (!real_flip) {
        busy = 1;
        real_flip = reinterpret_cast<int (*)(SDL_Surface*)>(dlsym(RTLD_NEXT, "SDL_Flip"));
        busy = 0;
        if (!real_flip)
            return -1;
    }
    int64_t cpu_start = now_ns(CLOCK_THREAD_CPUTIME_ID);
    int result = real_flip(surface);
    int64_t cpu_end = now_ns(CLOCK_THREAD_CPUTIME_ID);
    int64_t mono = now_ns(CLOCK_MONOTONIC);
    int64_t real = now_ns(CLOCK_REALTIME);

    int held = 0;
    if (snapshot_state == 1) {
        const char* out = std::getenv("KIV_PROBE_OUT");
        if (out) {
            busy = 1;
            snapshot_state = 2;
            write_snapshot(surface, out);
            for (int i = 0; i < 1000 && snapshot_state == 2; i++)
                usleep(10000);
            busy = 0;
            held = 1;
        }
        snapshot_state = 0;
    }

    int n = frame_count.load(std::memory_order_relaxed);
    if (n == 0) {
        first_flip_real_ns = real;
        first_flip_mono_ns = mono;
        main_thread = pthread_self();
        busy = 1;
        scan_objects();
        find_renderer();
        busy = 0;
        recording.store(true);
    }
    if (n < MAX_FRAMES) {
        FrameRecord& r = frames[n];
        r.mono_ns = mono;
        r.real_ns = real;
        r.cpu_in_ns = cpu_end - cpu_start;
        r.cpu_out_ns = n == 0 ? 0 : cpu_start - last_flip_end_cpu;
        r.proc_ns = now_ns(CLOCK_PROCESS_CPUTIME_ID);
        r.allocs_game = allocs_game.exchange(0);
        r.allocs_lib = allocs_lib.exchange(0);
        r.allocs_other = allocs_other.exchange(0);
        r.held = held;
        frame_count.store(n + 1, std::memory_order_relaxed);
    }
    // The probe's own bookkeeping is charged to neither side.
    last_flip_end_cpu = now_ns(CLOCK_THREAD_CPUTIME_ID);
    return result;
}

void* malloc(size_t size)
{
    count_allocation(__builtin_return_address(0));
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    count_allocation(__builtin_return_address(0));
    return __libc_calloc(count, size);
}

void* realloc(void* ptr, size_t size)
{
    if (size != 0)
        count_allocation(__builtin_return_address(0));
    return __libc_realloc(ptr, size);
}

void free(void* ptr)
{
    if (ptr)
        frees_total.fetch_add(1, std::memory_order_relaxed);
    __libc_free(ptr);
}

} // extern "C"
