// A page's TypeScript that uses the client as installed from its folder: the type test
// compiles it strictly against the package's declarations. The lines marked as errors
// must stay errors: what is not the page's to touch is not in the types.
import {
  HelperClient, HelperError, VERSION, describeState, findHelper,
  type ClientState, type ClientStatus, type HelperEvent, type HelperErrorCode,
} from 'tovelwebhelper-client';

const version: string = VERSION;
const client = new HelperClient({
  appId: 'MARBLE-GAME',
  onEvent(event: HelperEvent) {
    if (event.state === 'GAMEISGONE') console.log('game over');
    if (event.ambiguous) console.log(event.raw?.split('\t'));
  },
  // One shape per state: what a state carries is there once the state is known.
  onStatus: (status) => console.log(describeState(status), status.state === 'not-running' ? status.reason : ''),
  async onLost(count: number) { console.log(`${count} events missed`); },
});
// Each type's listener gets its own detail, with no cast.
client.addEventListener('event', (e) => console.log(e.detail.eventName));
client.addEventListener('lost', { handleEvent: (e) => console.log(e.detail.toFixed(0)) }, { once: true });
client.addEventListener('error', (e) => console.log(e.detail instanceof HelperError ? e.detail.code : e.detail));
function logged(e: CustomEvent<unknown>) { console.log(e.type, e.detail); }
client.addEventListener('status', logged);
client.addEventListener('error', logged);
client.removeEventListener('status', logged);
client.addEventListener('some-other-type', (e: Event) => console.log(e.type));
client.addEventListener('status', (e) => {
  const s = e.detail;
  if (s.state === 'subscribed' || s.state === 'connected') console.log(s.port.toFixed(0), s.helperVersion);
  else if (s.state === 'blocked') console.log(s.blockedBy === 'mixed-content' ? 'another browser' : 'https');
  else if (s.state === 'wrong-app') console.log(s.appId);
});

export async function run(): Promise<string> {
  await client.start();
  const status = await client.whenSubscribed({ signal: AbortSignal.timeout(10000) });
  await client.whenConnected();
  for await (const event of client) {
    const params: string[] = event.params;
    if (event.lost !== undefined || params[0] === 'x') break;
  }
  for await (const event of client.events({ signal: AbortSignal.timeout(5000) })) console.log(event.gameId);
  client.searchNow();
  const ended: 'ended' | 'no-game' | 'unknown' = await client.killGame({ signal: new AbortController().signal });
  const copy: ClientStatus = client.status;
  const code: HelperErrorCode = 'blocked';
  await client.stop();
  const found = await findHelper({ appId: 'MARBLE-GAME', ports: [4219] }).catch((e: unknown) => (e instanceof HelperError ? e.code : 'other'));
  return `${version} ${status.port} ${ended} ${typeof found === 'string' ? found : found.port} ${client.queue} ${client.appId} ${copy.state} ${code}`;
}

// @ts-expect-error the status is the client's to set
client.status = { state: 'stopped' };
// @ts-expect-error the client's inner workings are not in its types
client._stop.abort();
// @ts-expect-error nor its search loop
client.run();
// @ts-expect-error a state that does not exist
export const wrong: ClientState = 'connecting';
// @ts-expect-error appId is required
export const noAppId = new HelperClient({});
// @ts-expect-error a lost count is a number, not a status
client.addEventListener('lost', (e) => console.log(e.detail.state));
// @ts-expect-error only a connected status has a port
export const noPort = (s: ClientStatus) => s.port;
// @ts-expect-error "connected" is a state, never an error's code
export const notThrown: HelperErrorCode = 'connected';
