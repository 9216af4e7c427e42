// The game page's client of the web helper: finds the helper on its loopback ports,
// polls a queue of the page's own and hands each event to the page, ends the game,
// and says why it cannot reach the helper when it cannot. One ES module, no
// dependencies; every request it sends is a "simple" one, so no preflight.

/** This module's version; the same as in its package.json. */
export const VERSION = '2.0.0';

/** The helper's ports, in the order they are tried. */
export const HELPER_PORTS = Object.freeze([4219, 5219, 6219, 7219]);

/**
 * Where the client stands. Exactly one at a time:
 * - `searching`: looking for the helper (first look, or after losing it);
 * - `connected`: a helper with the expected app id answers on `port`;
 * - `subscribed`: the first poll of this connection came back, so the page's queue
 *   exists in the helper: every event the game sends from now on reaches the page;
 * - `not-running`: nothing answered on any port;
 * - `permission-pending`: the browser waits for the user to allow local network access;
 * - `permission-denied`: the browser blocks this page from the local network;
 * - `origin-refused`: a helper answered but refuses this page's origin;
 * - `wrong-app`: a helper answered, but for another game (`appId` says which);
 * - `stopped`: `stop()` was called or the signal aborted.
 * @typedef {'searching'|'connected'|'subscribed'|'not-running'|'permission-pending'|'permission-denied'|'origin-refused'|'wrong-app'|'stopped'} ClientState
 */

/**
 * @typedef {object} ClientStatus
 * @property {ClientState} state
 * @property {number} [port]           the port of the helper (connected, subscribed, wrong-app)
 * @property {string} [appId]          what the helper's handshake said
 * @property {string} [helperVersion]  what the helper's handshake said
 * @property {string} [reason]         searching again: why the connection was lost
 */

/**
 * One event of the game, as the helper queued it.
 * @typedef {object} HelperEvent
 * @property {string} gameId
 * @property {string} eventName
 * @property {string[]} params  the eight parameters, empty strings where unset
 * @property {'READY'|'GAMEISGONE'|null} state  set for the helper's own state changes
 * @property {number} [lost]  set on the helper's "EVENTSLOST" marker: how many events it dropped
 * @property {string} [raw]  set when the reply could not be split into fields without
 *   doubt (a word of the game held a tab): the reply as it came; `params` are then empty
 * @property {true} [ambiguous]  set together with `raw`
 */

/**
 * Why a call failed: a state the client can be in, or one of
 * - `bad-reply`: a poll's reply that is not an event;
 * - `callback`: a callback or listener of the page threw or rejected.
 * @typedef {ClientState|'bad-reply'|'callback'} HelperErrorCode
 */

/**
 * @typedef {object} ClientOptions
 * @property {string} appId  the game id the page expects in the handshake
 * @property {(event: HelperEvent) => unknown} [onEvent]  called once per event, in order
 * @property {(status: ClientStatus) => unknown} [onStatus]  called when the status changes
 * @property {(error: unknown) => unknown} [onError]  a callback that threw or rejected, a reply that is not an event
 * @property {(count: number, event: HelperEvent) => unknown} [onLost]  the helper dropped `count` events of this queue
 * @property {string} [queue]  the queue name; default a fresh random one per client
 * @property {readonly number[]} [ports]  default HELPER_PORTS
 * @property {string} [host]  default "127.0.0.1"
 * @property {AbortSignal} [signal]  aborting it stops the client for good
 * @property {number} [maxRetryDelayMs]  longest wait between two searches; default 8000, at least 1000
 * @property {number} [pollTimeoutMs]  a poll that takes longer counts as a lost helper; default 15000, at least 2000
 */

