#!/usr/bin/env python3
"""Measures kiv-board on 127.0.0.1 (bounded: a few minutes in all).

  python3 bench/board_bench.py [--build build] [--seconds 10] [--games 100000] [--submissions 24]

1. GET /api/top under wrk at 64 and 256 connections against a board of
   --games games (kiv_board_fill), kept in SQLite and in a PostgreSQL 15 of
   its own (as the board's tests start it).
2. Verified submissions: --submissions of the catcher bot's longest games
   (minutes each), sent 4 at a time to a server with a worker per core:
   games verified per second and the time from submission to answer.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'board'))
import board_test as bt  # noqa: E402  (the tests' server, client and PostgreSQL)


def wrk(port, connections, seconds):
    out = subprocess.run(['wrk', '-t2', f'-c{connections}', f'-d{seconds}s', '--latency',
                          f'http://127.0.0.1:{port}/api/top?period=all&limit=10'],
                         capture_output=True, text=True, timeout=seconds + 60).stdout

    def ms(label):
        m = re.search(rf'{label}\s+([\d.]+)(us|ms|s)\b', out)
        return float(m.group(1)) * {'us': 0.001, 'ms': 1, 's': 1000}[m.group(2)]
    rate = float(re.search(r'Requests/sec:\s+([\d.]+)', out).group(1))
    errors = re.search(r'Socket errors:.*|Non-2xx.*', out)
    return rate, ms('50%'), ms('99%'), errors.group(0) if errors else ''


def top_bench(store, name, a):
    fill = os.path.join(a.build, 'kiv_board_fill')
    replay = os.path.join(bt.scratch, 'fill.rec')
    subprocess.run([bt.args.game, replay, '--seed', '21', '--play', '100000'], check=True, capture_output=True)
    start = time.monotonic()
    subprocess.run([fill, *store, '--games', str(a.games), '--replay', replay], check=True, timeout=600)
    print(f'{name}: {a.games} games filled in {time.monotonic() - start:.1f} s', flush=True)
    board = bt.Board(store)
    try:
        for c in (64, 256):
            rate, p50, p99, errors = wrk(board.port, c, a.seconds)
            print(f'{name}: GET /api/top, {c} connections: {rate:,.0f} requests/s, p50 {p50:.2f} ms, '
                  f'p99 {p99:.2f} ms {errors}', flush=True)
    finally:
        board.stop()


def submission_bench(a):
    store = ['--data', os.path.join(bt.scratch, 'submit')]
    board = bt.Board(store, '--duration-margin', '86400', '--tickets-per-minute', '100000',
                     '--games-per-minute', '100000', '--queue', '64')
    try:
        games = []
        lock = threading.Lock()

        def make():
            while True:
                with lock:
                    if len(games) >= a.submissions:
                        return
                t = board.ticket()
                replay, steps, score = bt.record(t['seed'], '--play', '100000')
                if steps > 20000:
                    with lock:
                        games.append((t, replay, steps))
        makers = [threading.Thread(target=make) for _ in range(2)]
        for m in makers:
            m.start()
        for m in makers:
            m.join()
        games = games[:a.submissions]
        times = []

        def send(chunk):
            for t, replay, _ in chunk:
                start = time.monotonic()
                status, _, body = board.submit(t['ticket'], 'Bench', replay)
                bt.check(status == 201, f'{status} {body}')
                with lock:
                    times.append(time.monotonic() - start)
        start = time.monotonic()
        senders = [threading.Thread(target=send, args=(games[i::4],)) for i in range(4)]
        for s in senders:
            s.start()
        for s in senders:
            s.join()
        wall = time.monotonic() - start
        times.sort()
        steps = sum(g[2] for g in games) / len(games)
        rate = len(games) / wall
        print(f'submissions: {len(games)} games of {steps / 6000:.1f} min on average ({steps:,.0f} steps), '
              f'4 at a time: {rate:.2f} verified/s, answer p50 {times[len(times) // 2]:.2f} s, '
              f'p99 {times[min(len(times) - 1, int(len(times) * 0.99))]:.2f} s; '
              f'in proportion, 10-minute games: {rate * steps / 60000:.2f} verified/s', flush=True)
    finally:
        board.stop()


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--build', default='build')
    p.add_argument('--seconds', type=int, default=10)
    p.add_argument('--games', type=int, default=100000)
    p.add_argument('--submissions', type=int, default=24)
    p.add_argument('--only', choices=['sqlite', 'postgres', 'submissions'])
    a = p.parse_args()
    bt.args = argparse.Namespace(board=os.path.join(a.build, 'kiv-board'),
                                 game=os.path.join(a.build, 'kiv_board_game'), source='.')
    bt.scratch = tempfile.mkdtemp(prefix='kiv-board-bench-')
    pg = None
    try:
        if a.only in (None, 'sqlite'):
            top_bench(['--data', os.path.join(bt.scratch, 'board')], 'SQLite', a)
        if a.only in (None, 'postgres'):
            pg = bt.Postgres()
            top_bench(['--database', pg.database('board')], 'PostgreSQL', a)
        if a.only in (None, 'submissions'):
            submission_bench(a)
    finally:
        for proc in bt.started:
            if proc.poll() is None and (pg is None or proc is not pg.proc):
                proc.kill()
                proc.wait()
        if pg:
            pg.stop()
        subprocess.run(['rm', '-rf', bt.scratch])


if __name__ == '__main__':
    main()
