// The page client in node, no browser, against small stand-ins: nothing it does may
// hang (a port that accepts and never answers, a kill request never answered, a request
// held for the browser's permission prompt), every wait can be given an AbortSignal, a
// listener's failure goes where the event being dispatched says, the status it hands
// out is a copy, and a for-await loop outlives stop() and start(). Where a browser
// stopped the requests is told from what a page can learn (faked here: the engines are
// the browser tests' part).
import assert from 'node:assert/strict';
import http from 'node:http';
import net from 'node:net';
import { after, afterEach, before, describe, it } from 'node:test';
import { APP_ID, eventText, sleep, waitUntil } from './harness.mjs';
import { HelperClient, HelperError, findHelper } from '../../page/client/webhelper-client.js';

/** Listens on a free loopback port; resolves the port. */
async function listen(server) {
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', resolve);
  });
  return server.address().port;
}

/** A program that accepts connections and never answers (a stuck program, a paused debugger). */
async function startSilentPort() {
  const sockets = new Set();
  const server = net.createServer((s) => {
    sockets.add(s);
    s.on('error', () => {});
    s.on('close', () => sockets.delete(s));
  });
  const port = await listen(server);
  return {
    port,
    close() {
      for (const s of sockets) s.destroy();
      return new Promise((r) => server.close(r));
    },
  };
}

/**
 * A stand-in helper that closes each connection as the real one does (HTTP/1.0): the
 * handshake, polls answered with a queued event or "null" after 300 ms, /killgame 200.
 * `hold(req)` true: the request is held, never answered (its connection stays open).
 */
async function startStandIn() {
  const queue = [];
  const held = new Set();
  let waiting = null;
  const stand = { hold: () => false, requests: [], held };
  const server = http.createServer((req, res) => {
    stand.requests.push(`${req.method} ${req.url}`);
    if (stand.hold(req)) {
      held.add(res);
      res.on('close', () => held.delete(res));
      return;
    }
    res.setHeader('Connection', 'close');
    res.setHeader('Access-Control-Allow-Origin', req.headers.origin || '*');
    if (req.url === '/handshake') return res.end(`{"app_id": "${APP_ID}","helper_version": "1.6.1"}`);
    if (req.url === '/killgame') return res.end('');
    const answer = () => {
      clearTimeout(timer);
      if (waiting === answer) waiting = null;
      if (!res.writableEnded) res.end(queue.length ? queue.shift() : 'null');
    };
    const timer = setTimeout(answer, 300);
    if (queue.length) answer();
    else waiting = answer;
  });
  const port = await listen(server);
  return Object.assign(stand, {
    port,
    push(...texts) {
      queue.push(...texts);
      waiting?.();
    },
    close() {
      for (const res of held) res.destroy();
      server.closeAllConnections();
      return new Promise((r) => server.close(r));
    },
  });
}

/** A page's view of the browser, faked: navigator, location, isSecureContext. Put back by restore(). */
const saved = {};
function fakeBrowser(globals) {
  for (const [name, value] of Object.entries(globals)) {
    if (!(name in saved)) saved[name] = Object.getOwnPropertyDescriptor(globalThis, name) ?? null;
    Object.defineProperty(globalThis, name, { value, configurable: true, writable: true });
  }
}
function restoreBrowser() {
  for (const [name, descriptor] of Object.entries(saved)) {
    if (descriptor) Object.defineProperty(globalThis, name, descriptor);
    else delete globalThis[name];
    delete saved[name];
  }
}

/** The local-network permission as a browser shows it; set() fires "change". */
class FakePermission extends EventTarget {
  constructor(state) {
    super();
    this.state = state;
  }

  set(state) {
    this.state = state;
    this.dispatchEvent(new Event('change'));
  }
}
const withPermission = (permission) => ({
  permissions: { query: async ({ name }) => { if (name !== 'loopback-network') throw new TypeError(name); return permission; } },
});

/** The promise's outcome, or "still pending" after ms. */
function settled(promise, ms) {
  return Promise.race([
    promise.then((v) => ({ value: v }), (e) => ({ error: e })),
    sleep(ms).then(() => 'still pending'),
  ]);
}

