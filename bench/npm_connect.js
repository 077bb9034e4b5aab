// The npm onvif client's connect, timed RUNS times against the ONVIF camera
// at 127.0.0.1:PORT (admin / secret); prints {"connect_ms": [...], ...}.
//   node npm_connect.js PORT RUNS   (NODE_PATH: where onvif is installed)
'use strict';
const { Cam } = require('onvif');
const [port, runs] = process.argv.slice(2).map(Number);

const connect = () => new Promise((resolve, reject) => {
  const start = process.hrtime.bigint();
  const timer = setTimeout(() => reject(new Error('connect: no answer within 5 s')), 5000);
  const cam = new Cam({ hostname: '127.0.0.1', port, username: 'admin', password: 'secret', autoconnect: false });
  cam.connect((error) => {
    clearTimeout(timer);
    error ? reject(error) : resolve(Number(process.hrtime.bigint() - start) / 1e6);
  });
});

(async () => {
  const times = [];
  for (let i = 0; i < runs; ++i) times.push(await connect());
  console.log(JSON.stringify({ connect_ms: times }));
})().catch((error) => { console.log(JSON.stringify({ error: error.message })); process.exit(1); });
