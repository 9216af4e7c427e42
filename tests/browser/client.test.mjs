// The page client against a stand-in helper that does on demand what the real one does
// only now and then: callbacks of the page that throw, stop and start again, every way
// a poll can fail (counted in requests), a browser without AbortSignal.any, a lost
// kill request, a word with a tab, the helper's "events lost" marker, and what a
// stopped client answers. The options it refuses are checked in node, where the
// module loads as well.
import assert from 'node:assert/strict';
import net from 'node:net';
import { after, before, describe, it } from 'node:test';
import { APP_ID, event, eventText, launchBrowser, sleep, startFakeHelper, startPageServer, waitUntil } from './harness.mjs';
import { HelperClient, HelperError, describeState } from '../../page/client/webhelper-client.js';

const READY = eventText('StateChanged', 'READY');

describe('the page client', () => {
  let site, browser, fake;

  before(async () => {
    site = await startPageServer();
    browser = await launchBrowser();
    fake = await startFakeHelper();
  });

  after(async () => {
    await browser?.close();
    await fake?.close();
    await site?.close();
  });

  async function open(initScript) {
    const page = await browser.newPage();
    if (initScript) await page.addInitScript(initScript);
    await page.goto(`${site.origin}/pages/client.html`);
    await page.waitForFunction(() => window.ready);
    return page;
  }

  // A client of the stand-in in the page, recording what it reports in window.rec[name].
  const CLIENT = ([name, port, options]) => {
    const rec = { events: [], statuses: [], errors: [], lost: [] };
    (window.rec ??= {})[name] = rec;
    const client = new window.webhelper.HelperClient({
      appId: 'MARBLE-GAME', ports: [port], maxRetryDelayMs: 1000, queue: name, ...options,
    });
    client.addEventListener('event', (e) => rec.events.push(e.detail));
    client.addEventListener('status', (e) => rec.statuses.push(e.detail.state));
    client.addEventListener('error', (e) => rec.errors.push(`${e.detail.name} ${e.detail.code}`));
    client.addEventListener('lost', (e) => rec.lost.push(e.detail));
    (window.clients ??= {})[name] = client;
    return client;
  };

  it('survives callbacks and listeners that throw or reject: each failure reaches onError, the client goes on', async () => {
    const page = await open();
    const cases = [
      { name: 'onStatus-throws', options: `({ onStatus() { throw new Error('boom'); } })` },
      { name: 'onEvent-throws', options: `({ onEvent() { throw new Error('boom'); } })` },
      { name: 'onEvent-rejects', options: `({ async onEvent() { throw new Error('boom'); } })` },
      { name: 'listener-throws', options: `({})`, listener: true },
    ];
    for (const c of cases) {
      await page.evaluate(([CLIENT, name, port, options, listener]) => {
        const client = eval(CLIENT)([name, port, eval(options)]);
        if (listener) client.addEventListener('event', { handleEvent() { throw new Error('boom'); } });
        client.start();
        return client.whenSubscribed();
      }, [String(CLIENT), c.name, fake.port, c.options, !!c.listener]);
      fake.push(c.name, READY, eventText('Round', '1'));
    }
    for (const c of cases) {
      await page.waitForFunction((n) => window.rec[n].events.length === 2, c.name, { timeout: 10000 });
      const rec = await page.evaluate((n) => window.rec[n], c.name);
      assert.deepEqual(rec.events.map((e) => e.eventName), ['StateChanged', 'Round'], c.name);
      assert.ok(rec.errors.length >= 1 && rec.errors.every((e) => e === 'HelperError callback'), `${c.name}: ${rec.errors}`);
      assert.deepEqual(rec.statuses.slice(-2), ['connected', 'subscribed'], c.name);
    }
    // What onError itself throws goes to the console, not into a loop.
    const state = await page.evaluate(async ([CLIENT, port]) => {
      const client = eval(CLIENT)(['onError-throws', port, { onError() { throw new Error('bad handler'); }, onStatus() { throw new Error('boom'); } }]);
      await client.start();
      return (await client.whenSubscribed()).state;
    }, [String(CLIENT), fake.port]);
    assert.equal(state, 'subscribed');
    assert.ok(browser.console.some((m) => m.type === 'error' && /error handler failed/.test(m.text)));
    await page.evaluate(() => Promise.all(Object.values(window.clients).map((c) => c.stop())));
    await page.context().close();
  });

  it('starts again after stop(), delivers what waited meanwhile, and sends nothing while stopped', async () => {
    const page = await open();
    await page.evaluate(([CLIENT, port]) => {
      const client = eval(CLIENT)(['restart', port, {}]);
      // Started, awaited: resolves at once rather than when the client stops.
      return client.start().then(() => client.whenSubscribed());
    }, [String(CLIENT), fake.port]);
    await page.evaluate(() => window.clients.restart.stop());
    const stoppedAt = Date.now();
    // Once the helper has seen the poll go: an event it took for a poll already cut off is
    // lost in any case.
    assert.ok(await waitUntil(() => !fake.polling('restart'), 5000));
    fake.push('restart', eventText('Round', '1'));
    await sleep(1500);
    assert.deepEqual(fake.since(stoppedAt), [], 'requests while stopped');

    // "Stop when hidden, start when visible", quickly, twice.
    await page.evaluate(async () => {
      const c = window.clients.restart;
      c.start();
      c.stop();
      c.start();
      await c.whenSubscribed();
    });
    await page.waitForFunction(() => window.rec.restart.events.length === 1, null, { timeout: 10000 });
    fake.push('restart', eventText('Round', '2'));
    await page.waitForFunction(() => window.rec.restart.events.length === 2, null, { timeout: 10000 });
    const rec = await page.evaluate(() => window.rec.restart);
    assert.deepEqual(rec.events.map((e) => e.params[0]), ['1', '2']);
    assert.deepEqual(rec.statuses.filter((s) => s === 'stopped' || s === 'subscribed'), ['subscribed', 'stopped', 'subscribed']);
    assert.deepEqual(rec.errors, []);

    // A page that stops the client as it learns it is subscribed still gets the event
    // that the same poll brought: the helper has already let go of it.
    fake.push('stop-at-once', eventText('Round', '3'));
    const seen = await page.evaluate(async ([CLIENT, port]) => {
      const client = eval(CLIENT)(['stop-at-once', port, {
        onStatus(s) { if (s.state === 'subscribed') client.stop(); },
      }]);
      client.start();
      await new Promise((r) => client.addEventListener('status', (e) => e.detail.state === 'stopped' && r(undefined)));
      return window.rec['stop-at-once'].events.map((e) => e.params[0]);
    }, [String(CLIENT), fake.port]);
    assert.deepEqual(seen, ['3']);
    await page.evaluate(() => window.clients.restart.stop());
    await page.context().close();
  });

  it('backs off on every way a poll can fail', async () => {
    // Three seconds each; a client without back-off sent hundreds of requests in that time.
    const cases = [
      { name: 'poll answered 404', behave: (req) => (req.url.endsWith('/p404') ? { status: 404, body: '' } : undefined), queue: 'p404', max: 10 },
      { name: 'poll cut off', behave: (req) => (req.url.endsWith('/pdrop') ? 'drop' : undefined), queue: 'pdrop', max: 10 },
      { name: 'reply that is not an event', behave: (req) => (req.url.endsWith('/pjson') ? { status: 200, body: '{"app_id": "x"}' } : undefined), queue: 'pjson', max: 7, errors: 'HelperError bad-reply' },
      { name: '"null" at once', behave: (req) => (req.url.endsWith('/pnull') ? { status: 200, body: 'null' } : undefined), queue: 'pnull', max: 10 },
      { name: 'without AbortSignal.any and .timeout', queue: 'pold', old: true, max: 6 },
    ];
    for (const c of cases) {
      fake.behave = c.behave || (() => undefined);
      const page = await open(c.old ? () => { delete AbortSignal.any; delete AbortSignal.timeout; } : undefined);
      // What the page sent (Chromium may send a cut request again on its own).
      let sent = 0;
      page.on('request', (r) => { if (new URL(r.url()).port === String(fake.port)) sent += 1; });
      await page.evaluate(([CLIENT, port, queue]) => eval(CLIENT)([queue, port, {}]).start(), [String(CLIENT), fake.port, c.queue]);
      await sleep(3000);
      await page.evaluate((q) => window.clients[q].stop(), c.queue);
      const rec = await page.evaluate((q) => window.rec[q], c.queue);
      assert.ok(sent <= c.max, `${c.name}: ${sent} requests in 3 s`);
      assert.ok(rec.statuses.length <= 8, `${c.name}: ${rec.statuses.join(' ')}`);
      if (c.errors) assert.ok(rec.errors.length >= 1 && rec.errors.length <= 4 && rec.errors.every((e) => e === c.errors), `${c.name}: ${rec.errors}`);
      if (c.old) assert.ok(rec.statuses.includes('subscribed'), rec.statuses.join(' '));
      await page.context().close();
    }
    fake.behave = () => undefined;
  });

  it('keeps looking, slowly and without rejecting, when nothing answers, even without AbortSignal.any', async () => {
    const page = await open(() => { delete AbortSignal.any; delete AbortSignal.timeout; });
    const requests = [];
    page.on('request', (r) => requests.push(r.url()));
    // A port nobody listens on: the stand-in's, once closed.
    const gone = await startFakeHelper();
    const port = gone.port;
    await gone.close();
    const started = await page.evaluate(([CLIENT, port]) => eval(CLIENT)(['down', port, { maxRetryDelayMs: 60000 }]).start().then(() => 'resolved', (e) => String(e)), [String(CLIENT), port]);
    assert.equal(started, 'resolved');
    await sleep(3000);
    const rec = await page.evaluate(() => window.rec.down);
    assert.deepEqual(rec.statuses.slice(0, 2), ['searching', 'not-running']);
    assert.ok(requests.length <= 8, `${requests.length} requests in 3 s`);

    // searchNow: a helper that comes up meanwhile is found without waiting out the delay.
    const up = await startFakeHelper({ port });
    try {
      const found = await page.evaluate(async () => {
        const c = window.clients.down;
        const t = Date.now();
        c.searchNow();
        await c.whenConnected();
        return Date.now() - t;
      });
      assert.ok(found < 1500, `found after ${found} ms`);
      await page.evaluate(() => window.clients.down.stop());
    } finally {
      await up.close();
    }
    await page.context().close();
  });

  it('passes over a port that accepts and never answers, and a kill there settles', async () => {
    const held = new Set();
    const silent = net.createServer((s) => { held.add(s); s.on('error', () => {}); });
    await new Promise((r) => silent.listen(0, '127.0.0.1', r));
    const page = await open();
    try {
      const seen = await page.evaluate(async ([CLIENT, silentPort, port]) => {
        const limit = () => ({ signal: AbortSignal.timeout(15000) });
        const found = eval(CLIENT)(['past-silent', silentPort, { ports: [silentPort, port] }]);
        found.start();
        const alone = eval(CLIENT)(['silent-alone', silentPort, { requestTimeoutMs: 1000 }]);
        alone.start();
        const subscribed = await found.whenSubscribed(limit()).then((s) => s.port === port, (e) => e.name);
        const kill = await alone.killGame(limit()).then((r) => r, (e) => `${e.name} ${e.code} ${e.status?.reason}`);
        for (let i = 0; i < 100 && alone.status.state === 'searching'; i += 1) await new Promise((r) => setTimeout(r, 100));
        return { subscribed, kill, status: alone.status };
      }, [String(CLIENT), silent.address().port, fake.port]);
      const port = silent.address().port;
      assert.deepEqual(seen, {
        subscribed: true,
        kill: `HelperError not-running port ${port} did not answer within 1000 ms`,
        status: { state: 'not-running', reason: `port ${port} did not answer within 1000 ms` },
      });
      await page.evaluate(() => Promise.all(Object.values(window.clients).map((c) => c.stop())));
    } finally {
      for (const s of held) s.destroy();
      silent.close();
    }
    await page.context().close();
  });

  it('tells the page of a new subscription after the helper was away', async () => {
    const page = await open();
    const port = fake.port;
    let second;
    try {
      await page.evaluate(([CLIENT, port]) => {
        const c = eval(CLIENT)(['again', port, {}]);
        c.addEventListener('status', (e) => { if (e.detail.state === 'searching' && e.detail.reason) window.againLost = e.detail.reason; });
        c.start();
        return c.whenSubscribed();
      }, [String(CLIENT), port]);
      await fake.close();
      await page.waitForFunction(() => window.clients.again.status.state === 'not-running', null, { timeout: 10000 });
      const waiting = page.evaluate(() => window.clients.again.whenSubscribed().then((s) => s.state));
      second = await startFakeHelper({ port });
      assert.equal(await waiting, 'subscribed');
      const rec = await page.evaluate(() => window.rec.again);
      assert.deepEqual(rec.statuses, ['searching', 'connected', 'subscribed', 'searching', 'not-running', 'connected', 'subscribed']);
      assert.match(await page.evaluate(() => window.againLost), /^a poll failed: /);
      await page.evaluate(() => window.clients.again.stop());
    } finally {
      fake = second || await startFakeHelper({ port });
    }
    await page.context().close();
  });

  it('hands over a word with a tab as raw text, and the "events lost" marker as a count', async () => {
    const page = await open();
    await page.evaluate(([CLIENT, port]) => {
      const c = eval(CLIENT)(['odd', port, { onLost(n) { window.onLostSaw = n; } }]);
      c.start();
      return c.whenSubscribed();
    }, [String(CLIENT), fake.port]);
    const tabbed = `${APP_ID}\tTabbed\tleft\tright\tend${'\t'.repeat(7)}`;
    const lost = eventText('EVENTSLOST', '17');
    fake.push('odd', tabbed, lost, eventText('Round', '4'));
    await page.waitForFunction(() => window.rec.odd.events.length === 3, null, { timeout: 10000 });
    const rec = await page.evaluate(() => window.rec.odd);
    assert.deepEqual(rec.events, [
      { gameId: APP_ID, eventName: 'Tabbed', params: Array(8).fill(''), state: null, raw: tabbed, ambiguous: true },
      { ...event('EVENTSLOST', '17'), state: null, lost: 17 },
      { ...event('Round', '4'), state: null },
    ]);
    assert.deepEqual(rec.lost, [17]);
    assert.equal(await page.evaluate(() => window.onLostSaw), 17);
    assert.deepEqual(rec.errors, []);
    await page.evaluate(() => window.clients.odd.stop());
    await page.context().close();
  });

  it('offers listeners that come and go, a for-await loop, and promises of the connection', async () => {
    const page = await open();
    const connectedFirst = page.evaluate(async ([CLIENT, port]) => {
      const c = eval(CLIENT)(['api', port, {}]);
      const order = [];
      c.whenSubscribed().then(() => order.push('subscribed'));
      c.whenConnected().then(() => order.push('connected'));
      c.start();
      await c.whenSubscribed();
      await null;
      return order;
    }, [String(CLIENT), fake.port]);
    assert.deepEqual(await connectedFirst, ['connected', 'subscribed']);
    const looped = page.evaluate(async () => {
      const c = window.clients.api;
      const names = [];
      const late = (e) => names.push(`listener ${e.detail.params[0]}`);
      c.addEventListener('event', late);
      for await (const e of c) {
        names.push(`loop ${e.params[0]}`);
        if (e.params[0] === '2') c.removeEventListener('event', late);
        if (e.params[0] === '3') break;
      }
      return names;
    });
    await sleep(300);
    fake.push('api', eventText('Round', '1'), eventText('Round', '2'), eventText('Round', '3'), eventText('Round', '4'));
    assert.deepEqual(await looped, ['listener 1', 'loop 1', 'listener 2', 'loop 2', 'loop 3']);
    // The loop outlives stop() and start() (a hidden tab), and ends with its signal.
    await page.waitForFunction(() => window.rec.api.events.length === 4, null, { timeout: 10000 });
    const ended = page.evaluate(async () => {
      const names = [];
      window.leave = new AbortController();
      try {
        for await (const e of window.clients.api.events({ signal: window.leave.signal })) names.push(e.params[0]);
      } catch (e) {
        names.push(e.name);
      }
      return names;
    });
    await page.evaluate(async () => {
      await window.clients.api.stop();
      window.clients.api.start();
      await window.clients.api.whenSubscribed();
    });
    fake.push('api', eventText('Round', '5'));
    await page.waitForFunction(() => window.rec.api.events.length === 5, null, { timeout: 10000 });
    await page.evaluate(() => window.leave.abort());
    // Round 4 came before this loop began.
    assert.deepEqual(await ended, ['5', 'AbortError']);
    await page.evaluate(() => window.clients.api.stop());
    await page.context().close();
  });

  it('never says "no-game" while the game runs', async () => {
    const page = await open();
    await page.evaluate(([CLIENT, port]) => {
      const c = eval(CLIENT)(['kill', port, {}]);
      c.start();
      return c.whenSubscribed();
    }, [String(CLIENT), fake.port]);
    // What each try of the kill met: 200 ended the game, 404 "no game known", drop a
    // connection cut before the answer.
    const cases = [
      { kills: [200], game: true, want: 'ended', tries: 1 },
      { kills: [404, 404], game: false, want: 'no-game', tries: 2 },
      { kills: ['drop', 200], game: true, want: 'ended' },
      // Chromium may send a cut request again by itself: every try is cut here.
      { kills: ['drop', 'drop', 'drop', 'drop'], game: true, want: 'unknown' },
      { kills: ['drop', 'drop', 'drop', 'drop'], game: false, want: 'unknown' },
    ];
    for (const c of cases) {
      const n = await page.evaluate(() => window.rec.kill.events.length);
      fake.push('kill', eventText('StateChanged', c.game ? 'READY' : 'GAMEISGONE'));
      await page.waitForFunction((n) => window.rec.kill.events.length > n, n, { timeout: 10000 });
      fake.kills = [...c.kills];
      const t0 = Date.now();
      const got = await page.evaluate(() => window.clients.kill.killGame().catch((e) => `${e.name} ${e.code}`));
      assert.equal(got, c.want, JSON.stringify(c));
      if (c.tries) assert.equal(fake.since(t0).filter((r) => r.path.endsWith('/killgame')).length, c.tries, JSON.stringify(c));
    }
    await page.evaluate(() => window.clients.kill.stop());
    await page.context().close();
  });

  it('fails every call of a stopped client with a HelperError "stopped", and an aborted signal sends nothing', async () => {
    const page = await open();
    const requests = [];
    page.on('request', (r) => requests.push(r.url()));
    const seen = await page.evaluate(async ([CLIENT, port]) => {
      const { HelperError } = window.webhelper;
      const aborted = eval(CLIENT)(['aborted', port, { signal: AbortSignal.abort() }]);
      const stopped = eval(CLIENT)(['stopped', port, {}]);
      await stopped.start();
      await stopped.stop();
      const out = {};
      for (const [name, client] of [['aborted', aborted], ['stopped', stopped]]) {
        if (name === 'aborted') await client.start();
        const calls = {
          killGame: () => client.killGame(),
          whenConnected: () => client.whenConnected(),
          whenSubscribed: () => client.whenSubscribed(),
          searchNow: () => client.searchNow(),
          events: () => client.events(),
        };
        out[name] = { state: client.status.state };
        for (const [call, f] of Object.entries(calls)) {
          try {
            await f();
            out[name][call] = 'no error';
          } catch (e) {
            out[name][call] = `${e instanceof HelperError} ${typeof e.code} ${e.code}`;
          }
        }
      }
      return out;
    }, [String(CLIENT), fake.port]);
    const failed = 'true string stopped';
    const all = { state: 'stopped', killGame: failed, whenConnected: failed, whenSubscribed: failed, searchNow: failed, events: failed };
    assert.deepEqual(seen, { aborted: all, stopped: all });
    assert.deepEqual(await page.evaluate(() => window.rec.aborted.statuses), []);
    // Only the client that ran may have sent anything, and only its own queue or the handshake.
    assert.ok(requests.every((u) => /\/(handshake|stopped)$/.test(u)), requests.join('\n'));
    await page.context().close();
  });
});

