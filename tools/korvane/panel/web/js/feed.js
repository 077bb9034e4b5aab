// The feed: reports and notes, newest first.

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
