// The keyboard drives the selected camera as the buttons do.

const DIRECTION_KEYS = {
  ArrowUp: ['up'], ArrowDown: ['down'], ArrowLeft: ['left'], ArrowRight: ['right'],
  Home: ['up', 'left'], PageUp: ['up', 'right'], End: ['down', 'left'], PageDown: ['down', 'right'],
};
const LENS_KEYS = {
  '+': 'zoom-in', '=': 'zoom-in', '-': 'zoom-out', '_': 'zoom-out',
  f: 'focus-far', n: 'focus-near', o: 'iris-open', c: 'iris-close',
};

function select(name) {
  if (store.selected === name) return;
  if (store.selected && store.cards.has(store.selected)) {
    store.cards.get(store.selected).classList.remove('selected');
    // Moving on to another camera lets go of what the keys held on the last one.
    const before = store.held.get(store.selected);
    if (before && before.byKey) { store.keysDown.clear(); release(store.selected); }
  }
  store.selected = name;
  store.cards.get(name).classList.add('selected');
  document.body.classList.add('picked');
  for (const entry of document.querySelectorAll('#strip .entry'))
    entry.setAttribute('aria-current', entry.dataset.camera === name ? 'true' : 'false');
  $('#selected').textContent = 'keys drive: ' + name;
  history.replaceState(null, '', '#' + encodeURIComponent(name));
  if (/select a camera first/.test(linkState.textContent)) resetLink();
}

// The address names the camera last picked, so that a reload drives it again.
function pickNamed() {
  const named = decodeURIComponent(location.hash.slice(1));
  if (store.cards.has(named)) select(named);
}
window.addEventListener('hashchange', pickNamed);

// Alt+digit picks by place in the list; [ and ] step through it.
function pickByKey(event) {
  const names = [...document.querySelectorAll('#strip .entry')].map((entry) => entry.dataset.camera);
  let index = -1;
  if (event.altKey && /^Digit[1-9]$/.test(event.code)) index = Number(event.code.slice(5)) - 1;
  else if (!event.altKey && !typing(event.target) && (event.key === '[' || event.key === ']') && names.length)
    index = (names.indexOf(store.selected) + (event.key === ']' ? 1 : names.length - 1 + (store.selected ? 0 : 1))) % names.length;
  if (index < 0 || index >= names.length) return false;
  event.preventDefault();
  select(names[index]);
  return true;
}

// What the keys still down ask for: arrows (two make a diagonal) before the
// lens, the lens key pressed last among the lens keys.
function keyMotion() {
  let up = 0, down = 0, left = 0, right = 0, lens = '';
  for (const key of store.keysDown.keys()) {
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
  if (!store.selected) return;
  const motion = keyMotion();
  const now = store.held.get(store.selected);
  if (motion) {
    if (!hold(store.selected, motion, true)) say(store.cards.get(store.selected), whyNot(store.selected, operationOf($('button[data-motion="' + motion + '"]', store.cards.get(store.selected)))), true);
  } else if (now && now.byKey) {
    release(store.selected);
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
  if (event.ctrlKey || event.metaKey || pickByKey(event) || event.altKey) return;
  const key = event.key.length === 1 ? event.key.toLowerCase() : event.key;
  if (key === '?') { event.preventDefault(); showKeys(); return; }
  if (key === 'Escape' || key === ' ') {
    if (key === ' ' && typing(event.target)) return;
    // Stopping comes before whatever Space would do to the focused control;
    // Esc still closes the list of keys.
    if (key === ' ') event.preventDefault();
    store.keysDown.clear();
    if (store.selected) stop(store.selected);
    return;
  }
  if (typing(event.target) || $('#keys').open) return;
  const moves = DIRECTION_KEYS[key] || LENS_KEYS[key];
  const digit = /^[1-9]$/.test(key);
  if (!moves && !digit) return;
  event.preventDefault();
  if (!store.selected) {
    setLink((store.connected ? 'connected' : 'not connected') + ' — select a camera first: pick it in the list (Alt+1…9)', store.connected ? 'up warn' : 'down');
    return;
  }
  if (digit) {
    if (!event.repeat) {
      const why = whyNot(store.selected, 'preset');
      if (why) say(store.cards.get(store.selected), why, true);
      else goToPreset(store.selected, Number(key));
    }
    return;
  }
  if (event.repeat && store.keysDown.has(key)) return;
  store.keysDown.set(key, Date.now());
  followKeys();
}, true);

document.addEventListener('keyup', (event) => {
  const key = event.key.length === 1 ? event.key.toLowerCase() : event.key;
  if (key === ' ' && !typing(event.target)) event.preventDefault();  // no click on the focused button
  // Shift may have changed the key between down and up ("=" and "+"): either lets go.
  const same = Object.keys(LENS_KEYS).filter((k) => LENS_KEYS[k] === LENS_KEYS[key]);
  let changed = false;
  for (const k of same.length ? same : [key]) changed = store.keysDown.delete(k) || changed;
  if (changed) followKeys();
}, true);
