// The page client's types, generated from the JSDoc of webhelper-client.js by
// tests/browser/types.mjs: edit the module, then run `node tests/browser/types.mjs`.
/** This module's version; the same as in its package.json. */
export declare const VERSION = "2.0.0";
/** The helper's ports, in the order they are tried. */
export declare const HELPER_PORTS: readonly number[];
export type ClientState = 'searching' | 'connected' | 'subscribed' | 'not-running' | 'blocked' | 'permission-pending' | 'permission-denied' | 'origin-refused' | 'wrong-app' | 'stopped';
export type BlockedBy = 'mixed-content' | 'insecure-context';
export type ConnectedStatus = {
    state: 'connected' | 'subscribed';
    /**
     * the helper's port
     */
    port: number;
    /**
     * what the helper's handshake said
     */
    appId: string;
    /**
     * what the helper's handshake said
     */
    helperVersion: string;
};
export type WrongAppStatus = {
    state: 'wrong-app';
    port: number;
    /**
     * the app id it named
     */
    appId: string;
    helperVersion: string;
};
export type SearchingStatus = {
    state: 'searching';
    /**
     * searching again: why the connection was lost
     */
    reason?: string;
};
export type NotRunningStatus = {
    state: 'not-running';
    /**
     * what the search saw: nothing listening, or a port that accepted and did not answer
     */
    reason: string;
};
export type BlockedStatus = {
    state: 'blocked';
    blockedBy: BlockedBy;
};
export type RefusedStatus = {
    state: 'permission-pending' | 'permission-denied' | 'origin-refused';
};
export type StoppedStatus = {
    state: 'stopped';
};
export type UnreachableStatus = NotRunningStatus | BlockedStatus | RefusedStatus | WrongAppStatus;
export type ClientStatus = SearchingStatus | ConnectedStatus | UnreachableStatus | StoppedStatus;
export type HelperEvent = {
    gameId: string;
    eventName: string;
    /**
     * the eight parameters, empty strings where unset
     */
    params: string[];
    /**
     * set for the helper's own state changes
     */
    state: 'READY' | 'GAMEISGONE' | null;
    /**
     * set on the helper's "EVENTSLOST" marker: how many events it dropped
     */
    lost?: number;
    /**
     * set when the reply could not be split into fields without
     * doubt (a word of the game held a tab): the reply as it came; `params` are then empty
     */
    raw?: string;
    /**
     * set together with `raw`
     */
    ambiguous?: true;
};
export type HelperErrorCode = 'not-running' | 'blocked' | 'permission-pending' | 'permission-denied' | 'origin-refused' | 'wrong-app' | 'stopped' | 'bad-reply' | 'callback';
export type HelperClientEventMap = {
    status: CustomEvent<ClientStatus>;
    event: CustomEvent<HelperEvent>;
    lost: CustomEvent<number>;
    error: CustomEvent<unknown>;
};
export type ClientOptions = {
    /**
     * the game id the page expects in the handshake
     */
    appId: string;
    /**
     * called once per event, in order
     */
    onEvent?: (event: HelperEvent) => unknown;
    /**
     * called when the status changes
     */
    onStatus?: (status: ClientStatus) => unknown;
    /**
     * a callback that threw or rejected, a reply that is not an event
     */
    onError?: (error: unknown) => unknown;
    /**
     * the helper dropped `count` events of this queue
     */
    onLost?: (count: number, event: HelperEvent) => unknown;
    /**
     * the queue name; default a fresh random one per client
     */
    queue?: string;
    /**
     * default HELPER_PORTS
     */
    ports?: readonly number[];
    /**
     * default "127.0.0.1"
     */
    host?: string;
    /**
     * aborting it stops the client for good
     */
    signal?: AbortSignal;
    /**
     * longest wait between two searches; default 8000, at least 1000
     */
    maxRetryDelayMs?: number;
    /**
     * a poll that takes longer counts as a lost helper; default 15000, at least 2000
     */
    pollTimeoutMs?: number;
    /**
     * a handshake or kill request that takes longer counts as unanswered; default 3000, at least 500
     */
    requestTimeoutMs?: number;
};
export type WaitOptions = {
    /**
     * aborting it rejects the call with the signal's reason
     */
    signal?: AbortSignal;
};
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
export declare class HelperError extends Error {
    /** @type {HelperErrorCode} */
    code: HelperErrorCode;
    /** @type {ClientStatus|undefined} */
    status: ClientStatus | undefined;
    /**
     * @param {HelperErrorCode} code
     * @param {string} message
     * @param {ClientStatus} [status]
     * @param {unknown} [cause]
     */
    constructor(code: HelperErrorCode, message: string, status?: ClientStatus, cause?: unknown);
}
/**
 * A sentence for a state, or for a status (which says more where it can: why the
 * browser blocks the page), for pages that show it as it is.
 * @param {ClientState|ClientStatus} state
 * @returns {string}
 */
export declare function describeState(state: ClientState | ClientStatus): string;
/** A fresh queue name that nobody else can guess. */
export declare function randomQueueName(): string;
/**
 * Parses a poll's reply: ten fields, each followed by a tab, or "null" for nothing yet.
 * More fields than ten mean a word of the game held a tab: which one cannot be told,
 * so the event comes with its raw text. Anything else is not an event and throws.
 * @param {string} text
 * @returns {HelperEvent|null}
 */