const describeError = (e) => (e instanceof HelperError ? `HelperError ${e.code}` : `${e?.name} ${e?.message}`);

describe('the page client never hangs', () => {
  let silent, helper, stuck;
  const clients = [];
  const client = (options) => {
    const c = new HelperClient({ appId: APP_ID, maxRetryDelayMs: 1000, ...options });
    clients.push(c);
    return c;
  };

  before(async () => {
    silent = await startSilentPort();
    helper = await startStandIn();
    // A helper that takes the kill request and never answers it.
    stuck = await startStandIn();
    stuck.hold = (req) => req.url === '/killgame';
  });
  afterEach(async () => {
    await Promise.all(clients.splice(0).map((c) => c.stop()));
    helper.hold = () => false;
    restoreBrowser();
  });
  after(async () => {
    await helper?.close();
    await stuck?.close();
    await silent?.close();
  });

  it('passes over a port that accepts and never answers, and every kill settles', async () => {
    const cases = [
      { name: 'search with the silent port first', ports: () => [silent.port, helper.port], call: (c) => c.whenSubscribed().then((s) => s.state), want: 'subscribed' },
      { name: 'kill before the search found the helper', ports: () => [silent.port, helper.port], call: (c) => c.killGame(), want: 'ended' },
      { name: 'kill with the silent port alone', ports: () => [silent.port], call: (c) => c.killGame().catch(describeError), want: 'HelperError not-running' },
      { name: 'kill request the helper never answers', ports: () => [stuck.port], want: 'unknown', call: (c) => c.whenSubscribed().then(() => c.killGame()) },
      { name: 'findHelper on the silent port', call: () => findHelper({ appId: APP_ID, ports: [silent.port] }).catch((e) => `${describeError(e)}: ${e.status.reason}`), want: `HelperError not-running: port ${silent.port} did not answer within 3000 ms` },
    ];
    const seen = await Promise.all(cases.map(async (c) => {
      const cl = c.ports && client({ ports: c.ports() });
      cl?.start();
      // Each request waits 3 s at most: far less than this.
      const got = await settled(c.call(cl), 15000);
      return [c.name, got === 'still pending' ? got : got.value];
    }));
    assert.deepEqual(Object.fromEntries(seen), Object.fromEntries(cases.map((c) => [c.name, c.want])));
  });

  it('says what a search met: silent ports and closed ones, or requests held while the permission prompt waits', async () => {
    const closed = await startSilentPort();
    await closed.close();
    const both = () => [silent.port, closed.port];
    const notRunning = { state: 'not-running', reason: `port ${silent.port} did not answer within 500 ms; nothing answers on port ${closed.port}` };
    const prompt = () => ({ navigator: withPermission(new FakePermission('prompt')) });
    const cases = [
      { name: 'no permission to ask', browser: {}, ports: both, want: notRunning },
      { name: 'permission granted', browser: { navigator: withPermission(new FakePermission('granted')) }, ports: both, want: notRunning },
      { name: 'prompt, every port held', browser: prompt(), ports: () => [silent.port], want: { state: 'permission-pending' } },
      // A browser that holds requests for its prompt holds them all.
      { name: 'prompt, one port failed at once', browser: prompt(), ports: both, want: notRunning },
      // Nor does it hold any of a page on loopback.
      { name: 'prompt, page on 127.0.0.1', browser: { ...prompt(), location: { protocol: 'http:', hostname: '127.0.0.1' } }, ports: () => [silent.port], want: { state: 'not-running', reason: `port ${silent.port} did not answer within 500 ms` } },
    ];
    for (const c of cases) {
      fakeBrowser(c.browser);
      const cl = client({ ports: c.ports(), requestTimeoutMs: 500 });
      cl.start();
      assert.ok(await waitUntil(() => cl.status.state !== 'searching', 5000), c.name);
      assert.deepEqual(cl.status, c.want, c.name);
      await cl.stop();
      restoreBrowser();
    }
  });

  it('cuts a request the browser holds for its prompt and tries again when the permission changes or the page asks', async () => {
    const cases = [
      { name: 'permission granted', wake: (c, permission) => permission.set('granted') },
      { name: 'searchNow()', wake: (c) => c.searchNow() },
    ];
    for (const c of cases) {
      const permission = new FakePermission('prompt');
      fakeBrowser({ navigator: withPermission(permission) });
      // The browser holds every request until the user answers; no time limit would free it.
      helper.hold = () => true;
      const cl = client({ ports: [helper.port], requestTimeoutMs: 600000 });
      const statuses = [];
      cl.addEventListener('status', (e) => statuses.push(e.detail.state));
      cl.start();
      assert.ok(await waitUntil(() => cl.status.state === 'permission-pending', 5000), `${c.name}: ${statuses}`);
      assert.equal(helper.held.size, 1, c.name);
      helper.hold = () => false;
      c.wake(cl, permission);
      const got = await settled(cl.whenSubscribed(), 5000);
      assert.equal(got.value?.state, 'subscribed', `${c.name}: ${statuses}`);
      assert.ok(await waitUntil(() => helper.held.size === 0, 2000), `${c.name}: the held request was not cut`);
      assert.deepEqual(statuses, ['searching', 'permission-pending', 'connected', 'subscribed'], c.name);
      await cl.stop();
      restoreBrowser();
    }
  });

  it('lets the page give every wait a signal: the call rejects with its reason, the client goes on', async () => {
    const waits = {
      whenConnected: (c, signal) => c.whenConnected({ signal }),
      whenSubscribed: (c, signal) => c.whenSubscribed({ signal }),
      killGame: (c, signal) => c.killGame({ signal }),
      'events().next()': (c, signal) => c.events({ signal }).next(),
      findHelper: (c, signal) => findHelper({ appId: APP_ID, ports: [silent.port], signal }),
    };
    const cl = client({ ports: [silent.port] });
    cl.start();
    for (const when of ['while waiting', 'already aborted']) {
      for (const [name, wait] of Object.entries(waits)) {
        const controller = new AbortController();
        const reason = new Error(`page left (${name})`);
        if (when === 'already aborted') controller.abort(reason);
        const pending = wait(cl, controller.signal);
        if (when === 'while waiting') {
          await sleep(100);
          controller.abort(reason);
        }
        const got = await settled(pending, 1000);
        assert.equal(got.error, reason, `${name} ${when}: ${JSON.stringify(got)}`);
      }
    }
    assert.equal(cl.status.state, 'searching');
    // The client still works for a wait without a signal.
    assert.equal(await cl.killGame().catch(describeError), 'HelperError not-running');
  });

  it('hands the page copies of its status', async () => {
    const cl = client({ ports: [helper.port] });
    cl.addEventListener('status', (e) => { e.detail.state = 'stopped'; e.detail.port = 1; });
    cl.start();
    const subscribed = await cl.whenSubscribed();
    subscribed.port = 2;
    const status = cl.status;
    status.state = 'stopped';
    assert.deepEqual(cl.status, { state: 'subscribed', port: helper.port, appId: APP_ID, helperVersion: '1.6.1' });
    assert.notEqual(cl.status, cl.status);
    // Nothing the page did to its copies stopped or moved the client.
    helper.push(eventText('Round', '1'));
    const [event] = await cl.events().next().then((r) => [r.value]);
    assert.equal(event.params[0], '1');
  });
});

