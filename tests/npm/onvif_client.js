// A third-party ONVIF client (npm onvif) drives `korvane sim onvif`, run as a
// process of its own: discovery (inside the network namespace tests/in_netns.sh
// made), connect, move, stop, presets and status. Each step is checked against
// what the client answers and what the simulated camera prints it received.
//   node onvif_client.js KORVANE_TOOL
// Exit 0 all passed, 1 a step failed, 77 all passed but discovery was skipped
// (no namespace: its multicast would leave the machine).
'use strict';
const { spawn } = require('child_process');
const assert = require('assert/strict');
const { Cam, Discovery } = require('onvif');

const [tool] = process.argv.slice(2);
const namespaced = process.env.KORVANE_NETNS === '1';
const user = 'admin', password = 'secret';

// Resolves with fn's answer, or fails after ms: every wait has a bound.
const within = (ms, what, fn) => new Promise((resolve, reject) => {
  const timer = setTimeout(() => reject(new Error(`${what}: nothing within ${ms} ms`)), ms);
  fn((err, value) => { clearTimeout(timer); err ? reject(err) : resolve(value); });
});

// The simulated camera, and each request it prints, in order.
const sim = spawn(tool, ['sim', 'onvif', '--port', '0', '--for', '60s', '--user', user, '--password', password,
  ...(namespaced ? ['--discoverable', '127.0.0.1'] : [])], { stdio: ['pipe', 'pipe', 'inherit'] });
let output = '', seen = 0, waiter = null;
sim.stdout.on('data', (chunk) => { output += chunk; if (waiter) waiter(); });
const simSays = (pattern, ms = 5000) => within(ms, `the camera printing ${pattern}`, (done) => {
  const look = () => {
    const lines = output.split('\n');
    for (; seen < lines.length - 1; ++seen) {
      const match = lines[seen].match(pattern);
      if (match) { ++seen; return done(null, match); }
    }
    waiter = look;
  };
  look();
}).finally(() => { waiter = null; });  // a wait that timed out reads no more lines

const call = (cam, method, options) => within(5000, method, (done) => cam[method](options, done));
const status = async (cam) => (await call(cam, 'getStatus', {}));
// setPreset answers with the parsed envelope: the new token is in it.
const tokenOf = (data) => data[0].setPresetResponse[0].presetToken[0];
const pan = async (cam) => (await status(cam)).position.x;

// Reads the position until it differs from `from` (moving) or, for at least
// ms, never does (still): the reads themselves pace the loop.
async function watch(cam, from, changes, ms) {
  const start = Date.now();
  for (let at = await pan(cam); Date.now() - start < ms; at = await pan(cam))
    if (at !== from) return assert.ok(changes, `the camera moved from ${from} to ${at} after the stop`);
  assert.ok(!changes, `the position stayed at ${from} for ${ms} ms while moving`);
}

async function main() {
  const [, origin, port] = await simSays(/camera at (http:\/\/127\.0\.0\.1:(\d+))\/onvif\/device_service/);
  let cam, before, stored, token = {};
  const steps = [
    ['discovery finds the camera by multicast', async () => {
      if (!namespaced) return process.env.KORVANE_NETNS_SKIP || 'not in a network namespace';
      const found = await within(5000, 'a probe match', (done) => {
        Discovery.once('device', (cam) => done(null, cam));
        Discovery.probe({ device: 'lo', timeout: 4000 }, () => {});
      });
      assert.ok(found.xaddrs.some((xaddr) => xaddr.origin === origin), `${found.xaddrs} is not ${origin}`);
    }],
    ['a wrong password is refused', async () => {
      await assert.rejects(within(5000, 'connect', (done) =>
        new Cam({ hostname: '127.0.0.1', port, username: user, password: 'wrong' }, done)),
      (error) => !/nothing within/.test(error.message));  // refused, not unanswered
      await simSays(/\(not authorized\)/);
    }],
    ['connect reads the profiles and picks one', async () => {
      cam = new Cam({ hostname: '127.0.0.1', port, username: user, password, autoconnect: false });
      await within(3000, 'connect', (done) => cam.connect(done));
      await simSays(/^\S+\s+GetProfiles/);
      // The client's own choice goes by video source; moves need the PTZ profile.
      const ptz = cam.profiles.find((profile) => profile.PTZConfiguration);
      assert.ok(ptz, 'no profile with PTZ');
      cam.activeSource = { ...cam.activeSource, profileToken: ptz.$.token };
      before = await pan(cam);
    }],
    ['continuousMove arrives and the camera moves', async () => {
      await call(cam, 'continuousMove', { x: 0.5, y: 0, zoom: 0 });
      await simSays(/ContinuousMove profile \S+ pan 0\.5 tilt 0 zoom 0/);
      await watch(cam, before, true, 3000);
      assert.equal((await status(cam)).moveStatus.panTilt, 'MOVING');
    }],
    ['stop arrives and the camera stays where it stopped', async () => {
      await call(cam, 'stop', { panTilt: true, zoom: true });
      await simSays(/Stop profile \S+ zoom true pantilt true/);
      const stopped = await status(cam);
      assert.equal(stopped.moveStatus.panTilt, 'IDLE');
      await watch(cam, stopped.position.x, false, 300);
    }],
    ['setPreset stores two names at two places', async () => {
      stored = await pan(cam);
      token.a = tokenOf(await call(cam, 'setPreset', { presetName: 'npm-a' }));
      await simSays(new RegExp(`SetPreset profile \\S+ name npm-a token ${token.a}`));
      await call(cam, 'continuousMove', { x: -0.5, y: 0, zoom: 0 });
      await watch(cam, stored, true, 3000);
      await call(cam, 'stop', { panTilt: true, zoom: true });
      token.b = tokenOf(await call(cam, 'setPreset', { presetName: 'npm-b' }));
      assert.notEqual(token.a, token.b);
    }],
    ['getPresets lists both', async () => {
      const presets = await call(cam, 'getPresets', {});
      assert.equal(presets['npm-a'].$.token, token.a);
      assert.equal(presets['npm-b'].$.token, token.b);
    }],
    ['gotoPreset returns to the first place', async () => {
      await call(cam, 'gotoPreset', { preset: token.a });
      await simSays(new RegExp(`GotoPreset profile \\S+ token ${token.a}`));
      assert.equal(await pan(cam), stored);
    }],
  ];
  let failed = 0;
  for (const [name, step] of steps) {
    try { const skipped = await step(); console.log(skipped ? `SKIP ${name}: ${skipped}` : `ok   ${name}`); }
    catch (error) { ++failed; console.log(`FAIL ${name}: ${error.message}`); }
  }
  if (failed) console.log(`--- the camera printed:\n${output}`);
  return failed ? 1 : namespaced ? 0 : 77;
}

main().catch((error) => { console.log(`FAIL ${error.stack}`); return 1; }).then((code) => {
  sim.kill();
  process.exit(code);
});
