// One card per camera, rendered from its state in the store.

// Failure texts as the panel sends them, to one cause an operator can act on.
const CAUSES = [
  [/not ?authori[sz]ed|authentication refused|\b401\b|wrong (user|password)/i, 'wrong user or password'],
  [/is not the pinned one/i, 'the certificate is not the pinned one'],
  [/no PTZ profile|has no profile|\(no PTZ/i, 'the camera has no PTZ'],
  [/couldn't connect|could not connect|timed? ?out|connection refused|no route|resolve host|did not answer/i,
    'nothing answers at this address'],
  [/cannot open serial device/i, 'the serial device is not there'],
];

function causeOf(reason) {
  const found = CAUSES.find(([pattern]) => pattern.test(reason));
  return found ? found[1] : reason.split(/[(:]/)[0].trim();
}

// The failure text without the command line's own advice (options, variables).
function detailsOf(reason) {
  return reason.replace(/\):\s*unreachable, wrong --.*$/, ')').replace(/\s*\((KORVANE_|--)[^)]*\)/g, '')
    .replace(/\s*--[a-z][a-z-]*/g, '').trim();
}

function holderText(state) {
  if (state.held_by_you) return 'held by you';
  return state.holder ? 'held by ' + state.holder : '';
}

function showState(state) {
  let card = store.cards.get(state.camera);
  if (!card) {
    card = buildCard(state.camera);
    store.cards.set(state.camera, card);
    $('#cameras').appendChild(card);
    $('#strip').appendChild(buildEntry(state.camera));
  }
  const before = store.states.get(state.camera);
  store.states.set(state.camera, state);
  if (state.held_by_you) store.taken.delete(state.camera);
  const badge = $('.badge', card);
  badge.textContent = state.moving ? 'moving: ' + state.moving : state.state;
  badge.className = 'badge ' + state.state + (state.moving ? ' moving' : '');
  $('.describe', card).textContent = state.link + (holderText(state) ? ' · ' + holderText(state) : '');
  $('.failure', card).hidden = !state.reason;
  $('.cause', card).textContent = state.reason ? causeOf(state.reason) : '';
  $('.reason', card).textContent = state.reason ? detailsOf(state.reason) : '';
  showTaken(state.camera);
  showEntry(state);
  const unchecked = $('.unchecked', card);
  unchecked.hidden = !state.unchecked;
  unchecked.textContent = state.unchecked || '';
  card.classList.toggle('unavailable', state.state !== 'open');
  for (const axis of ['pan', 'tilt']) {
    const slider = $('input[data-speed="' + axis + '"]', card);
    if (document.activeElement !== slider) slider.value = state[axis + '_speed'];
    slider.nextElementSibling.textContent = slider.value;
  }
  // The camera's own state cannot be read back: the page shows only what it last sent.
  for (const group of card.querySelectorAll('.switch')) {
    const on = state.switches[group.dataset.op];
    $('.sent', group).textContent = on === undefined ? 'unknown' : 'last sent: ' + (on ? 'on' : 'off');
  }
  for (const button of card.querySelectorAll('button[data-motion]'))
    button.classList.toggle('moving', state.moving === button.dataset.motion);
  if (!before || JSON.stringify(before.presets) !== JSON.stringify(state.presets)) buildPresets(card, state);
  for (const element of card.querySelectorAll(LINK_OWN.map((op) => '[data-op="' + op + '"]').join(',')))
    element.hidden = !(Array.isArray(state.can) && state.can.includes(element.dataset.op));
  showPosition(state.camera, state.position);
  applyControls(state.camera);
}

function forget(name) {
  if (store.selected === name) { release(name); store.selected = null; $('#selected').textContent = 'no camera selected'; }
  store.cards.get(name).remove();
  $('#strip .entry[data-camera="' + CSS.escape(name) + '"]').parentElement.remove();
  store.cards.delete(name);
  store.states.delete(name);
  document.body.classList.toggle('picked', !!store.selected);
}

// The camera's line in the list: what an operator scans for across the room.
function buildEntry(name) {
  const item = document.createElement('li');
  const pick = document.createElement('button');
  pick.type = 'button';
  pick.className = 'entry';
  pick.dataset.camera = name;
  for (const part of ['entry-name', 'entry-state', 'entry-note']) {
    const span = document.createElement('span');
    span.className = part;
    pick.appendChild(span);
  }
  $('.entry-name', pick).textContent = name;
  pick.addEventListener('click', () => select(name));
  pick.addEventListener('focus', () => select(name));
  item.appendChild(pick);
  return item;
}

function showEntry(state) {
  const pick = $('#strip .entry[data-camera="' + CSS.escape(state.camera) + '"]');
  const word = state.moving ? 'moving' : state.state;
  $('.entry-state', pick).textContent = word;
  pick.dataset.state = word;
  // Taken over: by whom, so that the operator knows whose page now drives it.
  const note = store.taken.has(state.camera) ? 'taken over' + (state.holder ? ' by ' + state.holder : '')
    : state.reason ? causeOf(state.reason) : holderText(state);
  $('.entry-note', pick).textContent = note;
  pick.title = state.camera + ': ' + word + (note ? ', ' + note : '');
}

// Another page took this camera: say so until this page takes it back.
function showTaken(name) {
  const card = store.cards.get(name);
  const line = $('.taken', card);
  line.hidden = !store.taken.has(name);
  $('span', line).textContent = store.taken.get(name) || '';
}

