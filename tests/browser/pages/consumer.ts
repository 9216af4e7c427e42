// A page's TypeScript that uses the client as installed from its folder: the type test
// compiles it strictly against the package's declarations. The lines marked as errors
// must stay errors: what is not the page's to touch is not in the types.
import {
  HelperClient, HelperError, VERSION, describeState, findHelper,
  type ClientState, type ClientStatus, type HelperEvent,
} from 'tovelwebhelper-client';

const version: string = VERSION;
const client = new HelperClient({
  appId: 'MARBLE-GAME',
  onEvent(event: HelperEvent) {
    if (event.state === 'GAMEISGONE') console.log('game over');
    if (event.ambiguous) console.log(event.raw?.split('\t'));
  },
  onStatus: (status) => console.log(describeState(status.state), status.reason ?? ''),
  async onLost(count: number) { console.log(`${count} events missed`); },
});
client.addEventListener('event', (e) => console.log((e as CustomEvent<HelperEvent>).detail.eventName));
client.addEventListener('lost', { handleEvent: (e) => console.log(e.type) }, { once: true });

export async function run(): Promise<string> {
  await client.start();
  const status: ClientStatus = await client.whenSubscribed();
  await client.whenConnected();
  for await (const event of client) {
    const params: string[] = event.params;
    if (event.lost !== undefined || params[0] === 'x') break;
  }
  for await (const event of client.events()) console.log(event.gameId);
  client.searchNow();
  const ended: 'ended' | 'no-game' | 'unknown' = await client.killGame();
  await client.stop();
  const found = await findHelper({ appId: 'MARBLE-GAME', ports: [4219] }).catch((e: unknown) => (e instanceof HelperError ? e.code : 'other'));
  return `${version} ${status.port} ${ended} ${typeof found === 'string' ? found : found.state} ${client.queue} ${client.appId}`;
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
