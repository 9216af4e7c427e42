// Origins in a real browser: pages the helper must refuse (a sandboxed page whose Origin
// is "null", a loopback address outside the policy, a host of the game's web domain on
// a port other than the default) can read nothing of the helper's replies, and the page
// client reports them as refused, not as "helper not running"; a page of the game's web
// domain on the default port, and one on 127.0.0.1, are served. One helper for all.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import {
  APP_ID, HelperWorld, PORTS, SLOW, assertPortsFree, launchBrowser, portAnswers, startPageServer, waitUntil,
} from './harness.mjs';

const WEB_HOST = 'play.tovelgames.example';

describe('origins', () => {
  const world = new HelperWorld();
  let loopback, outside, browser, helper;

  before(async () => {
    await assertPortsFree();
    // ?sandbox: the page runs in a sandbox of its own, so its origin is opaque ("null").
    loopback = await startPageServer({
      headersFor: (url) => (url.searchParams.has('sandbox') ? { 'Content-Security-Policy': 'sandbox allow-scripts' } : {}),
    });
    outside = await startPageServer({ host: '127.0.0.2' });
    // The web domain's host reaches the loopback page server: on its default port
    // through a mapping of that port, on the server's own port as it is.
    browser = await launchBrowser([
      `--host-resolver-rules=MAP ${WEB_HOST}:80 127.0.0.1:${loopback.port}, MAP ${WEB_HOST} 127.0.0.1`,
    ]);
    helper = world.startHelper({ testMode: true });
    assert.ok(await waitUntil(() => portAnswers(PORTS[0]), 30000 * SLOW), helper.stderr());
  });

  after(async () => {
    await browser?.close();
    await loopback?.close();
    await outside?.close();
    await world.close();
  });

  // What a page on `url` meets: a direct CORS read, an opaque read, the client's search,
  // its status after a while, and an attempt to end the game.
  async function meet(url) {
    const page = await browser.newPage();
    await page.goto(url);
    await page.waitForFunction(() => window.ready);
    const seen = await page.evaluate(async ([port]) => {
      const base = `http://127.0.0.1:${port}`;
      const out = { origin: self.origin };
      try {
        const reply = await fetch(`${base}/handshake`);
        out.cors = `read ${reply.status} ${await reply.text()}`;
      } catch (e) {
        out.cors = e.name;
      }
      const opaque = await fetch(`${base}/handshake`, { mode: 'no-cors' });
      out.opaque = `${opaque.type} ${opaque.status} ${JSON.stringify(await opaque.text())}`;
      out.find = await window.webhelper.findHelper({ appId: 'MARBLE-GAME' }).then((s) => s.state, (e) => e.code);
      window.startClient();
      return out;
    }, [PORTS[0]]);
    await page.waitForFunction(() => window.seen.statuses.length >= 2, null, { timeout: 20000 * SLOW });
    seen.statuses = await page.evaluate(() => window.seen.statuses.slice(0, 2));
    seen.kill = await page.evaluate(() => window.client.killGame().then((r) => r, (e) => e.code));
    await page.evaluate(() => window.client.stop());
    await page.context().close();
    return seen;
  }

  const refusedCases = [
    { name: 'a sandboxed page (Origin "null")', url: () => `${loopback.origin}/pages/client.html?sandbox`, origin: 'null' },
    { name: 'a loopback address outside the policy', url: () => `${outside.origin}/pages/client.html`, origin: () => outside.origin },
    {
      name: "a host of the game's web domain on another port",
      url: () => `http://${WEB_HOST}:${loopback.port}/pages/client.html`,
      origin: () => `http://${WEB_HOST}:${loopback.port}`,
    },
  ];

  for (const c of refusedCases) {
    it(`refuses ${c.name}: nothing readable, reported as refused`, async () => {
      const seen = await meet(c.url());
      assert.deepEqual(seen, {
        origin: typeof c.origin === 'function' ? c.origin() : c.origin,
        cors: 'TypeError',
        opaque: 'opaque 0 ""',
        find: 'origin-refused',
        statuses: [{ state: 'searching' }, { state: 'origin-refused' }],
        kill: 'origin-refused',
      });
      assert.doesNotMatch(helper.stderr(), /Got call \/killgame/, 'a refused page reached the kill handler');
    });
  }

  const servedCases = [
    { name: 'a page on 127.0.0.1', url: () => `${loopback.origin}/pages/client.html`, origin: () => loopback.origin },
    { name: "a page of the game's web domain on the default port", url: () => `http://${WEB_HOST}/pages/client.html`, origin: () => `http://${WEB_HOST}` },
  ];

  for (const c of servedCases) {
    it(`serves ${c.name}`, async () => {
      const seen = await meet(c.url());
      assert.equal(seen.origin, c.origin());
      assert.equal(seen.cors, `read 200 {"app_id": "${APP_ID}","helper_version": "1.6.1"}`);
      assert.equal(seen.find, 'connected');
      assert.deepEqual(seen.statuses, [{ state: 'searching' }, { state: 'connected', port: PORTS[0], appId: APP_ID, helperVersion: '1.6.1' }]);
      // The helper in test mode knows no game: the page can tell that from a lost helper.
      assert.equal(seen.kill, 'no-game');
    });
  }

  it('shows the refusal on the demo page', async () => {
    const page = await browser.newPage();
    await page.goto(`${outside.origin}/demo/`);
    await page.waitForSelector('#status[data-state="origin-refused"]', { timeout: 20000 * SLOW });
    assert.match(await page.textContent('#status'), /refuses this page/);
    await page.click('#kill');
    await page.waitForFunction(() => document.querySelector('#kill-result').textContent.startsWith('Could not'), null, { timeout: 10000 * SLOW });
    assert.match(await page.textContent('#kill-result'), /refuses this page/);
    await page.context().close();
  });
});
