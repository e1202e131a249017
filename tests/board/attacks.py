"""The attack table: every rule of docs/board.md, and each way in once found
open, tried as a cheater or an attacker would against the real kiv-board over
real HTTP (a raw socket where a client such as curl would mend the request).
A row is the request, the answer it must get, what must be stored after it
(nothing, as `kiv-board list` and the tickets show, unless the row says) and
the server still answering; printed as a table as it runs. The rows of a
verifier taken over run on servers whose workers, once shut in, try what
such code would (--worker-trial).
"""
import base64
import concurrent.futures
import contextlib
import json
import os
import re
import sqlite3
import struct
import subprocess
import threading
import time
import types
import zlib

import board_test as bt

JSON = bt.JSON
MAX_BODY = 4320000  # the largest replay body: an hour of steps, 12 bytes each
SECRETS = ('not to be served', 'KEY', 'PASSWORD')


def Row(group, what, on, send, want, words='', **options):
    """A row: prepare() makes what it needs (not counted), send(prepared) is
    the request to `on`; then the status `want`, `words` in the answer,
    check(head, text) true, `games` and `tickets` more in `store` (the
    suite's unless given), and after() puts right what prepare() did."""
    return types.SimpleNamespace(group=group, what=what, on=on, send=send, want=want, words=words, **{
        'games': 0, 'tickets': 0, 'check': None, 'prepare': None, 'after': None, 'store': None, **options})


def raw(port, head, chunks=(), pause=0.0):
    """A request exactly as written: (status, headers, text), the headers
    with ':closed' true when the server closed the connection."""
    status, answer, closed = bt.raw_exchange(port, head.encode(), chunks, pause=pause, seconds=20)
    top, _, body = answer.partition(b'\r\n\r\n')
    headers = {':closed': closed is not None}
    for line in top.decode('latin-1').split('\r\n')[1:]:
        name, _, value = line.partition(':')
        headers[name.strip().lower()] = value.strip()
    return status, headers, body.decode('utf-8', 'replace')


def call(board, method, path, body=None, headers=None, **kw):
    status, head, data = bt.request(board.port, method, path, body, headers, **kw)
    return status, head, data.decode('utf-8', 'replace')


def stored(store):
    """What `kiv-board list` shows of a board, its games and its tickets."""
    code, listed = bt.moderate(store, 'list', '--limit', '1000000')
    bt.check(code == 0, listed)
    if store[0] == '--data':
        with contextlib.closing(sqlite3.connect(os.path.join(store[1], 'board.sqlite'))) as db:
            return listed, int(listed.split()[0]), db.execute('SELECT count(*) FROM tickets').fetchone()[0]
    count = subprocess.run(['psql', '-Atq', store[1], '-c', 'SELECT count(*) FROM tickets'], capture_output=True,
                           text=True, timeout=60, check=True).stdout
    return listed, int(listed.split()[0]), int(count)


def submission(ticket, replay, name='Eve'):
    return json.dumps({'ticket': ticket['ticket'], 'name': name, 'replay': base64.b64encode(replay).decode()})


def game_for(board, name='Eve', replay=None):
    """A fresh ticket's submission: the idle bot's game, or replay(ticket)."""
    t = board.ticket()
    return submission(t, replay(t) if replay else bt.record(t['seed'], '--bot', 'idle')[0], name)


def largest_body(ticket):
    """The longest game's header (its body fills all of the reader's room),
    and a body of zeros one byte longer."""
    head = bytearray(bt.record(ticket['seed'], '--bot', 'idle')[0][:64])
    struct.pack_into('<II', head, 28, 360000, 360000)
    struct.pack_into('<I', head, 56, MAX_BODY)
    return bytes(head) + zlib.compress(bytes(MAX_BODY + 1), 9)


def peak_memory(pid):
    with open(f'/proc/{pid}/status') as f:
        return int(next(line for line in f if line.startswith('VmHWM:')).split()[1]) // 1024


