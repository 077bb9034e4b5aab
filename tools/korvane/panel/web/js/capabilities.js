// What each camera's link can send: controls it cannot are disabled and say why.

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
  const state = store.states.get(name);
  if (!store.connected) return 'the page has lost the panel: wait until it is back';
  if (!state) return 'the camera is not known yet';
  if (op === 'take') return null;  // taking a camera back sends nothing to it
  if (op === 'test') return state.state === 'opening' ? 'the camera is still opening' : null;
  if (state.opened === false || state.state === 'opening')
    return state.state === 'opening' ? 'the camera is still opening' : 'the camera is not open: ' + (state.reason || 'see its card');
  if (op !== 'stop' && Array.isArray(state.can) && !state.can.includes(op))
    return 'not on this link: ' + ((state.cannot && state.cannot[op]) || (OPERATION_WORDS[op] || op) + ' is not sent');
  return null;
}

function applyControls(name) {
  const card = store.cards.get(name);
  const state = store.states.get(name);
  card.classList.toggle('offline', !store.connected);
  for (const control of card.querySelectorAll('button, input, summary')) {
    if (control.closest('.failure')) continue;  // the details of a failure open whatever the camera's state
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
