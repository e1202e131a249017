#!/usr/bin/env python3
"""The board's server end to end: the real kiv-board on 127.0.0.1, driven by
a real HTTP client, with games recorded by kiv_board_game from the seeds of
the server's own tickets.

  board_test.py --board EXE --game EXE --source DIR [--postgres] SUITE...

  api     the API, the bad-input matrix, rate limits, CORS, static files and
          the moderation commands
  attacks the attack table (tests/board/attacks.py)
  shared  two servers on one PostgreSQL database (needs --postgres)
  kills   servers, lone workers and verifiers killed 30 times while games
          are queued
  upgrade a board of the release before owned names, upgraded in place
  daily   the daily game (tests/board/daily.py)

With --postgres the board is kept in a PostgreSQL 15 that the test starts
itself (initdb into a scratch directory, as the postgres user when run as
root, listening on 127.0.0.1 only) and stops, pass or fail. Every process
the test starts dies with it.
"""
import argparse
import base64
import contextlib
import gzip
import ctypes
import http.client
import json
import os
import pwd
import random
import re
import select
import shutil
import signal
import socket
import sqlite3
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import types
import zlib

# attacks.py imports this module by its name, also when it runs as a script.
sys.modules.setdefault('board_test', sys.modules[__name__])

PG_BIN = '/usr/lib/postgresql/15/bin'
JSON = {'Content-Type': 'application/json'}

args = None
scratch = None
started = []


def fail(message):
    raise AssertionError(message)


def check(condition, message):
    if not condition:
        fail(message)


def tied(uid=None):
    """A child that dies with the test, optionally as another user."""
    def prepare():
        if uid is not None:
            os.setgroups([])
            os.setgid(uid[1])
            os.setuid(uid[0])
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    return prepare


def spawn(command, uid=None, **kw):
    p = subprocess.Popen(command, preexec_fn=tied(uid), **kw)
    started.append(p)
    return p


