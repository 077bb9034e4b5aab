// The page's own buttons, then the channel opens.

$('#find').addEventListener('click', findCameras);
$('#show-keys').addEventListener('click', showKeys);
$('#stop-all').addEventListener('click', () => {
  letGo('stop all');
  for (const name of store.cards.keys()) stop(name);
});

setConnected(false);
connect();
