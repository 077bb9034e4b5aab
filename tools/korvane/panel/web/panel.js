// The panel's page: builds one card per camera from the push channel's
// greeting, keeps states and the feed current, and holds moves as leases it
// renews while a button or a key is down.
(function () {
  'use strict';

  const FEED_ROWS = 100;
  const PRESETS = 12;
  const token = new URLSearchParams(location.search).get('token') || '';
  const headers = { 'Content-Type': 'application/json' };
  if (token) headers.Authorization = 'Bearer ' + token;

  const cards = new Map();  // camera name -> card element
  const states = new Map(); // camera name -> its last state message
  const held = new Map();   // camera name -> { motion, button, byKey, press }
  let presses = 0;          // numbers each press, so that the panel refuses a renewal of one already stopped
  let socket = null;
  let connected = false;
  let leaseMs = 700;
  let lastSeq = 0;
  let renewTimer = null;
  let selected = null;      // the camera the keys drive

  const $ = (selector, root) => (root || document).querySelector(selector);
  const linkState = $('#link');

  function setLink(text, kind) {
    linkState.textContent = text;
    linkState.className = 'link-state ' + kind;
  }

  // --- the push channel --------------------------------------------------------

  function connect() {
    const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
    socket = new WebSocket(scheme + location.host + '/api/events' + (token ? '?token=' + encodeURIComponent(token) : ''));
    socket.onmessage = (event) => receive(JSON.parse(event.data));
    socket.onclose = () => {
      // The server stops what this page held; the page lets go as well, and
      // nothing on it may be used until the panel is back.
      letGoLocally();
      setConnected(false);
      setLink('connection lost, trying again…', 'down');
      setTimeout(connect, 1000);
    };
  }

  function setConnected(up) {
    connected = up;
    document.body.classList.toggle('offline', !up);
    for (const name of cards.keys()) applyControls(name);
  }

  function send(message) {
    if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
  }

  function receive(message) {
    if (message.type === 'hello') {
      leaseMs = message.lease_ms || leaseMs;
      lastSeq = message.seq;
      for (const state of message.cameras) showState(state);
      const feed = $('#feed');
      feed.textContent = '';
      for (const entry of message.feed.slice(0, FEED_ROWS)) feed.appendChild(feedRow(entry));
      setLink('connected', 'up');
      setConnected(true);
      return;
    }
    if (message.type === 'error') {
      setLink('connected — ' + message.message, 'up warn');
      return;
    }
    if (message.seq <= lastSeq) return;  // already in the greeting
    lastSeq = message.seq;
    if (message.type === 'state') showState(message);
    else if (message.type === 'position') showPosition(message.camera, message);
    else if (message.type === 'report' || message.type === 'note') addToFeed(message);
  }

  // --- the feed --------------------------------------------------------------------

  function feedRow(entry) {
    const row = document.createElement('tr');
    row.className = entry.type;
    for (const text of [entry.time, entry.camera, entry.event, entry.bytes]) {
      const cell = document.createElement('td');
      cell.textContent = text;
      row.appendChild(cell);
    }
    return row;
  }

  function addToFeed(entry) {
    const feed = $('#feed');
    feed.insertBefore(feedRow(entry), feed.firstChild);
    while (feed.children.length > FEED_ROWS) feed.removeChild(feed.lastChild);
  }

  // --- what a camera can do ------------------------------------------------------------

  const OPERATION_WORDS = {
    move: 'move', zoom: 'zoom', focus: 'focus', iris: 'iris', preset: 'presets', track: 'track',
    autozoom: 'auto-zoom', autowrite: 'auto-write', test: 'connection test',
  };
  // Controls only some links have (ONVIF): shown on their cards alone, never listed as missing.
  const LINK_OWN = ['position', 'home'];

  // The operation a control belongs to: its own data-op, a held motion's
  // first word ("zoom-in" -> zoom, the directions -> move), or its group's.
  function operationOf(element) {
    if (element.dataset.op) return element.dataset.op;
    const motion = element.dataset.motion;
    if (motion) return /^(zoom|focus|iris)-/.test(motion) ? motion.split('-')[0] : 'move';
    if (element.dataset.switch) return element.dataset.switch;
    const group = element.closest('[data-op]');
    return group ? group.dataset.op : '';
  }

  // Null when the camera may be sent op now, else why not.
  function whyNot(name, op) {
    const state = states.get(name);
    if (!connected) return 'the page has lost the panel: wait until it is back';
    if (!state) return 'the camera is not known yet';
    if (op === 'test') return state.state === 'opening' ? 'the camera is still opening' : null;
    if (state.opened === false || state.state === 'opening')
      return state.state === 'opening' ? 'the camera is still opening' : 'the camera is not open: ' + (state.reason || 'see its card');
    if (op !== 'stop' && Array.isArray(state.can) && !state.can.includes(op))
      return 'not on this link: ' + ((state.cannot && state.cannot[op]) || (OPERATION_WORDS[op] || op) + ' is not sent');
    return null;
  }

  function applyControls(name) {
    const card = cards.get(name);
    const state = states.get(name);
    card.classList.toggle('offline', !connected);
    for (const control of card.querySelectorAll('button, input, summary')) {
      const why = whyNot(name, operationOf(control));
      if (control.tagName === 'SUMMARY') control.classList.toggle('disabled', !!why);
      else control.disabled = !!why;
      if (why) control.title = why;
      else control.removeAttribute('title');
    }
    // A group none of whose operations the link carries says so on the group,
    // as a disabled button shows no tooltip in every browser.
    for (const group of card.querySelectorAll('[data-op]')) {
      if (group.tagName === 'BUTTON') continue;
      const cannot = Array.isArray(state && state.can) && !state.can.includes(group.dataset.op);
      group.classList.toggle('unsupported', cannot);
      if (cannot) group.title = whyNot(name, group.dataset.op) || '';
      else group.removeAttribute('title');
    }
    const missing = Array.isArray(state && state.can)
      ? Object.keys(OPERATION_WORDS).filter((op) => !state.can.includes(op)).map((op) => OPERATION_WORDS[op])
      : [];
    const cannot = $('.cannot', card);
    cannot.hidden = missing.length === 0;
    cannot.textContent = missing.length ? 'This link cannot send: ' + missing.join(', ') + '.' : '';
  }

  // --- the cameras -------------------------------------------------------------------

  function showState(state) {
    let card = cards.get(state.camera);
    if (!card) {
      card = buildCard(state.camera);
      cards.set(state.camera, card);
      $('#cameras').appendChild(card);
    }
    const before = states.get(state.camera);
    states.set(state.camera, state);
    const badge = $('.badge', card);
    badge.textContent = state.moving ? 'moving: ' + state.moving : state.state;
    badge.className = 'badge ' + state.state + (state.moving ? ' moving' : '');
    $('.describe', card).textContent = state.link;
    const reason = $('.reason', card);
    reason.hidden = !state.reason;
    reason.textContent = state.reason;
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

  // Where an ONVIF camera points, as the panel last read it while a page watched.
  function showPosition(name, position) {
    const card = cards.get(name);
    if (!card || !position) return;
    const line = $('.position', card);
    const number = (value) => (value >= 0 ? '+' : '') + Number(value).toFixed(3);
    line.textContent = 'pan ' + number(position.pan) + '  tilt ' + number(position.tilt) + '  zoom ' +
      Number(position.zoom).toFixed(3) + (position.moving ? '  moving' : '');
    line.classList.toggle('moving', !!position.moving);
  }

  // The first twelve presets of the link's range, then any other named one.
  function buildPresets(card, state) {
    const name = state.camera;
    const range = state.presets || {};
    // Preset 0 is the frames' own; people count from 1.
    const first = Math.max(range.first === undefined ? 1 : range.first, 1), last = range.last === undefined ? 255 : range.last;
    const names = range.names || {};
    const numbers = [];
    for (let n = first; n <= last && numbers.length < PRESETS; ++n) numbers.push(n);
    for (const key of Object.keys(names).map(Number).sort((a, b) => a - b))
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
      button.setAttribute('aria-label', name + ' go to preset ' + n + (label ? ' (' + label + ')' : ''));
      button.addEventListener('click', () => goToPreset(name, n));
      grid.appendChild(button);
    }
    const number = $('.store-number', card);
    number.min = first;
    number.max = last;
  }

  function goToPreset(name, n) {
    const state = states.get(name);
    const label = state && state.presets && state.presets.names && state.presets.names[n];
    command(name, 'preset', { action: 'go', number: n }, 'going to preset ' + n + (label ? ' (' + label + ')' : ''));
  }

  function buildCard(name) {
    const card = $('#camera-card').content.firstElementChild.cloneNode(true);
    card.dataset.camera = name;
    card.setAttribute('aria-label', 'camera ' + name);
    $('.name', card).textContent = name;
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

  function say(card, text, bad) {
    const message = $('.message', card);
    message.textContent = text;
    message.classList.toggle('bad', !!bad);
  }

  function command(name, action, body, done) {
    const card = cards.get(name);
    fetch('/api/cameras/' + encodeURIComponent(name) + '/' + action, {
      method: 'POST', headers: headers, body: body ? JSON.stringify(body) : undefined,
    }).then((response) => response.json().then((answer) => {
      if (response.ok) say(card, done);
      else say(card, answer.error || response.statusText, true);
    })).catch(() => say(card, 'the panel did not answer', true));
  }

  function stop(name) {
    const hold = held.get(name);
    if (hold) hold.button.classList.remove('pressed');
    held.delete(name);
    if (held.size === 0) stopRenewing();
    // On the push channel, behind every renewal already sent: none of them can overtake it.
    const message = { op: 'stop', camera: name };
    if (hold) message.press = hold.press;
    send(message);
    say(cards.get(name), 'stopped');
  }

  // --- held moves ----------------------------------------------------------------------
  // A pointer and the keys hold the same way: a lease the page renews until
  // the button or key is let go, the page loses focus, or it goes away.

  function hold(name, motion, byKey) {
    const card = cards.get(name);
    const button = $('button[data-motion="' + motion + '"]', card);
    if (whyNot(name, operationOf(button))) return false;
    const before = held.get(name);
    if (before && before.motion === motion && before.byKey === byKey) return true;
    if (before) before.button.classList.remove('pressed');
    const press = ++presses;
    held.set(name, { motion: motion, button: button, byKey: byKey, press: press });
    button.classList.add('pressed');
    send({ op: 'hold', camera: name, motion: motion, press: press });
    if (!renewTimer) renewTimer = setInterval(renew, Math.max(100, Math.floor(leaseMs / 4)));
    return true;
  }

  function release(name, button) {
    const now = held.get(name);
    if (!now || (button && now.button !== button)) return;
    now.button.classList.remove('pressed');
    held.delete(name);
    send({ op: 'release', camera: name, press: now.press });
    if (held.size === 0) stopRenewing();
  }

  function holdable(button, name, motion) {
    button.addEventListener('pointerdown', (event) => {
      if (event.button !== 0) return;
      event.preventDefault();
      select(name);
      button.setPointerCapture(event.pointerId);
      hold(name, motion, false);
    });
    const letGoOfButton = () => { button.classList.remove('pressed'); release(name, button); };
    for (const type of ['pointerup', 'pointercancel', 'lostpointercapture']) button.addEventListener(type, letGoOfButton);
    button.addEventListener('keydown', (event) => {
      if (event.key === 'Enter' && !event.repeat) { event.preventDefault(); hold(name, motion, false); }
    });
    button.addEventListener('keyup', (event) => { if (event.key === 'Enter') letGoOfButton(); });
    button.addEventListener('blur', letGoOfButton);
    button.addEventListener('contextmenu', (event) => event.preventDefault());
  }

  function renew() {
    for (const [name, each] of held) send({ op: 'hold', camera: name, motion: each.motion, press: each.press });
  }

  function stopRenewing() {
    clearInterval(renewTimer);
    renewTimer = null;
  }

  function letGoLocally() {
    for (const each of held.values()) each.button.classList.remove('pressed');
    held.clear();
    keysDown.clear();
    stopRenewing();
  }

  // Whatever takes the pointer, the keys or the page away lets go of every move.
  function letGo(why) {
    keysDown.clear();
    if (held.size === 0) return;
    send({ op: 'release-all', why: why });
    letGoLocally();
  }
  window.addEventListener('blur', () => letGo('the window lost focus'));
  window.addEventListener('pagehide', () => letGo('the page was closed'));
  document.addEventListener('visibilitychange', () => { if (document.hidden) letGo('the page was hidden'); });
  document.documentElement.addEventListener('pointerleave', () => letGo('the pointer left the window'));
  document.addEventListener('mouseout', (event) => { if (!event.relatedTarget) letGo('the pointer left the window'); });

  // --- the keyboard ----------------------------------------------------------------------

  const DIRECTION_KEYS = {
    ArrowUp: ['up'], ArrowDown: ['down'], ArrowLeft: ['left'], ArrowRight: ['right'],
    Home: ['up', 'left'], PageUp: ['up', 'right'], End: ['down', 'left'], PageDown: ['down', 'right'],
  };
  const LENS_KEYS = {
    '+': 'zoom-in', '=': 'zoom-in', '-': 'zoom-out', '_': 'zoom-out',
    f: 'focus-far', n: 'focus-near', o: 'iris-open', c: 'iris-close',
  };
  const keysDown = new Map();  // key -> when pressed, the held keys in order

  function select(name) {
    if (selected === name) return;
    if (selected && cards.has(selected)) {
      cards.get(selected).classList.remove('selected');
      // Moving on to another camera lets go of what the keys held on the last one.
      const before = held.get(selected);
      if (before && before.byKey) { keysDown.clear(); release(selected); }
    }
    selected = name;
    cards.get(name).classList.add('selected');
    $('#selected').textContent = 'keys drive: ' + name;
  }

  // What the keys still down ask for: arrows (two make a diagonal) before the
  // lens, the lens key pressed last among the lens keys.
  function keyMotion() {
    let up = 0, down = 0, left = 0, right = 0, lens = '';
    for (const key of keysDown.keys()) {
      for (const part of DIRECTION_KEYS[key] || []) {
        if (part === 'up') up = 1;
        if (part === 'down') down = 1;
        if (part === 'left') left = 1;
        if (part === 'right') right = 1;
      }
      if (LENS_KEYS[key]) lens = LENS_KEYS[key];
    }
    const vertical = up === down ? '' : up ? 'up' : 'down';
    const horizontal = left === right ? '' : left ? 'left' : 'right';
    const direction = [vertical, horizontal].filter(Boolean).join('-');
    return direction || lens;
  }

  function followKeys() {
    if (!selected) return;
    const motion = keyMotion();
    const now = held.get(selected);
    if (motion) {
      if (!hold(selected, motion, true)) say(cards.get(selected), whyNot(selected, operationOf($('button[data-motion="' + motion + '"]', cards.get(selected)))), true);
    } else if (now && now.byKey) {
      release(selected);
    }
  }

  function typing(target) {
    return target && (target.tagName === 'INPUT' || target.tagName === 'TEXTAREA' || target.isContentEditable);
  }

  function showKeys() {
    const dialog = $('#keys');
    if (dialog.open) dialog.close();
    else dialog.showModal();
  }

  document.addEventListener('keydown', (event) => {
    if (event.ctrlKey || event.altKey || event.metaKey) return;
    const key = event.key.length === 1 ? event.key.toLowerCase() : event.key;
    if (key === '?') { event.preventDefault(); showKeys(); return; }
    if (key === 'Escape' || key === ' ') {
      if (key === ' ' && typing(event.target)) return;
      // Stopping comes before whatever Space would do to the focused control;
      // Esc still closes the list of keys.
      if (key === ' ') event.preventDefault();
      keysDown.clear();
      if (selected) stop(selected);
      return;
    }
    if (typing(event.target) || $('#keys').open) return;
    const moves = DIRECTION_KEYS[key] || LENS_KEYS[key];
    const digit = /^[1-9]$/.test(key);
    if (!moves && !digit) return;
    event.preventDefault();
    if (!selected) {
      setLink((connected ? 'connected' : 'not connected') + ' — select a camera first: click its card or Tab to it', connected ? 'up warn' : 'down');
      return;
    }
    if (digit) {
      if (!event.repeat) {
        const why = whyNot(selected, 'preset');
        if (why) say(cards.get(selected), why, true);
        else goToPreset(selected, Number(key));
      }
      return;
    }
    if (event.repeat && keysDown.has(key)) return;
    keysDown.set(key, Date.now());
    followKeys();
  }, true);

  document.addEventListener('keyup', (event) => {
    const key = event.key.length === 1 ? event.key.toLowerCase() : event.key;
    if (key === ' ' && !typing(event.target)) event.preventDefault();  // no click on the focused button
    // Shift may have changed the key between down and up ("=" and "+"): either lets go.
    const same = Object.keys(LENS_KEYS).filter((k) => LENS_KEYS[k] === LENS_KEYS[key]);
    let changed = false;
    for (const k of same.length ? same : [key]) changed = keysDown.delete(k) || changed;
    if (changed) followKeys();
  }, true);

  // --- finding cameras ------------------------------------------------------------------

  function findCameras() {
    const dialog = $('#found'), button = $('#find'), list = $('.found-list', dialog), state = $('.found-state', dialog);
    if (!dialog.open) dialog.showModal();
    button.disabled = true;
    list.hidden = true;
    state.textContent = 'searching the local network for ONVIF cameras…';
    fetch('/api/discover', { method: 'POST', headers: headers }).then((response) => response.json().then((answer) => {
      if (!response.ok) { state.textContent = answer.error || response.statusText; return; }
      const rows = $('tbody', list);
      rows.textContent = '';
      for (const camera of answer.cameras) {
        const row = document.createElement('tr');
        for (const text of [camera.address, camera.name || '(no name)', camera.hardware || '-', camera.ptz ? 'yes' : 'no']) {
          const cell = document.createElement('td');
          cell.textContent = text;
          row.appendChild(cell);
        }
        rows.appendChild(row);
      }
      list.hidden = answer.cameras.length === 0;
      state.textContent = answer.cameras.length + ' camera(s) answered in ' + answer.seconds.toFixed(1) + ' s' +
        (answer.error ? ' — ' + answer.error : '');
    })).catch(() => { state.textContent = 'the panel did not answer'; })
      .finally(() => { button.disabled = false; });
  }

  $('#find').addEventListener('click', findCameras);
  $('#show-keys').addEventListener('click', showKeys);
  $('#stop-all').addEventListener('click', () => {
    letGo('stop all');
    for (const name of cards.keys()) command(name, 'stop', null, 'stopped');
  });

  setConnected(false);
  connect();
})();
