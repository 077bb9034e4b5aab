// The feed: reports and notes, newest first.

// The relay's events are words: shown as such, where a frame stays in hex.
function bytesText(hex) {
  const codes = (hex || '').split(' ').filter(Boolean).map((pair) => parseInt(pair, 16));
  if (codes.length < 2 || codes.some((code) => !(code >= 0x20 && code < 0x7f))) return hex;
  return '"' + String.fromCharCode(...codes) + '"';
}

function feedRow(entry) {
  const row = document.createElement('tr');
  row.className = entry.type;
  for (const text of [entry.time, entry.camera, detailsOf(entry.event || ''), bytesText(entry.bytes)]) {
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
