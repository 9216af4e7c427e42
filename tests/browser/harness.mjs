// The world of a browser test: the real helper and demo game of one build (the Windows
// program under Wine), a small page server, and Debian's browsers: Chromium driven by
// playwright-core, Firefox ESR by puppeteer-core over WebDriver BiDi, WebKitGTK's
// MiniBrowser by selenium-webdriver through WebKitWebDriver under Xvfb. Every process a
// test starts is stopped by the test, by its id.
// ctest runs each file in namespaces of its own (scripts/isolated.sh): the helper's
// fixed ports and the game's name are the file's alone.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import https from 'node:https';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const KIND = process.env.TOVEL_BUILD_KIND || 'native';
// The Wine loader of a Windows tree ("wine", or the 64-bit loader for win64).
export const WINE = process.env.TOVEL_WINE || (KIND.startsWith('win') ? 'wine' : '');
export const ON_WINE = Boolean(WINE);
const REPO = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const HELPER = process.env.TOVEL_HELPER || path.join(REPO, 'build/native/tovelwebhelper');
export const GAME = process.env.TOVEL_GAME || path.join(REPO, 'build/native/tovel3.exe');
export const CHROMIUM = process.env.TOVEL_CHROMIUM || '/usr/bin/chromium';
export const FIREFOX = process.env.TOVEL_FIREFOX || '/usr/lib/firefox-esr/firefox-esr';
export const WEBKIT_DRIVER = process.env.TOVEL_WEBKIT_DRIVER || '/usr/bin/WebKitWebDriver';
export const PORTS = [4219, 5219, 6219, 7219];
export const APP_ID = 'MARBLE-GAME';
export const SHUTDOWN_LINES = [
  'wWinMain: Waiting for gantry thread shutdown\n',
  'wWinMain: DONE! gantry thread exited\n',
  'wWinMain: Waiting for webserver thread shutdown\n',
  'wWinMain: DONE! webserver thread exited\n',
];
// Wine starts are slow; every wait of a test scales with this.
export const SLOW = ON_WINE ? 3 : 1;

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

/**
 * What `promise` settles to, or `fallback` once `ms` pass; its timer ends with it (a
 * pending timer would keep the test's process alive for the rest of `ms`).
 */
export function within(promise, ms, fallback = 'still running') {
  let timer;
  const late = new Promise((resolve) => { timer = setTimeout(resolve, ms, fallback); });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

/** Polls predicate until it returns something truthy or timeoutMs passes; returns its last value. */
export async function waitUntil(predicate, timeoutMs, intervalMs = 50) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await predicate();
    if (value || Date.now() >= deadline) return value;
    await sleep(intervalMs);
  }
}

/** Whether something accepts connections on a loopback port. */
export function portAnswers(port) {
  return new Promise((resolve) => {
    const sock = net.connect({ host: '127.0.0.1', port });
    sock.setTimeout(1000);
    sock.on('connect', () => { sock.destroy(); resolve(true); });
    sock.on('error', () => resolve(false));
    sock.on('timeout', () => { sock.destroy(); resolve(false); });
  });
}

export function pidAlive(pid) {
  try {
    const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
    return stat.slice(stat.lastIndexOf(')') + 2).split(' ')[0] !== 'Z';
  } catch {
    return false;
  }
}

const TYPES = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.css': 'text/css' };

/**
 * Serves the page folder (/client/, /demo/) and this folder's pages (/pages/) on one
 * host and a free port (or `port`), over https when given `tls` ({ key, cert }). Every
 * reply may be read by any origin, so that a sandboxed page (origin "null") can load
 * the module too. `headersFor(url)` adds reply fields; `origin` is the page's origin.
 */
export async function startPageServer({ host = '127.0.0.1', port = 0, headersFor = () => ({}), tls, name = host } = {}) {
  const roots = { client: path.join(REPO, 'page/client'), demo: path.join(REPO, 'page/demo'), pages: path.join(REPO, 'tests/browser/pages') };
  const serve = (req, res) => {
    const url = new URL(req.url, 'http://x');
    const [, top, ...rest] = url.pathname.split('/');
    const root = roots[top];
    let file = root && path.join(root, ...rest);
    if (file && url.pathname.endsWith('/')) file = path.join(file, 'index.html');
    if (!file || !file.startsWith(root) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      res.writeHead(404, { 'Access-Control-Allow-Origin': '*' });
      res.end('not found');
      return;
    }
    res.writeHead(200, {
      'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
      'Cache-Control': 'no-store',
      'Access-Control-Allow-Origin': '*',
      ...headersFor(url),
    });
    res.end(fs.readFileSync(file));
  };
  const server = tls ? https.createServer(tls, serve) : http.createServer(serve);
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, resolve);
  });
  const actual = server.address().port;
  const scheme = tls ? 'https' : 'http';
  const standard = actual === (tls ? 443 : 80);
  return {
    port: actual,
    origin: `${scheme}://${name}${standard ? '' : `:${actual}`}`,
    close: () => new Promise((resolve) => { server.closeAllConnections(); server.close(resolve); }),
  };
}

