"""The daily game against the real kiv-board, its clock set by
KIV_BOARD_TEST_NOW: one seed a day for every name and server, one ranked try
a name a day counted at its start, the day's board apart, its replays held
back until no game of the day can arrive; and a table of attacks on them."""
import concurrent.futures
import json
import os
import subprocess
import threading

import board_test as bt

KEYS = ('pending', 'board', 'refused', 'practice', 'issued', 'started', 'abandoned', 'sent', 'days', 'tries')


def clock(instant):
    return {**os.environ, 'KIV_BOARD_TEST_NOW': instant}


def server(store, instant, worker=False):
    """A server (or a lone worker) whose clock starts at `instant`, and says so."""
    log = os.path.join(bt.scratch, f'daily-{instant}-{worker}.log')
    b = bt.Board(store, *([] if worker else bt.LENIENT), env=clock(instant), log=log, worker=worker)
    bt.check(f'the clock starts at {instant} (KIV_BOARD_TEST_NOW, for tests only)' in open(log).read(), log)
    return b


def daily(b, name, secret):
    """A daily ticket started for `name`: (ticket, the start's answer)."""
    t = b.post('/api/tickets', {'daily': True})[2]
    status, _, body = b.post(f"/api/tickets/{t['ticket']}/start", {'name': name}, secret)
    bt.check(t['daily'] is True and status == 200 and body['name'] == name, f'{t} {status} {body}')
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
        copy = bt.record(first['seed'], '--play', '1000')[0]
        eve_game = b.sent(t, copy)['id']

        def start(name, secret):
            return lambda t: b.post(f'/api/tickets/{t}/start', {'name': name}, secret)

        def sent(t):
            status, _, body = b.submit(t, copy)
            return status, None, b.verdict(body['id'])
        ticket = lambda: b.post('/api/tickets', {'daily': True})[2]['ticket']  # noqa: E731
        left = lambda: b.post(f"/api/tickets/{daily(b, 'Frank', frank)[0]}/abandon") and ticket()  # noqa: E731
        get = lambda path, **kw: lambda _: b.call('GET', path, **kw)  # noqa: E731
        started = {'issued': -1, 'started': 1}
        for what, prepare, send, want, words, stores in [
            ('a daily ticket asked as "yes"', None, lambda _: b.post('/api/tickets', {'daily': 'yes'}), 400,
             'true or false', {}),
            ('Mallory\'s try started without her secret', ticket, start('Mallory', None), 401, 'secret', {}),
            ('Mallory\'s try started with Eve\'s secret', ticket, start('Mallory', eve), 401, 'does not hold', {}),
            ('... so her try is still hers: ranked', ticket, start('Mallory', mallory), 200, '"ranked": true',
             {**started, 'tries': 1}),
            ('a second ranked try for Eve the same day: practice', ticket, start('Eve', eve), 200, '"ranked": false',
             started),
            ('a try left at once, then started again: practice', left, start('Frank', frank), 200, '"ranked": false',
             started),
            ('Eve\'s game sent on Frank\'s ticket of the day', lambda: daily(b, 'Frank', frank)[0], sent, 202,
             'on the board already', {'refused': 1, 'started': -1, 'sent': 1}),
            ('the day\'s replay before its last game is over', None, get(f'/api/games/{eve_game}/replay'), 403,
             'shown from 2026-12-17T01:00:00Z, when the day', {}),
            ('the daily with a secret nobody was given', None,
             get('/api/daily', headers={'Authorization': 'Bearer ' + '1' * 32}), 401, 'secret', {}),
            ('the daily board of 2026-02-30', None, get('/api/top?period=daily&date=2026-02-30'), 400, 'YYYY', {})]:
            made = prepare() if prepare else None
            before = counts(store)
            status, _, answer = send(made)
            text, after = json.dumps(answer), counts(store)
            print(f'  daily  {what[:60]:62}{status} {text[:100]}', flush=True)
            changes = {k: after[k] - before[k] for k in KEYS if after[k] != before[k]}
            bt.check(status == want and words in text and changes == stores, f'{what}: {status} {text} {changes}')
        b.alive()
    finally:
        b.stop()


