#!/usr/bin/env python3
"""The board's server end to end: the real kiv-board on 127.0.0.1, driven by
a real HTTP client, with games recorded by kiv_board_game from the seeds of
the server's own tickets.

  board_test.py --board EXE --game EXE --source DIR [--postgres] SUITE...

  api     the API, the bad-input matrix, rate limits, CORS, static files and
          the moderation commands
  attacks the attack table (tests/board/attacks.py)
  shared  two servers on one PostgreSQL database (needs --postgres)
  faults  the server killed 50 times in a stream of submissions; a worker
          killed in mid-verification

With --postgres the board is kept in a PostgreSQL 15 that the test starts
itself (initdb into a scratch directory, as the postgres user when run as
root, listening on 127.0.0.1 only) and stops, pass or fail. Every process
the test starts dies with it.
"""
import argparse
import base64
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
import subprocess
import sys
import tempfile
import threading
import time

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
    """A running kiv-board."""

    def __init__(self, store, *extra, env=None):
        self.store = store
        self.proc = spawn([args.board, '--port', '0', *store, *extra], stdout=subprocess.PIPE, env=env)
        ready, _, _ = select.select([self.proc.stdout], [], [], 20)
        line = self.proc.stdout.readline().decode() if ready else ''
        m = re.search(r'http://127\.0\.0\.1:(\d+)/', line)
        check(m, f'the server did not start: {line!r}')
        self.port = int(m.group(1))

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

    def ticket(self, source='127.0.0.1'):
        status, _, t = self.call('POST', '/api/tickets', '{}', JSON, source=source)
        check(status == 201, f'no ticket: {status} {t}')
        return t

    def submit(self, ticket, name, replay, **kw):
        body = json.dumps({'ticket': ticket, 'name': name, 'replay': base64.b64encode(replay).decode()})
        return self.call('POST', '/api/games', body, {'Content-Type': 'application/json'}, **kw)

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


# --- games --------------------------------------------------------------

def record(seed, *options):
    """A game from `seed` by the replay tests' bot; (bytes, steps, score)."""
    path = os.path.join(scratch, f'game-{seed}-{random.getrandbits(32)}.rec')
    r = subprocess.run([args.game, path, '--seed', str(seed), *options], capture_output=True, text=True,
                       timeout=120)
    check(r.returncode == 0, f'recording failed: {r.stderr}')
    steps, _, score = map(int, r.stdout.split())
    with open(path, 'rb') as f:
        data = f.read()
    os.unlink(path)
    return data, steps, score


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
             '.hidden': b'secret'}
    for name, data in files.items():
        with open(os.path.join(d, name), 'wb') as f:
            f.write(data)
    with open(os.path.join(scratch, 'secret.txt'), 'wb') as f:  # beside every web directory
        f.write(b'not to be served')
    return d, files


def suite_api(store):
    web, files = web_dir()
    origin = 'http://page.example'
    # Games arrive as fast as they are recorded here: a margin longer than
    # any test game lets them; `strict` keeps the default of 2 s.
    main = Board(store, '--duration-margin', '600', '--allow-origin', origin, '--web', web,
                 '--tickets-per-minute', '1000', '--games-per-minute', '1000')
    strict = Board(store)
    try:
        api_checks(main, strict, store, web, files, origin)
    finally:
        main.stop()
        strict.stop()


