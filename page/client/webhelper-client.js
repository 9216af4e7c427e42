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
 * - `not-running`: nothing answered on any port (`reason` says what was seen);
 * - `blocked`: the browser itself stopped the requests (`blockedBy` says why);
 * - `permission-pending`: the browser waits for the user to allow local network access;
 * - `permission-denied`: the browser blocks this page from the local network;
 * - `origin-refused`: a helper answered but refuses this page's origin;
 * - `wrong-app`: a helper answered, but for another game (`appId` says which);
 * - `stopped`: `stop()` was called or the signal aborted.
 * @typedef {'searching'|'connected'|'subscribed'|'not-running'|'blocked'|'permission-pending'|'permission-denied'|'origin-refused'|'wrong-app'|'stopped'} ClientState
 */

/**
 * Why the browser stopped the requests:
 * - `mixed-content`: the page is https and this browser refuses http requests to the
 *   computer's own address from it;
 * - `insecure-context`: the page is not a secure context (plain http from another
 *   host), and this browser lets no such page reach the local network.
 * @typedef {'mixed-content'|'insecure-context'} BlockedBy
 */

/**
 * A helper with the expected app id answers (`connected`), and the page's queue exists
 * in it (`subscribed`).
 * @typedef {object} ConnectedStatus
 * @property {'connected'|'subscribed'} state
 * @property {number} port           the helper's port
 * @property {string} appId          what the helper's handshake said
 * @property {string} helperVersion  what the helper's handshake said
 */

/**
 * A helper answered, but with another app id.
 * @typedef {object} WrongAppStatus
 * @property {'wrong-app'} state
 * @property {number} port
 * @property {string} appId          the app id it named
 * @property {string} helperVersion
 */

/**
 * @typedef {object} SearchingStatus
 * @property {'searching'} state
 * @property {string} [reason]  searching again: why the connection was lost
 */

/**
 * @typedef {object} NotRunningStatus
 * @property {'not-running'} state
 * @property {string} reason  what the search saw: nothing listening, or a port that accepted and did not answer
 */

/**
 * @typedef {object} BlockedStatus
 * @property {'blocked'} state
 * @property {BlockedBy} blockedBy
 */

/**
 * The browser's permission, or the helper, stands in the way.
 * @typedef {object} RefusedStatus
 * @property {'permission-pending'|'permission-denied'|'origin-refused'} state
 */

/**
 * @typedef {object} StoppedStatus
 * @property {'stopped'} state
 */

/**
 * How a search that found no helper for this page ended.
 * @typedef {NotRunningStatus|BlockedStatus|RefusedStatus|WrongAppStatus} UnreachableStatus
 */

/**
 * The client's status: one shape per state, told apart by `state`.
 * @typedef {SearchingStatus|ConnectedStatus|UnreachableStatus|StoppedStatus} ClientStatus
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
 * Why a call failed, or what onError got: where the helper could not be reached (the
 * state the search ended in), or
 * - `stopped`: the client is stopped, or stopped while the call waited;
 * - `bad-reply`: a poll's reply that is not an event (onError);
 * - `callback`: a callback or listener of the page threw or rejected (onError).
 * @typedef {'not-running'|'blocked'|'permission-pending'|'permission-denied'|'origin-refused'|'wrong-app'|'stopped'|'bad-reply'|'callback'} HelperErrorCode
 */

/**
 * What the client's listeners get, by event type: `detail` holds what the callback of
 * the same name gets.
 * @typedef {object} HelperClientEventMap
 * @property {CustomEvent<ClientStatus>} status
 * @property {CustomEvent<HelperEvent>} event
 * @property {CustomEvent<number>} lost
 * @property {CustomEvent<unknown>} error
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
 * @property {number} [requestTimeoutMs]  a handshake or kill request that takes longer counts as unanswered; default 3000, at least 500
 */