describe('listeners of the page client', () => {
  afterEach(() => restoreBrowser());

  it('reports a failing listener once per event it failed, even when one function listens to "status" and "error"', async () => {
    const quiet = { warn: console.warn, error: console.error };
    const consoleErrors = [];
    console.warn = () => {};
    console.error = (...args) => consoleErrors.push(args.join(' '));
    try {
      for (const types of [['status', 'error'], ['error', 'status']]) {
        const client = new HelperClient({ appId: APP_ID, ports: [1] });
        const counts = { status: 0, error: 0, calls: 0 };
        const log = (e) => {
          counts.calls += 1;
          throw new Error(`cannot show ${e.type}`);
        };
        for (const type of types) client.addEventListener(type, log);
        client.addEventListener('status', () => { counts.status += 1; });
        client.addEventListener('error', () => { counts.error += 1; });
        consoleErrors.length = 0;
        await client.start();
        await client.stop();
        // searching, stopped: each failure of the status listener is one error event, and
        // what the same function throws for an error event only reaches the console.
        assert.deepEqual(counts, { status: 2, error: 2, calls: 4 }, types.join('+'));
        assert.equal(consoleErrors.filter((m) => /error handler failed/.test(m)).length, 2, types.join('+'));
      }
    } finally {
      Object.assign(console, quiet);
    }
  });
});

