// Commands and held moves: a held button is a lease the page renews; a stop
// goes on the push channel behind the renewals already sent.

function say(card, text, bad) {
  const message = $('.message', card);
  message.textContent = text;
  message.classList.toggle('bad', !!bad);
}

function command(name, action, body, done) {
  const card = store.cards.get(name);
  fetch('/api/cameras/' + encodeURIComponent(name) + '/' + action, {
    method: 'POST', headers: headers, body: body ? JSON.stringify(body) : undefined,
  }).then((response) => answerOf(response).then((answer) => {
    if (response.ok) say(card, done);
    else say(card, answer.error || response.statusText, true);
  })).catch(() => say(card, 'the panel did not answer', true));
}

function stop(name) {
  const hold = store.held.get(name);
  if (hold) hold.button.classList.remove('pressed');
  store.held.delete(name);
  if (store.held.size === 0) stopRenewing();
  // On the push channel, behind every renewal already sent: none of them can overtake it.
  const message = { op: 'stop', camera: name };
  if (hold) message.press = hold.press;
  send(message);
  say(store.cards.get(name), 'stopped');
}

// --- held moves ----------------------------------------------------------------------
// A pointer and the keys hold the same way: a lease the page renews until
// the button or key is let go, the page loses focus, or it goes away.

function hold(name, motion, byKey) {
  const card = store.cards.get(name);
  const button = $('button[data-motion="' + motion + '"]', card);
  if (whyNot(name, operationOf(button))) return false;
  const before = store.held.get(name);
  if (before && before.motion === motion && before.byKey === byKey) return true;
  if (before) before.button.classList.remove('pressed');
  const press = ++store.presses;
  store.held.set(name, { motion: motion, button: button, byKey: byKey, press: press });
  button.classList.add('pressed');
  send({ op: 'hold', camera: name, motion: motion, press: press });
  if (!store.renewTimer) store.renewTimer = setInterval(renew, Math.max(100, Math.floor(store.leaseMs / 4)));
  return true;
}

function release(name, button) {
  const now = store.held.get(name);
  if (!now || (button && now.button !== button)) return;
  now.button.classList.remove('pressed');
  store.held.delete(name);
  send({ op: 'release', camera: name, press: now.press });
  if (store.held.size === 0) stopRenewing();
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
  for (const [name, each] of store.held) send({ op: 'hold', camera: name, motion: each.motion, press: each.press });
}

function stopRenewing() {
  clearInterval(store.renewTimer);
  store.renewTimer = null;
}

function letGoLocally() {
  for (const each of store.held.values()) each.button.classList.remove('pressed');
  store.held.clear();
  store.keysDown.clear();
  stopRenewing();
}

// Whatever takes the pointer, the keys or the page away lets go of every move.
function letGo(why) {
  store.keysDown.clear();
  if (store.held.size === 0) return;
  send({ op: 'release-all', why: why });
  letGoLocally();
}
window.addEventListener('blur', () => letGo('the window lost focus'));
window.addEventListener('pagehide', () => letGo('the page was closed'));
document.addEventListener('visibilitychange', () => { if (document.hidden) letGo('the page was hidden'); });
document.documentElement.addEventListener('pointerleave', () => letGo('the pointer left the window'));
document.addEventListener('mouseout', (event) => { if (!event.relatedTarget) letGo('the pointer left the window'); });