/**
 * Debian's Chromium, headless, as a browser server whose process id the test holds
 * (playwright gives each launch a fresh profile folder of its own).
 * Collects every console message of every page.
 */
export async function launchBrowser(extraArgs = []) {
  const server = await chromium.launchServer({
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', ...extraArgs],
  });
  const pid = server.process().pid;
  const browser = await chromium.connect(server.wsEndpoint());
  const console = [];
  return {
    browser,
    pid,
    console,
    /** A new context and page; the page's console messages land in `console`. */
    async newPage({ permissions, origin } = {}) {
      const context = await browser.newContext();
      if (permissions) await context.grantPermissions(permissions, { origin });
      const page = await context.newPage();
      page.on('console', (m) => console.push({ type: m.type(), text: m.text(), url: page.url() }));
      page.on('pageerror', (e) => console.push({ type: 'pageerror', text: String(e), url: page.url() }));
      return page;
    },
    async close() {
      await browser.close().catch(() => {});
      await server.close().catch(() => {});
      if (pidAlive(pid)) {
        try { process.kill(pid, 'SIGKILL'); } catch { /* gone meanwhile */ }
      }
    },
  };
}

/** Process ids of `pid`'s descendants, children first found first. */
function descendants(pid) {
  const children = new Map();
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${name}/stat`, 'utf8');
      const ppid = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      if (!children.has(ppid)) children.set(ppid, []);
      children.get(ppid).push(Number(name));
    } catch { /* gone meanwhile */ }
  }
  const out = [];
  for (let todo = [pid]; todo.length;) {
    const next = children.get(todo.shift()) || [];
    out.push(...next);
    todo.push(...next);
  }
  return out;
}

/** Ends `pid` and whatever it started that is still there, each by its id. */
async function killTree(pid) {
  const pids = [pid, ...descendants(pid)].filter(pidAlive);
  for (const p of pids) {
    try { process.kill(p, 'SIGKILL'); } catch { /* gone meanwhile */ }
  }
  await waitUntil(() => !pids.some(pidAlive), 10000);
}

function startProcess(argv, env = process.env) {
  const child = spawn(argv[0], argv.slice(1), { env, stdio: ['ignore', 'ignore', 'ignore'] });
  child.on('error', () => {});
  return child.pid;
}

/** A free port on 127.0.0.1 (for a driver that must be told one). */
async function freePort() {
  const server = net.createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

/**
 * A page behind the interface all engines share: `evaluate(fn, arg)` runs fn(arg) in
 * the page (awaiting a promise it returns) and hands back its JSON value; `waitFor`
 * does so until the value is truthy.
 */
function enginePage(evaluate, close) {
  return {
    evaluate,
    async waitFor(fn, arg, timeoutMs) {
      const value = await waitUntil(() => evaluate(fn, arg).catch(() => undefined), timeoutMs, 100);
      if (!value) throw new Error(`not reached within ${timeoutMs} ms: ${fn}`);
      return value;
    },
    close,
  };
}

/** Waits until a page (just navigated) has run its module scripts. */
async function loaded(page) {
  await page.waitFor(() => document.readyState === 'complete', undefined, 20000);
  return page;
}

export const ENGINES = ['chromium', 'firefox', 'webkit'];

/**
 * One of Debian's browsers behind a small interface that every engine test uses:
 * `open(url)` gives a page ({ evaluate, waitFor, close }) in a fresh profile state of
 * its own, `version` says which browser it is, `close()` ends every process it started.
 * Certificates are not checked (the tests make their own). `publicAddresses`
 * ("HOST:PORT", where the engine knows local-network access) are taken for a public
 * web site's, as a page served from the internet would be.
 */
export async function launchEngine(name, { publicAddresses = [] } = {}) {
  if (name === 'chromium') return launchChromiumEngine(publicAddresses);
  if (name === 'firefox') return launchFirefoxEngine(publicAddresses);
  if (name === 'webkit') return launchWebKitEngine();
  throw new Error(`no engine ${name}`);
}

async function launchChromiumEngine(publicAddresses) {
  const args = publicAddresses.length ? [`--ip-address-space-overrides=${publicAddresses.map((a) => `${a}=public`).join(',')}`] : [];
  const chromium = await launchBrowser(args);
  return {
    name: 'chromium',
    version: `Chromium ${chromium.browser.version()}`,
    browser: chromium.browser,
    async open(url) {
      const context = await chromium.browser.newContext({ ignoreHTTPSErrors: true });
      const page = await context.newPage();
      await page.goto(url);
      return loaded(enginePage((fn, arg) => page.evaluate(fn, arg), () => context.close()));
    },
    close: () => chromium.close(),
  };
}

async function launchFirefoxEngine(publicAddresses) {
  const { default: puppeteer } = await import('puppeteer-core');
  const prefs = { 'network.trr.mode': 5 };
  if (publicAddresses.length) prefs['network.lna.address_space.public.override'] = publicAddresses.join(',');
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: FIREFOX,
    headless: true,
    acceptInsecureCerts: true,
    extraPrefsFirefox: prefs,
    handleSIGINT: false,
    handleSIGTERM: false,
    handleSIGHUP: false,
  });
  const pid = browser.process().pid;
  const version = await browser.version();
  return {
    name: 'firefox',
    version: `Firefox ${version.replace(/^firefox\//i, '')}`,
    browser,
    async open(url) {
      const context = await browser.createBrowserContext();
      const page = await context.newPage();
      await page.goto(url);
      return loaded(enginePage((fn, arg) => page.evaluate(fn, arg), () => context.close().catch(() => {})));
    },
    async close() {
      await Promise.race([browser.close().catch(() => {}), sleep(10000)]);
      await killTree(pid);
    },
  };
}

async function launchWebKitEngine() {
  const { Builder } = await import('selenium-webdriver');
  // MiniBrowser needs a display; this test's own, on a display number of its namespace.
  const display = `:${await freePort() % 1000 + 100}`;
  const xvfb = startProcess(['Xvfb', display, '-nolisten', 'tcp', '-screen', '0', '1280x1024x24']);
  const socket = `/tmp/.X11-unix/X${display.slice(1)}`;
  const pids = [xvfb];
  const stop = async () => { for (const pid of pids.reverse()) await killTree(pid); };
  try {
    if (!await waitUntil(() => fs.existsSync(socket), 20000)) throw new Error(`Xvfb ${display} did not start`);
    const port = await freePort();
    pids.push(startProcess([WEBKIT_DRIVER, `--port=${port}`], { ...process.env, DISPLAY: display }));
    if (!await waitUntil(() => portAnswers(port), 20000)) throw new Error('WebKitWebDriver did not start');
    const driver = await new Builder().usingServer(`http://127.0.0.1:${port}`)
      .withCapabilities({ browserName: 'MiniBrowser', acceptInsecureCerts: true }).build();
    const caps = await driver.getCapabilities();
    let current = await driver.getWindowHandle();
    let fresh = current;  // the session's first window, not yet used
    const use = async (handle) => {
      if (handle !== current) await driver.switchTo().window(handle);
      current = handle;
    };
    return {
      name: 'webkit',
      version: `WebKitGTK ${caps.get('browserVersion')}`,
      driver,
      async open(url) {
        let handle = fresh;
        fresh = null;
        if (!handle) {
          if (!current) await use((await driver.getAllWindowHandles())[0]);
          await driver.switchTo().newWindow('window');
          handle = current = await driver.getWindowHandle();
        }
        await use(handle);
        await driver.get(url);
        let closed = false;
        return loaded(enginePage(
          async (fn, arg) => { await use(handle); return driver.executeScript(`return (${fn})(arguments[0]);`, arg); },
          async () => {
            if (closed) return;
            closed = true;
            await use(handle);
            // A session's last window stays, emptied, for the next page.
            if ((await driver.getAllWindowHandles()).length > 1) {
              await driver.close();
              current = null;
            } else {
              await driver.get('about:blank');
              fresh = handle;
            }
          }));
      },
      async close() {
        await Promise.race([driver.quit().catch(() => {}), sleep(10000)]);
        await stop();
      },
    };
  } catch (e) {
    await stop();
    throw e;
  }
}

/**
 * Gives each test name (host -> loopback address) an address of its own on `lo` and
 * maps it in /etc/hosts, for this test alone: only inside the namespaces that
 * scripts/isolated.sh made (there /etc/hosts is replaced by a bind mount that ends with
 * them). An address besides 127.0.0.1 on `lo` also lets WebKit's resolver ask for IPv4
 * names at all (it asks with AI_ADDRCONFIG).
 */
export function mapTestNames(names) {
  if (process.env.TOVEL_ISOLATED !== '1') throw new Error('test names are mapped only in a test\'s own namespaces (scripts/isolated.sh)');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tovel-hosts-'));
  const hosts = path.join(dir, 'hosts');
  const lines = ['127.0.0.1 localhost', '::1 localhost ip6-localhost ip6-loopback'];
  for (const [host, address] of Object.entries(names)) {
    execFileSync('ip', ['addr', 'replace', `${address}/32`, 'dev', 'lo']);
    lines.push(`${address} ${host}`);
  }
  fs.writeFileSync(hosts, `${lines.join('\n')}\n`);
  execFileSync('mount', ['--bind', hosts, '/etc/hosts']);
}

/** A self-signed certificate for `host`, made now: { key, cert } in PEM. */
export function selfSignedCertificate(host) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tovel-cert-'));
  const key = path.join(dir, 'key.pem');
  const cert = path.join(dir, 'cert.pem');
  execFileSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes',
    '-keyout', key, '-out', cert, '-days', '2', '-subj', `/CN=${host}`, '-addext', `subjectAltName=DNS:${host}`],
  { stdio: 'ignore' });
  const pem = { key: fs.readFileSync(key), cert: fs.readFileSync(cert) };
  fs.rmSync(dir, { recursive: true, force: true });
  return pem;
}