def eight_bombs(board):
    """Eight 2 MB bodies built to cost the most as a parsed tree, all at
    once; (statuses, peak memory before and after, in MB)."""
    n = 2 * 1024 * 1024 - 64
    bodies = ['[' + ','.join(['{}'] * (n // 3)) + ']', '{"a":[' + ','.join(['[]'] * (n // 3 - 4)) + ']}',
              '[' * (n // 2) + ']' * (n // 2), '{"x":[' + ','.join(['0'] * (n // 2 - 4)) + ']}',
              '{"name":"' + 'n' * (n - 20) + '"}', '{' + ','.join(f'"k{i:07d}":1' for i in range(n // 13)) + '}',
              '{"replay":"' + 'A' * (n - 20) + '"}', '[' + ','.join(['"s"'] * (n // 4)) + ']']
    before = peak_memory(board.proc.pid)
    barrier = threading.Barrier(len(bodies))

    def send(body):
        barrier.wait()
        return raw(board.port, 'POST /api/games HTTP/1.1\r\nHost: k\r\nContent-Type: application/json\r\n'
                   f'Connection: close\r\nContent-Length: {len(body)}\r\n\r\n', [body.encode()])[0]
    with concurrent.futures.ThreadPoolExecutor(len(bodies)) as pool:
        statuses = list(pool.map(send, bodies))
    return statuses, before, peak_memory(board.proc.pid)


def after_commit_row(pg):
    """A database that takes the game but then cannot say its ranks: the
    board's own role may insert a game and read back its id, nothing more
    of the games."""
    psql = pg.sql
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
               lambda body: call(late, 'POST', '/api/games', body, JSON), 201, '"score"', games=1,
               check=lambda head, text: '"id"' in text and 'rank' not in text, prepare=prepare, after=after,
               store=['--database', f'postgresql://kiv@127.0.0.1:{pg.port}/afterwards'])


class Nginx:
    """packaging/kiv-board.nginx as shipped, but for its ports, paths and
    certificate (a self-signed one of the test's), in front of a board."""

    def __init__(self, board_port, web):
        d = self.dir = os.path.join(bt.scratch, 'nginx')
        os.makedirs(d)
        r = subprocess.run(['openssl', 'req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1',
                            '-nodes', '-keyout', f'{d}/key.pem', '-out', f'{d}/cert.pem', '-days', '1',
                            '-subj', '/CN=127.0.0.1'], capture_output=True, text=True, timeout=60)
        bt.check(r.returncode == 0, r.stderr)
        with open(os.path.join(bt.args.source, 'packaging/kiv-board.nginx')) as f:
            shipped = f.read()
        temp = ' '.join(f'{kind}_temp_path {d}/{kind};'
                        for kind in ('client_body', 'proxy', 'fastcgi', 'uwsgi', 'scgi'))
        for _ in range(5):  # another may take a free port first
            self.port, site = bt.free_port(), shipped
            for pattern, text in [(r'listen \[::\]:\d+[^;]*;', ''),
                                  (r'listen 80;', f'listen 127.0.0.1:{bt.free_port()};'),
                                  (r'listen 443 ssl http2;', f'listen 127.0.0.1:{self.port} ssl http2;'),
                                  (r'ssl_certificate \S+;', f'ssl_certificate {d}/cert.pem;'),
                                  (r'ssl_certificate_key \S+;', f'ssl_certificate_key {d}/key.pem;'),
                                  (r'root /srv/kiv/web;', f'root {web};'),
                                  (r'http://127\.0\.0\.1:8000;', f'http://127.0.0.1:{board_port};'),
                                  (r'/var/log/nginx/kiv-api\.log', f'{d}/api.log')]:
                site, n = re.subn(pattern, text, site)
                bt.check(n > 0, f'the nginx sample has no {pattern}')
            with open(f'{d}/nginx.conf', 'w') as f:
                f.write(f'daemon off; master_process off; pid {d}/nginx.pid; error_log {d}/error.log;\n'
                        f'events {{}} http {{ include /etc/nginx/mime.types; access_log {d}/access.log; {temp}\n'
                        f'{site}\n}}\n')
            self.proc = bt.spawn(['nginx', '-p', d, '-e', f'{d}/error.log', '-c', f'{d}/nginx.conf'],
                                 stderr=subprocess.DEVNULL)
            bt.wait_for(lambda: self.proc.poll() is not None or self.call('GET', '/')[0] == 200, 20, 'nginx')
            if self.proc.poll() is None:
                return
        bt.fail('nginx did not start: ' + open(f'{d}/error.log').read())

    def call(self, method, path, body=None, headers=None):
        try:
            status, head, data = bt.request(self.port, method, path, body, headers, tls=True)
            return status, head, data.decode('utf-8', 'replace')
        except OSError:
            return None, {}, ''

    def stop(self):
        self.proc.terminate()
        self.proc.wait(20)


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
    servers = []

    def start(*options, **kw):
        servers.append(bt.Board(*options, **kw))
        return servers[-1]
    try:
        board = start(store, '--web', web, '--allow-origin', 'http://page.example', '--request-timeout', '2',
                      *lenient)
        slashed = start(store, '--web', web + '/', *lenient)
        # The default margin, tickets of a second, two a minute of each.
        strict = start(store, '--ticket-lifetime', '1', '--tickets-per-minute', '2', '--games-per-minute', '2',
                       '--trusted-proxy', '127.0.0.2')
        crowd = start(store, '--trusted-proxy', '127.0.0.2', '--board-tickets-per-minute', '5')
        # The worker is handed nothing of the server's environment, where a
        # PostgreSQL board's URL may be.
        target = os.path.join(store[1], 'board.sqlite') if store[0] == '--data' else '/etc/passwd'
        hostile = {trial: start(store if not pg else [], *lenient, '--worker-trial', trial,
                                env={**os.environ, 'KIV_BOARD_DATABASE': store[1]} if pg else None)
                   for trial in ('open:' + target, 'look', f'connect:{board.port}')}
        proxied = start(store, '--trusted-proxy', '127.0.0.1')
        nginx = Nginx(proxied.port, web)
        servers.append(nginx)
        rows = attack_rows(store, board, slashed, strict, crowd, hostile, proxied, nginx)
        if pg:
            rows.append(after_commit_row(pg))
            servers.append(rows[-1].on)
        run(rows, store)
    finally:
        for server in servers:
            server.stop()


def attack_rows(store, board, slashed, strict, crowd, hostile, proxied, nginx):
    ticket = board.ticket()
    good, steps, score = bt.record(ticket['seed'], '--bot', 'idle')
    with open(os.path.join(bt.args.source, 'tests/replays/short.rec'), 'rb') as f:
        session = f.read()
    evil = {**JSON, 'Origin': 'https://evil.example'}

    def js(replay=good, **fields):  # the good game on its ticket, bytes or fields replaced
        return json.dumps({'ticket': ticket['ticket'], 'name': 'Eve', **fields,
                           'replay': replay if isinstance(replay, (str, list)) else base64.b64encode(replay).decode()})

    def game(group, what, body, want, words, server=board, headers=JSON, peer='127.0.0.1', **options):
        """A submission to `server`: `body`, or made by prepare() beforehand."""
        return Row(group, what, server, lambda made: call(server, 'POST', '/api/games', body or made, headers,
                                                          source=peer), want, words, **options)

    def fresh(server, replay=None):  # a game on a fresh ticket of `server`, made beforehand
        return lambda: game_for(server, replay=replay)

    def ticket_via(server, address, peer='127.0.0.2', headers=JSON):
        extra = {'X-Forwarded-For': address} if address else {}
        return lambda *_: call(server, 'POST', '/api/tickets', '{}', {**headers, **extra}, source=peer)

    def spent(*requests):  # an allowance spent beforehand
        return lambda: [bt.check(r()[0] == 201, 'a ticket beforehand') for r in requests]

    def expired():
        t = strict.ticket(source='127.0.0.9')
        bt.wait_for(lambda: time.time() > t['expires'] + 0.1, 10, 'the ticket to expire')
        return submission(t, bt.record(t['seed'], '--bot', 'idle')[0])

    def body_row(what, head, chunks, want, words, pause=0.0):
        return Row('bodies', what, board, lambda _: raw(board.port, 'POST /api/games HTTP/1.1\r\nHost: k\r\n'
                                                        'Content-Type: application/json\r\n' + head + '\r\n',
                                                        chunks, pause), want, words, check=lambda h, t: h[':closed'])

    def file_row(what, target, server=board):
        return Row('files', what, server, lambda _: raw(server.port, f'GET {target} HTTP/1.1\r\nHost: k\r\n'
                                                                    'Connection: close\r\n\r\n'),
                   404, 'no such file', check=lambda h, t: not any(secret in t for secret in SECRETS))

    def name_row(what, name, words):
        return game('names', what, js(name=name), 400, words)

    def worker_row(what, trial, want=503, words='may not make'):
        server = next(s for t, s in hostile.items() if t.startswith(trial))
        return game('worker', what, None, want, words, server, prepare=fresh(server))
    frames = struct.unpack_from('<I', good, 32)[0]
    edited = bytearray(zlib.decompress(good[64:]))
    edited[frames + steps] = 0x14  # the first step's x motion, after the frames and the buttons
    forged, other_rules = bytearray(good), bytearray(good)
    struct.pack_into('<i', forged, 24, score + 1000)
    struct.pack_into('<H', other_rules, 6, 2)
    bombs = {}

    def bomb(_):
        bombs['run'] = eight_bombs(board)
        return (400 if set(bombs['run'][0]) == {400} else bombs['run'][0]), {}, ''

    def memory():
        _, peak_before, peak_after = bombs['run']
        print(f'json: peak memory (VmHWM) {peak_before} MB before the eight bodies, {peak_after} MB after')
        # 16 MB of bodies; as parsed trees they once took 100 MB more.
        bt.check(peak_after - peak_before < 3 * 16, f'the eight bodies took {peak_after - peak_before} MB')
    return [
        # A cheater's games: each refused with what is wrong, the ticket left unused.
        game('replay', 'a forged score', js(bytes(forged)), 422, 'scores'),
        game('replay', 'an edited input', js(good[:64] + zlib.compress(bytes(edited), 9)), 422, 'differs'),
        game('replay', 'a game on another game\'s ticket', submission(board.ticket(), good), 422, 'seed'),
        game('replay', 'a replay cut in half', js(good[:len(good) // 2]), 422, 'ends inside'),
        game('replay', 'random bytes', js(os.urandom(4096)), 422, 'not a Kiv replay'),
        game('replay', 'another rules version', js(bytes(other_rules)), 422, 'rules'),
        game('replay', 'a session, not a game from its Start', js(session), 422, 'session'),
        game('replay', 'a game left before its end', js(bt.record(ticket['seed'], '--play', '200', '--leave')[0]),
             422, 'left'),
        game('replay', 'two steps a frame: an easier game',
             js(bt.record(ticket['seed'], '--bot', 'idle', '--steps-per-frame', '2')[0]), 422, 'steps per frame'),
        game('replay', 'a game sooner after its ticket than it lasted', None, 422, 'arrived', strict,
             peer='127.0.0.7', prepare=fresh(board)),
        game('replay', 'an expired ticket', None, 409, 'expired', prepare=expired),
        game('replay', 'the largest body a header allows and a byte more (an hour claimed)', None, 422,
             'longer than the 4320000 bytes', prepare=fresh(board, largest_body)),
        game('fields', 'an unknown ticket', js(ticket='0' * 32), 404, 'no such ticket'),
        game('fields', 'a path for a ticket', js(ticket='../../etc/passwd'), 400, 'hexadecimal'),
        game('fields', 'a replay not in base64', js('KIVR!!!'), 400, 'base64'),
        game('fields', 'a replay in URL-safe base64', js(base64.urlsafe_b64encode(b'\xfb\xff' * 30).decode()), 400,
             'base64'),
        game('fields', 'an empty replay', js(''), 400, 'base64'),
        # JSON: refused as it is read, before anything large is built.
        game('json', 'a body cut short', '{"ticket": ', 400, 'JSON'),
        game('json', 'an array, not an object', '["ticket"]', 400, 'JSON'),
        game('json', '200,000 brackets deep', '[' * 100000 + ']' * 100000, 400, 'JSON'),
        game('json', 'objects five deep', js(x={'a': {'b': {'c': {}}}}), 400, 'nested too deeply'),
        game('json', 'seventy values in an extra field', js(x=[0] * 70), 400, 'too many values'),
        game('json', 'an extra field of 2 kB', js(x='x' * 2000), 400, 'too long a string'),
        game('json', 'a key of 2 kB', js(**{'k' * 2000: 1}), 400, 'too long a string'),
        game('json', 'more after the object', js() + '{}', 400, 'not a JSON object'),
        game('json', 'a number for the name', js(name=42), 400, 'name'),
        game('json', 'a list for the replay', js([1, 2]), 400, 'replay'),
        game('json', 'no ticket', json.dumps({'name': 'Eve', 'replay': ''}), 400, 'ticket'),
        game('json', 'the name twice, the second one refused', js()[:-1] + ', "name": "<b>"}', 400, 'given twice'),
        game('json', 'a game as text/plain', js(), 400, 'JSON', headers={'Content-Type': 'text/plain'}),
        Row('json', 'eight 2 MB bodies built to cost the most as a tree, at once', board, bomb, 400, after=memory),
        body_row('a body of 10 MB announced', 'Content-Length: 10485760\r\n', [b'x' * 65536] * 160, 413, '2 MB'),
        body_row('3 MB in chunks', 'Transfer-Encoding: chunked\r\n', [b'10000\r\n' + b'x' * 65536 + b'\r\n'] * 48,
                 413, '2 MB'),
        body_row('a body trickled past the request timeout', 'Content-Length: 1000\r\n', [b'{'] * 100, 408,
                 'too long', pause=0.2),
        # Names (each rule is a row of the names table in test_board.cpp; here, through the server):
        name_row('HTML for a name', '<img src=x onerror=alert(1)>', 'letters'),
        name_row('10,000 characters', 'E' * 10000, 'too long'),
        name_row('sixteen Hangul fillers (U+3164)', '\u3164' * 16, 'invisible'),
        name_row('fifteen U+0345 stacked on nothing', '\u0345' * 15, 'no letter under it'),
        # Files: only under --web, by plain names from its root.
        file_row('a target without its leading /: <web>-secret/key.txt', '-secret/key.txt'),
        file_row('a hidden file, --web given with a trailing /', '.env', slashed),
        file_row('a link in --web to a file outside it', '/link.txt'),
        *[file_row(target, target) for target in ['/../secret.txt', '/%2e%2e/secret.txt', '/sub/../../secret.txt',
                                                  '/.hidden', '/sub', '//etc/passwd', '/sub/%2e%2e/index.html']],
        Row('files', 'a POST to a file', board, lambda _: call(board, 'POST', '/index.html', 'x'), 405, 'GET'),
        # Pages of other sites.
        Row('cross-site', 'a ticket with no body and no Content-Type (a form, a beacon)', board,
            lambda _: call(board, 'POST', '/api/tickets'), 400, 'as JSON'),
        Row('cross-site', 'a ticket as text/plain (a simple request: no preflight)', board,
            ticket_via(board, None, '127.0.0.1', {'Content-Type': 'text/plain'}), 400, 'as JSON'),
        *[Row('cross-site', f'a ticket from {what}', board, ticket_via(board, None, '127.0.0.1', {**JSON, 'Origin': o}),
              403, 'other sites') for what, o in [('another site\'s page', 'https://evil.example'),
                                                  ('a page of no origin (a sandboxed frame)', 'null'),
                                                  ('another port of the board\'s own host', 'http://127.0.0.1:1')]],
        game('cross-site', 'a good game from another site\'s page', None, 403, 'other sites', headers=evil,
             prepare=fresh(board)),
        Row('cross-site', 'a preflight from another site\'s page gets no leave', board,
            lambda _: call(board, 'OPTIONS', '/api/tickets', None, {
                'Origin': 'https://evil.example', 'Access-Control-Request-Method': 'POST',
                'Access-Control-Request-Headers': 'content-type'}), 204,
            check=lambda head, text: 'access-control-allow-origin' not in head),
        # Rate limits: two tickets or games a minute on `strict`, each row
        # spending the allowance first.
        Row('rate', 'a third ticket from one address', strict, ticket_via(strict, None, '127.0.0.5'), 429,
            'this address', prepare=spent(*[ticket_via(strict, None, '127.0.0.5')] * 2)),
        Row('rate', 'an X-Forwarded-For from a peer that is not a trusted proxy', strict,
            ticket_via(strict, '198.51.100.7', '127.0.0.6'), 429, 'this address',
            prepare=spent(*[ticket_via(strict, None, '127.0.0.6')] * 2)),
        Row('rate', 'another address put before the client\'s in X-Forwarded-For', strict,
            ticket_via(strict, '203.0.113.1, 198.51.100.8'), 429, 'this address',
            prepare=spent(*[ticket_via(strict, '198.51.100.8')] * 2)),
        Row('rate', 'a third ticket from one /64 (another address in it)', strict,
            ticket_via(strict, '2001:db8:1:1::3'), 429, 'this address',
            prepare=spent(ticket_via(strict, '2001:db8:1:1::1'), ticket_via(strict, '2001:db8:1:1:ff::2'))),
        Row('rate', 'a fresh /64 of a /56 whose four /64s\' worth is spent', strict,
            ticket_via(strict, '2001:db8:2:1ff::1'), 429, 'this address',
            prepare=spent(*[ticket_via(strict, f'2001:db8:2:1{n:02x}::{k}') for n in range(4) for k in (1, 2)])),
        Row('rate', 'a new address past the whole board\'s tickets a minute', crowd,
            ticket_via(crowd, '198.51.100.99'), 429, 'The board is handing out',
            prepare=spent(*[ticket_via(crowd, f'198.51.100.{n}') for n in range(5)])),
        game('rate', 'a third game a minute', '{}', 429, 'Too many games', strict, peer='127.0.0.6',
             prepare=lambda: [call(strict, 'POST', '/api/games', '{}', JSON, source='127.0.0.6') for _ in '12']),
        # A verifier taken over: killed at its first call out of bounds.
        worker_row('a verifier taken over opens the board\'s database for writing', 'open:'),
        worker_row('a verifier taken over connects to a port', 'connect:'),
        worker_row('what a verifier taken over was handed', 'look', 422,
                   'environment: 0 variables; descriptors: 0 pipe, 1 pipe, 2 /dev/null'),
        # The page's policy, from kiv-board and from the nginx sample; the sample's log.
        Row('page', 'the page framed by another site, or running code not its own', board,
            lambda _: call(board, 'GET', '/'), 200,
            check=lambda head, text: "frame-ancestors 'self'" in head['content-security-policy']),
        Row('page', 'the same, the page served by the sample nginx site', proxied, lambda _: nginx.call('GET', '/'),
            200, check=lambda head, text: head['content-security-policy'] ==
            call(board, 'GET', '/')[1]['content-security-policy']),
        Row('privacy', 'a ticket through the sample nginx site: an address in its log', proxied,
            lambda _: nginx.call('POST', '/api/tickets', '{}', {**JSON, 'Origin': f'https://127.0.0.1:{nginx.port}'}),
            201, '"ticket"', tickets=1,
            check=lambda head, text: re.search(r'"POST /api/tickets" 201', log := open(f'{nginx.dir}/api.log').read())
            and '127.0.0.1' not in log),
        # Reading the board: a clear refusal for what is not there.
        *[Row('reading', target, board, lambda _, t=target: call(board, 'GET', t), want, 'error') for want, target in [
            (400, '/api/top?period=year'), (400, '/api/top?limit=0'), (400, '/api/top?limit=101'),
            (400, '/api/top?limit=x'), (404, '/api/games/999999'), (404, '/api/games/abc'), (404, '/api/games/'),
            (404, '/api/games/1x/replay'), (404, '/api/games/99999999999999999999'), (404, '/api/nothing'),
            (405, '/api/tickets')]],
        # None of the refused games used the ticket: the good game still goes on, once.
        game('replay', 'the good game after all those on its ticket', js(), 201, f'"score":{score}', games=1),
        game('replay', 'the same game again', js(), 409, 'used'),
    ]


def run(rows, store):
    print(f'  {"group":11}{"attack":72}answer', flush=True)
    for row in rows:
        prepared = row.prepare() if row.prepare else None
        where = row.store or store
        listed, games, tickets = stored(where)
        status, head, text = row.send(prepared)
        after_listed, after_games, after_tickets = stored(where)
        try:
            said = json.loads(text).get('error', text) if text else ''
        except (ValueError, AttributeError):
            said = text
        print(f'  {row.group:11}{row.what[:70]:72}{status} {said.strip()[:100]}', flush=True)
        bt.check(status == row.want and row.words in text, f'{row.what}: {status} {text[:300]}')
        bt.check(row.check is None or row.check(head, text), f'{row.what}: {head} {text[:300]}')
        bt.check(status < 400 or head.get('content-type') in ('application/json', None),
                 f'{row.what}: a refusal as {head.get("content-type")}')
        bt.check((after_games - games, after_tickets - tickets) == (row.games, row.tickets) and
                 (row.games > 0 or after_listed == listed),
                 f'{row.what}: stored {after_games - games} games and {after_tickets - tickets} tickets')
        if row.after:
            row.after()
        row.on.alive()