/** Failure of a call or of the client; `code` says what kind (a HelperErrorCode). */
export class HelperError extends Error {
  /**
   * @param {HelperErrorCode} code
   * @param {string} message
   * @param {ClientStatus} [status]
   * @param {unknown} [cause]
   */
  constructor(code, message, status, cause) {
    super(message, cause === undefined ? undefined : { cause });
    this.name = 'HelperError';
    /** @type {HelperErrorCode} */
    this.code = code;
    /** @type {ClientStatus|undefined} */
    this.status = status;
  }
}

/** @type {Record<ClientState, string>} */
const MESSAGES = {
  'searching': 'looking for the helper',
  'connected': 'the helper answers; subscribing to its events',
  'subscribed': 'connected to the helper; events arrive as the game sends them',
  'not-running': 'the helper is not running (nothing answers on its ports)',
  'permission-pending': 'the browser is asking the user to allow local network access',
  'permission-denied': "the browser blocks this page from the local network (the 'local network access' permission)",
  'origin-refused': "the helper answered but refuses this page's origin",
  'wrong-app': 'a helper answered, but for another game',
  'stopped': 'the client is stopped',
};

/**
 * A human-readable sentence for a state, for pages that show it as it is.
 * @param {ClientState} state
 * @returns {string}
 */
export function describeState(state) {
  return Object.prototype.hasOwnProperty.call(MESSAGES, state) ? MESSAGES[state] : String(state);
}

/** A fresh queue name that nobody else can guess. */
export function randomQueueName() {
  const bytes = new Uint8Array(16);
  crypto.getRandomValues(bytes);
  return 'page-' + Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

const LOST_MARKER = 'EVENTSLOST';

/**
 * Parses a poll's reply: ten fields, each followed by a tab, or "null" for nothing yet.
 * More fields than ten mean a word of the game held a tab: which one cannot be told,
 * so the event comes with its raw text. Anything else is not an event and throws.
 * @param {string} text
 * @returns {HelperEvent|null}
 */
export function parseEvent(text) {
  if (text === 'null') return null;
  const fields = text.split('\t');
  if (fields.length < 11 || fields[fields.length - 1] !== '') {
    throw new HelperError('bad-reply', `not an event: ${JSON.stringify(text.slice(0, 200))}`);
  }
  if (fields.length > 11) {
    return { gameId: fields[0], eventName: fields[1], params: Array(8).fill(''), state: null, raw: text, ambiguous: true };
  }
  const [gameId, eventName, ...params] = fields.slice(0, 10);
  const state = eventName === 'StateChanged' && (params[0] === 'READY' || params[0] === 'GAMEISGONE') ? params[0] : null;
  /** @type {HelperEvent} */
  const event = { gameId, eventName, params, state };
  if (eventName === LOST_MARKER && /^[0-9]+$/.test(params[0])) event.lost = Number(params[0]);
  return event;
}

/**
 * Resolves after ms, or at once when one of the signals aborts.
 * @param {number} ms
 * @param {AbortSignal[]} signals
 * @returns {Promise<void>}
 */
function sleep(ms, signals) {
  return new Promise((resolve) => {
    if (signals.some((s) => s.aborted)) return resolve();
    const timer = setTimeout(done, ms);
    function done() {
      clearTimeout(timer);
      for (const s of signals) s.removeEventListener('abort', done);
      resolve();
    }
    for (const s of signals) s.addEventListener('abort', done, { once: true });
  });
}

/**
 * A signal that aborts with the parent or after ms. Built by hand: AbortSignal.any and
 * AbortSignal.timeout are missing from browsers this client supports.
 * @param {AbortSignal} parent
 * @param {number} ms
 * @returns {{signal: AbortSignal, done: () => void}}  call done() once the request is over
 */
function withTimeout(parent, ms) {
  const controller = new AbortController();
  const abort = () => controller.abort();
  const timer = setTimeout(abort, ms);
  if (parent.aborted) abort();
  else parent.addEventListener('abort', abort, { once: true });
  return {
    signal: controller.signal,
    done() {
      clearTimeout(timer);
      parent.removeEventListener('abort', abort);
    },
  };
}

// Only plain GETs and body-less POSTs with no custom header: the helper answers no preflight.
/** @type {RequestInit} */
const CORS = { mode: 'cors', credentials: 'omit', cache: 'no-store', referrerPolicy: 'no-referrer' };

/**
 * The browser's local-network permission, where it can be asked about.
 * @returns {Promise<PermissionStatus|null>}
 */
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
 * @param {string} base
 * @param {AbortSignal|undefined} signal
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
  return { kind: (await answers(base + '/handshake', 'GET', signal)) ? 'refused' : 'nothing' };
}