def free_port():
    """A port no one holds now (another may take it before it is used:
    servers started on one try again on a failure)."""
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def wait_for(condition, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    fail(f'timed out waiting for {what}')


# --- HTTP ---------------------------------------------------------------

def request(port, method, path, body=None, headers=None, source='127.0.0.1', timeout=60, tls=False):
    conn = (http.client.HTTPSConnection('127.0.0.1', port, timeout=timeout, context=ssl._create_unverified_context())
            if tls else http.client.HTTPConnection('127.0.0.1', port, timeout=timeout, source_address=(source, 0)))
    try:
        conn.request(method, path, body=body, headers=headers or {})
        r = conn.getresponse()
        return r.status, {k.lower(): v for k, v in r.getheaders()}, r.read()
    finally:
        conn.close()


def raw_exchange(port, head, body_chunks=(), pause=0.0, seconds=15):
    """Sends a request by hand (head, then chunks with a pause between) and
    returns (status, whole answer, seconds until the server closed)."""
    s = socket.create_connection(('127.0.0.1', port))
    start = time.monotonic()
    got = b''
    try:
        s.sendall(head)
        chunks = iter(body_chunks)
        closed = False
        while time.monotonic() - start < seconds and not closed:
            chunk = next(chunks, None)
            if chunk is not None:
                try:
                    s.sendall(chunk)
                except OSError:
                    chunks = iter(())
            # Between chunks only what has come already (or what comes in
            # the pause); once all is sent, the answer is waited for.
            wait = pause if chunk is not None else 0.05
            if not select.select([s], [], [], wait)[0]:
                continue
            try:
                data = s.recv(65536)
                if not data:
                    closed = True
                got += data
            except OSError:
                closed = True
        m = re.match(rb'HTTP/1\.1 (\d+)', got)
        return (int(m.group(1)) if m else None), got, (time.monotonic() - start if closed else None)
    finally:
        s.close()


class Board:
    """A running kiv-board, or a lone worker; its standard error into `log`
    when given."""

    def __init__(self, store, *extra, env=None, log=None, worker=False):
        self.store = store
        with open(log or os.devnull, 'a') as err:
            self.proc = spawn([args.board, *(['worker'] if worker else ['--port', '0']), *store, *extra],
                              stdout=subprocess.PIPE, stderr=err if log else None, env=env)
        ready, _, _ = select.select([self.proc.stdout], [], [], 30)
        line = self.proc.stdout.readline().decode() if ready else ''
        m = re.search(r'http://127\.0\.0\.1:(\d+)/|verifying games', line)
        check(m, f'the server did not start: {line!r}')
        self.port = int(m.group(1)) if m.group(1) else None

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            self.proc.wait(20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        if sig == signal.SIGTERM:
            check(self.proc.returncode == 0, f'the server ended with {self.proc.returncode}')

    def call(self, method, path, body=None, headers=None, **kw):
        status, head, data = request(self.port, method, path, body, headers, **kw)
        if head.get('content-type') == 'application/json' and data:
            return status, head, json.loads(data)
        return status, head, data

    def post(self, path, fields=None, secret=None, **kw):
        headers = {**JSON, **({'Authorization': f'Bearer {secret}'} if secret else {})}
        return self.call('POST', path, json.dumps(fields if fields is not None else {}), headers, **kw)

    def claim(self, name, source='127.0.0.1'):
        status, _, body = self.post('/api/names', {'name': name}, source=source)
        check(status == 201, f'{name} not claimed: {status} {body}')
        return body['secret']

    def ticket(self, source='127.0.0.1'):
        status, _, t = self.post('/api/tickets', source=source)
        check(status == 201, f'no ticket: {status} {t}')
        return t

    def start(self, ticket, name, secret, source='127.0.0.1'):
        status, _, body = self.post(f"/api/tickets/{ticket}/start", {'name': name}, secret, source=source)
        check(status == 200, f'not started: {status} {body}')
        return body['seed']

    def play(self, name, secret, *options, source='127.0.0.1'):
        """A started ticket and its game, recorded at once by the bot."""
        t = self.ticket(source)['ticket']
        replay, steps, score = record(self.start(t, name, secret, source), *options)
        return types.SimpleNamespace(ticket=t, replay=replay, steps=steps, score=score)

    def chunk(self, ticket, secret, at, packed, header=None, **kw):
        fields = {'steps': at, 'chunk': base64.b64encode(packed).decode()}
        if header:
            fields['header'] = base64.b64encode(header).decode()
        return self.post(f'/api/tickets/{ticket}/steps', fields, secret, **kw)

    def stream(self, ticket, secret, replay, started, late=0.0, upto=None):
        """The replay streamed as the page does, each chunk sent `late`
        seconds after its last step is due from `started` (time.time()),
        up to step `upto`; the last answer."""
        for at, to, packed in chunks(replay):
            if upto is not None and to > upto:
                break
            wait = started + to / 100 + late - time.time()
            if wait > 0:
                time.sleep(wait)
            answer = self.chunk(ticket, secret, at, packed, replay[:24] + bytes(40) if at == 0 else None)
            if answer[0] != 200:
                return answer
        return answer

    def submit(self, ticket, replay, **kw):
        return self.post('/api/games', {'ticket': ticket, 'replay': base64.b64encode(replay).decode()}, **kw)

    def verdict(self, game_id, seconds=120):
        """The game's status once it is not pending."""
        def judged():
            status, _, body = self.call('GET', f'/api/games/{game_id}')
            check(status == 200, f'game {game_id}: {status} {body}')
            return body if body['status'] != 'pending' else None
        return wait_for(judged, seconds, f'the verdict on game {game_id}')

    def sent(self, ticket, replay, secret=None):
        """A game sent and judged: its status."""
        status, _, body = self.submit(ticket, replay, secret=secret)
        check(status == 202 and body['status'] == 'pending', f'not taken: {status} {body}')
        return self.verdict(body['id'])

    def top(self, period='all', limit=100):
        status, _, body = self.call('GET', f'/api/top?period={period}&limit={limit}')
        check(status == 200 and body['period'] == period, f'top: {status} {body}')
        return body['games']

    def alive(self):
        status, _, _ = self.call('GET', '/api/top')
        check(status == 200, 'the server no longer answers')
        check(self.proc.poll() is None, 'the server ended')


def moderate(store, *command):
    r = subprocess.run([args.board, *command, *store], capture_output=True, text=True, timeout=60)
    return r.returncode, r.stdout + r.stderr


def sql(store, query):
    """Rows of a query on the board's own database, as text."""
    if store[0] == '--data':
        with contextlib.closing(sqlite3.connect(os.path.join(store[1], 'board.sqlite'))) as db:
            rows = db.execute(query).fetchall()
            db.commit()
            return [[str(v) for v in row] for row in rows]
    out = subprocess.run(['psql', '-Atq', '-F', '\t', store[1], '-c', query], capture_output=True, text=True,
                         timeout=60, check=True).stdout
    return [line.split('\t') for line in out.splitlines() if line]


# --- games --------------------------------------------------------------

def record(seed, *options):
    """A game from `seed` by the catcher bot (tools/bot); (bytes, steps, score)."""
    path = os.path.join(scratch, f'game-{seed}-{random.getrandbits(32)}.rec')
    r = subprocess.run([args.game, path, '--seed', str(seed), *options], capture_output=True, text=True,
                       timeout=120)
    check(r.returncode == 0, f'recording failed: {r.stderr}')
    steps, _, score = map(int, r.stdout.split())
    with open(path, 'rb') as f:
        data = f.read()
    os.unlink(path)
    return data, steps, score


class Watcher:
    """A live game's event stream, read as it comes in a thread of its own:
    its events (name, data, id, when), and its answer's status."""

    def __init__(self, port, live, start=0, tls=False, source='127.0.0.1'):
        kw = {'timeout': 60, 'source_address': (source, 0)}
        self.conn = http.client.HTTPSConnection('127.0.0.1', port, context=ssl._create_unverified_context(), **kw) \
            if tls else http.client.HTTPConnection('127.0.0.1', port, **kw)
        self.conn.request('GET', f'/api/live/{live}?from={start}')
        self.response = self.conn.getresponse()
        self.status, self.events, self.ended = self.response.status, [], False
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        event = {}
        try:
            while line := self.response.readline():
                line = line.decode().rstrip('\n')
                if line:
                    key, _, value = line.partition(': ')
                    event[key] = value
                elif 'event' in event:
                    self.events.append(types.SimpleNamespace(name=event['event'], data=json.loads(event['data']),
                                                             id=event.get('id'), at=time.time()))
                    event = {}
        except (OSError, ValueError, http.client.HTTPException):
            pass
        self.ended = True

    def wait(self, test, seconds, what):
        return wait_for(lambda: next((e for e in list(self.events) if test(e)), None), seconds, what)

    def close(self):
        with contextlib.suppress(OSError):
            self.conn.sock.shutdown(socket.SHUT_RDWR)
        self.thread.join(10)
        self.conn.close()


def chunks(replay, per=100):
    """The replay's frames as a page streams them: (from step, to step,
    zlib of whole frames in the body's layout) of about `per` steps each."""
    body = zlib.decompress(replay[64:])
    steps, frames = struct.unpack_from('<II', replay, 28)

    def numbers(at):
        out = []
        for _ in range(steps):
            start = at
            while body[at] & 0x80:
                at += 1
            at += 1
            out.append(body[start:at])
        return out, at
    xs, at = numbers(frames + steps)
    ys, _ = numbers(at)
    out, f, s = [], 0, 0
    while f < frames:
        g, t = f, s
        while g < frames and (t - s < per or g == f):
            t += body[g] & 7
            g += 1
        out.append((s, t, zlib.compress(body[f:g] + body[frames + s:frames + t] + b''.join(xs[s:t]) +
                                        b''.join(ys[s:t]), 9)))
        f, s = g, t
    return out


# --- PostgreSQL -----------------------------------------------------------

class Postgres:
    """A PostgreSQL 15 of the test's own, on 127.0.0.1."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix='kiv-board-pg-')
        self.proc = None
        user = None
        if os.getuid() == 0:
            pw = pwd.getpwnam('postgres')
            user = (pw.pw_uid, pw.pw_gid)
            os.chown(self.dir, pw.pw_uid, pw.pw_gid)
            initdb = ['runuser', '-u', 'postgres', '--']
        else:
            initdb = []
        data = os.path.join(self.dir, 'data')
        r = subprocess.run([*initdb, f'{PG_BIN}/initdb', '-D', data, '-A', 'trust', '-U', 'kiv', '-N',
                            '-E', 'UTF8', '--locale=C.UTF-8'], capture_output=True, text=True, timeout=120)
        check(r.returncode == 0, f'initdb failed: {r.stderr}')
        for _ in range(5):
            self.port = free_port()
            self.proc = spawn([f'{PG_BIN}/postgres', '-D', data, '-c', 'listen_addresses=127.0.0.1',
                               '-p', str(self.port), '-k', self.dir], uid=user,
                              stdout=subprocess.DEVNULL, stderr=open(os.path.join(scratch, 'postgres.log'), 'a'))
            if self.wait_ready():
                return
            self.proc.kill()
            self.proc.wait()
        fail('PostgreSQL did not start')

    def wait_ready(self):
        end = time.monotonic() + 30
        while time.monotonic() < end and self.proc.poll() is None:
            r = subprocess.run(['pg_isready', '-q', '-h', '127.0.0.1', '-p', str(self.port)])
            if r.returncode == 0:
                return True
            time.sleep(0.1)
        return False

    def sql(self, database, sql):
        r = subprocess.run(['psql', '-q', '-h', '127.0.0.1', '-p', str(self.port), '-U', 'kiv', '-d', database,
                            '-c', sql], capture_output=True, text=True, timeout=60)
        check(r.returncode == 0, r.stderr)

    def database(self, name):
        self.sql('postgres', f'CREATE DATABASE {name}')
        return f'postgresql://kiv@127.0.0.1:{self.port}/{name}'

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)  # fast shutdown
            try:
                self.proc.wait(20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


# --- suites ---------------------------------------------------------------

def web_dir(name='web'):
    d = os.path.join(scratch, name)
    os.makedirs(os.path.join(d, 'sub'))
    files = {'index.html': b'<!doctype html><title>Kiv</title>', 'kiv.wasm': b'\0asm\1\0\0\0',
             'kiv.js': b'var kiv;', 'kiv.data': bytes(range(256)), 'sub/page.css': b'body{}',
             'kiv.0123456789abcdef.wasm': b'\0asm\1\0\0\1', 'kiv.0123456789abcdeg.js': b'var not_hashed;',
             # compressed forms, as the build writes them (the brotli one a stand-in)
             'kiv.0123456789abcdef.wasm.gz': gzip.compress(b'\0asm\1\0\0\1'),
             'kiv.0123456789abcdef.wasm.br': b'brotli stand-in', 'kiv.js.gz': gzip.compress(b'var kiv;'),
             'kiv.webmanifest': b'{"name": "Kiv"}',
             '.hidden': b'secret'}
    for name, data in files.items():
        with open(os.path.join(d, name), 'wb') as f:
            f.write(data)
    with open(os.path.join(scratch, 'secret.txt'), 'wb') as f:  # beside every web directory
        f.write(b'not to be served')
    return d, files


def frames_of(packed):
    """A chunk's frame bytes, buttons, x and y motions (each a list)."""
    raw = zlib.decompress(packed)
    ends = sum(b < 0x80 for b in raw)
    k = steps = 0
    while k + 3 * steps < ends:
        steps += raw[k] & 7
        k += 1
    numbers, start = [], k + steps
    for i in range(k + steps, len(raw)):
        if raw[i] < 0x80:
            numbers.append(raw[start:i + 1])
            start = i + 1
    return [list(raw[:k]), list(raw[k:k + steps]), numbers[:steps], numbers[steps:]]


def streamed_at(server, watched_at, g, secret):
    """A started game listed live and watched at `watched_at` from before its
    first chunk, then streamed to `server` up to step 1400 at once (its board's
    tolerance a day); (the watcher, the game's public id)."""
    live = [e for e in watched_at.call('GET', '/api/live')[2]['games'] if e['name'] == 'Max'][0]['id']
    watcher = Watcher(watched_at.port, live)
    check(watcher.status == 200 and watcher.response.getheader('Content-Type') == 'text/event-stream', watcher.status)
    answer = server.stream(g.ticket, secret, g.replay, time.time() - 3600, upto=1400)
    check(answer[0] == 200 and answer[2]['steps'] == 1400, answer)
    wait_for(lambda: [(e['id'], e['steps']) for e in watched_at.call('GET', '/api/live')[2]['games']] ==
             [(live, 1400)], 5, 'the live list to show the stream')  # (read once a second)
    return watcher, live


def watched_to_end(watcher, g, game_id):
    """The watcher saw the game from its start, every frame as played, and its end."""
    end = watcher.wait(lambda e: e.name == 'end', 20, 'the end of the stream')
    names = [e.name for e in watcher.events]
    check(names[0] == 'game' and names[-1] == 'end' and set(names[1:-1]) == {'chunk'}, names)
    first = watcher.events[0].data
    check(first['name'] == 'Max' and base64.b64decode(first['header']) == g.replay[:24] + bytes(40), first)
    seen = [[], [], [], []]
    for at, e in zip([0] + [e.data['to'] for e in watcher.events[1:-2]], watcher.events[1:-1]):
        check(e.data['steps'] == at and e.id == str(e.data['to']), f'a chunk from {e.data["steps"]}, not {at}')
        for whole, part in zip(seen, frames_of(base64.b64decode(e.data['chunk']))):
            whole += part
    check(seen == [sum(parts, []) for parts in zip(*(frames_of(p) for _, _, p in chunks(g.replay)))],
          'the frames watched are not those played')
    check(end.data == {'steps': g.steps, 'game': game_id, 'status': end.data['status']} and
          end.data['status'] in ('pending', 'on the board'), end.data)
    watcher.close()


def suite_api(store):
    web, files = web_dir()
    origin = 'http://page.example'
    # Games are sent as soon as they are recorded: a margin and a tolerance of a day let them.
    main = Board(store, '--pace-margin', '86400', '--pace-tolerance', '86400', '--allow-origin', origin, '--web', web,
                 '--tickets-per-minute', '1000', '--games-per-minute', '1000', '--names-per-minute', '1000',
                 '--starts-per-minute', '1000', '--reads-per-minute', '1000')
    try:
        api_checks(main, store, files, origin)
    finally:
        main.stop()


def bearer(secret):
    return {'Authorization': f'Bearer {secret}'}


def api_checks(main, store, files, origin):
    # Names: a claim's secret holds the name; a pairing code gives another
    # browser a secret of its own, once.
    secrets = {name.strip(): main.claim(name) for name in ['Ann', '  Zoë 李  ', "Robert');--", 'Max']}
    for name, secret in secrets.items():
        status, _, body = main.call('GET', '/api/names/me', headers=bearer(secret))
        check(re.fullmatch(r'[0-9a-f]{32}', secret) and status == 200 and body == {'name': name}, f'{status} {body}')
    status, _, pairing = main.post('/api/names/pairing', secret=secrets['Ann'])
    check(status == 201 and re.fullmatch(r'[A-HJ-NP-Z2-9]{4}-[A-HJ-NP-Z2-9]{4}', pairing['code']) and
          abs(pairing['expires'] - time.time() - 600) < 60, f'pairing: {status} {pairing}')
    status, _, paired = main.post('/api/names/paired', {'code': pairing['code'].lower().replace('-', ' ')})
    check(status == 201 and paired['name'] == 'Ann' and paired['secret'] != secrets['Ann'], f'{status} {paired}')

    # Tickets carry no seed; a start draws one, once.
    tickets = [main.ticket() for _ in range(20)]
    for t in tickets:
        check(re.fullmatch(r'[0-9a-f]{32}', t['ticket']) and 'seed' not in t and t['margin'] == 86400 and
              t['max_steps_per_frame'] == 1.1 and t['max_steps_per_frame_in_second'] == 2 and
              abs(t['expires'] - (time.time() + 7200)) < 60, t)
    check(len({t['ticket'] for t in tickets}) == 20, 'tickets repeat')
    seeds = {main.start(t['ticket'], 'Max', secrets['Max']) for t in tickets[:3]}
    check(len(seeds) == 3 and all(0 <= s < 2**32 for s in seeds), seeds)
    for t in tickets[:3]:  # Max's three running games left, so that Max may start again
        check(main.post(f"/api/tickets/{t['ticket']}/abandon")[0] == 200, 'abandon')

    # Good games, from both of Ann's browsers: 202 at once, then the
    # verifier's score and ranks; the same replay again answers the same.
    added = []
    for play, name, secret in [(300, 'Ann', secrets['Ann']), (1000, 'Zoë 李', secrets['Zoë 李']),
                               (600, "Robert');--", secrets["Robert');--"]), (300, 'Ann', paired['secret']),
                               (1500, 'Max', secrets['Max'])]:
        g = main.play(name, secret, '--play', str(play))
        if name == 'Max':  # streamed, and watched live from before its first chunk
            watcher, live = streamed_at(main, main, g, secret)
        status, _, taken = main.submit(g.ticket, g.replay, secret=secret)
        check(status == 202 and taken['status'] == 'pending', f'{name}: {status} {taken}')
        v = main.verdict(taken['id'])
        better = sum(1 for a in added if a['score'] >= g.score) + 1
        check(v['status'] == 'on the board' and v['name'] == name and v['score'] == g.score and
              v['seconds'] == g.steps / 100 and v['ranks'] == {'day': better, 'week': better, 'all': better} and
              re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ', v['time']), f'{v} {g.score} {added}')
        added.append({'id': taken['id'], 'name': name, 'score': g.score, 'replay': g.replay})
    watched_to_end(watcher, g, taken['id'])
    # The list shows it no more; a stream asked for once the game ended is its end at once.
    wait_for(lambda: main.call('GET', '/api/live')[2] == {'games': []}, 5, 'the game off the live list')
    again = Watcher(main.port, live, 1400)
    check(again.wait(lambda e: e.name == 'end', 10, 'the end').data['game'] == taken['id'] and
          [e.name for e in again.events] == ['game', 'chunk', 'end'] and again.events[1].data['steps'] == 1400,
          [e.name for e in again.events])
    again.close()
    for g in added:  # kept as played: the same game, its file no larger
        status, head, data = main.call('GET', f"/api/games/{g['id']}/replay")
        check(status == 200 and data[:4] == b'KIVR' and data[8:12] == g['replay'][8:12] and
              data[24:28] == g['replay'][24:28] and len(data) <= len(g['replay']) and
              head['content-type'] == 'application/octet-stream' and
              f"kiv-game-{g['id']}.rec" in head['content-disposition'], f'replay {status} {head}')
    expected = sorted(added, key=lambda g: (-g['score'], g['id']))
    for period in ('day', 'week', 'all'):
        check([(g['id'], g['name'], g['score']) for g in main.top(period)] ==
              [(g['id'], g['name'], g['score']) for g in expected], f'{period}: {main.top(period)}')
    check(len(main.top('all', 2)) == 2, 'limit')
    status, _, body = main.call('GET', '/api/top')
    check(status == 200 and body['period'] == 'all' and len(body['games']) == 5, body)

    # CORS for the page's origin only, the secret's header allowed.
    status, head, _ = main.call('OPTIONS', '/api/tickets/0/start', headers={
        'Origin': origin, 'Access-Control-Request-Method': 'POST',
        'Access-Control-Request-Headers': 'content-type, authorization'})
    check(status == 204 and head.get('access-control-allow-origin') == origin and
          'POST' in head['access-control-allow-methods'] and
          'Authorization' in head['access-control-allow-headers'], f'preflight {status} {head}')
    _, head, _ = main.call('GET', '/api/top', headers={'Origin': origin})
    check(head.get('access-control-allow-origin') == origin, 'CORS on GET')

    # Static files: types, HEAD (what is refused is in the attack table).
    for path, name, kind in [('/', 'index.html', 'text/html; charset=utf-8'),
                             ('/kiv.wasm', 'kiv.wasm', 'application/wasm'),
                             ('/kiv.js', 'kiv.js', 'text/javascript; charset=utf-8'),
                             ('/kiv.data', 'kiv.data', 'application/octet-stream'),
                             ('/sub/page.css', 'sub/page.css', 'text/css; charset=utf-8'),
                             ('/kiv.webmanifest', 'kiv.webmanifest', 'application/manifest+json'),
                             ('/?game=3', 'index.html', 'text/html; charset=utf-8')]:
        status, head, data = main.call('GET', path)
        check(status == 200 and data == files[name] and head['content-type'] == kind, f'{path}: {status} {head}')
        status, head, data = main.call('HEAD', path)
        check(status == 200 and data == b'' and int(head['content-length']) == len(files[name]), f'HEAD {path}')

    # Files named by their content are kept for ever; the rest is asked again
    # each time and answered 304 while it is the same file.
    for path, kept in [('/kiv.0123456789abcdef.wasm', True), ('/kiv.0123456789abcdeg.js', False), ('/', False)]:
        status, head, _ = main.call('GET', path)
        check(status == 200 and (head['cache-control'] == 'public, max-age=31536000, immutable') == kept and
              ('etag' not in head) == kept, f'{path}: {head}')
        if not kept:
            for tag, want in [(head['etag'], 304), (f'"x", W/{head["etag"]}', 304), ('*', 304), ('"x"', 200)]:
                status, again, data = main.call('GET', path, headers={'If-None-Match': tag})
                check(status == want and again['etag'] == head['etag'] and (data == b'') == (want == 304) and
                      again['cache-control'] == 'no-cache', f'{path} {tag}: {status} {again}')

    # A content-named file's compressed form goes to a request that takes it,
    # brotli first; any other request, and any other file, gets it as it is.
    wasm = 'kiv.0123456789abcdef.wasm'
    for name, accept, coding in [(wasm, 'identity', None), (wasm, 'gzip', 'gzip'), (wasm, 'deflate, gzip, br', 'br'),
                                 (wasm, 'GZIP;Q=0.5', 'gzip'), (wasm, 'br;q=0, gzip;q=0', None), (wasm, '*;q=0', None),
                                 (wasm, 'br;q=0, *', 'gzip'), (wasm, 'gzip;q=1x', None), (wasm, 'gzip;q=2', None),
                                 (wasm, 'br; q = 0.001', 'br'), ('kiv.js', 'gzip', None), ('index.html', 'br', None)]:
        for method in ('GET', 'HEAD'):
            status, head, data = main.call(method, '/' + name, headers={'Accept-Encoding': accept})
            want = files[name + {'gzip': '.gz', 'br': '.br', None: ''}[coding]]
            check(status == 200 and head.get('content-encoding') == coding and int(head['content-length']) == len(want)
                  and data == (want if method == 'GET' else b'') and head['content-type'] != 'application/octet-stream'
                  and (head.get('vary') == 'Accept-Encoding') == (name == wasm), f'{method} {name} [{accept}]: {head}')

    # The operator's commands, on the same database as the server.
    def says(words, *command, code=0):
        got, out = moderate(store, *command)
        check(got == code and all(w in out for w in words), f'{command}: {got} {out}')
        return out
    says(['3 newest games', 'Max'], 'list', '--limit', '3')
    says(["Robert');--"], 'list')
    victim = added[0]['id']
    says([f'removed game {victim} (on the board): Ann'], 'remove', str(victim))
    check(main.call('GET', f'/api/games/{victim}')[0] == 404, 'a removed game')
    says(['no game'], 'remove', str(victim), code=1)
    says(['4 names held', 'Ann', 'owned', '2 secrets', '1 game on the board'], 'names')
    says(['renamed Max to Maxim, and its 1 game on the board'], 'rename', 'max', 'Maxim')
    wait_for(lambda: any(g['name'] == 'Maxim' for g in main.top()), 5, 'the renamed name on the board')
    code = re.search(r'[A-Z2-9]{4}-[A-Z2-9]{4}', says(['pairing code for Maxim'], 'pair', 'maxim')).group(0)
    status, _, body = main.post('/api/names/paired', {'code': code})
    check(status == 201 and body['name'] == 'Maxim', f'{status} {body}')
    says(['released Maxim', '1 game on the board keeps'], 'release', 'MAXIM')
    check(main.call('GET', '/api/names/me', headers=bearer(body['secret']))[0] == 401, 'a released name\'s secret')
    main.claim('Maxim')
    check(any(g['name'] == 'Maxim' for g in main.top()), 'a released name\'s game')
    says(['no game waits'], 'queue')
    # A second server on a port in use says so and ends; the first serves on.
    says([f'cannot listen on 127.0.0.1 port {main.port}'], '--port', str(main.port), code=1)
    main.alive()


# Servers that take games as soon as they are recorded, as many as a test sends.
LENIENT = ('--pace-margin', '86400', '--pace-tolerance', '86400', '--tickets-per-minute', '100000', '--games-per-minute', '100000',
           '--names-per-minute', '100000', '--starts-per-minute', '100000', '--reads-per-minute', '100000',
           '--running-per-name', '100000', '--running-per-client', '100000')


def forged(replay):
    """The same game claiming another score: refused by its verifier."""
    head = bytearray(replay)
    struct.pack_into('<i', head, 24, struct.unpack_from('<i', head, 24)[0] + 1000)
    return bytes(head)


def children(proc):
    """The worker processes a server or worker has running."""
    kids = []
    for task in os.listdir(f'/proc/{proc.pid}/task'):
        try:
            with open(f'/proc/{proc.pid}/task/{task}/children') as f:
                kids += [int(k) for k in f.read().split()]
        except OSError:
            pass
    return kids


def suite_kills(store, pg):
    """Servers, lone workers and their verifiers killed 30 times while games
    are queued (one server and a worker on SQLite; two servers and a worker
    on PostgreSQL): every game answered 202 gets one verdict, the right one,
    logged once; none is lost."""
    logs = []

    def launch(kind):
        logs.append(os.path.join(scratch, f'kills-{len(logs)}.log'))
        return Board(store, *([] if kind == 'worker' else LENIENT), '--workers', '1', '--lease', '2', log=logs[-1],
                     worker=kind == 'worker')
    procs = [launch(kind) for kind in (['server', 'server', 'worker'] if pg else ['server', 'worker'])]
    secret = procs[0].claim('Killer')
    accepted = {}  # id: the score it goes on with, or None when it is refused

    def send(server, games, answered):
        for ticket, replay, score in games:
            try:
                status, _, body = server.submit(ticket, replay, timeout=20)
            except (OSError, http.client.HTTPException):
                return  # the server died under it: not answered
            check(status == 202, f'{status} {body}')
            answered[ticket] = True
            accepted[body['id']] = score

    def pending():
        return int(sql(store, 'SELECT count(*) FROM games WHERE status = 0')[0][0])
    kills = rounds = 0
    try:
        while kills < 30:
            rounds += 1
            check(rounds < 300, f'{kills} kills in {rounds} rounds: the queue is never full enough')
            server = random.choice([p for p in procs if p.port])
            games = []
            for n in range(8):
                g = server.play('Killer', secret, '--play', str(random.choice([0, 300, 3000])))
                games.append((g.ticket, forged(g.replay), None) if n % 4 == 3 else (g.ticket, g.replay, g.score))
            answered = {}
            midway = kills % 3 == 0
            if midway:
                # Killed as the games arrive: what was not answered is sent again.
                sender = threading.Thread(target=send, args=(server, games, answered))
                sender.start()
                time.sleep(random.uniform(0, 0.1))
                victim = server
            else:
                send(server, games, answered)
                time.sleep(random.uniform(0, 0.2))
                if not pending():
                    continue
                victim = random.choice(procs)
            kids = children(victim.proc)
            if kids and random.random() < 0.3:
                os.kill(random.choice(kids), signal.SIGKILL)  # a verifier alone
            else:
                victim.stop(signal.SIGKILL)
                procs[procs.index(victim)] = launch('worker' if victim.port is None else 'server')
            kills += 1
            if midway:
                sender.join(60)
                send(next(p for p in procs if p.port), [g for g in games if g[0] not in answered], answered)
                check(len(answered) == len(games), 'a game resent was not taken')
        wait_for(lambda: not pending(), 120, 'the queue to empty')
        rows = {int(i): (int(status), int(score), reason, int(failures), int(attempts)) for i, status, score, reason,
                failures, attempts in sql(store, 'SELECT id, status, score, reason, failures, attempts FROM games')}
        said = {}
        for log in logs:
            with open(log) as f:
                for m in re.finditer(r'game (\d+) is (on the board|refused)', f.read()):
                    said[int(m.group(1))] = said.get(int(m.group(1)), 0) + 1
        for game_id, score in accepted.items():
            status, got, reason, failures, attempts = rows[game_id]
            # Killed verifiers may, now and then, cost a game its three tries.
            cut_short = 'could not be verified' in reason and (failures >= 3 or attempts >= 10)
            check(cut_short or (status, got if score is not None else None) == (1 if score is not None else 2, score),
                  f'game {game_id}: {rows[game_id]}, not {score}')
            check(said.get(game_id, 0) <= 1, f'game {game_id} was judged {said.get(game_id)} times')
        if store[0] == '--data':
            check(sql(store, 'PRAGMA integrity_check') == [['ok']], 'integrity check')
        print(f'kills: {kills} in {rounds} rounds; {len(accepted)} games taken, each judged once '
              f'({len(accepted) - len(said)} killed before their line); claimed again after a kill: '
              f'{sum(1 for i in accepted if rows[i][4] > 1)}, after a verifier failed: '
              f'{sum(1 for i in accepted if rows[i][3] > 0)}', flush=True)
    finally:
        for p in procs:
            p.stop()


def suite_upgrade(store, pg):
    """A board of the release before owned names, as that release's kiv-board
    made it (board_schema1.*.sql, its SQL dump: five games, three of them
    under one name written three ways, and a ticket never used), upgraded in
    place when a server starts on it."""
    fixture = os.path.join(args.source, 'tests/board', f'board_schema1.{"postgres" if pg else "sqlite"}.sql')
    store = ['--database', pg.database('upgraded')] if pg else ['--data', os.path.join(scratch, 'upgraded')]
    if pg:
        r = subprocess.run(['psql', '-q', '-v', 'ON_ERROR_STOP=1', store[1], '-f', fixture], capture_output=True,
                           text=True, timeout=60)
        check(r.returncode == 0, r.stderr)
    else:
        os.makedirs(store[1])
        with contextlib.closing(sqlite3.connect(os.path.join(store[1], 'board.sqlite'))) as db, open(fixture) as f:
            db.executescript(f.read())
    hex_of = 'encode(replay, \'hex\')' if pg else 'lower(hex(replay))'
    sql(store, "UPDATE games SET name = 'Ann  of   Kiv' WHERE name = 'Ann'")  # held, and shown, single-spaced
    before = [(int(i), re.sub(' +', ' ', n), int(s), bytes.fromhex(r)) for i, n, s, r in
              sql(store, f'SELECT id, name, score, {hex_of} FROM games ORDER BY id')]
    log = os.path.join(scratch, 'upgrade.log')
    board = Board(store, *LENIENT, log=log)
    try:
        check('upgraded from version 1 to 5' in open(log).read(), 'no upgrade said')
        # Every game stays on the board as it was; the idle verifiers keep
        # each as played: the same game from the same seed to the same score.
        check(sorted((g['id'], g['name'], g['score']) for g in board.top()) == [g[:3] for g in before], board.top())
        wait_for(lambda: sql(store, 'SELECT count(*) FROM games WHERE as_played = 0') == [['0']], 60,
                 'the old games kept as played')
        check(sql(store, 'SELECT count(*) FROM games WHERE as_played = 1') == [['5']], 'an old game kept as sent')
        for game_id, _, _, replay in before:
            now = board.call('GET', f'/api/games/{game_id}/replay')[2]
            check(now[:4] == b'KIVR' and now[8:12] == replay[8:12] and now[24:28] == replay[24:28] and
                  len(now) <= len(replay), f'the replay of game {game_id}')
        # Its names are held for their players, lookalikes under the earliest.
        for name in ('Robin', 'rOBIN', 'ZOË', 'Ann of Kiv'):
            status, _, body = board.post('/api/names', {'name': name})
            check(status == 409 and 'reserved' in body['error'], f'{name}: {status} {body}')
        code, said = moderate(store, 'names')
        check(code == 0 and re.search(r'Robin.*reserved.*3 games', said), said)
        # The operator hands Robin over with a pairing code; its games and a new one rank under it.
        code = re.search(r'[A-Z2-9]{4}-[A-Z2-9]{4}', moderate(store, 'pair', 'robin')[1]).group(0)
        status, _, paired = board.post('/api/names/paired', {'code': code})
        check(status == 201 and paired['name'] == 'Robin', f'{status} {paired}')
        g = board.play('Robin', paired['secret'], '--play', '300')
        # (Its first two seconds streamed: the stream's tables, on the upgraded board.)
        check(board.stream(g.ticket, paired['secret'], g.replay, time.time() - 60, upto=200)[2]['steps'] == 200,
              'a chunk on the upgraded board')
        check(board.sent(g.ticket, g.replay, paired['secret'])['name'] == 'Robin', 'a game of the paired name')
        # A game of the old board, on a ticket given its seed: its inputs are on the board already.
        g = board.play('Robin', paired['secret'])
        sql(store, f"UPDATE tickets SET seed = {struct.unpack_from('<I', before[0][3], 8)[0]} "
                   f"WHERE ticket = '{g.ticket}'")
        check('on the board already' in board.sent(g.ticket, before[0][3])['reason'], 'an old game sent again')
        t = board.post('/api/tickets', {'daily': True})[2]['ticket']  # the daily's tables, on the upgraded board
        check(board.post(f'/api/tickets/{t}/start', {'name': 'Robin'}, paired['secret'])[2]['ranked'], 'a daily start')
    finally:
        board.stop()
    # Started again, nothing is upgraded; tables newer than this release are left alone.
    Board(store, log=log + '2').stop()
    check('upgraded' not in open(log + '2').read(), 'upgraded twice')
    sql(store, "UPDATE meta SET value = '6' WHERE item = 'schema'")
    code, said = moderate(store, 'list')
    check(code == 1 and 'newer than this kiv-board' in said, said)
    print('upgrade: 5 games of schema 1 kept, their names held as 3 and one handed over', flush=True)


def suite_shared(pg):
    url = pg.database('shared')
    store = ['--database', url]
    a, b = Board(store, *LENIENT), Board(store, *LENIENT)
    try:
        secret = a.claim('Twice')

        def race(*calls):
            barrier = threading.Barrier(len(calls))
            answers = [None] * len(calls)

            def run(i):
                barrier.wait()
                answers[i] = calls[i]()
            threads = [threading.Thread(target=run, args=(i,)) for i in range(len(calls))]
            for t in threads:
                t.start()
            for t in threads:
                t.join(60)
            return answers
        # One ticket started at both servers at once: one seed.
        t = a.ticket()['ticket']
        starts = race(*[lambda s=s: s.post(f'/api/tickets/{t}/start', {'name': 'Twice'}, secret) for s in (a, b)])
        check(sorted(s[0] for s in starts) == [200, 409], f'one ticket started twice: {starts}')
        seed = next(s[2]['seed'] for s in starts if s[0] == 200)
        # Two replays on it at both servers: one is taken; the same replay at both: one game.
        replay = record(seed, '--play', '300')[0]
        sent = race(lambda: a.submit(t, replay), lambda: b.submit(t, forged(replay)))
        check(sorted(s[0] for s in sent) == [202, 409], f'two replays on one ticket: {sent}')
        on_board = 22 + (sent[0][0] == 202)  # the forged one, when it is taken, is refused by its verifier
        g = b.play('Twice', secret, '--play', '300')
        sent = race(lambda: a.submit(g.ticket, g.replay), lambda: b.submit(g.ticket, g.replay))
        check([s[0] for s in sent] == [202, 202] and sent[0][2]['id'] == sent[1][2]['id'], f'one replay twice: {sent}')

        # A game streamed to one server is watched through the other: each
        # chunk's delay from its answer at one to its event at the other.
        owner = a.claim('Max')
        g = a.play('Max', owner, '--play', '1500')
        watcher, _ = streamed_at(a, b, g, owner)
        delays, begun = [], time.time()
        for at, to, packed in chunks(g.replay)[14:]:
            wait = begun + (to - 1400) / 100 - time.time()
            if wait > 0:
                time.sleep(wait)
            sent = time.time()
            check(a.chunk(g.ticket, owner, at, packed)[0] == 200, 'a chunk')
            delays.append(watcher.wait(lambda e: e.name == 'chunk' and e.data['to'] == to, 10, 'the chunk at b').at -
                          sent)
        taken = a.submit(g.ticket, g.replay, secret=owner)[2]
        watched_to_end(watcher, g, taken['id'])
        print(f'shared: a chunk sent to one server reached a watcher of the other in {1000 * min(delays):.0f} to '
              f'{1000 * max(delays):.0f} ms ({len(delays)} chunks)', flush=True)

        answered = {}
        lock = threading.Lock()

        def player(n):
            secret = a.claim(f'P{n}')
            for i in range(5):
                server, other = (a, b) if (n + i) % 2 else (b, a)
                t = other.ticket()['ticket']  # a ticket of one server starts and takes its game at the other
                replay, _, score = record(server.start(t, f'P{n}', secret), '--play', str(random.choice([0, 300, 600])))
                status, _, body = other.submit(t, replay)
                check(status == 202, f'{status} {body}')
                with lock:
                    answered[body['id']] = score
        players = [threading.Thread(target=player, args=(n,)) for n in range(4)]
        for p in players:
            p.start()
        for p in players:
            p.join(120)
        check(len(answered) == 20, f'{len(answered)} of 20 games answered')
        for game_id, score in answered.items():
            v = random.choice((a, b)).verdict(game_id)
            check(v['status'] == 'on the board' and v['score'] == score, f'{game_id}: {v}')

        def same_board():
            top_a, top_b = a.top(), b.top()
            return top_a if top_a == top_b and len(top_a) == on_board else None
        top = wait_for(same_board, 10, 'both servers to show one board')
        check([g['score'] for g in top] == sorted((g['score'] for g in top), reverse=True), 'best first')
        check(set(answered) <= {g['id'] for g in top}, 'a game answered 202 is missing')
    finally:
        a.stop()
        b.stop()


def main():
    global args, scratch
    p = argparse.ArgumentParser()
    p.add_argument('--board', required=True)
    p.add_argument('--game', required=True)
    p.add_argument('--source', required=True)
    p.add_argument('--postgres', action='store_true')
    p.add_argument('suites', nargs='+', choices=['api', 'attacks', 'shared', 'kills', 'upgrade', 'daily'])
    args = p.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    scratch = tempfile.mkdtemp(prefix='kiv-board-test-')
    pg = None
    try:
        if args.postgres:
            pg = Postgres()
            store = ['--database', pg.database('board')]
        else:
            store = ['--data', os.path.join(scratch, 'board')]
        for name in args.suites:
            start = time.monotonic()
            if name == 'shared':
                check(pg is not None, 'the shared suite needs --postgres')
                suite_shared(pg)
            elif name in ('attacks', 'daily'):
                __import__(name).suite(store, pg)
            elif name == 'api':
                suite_api(store)
            else:
                globals()[f'suite_{name}'](store, pg)
            print(f'{name}: passed in {time.monotonic() - start:.1f} s', flush=True)
    finally:
        for proc in started:
            if proc.poll() is None and (pg is None or proc is not pg.proc):
                proc.kill()
                proc.wait()
        if pg:
            pg.stop()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == '__main__':
    main()
