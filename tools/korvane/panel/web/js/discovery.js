// Finding ONVIF cameras on the local network, and adding one to the room.

// The answer's JSON, or its status line where the body is none.
function answerOf(response) {
  return response.json().catch(() => ({ error: response.status + ' ' + response.statusText }));
}

function openFinder() {
  const dialog = $('#found');
  if (!dialog.open) dialog.showModal();
  // A panel that lists its interfaces lets the operator choose one; one that does not searches its default.
  fetch('/api/interfaces', { headers: headers }).then((response) => (response.ok ? response.json() : { interfaces: [] }))
    .catch(() => ({ interfaces: [] }))
    .then((answer) => {
      const choice = $('.found-interface', dialog);
      choice.textContent = '';
      for (const each of answer.interfaces || []) choice.add(new Option(each.name + ' (' + each.address + ')', each.address));
      $('.found-where', dialog).hidden = choice.options.length === 0;
      findCameras();
    });
}

function findCameras() {
  const dialog = $('#found'), button = $('#find'), list = $('.found-list', dialog), state = $('.found-state', dialog);
  const hint = $('.found-hint', dialog), choice = $('.found-interface', dialog);
  button.disabled = $('.found-again', dialog).disabled = true;
  list.hidden = hint.hidden = true;
  state.textContent = 'searching the local network for ONVIF cameras…';
  const where = choice.value ? '?interface=' + encodeURIComponent(choice.value) : '';
  fetch('/api/discover' + where, { method: 'POST', headers: headers }).then((response) => answerOf(response).then((answer) => {
    if (!response.ok) { state.textContent = answer.error || response.statusText; return; }
    list.textContent = '';
    for (const camera of answer.cameras) list.appendChild(foundCamera(camera));
    list.hidden = answer.cameras.length === 0;
    state.textContent = answer.cameras.length + ' camera(s) answered in ' + answer.seconds.toFixed(1) + ' s' +
      (answer.error ? ' — ' + answer.error : '');
    hint.hidden = answer.cameras.length > 0 || !answer.hint;
    hint.textContent = answer.hint || '';
  })).catch(() => { state.textContent = 'the panel did not answer'; })
    .finally(() => { button.disabled = $('.found-again', dialog).disabled = false; });
}

function foundCamera(camera) {
  const item = $('#found-camera').content.firstElementChild.cloneNode(true);
  $('.found-what', item).textContent = camera.address + ' · ' + (camera.name || '(no name)') + ' · ' +
    (camera.hardware || '-') + ' · PTZ ' + (camera.ptz ? 'yes' : 'no');
  const form = $('form', item);
  form.elements.name.value = (camera.name || '').toLowerCase().replace(/[^a-z0-9]+/g, '-').replace(/^-|-$/g, '');
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    const fields = form.elements, said = $('.add-state', form);
    // The camera file's own form, as discover --write puts it: a search lists the device service's whole URL.
    const address = (camera.scheme === 'https' ? 'https://' : '') + camera.host + ':' + camera.port;
    const body = { name: fields.name.value, mode: 'onvif', address: address, user: fields.user.value,
      password: fields.password.value };
    if (fields.tls_fingerprint.value) body.tls_fingerprint = fields.tls_fingerprint.value;
    said.classList.remove('bad');
    said.textContent = 'adding…';
    fetch('/api/cameras', { method: 'POST', headers: headers, body: JSON.stringify(body) })
      .then((response) => answerOf(response).then((answer) => {
        said.textContent = response.ok ? 'added: ' + ((answer.camera && answer.camera.state) || 'opening') : answer.error || response.statusText;
        said.classList.toggle('bad', !response.ok);
      })).catch(() => { said.textContent = 'the panel did not answer'; said.classList.add('bad'); });
  });
  return item;
}
