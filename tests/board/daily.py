"""The daily game against the real kiv-board, its clock set by
KIV_BOARD_TEST_NOW: one seed a day for every name and every server, one
ranked try a name a day counted at its start, the day's board apart from the
others, its replays held back until no game of the day can arrive; then a
table of attacks on those rules (the request, its answer, what it stored).
"""
import json
import os
import subprocess
import threading

import board_test as bt

KEYS = ('pending', 'board', 'refused', 'practice', 'issued', 'started', 'abandoned', 'sent', 'days', 'tries')


def at(instant):
    return {**os.environ, 'KIV_BOARD_TEST_NOW': instant}


def server(store, instant, worker=False):
    """A server (or a lone worker) whose clock starts at `instant`, and says so."""
    log = os.path.join(bt.scratch, f'daily-{instant}-{worker}.log')
    b = bt.Board(store, *([] if worker else bt.LENIENT), env=at(instant), log=log, worker=worker)
    bt.check(f'the clock starts at {instant} (KIV_BOARD_TEST_NOW, for tests only)' in open(log).read(), log)
    return b


def daily(b, name, secret):
    """A daily ticket started for `name`: (ticket, the start's answer)."""
    t = b.post('/api/tickets', {'daily': True})[2]
    bt.check(t['daily'] is True, t)
    status, _, body = b.post(f"/api/tickets/{t['ticket']}/start", {'name': name}, secret)
    bt.check(status == 200 and body['name'] == name, f'{status} {body}')
    return t['ticket'], body


def counts(store):
    return dict(zip(KEYS, map(int, bt.sql(store, 'SELECT ' + ', '.join(
        [f'(SELECT count(*) FROM games WHERE status = {s})' for s in range(4)] +
        [f'(SELECT count(*) FROM tickets WHERE state = {s})' for s in range(4)] +
        ['(SELECT count(*) FROM daily)', '(SELECT count(*) FROM daily_tries)']))[0])))


def attack_table(store):
    b = server(store, '2026-12-15T12:00:00Z')
    try:
        eve, mallory, frank = (b.claim(n) for n in ('Eve', 'Mallory', 'Frank'))
        t, first = daily(b, 'Eve', eve)
        g = bt.record(first['seed'], '--play', '1000')[0]
        eve_game = b.sent(t, g)['id']

        def start(name, secret):
            return lambda t: b.post(f'/api/tickets/{t}/start', {'name': name}, secret)

        def left_try():
            t, body = daily(b, 'Frank', frank)
            bt.check(body['ranked'] and b.post(f'/api/tickets/{t}/abandon')[0] == 200, body)

        def copied(t):
            status, _, body = b.submit(t, g)
            return status, None, b.verdict(body['id']) if status == 202 else body
        ticket = lambda: b.post('/api/tickets', {'daily': True})[2]['ticket']  # noqa: E731
        started = {'issued': -1, 'started': 1}
        rows = [
            ('a daily ticket asked as "yes"', None, lambda _: b.post('/api/tickets', {'daily': 'yes'}), 400,
             'true or false', {}),
            ('daily: null', None, lambda _: b.post('/api/tickets', {'daily': None}), 400, 'true or false', {}),
            ('daily given twice', None, lambda _: b.call('POST', '/api/tickets', '{"daily": true, "daily": false}',
                                                         bt.JSON), 400, 'given twice', {}),
            ('Mallory\'s try started without her secret', ticket, start('Mallory', None), 401, 'secret', {}),
            ('Mallory\'s try started with Eve\'s secret', ticket, start('Mallory', eve), 401, 'does not hold', {}),
            ('... so it is still hers: her first daily start is ranked', ticket, start('Mallory', mallory), 200,
             '"ranked":true', {**started, 'tries': 1}),
            ('a second ranked try for Eve the same day: practice', ticket, start('Eve', eve), 200,
             '"ranked":false', started),
            ('a try left at once, then started again: practice', lambda: left_try() or ticket(),
             start('Frank', frank), 200, '"ranked":false', started),
            ('Eve\'s game copied onto Frank\'s ticket of the day, its pace kept', lambda: daily(b, 'Frank', frank)[0],
             copied, 202, 'on the board already', {'refused': 1, 'started': -1, 'sent': 1}),
            ('the day\'s replay before the day\'s last game is over', None,
             lambda _: b.call('GET', f'/api/games/{eve_game}/replay'), 403,
             'shown from 2026-12-17T01:00:00Z, when the day', {}),
            ('the daily with a secret nobody was given', None,
             lambda _: b.call('GET', '/api/daily', headers={'Authorization': 'Bearer ' + '1' * 32}), 401, 'secret', {}),
            ('a POST to the daily', None, lambda _: b.post('/api/daily'), 405, 'GET', {}),
            *[(f'the daily board of {q}', None, lambda _, q=q: b.call('GET', f'/api/top?{q}'), want, words, {})
              for q, want, words in [('period=daily&date=2026-02-30', 400, 'YYYY-MM-DD'),
                                     ('period=daily&date=2026-12-1', 400, 'YYYY-MM-DD'),
                                     ('period=daily&date=2026-12-15%27', 400, 'YYYY-MM-DD'),
                                     ('period=week&date=2026-12-15', 400, 'period=daily only'),
                                     ('period=daily&date=9999-12-31', 200, '"players":0')]]]
        for what, prepare, send, want, words, stores in rows:
            made = prepare() if prepare else None
            before = counts(store)
            status, _, answer = send(made)
            text = json.dumps(answer) if isinstance(answer, dict) else answer.decode() if answer else ''
            after = counts(store)
            print(f'  daily  {what[:72]:74}{status} {text[:90]}', flush=True)
            bt.check(status == want and words in text.replace('": ', '":'), f'{what}: {status} {text}')
            changes = {k: after[k] - before[k] for k in KEYS if after[k] != before[k]}
            bt.check(changes == stores, f'{what}: changed {changes}, not {stores}')
        b.alive()
    finally:
        b.stop()


