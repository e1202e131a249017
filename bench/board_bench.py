#!/usr/bin/env python3
"""Measures kiv-board on 127.0.0.1 (bounded: a few minutes in all).

  python3 bench/board_bench.py [--build build] [--seconds 10] [--games 100000] [--submissions 24]

1. GET /api/top under wrk at 64 and 256 connections against a board of
   --games games (kiv_board_fill), kept in SQLite and in a PostgreSQL 15 of
   its own (as the board's tests start it).
2. Verified submissions: --submissions of the catcher bot's longest games
   (minutes each), sent at once, 4 at a time, to a server with a verifier
   per core whose queue they fill: the time to the 202 and to the verdict,
   games verified per second and per verifier CPU-second.
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


def verifier_cpu(proc):
    """CPU seconds of a server's reaped children: its verifiers."""
    with open(f'/proc/{proc.pid}/stat') as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[13]) + int(fields[14])) / os.sysconf('SC_CLK_TCK')


def submission_bench(a):
    """The queue filled at once: every game 202 as it arrives, then judged
    by a verifier per core; the time from each game's submission to its
    verdict, and the verifiers' CPU time."""
    store = ['--data', os.path.join(bt.scratch, 'submit')]
    board = bt.Board(store, *bt.LENIENT, '--queue', str(a.submissions))
    try:
        secret = board.claim('Bench')
        games = []
        lock = threading.Lock()

        def make():
            while True:
                with lock:
                    if len(games) >= a.submissions:
                        return
                g = board.play('Bench', secret, '--play', '100000')
                if g.steps > 20000:
                    with lock:
                        games.append(g)
        makers = [threading.Thread(target=make) for _ in range(2)]
        for m in makers:
            m.start()
        for m in makers:
            m.join()
        games = games[:a.submissions]
        sent, answers, verdicts = {}, [], {}
        cpu = verifier_cpu(board.proc)

        def send(chunk):
            for g in chunk:
                at = time.monotonic()
                status, _, body = board.submit(g.ticket, g.replay)
                bt.check(status == 202, f'{status} {body}')
                with lock:
                    sent[body['id']] = at
                    answers.append(time.monotonic() - at)
        start = time.monotonic()
        senders = [threading.Thread(target=send, args=(games[i::4],)) for i in range(4)]
        for s in senders:
            s.start()
        for s in senders:
            s.join()
        while len(verdicts) < len(games):
            for game_id in [i for i in sent if i not in verdicts]:
                status, _, body = board.call('GET', f'/api/games/{game_id}')
                if body['status'] != 'pending':
                    bt.check(body['status'] == 'on the board', f'{game_id}: {body}')
                    verdicts[game_id] = time.monotonic() - sent[game_id]
            time.sleep(0.02)
        wall = time.monotonic() - start
        cpu = verifier_cpu(board.proc) - cpu
        answers.sort()
        waits = sorted(verdicts.values())
        steps = sum(g.steps for g in games) / len(games)

        def p(values, q):
            return values[min(len(values) - 1, int(len(values) * q))]
        print(f'submissions: {len(games)} games of {steps / 6000:.1f} min on average ({steps:,.0f} steps), sent at '
              f'once, 4 at a time, to a queue of {a.submissions}: 202 after {p(answers, 0.5) * 1000:.0f} ms (p50), '
              f'{p(answers, 0.99) * 1000:.0f} ms (p99); verdict after {p(waits, 0.5):.2f} s (p50), {p(waits, 0.99):.2f}'
              f' s (p99); {len(games) / wall:.2f} verified/s with a verifier per core; '
              f'{len(games) / cpu:.2f} games per verifier CPU-second '
              f'({steps / 100 * len(games) / cpu:,.0f} x real time)', flush=True)
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
