// Local Network Access in a real browser: a page that Chromium takes for a public web
// site (its address overridden to the public space) is blocked from the helper until
// the user grants the permission, and the page client reports that as a permission
// problem, not as "helper not running"; with the permission granted the same page
// gets the game's events and ends the game. Headless Chromium answers the permission
// request itself, at once, with "denied": the pending prompt of a windowed browser
// cannot be shown here.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import {
  APP_ID, HelperWorld, PORTS, SLOW, assertPortsFree, event, launchBrowser, portAnswers, startPageServer, waitUntil, within,
} from './harness.mjs';

describe('a page on a public site (Local Network Access)', () => {
  const world = new HelperWorld();
  let site, browser, helper;

  before(async () => {
    await assertPortsFree();
    site = await startPageServer();
    browser = await launchBrowser([`--ip-address-space-overrides=127.0.0.1:${site.port}=public`]);
    helper = world.startHelper({ testMode: true });
    assert.ok(await waitUntil(() => portAnswers(PORTS[0]), 30000 * SLOW), helper.stderr());
  });

  after(async () => {
    await browser?.close();
    await site?.close();
    await world.close();
  });

  it('is blocked without the permission, and told so', async () => {
    const page = await browser.newPage();
    await page.goto(`${site.origin}/pages/client.html`);
    await page.waitForFunction(() => window.ready);
    const seen = await page.evaluate(async ([port]) => {
      const out = {};
      for (const mode of ['cors', 'no-cors']) {
        out[mode] = await fetch(`http://127.0.0.1:${port}/handshake`, { mode }).then((r) => r.type, (e) => e.name);
      }
      out.find = await window.webhelper.findHelper({ appId: 'MARBLE-GAME' }).then((s) => s.state, (e) => e.code);
      window.startClient();
      return out;
    }, [PORTS[0]]);
    // Unlike a refused origin, not even an opaque answer gets through.
    assert.deepEqual(seen, { 'cors': 'TypeError', 'no-cors': 'TypeError', find: 'permission-denied' });
    await page.waitForFunction(() => window.seen.statuses.length >= 2, null, { timeout: 20000 * SLOW });
    assert.deepEqual(await page.evaluate(() => window.seen.statuses), [{ state: 'searching' }, { state: 'permission-denied' }]);
    assert.equal(await page.evaluate(() => window.client.killGame().then((r) => r, (e) => e.code)), 'permission-denied');
    assert.doesNotMatch(helper.stderr(), /Got call/, 'a blocked request reached the helper');

    const demo = await page.context().newPage();
    await demo.goto(`${site.origin}/demo/`);
    await demo.waitForSelector('#status[data-state="permission-denied"]', { timeout: 20000 * SLOW });
    assert.match(await demo.textContent('#status'), /local network access/);

    // The user allows it later: the open pages find the helper without a reload.
    await page.context().grantPermissions(['local-network-access'], { origin: site.origin });
    await page.waitForFunction(() => window.client.status.state === 'subscribed', null, { timeout: 20000 * SLOW });
    await demo.waitForSelector('#status[data-state="subscribed"]', { timeout: 20000 * SLOW });
    // No reload, as the demo page says.
    assert.match(await demo.textContent('#status'), /^Connected to the helper/);
    await page.evaluate(() => window.client.stop());
    await page.context().close();
  });

  it('works once the permission is granted', async () => {
    const page = await browser.newPage({ permissions: ['local-network-access'], origin: site.origin });
    await page.goto(`${site.origin}/pages/client.html`);
    await page.waitForFunction(() => window.ready);
    const queue = await page.evaluate(() => window.startClient());
    const status = await page.evaluate(() => window.client.whenSubscribed());
    assert.deepEqual(status, { state: 'subscribed', port: PORTS[0], appId: APP_ID, helperVersion: '1.6.1' });
    assert.ok(helper.stderr().includes(`Polling queue ${queue}\n`), helper.stderr());

    world.startGame(world.script('wait-client\nframe MatchStarted arena_7 4 players\n'));
    const started = await waitUntil(() => page.evaluate(() => window.seen.events.length >= 2), 20000 * SLOW);
    assert.ok(started, helper.stderr());
    assert.equal(await page.evaluate(() => window.client.killGame()), 'ended');
    const gone = await waitUntil(() => page.evaluate(() => window.seen.events.length >= 3), 15000 * SLOW);
    assert.ok(gone, helper.stderr());
    assert.deepEqual(await page.evaluate(() => window.seen.events), [
      { ...event('StateChanged', 'READY'), state: 'READY' },
      { ...event('MatchStarted', 'arena_7', '4', 'players'), state: null },
      { ...event('StateChanged', 'GAMEISGONE'), state: 'GAMEISGONE' },
    ]);
    await page.evaluate(() => window.client.stop());
    const code = await within(helper.exited, 30000 * SLOW);
    assert.equal(code, 0, helper.stderr());
  });
});
