"""The attack table: each way in that the board was once found open, tried as
a cheater or an attacker would, against the real kiv-board over real HTTP
(a raw socket where a client such as curl would mend the request). A row is
the request, the answer it must get, what must be stored after it (nothing,
as `kiv-board list` and the tickets show, unless the row says otherwise) and
the server still answering. The rows that need a worker taken over run on
kiv-board-hostile, the same server with a worker that obeys its replay
(tests/board/hostile_worker.cpp). Printed as a table as it runs.

Run from board_test.py (suite `attacks`), with its servers, client and
games.
"""
import base64
import http.client
import json
import os
import re
import ssl
import struct
import subprocess
import threading
import zlib

import board_test as bt

JSON = bt.JSON
MAX_BODY = 4320000  # the largest replay body: an hour of steps, 12 bytes each


class Row:
    """An attack: prepare() (what a row needs beforehand, not counted),
    send(prepared) the request, and after it the status `want` whose answer
    holds `words`, `check(headers, text)` true, `games` more games and
    `tickets` more tickets in `store` (the suite's, by default); after()
    puts right what prepare() did to the server."""

    def __init__(self, group, what, on, send, want, words='', games=0, tickets=0, check=None, prepare=None,
                 after=None, store=None):
        self.group, self.what, self.on, self.send, self.want, self.words = group, what, on, send, want, words
        self.games, self.tickets, self.check, self.prepare = games, tickets, check, prepare
        self.after, self.store = after, store


def raw(port, text):
    """A request exactly as written: (status, headers, body text)."""
    status, answer, _ = bt.raw_exchange(port, text.encode(), seconds=20)
    head, _, body = answer.partition(b'\r\n\r\n')
    headers = {}
    for line in head.decode('latin-1').split('\r\n')[1:]:
        name, _, value = line.partition(':')
        headers[name.strip().lower()] = value.strip()
    return status, headers, body.decode('utf-8', 'replace')


def call(board, method, path, body=None, headers=None, **kw):
    status, head, data = bt.request(board.port, method, path, body, headers, **kw)
    return status, head, data.decode('utf-8', 'replace')


def tickets_in(store):
    if store[0] == '--data':
        import sqlite3
        db = sqlite3.connect(os.path.join(store[1], 'board.sqlite'))
        try:
            return db.execute('SELECT count(*) FROM tickets').fetchone()[0]
        finally:
            db.close()
    r = subprocess.run(['psql', '-Atq', store[1], '-c', 'SELECT count(*) FROM tickets'],
                       capture_output=True, text=True, timeout=60)
    bt.check(r.returncode == 0, r.stderr)
    return int(r.stdout)


def stored(store):
    code, listed = bt.moderate(store, 'list', '--limit', '1000000')
    bt.check(code == 0, listed)
    return listed, int(listed.split()[0]), tickets_in(store)


def game_for(board, name='Eve', replay=None):
    """A submission's body: a fresh ticket of `board` and the idle bot's
    game on its seed (or `replay(ticket)`)."""
    t = board.ticket()
    data = replay(t) if replay else bt.record(t['seed'], '--bot', 'idle')[0]
    return json.dumps({'ticket': t['ticket'], 'name': name, 'replay': base64.b64encode(data).decode()})


def header_then(text):
    """A real game's header on the ticket's seed, then `text` for its body:
    the server reads only the header before a worker gets it."""
    def make(ticket):
        return bt.record(ticket['seed'], '--bot', 'idle')[0][:64] + text.encode()
    return make


def largest_body(ticket):
    """The longest game's header on the ticket's seed, and a body of zeros
    one byte longer than it promises: the largest body fills all of the
    reader's room."""
    head = bytearray(bt.record(ticket['seed'], '--bot', 'idle')[0][:64])
    struct.pack_into('<III', head, 28, 360000, 360000, head[36])
    struct.pack_into('<I', head, 56, MAX_BODY)
    return bytes(head) + zlib.compress(bytes(MAX_BODY + 1), 9)


def peak_memory(pid):
    with open(f'/proc/{pid}/status') as f:
        return int(next(line for line in f if line.startswith('VmHWM:')).split()[1]) // 1024


