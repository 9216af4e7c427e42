// The page client's types, generated from the JSDoc of webhelper-client.js by
// tests/browser/types.mjs: edit the module, then run `node tests/browser/types.mjs`.
/** This module's version; the same as in its package.json. */
export declare const VERSION = "2.0.0";
/** The helper's ports, in the order they are tried. */
export declare const HELPER_PORTS: readonly number[];
export type ClientState = 'searching' | 'connected' | 'subscribed' | 'not-running' | 'permission-pending' | 'permission-denied' | 'origin-refused' | 'wrong-app' | 'stopped';
export type ClientStatus = {
    state: ClientState;
    /**
     * the port of the helper (connected, subscribed, wrong-app)
     */
    port?: number;
    /**
     * what the helper's handshake said
     */
    appId?: string;
    /**
     * what the helper's handshake said
     */
    helperVersion?: string;
    /**
     * searching again: why the connection was lost
     */
    reason?: string;
};
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
export type HelperErrorCode = ClientState | 'bad-reply' | 'callback';
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
};
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
 * A human-readable sentence for a state, for pages that show it as it is.
 * @param {ClientState} state
 * @returns {string}
 */
export declare function describeState(state: ClientState): string;
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
/**
 * Looks for the helper once. Resolves with the connected status, or rejects with a
 * HelperError whose code says why not.
 * @param {{appId: string, ports?: readonly number[], host?: string, signal?: AbortSignal}} options
 * @returns {Promise<ClientStatus>}
 */
export declare function findHelper({ appId, ports, host, signal }: {
    appId: string;
    ports?: readonly number[];
    host?: string;
    signal?: AbortSignal;
}): Promise<ClientStatus>;
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
    /** The current status. */
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
     * when it does); rejects with a HelperError ("stopped") when the client stops first.
     * @returns {Promise<ClientStatus>}
     */
    whenConnected(): Promise<ClientStatus>;
    /**
     * Resolves with the status once the client is subscribed: its queue exists in the
     * helper, so every event the game sends from then on reaches the page. Rejects with a
     * HelperError ("stopped") when the client stops first.
     * @returns {Promise<ClientStatus>}
     */
    whenSubscribed(): Promise<ClientStatus>;
    /**
     * Looks for the helper now instead of at the end of the current wait (a page's "try
     * again" button). Does nothing while connected. Throws a HelperError when stopped.
     */
    searchNow(): void;
    /**
     * The events from now on, for `for await`; the loop ends when the client stops. The
     * events wait in memory until the loop takes them. Throws a HelperError when stopped.
     * @returns {AsyncIterableIterator<HelperEvent>}
     */
    events(): AsyncIterableIterator<HelperEvent>;
    /** `for await (const event of client)`: the same as `client.events()`. */
    [Symbol.asyncIterator](): AsyncIterableIterator<HelperEvent>;
    /**
     * Adds a listener of "status", "event", "lost" or "error"; what it throws or rejects
     * reaches onError, as for the callbacks.
     * @param {string} type
     * @param {EventListenerOrEventListenerObject|null} listener
     * @param {boolean|AddEventListenerOptions} [options]
     */
    addEventListener(type: string, listener: EventListenerOrEventListenerObject | null, options?: boolean | AddEventListenerOptions): void;
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
     * that accepts this page answers, or the client is stopped.
     * @returns {Promise<'ended'|'no-game'|'unknown'>}
     */
    killGame(): Promise<'ended' | 'no-game' | 'unknown'>;
}