/** One test's helpers and games: a scratch folder, the processes, their records. */
export class HelperWorld {
  constructor() {
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tovel-browser-'));
    this.record = path.join(this.dir, 'game-record.jsonl');
    this.started = [];
    this.count = 0;
  }

  env(extra = {}) {
    const env = {};
    for (const [k, v] of Object.entries(process.env)) {
      if (!k.startsWith('TOVELWEBHELPER_') && !k.startsWith('TOVEL3_DEMO_')) env[k] = v;
    }
    // The Linux build keeps the game's socket and the instance lock beside the test.
    env.XDG_RUNTIME_DIR = this.dir;
    env.TOVEL3_DEMO_RECORD = this.record;
    return Object.assign(env, extra);
  }

  /** Writes a demo game script into the scratch folder; returns its path. */
  script(text) {
    this.count += 1;
    const file = path.join(this.dir, `script-${this.count}.txt`);
    fs.writeFileSync(file, text);
    return file;
  }

  _start(exe, args, env) {
    this.count += 1;
    const errPath = path.join(this.dir, `stderr-${this.count}.txt`);
    const err = fs.openSync(errPath, 'w');
    const argv = ON_WINE ? [WINE, exe, ...args] : [exe, ...args];
    const child = spawn(argv[0], argv.slice(1), { cwd: path.dirname(HELPER), env, stdio: ['ignore', 'ignore', err] });
    fs.closeSync(err);
    const run = {
      pid: child.pid,
      exitCode: null,
      exited: new Promise((resolve) => child.on('exit', (code, signal) => { run.exitCode = code ?? signal; resolve(run.exitCode); })),
      stderr: () => fs.readFileSync(errPath, 'utf8').replaceAll('\r\n', '\n'),
      kill() {
        if (run.exitCode === null) {
          try { process.kill(child.pid, 'SIGKILL'); } catch { /* gone meanwhile */ }
        }
        return run.exited;
      },
    };
    this.started.push(run);
    return run;
  }