def eight_bombs(board):
    """Eight 2 MB bodies built to cost the most as a parsed tree, all at
    once; (statuses, peak memory before and after, in MB)."""
    two_mb = 2 * 1024 * 1024 - 64
    bodies = [
        '[' + ','.join(['{}'] * (two_mb // 3)) + ']',
        '{"a":[' + ','.join(['[]'] * (two_mb // 3 - 4)) + ']}',
        '[' * (two_mb // 2) + ']' * (two_mb // 2),
        '{"x":[' + ','.join(['0'] * (two_mb // 2 - 4)) + ']}',
        '{"name":"' + 'n' * (two_mb - 20) + '"}',
        '{' + ','.join(f'"k{i:07d}":1' for i in range(two_mb // 13)) + '}',
        '{"replay":"' + 'A' * (two_mb - 20) + '"}',
        '[' + ','.join(['"s"'] * (two_mb // 4)) + ']',
    ]
    before = peak_memory(board.proc.pid)
    statuses = [None] * len(bodies)
    barrier = threading.Barrier(len(bodies))

    def send(i):
        head = (f'POST /api/games HTTP/1.1\r\nHost: k\r\nContent-Type: application/json\r\nConnection: close\r\n'
                f'Content-Length: {len(bodies[i])}\r\n\r\n').encode()
        barrier.wait()
        statuses[i] = bt.raw_exchange(board.port, head, [bodies[i].encode()], seconds=30)[0]
    threads = [threading.Thread(target=send, args=(i,)) for i in range(len(bodies))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    return statuses, before, peak_memory(board.proc.pid)


def after_commit_row(pg):
    """A database that takes the game but then cannot say its ranks: the
    board's own role may insert a game and read back its id, nothing more
    of the games."""
    def psql(database, sql):
        r = subprocess.run(['psql', '-q', '-h', '127.0.0.1', '-p', str(pg.port), '-U', 'kiv', '-d', database,
                            '-c', sql], capture_output=True, text=True, timeout=60)
        bt.check(r.returncode == 0, r.stderr)
    psql('postgres', 'CREATE ROLE player LOGIN')
    psql('postgres', 'CREATE DATABASE afterwards OWNER player')
    late = bt.Board(['--database', f'postgresql://player@127.0.0.1:{pg.port}/afterwards'], '--duration-margin',
                    '86400')
    sent = {}

    def prepare():
        sent['body'] = game_for(late)
        psql('afterwards', 'REVOKE SELECT ON games FROM player; GRANT SELECT (id) ON games TO player')
        return sent['body']

    def after():
        psql('afterwards', 'GRANT SELECT ON games TO player')
        status, _, text = call(late, 'POST', '/api/games', sent['body'], JSON)
        bt.check(status == 409 and 'used' in text, f'the game sent again: {status} {text}')
    return Row('commit', 'the ranks cannot be read once the game is committed', late,
               lambda body: call(late, 'POST', '/api/games', body, JSON), 201, '"score"', games=1, tickets=0,
               check=lambda head, text: '"id"' in text and 'rank' not in text, prepare=prepare, after=after,
               store=['--database', f'postgresql://kiv@127.0.0.1:{pg.port}/afterwards'])


class Nginx:
    """packaging/kiv-board.nginx as shipped, but for its ports, paths and
    certificate (a self-signed one of the test's), in front of a board."""

    def __init__(self, board_port, web):
        self.dir = os.path.join(bt.scratch, 'nginx')
        os.makedirs(self.dir)
        d = self.dir
        r = subprocess.run(['openssl', 'req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1',
                            '-nodes', '-keyout', f'{d}/key.pem', '-out', f'{d}/cert.pem', '-days', '1',
                            '-subj', '/CN=127.0.0.1'], capture_output=True, text=True, timeout=60)
        bt.check(r.returncode == 0, r.stderr)
        with open(os.path.join(bt.args.source, 'packaging/kiv-board.nginx')) as f:
            shipped = f.read()
        for _ in range(5):
            self.port = bt.free_port()
            site = shipped
            edits = [
                (r'listen \[::\]:\d+[^;]*;', ''),
                (r'listen 80;', f'listen 127.0.0.1:{bt.free_port()};'),
                (r'listen 443 ssl http2;', f'listen 127.0.0.1:{self.port} ssl http2;'),
                (r'ssl_certificate \S+;', f'ssl_certificate {d}/cert.pem;'),
                (r'ssl_certificate_key \S+;', f'ssl_certificate_key {d}/key.pem;'),
                (r'root /srv/kiv/web;', f'root {web};'),
                (r'proxy_pass http://127\.0\.0\.1:8000;', f'proxy_pass http://127.0.0.1:{board_port};'),
                (r'/var/log/nginx/kiv-api\.log', f'{d}/api.log'),
            ]
            for pattern, text in edits:
                site, n = re.subn(pattern, text, site)
                bt.check(n > 0, f'the nginx sample has no {pattern}')
            temp = ' '.join(f'{kind}_temp_path {d}/{kind};'
                            for kind in ('client_body', 'proxy', 'fastcgi', 'uwsgi', 'scgi'))
            with open(f'{d}/nginx.conf', 'w') as f:
                f.write(f'daemon off; master_process off; pid {d}/nginx.pid; error_log {d}/error.log;\n'
                        f'events {{ worker_connections 64; }}\n'
                        f'http {{ include /etc/nginx/mime.types; access_log {d}/access.log; {temp}\n{site}\n}}\n')
            self.proc = bt.spawn(['nginx', '-p', d, '-e', f'{d}/error.log', '-c', f'{d}/nginx.conf'],
                                 stderr=subprocess.DEVNULL)
            bt.wait_for(lambda: self.proc.poll() is not None or self.answers(), 20, 'nginx')
            if self.proc.poll() is None:
                return
        bt.fail('nginx did not start: ' + open(f'{d}/error.log').read())

    def answers(self):
        try:
            return self.call('GET', '/')[0] == 200
        except OSError:
            return False

    def call(self, method, path, body=None, headers=None):
        conn = http.client.HTTPSConnection('127.0.0.1', self.port, timeout=30,
                                           context=ssl._create_unverified_context())
        try:
            conn.request(method, path, body=body, headers=headers or {})
            r = conn.getresponse()
            return r.status, {k.lower(): v for k, v in r.getheaders()}, r.read().decode('utf-8', 'replace')
        finally:
            conn.close()

    def log(self):
        with open(f'{self.dir}/api.log') as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(20)


def has_policy(head, text):
    policy = head.get('content-security-policy', '')
    return ("frame-ancestors 'self'" in policy and "'wasm-unsafe-eval'" in policy and
            "object-src 'none'" in policy and 'unsafe-inline' not in policy)


def suite(store, pg):
    web, _ = bt.web_dir('attack-web')
    os.makedirs(web + '-secret')
    with open(web + '-secret/key.txt', 'w') as f:
        f.write('KEY NOT TO BE SERVED')
    with open(os.path.join(web, '.env'), 'w') as f:
        f.write('PASSWORD NOT TO BE SERVED')
    os.symlink(os.path.join(bt.scratch, 'secret.txt'), os.path.join(web, 'link.txt'))
    # Games are sent as soon as they are recorded: a margin of a day lets
    # them, and lets a header claim an hour's game on a fresh ticket.
    lenient = ['--duration-margin', '86400', '--tickets-per-minute', '100000', '--games-per-minute', '100000']
    board = bt.Board(store, '--web', web, '--allow-origin', 'http://page.example', *lenient)
    servers = [board]
    slashed = bt.Board(store, '--web', web + '/', *lenient)
    servers.append(slashed)
    # The worker is handed nothing of the server's environment, where a
    # PostgreSQL board's URL may be.
    hostile = bt.Board(store if not pg else [], *lenient, command=bt.args.hostile,
                       env={**os.environ, 'KIV_BOARD_DATABASE': store[1]} if pg else None)
    servers.append(hostile)
    limited = bt.Board(store, '--trusted-proxy', '127.0.0.2', '--tickets-per-minute', '2')
    servers.append(limited)
    crowd = bt.Board(store, '--trusted-proxy', '127.0.0.2', '--board-tickets-per-minute', '5',
                     '--tickets-per-minute', '100')
    servers.append(crowd)
    # The sample nginx site in front of a board that believes it.
    proxied = bt.Board(store, '--trusted-proxy', '127.0.0.1')
    servers.append(proxied)
    nginx = Nginx(proxied.port, web)
    servers.append(nginx)
    target = os.path.join(store[1], 'board.sqlite') if store[0] == '--data' else os.path.join(bt.scratch,
                                                                                           'secret.txt')
    evil = {**JSON, 'Origin': 'https://evil.example'}
    bombs = {}

    def via(address):
        return {**JSON, 'X-Forwarded-For': address}

    def tickets_from(server, addresses):
        def take():
            for a in addresses:
                status = call(server, 'POST', '/api/tickets', '{}', via(a), source='127.0.0.2')[0]
                bt.check(status == 201, f'a ticket for {a}: {status}')
        return take

    def game(server, name='Eve', replay=None):
        return lambda: game_for(server, name, replay)

    def post_game(server, headers=JSON):
        return lambda body: call(server, 'POST', '/api/games', body, headers)

    def bomb(_):
        bombs['run'] = eight_bombs(board)
        statuses = bombs['run'][0]
        return (400 if set(statuses) == {400} else statuses), {}, ''

    rows = [
        Row('files', 'a target without its leading /: <web>-secret/key.txt', board,
            lambda _: raw(board.port, 'GET -secret/key.txt HTTP/1.1\r\nHost: k\r\nConnection: close\r\n\r\n'),
            404, 'no such file'),
        Row('files', 'a hidden file, --web given with a trailing /', slashed,
            lambda _: raw(slashed.port, 'GET .env HTTP/1.1\r\nHost: k\r\nConnection: close\r\n\r\n'), 404,
            'no such file'),
        Row('files', 'a link in --web to a file outside it', board, lambda _: call(board, 'GET', '/link.txt'), 404,
            'no such file'),
        Row('replay', 'the largest body a header allows and a byte more (an hour claimed)', board,
            post_game(board), 422, 'longer than the 4320000 bytes', prepare=game(board, replay=largest_body)),
        Row('worker', 'a verifier taken over opens the board\'s database for writing', hostile, post_game(hostile),
            503, 'may not make', prepare=game(hostile, replay=header_then('open ' + target))),
        Row('worker', 'a verifier taken over connects to the board', hostile, post_game(hostile), 503,
            'may not make', prepare=game(hostile, replay=header_then(f'connect {board.port}'))),
        Row('worker', 'a verifier taken over runs a program', hostile, post_game(hostile), 503, 'may not make',
            prepare=game(hostile, replay=header_then('run /bin/echo'))),
        Row('worker', 'what a verifier taken over was handed', hostile, post_game(hostile), 422,
            'environment: 0 variables; descriptors: 0 pipe, 1 pipe, 2 /dev/null',
            prepare=game(hostile, replay=header_then('look'))),
        Row('cross-site', 'a ticket with no body and no Content-Type (a form, a beacon)', board,
            lambda _: call(board, 'POST', '/api/tickets'), 400, 'as JSON'),
        Row('cross-site', 'a ticket as text/plain (a simple request: no preflight)', board,
            lambda _: call(board, 'POST', '/api/tickets', '{}', {'Content-Type': 'text/plain'}), 400, 'as JSON'),
        Row('cross-site', 'a ticket from another site\'s page', board,
            lambda _: call(board, 'POST', '/api/tickets', '{}', evil), 403, 'other sites'),
        Row('cross-site', 'a ticket from a page of no origin (a sandboxed frame)', board,
            lambda _: call(board, 'POST', '/api/tickets', '{}', {**JSON, 'Origin': 'null'}), 403, 'other sites'),
        Row('cross-site', 'a ticket from another port of the board\'s own host', board,
            lambda _: call(board, 'POST', '/api/tickets', '{}', {**JSON, 'Origin': 'http://127.0.0.1:1'}), 403,
            'other sites'),
        Row('cross-site', 'a good game from another site\'s page', board, post_game(board, evil), 403,
            'other sites', prepare=game(board)),
        Row('cross-site', 'a preflight from another site\'s page gets no leave', board,
            lambda _: call(board, 'OPTIONS', '/api/tickets', None, {
                'Origin': 'https://evil.example', 'Access-Control-Request-Method': 'POST',
                'Access-Control-Request-Headers': 'content-type'}), 204,
            check=lambda head, text: 'access-control-allow-origin' not in head),
        Row('json', 'eight 2 MB bodies built to cost the most as a tree, at once', board, bomb, 400),
        Row('rate', 'a third ticket from one /64 (another address in it)', limited,
            lambda _: call(limited, 'POST', '/api/tickets', '{}', via('2001:db8:1:1::3'), source='127.0.0.2'), 429,
            'this address', prepare=tickets_from(limited, ['2001:db8:1:1::1', '2001:db8:1:1:ffff::2'])),
        Row('rate', 'a fresh /64 of a /56 whose four /64s\' worth is spent', limited,
            lambda _: call(limited, 'POST', '/api/tickets', '{}', via('2001:db8:2:1ff::1'), source='127.0.0.2'), 429,
            'this address', prepare=tickets_from(limited, [f'2001:db8:2:1{n:02x}::{k}' for n in range(4)
                                                           for k in (1, 2)])),
        Row('rate', 'a new address past the whole board\'s tickets a minute', crowd,
            lambda _: call(crowd, 'POST', '/api/tickets', '{}', via('198.51.100.99'), source='127.0.0.2'), 429,
            'The board is handing out', prepare=tickets_from(crowd, [f'198.51.100.{n}' for n in range(5)])),
        Row('names', 'sixteen Hangul fillers (U+3164)', board, post_game(board), 400, 'invisible',
            prepare=game(board, '\u3164' * 16)),
        Row('names', 'the fillers U+1160 and U+FFA0', board, post_game(board), 400, 'invisible',
            prepare=game(board, '\u1160\uffa0' * 8)),
        Row('names', 'fifteen U+0345 stacked on nothing', board, post_game(board), 400, 'no letter under it',
            prepare=game(board, '\u0345' * 15)),
        Row('names', 'a letter under a stack of twelve marks', board, post_game(board), 400, 'stacks',
            prepare=game(board, 'E' + '\u0345' * 12)),
        Row('names', 'punctuation alone', board, post_game(board), 400, 'no visible letter',
            prepare=game(board, '.-.')),
        Row('page', 'the page framed by another site, or running code not its own', board,
            lambda _: call(board, 'GET', '/'), 200, check=has_policy),
        Row('page', 'the same, the page served by the sample nginx site', proxied,
            lambda _: nginx.call('GET', '/'), 200,
            check=lambda head, text: head['content-security-policy'] ==
            call(board, 'GET', '/')[1]['content-security-policy']),
        Row('privacy', 'a ticket through the sample nginx site: an address in its log', proxied,
            lambda _: nginx.call('POST', '/api/tickets', '{}', {**JSON, 'Origin': f'https://127.0.0.1:{nginx.port}'}),
            201, '"ticket"', tickets=1,
            check=lambda head, text: '"POST /api/tickets" 201' in nginx.log() and '127.0.0.1' not in nginx.log()),
    ]
    if pg:
        rows.append(after_commit_row(pg))
        servers.append(rows[-1].on)
    games_before = stored(store)[1]
    print(f'  {"group":11}{"attack":72}answer', flush=True)
    try:
        for row in rows:
            prepared = row.prepare() if row.prepare else None
            where = row.store or store
            listed, games, tickets = stored(where)
            status, head, text = row.send(prepared)
            after_listed, after_games, after_tickets = stored(where)
            try:
                said = json.loads(text).get('error', text) if text else ''
            except ValueError:
                said = text
            print(f'  {row.group:11}{row.what[:70]:72}{status} {said[:100]}', flush=True)
            bt.check(status == row.want and row.words in text, f'{row.what}: {status} {text[:300]}')
            bt.check(row.check is None or row.check(head, text), f'{row.what}: {head} {text[:300]}')
            bt.check((after_games - games, after_tickets - tickets) == (row.games, row.tickets) and
                     (row.games > 0 or after_listed == listed),
                     f'{row.what}: stored {after_games - games} games and {after_tickets - tickets} tickets')
            if row.after:
                row.after()
            row.on.alive()
        _, peak_before, peak_after = bombs['run']
        print(f'json: peak memory (VmHWM) {peak_before} MB before the eight bodies, {peak_after} MB after',
              flush=True)
        # 16 MB of bodies; as parsed trees they once took 100 MB more.
        bt.check(peak_after - peak_before < 3 * 16, f'the eight bodies took {peak_after - peak_before} MB')
        bt.check(stored(store)[1] == games_before, 'the attacks put a game on the board')
    finally:
        for server in servers:
            server.stop()
