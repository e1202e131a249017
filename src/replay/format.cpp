// Replay files: the header and the body, written and read. Everything read
// comes from strangers: every field is checked before it is used, and an
// error says what is wrong and where.
#include "replay/format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kiv {

Replay replay;
unsigned char replay_body[MAX_REPLAY_BODY];

namespace {

const unsigned char MAGIC[4] = {'K', 'I', 'V', 'R'};
constexpr int FRAME_STEPS_MASK = 7;
constexpr int FRAME_ESCAPE_SHIFT = 3;
constexpr int FRAME_CLOSE_BIT = 0x40;
constexpr int FRAME_UNUSED_BIT = 0x80;

void put(unsigned char* p, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint64_t get(const unsigned char* p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = v << 8 | p[i];
    return v;
}

std::uint32_t float_bits(float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

float bits_float(std::uint32_t u)
{
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

bool all_zero(const unsigned char* p, int bytes)
{
    for (int i = 0; i < bytes; i++)
        if (p[i])
            return false;
    return true;
}

// Zigzag: small numbers of either sign become small unsigned numbers.
std::uint32_t zigzag(int v)
{
    return (static_cast<std::uint32_t>(v) << 1) ^ static_cast<std::uint32_t>(v >> 31);
}

int unzigzag(std::uint32_t u)
{
    return static_cast<int>((u >> 1) ^ (0u - (u & 1)));
}

long put_number(unsigned char* out, long at, long capacity, int v)
{
    std::uint32_t u = zigzag(v);
    do {
        if (at >= capacity)
            return -1;
        unsigned char b = u & 0x7f;
        u >>= 7;
        out[at++] = u ? (b | 0x80) : b;
    } while (u);
    return at;
}

// One number at body[*at]; false when it is cut short, or longer than it
// needs to be (put_number writes every number in its fewest bytes, at most
// the five a 32-bit number needs: a body has one way to write each).
bool get_number(const unsigned char* body, long size, long* at, int* v)
{
    std::uint32_t u = 0;
    for (int i = 0; i < 5; i++) {
        if (*at >= size)
            return false;
        unsigned char b = body[(*at)++];
        if ((i == 4 && b > 0x0f) || (i > 0 && b == 0))
            return false;
        u |= static_cast<std::uint32_t>(b & 0x7f) << (7 * i);
        if (!(b & 0x80)) {
            *v = unzigzag(u);
            return true;
        }
    }
    return false;
}

} // namespace

bool replay_error(ReplayError* error, const char* format, ...)
{
    if (error) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(error->text, sizeof error->text, format, args);
        va_end(args);
    }
    return false;
}

void write_replay_header(const ReplayHeader& h, unsigned char out[REPLAY_HEADER_SIZE])
{
    std::memset(out, 0, REPLAY_HEADER_SIZE);
    std::memcpy(out, MAGIC, 4);
    out[4] = REPLAY_FORMAT;
    out[5] = static_cast<unsigned char>(h.kind);
    put(out + 6, static_cast<std::uint64_t>(h.rules), 2);
    put(out + 8, h.seed, 4);
    put(out + 12, static_cast<std::uint64_t>(h.pointer_x), 2);
    put(out + 14, static_cast<std::uint64_t>(h.pointer_y), 2);
    put(out + 16, float_bits(h.mouse_speed), 4);
    put(out + 20, static_cast<std::uint32_t>(h.high_score), 4);
    put(out + 24, static_cast<std::uint32_t>(h.score), 4);
    put(out + 28, static_cast<std::uint64_t>(h.steps), 4);
    put(out + 32, static_cast<std::uint64_t>(h.frames), 4);
    out[36] = static_cast<unsigned char>(h.end);
    out[37] = h.windowed ? 1 : 0;
    put(out + 40, h.fingerprint, 8);
    put(out + 48, h.screens, 8);
    put(out + 56, static_cast<std::uint64_t>(h.body_size), 4);
}

bool read_replay_header(const unsigned char* d, size_t size, ReplayHeader* h, ReplayError* error, bool any_rules)
{
    if (size < 4 || std::memcmp(d, MAGIC, 4) != 0)
        return replay_error(error, "byte 0: not a Kiv replay (it does not begin with \"KIVR\")");
    if (size < static_cast<size_t>(REPLAY_HEADER_SIZE))
        return replay_error(error, "byte %zu: the file ends inside its %d-byte header", size, REPLAY_HEADER_SIZE);
    if (d[4] != REPLAY_FORMAT)
        return replay_error(error, "byte 4: replay format %d; this build reads format %d", d[4], REPLAY_FORMAT);
    h->kind = d[5];
    if (h->kind != REPLAY_GAME && h->kind != REPLAY_SESSION)
        return replay_error(error, "byte 5: unknown kind of replay %d", h->kind);
    h->rules = static_cast<int>(get(d + 6, 2));
    if (h->rules != RULES_VERSION && !any_rules)
        return replay_error(error,
                            "byte 6: recorded under version %d of the game's rules; this build plays version %d, "
                            "where the same input may give another game",
                            h->rules, RULES_VERSION);
    h->seed = static_cast<unsigned>(get(d + 8, 4));
    h->pointer_x = static_cast<int>(get(d + 12, 2));
    h->pointer_y = static_cast<int>(get(d + 14, 2));
    if (h->pointer_x > 639 || h->pointer_y > 479)
        return replay_error(error, "byte 12: the pointer starts off the screen at (%d, %d)", h->pointer_x,
                            h->pointer_y);
    h->mouse_speed = bits_float(static_cast<std::uint32_t>(get(d + 16, 4)));
    // The options give 0.1 to 9.9, three times that full screen.
    if (!(h->mouse_speed > 0.0f && h->mouse_speed < 30.0f))
        return replay_error(error, "byte 16: a mouse speed of %g is not one the game can have",
                            static_cast<double>(h->mouse_speed));
    h->high_score = static_cast<int>(static_cast<std::uint32_t>(get(d + 20, 4)));
    h->score = static_cast<int>(static_cast<std::uint32_t>(get(d + 24, 4)));
    h->steps = static_cast<long>(get(d + 28, 4));
    h->frames = static_cast<long>(get(d + 32, 4));
    if (h->steps > MAX_REPLAY_STEPS)
        return replay_error(error, "byte 28: %ld steps; a replay holds at most %ld (an hour of play)", h->steps,
                            MAX_REPLAY_STEPS);
    if (h->frames < 1 || h->frames > h->steps || h->steps > 5 * h->frames)
        return replay_error(error, "byte 32: %ld frames cannot run %ld steps (1 to 5 steps a frame)", h->frames,
                            h->steps);
    h->end = d[36];
    if (h->end > END_LEFT || (h->kind == REPLAY_GAME) != (h->end != END_NONE))
        return replay_error(error, "byte 36: the end of a game recorded as %d", h->end);
    if (d[37] > 1 || (d[37] == 1 && h->kind != REPLAY_SESSION))
        return replay_error(error, "byte 37: %d is not how a %s can be played", d[37],
                            h->kind == REPLAY_SESSION ? "session" : "game");
    h->windowed = d[37] == 1;
    if (!all_zero(d + 38, 2) || !all_zero(d + 60, 4))
        return replay_error(error, "byte %d: a reserved byte is not zero", !all_zero(d + 38, 2) ? 38 : 60);
    h->fingerprint = get(d + 40, 8);
    h->screens = get(d + 48, 8);
    h->body_size = static_cast<long>(get(d + 56, 4));
    // The body's size follows from its frames and steps, to within the
    // length of the numbers.
    long least = h->frames + 3 * h->steps + (h->windowed ? 1 : 0);
    long most = h->frames + 11 * h->steps + (h->windowed ? 5 + 6 * (2 * h->frames + 1) : 0);
    if (h->body_size < least || h->body_size > most)
        return replay_error(error, "byte 56: a body of %ld bytes cannot hold %ld frames of %ld steps", h->body_size,
                            h->frames, h->steps);
    return true;
}

long write_frames(const ReplayFrame* frame, long frames, const StepInput* input, long steps, unsigned char* out,
                  long at, long capacity)
{
    if (at + frames + steps > capacity)
        return -1;
    for (long f = 0; f < frames; f++)
        out[at++] = static_cast<unsigned char>(frame[f].steps | frame[f].escapes << FRAME_ESCAPE_SHIFT |
                                               (frame[f].close ? FRAME_CLOSE_BIT : 0));
    for (long s = 0; s < steps; s++)
        out[at++] = static_cast<unsigned char>(input[s].buttons);
    for (long s = 0; at >= 0 && s < steps; s++)
        at = put_number(out, at, capacity, input[s].dx);
    for (long s = 0; at >= 0 && s < steps; s++)
        at = put_number(out, at, capacity, input[s].dy);
    return at;
}

bool read_frames(const unsigned char* body, long size, long* at, long frames, long max_steps, ReplayFrame* frame,
                 StepInput* input, long* steps, ReplayError* error)
{
    *steps = 0;
    if (frames > size - *at)
        return replay_error(error, "body byte %ld: %ld frames do not fit in the %ld bytes left", *at, frames,
                            size - *at);
    long n = 0;
    for (long f = 0; f < frames; f++) {
        int b = body[(*at)++];
        ReplayFrame& fr = frame[f];
        fr.steps = static_cast<unsigned char>(b & FRAME_STEPS_MASK);
        fr.escapes = static_cast<unsigned char>(b >> FRAME_ESCAPE_SHIFT & MAX_FRAME_ESCAPES);
        fr.close = (b & FRAME_CLOSE_BIT) != 0;
        if (fr.steps < 1 || fr.steps > 5 || (b & FRAME_UNUSED_BIT))
            return replay_error(error, "frame %ld: runs %d steps (a frame runs 1 to 5)", f, fr.steps);
        n += fr.steps;
        if (n > max_steps)
            return replay_error(error, "frame %ld: the frames run more than the %ld steps of the header", f,
                                max_steps);
    }
    if (n > size - *at)
        return replay_error(error, "body byte %ld: the buttons of %ld steps do not fit in the %ld bytes left", *at, n,
                            size - *at);
    for (long s = 0; s < n; s++)
        input[s].buttons = body[(*at)++];
    for (int axis = 0; axis < 2; axis++) {
        for (long s = 0; s < n; s++) {
            int v = 0;
            if (!get_number(body, size, at, &v))
                return replay_error(error, "step %ld: its %c motion is cut short or malformed (body byte %ld)", s,
                                    axis ? 'y' : 'x', *at);
            (axis ? input[s].dy : input[s].dx) = v;
        }
    }
    *steps = n;
    return true;
}

bool read_chunk(const unsigned char* body, long size, long max_steps, ReplayFrame* frame, StepInput* input,
                long* frames, long* steps, ReplayError* error)
{
    *frames = *steps = 0;
    long ends = 0;  // bytes below 0x80
    for (long i = 0; i < size; i++)
        ends += body[i] < 0x80;
    // Frame bytes, until the frames and their steps' bytes account for
    // every byte below 0x80.
    long k = 0, n = 0;
    while (k + 3 * n < ends && k < size && n <= max_steps) {
        const int b = body[k++];
        n += b & FRAME_STEPS_MASK;
        if ((b & FRAME_STEPS_MASK) < 1 || (b & FRAME_STEPS_MASK) > 5 || (b & FRAME_UNUSED_BIT))
            return replay_error(error, "frame %ld: runs %d steps (a frame runs 1 to 5)", k - 1, b & FRAME_STEPS_MASK);
    }
    if (n > max_steps)
        return replay_error(error, "frame %ld: the frames run more than the %ld steps a chunk may hold", k - 1,
                            max_steps);
    if (k == 0 || k + 3 * n != ends)
        return replay_error(error, "chunk byte %ld: no count of whole frames reads the %ld bytes to their end", k,
                            size);
    long at = 0;
    if (!read_frames(body, size, &at, k, max_steps, frame, input, steps, error))
        return false;
    for (long s = 0; s < n; s++)
        if (input[s].buttons >= 0x80)
            return replay_error(error, "step %ld: a button mask of %d", s, input[s].buttons);
    if (at != size)
        return replay_error(error, "chunk byte %ld: %ld bytes after the last step's motion", at, size - at);
    *frames = k;
    return true;
}

long write_replay_body(unsigned char* out, long capacity)
{
    long at = write_frames(replay.frame, replay.frames, replay.input, replay.steps, out, 0, capacity);
    if (replay.header.windowed) {
        at = at < 0 ? at : put_number(out, at, capacity, static_cast<int>(replay.returns));
        for (long i = 0; at >= 0 && i < replay.returns; i++) {
            at = put_number(out, at, capacity, replay.place[i].x);
            at = at < 0 ? at : put_number(out, at, capacity, replay.place[i].y);
        }
    }
    return at;
}

bool read_replay_body(const ReplayHeader& h, const unsigned char* body, long size, ReplayError* error)
{
    replay.header = h;
    replay.frames = 0;
    replay.steps = 0;
    replay.returns = 0;
    if (size != h.body_size)
        return replay_error(error, "body: %ld bytes where the header promises %ld", size, h.body_size);
    long at = 0, steps = 0;
    if (!read_frames(body, size, &at, h.frames, h.steps, replay.frame, replay.input, &steps, error))
        return false;
    if (steps != h.steps)
        return replay_error(error, "frame %ld: the frames run %ld steps where the header says %ld", h.frames - 1, steps,
                            h.steps);
    long returns = 0;
    if (h.windowed) {
        int n = 0;
        if (!get_number(body, size, &at, &n) || n < 0 || n > 2 * h.frames + 1)
            return replay_error(error, "body byte %ld: the pointer cannot return to the title %d times in %ld frames",
                                at, n, h.frames);
        for (returns = 0; returns < n; returns++) {
            int x = 0, y = 0;
            if (!get_number(body, size, &at, &x) || !get_number(body, size, &at, &y) || x != std::int16_t(x) ||
                y != std::int16_t(y))
                return replay_error(error, "body byte %ld: the pointer's place %ld is cut short or malformed", at,
                                    returns);
            replay.place[returns] = PointerPlace{std::int16_t(x), std::int16_t(y)};
        }
    }
    if (at != size)
        return replay_error(error, "body byte %ld: %ld bytes after the last %s", at, size - at,
                            h.windowed ? "place of the pointer" : "step's motion");
    replay.frames = h.frames;
    replay.steps = h.steps;
    replay.returns = returns;
    return true;
}

} // namespace kiv
