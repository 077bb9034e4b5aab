// The push channel: the greeting, the panel's messages in order, and every
// command this page sends that must keep its order (holds, renewals, stops).

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
  store.socket = new WebSocket(scheme + location.host + '/api/events' + (token ? '?token=' + encodeURIComponent(token) : ''));
  store.socket.onmessage = (event) => receive(JSON.parse(event.data));
  store.socket.onclose = () => {
    // The server stops what this page held; the page lets go as well, and
    // nothing on it may be used until the panel is back.
    letGoLocally();
    setConnected(false);
    setLink('connection lost, trying again…', 'down');
    setTimeout(connect, 1000);
  };
}

function setConnected(up) {
  store.connected = up;
  document.body.classList.toggle('offline', !up);
  for (const name of store.cards.keys()) applyControls(name);
  const stopAll = $('#stop-all');
  stopAll.disabled = !up;
  stopAll.title = up ? 'Stop every camera' : 'the page has lost the panel: the panel stops what this page held';
}

function send(message) {
  if (store.socket && store.socket.readyState === WebSocket.OPEN) store.socket.send(JSON.stringify(message));
}

function receive(message) {
  if (message.type === 'hello') {
    store.leaseMs = message.lease_ms || store.leaseMs;
    store.lastSeq = message.seq;
    // A panel started again may list other cameras: the page shows only its own,
    // and no word left from before the break.
    const listed = new Set(message.cameras.map((state) => state.camera));
    for (const name of [...store.cards.keys()].filter((each) => !listed.has(each))) forget(name);
    store.taken.clear();
    for (const state of message.cameras) showState(state);
    for (const card of store.cards.values()) say(card, '');
    if (!store.selected) pickNamed();
    const feed = $('#feed');
    feed.textContent = '';
    for (const entry of message.feed.slice(0, FEED_ROWS)) feed.appendChild(feedRow(entry));
    setLink('connected', 'up');
    setConnected(true);
    return;
  }
  if (message.type === 'error' && store.cards.has(message.camera)) {
    say(store.cards.get(message.camera), message.message, true);  // a camera's refusal, on that camera
    return;
  }
  if (message.type === 'error') {
    setLink('connected — ' + message.message, 'up warn');
    return;
  }
  if (message.seq <= store.lastSeq) return;  // already in the greeting
  store.lastSeq = message.seq;
  if (message.type === 'state') showState(message);
  else if (message.type === 'position') showPosition(message.camera, message);
  else if (message.type === 'report' || message.type === 'note') addToFeed(message);
  else if (message.type === 'taken' && store.cards.has(message.camera)) {
    store.taken.set(message.camera, message.reason || 'taken over by another page');
    showTaken(message.camera);
    showEntry(store.states.get(message.camera));
  }
}