// Where an ONVIF camera points, as the panel last read it while a page watched.
function showPosition(name, position) {
  const card = store.cards.get(name);
  if (!card || !position) return;
  const line = $('.position', card);
  const number = (value) => (value >= 0 ? '+' : '') + Number(value).toFixed(3);
  line.textContent = 'pan ' + number(position.pan) + '  tilt ' + number(position.tilt) + '  zoom ' +
    Number(position.zoom).toFixed(3) + (position.moving ? '  moving' : '');
  line.classList.toggle('moving', !!position.moving);
}

// The first twelve presets of the link's range, then any other named one and
// up to twelve more the camera holds.
function buildPresets(card, state) {
  const name = state.camera;
  const range = state.presets || {};
  // Preset 0 is the frames' own; people count from 1.
  const first = Math.max(range.first === undefined ? 1 : range.first, 1), last = range.last === undefined ? 255 : range.last;
  const names = range.names || {};
  const numbers = [];
  for (let n = first; n <= last && numbers.length < PRESETS; ++n) numbers.push(n);
  const held = (Array.isArray(range.stored) ? range.stored : []).filter((n) => !numbers.includes(n) && !(n in names));
  for (const key of Object.keys(names).map(Number).concat(held.slice(0, PRESETS)).sort((a, b) => a - b))
    if (!numbers.includes(key) && key >= first && key <= last) numbers.push(key);
  const grid = $('.preset-grid', card);
  grid.textContent = '';
  for (const n of numbers) {
    const button = document.createElement('button');
    button.type = 'button';
    button.dataset.preset = n;
    const number = document.createElement('b');
    number.textContent = n;
    button.appendChild(number);
    const label = names[n];
    if (label) {
      const text = document.createElement('span');
      text.className = 'preset-name';
      text.textContent = label;
      button.appendChild(text);
      button.classList.add('named');
    }
    // Marked only where the state lists the presets the camera holds.
    const known = Array.isArray(range.stored), stored = known && range.stored.includes(n);
    if (known) button.classList.add(stored ? 'stored' : 'empty');
    button.setAttribute('aria-label', name + ' go to preset ' + n + (label ? ' (' + label + ')' : '') +
      (known ? (stored ? ', stored' : ', empty') : ''));
    button.addEventListener('click', () => goToPreset(name, n));
    grid.appendChild(button);
  }
  const number = $('.store-number', card);
  number.min = first;
  number.max = last;
}

function goToPreset(name, n) {
  const state = store.states.get(name);
  const label = state && state.presets && state.presets.names && state.presets.names[n];
  command(name, 'preset', { action: 'go', number: n }, 'going to preset ' + n + (label ? ' (' + label + ')' : ''));
}

function buildCard(name) {
  const card = $('#camera-card').content.firstElementChild.cloneNode(true);
  card.dataset.camera = name;
  card.setAttribute('aria-label', 'camera ' + name);
  $('.name', card).textContent = name;
  $('.name', card).title = name;
  for (const button of card.querySelectorAll('button[data-motion]')) holdable(button, name, button.dataset.motion);
  $('button[data-command="stop"]', card).addEventListener('click', () => stop(name));
  $('button[data-command="test"]', card).addEventListener('click', () => command(name, 'test', null, 'test sent: see the reports'));
  for (const button of card.querySelectorAll('button[data-switch]')) {
    const what = button.dataset.switch, on = button.dataset.on === 'true';
    button.addEventListener('click', () => command(name, what, { on: on }, what + (on ? ' on' : ' off') + ' sent'));
  }
  for (const slider of card.querySelectorAll('input[data-speed]')) {
    slider.addEventListener('input', () => { slider.nextElementSibling.textContent = slider.value; });
    slider.addEventListener('change', () => command(name, 'speed', { [slider.dataset.speed]: Number(slider.value) }, slider.dataset.speed + ' speed ' + slider.value));
  }
  const number = $('.store-number', card);
  const chosen = () => {
    const n = Number(number.value), low = Number(number.min), high = Number(number.max);
    if (!Number.isInteger(n) || n < low || n > high) { say(card, 'a preset of this camera is a number from ' + low + ' to ' + high, true); return 0; }
    return n;
  };
  $('.store-set', card).addEventListener('click', () => {
    const n = chosen();
    if (n) command(name, 'preset', { action: 'set', number: n }, 'stored the current view as preset ' + n);
  });
  $('.store-clear', card).addEventListener('click', () => {
    const n = chosen();
    if (n) command(name, 'preset', { action: 'clear', number: n }, 'cleared preset ' + n);
  });
  for (const summary of card.querySelectorAll('.store summary'))
    summary.addEventListener('click', (event) => {
      if (event.currentTarget.classList.contains('disabled')) event.preventDefault();
    });
  // On the push channel, as this page's holds go: the panel knows the page by it.
  $('.take-back', card).addEventListener('click', () => {
    send({ op: 'take', camera: name });
    store.taken.delete(name);
    showTaken(name);
    showEntry(store.states.get(name));
    say(card, 'taken back');
  });
  $('.home-go', card).addEventListener('click', () => command(name, 'home', null, 'going home'));
  $('.home-set', card).addEventListener('click', () => {
    command(name, 'home', { action: 'set' }, 'stored the current view as home');
    $('.store-home', card).open = false;  // closed again, so that a second slip needs two clicks
  });
  // The card a pointer or the focus is in is the one the keys drive.
  card.addEventListener('pointerdown', () => select(name));
  card.addEventListener('focusin', () => select(name));
  return card;
}
