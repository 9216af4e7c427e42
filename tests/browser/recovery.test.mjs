// A page left open while the helper comes and goes: with no helper the client says so
// and backs off instead of filling the console; a program of another game on the first
// port is reported as such and passed over; the helper on another port is found; "no
// game known" is told from "ended"; after the game crashes and the helper ends, a new
// helper is found again (on whichever port answers first), the page learns when it is
// subscribed to it, and its events arrive, each once and in order.
import assert from 'node:assert/strict';
import http from 'node:http';
import { after, before, describe, it } from 'node:test';
import {
  APP_ID, HelperWorld, PORTS, SLOW, assertPortsFree, event, launchBrowser, portAnswers, sleep, startPageServer, waitUntil,
  within,
} from './harness.mjs';

const READY = { ...event('StateChanged', 'READY'), state: 'READY' };
const GONE = { ...event('StateChanged', 'GAMEISGONE'), state: 'GAMEISGONE' };
const round = (n) => ({ ...event('Round', String(n)), state: null });

// A program of another game that answers the handshake on one of the helper's ports.
async function otherGameOn(port) {
  const server = http.createServer((req, res) => {
    res.writeHead(200, { 'Content-Type': 'text/plain', 'Access-Control-Allow-Origin': req.headers.origin || '*' });
    res.end(req.url === '/handshake' ? '{"app_id": "OTHER-GAME","helper_version": "2.0.0"}' : 'null');
  });
  await new Promise((resolve) => server.listen(port, '127.0.0.1', resolve));
  return () => new Promise((resolve) => { server.closeAllConnections(); server.close(resolve); });
}

describe('a page while the helper comes and goes', () => {
  const world = new HelperWorld();
  let site, browser, page, closeOther;

  const seen = () => page.evaluate(() => window.seen);
  const state = () => page.evaluate(() => window.client.status);
  const waitForState = async (want, ms, helper) => {
    const reached = await page.waitForFunction(
      ([s, p]) => window.client.status.state === s && (p === undefined || window.client.status.port === p),
      [want.state, want.port], { timeout: ms }).then(() => true, () => false);
    assert.ok(reached, `not ${JSON.stringify(want)}: ${JSON.stringify((await seen()).statuses)}\n${helper ? helper.stderr() : ''}`);
  };

  // Waits, as a page would, until the client says its queue exists in the helper; the
  // helper's log agrees.
  async function waitForSubscribed(helper) {
    const state = await page.evaluate((ms) => Promise.race([
      window.client.whenSubscribed().then((s) => s.state),
      new Promise((resolve) => setTimeout(() => resolve(`still ${window.client.status.state}`), ms)),
    ]), 40000 * SLOW);
    assert.equal(state, 'subscribed', helper.stderr());
    const queue = await page.evaluate(() => window.client.queue);
    assert.ok(helper.stderr().includes(`Polling queue ${queue}\n`), helper.stderr());
  }

  // Starts a helper in test mode, waits until the page is subscribed to it, then starts
  // a game that sends Round n; returns both.
  async function helperWithGame(n) {
    const helper = world.startHelper({ testMode: true });
    await waitForSubscribed(helper);
    const game = world.startGame(world.script(`wait-client\nframe Round ${n}\n`));
    return { helper, game };
  }

  async function waitForEvents(count) {
    assert.ok(await waitUntil(async () => (await seen()).events.length >= count, 20000 * SLOW), JSON.stringify(await seen()));
  }

  before(async () => {
    await assertPortsFree();
    site = await startPageServer();
    browser = await launchBrowser();
  });

  after(async () => {
    await browser?.close();
    await closeOther?.();
    await site?.close();
    await world.close();
  });

  it('says the helper is not running, and backs off quietly', async () => {
    page = await browser.newPage();
    await page.goto(`${site.origin}/pages/client.html`);
    await page.waitForFunction(() => window.ready);
    const t0 = Date.now();
    await page.evaluate(() => window.startClient());
    await waitForState({ state: 'not-running' }, 10000);
    assert.deepEqual((await seen()).statuses, [{ state: 'searching' }, { state: 'not-running' }]);
    assert.equal(await page.evaluate(() => window.client.killGame().then((r) => r, (e) => e.code)), 'not-running');

    // Twelve seconds without a helper: each failed request is one console line; a client
    // that retried every few hundred milliseconds would leave hundreds.
    await sleep(12000 - (Date.now() - t0));
    const lines = browser.console.filter((m) => m.type === 'error').length;
    assert.ok(lines <= 40, `${lines} console errors in 12 s`);
    assert.equal((await state()).state, 'not-running');
  });

  it('reports a program of another game as such and passes it over for the helper on another port', async () => {
    closeOther = await otherGameOn(PORTS[0]);
    await waitForState({ state: 'wrong-app' }, 20000);
    assert.deepEqual(await state(), { state: 'wrong-app', port: PORTS[0], appId: 'OTHER-GAME', helperVersion: '2.0.0' });

    const { helper, game } = await helperWithGame(1);
    await waitForEvents(2);
    // Whichever of the other ports the search met first while the helper opened them.
    const { port, ...rest } = await state();
    assert.deepEqual(rest, { state: 'subscribed', appId: APP_ID, helperVersion: '1.6.1' });
    assert.ok(PORTS.slice(1).includes(port), `port ${port}`);

    // The game crashes; the helper says so and ends in order.
    await game.kill();
    await waitForEvents(3);
    assert.deepEqual((await seen()).events, [READY, round(1), GONE]);
    assert.equal(await within(helper.exited, 30000 * SLOW), 0, helper.stderr());
    await closeOther();
    closeOther = null;
    // Gone for the page too before the next helper comes: a helper started at once may
    // meet the last poll of the page still on its way, and the page would stay subscribed.
    await waitForState({ state: 'not-running' }, 20000 * SLOW);
  });

  it('finds a new helper again, and tells "no game" from "ended"', async () => {
    const helper = world.startHelper({ testMode: true });
    // Any of the four ports: a search can meet the helper while it opens them.
    await waitForSubscribed(helper);
    // A test-mode helper knows no game until one connects.
    assert.equal(await page.evaluate(() => window.client.killGame()), 'no-game');
    world.startGame(world.script('wait-client\nframe Round 2\n'));
    await waitForEvents(5);
    assert.equal(await page.evaluate(() => window.client.killGame()), 'ended');
    await waitForEvents(6);
    assert.deepEqual((await seen()).events, [READY, round(1), GONE, READY, round(2), GONE]);
    assert.equal(await within(helper.exited, 30000 * SLOW), 0, helper.stderr());

    const states = (await seen()).statuses.map((s) => s.state + (s.port ? `:${s.port}` : ''));
    // Two helpers, each met once: no spurious reconnection in between.
    assert.equal(states.filter((s) => s.startsWith('connected:')).length, 2, states.join(' '));
    // Each connection told the page when its queue existed, and the page learnt why the
    // first one ended (the second may still be polling a helper that just exited).
    assert.equal(states.filter((s) => s.startsWith('subscribed:')).length, 2, states.join(' '));
    const lost = (await seen()).statuses.filter((s) => s.state === 'searching' && s.reason);
    assert.ok(lost.length >= 1 && lost.every((s) => /^a poll failed: /.test(s.reason)), JSON.stringify(lost));
    assert.equal(states.find((s) => s !== 'searching' && s !== 'not-running'), `wrong-app:${PORTS[0]}`);
    assert.deepEqual((await seen()).errors, []);
    await page.evaluate(() => window.client.stop());
  });
});
