"""The attack table: every rule of docs/board.md, and each way in once found
open, tried as a cheater or an attacker would against the real kiv-board over
real HTTP (a raw socket where a client such as curl would mend the request).
A row is the request, the answer it must get (for a game judged by a
verifier, its verdict), what it changed in the database (nothing, unless the
row says: games on the board, pending or refused, tickets by state, names,
secrets) and the server still answering; printed as a table as it runs. The
rows of a verifier taken over or failing run on servers of a board of their
own, whose workers, once shut in, try what such code would (--worker-trial).
"""
import base64
import concurrent.futures
import contextlib
import hashlib
import json
import os
import re
import socket
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
COUNTS = ('pending', 'board', 'refused', 'issued', 'started', 'abandoned', 'sent', 'names', 'secrets')
BURNT = {'refused': 1, 'started': -1, 'sent': 1}  # a started ticket's game refused
RANKED = {'board': 1, 'started': -1, 'sent': 1}
LEFT = {'started': -1, 'abandoned': 1}  # a started ticket's game ended by its pace: nothing stored


def Row(group, what, on, send, want, words='', **options):
    """A row: prepare() makes what it needs (not counted), send(prepared) is
    the request to `on`; then the status `want`, `words` in the answer,
    check(head, text) true, `stores` the changes in `store` (the suite's
    unless given), and after() puts right what prepare() did."""
    return types.SimpleNamespace(group=group, what=what, on=on, send=send, want=want, words=words, **{
        'stores': {}, 'check': None, 'prepare': None, 'after': None, 'store': None, **options})


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
    """What `kiv-board list` shows of a board, and its counts."""
    code, listed = bt.moderate(store, 'list', '--limit', '1000000')
    bt.check(code == 0, listed)
    counts = bt.sql(store, 'SELECT ' + ', '.join(
        [f'(SELECT count(*) FROM games WHERE status = {s})' for s in range(3)] +
        [f'(SELECT count(*) FROM tickets WHERE state = {s})' for s in range(4)] +
        ['(SELECT count(*) FROM owners)', '(SELECT count(*) FROM secrets)']))[0]
    return listed, dict(zip(COUNTS, map(int, counts)))


def body(ticket, replay):
    return json.dumps({'ticket': ticket, 'replay': replay if isinstance(replay, str) else
                       base64.b64encode(replay).decode()})


def idle(seed):
    return bt.record(seed, '--bot', 'idle')[0]


def rewritten(replay, edit=None, padded=False, level=9):
    """The same replay, its body edited (a bytearray, with its frames and
    steps), its first motion written a byte longer."""
    body = bytearray(zlib.decompress(replay[64:]))
    steps, frames = struct.unpack_from('<II', replay, 28)
    if edit:
        edit(body, frames, steps)
    if padded:
        body[frames + steps:frames + steps + 1] = bytes([body[frames + steps] | 0x80, 0])
    head = bytearray(replay[:64])
    struct.pack_into('<I', head, 56, len(body))
    return bytes(head) + zlib.compress(bytes(body), level)