/**
 * What a call that waits can be given.
 * @typedef {object} WaitOptions
 * @property {AbortSignal} [signal]  aborting it rejects the call with the signal's reason
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
  'not-running': 'the helper is not running (nothing answers on its ports): start the game',
  'blocked': "the browser stopped this page's requests to the helper",
  'permission-pending': 'the browser is asking the user to allow local network access: answer its prompt',
  'permission-denied': "the browser blocks this page from the local network: allow 'local network access' for this site (no reload needed)",
  'origin-refused': "the helper answered but refuses this page's origin",
  'wrong-app': 'a helper answered, but for another game',
  'stopped': 'the client is stopped',
};

/** @type {Record<BlockedBy, string>} */
const BLOCKED = {
  'mixed-content': 'this browser does not let an https page reach programs on this computer, such as the helper: use another browser for this page',
  'insecure-context': 'the browser lets only secure pages reach programs on this computer: the page must be served over https (or from localhost)',
};

/**
 * A sentence for a state, or for a status (which says more where it can: why the
 * browser blocks the page), for pages that show it as it is.
 * @param {ClientState|ClientStatus} state
 * @returns {string}
 */
export function describeState(state) {
  if (state && typeof state === 'object') {
    if (state.state === 'blocked' && Object.prototype.hasOwnProperty.call(BLOCKED, state.blockedBy)) return BLOCKED[state.blockedBy];
    return describeState(state.state);
  }
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
 * Why the signal aborted: its reason, or an AbortError in browsers whose signals carry none.
 * @param {AbortSignal} signal
 * @returns {unknown}
 */
const reasonOf = (signal) => (signal.reason !== undefined ? signal.reason : new DOMException('The operation was aborted.', 'AbortError'));

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
 * A signal that aborts when one of the parents does, or after ms when given. Built by
 * hand: AbortSignal.any and AbortSignal.timeout are missing from browsers this client
 * supports.
 * @param {(AbortSignal|undefined)[]} parents
 * @param {number} [ms]
 * @returns {{signal: AbortSignal, timedOut: () => boolean, done: () => void}}  call done() once it is no longer needed
 */
function linked(parents, ms) {
  const controller = new AbortController();
  const own = /** @type {AbortSignal[]} */ (parents.filter(Boolean));
  let expired = false;
  /** @param {AbortSignal} [from] */
  const abort = (from) => controller.abort(from && reasonOf(from));
  const timer = ms === undefined ? undefined : setTimeout(() => { expired = true; abort(); }, ms);
  /** @type {[AbortSignal, () => void][]} */
  const listeners = [];
  for (const parent of own) {
    if (parent.aborted) {
      abort(parent);
    } else {
      const listener = () => abort(parent);
      listeners.push([parent, listener]);
      parent.addEventListener('abort', listener, { once: true });
    }
  }
  return {
    signal: controller.signal,
    timedOut: () => expired && !own.some((parent) => parent.aborted),
    done() {
      clearTimeout(timer);
      for (const [parent, listener] of listeners) parent.removeEventListener('abort', listener);
    },
  };
}

// Only plain GETs and body-less POSTs with no custom header: the helper answers no preflight.
/** @type {RequestInit} */
const CORS = { mode: 'cors', credentials: 'omit', cache: 'no-store', referrerPolicy: 'no-referrer' };
/** @type {RequestInit} */
const OPAQUE = { ...CORS, mode: 'no-cors' };

/**
 * One request with a time limit, its body read within the same limit. Resolves with the
 * reply and its text, "failed" when the browser reports a network error (nothing
 * listens, the browser blocked it, or an unreadable refusal), or "silent" when nothing
 * came within ms (a program that accepts and never answers, or a browser that holds the
 * request). Rejects only when signal aborts.
 * @param {string} url
 * @param {RequestInit} init
 * @param {AbortSignal|undefined} signal
 * @param {number} ms
 * @returns {Promise<{reply: Response, text: string}|'failed'|'silent'>}
 */
async function send(url, init, signal, ms) {
  if (signal && signal.aborted) throw reasonOf(signal);
  const limit = linked([signal], ms);
  try {
    const reply = await fetch(url, { ...init, signal: limit.signal });
    return { reply, text: await reply.text() };
  } catch {
    if (signal && signal.aborted) throw reasonOf(signal);
    return limit.timedOut() ? 'silent' : 'failed';
  } finally {
    limit.done();
  }
}

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

/** @typedef {{kind: 'ok', appId: string, helperVersion: string}|{kind: 'refused'|'nothing'|'silent'}} Seen */

/**
 * One look at one port. CORS first: only an allowed page can read the handshake. When
 * that fails, an opaque no-cors request tells "something answered, but not to us" from
 * "nothing is reachable" (a refused origin gets 403 without the header that would let
 * the page read it). A port that lets the time limit pass is not asked again.
 * @param {string} base
 * @param {AbortSignal|undefined} signal
 * @param {number} ms
 * @returns {Promise<Seen>}
 */
async function probe(base, signal, ms) {
  const got = await send(base + '/handshake', CORS, signal, ms);
  if (got === 'silent') return { kind: 'silent' };
  if (got !== 'failed') {
    if (!got.reply.ok) return { kind: 'refused' };
    // Another program on the port may answer anything: no app id is a wrong one.
    let body = {};
    try {
      body = JSON.parse(got.text) ?? {};
    } catch {
      // Not the helper's JSON.
    }
    const { app_id: appId, helper_version: version } = /** @type {{app_id?: unknown, helper_version?: unknown}} */ (body);
    return { kind: 'ok', appId: String(appId ?? ''), helperVersion: String(version ?? '') };
  }
  return { kind: await opaque(base + '/handshake', 'GET', signal, ms) };
}

/**
 * Whether anything answers at the URL at all (an opaque no-cors request).
 * @param {string} url
 * @param {'GET'|'POST'} method
 * @param {AbortSignal|undefined} signal
 * @param {number} ms
 * @returns {Promise<'refused'|'nothing'|'silent'>}  "refused": something answered
 */
async function opaque(url, method, signal, ms) {
  const got = await send(url, { ...OPAQUE, method }, signal, ms);
  return got === 'failed' ? 'nothing' : got === 'silent' ? 'silent' : 'refused';
}

/** @type {Map<string, boolean>} what each loopback address's check found, once per page */
const mixedContentChecked = new Map();

/**
 * Whether the browser refuses plain-http requests to the helper from this https page
 * (WebKit does: mixed content; Chromium and Firefox count loopback as trustworthy).
 * The browser says so at once by refusing to queue a beacon; anywhere else the beacon
 * leaves like any request, so this is asked only once every request of a search has
 * failed, once per page.
 * @param {string} url
 * @returns {boolean}
 */
function mixedContentBlocked(url) {
  if (typeof location === 'undefined' || location.protocol !== 'https:') return false;
  if (typeof navigator === 'undefined' || typeof navigator.sendBeacon !== 'function') return false;
  let blocked = mixedContentChecked.get(url);
  if (blocked === undefined) {
    try {
      blocked = !navigator.sendBeacon(url);
    } catch {
      blocked = false;
    }
    mixedContentChecked.set(url, blocked);
  }
  return blocked;
}

/**
 * Whether the page itself is on this computer's loopback address: a browser never holds
 * its requests to the helper for a local-network prompt.
 * @returns {boolean}
 */
function pageOnLoopback() {
  if (typeof location === 'undefined') return false;
  const host = location.hostname;
  return host === 'localhost' || host.endsWith('.localhost') || /^127\.\d+\.\d+\.\d+$/.test(host) || host === '[::1]';
}

/**
 * Names ports in a sentence: "4219", "4219 and 5219", "4219, 5219 and 6219".
 * @param {number[]} ports
 */
const listPorts = (ports) => (ports.length < 2 ? String(ports[0]) : `${ports.slice(0, -1).join(', ')} and ${ports[ports.length - 1]}`);

/**
 * Looks for the helper once on every port, in order; the first that answers with the
 * expected app id wins. Quiet mode sends one request per silent port, no follow-up.
 * @param {{appId: string, ports: readonly number[], host: string, signal?: AbortSignal, timeoutMs: number, onPending: () => void, quiet: boolean}} args
 * @returns {Promise<ConnectedStatus|UnreachableStatus>}
 */
async function search({ appId, ports, host, signal, timeoutMs, onPending, quiet }) {
  const permission = await localNetworkPermission();
  let refused = false;
  /** @type {WrongAppStatus|null} */
  let wrong = null;
  /** @type {number[]} */
  const silent = [];
  /** @type {number[]} */
  const nothing = [];
  let answered = false;
  // A browser that holds requests for its prompt holds them all, and never those of a
  // page on loopback: a port that failed at once, or answered, shows that it does not.
  const mayBeHeld = () => !nothing.length && !answered && !pageOnLoopback();
  for (const port of ports) {
    if (signal && signal.aborted) throw reasonOf(signal);
    const base = `http://${host}:${port}`;
    // A pending permission prompt holds the request; say so while it waits.
    const slow = setTimeout(() => {
      if (permission && permission.state === 'prompt' && mayBeHeld()) onPending();
    }, 2500);
    /** @type {Seen} */
    let seen;
    try {
      // Quiet: one opaque request per port, and a full look only where something answers.
      const first = quiet ? await opaque(base + '/handshake', 'GET', signal, timeoutMs) : 'refused';
      seen = first === 'refused' ? await probe(base, signal, timeoutMs) : { kind: first };
    } finally {
      clearTimeout(slow);
    }
    if (seen.kind !== 'silent' && seen.kind !== 'nothing') answered = true;
    if (seen.kind === 'ok') {
      if (seen.appId === appId) return { state: 'connected', port, appId: seen.appId, helperVersion: seen.helperVersion };
      wrong = wrong || { state: 'wrong-app', port, appId: seen.appId, helperVersion: seen.helperVersion };
    } else if (seen.kind === 'refused') {
      refused = true;
    } else {
      (seen.kind === 'silent' ? silent : nothing).push(port);
    }
  }
  if (wrong) return wrong;
  if (refused) return { state: 'origin-refused' };
  // Asked again: the browser settles the permission only as it blocks the request.
  const settled = await localNetworkPermission();
  if (settled && settled.state === 'denied') {
    // A browser that denies the permission to every page that is not a secure context
    // (Chromium does) would never grant it here: only https would help.
    if (typeof isSecureContext === 'boolean' && !isSecureContext) return { state: 'blocked', blockedBy: 'insecure-context' };
    return { state: 'permission-denied' };
  }
  // Every request held past the time limit while the prompt is still to be answered.
  if (settled && settled.state === 'prompt' && silent.length && mayBeHeld()) return { state: 'permission-pending' };
  if (!silent.length && mixedContentBlocked(`http://${host}:${ports[0]}/handshake`)) return { state: 'blocked', blockedBy: 'mixed-content' };
  const reasons = [];
  if (silent.length) reasons.push(`port${silent.length > 1 ? 's' : ''} ${listPorts(silent)} did not answer within ${timeoutMs} ms`);
  if (nothing.length) reasons.push(`nothing answers on port${nothing.length > 1 ? 's' : ''} ${listPorts(nothing)}`);
  return { state: 'not-running', reason: reasons.join('; ') };
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
 * HelperError whose code and status say why not (or the signal's reason when it aborts).
 * @param {{appId: string, ports?: readonly number[], host?: string, signal?: AbortSignal, requestTimeoutMs?: number}} options
 * @returns {Promise<ConnectedStatus>}
 */
export async function findHelper({ appId, ports = HELPER_PORTS, host = '127.0.0.1', signal, requestTimeoutMs = 3000 }) {
  const status = await search({
    appId: checkAppId(appId), ports: checkPorts(ports), host: checkHost(host), signal: checkSignal(signal),
    timeoutMs: checkDelay('requestTimeoutMs', requestTimeoutMs, 500), onPending() {}, quiet: false,
  });
  if (isUp(status)) return status;
  throw new HelperError(status.state, describeState(status), status);
}

/**
 * @param {unknown} signal
 * @returns {AbortSignal|undefined}
 */
function checkSignal(signal) {
  if (signal !== undefined && !(signal instanceof AbortSignal)) throw new TypeError('signal must be an AbortSignal');
  return signal;
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

/**
 * @param {ClientStatus} status
 * @returns {status is ConnectedStatus}
 */
const isUp = (status) => status.state === 'connected' || status.state === 'subscribed';

const stoppedError = () => new HelperError('stopped', 'the client is stopped: call start() first', { state: 'stopped' });

/**
 * The page's own copy of a status: what it does to it changes nothing in the client.
 * @template {ClientStatus} S
 * @param {S} status
 * @returns {S}
 */
const copy = (status) => ({ ...status });

/**
 * Rejects the deferred with the signal's reason when it aborts first; forgets it once settled.
 * @param {ReturnType<typeof deferred<any>>} d
 * @param {AbortSignal|undefined} signal
 * @param {() => void} [drop]  called when the signal rejects it
 */
function abortable(d, signal, drop) {
  if (!signal) return;
  const abort = () => {
    if (drop) drop();
    d.reject(reasonOf(signal));
  };
  signal.addEventListener('abort', abort, { once: true });
  const forget = () => signal.removeEventListener('abort', abort);
  d.promise.then(forget, forget);
}

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
  #requestTimeoutMs;
  /** @type {ClientOptions} */
  #callbacks;
  /** @type {AbortSignal|undefined} */
  #signal;
  /** @type {ClientStatus} */
  #status = { state: 'searching' };
  /** Aborted by stop(); a fresh one per start(). */
  #stop = new AbortController();
  /** Wakes the search loop from its wait, and cuts a search under way. */
  #wake = new AbortController();
  /** @type {Promise<void>|null} the running loop */
  #running = null;
  /** Whether the page's last word was start() rather than stop(). */
  #wanted = false;
  /** @type {Set<ReturnType<typeof deferred<ConnectedStatus>>>} */
  #waitingUp = new Set();
  /** @type {Set<ReturnType<typeof deferred<ConnectedStatus>>>} */
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
    this.#requestTimeoutMs = checkDelay('requestTimeoutMs', options.requestTimeoutMs ?? 3000, 500);
    for (const name of /** @type {const} */ (['onEvent', 'onStatus', 'onError', 'onLost'])) checkCallback(name, options[name]);
    this.#callbacks = { ...options };
    this.#signal = checkSignal(options.signal);
    if (this.#signal) {
      if (this.#signal.aborted) this.#status = { state: 'stopped' };
      else this.#signal.addEventListener('abort', () => { this.stop(); }, { once: true });
    }
  }

  /** The game id the helper must name. */
  get appId() { return this.#appId; }

  /** The queue name in use. */
  get queue() { return this.#queue; }

  /**
   * The current status: a copy, each time.
   * @returns {ClientStatus}
   */
  get status() { return copy(this.#status); }

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
   * when it does); rejects with a HelperError ("stopped") when the client stops first,
   * or with the signal's reason when it aborts first.
   * @param {WaitOptions} [options]
   * @returns {Promise<ConnectedStatus>}
   */
  whenConnected(options) {
    return this.#when(isUp(this.#status), this.#waitingUp, options);
  }

  /**
   * Resolves with the status once the client is subscribed: its queue exists in the
   * helper, so every event the game sends from then on reaches the page. Rejects with a
   * HelperError ("stopped") when the client stops first, or with the signal's reason
   * when it aborts first.
   * @param {WaitOptions} [options]
   * @returns {Promise<ConnectedStatus>}
   */
  whenSubscribed(options) {
    return this.#when(this.#status.state === 'subscribed', this.#waitingSubscribed, options);
  }

  /**
   * @param {boolean} already
   * @param {Set<ReturnType<typeof deferred<ConnectedStatus>>>} waiting
   * @param {WaitOptions|undefined} options
   * @returns {Promise<ConnectedStatus>}
   */
  #when(already, waiting, options) {
    const signal = checkSignal(options && options.signal);
    if (this.#status.state === 'stopped') return Promise.reject(stoppedError());
    if (signal && signal.aborted) return Promise.reject(reasonOf(signal));
    if (already && isUp(this.#status)) return Promise.resolve(copy(this.#status));
    /** @type {ReturnType<typeof deferred<ConnectedStatus>>} */
    const d = deferred();
    waiting.add(d);
    abortable(d, signal, () => waiting.delete(d));
    return d.promise;
  }

  /**
   * Looks for the helper now: ends the current wait, and cuts a search under way (a
   * request the browser holds for its permission prompt) to start it again. Does
   * nothing while connected. Throws a HelperError when stopped.
   */
  searchNow() {
    if (this.#status.state === 'stopped') throw stoppedError();
    this.#wake.abort();
  }

  /**
   * The events from now on, for `for await`. The loop outlives stop() and start(): it
   * waits while the client is stopped and goes on after start(). It ends when the page
   * leaves it (break, return), when the signal given here aborts (the waiting `next()`
   * rejects with its reason), or when the client's own signal stops it for good. The
   * events wait in memory until the loop takes them. Throws a HelperError when stopped.
   * @param {WaitOptions} [options]
   * @returns {AsyncIterableIterator<HelperEvent>}
   */
  events(options) {
    const signal = checkSignal(options && options.signal);
    if (this.#status.state === 'stopped') throw stoppedError();
    /** @type {HelperEvent[]} */
    const buffered = [];
    /** @type {ReturnType<typeof deferred<IteratorResult<HelperEvent>>>[]} */
    const waiting = [];
    let ended = false;
    /** @type {{reason: unknown}|null} an abort that no next() has seen yet */
    let failure = null;
    /** @param {Event} e */
    const onEvent = (e) => {
      const event = /** @type {CustomEvent<HelperEvent>} */ (e).detail;
      const first = waiting.shift();
      if (first) first.resolve({ value: event, done: false });
      else buffered.push(event);
    };
    // Only a stop for good ends the loop: after stop() the page may start the client again.
    const onStatus = () => {
      if (this.#signal && this.#signal.aborted) finish();
    };
    const onAbort = () => {
      buffered.length = 0;
      if (waiting.length) {
        for (const w of waiting.splice(0)) w.reject(signal && reasonOf(signal));
      } else {
        failure = { reason: signal && reasonOf(signal) };
      }
      finish();
    };
    const finish = () => {
      if (ended) return;
      ended = true;
      EventTarget.prototype.removeEventListener.call(this, 'event', onEvent);
      EventTarget.prototype.removeEventListener.call(this, 'status', onStatus);
      if (signal) signal.removeEventListener('abort', onAbort);
      for (const w of waiting.splice(0)) w.resolve({ value: undefined, done: true });
    };
    // Not through this.addEventListener: the iterator is the client's own, not a page's.
    EventTarget.prototype.addEventListener.call(this, 'event', onEvent);
    EventTarget.prototype.addEventListener.call(this, 'status', onStatus);
    if (signal) {
      if (signal.aborted) onAbort();
      else signal.addEventListener('abort', onAbort, { once: true });
    }
    /** @type {AsyncIterableIterator<HelperEvent>} */
    const iterator = {
      next() {
        if (failure) {
          const { reason } = failure;
          failure = null;
          return Promise.reject(reason);
        }
        const first = buffered.shift();
        if (first) return Promise.resolve({ value: first, done: false });
        if (ended) return Promise.resolve({ value: undefined, done: true });
        /** @type {ReturnType<typeof deferred<IteratorResult<HelperEvent>>>} */
        const d = deferred();
        waiting.push(d);
        return d.promise;
      },
      return() {
        buffered.length = 0;
        failure = null;
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
   * @template {keyof HelperClientEventMap} K
   * @overload
   * @param {K} type
   * @param {((this: HelperClient, event: HelperClientEventMap[K]) => unknown)|{handleEvent(event: HelperClientEventMap[K]): unknown}|null} listener
   * @param {boolean|AddEventListenerOptions} [options]
   * @returns {void}
   */
  /**
   * @overload
   * @param {string} type
   * @param {EventListenerOrEventListenerObject|null} listener
   * @param {boolean|AddEventListenerOptions} [options]
   * @returns {void}
   */
  /**
   * Adds a listener of "status", "event", "lost" or "error"; what it throws or rejects
   * reaches onError, as for the callbacks (what an "error" listener throws goes to the
   * console only).
   * @param {string} type
   * @param {EventListenerOrEventListenerObject|null} listener
   * @param {boolean|AddEventListenerOptions} [options]
   */
  addEventListener(type, listener, options) {
    super.addEventListener(type, listener && this.#wrap(listener), options);
  }

  /**
   * @template {keyof HelperClientEventMap} K
   * @overload
   * @param {K} type
   * @param {((this: HelperClient, event: HelperClientEventMap[K]) => unknown)|{handleEvent(event: HelperClientEventMap[K]): unknown}|null} listener
   * @param {boolean|EventListenerOptions} [options]
   * @returns {void}
   */
  /**
   * @overload
   * @param {string} type
   * @param {EventListenerOrEventListenerObject|null} listener
   * @param {boolean|EventListenerOptions} [options]
   * @returns {void}
   */
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
   * The event being dispatched decides where a failure goes, not the type the listener
   * was first added for: one function may listen to "status" and "error" alike.
   * @param {EventListenerOrEventListenerObject} listener
   * @returns {EventListener}
   */
  #wrap(listener) {
    let wrapper = this.#wrapped.get(listener);
    if (!wrapper) {
      const client = this;
      /** @type {EventListener} */
      wrapper = function (event) {
        const call = () => (typeof listener === 'function' ? listener.call(client, event) : listener.handleEvent(event));
        client.#guard(call, event.type === 'error');
      };
      this.#wrapped.set(listener, wrapper);
    }
    return wrapper;
  }

  /**
   * Ends the game. Resolves "ended" when the helper ended it, "no-game" when the helper
   * took the request and no game runs, "unknown" when the helper answers but whether the
   * request reached the game cannot be told. Rejects with a HelperError when no helper
   * that accepts this page answers, or the client is stopped; with the signal's reason
   * when it aborts first. Each request has the client's time limit, so it settles.
   * @param {WaitOptions} [options]
   * @returns {Promise<'ended'|'no-game'|'unknown'>}
   */
  async killGame(options) {
    const own = checkSignal(options && options.signal);
    if (this.#status.state === 'stopped') throw stoppedError();
    if (own && own.aborted) throw reasonOf(own);
    const stop = this.#stop.signal;
    const cut = linked([stop, own]);
    const signal = cut.signal;
    const ms = this.#requestTimeoutMs;
    try {
      const status = isUp(this.#status) ? this.#status
        : await findHelper({ appId: this.#appId, ports: this.#ports, host: this.#host, signal, requestTimeoutMs: ms });
      const base = `http://${this.#host}:${status.port}`;
      const kill = await send(base + '/killgame', { ...CORS, method: 'POST' }, signal, ms);
      if (typeof kill === 'object' && kill.reply.ok) return 'ended';
      // "No game known" (404) carries no CORS header, so it reads as a lost request. An
      // opaque second try tells: it gets through only when the helper answers it, and
      // then, whether it was refused or a game ran and it ended it now, no game runs.
      // A helper that let the first pass the time limit is not sent a second.
      const answered = kill !== 'silent' && (await opaque(base + '/killgame', 'POST', signal, ms)) === 'refused';
      const again = await probe(base, signal, ms);
      if (again.kind === 'ok') {
        if (!answered) return 'unknown';
        return this.#gameRunning === true ? 'ended' : 'no-game';
      }
      /** @type {UnreachableStatus} */
      const lost = again.kind === 'refused' ? { state: 'origin-refused' }
        : { state: 'not-running', reason: again.kind === 'silent' ? `port ${status.port} did not answer within ${ms} ms` : `nothing answers on port ${status.port}` };
      throw new HelperError(lost.state, describeState(lost), lost);
    } catch (e) {
      if (stop.aborted) throw stoppedError();
      if (own && own.aborted) throw reasonOf(own);
      throw e;
    } finally {
      cut.done();
    }
  }

  /**
   * @param {ClientStatus} status
   * @param {boolean} [always]  report even when unchanged
   */
  #setStatus(status, always = false) {
    const old = /** @type {Partial<ConnectedStatus>} */ (this.#status);
    const now = /** @type {Partial<ConnectedStatus>} */ (status);
    const same = old.state === now.state && old.port === now.port && old.appId === now.appId;
    this.#status = status;
    if (same && !always) return;
    if (isUp(status)) this.#settle(this.#waitingUp, status);
    if (status.state === 'subscribed' && isUp(status)) this.#settle(this.#waitingSubscribed, status);
    if (status.state === 'stopped') {
      this.#settle(this.#waitingUp, stoppedError());
      this.#settle(this.#waitingSubscribed, stoppedError());
    }
    this.#emit('status', copy(status), this.#callbacks.onStatus);
  }

  /**
   * @param {Set<ReturnType<typeof deferred<ConnectedStatus>>>} waiting
   * @param {ConnectedStatus|HelperError} outcome
   */
  #settle(waiting, outcome) {
    for (const d of waiting) {
      if (outcome instanceof HelperError) d.reject(outcome);
      else d.resolve(copy(outcome));
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
   * never into the client. What an error handler itself throws goes to the console only.
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
    // A changed permission is worth an immediate look, and cuts a request it held.
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
        const cut = linked([signal, this.#wake.signal]);
        /** @type {ConnectedStatus|UnreachableStatus} */
        let found;
        try {
          found = await search({
            appId: this.#appId, ports: this.#ports, host: this.#host, signal: cut.signal, quiet,
            timeoutMs: this.#requestTimeoutMs, onPending: () => this.#setStatus({ state: 'permission-pending' }),
          });
        } catch (e) {
          if (signal.aborted) break;
          // Woken (permission changed, searchNow): the search starts again at once.
          if (cut.signal.aborted) {
            delay = 0;
            continue;
          }
          // Not expected of a browser; keep looking all the same.
          this.#report(e);
          found = { state: 'not-running', reason: `the search failed: ${e instanceof Error ? e.message : String(e)}` };
        } finally {
          cut.done();
        }
        if (signal.aborted) break;
        this.#setStatus(found);
        // Back off on every failure, so that a page left open without a helper does not
        // fill the console: further apart each time. Only a connection that delivered
        // looks again at once when it is lost.
        const next = Math.min(Math.max(delay * 2, 1000), this.#maxRetryDelayMs);
        if (found.state !== 'connected') {
          delay = next;
          quiet = found.state === 'not-running' || found.state === 'permission-denied' || found.state === 'blocked';
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
   * Waits ms, or less when woken (permission changed, searchNow) or stopped.
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
   * @param {ConnectedStatus} connected
   * @returns {Promise<{why: string, subscribed: boolean}>}
   */
  async #pollWhileConnected(connected) {
    const url = `http://${this.#host}:${connected.port}/${encodeURIComponent(this.#queue)}`;
    const signal = this.#stop.signal;
    let subscribed = false;
    let badDelay = 0;
    for (;;) {
      const started = Date.now();
      const timeout = linked([signal], this.#pollTimeoutMs);
      let text;
      try {
        const reply = await fetch(url, { ...CORS, signal: timeout.signal });
        if (!reply.ok) return { why: `a poll was answered with status ${reply.status}`, subscribed };
        text = await reply.text();
      } catch (e) {
        const why = signal.aborted ? 'stopped'
          : timeout.timedOut() ? `a poll took longer than ${this.#pollTimeoutMs} ms`
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
