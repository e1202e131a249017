#!/usr/bin/env python3
"""Measures the stream and watching live on one kiv-board on 127.0.0.1
(bounded in count and time).

  python3 bench/live_bench.py [--build build] [--games 1000] [--watchers 10000] [--seconds 30] [--postgres]

--games games stream at once, each a chunk a second (the chunks of one
recorded game, its header given each ticket's seed), each on a keep-alive
connection of its own, all started just before; --watchers event streams
watch them, as many on each game, read by --processes processes of their own. Reports the chunks taken a
second and the time to their answer (p50, p99), each chunk's delay from its
request to its event at a watcher (p50, p99), the server's memory, and
what the database keeps for a streamed game.
"""
import argparse
import asyncio
import base64
import json
import multiprocessing
import os
import re
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'board'))
import board_test as bt  # noqa: E402  (the tests' server, client, recorder and PostgreSQL)


ID = re.compile(rb'^id: (\d+)$', re.M)


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p / 100))] if values else float('nan')


async def exchange(reader, writer, method, path, body=b'', headers=''):
    writer.write(f'{method} {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: {len(body)}\r\n{headers}\r\n'
                 .encode() + body)
    await writer.drain()
    head = await reader.readuntil(b'\r\n\r\n')
    status = int(head.split(b' ', 2)[1])
    length = int(next(line.split(b':')[1] for line in head.split(b'\r\n') if line.lower().startswith(b'content-length')))
    return status, await reader.readexactly(length)


async def start_all(port, games, secret, connections=16):
    """Every game started, a few at a time: its public id, its seed in
    its header, and its start (its chunks are due from there)."""
    headers = f'Content-Type: application/json\r\nAuthorization: Bearer {secret}\r\n'

    async def some(part):
        reader, writer = await asyncio.open_connection('127.0.0.1', port)
        for g in part:
            g['begun'] = time.time()
            status, body = await exchange(reader, writer, 'POST', f"/api/tickets/{g['ticket']}/start",
                                          b'{"name": "Bench"}', headers)
            assert status == 200, body
            started = json.loads(body)
            g['header'][8:12], g['live'] = struct.pack('<I', started['seed']), started['live']
        writer.close()
    await asyncio.gather(*[some(games[i::connections]) for i in range(connections)])


async def stream(port, g, chunks, secret, sent, answers, until):
    """A started game streamed a chunk a second on its clock."""
    reader, writer = await asyncio.open_connection('127.0.0.1', port)
    headers = f'Content-Type: application/json\r\nAuthorization: Bearer {secret}\r\n'
    try:
        for at, to, packed in chunks:
            due = g['begun'] + to / 100
            if due > until:
                break
            await asyncio.sleep(max(0, due - time.time()))
            fields = {'steps': at, 'chunk': base64.b64encode(packed).decode()}
            if at == 0:
                fields['header'] = base64.b64encode(g['header']).decode()
            sent[(g['live'], to)] = asked = time.time()
            status, body = await exchange(reader, writer, 'POST', f"/api/tickets/{g['ticket']}/steps",
                                          json.dumps(fields).encode(), headers)
            answers.append((status, time.time() - asked))
            if status != 200:
                print(f'a chunk refused: {status} {body[:200]}', flush=True)
                return
    finally:
        writer.close()


async def watch(port, live, arrivals, until):
    """A game's event stream: when each chunk's event came."""
    reader, writer = await asyncio.open_connection('127.0.0.1', port)
    writer.write(f'GET /api/live/{live} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n'.encode())
    await writer.drain()
    rest = b''
    try:
        while time.time() < until:
            # Read in bulk, the events' ids found in what came (the client
            # shares the machine with the server: it must cost little).
            data = await asyncio.wait_for(reader.read(65536), max(0.1, until - time.time()))
            if not data:
                break
            now, text = time.time(), rest + data
            cut = text.rfind(b'\n')
            rest = text[cut + 1:]
            arrivals.extend((live, int(m.group(1)), now) for m in ID.finditer(text, 0, cut + 1))
    except (asyncio.TimeoutError, ConnectionError):
        pass
    finally:
        writer.close()