def suite(_, pg):
    # A board of its own: the boards of the day and the week hold its games alone.
    store = ['--database', pg.database('daily')] if pg else ['--data', os.path.join(bt.scratch, 'daily')]
    r = subprocess.run([bt.args.board, 'list', *store], env=clock('2026-12-07T23:59:60Z'), capture_output=True, text=True)
    bt.check(r.returncode == 1 and r.stderr.count('\n') == 1 and 'not an instant in UTC' in r.stderr, r.stderr)
    server(store, '2026-12-07T12:00:00Z', worker=True).stop()
    attack_table(store)
    # Ten seconds before midnight, two servers on one board; Ann and Bob's first starts at once, one at each.
    a, b = servers = [server(store, '2026-12-07T23:59:50Z') for _ in range(2)]
    try:
        ann, bob, cy = (a.claim(n) for n in ('Ann', 'Bob', 'Cy'))
        barrier = threading.Barrier(2)
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            race = [pool.submit(lambda *r: (barrier.wait(), daily(*r))[1], *r) for r in ((a, 'Ann', ann),
                                                                                          (b, 'Bob', bob))]
        (t1, ranked), (t2, other), (t3, practice) = race[0].result(), race[1].result(), daily(b, 'Ann', ann)
        b.stop()  # the verdicts are a's own, so its board in memory is never a second behind
        seed = ranked['seed']
        bt.check([(s['daily'], s['seed'], s['ranked']) for s in (ranked, other, practice)] ==
                 [('2026-12-07', seed, True), ('2026-12-07', seed, True), ('2026-12-07', seed, False)], seed)
        t4 = a.ticket()['ticket']
        status, _, normal = a.post(f'/api/tickets/{t4}/start', {'name': 'Cy'}, cy)
        bt.check(status == 200 and 'daily' not in normal and normal['seed'] != seed, normal)
        # Three games of the day, each its own (they start the pointer apart:
        # on some seeds the bot loses before it stops playing).
        games = [bt.record(seed, '--play', str(n), '--pointer', str(x)) for n, x in ((3000, 520), (3500, 500),
                                                                                   (4000, 480))]
        games.append(bt.record(normal['seed'], '--bot', 'idle'))
        # Sent after midnight, each counts for the day it started in.
        bt.wait_for(lambda: a.call('GET', '/api/daily')[2]['date'] == '2026-12-08', 30, 'midnight')
        v = [a.sent(t, g[0]) for t, g in zip((t1, t2, t3, t4), games)]
        v[0] = a.call('GET', f"/api/games/{v[0]['id']}")[2]  # ranked once Bob's game is on too
        bt.check([(x['status'], x['score'], x.get('daily'), x.get('ranks')) for x in v] == [
            ('on the board', games[0][2], '2026-12-07', {'daily': 1 + (games[1][2] > games[0][2])}),
            ('on the board', games[1][2], '2026-12-07', {'daily': 1 + (games[0][2] >= games[1][2])}),
            ('practice', games[2][2], '2026-12-07', None),
            ('on the board', games[3][2], None, {'day': 1, 'week': 1, 'all': 1})] and
            v[0]['time'].startswith('2026-12-08'), v)
        top = a.call('GET', '/api/top?period=daily&date=2026-12-07')[2]
        bt.check(top['players'] == 2 and sorted((g['score'], g['id']) for g in top['games']) ==
                 sorted((x['score'], x['id']) for x in v[:2]), top)
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
                'name': 'Ann', 'tried': True, 'streak': 2,
                'game': {'id': mine['id'], 'status': 'on the board', 'score': mine['score'], 'rank': 1}}} and
            [(you[n]['you']['tried'], you[n]['you']['streak']) for n in ('Bob', 'Cy')] == [(False, 1), (False, 0)]
            and 'you' not in a.call('GET', '/api/daily')[2], you)
        # Replays: the day's held back from all (ranked and practice) until 2026-12-09T01:00:00Z, others served.
        bt.check([a.call('GET', f"/api/games/{x['id']}/replay")[:3:2] for x in v] ==
                 [(403, {'error': 'This daily game\'s replay is shown from 2026-12-09T01:00:00Z, when the day\'s '
                                  'last game is over.', 'replays_from': 1796778000})] * 3 + [(200, games[3][0])], v)
    finally:
        for s in servers:
            s.stop()
    # Once the day's last game is over, on the same board: served to anyone.
    a = server(store, '2026-12-09T01:00:01Z')
    try:
        bt.check([a.call('GET', f"/api/games/{x['id']}/replay")[2] for x in v[:3]] == [g[0] for g in games[:3]],
                 'the day\'s replays')
        streaks = [a.call('GET', '/api/daily', headers={'Authorization': f'Bearer {s}'})[2]['you']['streak']
                   for s in (ann, bob)]
        bt.check(streaks == [2, 0], f'streaks ending yesterday and two days ago: {streaks}')
    finally:
        a.stop()
    print('daily: one seed a day at two servers, one ranked try a name, its own board, replays held back', flush=True)