  /** The helper in active mode (it launches the game with `script`), or in test mode without a game. */
  startHelper({ script, testMode = false } = {}) {
    const extra = {};
    if (script) extra.TOVEL3_DEMO_SCRIPT = script;
    if (testMode) extra.TOVELWEBHELPER_TEST_MODE = '1';
    return this._start(HELPER, ['--activate-webhelper', '-level', '3'], this.env(extra));
  }

  /** The demo game started directly, as a player would start it by hand. */
  startGame(script) {
    return this._start(GAME, [], this.env({ TOVEL3_DEMO_SCRIPT: script }));
  }

  gameRecords() {
    try {
      return fs.readFileSync(this.record, 'utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l));
    } catch {
      return [];
    }
  }

  /** Linux ids of this world's live demo games, found by the record file in their
   * environment (the helper launches them; under Wine their own ids are Windows ones). */
  gamePids() {
    const marker = `TOVEL3_DEMO_RECORD=${this.record}`;
    const pids = [];
    for (const name of fs.readdirSync('/proc')) {
      if (!/^\d+$/.test(name)) continue;
      try {
        if (!fs.readFileSync(`/proc/${name}/environ`, 'latin1').split('\0').includes(marker)) continue;
        if (!fs.readFileSync(`/proc/${name}/cmdline`, 'latin1').includes(path.basename(GAME))) continue;
      } catch {
        continue;
      }
      if (pidAlive(Number(name))) pids.push(Number(name));
    }
    return pids;
  }

  async killGames() {
    const pids = this.gamePids();
    for (const pid of pids) {
      try { process.kill(pid, 'SIGKILL'); } catch { /* gone meanwhile */ }
    }
    await waitUntil(() => !pids.some(pidAlive), 10000);
  }

  async close() {
    for (const run of this.started) await run.kill();
    await this.killGames();
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

/** Fails early when a helper of someone else already holds the ports. */
export async function assertPortsFree() {
  for (const port of PORTS) {
    if (await portAnswers(port)) throw new Error(`port ${port} is in use: another helper runs`);
  }
}

/** The ten fields of an event as the page client hands it over. */
export function event(eventName, ...params) {
  return { gameId: APP_ID, eventName, params: [...params, ...Array(8 - params.length).fill('')] };
}

/** The text of one event as the helper answers a poll: ten fields, each followed by a tab. */
export function eventText(eventName, ...params) {
  return [APP_ID, eventName, ...params, ...Array(8 - params.length).fill('')].map((f) => `${f}\t`).join('');
}

/**
 * A stand-in for the helper, for what the real one cannot be made to do on demand: it
 * answers the handshake, holds each poll up to `holdMs` for an event of that queue
 * (`push`), and answers /killgame as told. `behave(req)` may take over a request:
 * return a reply { status, body } or 'drop' (the connection is cut), or nothing.
 * Every request is kept in `requests` ({ method, path, at }).
 */
export async function startFakeHelper({ port = 0, holdMs = 1000, kills = [] } = {}) {
  const queues = new Map();
  const waiting = new Map();
  const fake = { requests: [], kills: [...kills], behave: () => undefined };
  const reply = (req, res, status, body) => {
    const headers = { 'Content-Type': 'text/plain' };
    if (status === 200) headers['Access-Control-Allow-Origin'] = req.headers.origin || '';
    res.writeHead(status, headers);
    res.end(body);
  };
  const server = http.createServer((req, res) => {
    const name = req.url.slice(req.url.lastIndexOf('/') + 1);
    fake.requests.push({ method: req.method, path: req.url, at: Date.now() });
    const own = fake.behave(req);
    if (own === 'drop') return req.socket.destroy();
    if (own) return reply(req, res, own.status, own.body);
    if (name === 'handshake') return reply(req, res, 200, `{"app_id": "${APP_ID}","helper_version": "1.6.1"}`);
    if (name === 'killgame') {
      const kill = fake.kills.shift() ?? 404;
      return kill === 'drop' ? req.socket.destroy() : reply(req, res, kill, '');
    }
    const answer = () => {
      clearTimeout(timer);
      waiting.delete(name);
      const pending = queues.get(name) || [];
      reply(req, res, 200, pending.length ? pending.shift() : 'null');
    };
    const timer = setTimeout(answer, holdMs);
    // A poll the page gave up takes no event with it.
    res.on('close', () => {
      if (res.writableEnded) return;
      clearTimeout(timer);
      if (waiting.get(name) === answer) waiting.delete(name);
    });
    if (queues.get(name)?.length) answer();
    else waiting.set(name, answer);
  });
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', resolve);
  });
  return Object.assign(fake, {
    port: server.address().port,
    /** Queues event texts for `queue`; a waiting poll gets the first at once. */
    push(queue, ...texts) {
      if (!queues.has(queue)) queues.set(queue, []);
      queues.get(queue).push(...texts);
      waiting.get(queue)?.();
    },
    /** Whether a poll of `queue` is waiting for an event. */
    polling: (queue) => waiting.has(queue),
    /** Requests since `t` (Date.now()), GETs of the handshake and polls alike. */
    since: (t) => fake.requests.filter((r) => r.at >= t),
    close: () => new Promise((resolve) => { server.closeAllConnections(); server.close(resolve); }),
  });
}