def api_checks(main, strict, store, web, files, origin):
    # A game that must wait out its own length (less 2 s and 1 %) on `strict`.
    patient_ticket = main.ticket()
    patient, patient_steps, _ = record(patient_ticket['seed'], '--bot', 'idle')
    patient_from = time.time()

    # Tickets: 32 hex digits, seeds the server chose, two hours to live.
    tickets = [main.ticket() for _ in range(20)]
    for t in tickets:
        check(re.fullmatch(r'[0-9a-f]{32}', t['ticket']), t)
        check(isinstance(t['seed'], int) and 0 <= t['seed'] < 2**32, t)
        check(abs(t['expires'] - (time.time() + 7200)) < 60, t)
    check(len({t['ticket'] for t in tickets}) == 20 and len({t['seed'] for t in tickets}) == 20,
          'tickets or seeds repeat')

    # Good games: the verifier's score, ranks, the row, the replay's bytes.
    added = []
    for play, name in [(300, 'Ann'), (1000, '  Zoë 李  '), (600, "Robert');--"), (300, 'Ann'), (1500, 'Max')]:
        t = main.ticket()
        replay, steps, score = record(t['seed'], '--play', str(play))
        status, _, body = main.submit(t['ticket'], name, replay)
        check(status == 201 and body['score'] == score, f'{name}: {status} {body}')
        better = sum(1 for g in added if g['score'] >= score)
        check(body['rank'] == better + 1 and body['ranks'] == {'day': better + 1, 'week': better + 1,
                                                               'all': better + 1}, f'ranks {body} {added}')
        added.append({'id': body['id'], 'name': name.strip(), 'score': score, 'replay': replay, 'steps': steps})
        status, _, again = main.submit(t['ticket'], name, replay)
        check(status == 409 and 'used' in again['error'], f'a used ticket: {status} {again}')
    for g in added:
        status, _, row = main.call('GET', f"/api/games/{g['id']}")
        check(status == 200 and row['name'] == g['name'] and row['score'] == g['score'] and
              row['seconds'] == g['steps'] / 100 and re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ', row['time']),
              f'{row} {g}')
        status, head, data = main.call('GET', f"/api/games/{g['id']}/replay")
        check(status == 200 and data == g['replay'] and head['content-type'] == 'application/octet-stream' and
              f"kiv-game-{g['id']}.rec" in head['content-disposition'], f'replay {status} {head}')
    expected = sorted(added, key=lambda g: (-g['score'], g['id']))
    for period in ('day', 'week', 'all'):
        check([(g['id'], g['name'], g['score']) for g in main.top(period)] ==
              [(g['id'], g['name'], g['score']) for g in expected], f'{period}: {main.top(period)}')
    check(len(main.top('all', 2)) == 2, 'limit')
    status, _, body = main.call('GET', '/api/top')
    check(status == 200 and body['period'] == 'all' and len(body['games']) == 5, body)

    # The patient game, once it has waited out its length less the margin.
    lasted = patient_steps / 100
    wait_for(lambda: time.time() - patient_from > lasted - 2 - 0.01 * lasted + 0.2, 30, 'the game to last')
    status, _, answer = strict.submit(patient_ticket['ticket'], 'Patient', patient, source='127.0.0.8')
    check(status == 201, f'on time: {status} {answer}')

    # CORS for the page's origin only.
    status, head, _ = main.call('OPTIONS', '/api/games', headers={
        'Origin': origin, 'Access-Control-Request-Method': 'POST', 'Access-Control-Request-Headers': 'content-type'})
    check(status == 204 and head.get('access-control-allow-origin') == origin and
          'POST' in head['access-control-allow-methods'] and
          'Content-Type' in head['access-control-allow-headers'], f'preflight {status} {head}')
    _, head, _ = main.call('GET', '/api/top', headers={'Origin': origin})
    check(head.get('access-control-allow-origin') == origin, 'CORS on GET')
    _, head, _ = main.call('GET', '/api/top', headers={'Origin': 'http://elsewhere.example'})
    check('access-control-allow-origin' not in head, 'CORS for another origin')

    # Static files: types, HEAD (what is refused is in the attack table).
    for path, name, kind in [('/', 'index.html', 'text/html; charset=utf-8'),
                             ('/kiv.wasm', 'kiv.wasm', 'application/wasm'),
                             ('/kiv.js', 'kiv.js', 'text/javascript; charset=utf-8'),
                             ('/kiv.data', 'kiv.data', 'application/octet-stream'),
                             ('/sub/page.css', 'sub/page.css', 'text/css; charset=utf-8'),
                             ('/?game=3', 'index.html', 'text/html; charset=utf-8')]:
        status, head, data = main.call('GET', path)
        check(status == 200 and data == files[name] and head['content-type'] == kind, f'{path}: {status} {head}')
        status, head, data = main.call('HEAD', path)
        check(status == 200 and data == b'' and int(head['content-length']) == len(files[name]), f'HEAD {path}')

    # Moderation: list and remove, on the same database.
    code, out = moderate(store, 'list', '--limit', '3')
    check(code == 0 and out.startswith('3 newest games') and 'Patient' in out, out)
    code, out = moderate(store, 'list')
    check(code == 0 and "Robert');--" in out, out)
    victim = added[0]['id']
    code, out = moderate(store, 'remove', str(victim))
    check(code == 0 and f'removed game {victim}: Ann' in out, out)
    check(main.call('GET', f'/api/games/{victim}')[0] == 404, 'a removed game')
    code, out = moderate(store, 'remove', str(victim))
    check(code == 1 and 'no game' in out, out)
    # A second server on a port in use says so and ends; the first serves on.
    code, out = moderate(store, '--port', str(main.port))
    check(code == 1 and f'cannot listen on 127.0.0.1 port {main.port}' in out, out)
    main.alive()
    strict.alive()


