// The panel's page: builds one card per camera from the push channel's
// greeting, keeps states and the feed current, and holds moves as leases it
// renews while a button is down.
(function () {
  'use strict';

  const FEED_ROWS = 100;
  const PRESETS = 12;
  const token = new URLSearchParams(location.search).get('token') || '';
  const headers = { 'Content-Type': 'application/json' };
  if (token) headers.Authorization = 'Bearer ' + token;

  const cards = new Map();  // camera name -> card element
  const held = new Map();   // camera name -> { motion, button }
  let socket = null;
  let leaseMs = 700;
  let lastSeq = 0;
  let renewTimer = null;

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
    socket.onopen = () => setLink('connected', 'up');
    socket.onmessage = (event) => receive(JSON.parse(event.data));
    socket.onclose = () => {
      // The server stops what this page held; the page lets go as well.
      letGoLocally();
      setLink('connection lost, trying again…', 'down');
      setTimeout(connect, 1000);
    };
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
      return;
    }
    if (message.type === 'error') {
      setLink('connected — ' + message.message, 'up warn');
      return;
    }
    if (message.seq <= lastSeq) return;  // already in the greeting
    lastSeq = message.seq;
    if (message.type === 'state') showState(message);
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

  // --- the cameras -------------------------------------------------------------------

  function showState(state) {
    let card = cards.get(state.camera);
    if (!card) {
      card = buildCard(state.camera);
      cards.set(state.camera, card);
      $('#cameras').appendChild(card);
    }
    const badge = $('.badge', card);
    badge.textContent = state.moving ? 'moving: ' + state.moving : state.state;
    badge.className = 'badge ' + state.state + (state.moving ? ' moving' : '');
    $('.describe', card).textContent = state.link;
    const reason = $('.reason', card);
    reason.hidden = !state.reason;
    reason.textContent = state.reason;
    card.classList.toggle('unavailable', state.state !== 'open');
    for (const axis of ['pan', 'tilt']) {
      const slider = $('input[data-speed="' + axis + '"]', card);
      if (document.activeElement !== slider) slider.value = state[axis + '_speed'];
      slider.nextElementSibling.textContent = slider.value;
    }
    for (const button of card.querySelectorAll('button[data-switch]')) {
      const on = state.switches[button.dataset.switch];
      button.classList.toggle('active', on !== undefined && String(on) === button.dataset.on);
    }
    for (const button of card.querySelectorAll('button[data-motion]'))
      button.classList.toggle('moving', state.moving === button.dataset.motion);
  }

  function buildCard(name) {
    const card = $('#camera-card').content.firstElementChild.cloneNode(true);
    card.dataset.camera = name;
    $('.name', card).textContent = name;
    const grid = $('.preset-grid', card);
    for (let n = 1; n <= PRESETS; ++n) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = n;
      button.dataset.preset = n;
      button.setAttribute('aria-label', name + ' go to preset ' + n);
      button.addEventListener('click', () => command(name, 'preset', { action: 'go', number: n }, 'going to preset ' + n));
      grid.appendChild(button);
    }
    for (const button of card.querySelectorAll('button[data-motion]')) holdable(button, name, button.dataset.motion);
    $('button[data-command="stop"]', card).addEventListener('click', () => {
      held.delete(name);
      command(name, 'stop', null, 'stopped');
    });
    $('button[data-command="test"]', card).addEventListener('click', () => command(name, 'test', null, 'test sent: see the reports'));
    for (const button of card.querySelectorAll('button[data-switch]')) {
      const what = button.dataset.switch, on = button.dataset.on === 'true';
      button.addEventListener('click', () => command(name, what, { on: on }, what + (on ? ' on' : ' off')));
    }
    for (const slider of card.querySelectorAll('input[data-speed]')) {
      slider.addEventListener('input', () => { slider.nextElementSibling.textContent = slider.value; });
      slider.addEventListener('change', () => command(name, 'speed', { [slider.dataset.speed]: Number(slider.value) }, slider.dataset.speed + ' speed ' + slider.value));
    }
    const number = $('.store-number', card);
    const chosen = () => {
      const n = Number(number.value);
      if (!Number.isInteger(n) || n < 1 || n > 255) { say(card, 'a preset is a number from 1 to 255', true); return 0; }
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

  // --- held buttons ------------------------------------------------------------------

  function holdable(button, name, motion) {
    const press = () => {
      const before = held.get(name);
      if (before && before.button !== button) before.button.classList.remove('pressed');
      held.set(name, { motion: motion, button: button });
      button.classList.add('pressed');
      send({ op: 'hold', camera: name, motion: motion });
      if (!renewTimer) renewTimer = setInterval(renew, Math.max(100, Math.floor(leaseMs / 4)));
    };
    const release = () => {
      const now = held.get(name);
      button.classList.remove('pressed');
      if (!now || now.button !== button) return;
      held.delete(name);
      send({ op: 'release', camera: name });
      if (held.size === 0) stopRenewing();
    };
    button.addEventListener('pointerdown', (event) => {
      if (event.button !== 0) return;
      event.preventDefault();
      button.setPointerCapture(event.pointerId);
      press();
    });
    for (const type of ['pointerup', 'pointercancel', 'lostpointercapture']) button.addEventListener(type, release);
    button.addEventListener('keydown', (event) => {
      if ((event.key === ' ' || event.key === 'Enter') && !event.repeat) { event.preventDefault(); press(); }
    });
    button.addEventListener('keyup', (event) => {
      if (event.key === ' ' || event.key === 'Enter') release();
    });
    button.addEventListener('blur', release);
    button.addEventListener('contextmenu', (event) => event.preventDefault());
  }

  function renew() {
    for (const [name, hold] of held) send({ op: 'hold', camera: name, motion: hold.motion });
  }

  function stopRenewing() {
    clearInterval(renewTimer);
    renewTimer = null;
  }

  function letGoLocally() {
    for (const hold of held.values()) hold.button.classList.remove('pressed');
    held.clear();
    stopRenewing();
  }

  // Whatever takes the pointer or the page away lets go of every move.
  function letGo(why) {
    if (held.size === 0) return;
    send({ op: 'release-all', why: why });
    letGoLocally();
  }
  window.addEventListener('blur', () => letGo('the window lost focus'));
  window.addEventListener('pagehide', () => letGo('the page was closed'));
  document.addEventListener('visibilitychange', () => { if (document.hidden) letGo('the page was hidden'); });
  document.documentElement.addEventListener('pointerleave', () => letGo('the pointer left the window'));
  document.addEventListener('mouseout', (event) => { if (!event.relatedTarget) letGo('the pointer left the window'); });

  $('#stop-all').addEventListener('click', () => {
    letGo('stop all');
    for (const name of cards.keys()) command(name, 'stop', null, 'stopped');
  });

  connect();
})();
