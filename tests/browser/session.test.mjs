// A page on an allowed loopback origin, in a real browser, through the page client:
// the handshake, every event of a scripted game once and in order (the helper's READY
// first), the demo page showing the same stream, its button ending the game, then
// GAMEISGONE and the helper's ordered shutdown; afterwards the client notices the
// helper is gone, and stop() leaves no request running.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import {
  APP_ID, HelperWorld, PORTS, SHUTDOWN_LINES, SLOW, assertPortsFree, event, launchBrowser, portAnswers,
  startPageServer, waitUntil, within,
} from './harness.mjs';

const FLOOD = 25;
const SCRIPT = [
  'wait-client',
  'frame LobbyJoined alice lobby_3',
  'frame MatchStarted arena_7 4 players',
  `flood ${FLOOD} ScoreChanged blue`,
  'frame Crowded a b c d e f g h i j',
  'frame Accents d\\xc3\\xa9j\\xc3\\xa0 vu',
  'frame Tabbed left\\x09right end',
  'frame Done',
].join('\n') + '\n';

const EXPECTED = [
  { ...event('StateChanged', 'READY'), state: 'READY' },
  event('LobbyJoined', 'alice', 'lobby_3'),
  event('MatchStarted', 'arena_7', '4', 'players'),
  ...Array.from({ length: FLOOD }, (_, i) => event('ScoreChanged', String(i + 1), 'blue')),
  event('Crowded', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'),
  event('Accents', 'déjà', 'vu'),
  // The helper splits words on blanks only: which field the tab belongs to cannot be told.
  { gameId: APP_ID, eventName: 'Tabbed', params: Array(8).fill(''), raw: `${APP_ID}\tTabbed\tleft\tright\tend${'\t'.repeat(7)}`, ambiguous: true },
  event('Done'),
].map((e) => ({ state: null, ...e }));

describe('a page on an allowed loopback origin', () => {
  const world = new HelperWorld();
  let pages, browser, helper, page, demo, queue;

  before(async () => {
    await assertPortsFree();
    pages = await startPageServer();
    browser = await launchBrowser();
    // Test mode: the game is started below, once both pages poll, so that their
    // queues exist before the helper posts READY.
    helper = world.startHelper({ testMode: true });
    assert.ok(await waitUntil(() => portAnswers(PORTS[0]), 30000 * SLOW), helper.stderr());
  });

  after(async () => {
    await browser?.close();
    await pages?.close();
    await world.close();
  });

  it('finds the helper and polls its own queue', async () => {
    page = await browser.newPage();
    await page.goto(`${pages.origin}/pages/client.html`);
    await page.waitForFunction(() => window.ready);
    queue = await page.evaluate(() => window.startClient());
    assert.match(queue, /^page-[0-9a-f]{32}$/);
    const status = await page.evaluate(() => window.client.whenSubscribed());
    assert.deepEqual(status, { state: 'subscribed', port: PORTS[0], appId: APP_ID, helperVersion: '1.6.1' });
    assert.deepEqual(await page.evaluate(() => window.seen.statuses.map((s) => s.state)), ['searching', 'connected', 'subscribed']);

    demo = await browser.newPage();
    await demo.goto(`${pages.origin}/demo/`);
    await demo.waitForSelector('#status[data-state="subscribed"]', { timeout: 20000 * SLOW });
    assert.equal(await demo.textContent('#app-id'), APP_ID);
    assert.equal(await demo.textContent('#helper-version'), '1.6.1');
    const demoQueue = await demo.textContent('#queue');
    assert.notEqual(demoQueue, queue, 'each page has a queue of its own');
    for (const name of [queue, demoQueue]) {
      assert.ok(await waitUntil(() => helper.stderr().includes(`Polling queue ${name}\n`), 10000 * SLOW), helper.stderr());
    }
  });

  it('hands every event over once, in order, as named fields', async () => {
    world.startGame(world.script(SCRIPT));
    const done = await waitUntil(() => page.evaluate(() => window.seen.events.some((e) => e.eventName === 'Done')), 30000 * SLOW);
    assert.ok(done, `no Done event; helper said:\n${helper.stderr()}`);
    const seen = await page.evaluate(() => window.seen);
    assert.deepEqual(seen.events, EXPECTED);
    assert.deepEqual(seen.errors, []);
  });

  it('shows the same stream on the demo page', async () => {
    await demo.waitForFunction((n) => document.querySelectorAll('#events tr').length >= n, EXPECTED.length, { timeout: 10000 * SLOW });
    const newestFirst = await demo.$$eval('#events tr', (rows) => rows.map((r) => [...r.cells].map((c) => c.textContent)));
    assert.equal(newestFirst.length, EXPECTED.length);
    assert.deepEqual(newestFirst.map((cells) => cells[2]).reverse(), EXPECTED.map((e) => e.eventName));
    assert.deepEqual(newestFirst[0], [String(EXPECTED.length), newestFirst[0][1], 'Done', '']);
    assert.equal(newestFirst[EXPECTED.length - 1][3], 'READY');
  });

  it("ends the game from the demo page's button; GAMEISGONE follows, then the ordered shutdown", async () => {
    await demo.click('#kill');
    await demo.waitForFunction(() => document.querySelector('#kill-result').textContent.includes('ended the game'), null, { timeout: 10000 * SLOW });
    const gone = await waitUntil(() => page.evaluate((n) => window.seen.events.length > n, EXPECTED.length), 15000 * SLOW);
    assert.ok(gone, helper.stderr());
    const events = await page.evaluate(() => window.seen.events);
    assert.deepEqual(events, [...EXPECTED, { ...event('StateChanged', 'GAMEISGONE'), state: 'GAMEISGONE' }]);

    const code = await within(helper.exited, 30000 * SLOW);
    assert.equal(code, 0, helper.stderr());
    const err = helper.stderr();
    let at = 0;
    for (const line of SHUTDOWN_LINES) {
      const i = err.indexOf(line, at);
      assert.notEqual(i, -1, `missing, in order, ${JSON.stringify(line)} in:\n${err}`);
      at = i + line.length;
    }
  });

  it('sent nothing the browser had to complain about while the helper was there', async () => {
    const noise = browser.console.filter((m) => m.type === 'error' || m.type === 'warning' || m.type === 'pageerror');
    // The helper is gone by now; what its absence caused is counted in another test.
    const beforeEnd = noise.filter((m) => !/ERR_CONNECTION_REFUSED/.test(m.text));
    assert.deepEqual(beforeEnd, []);
  });

  it('notices the helper is gone, and stop() leaves no request running', async () => {
    await page.waitForFunction(() => window.client.status.state === 'not-running', null, { timeout: 20000 * SLOW });
    const states = await page.evaluate(() => window.seen.statuses.map((s) => s.state));
    assert.deepEqual(states.slice(0, 3), ['searching', 'connected', 'subscribed']);
    assert.deepEqual(states.slice(3, 5), ['searching', 'not-running']);
    const killed = await page.evaluate(() => window.client.killGame().then((r) => r, (e) => `${e.name} ${e.code}`));
    assert.equal(killed, 'HelperError not-running');

    const requests = [];
    page.on('request', (r) => requests.push(r.url()));
    await page.evaluate(() => window.client.stop());
    requests.length = 0;
    await new Promise((r) => setTimeout(r, 3000));
    assert.deepEqual(requests, []);
    assert.equal(await page.evaluate(() => window.client.status.state), 'stopped');
  });
});