export declare function parseEvent(text: string): HelperEvent | null;
export type Seen = {
    kind: 'ok';
    appId: string;
    helperVersion: string;
} | {
    kind: 'refused' | 'nothing' | 'silent';
};
/**
 * Looks for the helper once. Resolves with the connected status, or rejects with a
 * HelperError whose code and status say why not (or the signal's reason when it aborts).
 * @param {{appId: string, ports?: readonly number[], host?: string, signal?: AbortSignal, requestTimeoutMs?: number}} options
 * @returns {Promise<ConnectedStatus>}
 */
export declare function findHelper({ appId, ports, host, signal, requestTimeoutMs }: {
    appId: string;
    ports?: readonly number[];
    host?: string;
    signal?: AbortSignal;
    requestTimeoutMs?: number;
}): Promise<ConnectedStatus>;
/**
 * A page's connection to the helper: search, poll, hand events over, end the game.
 * Also an EventTarget: "status", "event", "lost" and "error" events carry in `detail`
 * what the callbacks of the same names get.
 */
export declare class HelperClient extends EventTarget {
    #private;
    /** @param {ClientOptions} options */
    constructor(options: ClientOptions);
    /** The game id the helper must name. */
    get appId(): string;
    /** The queue name in use. */
    get queue(): string;
    /**
     * The current status: a copy, each time.
     * @returns {ClientStatus}
     */
    get status(): ClientStatus;
    /**
     * Starts searching and polling, or starts again after `stop()`; the returned promise
     * resolves once the client runs (`whenSubscribed()` waits for events to flow). With
     * an aborted signal the client stays stopped and sends nothing.
     * @returns {Promise<void>}
     */
    start(): Promise<void>;
    /**
     * Stops the client: no request is left running once the returned promise resolves.
     * The status becomes `stopped`; `start()` starts it again.
     * @returns {Promise<void>}
     */
    stop(): Promise<void>;
    /**
     * Resolves with the status once a helper with the expected app id answers (at once
     * when it does); rejects with a HelperError ("stopped") when the client stops first,
     * or with the signal's reason when it aborts first.
     * @param {WaitOptions} [options]
     * @returns {Promise<ConnectedStatus>}
     */
    whenConnected(options?: WaitOptions): Promise<ConnectedStatus>;
    /**
     * Resolves with the status once the client is subscribed: its queue exists in the
     * helper, so every event the game sends from then on reaches the page. Rejects with a
     * HelperError ("stopped") when the client stops first, or with the signal's reason
     * when it aborts first.
     * @param {WaitOptions} [options]
     * @returns {Promise<ConnectedStatus>}
     */
    whenSubscribed(options?: WaitOptions): Promise<ConnectedStatus>;
    /**
     * Looks for the helper now: ends the current wait, and cuts a search under way (a
     * request the browser holds for its permission prompt) to start it again. Does
     * nothing while connected. Throws a HelperError when stopped.
     */
    searchNow(): void;
    /**
     * The events from now on, for `for await`. The loop outlives stop() and start(): it
     * waits while the client is stopped and goes on after start(). It ends when the page
     * leaves it (break, return), when the signal given here aborts (the waiting `next()`
     * rejects with its reason), or when the client's own signal stops it for good. The
     * events wait in memory until the loop takes them. Throws a HelperError when stopped.
     * @param {WaitOptions} [options]
     * @returns {AsyncIterableIterator<HelperEvent>}
     */
    events(options?: WaitOptions): AsyncIterableIterator<HelperEvent>;
    /** `for await (const event of client)`: the same as `client.events()`. */
    [Symbol.asyncIterator](): AsyncIterableIterator<HelperEvent>;
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
    addEventListener<K extends keyof HelperClientEventMap>(type: K, listener: ((this: HelperClient, event: HelperClientEventMap[K]) => unknown) | {
        handleEvent(event: HelperClientEventMap[K]): unknown;
    } | null, options?: boolean | AddEventListenerOptions): void;
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
    addEventListener(type: string, listener: EventListenerOrEventListenerObject | null, options?: boolean | AddEventListenerOptions): void;
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
    removeEventListener<K extends keyof HelperClientEventMap>(type: K, listener: ((this: HelperClient, event: HelperClientEventMap[K]) => unknown) | {
        handleEvent(event: HelperClientEventMap[K]): unknown;
    } | null, options?: boolean | EventListenerOptions): void;
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
    removeEventListener(type: string, listener: EventListenerOrEventListenerObject | null, options?: boolean | EventListenerOptions): void;
    /**
     * Ends the game. Resolves "ended" when the helper ended it, "no-game" when the helper
     * took the request and no game runs, "unknown" when the helper answers but whether the
     * request reached the game cannot be told. Rejects with a HelperError when no helper
     * that accepts this page answers, or the client is stopped; with the signal's reason
     * when it aborts first. Each request has the client's time limit, so it settles.
     * @param {WaitOptions} [options]
     * @returns {Promise<'ended'|'no-game'|'unknown'>}
     */
    killGame(options?: WaitOptions): Promise<'ended' | 'no-game' | 'unknown'>;
}