describe('the client without a browser: options it refuses, its sentences', () => {
  const cases = [
    { options: {}, error: TypeError, message: /appId is required/ },
    { options: { appId: '' }, error: TypeError, message: /appId is required/ },
    ...['', 'handshake', 'killgame', 'favicon.ico', '.', '..'].map((queue) => (
      { options: { appId: APP_ID, queue }, error: RangeError, message: /keeps for itself/ })),
    { options: { appId: APP_ID, queue: 7 }, error: TypeError, message: /queue must be a string/ },
    ...[0, -1, 999, NaN, Infinity, '8000', 2 ** 31].map((maxRetryDelayMs) => (
      { options: { appId: APP_ID, maxRetryDelayMs }, error: RangeError, message: /maxRetryDelayMs must be/ })),
    ...[0, 1000, NaN].map((pollTimeoutMs) => (
      { options: { appId: APP_ID, pollTimeoutMs }, error: RangeError, message: /pollTimeoutMs must be/ })),
    ...[[], [0], [70000], [4219.5], '4219'].map((ports) => (
      { options: { appId: APP_ID, ports }, error: TypeError, message: /ports must be/ })),
    { options: { appId: APP_ID, host: 'evil.example/x' }, error: TypeError, message: /host must be/ },
    { options: { appId: APP_ID, onEvent: 'showEvent' }, error: TypeError, message: /onEvent must be a function/ },
    { options: { appId: APP_ID, signal: {} }, error: TypeError, message: /signal must be an AbortSignal/ },
  ];
  for (const c of cases) {
    it(`refuses ${JSON.stringify(c.options, (k, v) => (typeof v === 'number' && !Number.isFinite(v) ? String(v) : v))}`, () => {
      assert.throws(() => new HelperClient(c.options), (e) => e instanceof c.error && c.message.test(e.message));
    });
  }

  it('has a sentence for every state and for each thing that blocks the page, not the bare word', () => {
    const states = ['searching', 'connected', 'subscribed', 'not-running', 'blocked', 'permission-pending', 'permission-denied',
      'origin-refused', 'wrong-app', 'stopped', { state: 'blocked', blockedBy: 'mixed-content' }, { state: 'blocked', blockedBy: 'insecure-context' }];
    for (const state of states) assert.match(describeState(state), / /, JSON.stringify(state));
    assert.equal(new Set(states.map(describeState)).size, states.length);
    assert.match(describeState({ state: 'blocked', blockedBy: 'mixed-content' }), /another browser/);
    assert.match(describeState({ state: 'blocked', blockedBy: 'insecure-context' }), /https/);
    assert.match(describeState({ state: 'permission-denied' }), /allow 'local network access'/);
    assert.equal(describeState({ state: 'not-running', reason: 'x' }), describeState('not-running'));
  });

  it('accepts names that only look like the reserved ones', () => {
    for (const queue of ['Handshake', 'killgame2', 'a/favicon.ico']) assert.equal(new HelperClient({ appId: APP_ID, queue }).queue, queue);
    assert.ok(new HelperError('stopped', 'x') instanceof Error);
  });
});
