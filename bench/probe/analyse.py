#!/usr/bin/env python3
"""Figures of one benchmark run from the kiv_probe output.

Usage: analyse.py PROBE_FILE EXEC_NS PLAY_START_NS PLAY_END_NS XSERVER_CPU_S
Times are CLOCK_REALTIME nanoseconds taken by the benchmark script; the play
window is [PLAY_START_NS, PLAY_END_NS]. Prints one line of key=value pairs.
"""
import sys


def percentile(sorted_values, p):
    if not sorted_values:
        return float("nan")
    k = (len(sorted_values) - 1) * p / 100.0
    lo = int(k)
    hi = min(lo + 1, len(sorted_values) - 1)
    return sorted_values[lo] + (sorted_values[hi] - sorted_values[lo]) * (k - lo)


def main():
    path, exec_ns, start_ns, end_ns, xserver_cpu = sys.argv[1:6]
    exec_ns, start_ns, end_ns = int(exec_ns), int(start_ns), int(end_ns)
    xserver_cpu = float(xserver_cpu)
    header = {}
    libs = []
    sites = []
    rows = []
    with open(path) as f:
        for line in f:
            if line.startswith("# lib_allocs "):
                _, _, count, name = line.split(maxsplit=3)
                libs.append((int(count), name.strip()))
            elif line.startswith("# game_site "):
                _, _, offset, count = line.split()
                sites.append((int(count), offset))
            elif line.startswith("#"):
                for part in line[1:].split():
                    if "=" in part:
                        key, value = part.split("=", 1)
                        header[key] = value
            else:
                rows.append([int(v) for v in line.split()])
    if not rows:
        print("error=no-frames")
        return

    first_ns = int(header["first_flip_real_ns"])
    # Frames presented inside the play window; a frame held for a snapshot
    # and the one after it are not part of the play.
    window = []
    for i, r in enumerate(rows):
        held = r[8] or (i > 0 and rows[i - 1][8])
        if start_ns <= r[1] <= end_ns and not held:
            window.append(i)
    if len(window) < 2:
        print("error=no-frames-in-window")
        return
    # Frame time: from the previous present to this one.
    frame_ms = sorted((rows[i][0] - rows[i - 1][0]) / 1e6 for i in window[1:])
    span_s = (rows[window[-1]][0] - rows[window[0]][0]) / 1e9
    frames = len(window) - 1
    cpu_in = sum(rows[i][2] for i in window[1:]) / 1e9
    cpu_out = sum(rows[i][3] for i in window[1:]) / 1e9
    proc = (rows[window[-1]][4] - rows[window[0]][4]) / 1e9
    allocs_game = sum(rows[i][5] for i in window[1:])
    allocs_lib = sum(rows[i][6] for i in window[1:])
    allocs_other = sum(rows[i][7] for i in window[1:])

    out = {
        "first_frame_ms": "%.0f" % ((first_ns - exec_ns) / 1e6),
        "frames": frames,
        "fps": "%.1f" % (frames / span_s),
        "frame_median_ms": "%.2f" % percentile(frame_ms, 50),
        "frame_p99_ms": "%.2f" % percentile(frame_ms, 99),
        "frame_max_ms": "%.2f" % frame_ms[-1],
        "cpu_game": "%.3f" % (cpu_out / span_s),
        "cpu_present": "%.3f" % (cpu_in / span_s),
        "cpu_process": "%.3f" % (proc / span_s),
        "cpu_xserver": "%.3f" % (xserver_cpu / span_s),
        "allocs_game_per_frame": "%.2f" % (allocs_game / frames),
        "allocs_lib_per_frame": "%.2f" % (allocs_lib / frames),
        "allocs_other_threads_per_frame": "%.2f" % (allocs_other / frames),
        "allocs_startup": header.get("allocs_startup", "?"),
        "sdl_flip_from": header.get("sdl_flip_from", "?"),
        "renderer": header.get("renderer", "-"),
        "startup": "exec>probe:%.0f,SDL_Init:%.0f,SetVideoMode:%.0f,IMG_Load:%.0f(%s),ConvertSurface:%.0f" % (
            (int(header["load_real_ns"]) - exec_ns) / 1e6,
            int(header.get("startup_sdl_init_ns", 0)) / 1e6,
            int(header.get("startup_set_video_mode_ns", 0)) / 1e6,
            int(header.get("startup_img_load_ns", 0)) / 1e6,
            header.get("startup_images", "?"),
            int(header.get("startup_convert_ns", 0)) / 1e6),
        "libs": ",".join("%s:%d" % (name.rsplit("/", 1)[-1], count)
                         for count, name in sorted(libs, reverse=True)[:5]) or "-",
        "game_sites": ",".join("%s:%d" % (offset, count)
                               for count, offset in sorted(sites, reverse=True)[:5]) or "-",
    }
    print(" ".join("%s=%s" % kv for kv in out.items()))


if __name__ == "__main__":
    main()