def one_seed_two_servers(store):
    """The first daily starts of a day, at two servers on one database at once."""
    servers = [server(store, '2026-12-20T08:00:00Z') for _ in range(2)]
    try:
        secrets = [s.claim(f'Twin{i}') for i, s in enumerate(servers)]
        tickets = [s.post('/api/tickets', {'daily': True})[2]['ticket'] for s in servers]
        barrier, seeds = threading.Barrier(2), [None, None]

        def go(i):
            barrier.wait()
            seeds[i] = servers[i].start(tickets[i], f'Twin{i}', secrets[i])
        threads = [threading.Thread(target=go, args=(i,)) for i in range(2)]
        for th in threads:
            th.start()
        for th in threads:
            th.join(60)
        bt.check(seeds[0] is not None and seeds[0] == seeds[1], f'two seeds for one day: {seeds}')
    finally:
        for s in servers:
            s.stop()


def suite(_, pg):
    # A board of its own: the boards of the day and the week hold its games alone.
    store = ['--database', pg.database('daily')] if pg else ['--data', os.path.join(bt.scratch, 'daily')]
    r = subprocess.run([bt.args.board, 'list', *store], env=at('2026-12-07 23:59'), capture_output=True, text=True,
                       timeout=60)
    bt.check(r.returncode == 1 and r.stderr.count('\n') == 1 and 'not an ISO 8601 instant' in r.stderr, r.stderr)
    server(store, '2026-12-07T12:00:00Z', worker=True).stop()
    attack_table(store)
    one_seed_two_servers(store)
    # Ten seconds before midnight.
    a = server(store, '2026-12-07T23:59:54Z')
    try:
        ann, bob, cy = (a.claim(n) for n in ('Ann', 'Bob', 'Cy'))
        (t1, ranked), (t2, other), (t3, practice) = daily(a, 'Ann', ann), daily(a, 'Bob', bob), daily(a, 'Ann', ann)
        seed = ranked['seed']
        bt.check([(s['daily'], s['seed'], s['ranked']) for s in (ranked, other, practice)] ==
                 [('2026-12-07', seed, True), ('2026-12-07', seed, True), ('2026-12-07', seed, False)],
                 f'{ranked} {other} {practice}')
        t4 = a.ticket()['ticket']
        status, _, normal = a.post(f'/api/tickets/{t4}/start', {'name': 'Cy'}, cy)
        bt.check(status == 200 and 'daily' not in normal and normal['seed'] != seed, normal)
        games = [bt.record(seed, '--play', str(n)) for n in (1000, 1500, 2000)] + [bt.record(normal['seed'], '--bot',
                                                                                                  'idle')]
        bt.check(min(g[2] for g in games[:3]) > games[3][2], 'the daily games must score above the normal one')
        # Sent after midnight, each counts for the day it started in.
        bt.wait_for(lambda: a.call('GET', '/api/daily')[2]['date'] == '2026-12-08', 30, 'midnight')
        v = [a.sent(t, g[0]) for t, g in zip((t1, t2, t3, t4), games)]
        bt.check(v[0]['time'].startswith('2026-12-08') and v[0]['daily'] == '2026-12-07' and v[0]['ranked'], v[0])
        for verdict, g, status in zip(v, games, ('on the board', 'on the board', 'practice', 'on the board')):
            bt.check(verdict['status'] == status and verdict['score'] == g[2], f'{verdict} {g[1:]}')
        ann_ranks = a.call('GET', f"/api/games/{v[0]['id']}")[2]['ranks']
        bt.check('ranks' not in v[2] and v[3]['ranks'] == {'day': 1, 'week': 1, 'all': 1} and
                 ann_ranks == {'daily': 1 + (games[1][2] > games[0][2])}, f'{ann_ranks} {v[2]} {v[3]}')
        status, _, top = a.call('GET', '/api/top?period=daily&date=2026-12-07')
        bt.check(top['players'] == 2 and sorted(g['id'] for g in top['games']) == sorted((v[0]['id'], v[1]['id'])),
                 top)
        for period in ('day', 'week', 'all'):
            bt.check([g['id'] for g in a.top(period)] == [v[3]['id']], f'{period}: {a.top(period)}')
        # The next day: another seed, another try; the try's game and the streak.
        t5, nxt = daily(a, 'Ann', ann)
        bt.check(nxt['daily'] == '2026-12-08' and nxt['ranked'] and nxt['seed'] != seed, nxt)
        mine = a.sent(t5, bt.record(nxt['seed'], '--play', '1000')[0])
        you = {n: a.call('GET', '/api/daily', headers={'Authorization': f'Bearer {s}'})[2]
               for n, s in (('Ann', ann), ('Bob', bob), ('Cy', cy))}
        bt.check(you['Ann'].pop('now') - 1796688000 in range(60) and you['Ann'] == {
            'date': '2026-12-08', 'ends': 1796774400, 'players': 1, 'you': {
            'name': 'Ann', 'tried': True, 'streak': 2, 'game': {'id': mine['id'], 'status': 'on the board',
                                                                 'score': mine['score'], 'rank': 1}}}, you['Ann'])
        bt.check([(you[n]['you']['tried'], you[n]['you']['streak']) for n in ('Bob', 'Cy')] == [(False, 1), (False, 0)]
                 and 'you' not in a.call('GET', '/api/daily')[2], you)
        # Replays: the day's held back from all (the ranked try and practice), others served.
        for game in v[:3]:
            status, _, body = a.call('GET', f"/api/games/{game['id']}/replay")
            bt.check(status == 403 and body['replays_from'] == 1796778000, f'{status} {body}')
        bt.check(a.call('GET', f"/api/games/{v[3]['id']}/replay")[2] == games[3][0], 'a normal game\'s replay')
    finally:
        a.stop()
    # Once the day's last game is over, on the same board: served to anyone.
    a = server(store, '2026-12-09T01:00:01Z')
    try:
        for game, g in zip(v[:3], games):
            bt.check(a.call('GET', f"/api/games/{game['id']}/replay")[2] == g[0], f"game {game['id']}'s replay")
        status, _, body = a.call('GET', '/api/daily', headers={'Authorization': f'Bearer {ann}'})
        bt.check(body['you']['streak'] == 2 and not body['you']['tried'], body)
    finally:
        a.stop()
    print('daily: one seed a day at two servers, one ranked try a name, its own board, replays held back', flush=True)