def long_game(board):
    """A game of minutes: the catcher now and then loses at once."""
    for _ in range(10):
        t = board.ticket()
        replay, steps, _ = record(t['seed'], '--play', '100000')
        if steps > 20000:
            return t, replay
    fail('no long game in 10 tries')


def workers_of(board):
    pid = board.proc.pid
    kids = []
    for task in os.listdir(f'/proc/{pid}/task'):
        try:
            with open(f'/proc/{pid}/task/{task}/children') as f:
                kids += [int(k) for k in f.read().split()]
        except OSError:
            pass
    return kids


def submit_in_background(board, ticket, name, replay):
    result = {}

    def run():
        result['answer'] = board.submit(ticket['ticket'], name, replay)
    thread = threading.Thread(target=run)
    thread.start()
    return thread, result


def suite_faults(store):
    data_dir = store[1]
    answered = {}
    wrong = []
    lock = threading.Lock()

    def stream(board, player, this_round):
        # Submits game after game until the server dies under it.
        for n in range(1000):
            try:
                t = board.ticket()
                replay, _, score = record(t['seed'], '--play', str(random.choice([0, 300, 600])))
                name = f'P{player} {n}'
                status, _, body = board.submit(t['ticket'], name, replay, timeout=20)
            except (OSError, http.client.HTTPException):
                return  # the server died under this one: it was not answered 201
            with lock:
                if status != 201:
                    wrong.append(f'{status} {body}')
                    return
                answered[body['id']] = (name, score)
                this_round.append(body['id'])

    for round_ in range(50):
        board = Board(store, '--duration-margin', '600', '--tickets-per-minute', '100000',
                      '--games-per-minute', '100000')
        this_round = []
        threads = [threading.Thread(target=stream, args=(board, round_ * 10 + i, this_round)) for i in range(3)]
        for th in threads:
            th.start()
        # Killed a moment after a game was answered, while the others are
        # anywhere in theirs.
        wait_for(lambda: this_round, 20, f'a game answered in round {round_}')
        time.sleep(random.uniform(0.0, 0.05))
        board.stop(signal.SIGKILL)
        for th in threads:
            th.join(60)
        check(not wrong, f'round {round_}: {wrong}')
        db = sqlite3.connect(os.path.join(data_dir, 'board.sqlite'))
        try:
            check(db.execute('PRAGMA integrity_check').fetchone()[0] == 'ok', 'integrity check')
            rows = {i: (n, s) for i, n, s in db.execute('SELECT id, name, score FROM games')}
        finally:
            db.close()
        for game_id, row in answered.items():
            check(rows.get(game_id) == row, f'round {round_}: game {game_id} answered 201 is lost')
    print(f'faults: {len(answered)} games answered 201 in 50 rounds, all kept', flush=True)

    board = Board(store, '--workers', '1', '--duration-margin', '600')
    try:
        for game_id, (name, score) in answered.items():
            status, _, row = board.call('GET', f'/api/games/{game_id}')
            check(status == 200 and row['name'] == name and row['score'] == score, f'{game_id}: {row}')
        # A worker killed in mid-verification fails its own submission only.
        t, replay = long_game(board)
        t2 = board.ticket()
        short = record(t2['seed'], '--play', '300')[0]
        doomed, doomed_result = submit_in_background(board, t, 'Doomed', replay)
        worker = wait_for(lambda: workers_of(board), 20, 'the verifier')[0]
        waiting, waiting_result = submit_in_background(board, t2, 'Waiting', short)
        os.kill(worker, signal.SIGKILL)
        doomed.join(60)
        waiting.join(60)
        status, head, body = doomed_result['answer']
        check(status == 503 and 'signal 9' in body['error'] and int(head['retry-after']) > 0,
              f'killed worker: {status} {body}')
        check(waiting_result['answer'][0] == 201, f'the next game: {waiting_result}')
        board.alive()
        # Its ticket was not used up: the same game again goes on.
        status, _, body = board.submit(t['ticket'], 'Doomed', replay)
        check(status == 201, f'again: {status} {body}')
    finally:
        board.stop()

    # A full queue, and a verifier past its deadline.
    busy = Board(store, '--workers', '1', '--queue', '0', '--duration-margin', '600')
    try:
        t, replay = long_game(busy)
        t2 = busy.ticket()
        second = record(t2['seed'], '--bot', 'idle')[0]
        first, first_result = submit_in_background(busy, t, 'First', replay)
        wait_for(lambda: workers_of(busy), 20, 'the verifier')
        status, head, body = busy.submit(t2['ticket'], 'Second', second)
        check(status == 503 and int(head['retry-after']) > 0 and 'busy' in body['error'], f'full: {status} {body}')
        first.join(60)
        check(first_result['answer'][0] == 201, first_result)
    finally:
        busy.stop()
    hasty = Board(store, '--worker-deadline', '0.1', '--duration-margin', '600')
    try:
        t, replay = long_game(hasty)
        status, _, body = hasty.submit(t['ticket'], 'Slow', replay)
        check(status == 503 and 'within' in body['error'], f'deadline: {status} {body}')
        check(not workers_of(hasty), 'a verifier outlived its deadline')
        hasty.alive()
    finally:
        hasty.stop()


