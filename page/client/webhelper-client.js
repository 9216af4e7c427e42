// The game page's client of the web helper: finds the helper on its loopback ports,
// polls a queue of the page's own and hands each event to the page, ends the game,
// and says why it cannot reach the helper when it cannot. One ES module, no
// dependencies; every request it sends is a "simple" one, so no preflight.

/** The helper's ports, in the order they are tried. */
export const HELPER_PORTS = Object.freeze([4219, 5219, 6219, 7219]);

/**
 * Where the client stands. Exactly one at a time:
 * - `searching`: looking for the helper (first look, or after losing it);
 * - `connected`: a helper with the expected app id answers on `port`;
 * - `not-running`: nothing answered on any port;
 * - `permission-pending`: the browser waits for the user to allow local network access;
 * - `permission-denied`: the browser blocks this page from the local network;
 * - `origin-refused`: a helper answered but refuses this page's origin;
 * - `wrong-app`: a helper answered, but for another game (`appId` says which);
 * - `stopped`: `stop()` was called or the signal aborted.
 * @typedef {'searching'|'connected'|'not-running'|'permission-pending'|'permission-denied'|'origin-refused'|'wrong-app'|'stopped'} ClientState
 */

/**
 * @typedef {object} ClientStatus
 * @property {ClientState} state
 * @property {number} [port]           the port of the helper (connected, wrong-app)
 * @property {string} [appId]          what the helper's handshake said
 * @property {string} [helperVersion]  what the helper's handshake said
 */

/**
 * One event of the game, as the helper queued it.
 * @typedef {object} HelperEvent
 * @property {string} gameId
 * @property {string} eventName
 * @property {string[]} params  the eight parameters, empty strings where unset
 * @property {'READY'|'GAMEISGONE'|null} state  set for the helper's own state changes
 */

/**
 * @typedef {object} ClientOptions
 * @property {string} appId  the game id the page expects in the handshake
 * @property {(event: HelperEvent) => void} [onEvent]  called once per event, in order
 * @property {(status: ClientStatus) => void} [onStatus]  called when the status changes
 * @property {(error: unknown) => void} [onError]  an onEvent that threw, or a reply that is not an event
 * @property {string} [queue]  the queue name; default a fresh random one per client
 * @property {readonly number[]} [ports]  default HELPER_PORTS
 * @property {string} [host]  default "127.0.0.1"
 * @property {AbortSignal} [signal]  aborting it stops the client
 * @property {number} [maxRetryDelayMs]  longest wait between two searches; default 8000
 * @property {number} [pollTimeoutMs]  a poll that takes longer counts as a lost helper; default 15000
 */

/** Failure of a one-off call (`findHelper`, `killGame`); `code` is a ClientState. */
export class HelperError extends Error {
  /** @param {ClientState} code @param {string} message @param {ClientStatus} [status] */
  constructor(code, message, status) {
    super(message);
    this.name = 'HelperError';
    this.code = code;
    this.status = status;
  }
}

const MESSAGES = {
  'not-running': 'the helper is not running (nothing answers on its ports)',
  'permission-pending': 'the browser is asking the user to allow local network access',
  'permission-denied': "the browser blocks this page from the local network (the 'local network access' permission)",
  'origin-refused': "the helper answered but refuses this page's origin",
  'wrong-app': 'a helper answered, but for another game',
  'stopped': 'stopped',
};

/** A human-readable sentence for a state, for pages that show it as it is. */
export function describeState(state) {
  return MESSAGES[state] || state;
}