def watchers(port, lives, until, pipe):
    """Watchers in a process of their own (one Python process cannot read
    10,000 streams and send 1,000 chunks a second in time)."""
    arrivals = []

    async def run():
        await asyncio.gather(*[watch(port, live, arrivals, until) for live in lives])
    asyncio.run(run())
    pipe.send(arrivals)


def memory(pid, field):
    with open(f'/proc/{pid}/status') as f:
        return int(next(line for line in f if line.startswith(field)).split()[1]) // 1024


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--build', default='build')
    p.add_argument('--games', type=int, default=1000)
    p.add_argument('--watchers', type=int, default=10000)
    p.add_argument('--seconds', type=float, default=30)
    p.add_argument('--postgres', action='store_true')
    p.add_argument('--threads', default='2', help="the server's HTTP threads")
    p.add_argument('--processes', type=int, default=2, help='processes of watchers')
    a = p.parse_args()
    bt.args = argparse.Namespace(board=os.path.join(a.build, 'kiv-board'), game=os.path.join(a.build, 'kiv_board_game'))
    bt.scratch = tempfile.mkdtemp(prefix='kiv-live-bench-')
    pg = bt.Postgres() if a.postgres else None
    store = ['--database', pg.database('live')] if pg else ['--data', os.path.join(bt.scratch, 'board')]
    lots = '100000'
    board = bt.Board(store, '--workers', '0', '--tickets-per-minute', lots, '--board-tickets-per-minute', lots,
                     '--starts-per-minute', lots, '--reads-per-minute', lots, '--running-per-name', lots,
                     '--running-per-client', lots, '--watchers-per-client', lots, '--queue', lots, '--threads', a.threads)
    try:
        replay = bt.record(7, '--bot', 'catcher', '--play', str(int(a.seconds * 100) + 500))[0]
        chunks = bt.chunks(replay)
        secret = board.claim('Bench')
        games = [{'ticket': board.ticket()['ticket'], 'header': bytearray(replay[:24] + bytes(40))}
                 for _ in range(a.games)]
        rss_before = memory(board.proc.pid, 'VmRSS:')  # (the games' tickets taken)
        sent, answers, delays = {}, [], []
        asyncio.run(start_all(board.port, games, secret))
        until = time.time() + a.seconds
        lives = [games[i % a.games]['live'] for i in range(a.watchers)]
        readers = []
        for part in range(a.processes):
            ours, theirs = multiprocessing.Pipe(False)
            proc = multiprocessing.Process(target=watchers, args=(board.port, lives[part::a.processes], until + 2,
                                                                 theirs))
            proc.start()
            readers.append((proc, ours))

        async def run():
            await asyncio.gather(*[stream(board.port, g, chunks, secret, sent, answers, until) for g in games])
        asyncio.run(run())
        for proc, pipe in readers:
            for live, to, when in pipe.recv():
                if (live, to) in sent:
                    delays.append(when - sent[(live, to)])
            proc.join()
        taken = [t for s, t in answers if s == 200]
        print(f'{a.games} games streaming, {a.watchers} watchers, {a.seconds:.0f} s '
              f'({"PostgreSQL" if pg else "SQLite"}, {a.threads} HTTP threads), client ({a.processes} processes of watchers) and server on this 2-core machine:')
        print(f'  chunks taken: {len(taken)} of {len(answers)} sent, {len(taken) / a.seconds:,.0f} a second; '
              f'answered in p50 {1000 * percentile(taken, 50):.1f} ms, p99 {1000 * percentile(taken, 99):.1f} ms')
        print(f'  watcher delay (request to event): {len(delays)} events, p50 {1000 * percentile(delays, 50):.0f} ms, '
              f'p99 {1000 * percentile(delays, 99):.0f} ms')
        print(f'  server memory: {rss_before} MB before, {memory(board.proc.pid, "VmHWM:")} MB at '
              f'its peak')
        kept = bt.sql(store, 'SELECT count(*), sum(length(body)) FROM chunks')[0]
        print(f'  database: {int(kept[0]) / a.games:.0f} chunk rows and {int(kept[1]) / a.games / 1024:.1f} kB of '
              f'chunks a game ({int(kept[1]) / max(1, int(kept[0])):.0f} bytes a chunk, kept five minutes past the '
              f'end); one INSERT and one UPDATE of the ticket a chunk', flush=True)
    finally:
        board.stop()
        if pg:
            pg.stop()


if __name__ == '__main__':
    main()
