// The main cases of a page against the real helper and demo game, one table run alike
// in each of Debian's browser engines (engine-<name>.test.mjs, one file per engine so
// that ctest runs them side by side):
// - the demo page on http://127.0.0.1 gets every event of the game once and in order,
//   and its button ends the game (GAMEISGONE, the helper's ordered shutdown);
// - a page of a refused origin (a loopback address outside the policy) reads nothing
//   and ends nothing: the game keeps running and its events keep coming;
// - an https page of the game's web domain (a certificate made now, its name on a
//   loopback address of this test's own): what the engine lets it do with the helper's
//   http://127.0.0.1 (Chromium and Firefox count loopback as trustworthy; WebKit takes
//   it for mixed content and stops every request, which the client must say).
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import {
  HelperWorld, PORTS, SHUTDOWN_LINES, SLOW, assertPortsFree, event, launchEngine, mapTestNames, pidAlive,
  portAnswers, selfSignedCertificate, sleep, startPageServer, waitUntil, within,
} from './harness.mjs';

const WEB_HOST = 'www.tovelgames.example';
const WEB_ADDRESS = '127.0.0.10';

// What the client says on an https page of the game's web domain, by engine.
const HTTPS_PAGE = {
  chromium: { state: 'subscribed' },
  firefox: { state: 'subscribed' },
  webkit: { state: 'blocked', blockedBy: 'mixed-content' },
};

const SCRIPT = [
  'wait-client',
  'frame LobbyJoined alice lobby_3',
  'frame MatchStarted arena_7 4 players',
  'flood 5 ScoreChanged blue',
  'frame Accents d\\xc3\\xa9j\\xc3\\xa0 vu',
  'frame Done',
].join('\n') + '\n';

const EXPECTED = [
  { ...event('StateChanged', 'READY'), state: 'READY' },
  event('LobbyJoined', 'alice', 'lobby_3'),
  event('MatchStarted', 'arena_7', '4', 'players'),
  ...Array.from({ length: 5 }, (_, i) => event('ScoreChanged', String(i + 1), 'blue')),
  event('Accents', 'déjà', 'vu'),
  event('Done'),
].map((e) => ({ state: null, ...e }));
const GONE = { ...event('StateChanged', 'GAMEISGONE'), state: 'GAMEISGONE' };

// The demo page's event rows, oldest first ([event name, parameters]), once it shows n.
const demoRows = (n) => {
  const rows = [...document.querySelectorAll('#events tr')];
  return rows.length >= n && rows.reverse().map((r) => [r.cells[2].textContent, r.cells[3].textContent]);
};
const asRow = (e) => [e.eventName, e.params.filter((p) => p !== '').join(' ')];

