// The demo page's script: shows the handshake, the live events of the game, a button
// that ends the game, and a plain sentence for each way the helper can be out of reach.
import { HelperClient, describeState } from '../client/webhelper-client.js';

const APP_ID = new URLSearchParams(location.search).get('app') || 'MARBLE-GAME';

const SENTENCES = {
  'searching': 'Looking for the helper…',
  'connected': 'Connected to the helper. Events of the game appear below as they happen.',
  'not-running': 'The helper is not running: start the game (or scripts/demo.sh); this page finds it by itself.',
  'permission-pending': 'The browser is asking whether this page may reach programs on this computer: answer its prompt.',
  'permission-denied': "The browser does not let this page reach programs on this computer. Allow 'local network access' for this site in the browser's site settings, then reload.",
  'origin-refused': 'The helper is running but refuses this page: open the page from 127.0.0.1 or localhost, or from the game\'s own web site.',
  'wrong-app': 'A helper is running, but for another game.',
  'stopped': 'Stopped.',
};

const $ = (id) => document.getElementById(id);
let count = 0;

function showStatus(status) {
  const box = $('status');
  box.dataset.state = status.state;
  box.className = ['searching', 'connected', 'stopped'].includes(status.state) ? '' : 'problem';
  let text = SENTENCES[status.state] || describeState(status.state);
  if (status.state === 'wrong-app') text += ` (it says "${status.appId}", this page expects "${APP_ID}")`;
  box.textContent = text;
  $('port').textContent = status.port ?? '–';
  $('app-id').textContent = status.appId ?? '–';
  $('helper-version').textContent = status.helperVersion ?? '–';
}

function showEvent(event) {
  const row = document.createElement('tr');
  if (event.state) row.className = 'state';
  const params = event.params.filter((p) => p !== '').join(' ');
  for (const text of [++count, new Date().toLocaleTimeString(), event.eventName, params]) {
    const cell = document.createElement('td');
    cell.textContent = String(text);
    row.append(cell);
  }
  $('events').prepend(row);
}

const client = new HelperClient({ appId: APP_ID, onEvent: showEvent, onStatus: showStatus });
$('queue').textContent = client.queue;

$('kill').addEventListener('click', async () => {
  const out = $('kill-result');
  out.textContent = 'Ending the game…';
  try {
    const result = await client.killGame();
    out.textContent = result === 'ended' ? 'The helper ended the game.' : 'The helper knows no game to end.';
  } catch (e) {
    out.textContent = `Could not reach the helper: ${SENTENCES[e.code] || e.message}`;
  }
});

client.start();
// For tests and curious readers: the client of this page.
window.demoClient = client;