def padded_stream(replay, size):
    """The same replay, its zlib stream padded to `size` bytes with empty
    stored blocks after a sync flush: what the board once kept for good."""
    z = zlib.compressobj(9)
    out = replay[:64] + z.compress(zlib.decompress(replay[64:])) + z.flush(zlib.Z_SYNC_FLUSH)
    end = z.flush()
    return out + b'\0\0\0\xff\xff' * ((size - len(out) - len(end)) // 5 + 1) + end


def peak_memory(pid):
    with open(f'/proc/{pid}/status') as f:
        return int(next(line for line in f if line.startswith('VmHWM:')).split()[1]) // 1024


def eight_bombs(board):
    """Eight 2 MB bodies built to cost the most as a parsed tree, all at
    once; (statuses, peak memory before and after, in MB)."""
    n = 2 * 1024 * 1024 - 64
    bodies = ['[' + ','.join(['{}'] * (n // 3)) + ']', '{"a":[' + ','.join(['[]'] * (n // 3 - 4)) + ']}',
              '[' * (n // 2) + ']' * (n // 2), '{"x":[' + ','.join(['0'] * (n // 2 - 4)) + ']}',
              '{"ticket":"' + 'n' * (n - 20) + '"}', '{' + ','.join(f'"k{i:07d}":1' for i in range(n // 13)) + '}',
              '{"replay":"' + 'A' * (n - 20) + '"}', '[' + ','.join(['"s"'] * (n // 4)) + ']']
    before = peak_memory(board.proc.pid)
    barrier = threading.Barrier(len(bodies))

    def send(text):
        barrier.wait()
        return raw(board.port, 'POST /api/games HTTP/1.1\r\nHost: k\r\nContent-Type: application/json\r\n'
                   f'Connection: close\r\nContent-Length: {len(text)}\r\n\r\n', [text.encode()])[0]
    with concurrent.futures.ThreadPoolExecutor(len(bodies)) as pool:
        statuses = list(pool.map(send, bodies))
    return statuses, before, peak_memory(board.proc.pid)


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
    servers = []

    def start(*options, **kw):
        servers.append(bt.Board(*options, **kw))
        return servers[-1]

    def own_board(name):
        """A board of its own, for servers whose verifiers fail every game."""
        if pg:
            return ['--database', pg.database(name)]
        return ['--data', os.path.join(bt.scratch, name)]
    few = ('--workers', '1')
    try:
        s = types.SimpleNamespace()
        s.board = start(store, '--web', web, '--allow-origin', 'http://page.example', '--request-timeout', '2',
                        *bt.LENIENT)
        s.slashed = start(store, '--web', web + '/', *bt.LENIENT, *few)
        # The default pace, tickets of a second, two tickets, games and names a minute of each.
        s.strict = start(store, '--pace-margin', '2', '--ticket-lifetime', '1', '--tickets-per-minute', '2',
                         '--games-per-minute', '2', '--names-per-minute', '2', '--trusted-proxy', '127.0.0.2', *few)
        s.crowd = start(store, '--trusted-proxy', '127.0.0.2', '--board-tickets-per-minute', '5', *few)
        s.limited = start(store, *bt.LENIENT, '--running-per-name', '2', '--running-per-client', '3', '--watchers', '2',
                          *few)
        s.full = start(store, *bt.LENIENT, '--queue', '0', '--workers', '0')
        s.one = start(store, *bt.LENIENT, '--queue', '1', '--workers', '0')
        s.stingy = start(store, '--starts-per-minute', '2', '--reads-per-minute', '2', *few)
        s.junk = start(store, *bt.LENIENT, '--games-per-minute', '2', *few)
        # The worker is handed nothing of the server's environment, where a
        # PostgreSQL board's URL may be.
        s.hostile = {}
        for trial in ('open:', 'look', 'connect:'):
            own = own_board('hostile' + trial.strip(':'))
            target = os.path.join(own[1], 'board.sqlite') if own[0] == '--data' else '/etc/passwd'
            what = trial + (target if trial == 'open:' else str(s.board.port) if trial == 'connect:' else '')
            s.hostile[trial] = start([] if pg else own, *bt.LENIENT, *few, '--worker-trial', what,
                                     env={**os.environ, 'KIV_BOARD_DATABASE': own[1]} if pg else None)
            s.hostile[trial].own = own
        s.proxied = start(store, '--trusted-proxy', '127.0.0.1', *few)
        s.nginx = Nginx(s.proxied.port, web)
        servers.append(s.nginx)
        run(attack_rows(store, s), store)
    finally:
        for server in servers:
            server.stop()


def attack_rows(store, s):
    board, strict = s.board, s.strict
    secrets = {}

    def secret(home, name):
        if (home.port, name) not in secrets:
            secrets[(home.port, name)] = home.claim(name)
        return secrets[(home.port, name)]

    def start_call(on, name='Eve', source='127.0.0.1'):
        """A fresh ticket of the main board started for `name` at `on`: the answer."""
        t = board.ticket(source)['ticket']
        return t, call(on, 'POST', f'/api/tickets/{t}/start', json.dumps({'name': name}),
                       {**JSON, 'Authorization': f'Bearer {secret(board, name)}'}, source=source)

    def started(on=board, name='Eve', source='127.0.0.1'):
        """A ticket started for `name` on `on`'s board (the main board's,
        unless `on` has one of its own): (ticket, seed)."""
        home = on if hasattr(on, 'own') else board
        t = home.ticket(source)['ticket']
        return t, home.start(t, name, secret(home, name), source)
    with open(os.path.join(bt.args.source, 'tests/replays/short.rec'), 'rb') as f:
        session = f.read()
    t0, seed0 = started()
    good, steps, score = bt.record(seed0, '--bot', 'idle')
    evil = {**JSON, 'Origin': 'https://evil.example'}

    def js(replay=good, **fields):  # a submission on a started ticket, bytes or fields replaced
        return json.dumps({'ticket': t0, **fields, 'replay': replay if isinstance(replay, (str, list)) else
                           base64.b64encode(replay).decode()})

    def judged(server, text, peer='127.0.0.1'):
        """A game sent: the answer, or once taken (202) its verdict."""
        status, head, answer = call(server, 'POST', '/api/games', text, JSON, source=peer)
        if status == 202:
            answer = json.dumps(server.verdict(json.loads(answer)['id']), ensure_ascii=False)
        return status, head, answer

    def game(group, what, make, want, words, server=board, stores=BURNT, headers=JSON, peer='127.0.0.1',
             wait=True, **kw):
        """A game on a fresh ticket started for it, made by make(ticket, seed)
        (a body, or replay bytes); judged at once, or by a verifier (202)."""
        def prepare():
            t, seed = started(server)
            made = make(t, seed)
            return made if isinstance(made, str) else body(t, made)

        def send(text):
            if want == 202 and wait:
                return judged(server, text, peer)
            return call(server, 'POST', '/api/games', text, headers, source=peer)
        return Row(group, what, server, send, want, words, prepare=kw.pop('prepare', prepare), stores=stores,
                   store=getattr(server, 'own', None), **kw)

    def post(server, path, fields=None, secret=None, headers=JSON, peer='127.0.0.1'):
        auth = {'Authorization': f'Bearer {secret}'} if secret else {}
        return lambda *_: call(server, 'POST', path, None if fields is None else json.dumps(fields),
                               {**headers, **auth}, source=peer)

    def get_me(query='', header=None):
        return lambda _: call(board, 'GET', '/api/names/me' + query, headers=header or {})

    def ticket_via(server, address, peer='127.0.0.2', headers=JSON):
        extra = {'X-Forwarded-For': address} if address else {}
        return lambda *_: call(server, 'POST', '/api/tickets', '{}', {**headers, **extra}, source=peer)

    def spent(*requests):  # an allowance spent beforehand
        return lambda: [r() for r in requests]

    def body_row(what, head, chunks, want, words, pause=0.0):
        return Row('bodies', what, board, lambda _: raw(board.port, 'POST /api/games HTTP/1.1\r\nHost: k\r\n'
                                                        'Content-Type: application/json\r\n' + head + '\r\n',
                                                        chunks, pause), want, words, check=lambda h, t: h[':closed'])

    def file_row(what, target, server=board):
        return Row('files', what, server, lambda _: raw(server.port, f'GET {target} HTTP/1.1\r\nHost: k\r\n'
                                                                    'Connection: close\r\n\r\n'),
                   404, 'no such file', check=lambda h, t: not any(secret in t for secret in SECRETS))

    def name_row(what, name, want, words, stores=None):
        return Row('names', what, board, post(board, '/api/names', {'name': name}), want, words, stores=stores or {})

    def worker_row(what, trial, words):
        return game('worker', what, lambda t, seed: idle(seed), 202, words, s.hostile[trial])

    # Replays edited, byte for byte.
    def edited(replay):
        inputs = bytearray(zlib.decompress(replay[64:]))
        steps_, frames = struct.unpack_from('<II', replay, 28)
        inputs[frames + steps_] = 0x14  # the first step's x motion, after the frames and the buttons
        return replay[:64] + zlib.compress(bytes(inputs), 9)

    def header(replay, fmt, at, value):
        out = bytearray(replay)
        struct.pack_into(fmt, out, at, value)
        return bytes(out)

    def largest_body(seed):
        """The longest game's header (its body fills all of the reader's
        room), and a body of zeros one byte longer."""
        head = bytearray(idle(seed)[:64])
        struct.pack_into('<II', head, 28, 360000, 360000)
        struct.pack_into('<I', head, 56, MAX_BODY)
        return bytes(head) + zlib.compress(bytes(MAX_BODY + 1), 9)

    # Paced games on `strict` (a margin of 2 s): started here, sent when due.
    def begin():
        t = board.ticket()['ticket']
        at = time.time()
        replay, steps_, _ = bt.record(board.start(t, 'Eve', secret(board, 'Eve')), '--bot', 'idle')
        return types.SimpleNamespace(ticket=t, replay=replay, due=at + steps_ / 100, at=at)
    slowed = begin()  # left to wait while the rows before it run

    def paced(late, peer):  # (from an address of its own: `strict` takes two games a minute from one)
        def send(g):
            bt.wait_for(lambda: time.time() > g.due + late, 60, 'the game to be due')
            return judged(strict, body(g.ticket, g.replay), peer)
        return send

    # Streamed games on `strict` (a margin of 2 s, the tolerance 1 s), from
    # a fresh start: each chunk sent `late` seconds after its last step is
    # due, up to `upto`, then the replay when `final` (the secret with every
    # request); the first refusal, or the last answer (the verdict of a
    # game taken).
    def streamed(late=0.05, upto=None, final=True, replay=None, secret_=True):
        def send(g):
            head = {**JSON, 'Authorization': f'Bearer {secret(board, "Eve")}'} if secret_ else JSON
            answer = strict.stream(g.ticket, secret(board, 'Eve'), g.replay, g.at, late, upto)
            if answer[0] != 200 or not final:
                return answer[0], answer[1], json.dumps(answer[2])
            status, h, text = call(strict, 'POST', '/api/games', body(g.ticket, replay(g) if replay else g.replay),
                                   head)
            return (status, h, json.dumps(strict.verdict(json.loads(text)['id']))) if status == 202 else \
                (status, h, text)
        return send

    fresh = begin

    def first_chunk(g, secret_name='Eve'):  # a fresh game's first second streamed, once due
        at, to, packed = bt.chunks(g.replay)[0]
        bt.wait_for(lambda: time.time() > g.at + to / 100, 10, 'the first chunk to be due')
        answer = strict.chunk(g.ticket, secret(board, secret_name), at, packed, g.replay[:24] + bytes(40))
        bt.check(answer[0] == 200 and answer[2]['steps'] == to, f'the first chunk: {answer}')
        return g

    def chunk_call(text_of, secret_name='Eve', peer='127.0.0.1'):
        def send(g):
            auth = {'Authorization': f'Bearer {secret(board, secret_name)}'} if secret_name else {}
            return call(strict, 'POST', f'/api/tickets/{g.ticket}/steps', text_of(g), {**JSON, **auth}, source=peer)
        return send

    def chunk_text(at=0, packed=None, header=True, which=0):
        def text(g):
            a, _, p = bt.chunks(g.replay)[which]
            fields = {'steps': a if at is None else at, 'chunk': base64.b64encode(packed or p).decode()}
            if header:
                fields['header'] = base64.b64encode(g.replay[:24] + bytes(40)).decode()
            return json.dumps(fields)
        return text

    def watched_through_nginx(g):  # each chunk taken at the proxied server reaches a watcher at nginx before the next
        live = bt.sql(store, f"SELECT live FROM tickets WHERE ticket = '{g.ticket}'")[0][0]
        w = bt.Watcher(s.nginx.port, live, tls=True)
        try:
            for at, to, packed in bt.chunks(g.replay)[:3]:
                bt.wait_for(lambda: time.time() > g.at + to / 100, 10, 'the chunk to be due')
                answer = s.proxied.chunk(g.ticket, secret(board, 'Eve'), at, packed,
                                         g.replay[:24] + bytes(40) if at == 0 else None)
                bt.check(answer[0] == 200, f'a chunk: {answer}')
                w.wait(lambda e: e.name == 'chunk' and e.data['to'] == to, 5, f'the chunk to step {to} through nginx')
            call(s.proxied, 'POST', f'/api/tickets/{g.ticket}/abandon')
            w.wait(lambda e: e.name == 'end', 10, 'the end through nginx')
        finally:
            w.close()
        return w.status, {}, json.dumps([e.name for e in w.events] + [w.events[-1].data['status']])

    def twenty_watchers():  # of one game, from one address: each answered
        live = bt.sql(store, f"SELECT live FROM tickets WHERE ticket = '{started()[0]}'")[0][0]
        shared['watchers'] = [bt.Watcher(board.port, live, source='127.0.0.40') for _ in range(20)]
        bt.check([w.status for w in shared['watchers']] == [200] * 20, 'twenty watchers')
        return live

    def two_watched():  # a game on `limited` (two streams at once), watched from two addresses
        t, (status, _, text) = start_call(s.limited, 'Wes', '127.0.0.50')
        bt.check(status == 200, f'a game to watch: {status} {text}')
        live = json.loads(text)['live']
        shared['watchers'] = [bt.Watcher(s.limited.port, live, source=f'127.0.0.{n}') for n in (51, 52)]
        bt.check([w.status for w in shared['watchers']] == [200] * 2, 'two watchers')
        return live

    def stalled():  # three games of Sid's, streamed a second then stopped, until the margin is past
        games = []
        for _ in range(3):
            games.append(fresh())
        for g in games:
            first_chunk(g)
        shared['stalled'] = games
        bt.wait_for(lambda: time.time() > games[-1].at + 1.01 + 2.3, 10, 'the margin to pass')
        return games

    shared = {}

    def sent_once():
        t, seed = started()
        text = body(t, idle(seed))
        shared['first'] = judged(board, text)
        return text

    def running(on, names, source):  # games started at `on` and left running; the last one's body kept
        def prepare():
            for name in names:
                t, (status, _, text) = start_call(on, name, source)
                bt.check(status == 200, f'a running game: {status} {text}')
            shared['running'] = body(t, idle(json.loads(text)['seed']))
        return prepare

    def code_of(secret):
        return json.loads(post(board, '/api/names/pairing', secret=secret)()[2])['code']

    def used_code():
        code = code_of(secrets[(board.port, 'Eve')])
        bt.check(post(board, '/api/names/paired', {'code': code})()[0] == 201, 'the first use')
        return code

    def expired_code():
        code = code_of(secrets[(board.port, 'Eve')])
        bt.sql(store, 'UPDATE pairings SET expires_ms = 0 WHERE used = 0')
        return code

    def secret_kept_as_hash(head, text):
        secret = json.loads(text)['secret']
        rows = bt.sql(store, f"SELECT count(*) FROM secrets WHERE hash = {bytes_sql(bytes.fromhex(secret))}")
        files = ''.join(open(os.path.join(store[1], f), 'rb').read().hex() for f in os.listdir(store[1])) \
            if store[0] == '--data' else ''
        return rows == [['0']] and secret not in files and bytes.fromhex(secret).hex() not in files

    def bytes_sql(b):
        return f"X'{b.hex()}'" if store[0] == '--data' else f"'\\x{b.hex()}'::bytea"

    def rules_2_verifier():
        bt.sql(store, f"INSERT INTO verifiers (id, rules, seen_ms) VALUES ('test:2', 2, {int(time.time() * 1000)})")
        t, seed = started()
        return body(t, header(idle(seed), '<H', 6, 2))

    def no_rules_2_verifier():
        bt.sql(store, "DELETE FROM verifiers WHERE id = 'test:2'")
        pending = bt.sql(store, 'SELECT id FROM games WHERE status = 0 AND rules = 2')
        bt.check(len(pending) == 1 and bt.moderate(store, 'remove', pending[0][0])[0] == 0, 'the game of version 2')

    def refused_replay():
        t, seed = started()
        return json.loads(judged(board, body(t, header(idle(seed), '<i', 24, 99)))[2])['id']

    def refused_first():  # a game left before its end, refused at once; the ticket's real game kept
        t, seed = started()
        call(board, 'POST', '/api/games', body(t, header(idle(seed), '<B', 36, 2)), JSON)
        return body(t, idle(seed))

    def abandoned(start=True):  # a ticket given up: its id, or with `start`, its real game
        t, seed = started() if start else (board.ticket()['ticket'], 0)
        call(board, 'POST', f'/api/tickets/{t}/abandon')
        return body(t, idle(seed)) if start else t

    def sent_then_abandon():
        t, seed = started()
        judged(board, body(t, idle(seed)))
        return t

    def started_long_ago():
        t, seed = started()
        hour = 3600 * 1000 + 86400 * 1000  # the longest game and the main board's margin
        bt.sql(store, f"UPDATE tickets SET started_ms = started_ms - {hour + 1000}, expires_ms = expires_ms - "
                      f"{hour + 1000} WHERE ticket = '{t}'")
        return body(t, idle(seed))

    def address_hashed(address):  # the running games' networks are kept hashed, never as written
        hexed = 'lower(hex(client))' if store[0] == '--data' else "encode(client, 'hex')"
        kept = bt.sql(store, f'SELECT {hexed} FROM tickets WHERE client IS NOT NULL')
        written = bytes(map(int, address.split('.'))).hex()
        return kept and all(len(k[0]) == 32 and written not in k[0] for k in kept)

    def expired_start():
        t = strict.ticket(source='127.0.0.9')
        bt.wait_for(lambda: time.time() > t['expires'] + 0.1, 10, 'the ticket to expire')
        return t['ticket']

    bombs = {}

    def bomb(_):
        bombs['run'] = eight_bombs(board)
        return (400 if set(bombs['run'][0]) == {400} else bombs['run'][0]), {}, ''

    def memory():
        _, peak_before, peak_after = bombs['run']
        print(f'json: peak memory (VmHWM) {peak_before} MB before the eight bodies, {peak_after} MB after')
        # 16 MB of bodies; as parsed trees they once took 100 MB more.
        bt.check(peak_after - peak_before < 3 * 16, f'the eight bodies took {peak_after - peak_before} MB')
    # One game under many names: a game on the board, then others written
    # from it, each on a ticket given its seed.
    def rewritings():
        t, seed = started()
        g = bt.record(seed, '--play', '300')[0]
        bt.check(board.sent(t, g)['status'] == 'on the board', 'the first copy')
        writings = [rewritten(g, lambda b, f, n: b.__setitem__(slice(f, f + n), bytes(x | 0xfe for x in b[f:f + n]))),
                    rewritten(g, lambda b, f, n: b.__setitem__(f - 1, b[f - 1] | 0x58)),  # Escape x3, a close
                    rewritten(g, padded=True), padded_stream(g, 100000), rewritten(g, level=1)]
        pairs = [(started()[0], replay) for replay in writings]
        for again, _ in pairs:
            bt.sql(store, f"UPDATE tickets SET seed = {seed} WHERE ticket = '{again}'")
        return pairs

    def each_judged(pairs):
        got = [judged(board, body(t, replay)) for t, replay in pairs]
        return max(a[0] for a in got), {}, ' | '.join(a[2] for a in got)

    def bloated():
        t, seed = started()
        shared['bloated'] = idle(seed)
        return body(t, padded_stream(shared['bloated'], 1500000))

    def kept_as_played(head, text):
        sent = shared['bloated']
        kept = bt.request(board.port, 'GET', f"/api/games/{json.loads(text)['id']}/replay")[2]
        print(f'  {"":11}{"":72}sent {len(padded_stream(sent, 1500000))} bytes, kept and served {len(kept)}')
        return (kept[8:12], kept[24:28]) == (sent[8:12], sent[24:28]) and \
            len(kept) <= 64 + len(zlib.compress(zlib.decompress(sent[64:]), 9))

    def flood(prepared):
        """140 bodies of 2 MB, four at a time, each of a refused kind (not
        JSON; a ticket unknown, not started, malformed); then 140 more at
        once, cut off half way, each waited for until the server drops it
        (past its room for bodies, were any kept); then an honest game."""
        unstarted, honest, big = *prepared, 2 * 1024 * 1024
        kinds = [b'x' * (big - 100)] + [body(t, 'A' * (big - 200)).encode() for t in ('0' * 32, unstarted, 'x' * 32)]
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            statuses = sorted(set(pool.map(lambda i: bt.request(board.port, 'POST', '/api/games', kinds[i % 4],
                                                                 JSON)[0], range(140))))
        head, cuts = (f'POST /api/games HTTP/1.1\r\nHost: k\r\nContent-Type: application/json\r\n'
                      f'Content-Length: {big}\r\n\r\n').encode(), []
        for _ in range(140):
            cuts.append(socket.create_connection(('127.0.0.1', board.port), timeout=30))
            with contextlib.suppress(OSError):  # refused at once, for want of room
                cuts[-1].sendall(head + b'{' * (big // 2))
                cuts[-1].shutdown(socket.SHUT_WR)
        for cut in cuts:  # each dropped by the server (at its request timeout)
            with contextlib.suppress(OSError):
                cut.recv(1)
            cut.close()
        status, head, text = judged(board, honest)
        return status, head, f'{text} after 280 bodies of 2 MB answered {statuses} or cut off'

    def junk_then(text):  # ten junk games from the address, then its player's game, and it again (an answer lost)
        answers = [call(s.junk, 'POST', '/api/games', body('0' * 32, 'A' * 1000), JSON, source='127.0.0.15')[0]
                   for _ in range(10)]
        status, head, said = judged(s.junk, text, '127.0.0.15')
        again = call(s.junk, 'POST', '/api/games', text, JSON, source='127.0.0.15')
        return status, head, f'{said} after ten junk games answered {answers}; sent again: {again[0]} {again[2]}'

    def queue_of_rules_2():
        bt.check(call(board, 'POST', '/api/games', rules_2_verifier(), JSON)[0] == 202, 'a game of version 2 kept')
        return board.ticket()['ticket']

    def rules_2_session():  # kind 2, no end
        text = json.loads(rules_2_verifier())
        replay = base64.b64decode(text['replay'])
        return body(text['ticket'], replay[:5] + b'\2' + replay[6:36] + b'\0' + replay[37:])

    def raced(pairs):
        """Each game sent at the instant its ticket is abandoned."""
        def both(t, text):
            go = threading.Barrier(2)
            with concurrent.futures.ThreadPoolExecutor(2) as pool:
                return tuple(f.result()[0] for f in [pool.submit(lambda a=a: (go.wait(), call(board, 'POST', *a))[1])
                                                     for a in (('/api/games', text, JSON), (f'/api/tickets/{t}/abandon',))])
        answers = sorted({both(*p) for p in pairs})
        bt.wait_for(lambda: bt.sql(store, 'SELECT count(*) FROM games WHERE status = 0') == [['0']], 60, 'verdicts')
        wrong = bt.sql(store, 'SELECT count(*) FROM tickets t JOIN games g ON g.ticket = t.ticket WHERE t.state = 2')
        return 200 if wrong == [['0']] else 500, {}, f'{wrong} sent and abandoned; (game, abandon): {answers}'

    def not_a_fast_hash(head, text):
        code = json.loads(text)['code'].replace('-', '').encode()
        hexed = 'lower(hex(hash))' if store[0] == '--data' else "encode(hash, 'hex')"
        kept = ' '.join(h[0] for h in bt.sql(store, f'SELECT {hexed} FROM pairings'))
        return kept and hashlib.blake2b(code, digest_size=32).hexdigest() not in kept and code.hex() not in kept

    def one_of_ten(changes):  # each ticket sent (its game on the board) or abandoned, never both
        return changes.get('started') == -10 and changes.get('sent', 0) + changes.get('abandoned', 0) == 10 and \
            changes.get('board', 0) == changes.get('sent', 0) and set(changes) <= {'started', 'sent', 'abandoned',
                                                                                  'board'}
    ticketed = lambda make: lambda t, seed: make(seed)  # noqa: E731
    return [
        # What was found open.
        Row('found', '12 run ahead: a page 1.5 s ahead of real time, refused at its first chunk past 0.5 s', strict,
            streamed(-1.5), 422, 'ahead of real time, so it was not played live', prepare=fresh, stores=LEFT),
        Row('found', '1 slowed down: sent whole 2.5 s after its length (margin 2 s), never streamed', strict,
            paced(2.5, '127.0.0.12'), 410, 'more than 2 s behind real time', prepare=lambda: slowed, stores=LEFT),
        Row('found', '2 a ticket taken ahead holds no seed', board, post(board, '/api/tickets', {}), 201, '"ticket"',
            check=lambda head, text: 'seed' not in text, stores={'issued': 1}),
        Row('found', '2 a seed practised: a ticket started again', board,
            lambda t: call(board, 'POST', f'/api/tickets/{t}/start', '{"name": "Eve"}',
                           {**JSON, 'Authorization': f'Bearer {secrets[(board.port, "Eve")]}'}), 409,
            'started already', prepare=lambda: started()[0]),
        game('found', '2 another replay on a ticket whose game was refused', None, 409, 'sent already', stores={},
             prepare=refused_first),
        game('found', '3 a program\'s game, sent as soon as computed', ticketed(idle), 422, 'sooner than it lasted',
             strict, peer='127.0.0.14'),
        Row('found', '4 a start for Eve without her secret', board, post(board, f'/api/tickets/{t0}/start',
                                                                           {'name': 'Eve'}), 401, 'secret'),
        Row('found', '4 a start for Eve with another name\'s secret', board,
            lambda t: post(board, f'/api/tickets/{t}/start', {'name': 'Eve'}, secret(board, 'Mallory'))(), 401,
            'does not hold', prepare=lambda: secret(board, 'Mallory') and board.ticket()['ticket']),
        name_row('4 EVE, when Eve is held', 'EVE', 409, 'taken'),
        name_row('4 Ενe (Greek Ε and ν), when Eve is held', 'Ενe', 400, 'scripts'),
        game('found', '5 a finished game while the queue is full', ticketed(idle), 202, 'on the board', s.full,
             stores=RANKED),
        Row('found', '5 a start while the queue is full', s.full, lambda _: start_call(s.full)[1], 503,
            'too many games', check=lambda head, text: int(head['retry-after']) > 0, stores={'issued': 1}),
        game('found', '6 five steps a frame for its first second, 1.02 on average',
             ticketed(lambda seed: bt.record(seed, '--play', '3000', '--fast-start', '100')[0]), 202,
             'in its second 1 of play'),
        Row('found', '7 one game, many names: button bits, Escape after its end, a number in two bytes, '
            'stored blocks, zlib\'s level 1; each on a ticket given its seed (in the database)', board, each_judged,
            202, 'on the board already', prepare=rewritings, stores={'refused': 5, 'started': -5, 'sent': 5},
            check=lambda head, text: text.count('on the board already') == 4 and 'malformed' in text),
        Row('found', '8 a short game sent as 1.5 MB of empty stored blocks: kept as played', board,
            lambda text: judged(board, text), 202, 'on the board', prepare=bloated, stores=RANKED,
            check=kept_as_played),
        Row('found', '9 280 bodies of 2 MB of every refused kind, then an honest game', board, flood, 202,
            'on the board', prepare=lambda: (board.ticket()['ticket'], (lambda t, seed: body(t, idle(seed)))(*started())),
            stores=RANKED,
            check=lambda head, text: '[400, 404, 409] or cut off' in text),
        Row('found', '10 ten junk games from an address, then its honest game (2 a minute)', s.junk, junk_then,
            202, 'on the board', prepare=lambda: (lambda t, seed: body(t, idle(seed)))(*started()), stores=RANKED,
            check=lambda head, text: '[404, 404, 429, 429, 429, 429, 429, 429, 429, 429]' in text and
            re.search(r'sent again: 202 .*"on the board"', text)),
        Row('found', '11 Top  Dog (two spaces), when Top Dog is held', board,
            post(board, '/api/names', {'name': 'Top  Dog'}), 409, 'taken', prepare=lambda: secret(board, 'Top Dog')),
        Row('found', '11 Nap   Time: held with one space', board, post(board, '/api/names', {'name': 'Nap   Time'}),
            201, '"name":"Nap Time"', stores={'names': 1, 'secrets': 1}),
        Row('found', '13 a game of rules version 2 (a verifier of it lives) claiming a session', board,
            lambda text: call(board, 'POST', '/api/games', text, JSON), 422, 'session', prepare=rules_2_session,
            after=lambda: bt.sql(store, "DELETE FROM verifiers WHERE id = 'test:2'"), stores=BURNT),
        Row('found', '13 a start while the queue (1) holds a game of rules version 2', s.one,
            lambda t: call(s.one, 'POST', f'/api/tickets/{t}/start', json.dumps({'name': 'Eve'}),
                           {**JSON, 'Authorization': f'Bearer {secrets[(board.port, "Eve")]}'}), 200, '"seed"',
            prepare=queue_of_rules_2, after=no_rules_2_verifier, stores={'issued': -1, 'started': 1}),
        Row('found', '13 ten games sent as their tickets are abandoned, at the same instant', board, raced, 200,
            'sent and abandoned', prepare=lambda: [(lambda t, seed: (t, body(t, idle(seed))))(*started())
                                                    for _ in range(10)], stores=one_of_ten),
        Row('found', '13 a pairing code: kept as a slow hash under the board\'s salt', board,
            lambda _: post(board, '/api/names/pairing', secret=secrets[(board.port, 'Eve')])(), 201, '"code"',
            check=not_a_fast_hash),
        Row('found', '13 a second ticket from one /48 past its share of the board\'s', s.crowd,
            ticket_via(s.crowd, '2001:db8:30:2::1'), 429, 'its share of the board\'s tickets',
            prepare=spent(ticket_via(s.crowd, '2001:db8:30:1::1'))),
        Row('found', '13 three /48s at their share of the board\'s: a new address gets a ticket', s.crowd,
            ticket_via(s.crowd, '198.51.100.200'), 201, '"ticket"', stores={'issued': 1},
            prepare=spent(*[ticket_via(s.crowd, f'2001:db8:{n}::1') for n in (31, 32, 33)])),
        *[Row('found', f'13 a third {what} a minute from one address', s.stingy, ask(peer), 429, words,
              stores=stores, prepare=spent(*[lambda ask=ask, peer=peer: ask(peer)()] * 2))
          for what, peer, ask, words, stores in [
              ('start', '127.0.0.40', lambda p: lambda *_: start_call(s.stingy, 'Eve', p)[1], 'Too many starts',
               {'issued': 1}),
              ('look at a game', '127.0.0.41', lambda p: lambda *_: call(s.stingy, 'GET', '/api/games/1', source=p),
               'Too many requests for games', {}),
              ('ticket left that was not in play', '127.0.0.42',
               lambda p: post(s.stingy, f'/api/tickets/{"0" * 32}/abandon', peer=p), 'Too many requests', {})]],
        Row('found', '13 ... while a game in play is left from that address all the same', s.stingy,
            lambda t: post(s.stingy, f'/api/tickets/{t}/abandon', peer='127.0.0.42')(), 200, 'abandoned',
            prepare=lambda: started()[0], stores={'started': -1, 'abandoned': 1}),
        # Names that belong to their players.
        name_row('a name that mixes Latin and Cyrillic: Rоbin', 'Rоbin', 400, 'scripts'),
        name_row('ＥＶＥ in full width, when Eve is held', 'ＥＶＥ', 409, 'taken'),
        name_row('HTML for a name', '<img src=x onerror=alert(1)>', 400, 'letters'),
        name_row('10,000 characters', 'E' * 10000, 400, 'too long'),
        name_row('sixteen Hangul fillers (U+3164)', '\u3164' * 16, 400, 'invisible'),
        name_row('fifteen U+0345 stacked on nothing', '\u0345' * 15, 400, 'no letter under it'),
        Row('names', 'a new name: its secret is kept as a hash only', board, post(board, '/api/names',
                                                                                   {'name': 'Keeper'}), 201,
            '"secret"', stores={'names': 1, 'secrets': 1}, check=secret_kept_as_hash),
        Row('names', 'the secret in the address, not in its header', board,
            get_me(f'?secret={secrets[(board.port, "Eve")]}'), 401, 'secret'),
        Row('names', 'a secret nobody was given', board, get_me('', {'Authorization': 'Bearer ' + '0' * 32}), 401,
            'secret'),
        Row('names', 'a pairing code without the name\'s secret', board, post(board, '/api/names/pairing', {}), 401,
            'secret'),
        Row('names', 'a pairing code used twice', board, lambda code: post(board, '/api/names/paired',
                                                                            {'code': code})(), 409, 'used',
            prepare=used_code),
        Row('names', 'a pairing code past its ten minutes (moved back in the database)', board,
            lambda code: post(board, '/api/names/paired', {'code': code})(), 409, 'expired', prepare=expired_code),
        Row('names', 'a pairing code guessed', board, post(board, '/api/names/paired', {'code': 'ABCD-EFGH'}), 404,
            'no such'),
        Row('names', 'a third name or code a minute from one address', strict,
            post(strict, '/api/names/paired', {'code': 'x'}, peer='127.0.0.11'), 429, 'Too many',
            prepare=spent(*[post(strict, '/api/names/paired', {'code': 'x'}, peer='127.0.0.11')] * 2)),
        # Tickets and their starts.
        Row('tickets', 'a ticket for a page of older rules: told before its game, to update', board,
            post(board, '/api/tickets', {'rules': 0}), 409, "older version of Kiv's rules than the board: update Kiv "
            'to play ranked games.', check=lambda head, text: json.loads(text)['rules'] == 1),
        Row('tickets', 'a ticket for a page of newer rules', board, post(board, '/api/tickets', {'rules': 2, 'daily': True}),
            409, 'newer version of Kiv\'s rules than the board: its games can be ranked once the board is updated.'),
        Row('tickets', 'a rules version that is no whole number (-1, 65536, 1.0, "1")', board,
            lambda _: (lambda got: (max(a[0] for a in got), {}, ' '.join(a[2].strip() for a in got)))(
                [call(board, 'POST', '/api/tickets', body, JSON) for body in
                 ('{"rules": -1}', '{"rules": 65536}', '{"rules": 1.0}', '{"rules": "1"}')]), 400,
            'must be a whole number from 0 to 65535.', check=lambda head, text: text.count('whole number') == 4),
        Row('tickets', 'a rules version given twice', board,
            lambda _: call(board, 'POST', '/api/tickets', '{"rules": 1, "rules": 1}', JSON), 400, 'given twice'),
        Row('tickets', 'a start of a ticket past its lifetime', strict,
            lambda t: post(strict, f'/api/tickets/{t}/start', {'name': 'Eve'}, secrets[(board.port, 'Eve')])(), 410,
            'expired', prepare=expired_start),
        game('tickets', 'a game past its start, the longest game and the margin (start moved back in the database)',
             None, 410, 'expired', stores={}, prepare=started_long_ago),
        Row('tickets', 'a start of an unknown ticket', board,
            post(board, f'/api/tickets/{"0" * 32}/start', {'name': 'Eve'}, secrets[(board.port, 'Eve')]), 404,
            'no such ticket'),
        Row('tickets', 'a start of a ticket whose game was left', board,
            lambda t: post(board, f'/api/tickets/{t}/start', {'name': 'Eve'}, secrets[(board.port, 'Eve')])(), 409,
            'given up', prepare=lambda: abandoned(start=False)),
        game('tickets', 'a game on a ticket never started', None, 409, 'not started', stores={},
             prepare=lambda: body(board.ticket()['ticket'], good)),
        game('tickets', 'a game on a ticket whose game was left', None, 409, 'left', stores={}, prepare=abandoned),
        Row('tickets', 'a game left: abandoned by a beacon (no body, no Content-Type)', board,
            lambda t: call(board, 'POST', f'/api/tickets/{t}/abandon'), 200, 'abandoned',
            prepare=lambda: started()[0], stores={'started': -1, 'abandoned': 1}),
        Row('tickets', 'a game sent, then abandoned', board,
            lambda t: call(board, 'POST', f'/api/tickets/{t}/abandon'), 409, 'sent already',
            prepare=sent_then_abandon),
        Row('tickets', 'an honest game, streamed as played and sent as its length ends (margin 2 s)', strict,
            streamed(), 202, 'on the board', prepare=fresh, stores=RANKED),
        # The stream, on `strict`: each chunk judged on the board's clock.
        Row('stream', 'a chunk after the margin: 2.5 s of the stream lost mid-game (margin 2 s)', strict,
            streamed(2.5, upto=300), 410, 'more than 2 s behind real time', stores=LEFT,
            prepare=lambda: (lambda g: (strict.stream(g.ticket, secret(board, 'Eve'), g.replay, g.at, 0.05, 200), g)[1])(
                fresh())),
        Row('stream', 'a chunk on a game past the margin (2 s), its steps wrong: 200, not 100', strict,
            chunk_call(chunk_text(at=None, which=2, header=False)), 410, 'more than 2 s behind real time', stores=LEFT,
            prepare=lambda: (lambda g: (bt.wait_for(lambda: time.time() > g.at + 1.01 + 2.3, 10, 'the margin to pass'),
                                        g)[1])(first_chunk(fresh()))),
        Row('stream', 'a gap in the stream: steps from 100 sent as the board holds 0', strict,
            chunk_call(chunk_text(at=None, which=1, header=False)), 409, '"steps":0', prepare=fresh),
        Row('stream', 'a chunk sent again, its answer lost: answered as the first time', strict,
            chunk_call(chunk_text()), 200, '"steps":100', prepare=lambda: first_chunk(fresh())),
        Row('stream', 'a chunk on another name\'s ticket, with that name\'s secret', strict,
            chunk_call(chunk_text(), 'Mallory', '127.0.0.17'), 403, 'another name', prepare=fresh),
        Row('stream', 'a chunk without the secret', strict, chunk_call(chunk_text(), None, '127.0.0.18'), 401, 'secret',
            prepare=fresh),
        Row('stream', 'a chunk of 2 MB', strict, chunk_call(lambda g: json.dumps({
            'steps': 0, 'chunk': 'A' * (2 * 1024 * 1024 - 100)})), 400, 'chunk', prepare=fresh),
        Row('stream', 'a chunk of 2,000 steps in 40 bytes (a chunk holds the margin and the tolerance: 251)', strict,
            chunk_call(chunk_text(packed=zlib.compress(bytes([1]) * 2000 + bytes(6000), 9))), 400,
            'more than the steps a chunk may hold', prepare=fresh),
        Row('stream', 'a 21st stream watched from one address (20 at once)', board,
            lambda live: call(board, 'GET', f'/api/live/{live}', source='127.0.0.40'), 429, 'watches as many',
            prepare=twenty_watchers, after=lambda: [w.close() for w in shared.pop('watchers')]),
        Row('stream', 'a third stream on a server that shows two at once (--watchers 2)', s.limited,
            lambda live: call(s.limited, 'GET', f'/api/live/{live}', source='127.0.0.53'), 503, 'as many live games',
            prepare=two_watched, check=lambda head, text: int(head['retry-after']) > 0,
            after=lambda: [w.close() for w in shared.pop('watchers')]),
        Row('stream', 'a chunk of malformed frames: a frame of no steps', strict,
            chunk_call(chunk_text(packed=zlib.compress(b'\0\0\0\0'))), 400, 'not whole frames', prepare=fresh),
        Row('stream', 'a chunk that is not zlib', strict, chunk_call(chunk_text(packed=b'\x01\x02\x03')), 400,
            'zlib stream', prepare=fresh),
        # Malformed in its fields: refused before the ticket is read.
        *(Row('stream', what, strict, chunk_call(text), 400, words, prepare=fresh) for what, text, words in [
            ('a chunk that is not base64', lambda g: json.dumps({'steps': 0, 'chunk': '!!!!'}), 'not standard base64'),
            ('a first chunk without the game\'s header', chunk_text(header=False), 'carries the game\'s header'),
            ('a header sent with a later chunk', chunk_text(at=100), 'first chunk alone'),
            ('a header whose bytes from 24 on are not 0', lambda g: chunk_text()(g).replace(
                base64.b64encode(g.replay[:24] + bytes(40)).decode(),
                base64.b64encode(g.replay[:24] + bytes(6) + b'\x01' + bytes(33)).decode()), 'byte 30'),
            ('a motion written longer than it needs (0 in two bytes)',
             chunk_text(packed=zlib.compress(b'\x01\x00\x80\x00\x00')), 'not whole frames')]),
        Row('stream', 'a first chunk whose header holds another seed', strict,
            chunk_call(lambda g: chunk_text()(g).replace(
                base64.b64encode(g.replay[:24] + bytes(40)).decode(),
                base64.b64encode(g.replay[:8] + bytes(4) + g.replay[12:24] + bytes(40)).decode())), 400, 'seed',
            prepare=fresh),
        Row('stream', 'a final replay that differs from the stream (step 1\'s motion)', strict,
            streamed(upto=100, replay=lambda g: edited(g.replay)), 422, 'differ from those streamed', prepare=fresh,
            stores=BURNT),
        Row('stream', 'a final replay without the secret, the game streamed', strict,
            streamed(upto=100, secret_=False), 401, 'secret', prepare=fresh),
        Row('stream', 'a game that stopped streaming: its slot free once the margin is past (3 running a name)',
            strict, lambda games: (lambda started_: (started_[0], started_[1], started_[2] + json.dumps(
                strict.chunk(games[0].ticket, secret(board, 'Eve'), 100, bt.chunks(games[0].replay)[1][2])[2])))(
                call(strict, 'POST', f'/api/tickets/{board.ticket()["ticket"]}/start', '{"name": "Eve"}',
                     {**JSON, 'Authorization': f'Bearer {secret(board, "Eve")}'})),
            200, '"seed"', prepare=stalled, check=lambda head, text: 'more than 2 s behind' in text,
            stores=lambda c: c.get('board', 0) == 0 and c.get('started', 0) <= 1),
        Row('stream', 'a daily game asked for live before its day\'s replays are served', board,
            lambda live: call(board, 'GET', f'/api/live/{live}'), 403, 'shown from',
            prepare=lambda: board.post(f'/api/tickets/{board.post("/api/tickets", {"daily": True})[2]["ticket"]}/start',
                                       {'name': 'Lia'}, secret(board, 'Lia'))[2]['live']),
        Row('stream', 'a live game asked for by its ticket', board, lambda t: call(board, 'GET', f'/api/live/{t}'),
            404, 'no such live game', prepare=lambda: started()[0]),
        # One seed, one verdict.
        Row('verdict', 'the same replay sent again: the first answer', board, lambda text: judged(board, text), 202,
            'on the board', prepare=sent_once, check=lambda head, text: json.loads(text)['id'] ==
            json.loads(shared['first'][2])['id']),
        game('verdict', 'a game on another game\'s ticket', lambda t, seed: body(t, good), 422, 'seed'),
        game('verdict', 'two steps a frame: an easier game',
             ticketed(lambda seed: bt.record(seed, '--bot', 'idle', '--steps-per-frame', '2')[0]), 422,
             'steps per frame'),
        Row('verdict', 'a third running game of one name (limit 2)', s.limited,
            lambda _: start_call(s.limited, 'Busy', '127.0.0.30')[1], 429, 'games running already', stores={'issued': 1},
            prepare=running(s.limited, ['Busy', 'Busy'], '127.0.0.30')),
        Row('verdict', 'a fourth running game from one address, three started at another server (limit 3)',
            s.limited, lambda _: start_call(s.limited, 'Dee', '127.0.0.31')[1], 429, 'this address',
            stores={'issued': 1}, prepare=lambda: secret(board, 'Dee') and running(board, ['Ada', 'Bea', 'Cy'],
                                                                                  '127.0.0.31')(),
            check=lambda head, text: address_hashed('127.0.0.31')),
        Row('verdict', 'a running game goes on past the limit: sent and ranked', s.limited,
            lambda _: judged(s.limited, shared['running']), 202, 'on the board', stores=RANKED),
        # Replays made up or edited.
        game('replay', 'a forged score', ticketed(lambda seed: header(idle(seed), '<i', 24, 1000)), 202, 'scores'),
        game('replay', 'an edited input', ticketed(lambda seed: edited(idle(seed))), 202, 'differs'),
        game('replay', 'a replay cut in half', ticketed(lambda seed: (lambda r: r[:64 + (len(r) - 64) // 2])(idle(seed))),
             202, 'ends'),
        game('replay', 'random bytes', lambda t, seed: os.urandom(4096), 422, 'not a Kiv replay'),
        game('replay', 'another rules version, which no verifier plays', ticketed(lambda seed: header(
            idle(seed), '<H', 6, 2)), 422, 'rules version 2'),
        game('replay', 'a session, not a game from its Start', lambda t, seed: session, 422, 'session'),
        game('replay', 'a game left before its end',
             ticketed(lambda seed: bt.record(seed, '--play', '200', '--leave')[0]), 422, 'left'),
        game('replay', 'the largest body a header allows and a byte more (an hour claimed)', ticketed(largest_body),
             202, 'longer than the 4320000 bytes'),
        # The queue.
        game('queue', 'a game of rules version 2 while a verifier of version 2 lives: kept for it', None, 202,
             'pending', prepare=rules_2_verifier, after=no_rules_2_verifier, wait=False,
             stores={'pending': 1, 'started': -1, 'sent': 1}),
        Row('queue', 'the replay of a refused game', board, lambda i: call(board, 'GET', f'/api/games/{i}/replay'),
            404, 'no such game', prepare=refused_replay),
        # Fields and JSON, refused as they are read.
        game('fields', 'an unknown ticket', None, 404, 'no such ticket', stores={}, prepare=lambda: js(ticket='0' * 32)),
        game('fields', 'a path for a ticket', None, 400, 'hexadecimal', stores={},
             prepare=lambda: js(ticket='../../etc/passwd')),
        game('fields', 'a replay not in base64', None, 400, 'base64', stores={}, prepare=lambda: js('KIVR!!!')),
        game('fields', 'a replay in URL-safe base64', None, 400, 'base64', stores={},
             prepare=lambda: js(base64.urlsafe_b64encode(b'\xfb\xff' * 30).decode())),
        game('fields', 'an empty replay', None, 400, 'base64', stores={}, prepare=lambda: js('')),
        *[game('json', what, None, 400, words, stores={}, prepare=lambda text=text: text) for what, text, words in [
            ('a body cut short', '{"ticket": ', 'JSON'),
            ('an array, not an object', '["ticket"]', 'JSON'),
            ('200,000 brackets deep', '[' * 100000 + ']' * 100000, 'JSON'),
            ('objects five deep', js(x={'a': {'b': {'c': {}}}}), 'nested too deeply'),
            ('seventy values in an extra field', js(x=[0] * 70), 'too many values'),
            ('an extra field of 2 kB', js(x='x' * 2000), 'too long a string'),
            ('a key of 2 kB', js(**{'k' * 2000: 1}), 'too long a string'),
            ('more after the object', js() + '{}', 'not a JSON object'),
            ('a number for the ticket', js(ticket=42), 'ticket'),
            ('a list for the replay', js([1, 2]), 'replay'),
            ('no ticket', json.dumps({'replay': ''}), 'ticket'),
            ('the ticket twice, the second one refused', js()[:-1] + ', "ticket": "<b>"}', 'given twice')]],
        game('json', 'a game as text/plain', None, 400, 'JSON', stores={}, headers={'Content-Type': 'text/plain'},
             prepare=js),
        Row('json', 'eight 2 MB bodies built to cost the most as a tree, at once', board, bomb, 400, after=memory),
        body_row('a body of 10 MB announced', 'Content-Length: 10485760\r\n', [b'x' * 65536] * 160, 413, '2 MB'),
        body_row('3 MB in chunks', 'Transfer-Encoding: chunked\r\n', [b'10000\r\n' + b'x' * 65536 + b'\r\n'] * 48,
                 413, '2 MB'),
        body_row('a body trickled past the request timeout', 'Content-Length: 1000\r\n', [b'{'] * 100, 408,
                 'too long', pause=0.2),
        # Files: only under --web, by plain names from its root.
        file_row('a target without its leading /: <web>-secret/key.txt', '-secret/key.txt'),
        file_row('a hidden file, --web given with a trailing /', '.env', s.slashed),
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
        game('cross-site', 'a good game from another site\'s page', ticketed(idle), 403, 'other sites', stores={},
             headers=evil),
        Row('cross-site', 'a game left by another site\'s page', board,
            lambda t: call(board, 'POST', f'/api/tickets/{t}/abandon', '', {'Origin': 'https://evil.example'}), 403,
            'other sites', prepare=lambda: started()[0]),
        Row('cross-site', 'a preflight from another site\'s page gets no leave', board,
            lambda _: call(board, 'OPTIONS', '/api/tickets', None, {
                'Origin': 'https://evil.example', 'Access-Control-Request-Method': 'POST',
                'Access-Control-Request-Headers': 'content-type, authorization'}), 204,
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
        Row('rate', 'a new address past the whole board\'s tickets a minute', s.crowd,
            ticket_via(s.crowd, '198.51.100.99'), 429, 'The board is handing out',
            prepare=spent(*[ticket_via(s.crowd, f'198.51.100.{n}') for n in range(5)])),
        Row('rate', 'a third game a minute', strict, post(strict, '/api/games', {}, peer='127.0.0.6'), 429,
            'Too many games', prepare=spent(*[post(strict, '/api/games', {}, peer='127.0.0.6')] * 2)),
        # A verifier taken over: killed at its first call out of bounds.
        worker_row('a verifier taken over opens the board\'s database for writing: failed three times', 'open:',
                   'could not be verified: the verifier made a system call it may not make'),
        worker_row('a verifier taken over connects to a port', 'connect:', 'may not make'),
        worker_row('what a verifier taken over was handed', 'look',
                   'environment: 0 variables; descriptors: 0 pipe, 1 pipe, 2 /dev/null'),
        # The page's policy, from kiv-board and from the nginx sample; the sample's log.
        Row('page', 'the page framed by another site, or running code not its own', board,
            lambda _: call(board, 'GET', '/'), 200,
            check=lambda head, text: "frame-ancestors 'self'" in head['content-security-policy']),
        Row('page', 'the same, the page served by the sample nginx site', s.proxied,
            lambda _: s.nginx.call('GET', '/'), 200, check=lambda head, text: head['content-security-policy'] ==
            call(board, 'GET', '/')[1]['content-security-policy']),
        Row('page', 'a stale file from the sample nginx site: only content-named files kept, the manifest typed; '
            'gzip only to a browser that takes it', s.proxied, lambda _: (lambda got: (max(a[0] for a in got), {'seen': [
                (a[1].get('cache-control'), a[1]['content-type'].split(';')[0], a[1].get('content-encoding'),
                 a[1].get('vary')) for a in got]}, ''))(
                [s.nginx.call('GET', f, headers=h) for f, h in [
                    ('/kiv.0123456789abcdef.wasm', {'Accept-Encoding': 'gzip'}), ('/kiv.0123456789abcdef.wasm', None),
                    ('/kiv.webmanifest', None), ('/', None)]]),
            200, check=lambda head, text: head['seen'] == [
                ('public, max-age=31536000, immutable', 'application/wasm', 'gzip', 'Accept-Encoding'),
                ('public, max-age=31536000, immutable', 'application/wasm', None, 'Accept-Encoding'),
                ('no-cache', 'application/manifest+json', None, None), ('no-cache', 'text/html', None, None)]),
        Row('page', 'a game watched live through the sample nginx site: each chunk passed on as it is taken',
            s.proxied, watched_through_nginx, 200, '["game", "chunk", "chunk", "chunk", "end", "left"]', prepare=fresh,
            stores=LEFT),
        Row('privacy', 'a ticket through the sample nginx site: an address in its log', s.proxied,
            lambda _: s.nginx.call('POST', '/api/tickets', '{}',
                                   {**JSON, 'Origin': f'https://127.0.0.1:{s.nginx.port}'}),
            201, '"ticket"', stores={'issued': 1},
            check=lambda head, text: re.search(r'"POST /api/tickets" 201', log := open(
                f'{s.nginx.dir}/api.log').read()) and '127.0.0.1' not in log),
        # Reading the board: a clear refusal for what is not there.
        *[Row('reading', target, board, lambda _, t=target: call(board, 'GET', t), want, 'error') for want, target in [
            (400, '/api/top?period=year'), (400, '/api/top?limit=0'), (400, '/api/top?limit=101'),
            (400, '/api/top?limit=x'), (404, '/api/games/999999'), (404, '/api/games/abc'), (404, '/api/games/'),
            (404, '/api/games/1x/replay'), (404, '/api/games/99999999999999999999'), (404, '/api/nothing'),
            (404, '/api/tickets/x/start'), (405, '/api/tickets'), (405, '/api/names')]],
    ]


def run(rows, store):
    print(f'  {"group":11}{"attack":72}answer', flush=True)
    for row in rows:
        prepared = row.prepare() if row.prepare else None
        where = row.store or store
        listed, before = stored(where)
        status, head, text = row.send(prepared)
        after_listed, after = stored(where)
        try:
            said = json.loads(text)
            said = said.get('error') or said.get('reason') or said.get('status') or text
        except (ValueError, AttributeError):
            said = text
        print(f'  {row.group:11}{row.what[:70]:72}{status} {str(said).strip()[:100]}', flush=True)
        bt.check(status == row.want and row.words in text, f'{row.what}: {status} {text[:300]}')
        bt.check(row.check is None or row.check(head, text), f'{row.what}: {head} {text[:300]}')
        bt.check(status < 400 or head.get('content-type') in ('application/json', None),
                 f'{row.what}: a refusal as {head.get("content-type")}')
        changes = {k: after[k] - before[k] for k in COUNTS if after[k] != before[k]}
        bt.check(row.stores(changes) if callable(row.stores) else
                 changes == row.stores and (row.stores.get('board') or after_listed == listed),
                 f'{row.what}: changed {changes}, not {row.stores}')
        if row.after:
            row.after()
        row.on.alive()
