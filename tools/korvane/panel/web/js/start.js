// The page's own buttons, then the channel opens.

$('#find').addEventListener('click', openFinder);
$('#found .found-again').addEventListener('click', findCameras);
// On a phone the feed has a tab of its own.
for (const tab of document.querySelectorAll('.tabs button'))
  tab.addEventListener('click', () => {
    $('.layout').dataset.tab = tab.dataset.tab;
    for (const each of document.querySelectorAll('.tabs button')) each.classList.toggle('active', each === tab);
  });
$('#show-keys').addEventListener('click', showKeys);
$('#stop-all').addEventListener('click', () => {
  letGo('stop all');
  for (const name of store.cards.keys()) stop(name);
});

setConnected(false);
connect();
