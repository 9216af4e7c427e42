// From the game's write to the page's handler, through the real browser: the demo game
// plays frames at random moments while a page in Chromium polls through the page
// client, and the time each frame's "sent" record appears is set against the time the
// page's onEvent saw it. For comparison, the same helper first serves a plain HTTP
// poller (what the helper alone costs). The two never poll at once: the helper may
// serve one request at a time.
//
// Usage (through run.sh, which builds, holds the black-box lock and sets up Wine):
//   node latency.mjs    with TOVEL_BUILD_KIND, TOVEL_HELPER, TOVEL_GAME set
import fs from 'node:fs';
import http from 'node:http';
import {
  HelperWorld, KIND, PORTS, SLOW, assertPortsFree, launchBrowser, portAnswers, sleep, startPageServer, waitUntil,
} from '../../tests/browser/harness.mjs';

const EVENTS = Number(process.env.LATENCY_EVENTS || 200);
const GAP_MS = 4000;
const now = () => performance.timeOrigin + performance.now();

// Deterministic random pauses (50-250 ms), so that frames fall anywhere in the
// helper's pump and poll cycles.
function pauses(seed) {
  let x = seed;
  return Array.from({ length: EVENTS }, () => {
    x = (x * 1103515245 + 12345) % 2147483648;
    return 50 + Math.floor((x / 2147483648) * 200);
  });
}

function script() {
  const lines = ['wait-client', 'sleep 1000'];
  pauses(7).forEach((ms, i) => lines.push(`sleep ${ms}`, `frame Raw ${i + 1}`));
  lines.push(`sleep ${GAP_MS}`);
  pauses(11).forEach((ms, i) => lines.push(`sleep ${ms}`, `frame Page ${i + 1}`));
  return lines.join('\n') + '\n';
}

// Notes when each "sent" record of the game appears: the frame has just been written.
function watchRecord(file) {
  const sent = new Map();
  let offset = 0;
  let rest = '';
  const read = () => {
    let fd;
    try { fd = fs.openSync(file, 'r'); } catch { return; }
    const at = now();
    const size = fs.fstatSync(fd).size;
    if (size > offset) {
      const buf = Buffer.alloc(size - offset);
      fs.readSync(fd, buf, 0, buf.length, offset);
      offset = size;
      const lines = (rest + buf.toString('utf8')).split('\n');
      rest = lines.pop();
      for (const line of lines) {
        const r = JSON.parse(line);
        if (r.event === 'sent') sent.set(`${r.name} ${r.payload}`, at);
      }
    }
    fs.closeSync(fd);
  };
  const timer = setInterval(read, 1);
  return { sent, stop: () => clearInterval(timer) };
}

// A plain poller of the helper, as a page's requests reach it, without a browser.
function poll(queue) {
  return new Promise((resolve, reject) => {
    const req = http.get({ host: '127.0.0.1', port: PORTS[0], path: `/${queue}`, headers: { Origin: 'http://localhost' }, agent: false }, (res) => {
      let body = '';
      res.on('data', (c) => { body += c; });
      res.on('end', () => resolve([body, now()]));
    });
    req.on('error', reject);
  });
}

function summary(name, values) {
  const v = [...values].sort((a, b) => a - b);
  const pick = (p) => v[Math.min(v.length - 1, Math.round((p / 100) * (v.length - 1)))];
  return `${name}: median ${pick(50).toFixed(1)} ms, p99 ${pick(99).toFixed(1)} ms, min ${v[0].toFixed(1)} ms, max ${v[v.length - 1].toFixed(1)} ms (${v.length} events)`;
}

async function main() {
  await assertPortsFree();
  const world = new HelperWorld();
  let site, browser;
  try {
    const helper = world.startHelper({ testMode: true });
    if (!(await waitUntil(() => portAnswers(PORTS[0]), 30000 * SLOW))) throw new Error(helper.stderr());
    site = await startPageServer();
    browser = await launchBrowser();
    const page = await browser.newPage();
    await page.goto(`${site.origin}/pages/client.html`);
    await page.waitForFunction(() => window.ready);

    await poll('bench-raw'); // creates the plain poller's queue
    const record = watchRecord(world.record);
    world.startGame(world.script(script()));

    const raw = [];
    while (raw.length < EVENTS) {
      const [body, at] = await poll('bench-raw');
      const f = body.split('\t');
      if (f[1] === 'Raw') raw.push([`Raw ${f[2]}`, at]);
    }
    // The page's turn: its client starts polling during the game's pause.
    await page.evaluate(() => {
      window.arrivals = [];
      window.startClient({
        onEvent: (e) => window.arrivals.push([`${e.eventName} ${e.params[0]}`, performance.timeOrigin + performance.now()]),
      });
    });
    await page.waitForFunction(() => window.client.status.state === 'connected');
    const started = now();
    await page.waitForFunction((n) => window.arrivals.length >= n, EVENTS, { timeout: 120000 * SLOW });
    const arrivals = await page.evaluate(() => window.arrivals);
    record.stop();
    if (record.sent.get('Page 1') < started) throw new Error('the page started polling after the first frame: lengthen GAP_MS');

    const latency = (list) => list.map(([key, at]) => {
      if (!record.sent.has(key)) throw new Error(`no write seen for ${key}`);
      return at - record.sent.get(key);
    });
    const order = arrivals.map(([key]) => key).join(',');
    if (order !== Array.from({ length: EVENTS }, (_, i) => `Page ${i + 1}`).join(',')) throw new Error(`events out of order: ${order}`);
    console.log(`\nhelper: ${process.env.TOVEL_HELPER} (${KIND}); Chromium ${browser.browser.version()}`);
    console.log('game write -> event, frames at random moments (50-250 ms apart), one poller at a time:');
    console.log('  ' + summary('plain HTTP poller (the helper alone)', latency(raw)));
    console.log('  ' + summary("page in Chromium, the client's onEvent", latency(arrivals)));
    await page.evaluate(() => window.client.stop());
  } finally {
    await browser?.close();
    await site?.close();
    await world.close();
  }
}

await main();