def suite_shared(pg):
    url = pg.database('shared')
    store = ['--database', url]
    a = Board(store, '--duration-margin', '600', '--tickets-per-minute', '100000', '--games-per-minute', '100000')
    b = Board(store, '--duration-margin', '600', '--tickets-per-minute', '100000', '--games-per-minute', '100000')
    try:
        # One ticket at both servers at once: one game goes on.
        t = a.ticket()
        replay = record(t['seed'], '--play', '300')[0]
        barrier = threading.Barrier(2)
        statuses = []

        def race(board):
            barrier.wait()
            statuses.append(board.submit(t['ticket'], 'Twice', replay)[0])
        racers = [threading.Thread(target=race, args=(s,)) for s in (a, b)]
        for r in racers:
            r.start()
        for r in racers:
            r.join(60)
        check(sorted(statuses) == [201, 409], f'the same ticket at two servers: {statuses}')

        answered = {}
        lock = threading.Lock()

        def player(n):
            for i in range(5):
                server, other = (a, b) if (n + i) % 2 else (b, a)
                t = other.ticket()  # a ticket from one server works at the other
                replay, _, score = record(t['seed'], '--play', str(random.choice([0, 300, 600, 1000])))
                status, _, body = server.submit(t['ticket'], f'P{n}-{i}', replay)
                check(status == 201 and body['score'] == score, f'{status} {body}')
                with lock:
                    answered[body['id']] = score
        players = [threading.Thread(target=player, args=(n,)) for n in range(4)]
        for p in players:
            p.start()
        for p in players:
            p.join(120)
        check(len(answered) == 20, f'{len(answered)} of 20 games answered')

        def same_board():
            top_a, top_b = a.top(), b.top()
            return top_a if top_a == top_b and len(top_a) == 21 else None
        top = wait_for(same_board, 10, 'both servers to show one board')
        scores = [g['score'] for g in top]
        check(scores == sorted(scores, reverse=True), 'best first')
        check(all(answered[g['id']] == g['score'] for g in top if g['name'] != 'Twice'), 'scores as answered')
        check(set(answered) <= {g['id'] for g in top}, 'a game answered 201 is missing')
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
    p.add_argument('suites', nargs='+', choices=['api', 'attacks', 'shared', 'faults'])
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
            elif name == 'attacks':
                import attacks
                attacks.suite(store, pg)
            else:
                globals()[f'suite_{name}'](store)
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