describe('for-await loops of the page client', () => {
  let helper;
  before(async () => { helper = await startStandIn(); });
  after(async () => { await helper?.close(); });

  it('outlive stop() and start(), settle concurrent next() calls in order, and end when the client stops for good', async () => {
    const owner = new AbortController();
    const client = new HelperClient({ appId: APP_ID, ports: [helper.port], signal: owner.signal });
    client.start();
    await client.whenSubscribed();
    const loop = client.events();
    const first = loop.next();
    const second = loop.next();
    helper.push(eventText('Round', '1'), eventText('Round', '2'));
    assert.deepEqual([(await first).value.params[0], (await second).value.params[0]], ['1', '2']);

    // Hidden tab: stopped; visible again: started. The same loop goes on.
    await client.stop();
    const third = loop.next();
    await client.start();
    await client.whenSubscribed();
    helper.push(eventText('Round', '3'));
    assert.equal((await settled(third, 5000)).value?.value?.params[0], '3');

    // Stopped for good by its own signal: the loop ends, a waiting next() too.
    const last = loop.next();
    owner.abort();
    assert.deepEqual((await settled(last, 5000)).value, { value: undefined, done: true });
    assert.deepEqual(await loop.next(), { value: undefined, done: true });
  });

  it('end a loop that the page leaves, settling its waiting next() calls', async () => {
    const client = new HelperClient({ appId: APP_ID, ports: [helper.port] });
    client.start();
    const loop = client.events();
    const waiting = [loop.next(), loop.next()];
    await loop.return();
    assert.deepEqual(await Promise.all(waiting), [{ value: undefined, done: true }, { value: undefined, done: true }]);
    await client.stop();
  });
});

describe('what blocks the page, from what the browser lets it learn', () => {
  let closedPort;
  before(async () => {
    const s = await startSilentPort();
    closedPort = s.port;
    await s.close();
  });
  afterEach(() => restoreBrowser());

  it('tells a browser that stopped the requests from a helper that is not running', async () => {
    const https = { protocol: 'https:', hostname: 'www.tovelgames.example' };
    const http = { protocol: 'http:', hostname: 'www.tovelgames.example' };
    const cases = [
      { name: 'https page, the browser refuses to queue a beacon', location: https, beacon: false, want: { state: 'blocked', blockedBy: 'mixed-content' }, beacons: 1 },
      { name: 'https page, the beacon is queued', location: https, beacon: true, want: { state: 'not-running', reason: `nothing answers on port ${closedPort}` }, beacons: 1 },
      { name: 'http page: no beacon is sent', location: http, beacon: false, want: { state: 'not-running', reason: `nothing answers on port ${closedPort}` }, beacons: 0 },
      { name: 'not a secure context, permission denied', location: http, secure: false, permission: 'denied', want: { state: 'blocked', blockedBy: 'insecure-context' }, beacons: 0 },
      { name: 'a secure context, permission denied', location: http, secure: true, permission: 'denied', want: { state: 'permission-denied' }, beacons: 0 },
    ];
    for (const [i, c] of cases.entries()) {
      const beacons = [];
      const navigator = { sendBeacon: (url) => { beacons.push(url); return c.beacon; }, ...(c.permission ? withPermission(new FakePermission(c.permission)) : {}) };
      fakeBrowser({ location: c.location, navigator, isSecureContext: c.secure ?? true });
      // A host of its own per case: the beacon is asked once per page and address.
      const host = `127.0.0.${i + 2}`;
      const outcome = await findHelper({ appId: APP_ID, ports: [closedPort], host }).then((s) => s, (e) => e.status);
      const again = await findHelper({ appId: APP_ID, ports: [closedPort], host }).then((s) => s, (e) => e.status);
      assert.deepEqual(outcome, c.want, c.name);
      assert.deepEqual(again, c.want, c.name);
      assert.equal(beacons.length, c.beacons, c.name);
      restoreBrowser();
    }
  });
});
