// The page's one store of state: what the panel last said of each camera,
// the cards that show it, and what this page holds and drives. Every other
// file reads and changes the page through it.

const FEED_ROWS = 100;
const PRESETS = 12;
const token = new URLSearchParams(location.search).get('token') || '';
const headers = { 'Content-Type': 'application/json' };
if (token) headers.Authorization = 'Bearer ' + token;

const store = {
  cards: new Map(),     // camera name -> its card element
  states: new Map(),    // camera name -> its last state message
  held: new Map(),      // camera name -> { motion, button, byKey, press }
  keysDown: new Map(),  // key -> when pressed: the held keys, in order
  presses: 0,           // numbers each press, so that the panel refuses a renewal of one already stopped
  socket: null,
  connected: false,
  leaseMs: 700,
  lastSeq: 0,
  renewTimer: null,
  selected: null,       // the camera the keys drive
  taken: new Map(),     // camera name -> why another page holds it now
};

const $ = (selector, root) => (root || document).querySelector(selector);
const linkState = $('#link');

// The link's own word again, once what it said last no longer holds.
function resetLink() {
  if (store.connected) setLink('connected', 'up');
}

function setLink(text, kind) {
  linkState.textContent = text;
  linkState.className = 'link-state ' + kind;
}
