// Finding ONVIF cameras on the local network.

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
