// The demo page's script: shows the handshake, the live events of the game, a button
// that ends the game, and a plain sentence for each way the helper can be out of reach.
import { HelperClient, describeState } from '../client/webhelper-client.js';

const APP_ID = new URLSearchParams(location.search).get('app') || 'MARBLE-GAME';

const SENTENCES = {
  'searching': 'Looking for the helper…',
  'connected': 'The helper answers; subscribing to its events…',
  'subscribed': 'Connected to the helper. Events of the game appear below as they happen.',
  'not-running': 'The helper is not running: start the game (or scripts/demo.sh); this page finds it by itself.',
  'blocked': "The browser stops this page's requests to the helper.",
  'permission-pending': 'The browser is asking whether this page may reach programs on this computer: answer its prompt.',
  'permission-denied': "The browser does not let this page reach programs on this computer. Allow 'local network access' for this site in the browser's site settings; this page goes on by itself, no reload needed.",
  'origin-refused': 'The helper is running but refuses this page: open the page from 127.0.0.1 or localhost, or from the game\'s own web site.',
  'wrong-app': 'A helper is running, but for another game.',
  'stopped': 'Stopped.',
};

// What blocks the page, when the browser itself stopped its requests.
const BLOCKED = {
  'mixed-content': 'This browser does not let a secure (https) page reach programs on this computer, such as the helper: open this page in another browser (Chrome, Edge or Firefox), or from http://localhost.',
  'insecure-context': 'The browser lets only secure pages reach programs on this computer: open this page over https, or from http://localhost.',
};

const KILLED = {
  'ended': 'The helper ended the game.',
  'no-game': 'No game is running.',
  'unknown': 'The helper answers, but whether the game got the request cannot be told: try again.',
};

const $ = (id) => document.getElementById(id);
let count = 0;

function showStatus(status) {
  const box = $('status');
  box.dataset.state = status.state;
  box.className = ['searching', 'connected', 'subscribed', 'stopped'].includes(status.state) ? '' : 'problem';
  let text = (status.state === 'blocked' && BLOCKED[status.blockedBy]) || SENTENCES[status.state] || describeState(status);
  if (status.state === 'wrong-app') text += ` (it says "${status.appId}", this page expects "${APP_ID}")`;
  if (status.state === 'not-running' && status.reason) text += ` (${status.reason})`;
  box.textContent = text;
  $('port').textContent = status.port ?? '–';
  $('app-id').textContent = status.appId ?? '–';
  $('helper-version').textContent = status.helperVersion ?? '–';
  // While the client waits between two looks, the user may ask for one now.
  $('search').hidden = !['not-running', 'blocked', 'permission-pending', 'permission-denied', 'origin-refused', 'wrong-app'].includes(status.state);
}

function showEvent(event) {
  const row = document.createElement('tr');
  if (event.state) row.className = 'state';
  // A word of the game held a tab: the fields are shown as the helper sent them.
  const params = event.raw
    ? `${event.raw.split('\t').slice(2).join(' ').trim()} (fields in doubt)`
    : event.params.filter((p) => p !== '').join(' ');
  for (const text of [++count, new Date().toLocaleTimeString(), event.eventName, params]) {
    const cell = document.createElement('td');
    cell.textContent = String(text);
    row.append(cell);
  }
  $('events').prepend(row);
}

const client = new HelperClient({ appId: APP_ID });
client.addEventListener('status', (e) => showStatus(e.detail));
client.addEventListener('event', (e) => showEvent(e.detail));
client.addEventListener('lost', (e) => {
  $('lost').textContent = `The helper dropped ${e.detail} events of this page: the list below misses some.`;
});
$('queue').textContent = client.queue;

$('kill').addEventListener('click', async () => {
  const out = $('kill-result');
  out.textContent = 'Ending the game…';
  try {
    out.textContent = KILLED[await client.killGame()];
  } catch (e) {
    const blocked = e.status && e.status.state === 'blocked' && BLOCKED[e.status.blockedBy];
    out.textContent = `Could not reach the helper: ${blocked || SENTENCES[e.code] || e.message}`;
  }
});

$('search').addEventListener('click', () => client.searchNow());

client.start();
// For tests and curious readers: the client of this page.
window.demoClient = client;