export function engineCases(engineName) {
  describe(`a page in ${engineName}`, () => {
    const world = new HelperWorld();
    const servers = [];
    const wants = HTTPS_PAGE[engineName];
    let engine, helper, game, demo, secure, loopback, outside, webDomain;

    before(async () => {
      await assertPortsFree();
      mapTestNames({ [WEB_HOST]: WEB_ADDRESS });
      loopback = await startPageServer();
      outside = await startPageServer({ host: '127.0.0.2' });
      webDomain = await startPageServer({ host: WEB_ADDRESS, name: WEB_HOST, port: 443, tls: selfSignedCertificate(WEB_HOST) });
      servers.push(loopback, outside, webDomain);
      engine = await launchEngine(engineName);
      // Test mode: the game is started once the pages poll, so that their queues
      // exist before the helper posts READY.
      helper = world.startHelper({ testMode: true });
      assert.ok(await waitUntil(() => portAnswers(PORTS[0]), 30000 * SLOW), helper.stderr());
    });

    after(async () => {
      await engine?.close();
      for (const server of servers) await server.close();
      await world.close();
    });

    it('finds the helper from the demo page on 127.0.0.1', async () => {
      demo = await engine.open(`${loopback.origin}/demo/`);
      await demo.waitFor(() => document.querySelector('#status').dataset.state === 'subscribed', undefined, 20000 * SLOW);
      const queue = await demo.evaluate(() => document.querySelector('#queue').textContent);
      assert.ok(await waitUntil(() => helper.stderr().includes(`Polling queue ${queue}\n`), 10000 * SLOW), helper.stderr());
    });

    it(`an https page of the game's web domain: ${Object.values(wants).join(' ')}`, async () => {
      secure = await engine.open(`${webDomain.origin}/pages/client.html`);
      assert.equal(await secure.evaluate(() => self.origin), `https://${WEB_HOST}`);
      const queue = await secure.evaluate(() => window.startClient());
      const status = await secure.waitFor(
        () => !['searching', 'connected'].includes(window.client.status.state) && window.client.status, undefined, 20000 * SLOW);
      assert.deepEqual({ state: status.state, ...(status.blockedBy && { blockedBy: status.blockedBy }) }, wants,
        JSON.stringify(await secure.evaluate(() => window.seen.statuses)));
      // A page the browser stops sends nothing the helper sees.
      assert.equal(helper.stderr().includes(`Polling queue ${queue}\n`), wants.state === 'subscribed', helper.stderr());
    });

    it("hands the game's events to the pages once and in order", async () => {
      game = world.startGame(world.script(SCRIPT));
      const rows = await demo.waitFor(demoRows, EXPECTED.length, 30000 * SLOW).catch(() => null);
      assert.deepEqual(rows ?? await demo.evaluate(demoRows, 0), EXPECTED.map(asRow), helper.stderr());
      if (wants.state === 'subscribed') {
        await secure.waitFor((n) => window.seen.events.length >= n, EXPECTED.length, 10000 * SLOW);
        const seen = await secure.evaluate(() => window.seen);
        assert.deepEqual(seen.events, EXPECTED);
        assert.deepEqual(seen.errors, []);
      } else {
        assert.deepEqual(await secure.evaluate(() => window.seen.events), []);
      }
    });

    it('refuses a page of another origin: it reads nothing and ends nothing', async () => {
      const page = await engine.open(`${outside.origin}/pages/client.html`);
      const seen = await page.evaluate(async (port) => {
        const base = `http://127.0.0.1:${port}`;
        const out = {};
        out.cors = await fetch(`${base}/refused-page`).then((r) => `read ${r.status}`, (e) => e.name);
        out.kill = await fetch(`${base}/killgame`, { method: 'POST' }).then((r) => `read ${r.status}`, (e) => e.name);
        window.startClient();
        out.find = await window.webhelper.findHelper({ appId: 'MARBLE-GAME' }).then((s) => s.state, (e) => e.code);
        out.killGame = await window.client.killGame().then((r) => r, (e) => e.code);
        return out;
      }, PORTS[0]);
      assert.deepEqual(seen, { cors: 'TypeError', kill: 'TypeError', find: 'origin-refused', killGame: 'origin-refused' });
      assert.equal(await page.evaluate(() => window.client.status.state), 'origin-refused');
      await page.evaluate(() => window.client.stop());
      await page.close();
      await sleep(1000);
      assert.ok(game.exitCode === null && pidAlive(game.pid), 'the game ended');
      assert.equal(helper.exitCode, null, helper.stderr());
      assert.doesNotMatch(helper.stderr(), /Got call \/(killgame|refused-page)/, 'a refused page reached the helper');
    });

    it("ends the game from the demo page's button: GAMEISGONE, then the helper's ordered shutdown", async () => {
      await demo.evaluate(() => document.querySelector('#kill').click());
      const said = await demo.waitFor(() => /ended the game/.test(document.querySelector('#kill-result').textContent)
        && document.querySelector('#kill-result').textContent, undefined, 10000 * SLOW).catch(() => null);
      assert.ok(said, await demo.evaluate(() => document.querySelector('#kill-result').textContent));
      assert.notEqual(await within(game.exited, 10000 * SLOW), 'still running');
      const rows = await demo.waitFor(demoRows, EXPECTED.length + 1, 15000 * SLOW).catch(() => null);
      assert.deepEqual(rows ?? await demo.evaluate(demoRows, 0), [...EXPECTED, GONE].map(asRow), helper.stderr());
      if (wants.state === 'subscribed') {
        await secure.waitFor((n) => window.seen.events.length > n, EXPECTED.length, 10000 * SLOW);
        assert.deepEqual(await secure.evaluate(() => window.seen.events), [...EXPECTED, GONE]);
      }
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
  });
}