/** A fresh queue name that nobody else can guess. */
export function randomQueueName() {
  const bytes = new Uint8Array(16);
  crypto.getRandomValues(bytes);
  return 'page-' + Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

/**
 * Parses a poll's reply: ten fields, each followed by a tab, or "null" for nothing yet.
 * @param {string} text
 * @returns {HelperEvent|null}
 */
export function parseEvent(text) {
  if (text === 'null') return null;
  const fields = text.split('\t');
  if (fields.length !== 11 || fields[10] !== '') throw new Error(`not an event: ${JSON.stringify(text)}`);
  const [gameId, eventName, ...params] = fields.slice(0, 10);
  const state = eventName === 'StateChanged' && (params[0] === 'READY' || params[0] === 'GAMEISGONE') ? params[0] : null;
  return { gameId, eventName, params, state };
}

// Resolves after ms, or at once when the signal aborts.
function sleep(ms, signal) {
  return new Promise((resolve) => {
    if (signal && signal.aborted) return resolve();
    const timer = setTimeout(done, ms);
    function done() {
      clearTimeout(timer);
      if (signal) signal.removeEventListener('abort', done);
      resolve();
    }
    if (signal) signal.addEventListener('abort', done, { once: true });
  });
}

// A signal that aborts with the parent or after ms.
function withTimeout(signal, ms) {
  const timeout = AbortSignal.timeout(ms);
  return signal ? AbortSignal.any([signal, timeout]) : timeout;
}

// Only plain GETs and body-less POSTs with no custom header: the helper answers no preflight.
const CORS = { mode: 'cors', credentials: 'omit', cache: 'no-store', referrerPolicy: 'no-referrer' };

/** The browser's local-network permission, where it can be asked about: a PermissionStatus or null. */
async function localNetworkPermission() {
  if (typeof navigator === 'undefined' || !navigator.permissions) return null;
  for (const name of ['loopback-network', 'local-network-access']) {
    try {
      return await navigator.permissions.query({ name: /** @type {PermissionName} */ (name) });
    } catch {
      // This browser does not know the name.
    }
  }
  return null;
}

/**
 * One look at one port. CORS first: only an allowed page can read the handshake. When
 * that fails, an opaque no-cors request tells "something answered, but not to us" from
 * "nothing is reachable" (a refused origin gets 403 without the header that would let
 * the page read it).
 * @returns {Promise<{kind: 'ok'|'refused'|'nothing', appId?: string, helperVersion?: string}>}
 */
async function probe(base, signal) {
  try {
    const reply = await fetch(base + '/handshake', { ...CORS, signal });
    if (reply.ok) {
      // Another program on the port may answer anything: no app id is a wrong one.
      const body = await reply.json().catch(() => ({}));
      return { kind: 'ok', appId: String(body.app_id ?? ''), helperVersion: String(body.helper_version ?? '') };
    }
    return { kind: 'refused' };
  } catch (e) {
    if (signal && signal.aborted) throw e;
  }
  return { kind: (await answers(base, signal)) ? 'refused' : 'nothing' };
}

// Whether anything answers on the port at all (an opaque no-cors request).
async function answers(base, signal) {
  try {
    await fetch(base + '/handshake', { mode: 'no-cors', credentials: 'omit', cache: 'no-store', signal });
    return true;
  } catch (e) {
    if (signal && signal.aborted) throw e;
    return false;
  }
}

/**
 * Looks for the helper once on every port, in order; the first that answers with the
 * expected app id wins. Quiet mode sends one request per silent port, no follow-up.
 * @returns {Promise<ClientStatus>}
 */
async function search({ appId, ports, host, signal, onPending, quiet }) {
  const permission = await localNetworkPermission();
  let refused = false;
  /** @type {ClientStatus|null} */
  let wrong = null;
  for (const port of ports) {
    const base = `http://${host}:${port}`;
    // A pending permission prompt holds the request; say so while it waits.
    const slow = setTimeout(() => {
      if (permission && permission.state === 'prompt') onPending();
    }, 2500);
    let seen;
    try {
      // Quiet: one opaque request per port, and a full look only where something answers.
      seen = quiet && !(await answers(base, signal)) ? { kind: 'nothing' } : await probe(base, signal);
    } finally {
      clearTimeout(slow);
    }
    if (seen.kind === 'ok') {
      const status = { state: /** @type {ClientState} */ ('connected'), port, appId: seen.appId, helperVersion: seen.helperVersion };
      if (seen.appId === appId) return status;
      wrong = wrong || { ...status, state: 'wrong-app' };
    } else if (seen.kind === 'refused') {
      refused = true;
    }
  }
  if (wrong) return wrong;
  if (refused) return { state: 'origin-refused' };
  // Asked again: the browser settles the permission only as it blocks the request.
  const settled = await localNetworkPermission();
  if (settled && settled.state === 'denied') return { state: 'permission-denied' };
  return { state: 'not-running' };
}

/**
 * Looks for the helper once. Resolves with the connected status, or rejects with a
 * HelperError whose code says why not.
 * @param {{appId: string, ports?: readonly number[], host?: string, signal?: AbortSignal}} options
 * @returns {Promise<ClientStatus>}
 */
export async function findHelper({ appId, ports = HELPER_PORTS, host = '127.0.0.1', signal }) {
  const status = await search({ appId, ports, host, signal, onPending() {}, quiet: false });
  if (status.state !== 'connected') throw new HelperError(status.state, describeState(status.state), status);
  return status;
}

/** A page's connection to the helper: search, poll, hand events over, end the game. */
export class HelperClient {
  /** @param {ClientOptions} options */
  constructor(options) {
    if (!options || !options.appId) throw new TypeError('appId is required');
    this.appId = options.appId;
    this.queue = options.queue || randomQueueName();
    this.ports = options.ports || HELPER_PORTS;
    this.host = options.host || '127.0.0.1';
    this.maxRetryDelayMs = options.maxRetryDelayMs ?? 8000;
    this.pollTimeoutMs = options.pollTimeoutMs ?? 15000;
    this.onEvent = options.onEvent || (() => {});
    this.onStatus = options.onStatus || (() => {});
    this.onError = options.onError || ((e) => console.warn('webhelper client:', e));
    /** @type {ClientStatus} */
    this.status = { state: 'searching' };
    this._stop = new AbortController();
    this._wake = null;
    this._running = null;
    if (options.signal) {
      if (options.signal.aborted) this._stop.abort();
      else options.signal.addEventListener('abort', () => this.stop(), { once: true });
    }
  }

  /** Starts searching and polling; resolves when the client has stopped. */
  start() {
    if (!this._running) this._running = this._run();
    return this._running;
  }

  /** Stops the client: no request is left running once the returned promise resolves. */
  async stop() {
    this._stop.abort();
    if (this._running) await this._running;
    this._setStatus({ state: 'stopped' });
  }

  /**
   * Ends the game: "ended" when the helper ended it, "no-game" when it knows no game.
   * Rejects with a HelperError when no helper that accepts this page answers.
   * @returns {Promise<'ended'|'no-game'>}
   */
  async killGame() {
    const signal = this._stop.signal;
    const status = this.status.state === 'connected' ? this.status
      : await findHelper({ appId: this.appId, ports: this.ports, host: this.host, signal });
    const base = `http://${this.host}:${status.port}`;
    try {
      const reply = await fetch(base + '/killgame', { ...CORS, method: 'POST', signal });
      if (reply.ok) return 'ended';
    } catch (e) {
      if (signal.aborted) throw e;
    }
    // A 404 ("no game known") carries no CORS header, so the page cannot read it: the
    // same helper answering a handshake right after is what tells it from a lost helper.
    const again = await probe(base, signal);
    if (again.kind === 'ok') return 'no-game';
    const state = again.kind === 'refused' ? 'origin-refused' : 'not-running';
    throw new HelperError(state, describeState(state), { state });
  }

  _setStatus(status) {
    const same = this.status.state === status.state && this.status.port === status.port && this.status.appId === status.appId;
    this.status = status;
    if (!same) this.onStatus(status);
  }

  async _run() {
    const signal = this._stop.signal;
    const permission = await localNetworkPermission();
    // A granted permission is worth an immediate look.
    const onChange = () => this._wake && this._wake();
    if (permission) permission.addEventListener('change', onChange);
    let delay = 0;
    let quiet = false;
    this.onStatus(this.status);
    try {
      while (!signal.aborted) {
        if (delay) await this._rest(delay);
        if (signal.aborted) break;
        let found;
        try {
          found = await search({
            appId: this.appId, ports: this.ports, host: this.host, signal, quiet,
            onPending: () => this._setStatus({ state: 'permission-pending' }),
          });
        } catch (e) {
          if (signal.aborted) break;
          // Not expected of a browser; keep looking all the same.
          this.onError(e);
          found = { state: 'not-running' };
        }
        if (signal.aborted) break;
        this._setStatus(found);
        if (found.state !== 'connected') {
          // Back off, so that a page left open without a helper does not fill the
          // console: one failed request per port per search, further apart each time.
          delay = Math.min(Math.max(delay * 2, 1000), this.maxRetryDelayMs);
          quiet = found.state === 'not-running' || found.state === 'permission-denied';
          continue;
        }
        await this._pollWhileConnected(found.port);
        if (signal.aborted) break;
        this._setStatus({ state: 'searching' });
        delay = 0;
        quiet = false;
      }
    } finally {
      if (permission) permission.removeEventListener('change', onChange);
    }
  }

  // Waits ms, or less when woken (permission granted) or stopped.
  async _rest(ms) {
    const wake = new AbortController();
    this._wake = () => wake.abort();
    await sleep(ms, AbortSignal.any([this._stop.signal, wake.signal]));
    this._wake = null;
  }

  // Polls until a poll fails; each reply is one event or "null". One poll at a time,
  // back to back: the helper waits up to about a second for an event, so the queue is
  // touched far more often than the helper's minute of idleness allows.
  async _pollWhileConnected(port) {
    const url = `http://${this.host}:${port}/${encodeURIComponent(this.queue)}`;
    const signal = this._stop.signal;
    for (;;) {
      let text;
      try {
        const reply = await fetch(url, { ...CORS, signal: withTimeout(signal, this.pollTimeoutMs) });
        if (!reply.ok) return;
        text = await reply.text();
      } catch {
        return;
      }
      if (signal.aborted) return;
      let event;
      try {
        event = parseEvent(text);
      } catch (e) {
        this.onError(e);
        continue;
      }
      if (!event) continue;
      try {
        this.onEvent(event);
      } catch (e) {
        this.onError(e);
      }
    }
  }
}