/**
 * Whether anything answers at the URL at all (an opaque no-cors request).
 * @param {string} url
 * @param {'GET'|'POST'} method
 * @param {AbortSignal|undefined} signal
 */
async function answers(url, method, signal) {
  try {
    await fetch(url, { mode: 'no-cors', credentials: 'omit', cache: 'no-store', referrerPolicy: 'no-referrer', method, signal });
    return true;
  } catch (e) {
    if (signal && signal.aborted) throw e;
    return false;
  }
}

/**
 * Looks for the helper once on every port, in order; the first that answers with the
 * expected app id wins. Quiet mode sends one request per silent port, no follow-up.
 * @param {{appId: string, ports: readonly number[], host: string, signal?: AbortSignal, onPending: () => void, quiet: boolean}} args
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
    /** @type {Awaited<ReturnType<typeof probe>>} */
    let seen;
    try {
      // Quiet: one opaque request per port, and a full look only where something answers.
      seen = quiet && !(await answers(base + '/handshake', 'GET', signal)) ? { kind: 'nothing' } : await probe(base, signal);
    } finally {
      clearTimeout(slow);
    }
    if (seen.kind === 'ok') {
      /** @type {ClientStatus} */
      const status = { state: 'connected', port, appId: seen.appId, helperVersion: seen.helperVersion };
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
 * @param {unknown} ports
 * @returns {readonly number[]}
 */
function checkPorts(ports) {
  if (!Array.isArray(ports) || ports.length === 0 || !ports.every((p) => Number.isInteger(p) && p > 0 && p < 65536)) {
    throw new TypeError(`ports must be a non-empty array of port numbers, not ${JSON.stringify(ports)}`);
  }
  return Object.freeze([...ports]);
}

/**
 * @param {unknown} host
 * @returns {string}
 */
function checkHost(host) {
  if (typeof host !== 'string' || !/^[A-Za-z0-9.-]+$|^\[[0-9A-Fa-f:.]+\]$/.test(host)) {
    throw new TypeError(`host must be a host name or address, not ${JSON.stringify(host)}`);
  }
  return host;
}

/**
 * @param {unknown} appId
 * @returns {string}
 */
function checkAppId(appId) {
  if (typeof appId !== 'string' || appId === '') throw new TypeError('appId is required: the game id the helper must name');
  return appId;
}

// What the helper answers itself whatever the page meant: a queue of such a name would
// never be polled (and "killgame" would end the game at every poll). The browser turns
// a path of "." or ".." into "/", the empty name.
const RESERVED_QUEUES = ['', 'handshake', 'killgame', 'favicon.ico', '.', '..'];

/**
 * @param {unknown} queue
 * @returns {string}
 */
function checkQueue(queue) {
  if (typeof queue !== 'string') throw new TypeError(`queue must be a string, not ${typeof queue}`);
  if (RESERVED_QUEUES.includes(queue)) {
    throw new RangeError(`queue ${JSON.stringify(queue)} is a name the helper keeps for itself (${RESERVED_QUEUES.slice(1).join(', ')} or empty)`);
  }
  return queue;
}

/**
 * @param {string} name
 * @param {unknown} value
 * @param {number} min
 * @returns {number}
 */
function checkDelay(name, value, min) {
  // setTimeout fires at once beyond 2^31 - 1 ms.
  if (typeof value !== 'number' || !(value >= min && value <= 0x7fffffff)) {
    throw new RangeError(`${name} must be a number of milliseconds from ${min} to ${0x7fffffff}, not ${String(value)}`);
  }
  return value;
}

/**
 * @param {string} name
 * @param {unknown} value
 * @returns {any}
 */
function checkCallback(name, value) {
  if (value !== undefined && typeof value !== 'function') throw new TypeError(`${name} must be a function`);
  return value;
}

/**
 * Looks for the helper once. Resolves with the connected status, or rejects with a
 * HelperError whose code says why not.
 * @param {{appId: string, ports?: readonly number[], host?: string, signal?: AbortSignal}} options
 * @returns {Promise<ClientStatus>}
 */
export async function findHelper({ appId, ports = HELPER_PORTS, host = '127.0.0.1', signal }) {
  const status = await search({
    appId: checkAppId(appId), ports: checkPorts(ports), host: checkHost(host), signal, onPending() {}, quiet: false,
  });
  if (status.state !== 'connected') throw new HelperError(status.state, describeState(status.state), status);
  return status;
}

/**
 * @template T
 * @returns {{promise: Promise<T>, resolve: (value: T) => void, reject: (reason: unknown) => void}}
 */
function deferred() {
  /** @type {(value: T) => void} */
  let resolve = () => {};
  /** @type {(reason: unknown) => void} */
  let reject = () => {};
  const promise = new Promise((res, rej) => { resolve = res; reject = rej; });
  return { promise, resolve, reject };
}

/** @param {ClientState} state */
const isUp = (state) => state === 'connected' || state === 'subscribed';

const stoppedError = () => new HelperError('stopped', 'the client is stopped: call start() first', { state: 'stopped' });

/**
 * A page's connection to the helper: search, poll, hand events over, end the game.
 * Also an EventTarget: "status", "event", "lost" and "error" events carry in `detail`
 * what the callbacks of the same names get.
 */
export class HelperClient extends EventTarget {
  /** The options as given, checked. */
  #appId;
  #queue;
  #ports;
  #host;
  #maxRetryDelayMs;
  #pollTimeoutMs;
  /** @type {ClientOptions} */
  #callbacks;
  /** @type {AbortSignal|undefined} */
  #signal;
  /** @type {ClientStatus} */
  #status = { state: 'searching' };
  /** Aborted by stop(); a fresh one per start(). */
  #stop = new AbortController();
  /** Wakes the search loop from its wait. */
  #wake = new AbortController();
  /** @type {Promise<void>|null} the running loop */
  #running = null;
  /** Whether the page's last word was start() rather than stop(). */
  #wanted = false;
  /** @type {Set<ReturnType<typeof deferred<ClientStatus>>>} */
  #waitingUp = new Set();
  /** @type {Set<ReturnType<typeof deferred<ClientStatus>>>} */
  #waitingSubscribed = new Set();
  /** Listeners of the page, wrapped so that what they throw reaches onError. */
  /** @type {WeakMap<object, EventListener>} */
  #wrapped = new WeakMap();
  /** Whether the helper's own stream says a game runs: null when it cannot tell. */
  /** @type {boolean|null} */
  #gameRunning = null;

  /** @param {ClientOptions} options */
  constructor(options) {
    super();
    if (!options || typeof options !== 'object') throw new TypeError('options are required: { appId, ... }');
    this.#appId = checkAppId(options.appId);
    this.#queue = options.queue === undefined ? randomQueueName() : checkQueue(options.queue);
    this.#ports = options.ports === undefined ? HELPER_PORTS : checkPorts(options.ports);
    this.#host = options.host === undefined ? '127.0.0.1' : checkHost(options.host);
    this.#maxRetryDelayMs = checkDelay('maxRetryDelayMs', options.maxRetryDelayMs ?? 8000, 1000);
    this.#pollTimeoutMs = checkDelay('pollTimeoutMs', options.pollTimeoutMs ?? 15000, 2000);
    for (const name of /** @type {const} */ (['onEvent', 'onStatus', 'onError', 'onLost'])) checkCallback(name, options[name]);
    this.#callbacks = { ...options };
    if (options.signal !== undefined && !(options.signal instanceof AbortSignal)) throw new TypeError('signal must be an AbortSignal');
    this.#signal = options.signal;
    if (this.#signal) {
      if (this.#signal.aborted) this.#status = { state: 'stopped' };
      else this.#signal.addEventListener('abort', () => { this.stop(); }, { once: true });
    }
  }

  /** The game id the helper must name. */
  get appId() { return this.#appId; }

  /** The queue name in use. */
  get queue() { return this.#queue; }

  /** The current status. */
  get status() { return this.#status; }

  /**
   * Starts searching and polling, or starts again after `stop()`; the returned promise
   * resolves once the client runs (`whenSubscribed()` waits for events to flow). With
   * an aborted signal the client stays stopped and sends nothing.
   * @returns {Promise<void>}
   */
  async start() {
    if (this.#signal && this.#signal.aborted) {
      this.#setStatus({ state: 'stopped' });
      return;
    }
    this.#wanted = true;
    if (this.#running && !this.#stop.signal.aborted) return;
    // Started again while stopping: the old loop ends first.
    if (this.#running) await this.#running;
    if (this.#running || !this.#wanted) return;
    this.#stop = new AbortController();
    this.#setStatus({ state: 'searching' }, true);
    this.#running = this.#run().catch((e) => this.#report(e)).finally(() => { this.#running = null; });
  }

  /**
   * Stops the client: no request is left running once the returned promise resolves.
   * The status becomes `stopped`; `start()` starts it again.
   * @returns {Promise<void>}
   */
  async stop() {
    this.#wanted = false;
    this.#stop.abort();
    if (this.#running) await this.#running;
    // A start() that came meanwhile wins.
    if (!this.#wanted) this.#setStatus({ state: 'stopped' });
  }

  /**
   * Resolves with the status once a helper with the expected app id answers (at once
   * when it does); rejects with a HelperError ("stopped") when the client stops first.
   * @returns {Promise<ClientStatus>}
   */
  whenConnected() {
    return this.#when(isUp(this.#status.state), this.#waitingUp);
  }

  /**
   * Resolves with the status once the client is subscribed: its queue exists in the
   * helper, so every event the game sends from then on reaches the page. Rejects with a
   * HelperError ("stopped") when the client stops first.
   * @returns {Promise<ClientStatus>}
   */
  whenSubscribed() {
    return this.#when(this.#status.state === 'subscribed', this.#waitingSubscribed);
  }

  /**
   * @param {boolean} already
   * @param {Set<ReturnType<typeof deferred<ClientStatus>>>} waiting
   * @returns {Promise<ClientStatus>}
   */
  #when(already, waiting) {
    if (this.#status.state === 'stopped') return Promise.reject(stoppedError());
    if (already) return Promise.resolve(this.#status);
    /** @type {ReturnType<typeof deferred<ClientStatus>>} */
    const d = deferred();
    waiting.add(d);
    return d.promise;
  }

  /**
   * Looks for the helper now instead of at the end of the current wait (a page's "try
   * again" button). Does nothing while connected. Throws a HelperError when stopped.
   */
  searchNow() {
    if (this.#status.state === 'stopped') throw stoppedError();
    this.#wake.abort();
  }

  /**
   * The events from now on, for `for await`; the loop ends when the client stops. The
   * events wait in memory until the loop takes them. Throws a HelperError when stopped.
   * @returns {AsyncIterableIterator<HelperEvent>}
   */
  events() {
    if (this.#status.state === 'stopped') throw stoppedError();
    /** @type {HelperEvent[]} */
    const buffered = [];
    /** @type {ReturnType<typeof deferred<IteratorResult<HelperEvent>>>|null} */
    let waiting = null;
    let ended = false;
    /** @param {IteratorResult<HelperEvent>} result */
    const settle = (result) => {
      const w = waiting;
      waiting = null;
      if (w) w.resolve(result);
    };
    /** @param {Event} e */
    const onEvent = (e) => {
      const event = /** @type {CustomEvent<HelperEvent>} */ (e).detail;
      if (waiting) settle({ value: event, done: false });
      else buffered.push(event);
    };
    /** @param {Event} e */
    const onStatus = (e) => {
      if (/** @type {CustomEvent<ClientStatus>} */ (e).detail.state === 'stopped') finish();
    };
    const finish = () => {
      ended = true;
      EventTarget.prototype.removeEventListener.call(this, 'event', onEvent);
      EventTarget.prototype.removeEventListener.call(this, 'status', onStatus);
      settle({ value: undefined, done: true });
    };
    // Not through this.addEventListener: the iterator is the client's own, not a page's.
    EventTarget.prototype.addEventListener.call(this, 'event', onEvent);
    EventTarget.prototype.addEventListener.call(this, 'status', onStatus);
    /** @type {AsyncIterableIterator<HelperEvent>} */
    const iterator = {
      next() {
        const first = buffered.shift();
        if (first) return Promise.resolve({ value: first, done: false });
        if (ended) return Promise.resolve({ value: undefined, done: true });
        waiting = deferred();
        return waiting.promise;
      },
      return() {
        buffered.length = 0;
        finish();
        return Promise.resolve({ value: undefined, done: true });
      },
      [Symbol.asyncIterator]() { return iterator; },
    };
    return iterator;
  }

  /** `for await (const event of client)`: the same as `client.events()`. */
  [Symbol.asyncIterator]() {
    return this.events();
  }

  /**
   * Adds a listener of "status", "event", "lost" or "error"; what it throws or rejects
   * reaches onError, as for the callbacks.
   * @param {string} type
   * @param {EventListenerOrEventListenerObject|null} listener
   * @param {boolean|AddEventListenerOptions} [options]
   */
  addEventListener(type, listener, options) {
    super.addEventListener(type, listener && this.#wrap(listener, type === 'error'), options);
  }

  /**
   * @param {string} type
   * @param {EventListenerOrEventListenerObject|null} listener
   * @param {boolean|EventListenerOptions} [options]
   */
  removeEventListener(type, listener, options) {
    super.removeEventListener(type, (listener && this.#wrapped.get(listener)) || listener, options);
  }

  /**
   * One wrapper per listener, so that adding it twice and removing it behave as usual.
   * @param {EventListenerOrEventListenerObject} listener
   * @param {boolean} isErrorListener
   * @returns {EventListener}
   */
  #wrap(listener, isErrorListener) {
    let wrapper = this.#wrapped.get(listener);
    if (!wrapper) {
      const client = this;
      /** @type {EventListener} */
      wrapper = function (event) {
        const call = () => (typeof listener === 'function' ? listener.call(client, event) : listener.handleEvent(event));
        client.#guard(call, isErrorListener);
      };
      this.#wrapped.set(listener, wrapper);
    }
    return wrapper;
  }

  /**
   * Ends the game. Resolves "ended" when the helper ended it, "no-game" when the helper
   * took the request and no game runs, "unknown" when the helper answers but whether the
   * request reached the game cannot be told. Rejects with a HelperError when no helper
   * that accepts this page answers, or the client is stopped.
   * @returns {Promise<'ended'|'no-game'|'unknown'>}
   */
  async killGame() {
    if (this.#status.state === 'stopped') throw stoppedError();
    const signal = this.#stop.signal;
    try {
      const status = isUp(this.#status.state) ? this.#status
        : await findHelper({ appId: this.#appId, ports: this.#ports, host: this.#host, signal });
      const base = `http://${this.#host}:${status.port}`;
      try {
        const reply = await fetch(base + '/killgame', { ...CORS, method: 'POST', signal });
        if (reply.ok) return 'ended';
      } catch (e) {
        if (signal.aborted) throw e;
      }
      // "No game known" (404) carries no CORS header, so it reads as a lost request. An
      // opaque second try tells: it gets through only when the helper answers it, and
      // then, whether it was refused or a game ran and it ended it now, no game runs.
      const answered = await answers(base + '/killgame', 'POST', signal);
      const again = await probe(base, signal);
      if (again.kind === 'ok') {
        if (!answered) return 'unknown';
        return this.#gameRunning === true ? 'ended' : 'no-game';
      }
      const state = again.kind === 'refused' ? 'origin-refused' : 'not-running';
      throw new HelperError(state, describeState(state), { state });
    } catch (e) {
      if (signal.aborted) throw stoppedError();
      throw e;
    }
  }

  /**
   * @param {ClientStatus} status
   * @param {boolean} [always]  report even when unchanged
   */
  #setStatus(status, always = false) {
    const old = this.#status;
    const same = old.state === status.state && old.port === status.port && old.appId === status.appId;
    this.#status = status;
    if (same && !always) return;
    if (isUp(status.state)) this.#settle(this.#waitingUp, status);
    if (status.state === 'subscribed') this.#settle(this.#waitingSubscribed, status);
    if (status.state === 'stopped') {
      this.#settle(this.#waitingUp, stoppedError());
      this.#settle(this.#waitingSubscribed, stoppedError());
    }
    this.#emit('status', status, this.#callbacks.onStatus);
  }

  /**
   * @param {Set<ReturnType<typeof deferred<ClientStatus>>>} waiting
   * @param {ClientStatus|HelperError} outcome
   */
  #settle(waiting, outcome) {
    for (const d of waiting) {
      if (outcome instanceof HelperError) d.reject(outcome);
      else d.resolve(outcome);
    }
    waiting.clear();
  }

  /**
   * Calls the page's callback and then its listeners, each isolated.
   * @param {string} type
   * @param {unknown} detail
   * @param {((detail: any, ...rest: any[]) => unknown)|undefined} callback
   * @param {unknown[]} [rest]
   */
  #emit(type, detail, callback, rest = []) {
    if (callback) this.#guard(() => callback.call(undefined, detail, ...rest), type === 'error');
    this.dispatchEvent(new CustomEvent(type, { detail }));
  }

  /**
   * Runs a page's code: a throw or a rejected promise goes to onError (and the console),
   * never into the client. What onError itself throws goes to the console only.
   * @param {() => unknown} call
   * @param {boolean} isErrorHandler
   */
  #guard(call, isErrorHandler) {
    /** @param {unknown} e */
    const failed = (e) => {
      if (isErrorHandler) console.error('webhelper client: the error handler failed:', e);
      else this.#report(new HelperError('callback', `a callback of the page failed: ${e instanceof Error ? e.message : String(e)}`, undefined, e));
    };
    try {
      const result = call();
      if (result && typeof (/** @type {any} */ (result).then) === 'function') {
        /** @type {PromiseLike<unknown>} */ (result).then(undefined, failed);
      }
    } catch (e) {
      failed(e);
    }
  }

  /** @param {unknown} error */
  #report(error) {
    console.warn('webhelper client:', error);
    this.#emit('error', error, this.#callbacks.onError);
  }

  /** @param {HelperEvent} event */
  #deliver(event) {
    if (event.state === 'READY') this.#gameRunning = true;
    if (event.state === 'GAMEISGONE') this.#gameRunning = false;
    this.#emit('event', event, this.#callbacks.onEvent);
    if (event.lost !== undefined) this.#emit('lost', event.lost, this.#callbacks.onLost, [event]);
  }

  async #run() {
    const signal = this.#stop.signal;
    const permission = await localNetworkPermission();
    // A granted permission is worth an immediate look.
    const onChange = () => this.#wake.abort();
    if (permission) permission.addEventListener('change', onChange);
    let delay = 0;
    let quiet = false;
    try {
      while (!signal.aborted) {
        if (delay) await this.#rest(delay);
        if (signal.aborted) break;
        // A wake that came before this search is used up by it.
        this.#wake = new AbortController();
        /** @type {ClientStatus} */
        let found;
        try {
          found = await search({
            appId: this.#appId, ports: this.#ports, host: this.#host, signal, quiet,
            onPending: () => this.#setStatus({ state: 'permission-pending' }),
          });
        } catch (e) {
          if (signal.aborted) break;
          // Not expected of a browser; keep looking all the same.
          this.#report(e);
          found = { state: 'not-running' };
        }
        if (signal.aborted) break;
        this.#setStatus(found);
        // Back off on every failure, so that a page left open without a helper does not
        // fill the console: further apart each time. Only a connection that delivered
        // looks again at once when it is lost.
        const next = Math.min(Math.max(delay * 2, 1000), this.#maxRetryDelayMs);
        if (found.state !== 'connected') {
          delay = next;
          quiet = found.state === 'not-running' || found.state === 'permission-denied';
          continue;
        }
        quiet = false;
        this.#gameRunning = null;
        const reason = await this.#pollWhileConnected(found);
        if (signal.aborted) break;
        this.#setStatus({ state: 'searching', reason: reason.why });
        delay = reason.subscribed ? 0 : next;
      }
    } finally {
      if (permission) permission.removeEventListener('change', onChange);
    }
  }

  /**
   * Waits ms, or less when woken (permission granted, searchNow) or stopped.
   * @param {number} ms
   */
  async #rest(ms) {
    await sleep(ms, [this.#stop.signal, this.#wake.signal]);
  }

  /**
   * Polls until a poll fails; each reply is one event or "null". One poll at a time,
   * back to back: the helper waits up to about a second for an event, so the queue is
   * touched far more often than the helper's minute of idleness allows. A reply that is
   * not an event is reported and polled again after a wait that grows.
   * @param {ClientStatus} connected
   * @returns {Promise<{why: string, subscribed: boolean}>}
   */
  async #pollWhileConnected(connected) {
    const url = `http://${this.#host}:${connected.port}/${encodeURIComponent(this.#queue)}`;
    const signal = this.#stop.signal;
    let subscribed = false;
    let badDelay = 0;
    for (;;) {
      const started = Date.now();
      const timeout = withTimeout(signal, this.#pollTimeoutMs);
      let text;
      try {
        const reply = await fetch(url, { ...CORS, signal: timeout.signal });
        if (!reply.ok) return { why: `a poll was answered with status ${reply.status}`, subscribed };
        text = await reply.text();
      } catch (e) {
        const why = signal.aborted ? 'stopped'
          : timeout.signal.aborted ? `a poll took longer than ${this.#pollTimeoutMs} ms`
          : `a poll failed: ${e instanceof Error ? e.message : String(e)}`;
        return { why, subscribed };
      } finally {
        timeout.done();
      }
      // The event was taken from the queue: it is handed over even when stop() came meanwhile.
      let event = null;
      let bad = null;
      try {
        event = parseEvent(text);
      } catch (e) {
        bad = e;
      }
      if (!subscribed && !bad) {
        subscribed = true;
        if (!signal.aborted) this.#setStatus({ ...connected, state: 'subscribed' });
      }
      if (event) this.#deliver(event);
      if (signal.aborted) return { why: 'stopped', subscribed };
      if (bad) {
        this.#report(bad);
        badDelay = Math.min(Math.max(badDelay * 2, 1000), this.#maxRetryDelayMs);
        await sleep(badDelay, [signal]);
        continue;
      }
      badDelay = 0;
      // The helper holds a poll for about a second when it has nothing: a "null" that
      // comes back at once is not the helper, and must not turn into a loop.
      if (!event) await sleep(500 - (Date.now() - started), [signal]);
    }
  }
}
