// Drives `quil view` in Debian's chromium (playwright-core, no browser of its own) and checks
// what a person at the line sees. Scenarios: "live" (a virtual sensor) and "recording" (the
// record button, then the recording it made, shown with --from). Exit status 0: all held.
'use strict';

const {chromium} = require('playwright-core');
const {spawn, execFileSync} = require('child_process');
const net = require('net');
const fs = require('fs');
const path = require('path');

const SCENARIO_LIMIT_MS = 120000;
const WAIT_LIMIT_MS = 20000;

const args = {};
for (let i = 3; i < process.argv.length; i += 2) {
  args[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
}
const scenario = process.argv[2];
const children = [];

function check(condition, what) {
  if (!condition) throw new Error(`check failed: ${what}`);
  console.log(`ok: ${what}`);
}

async function until(what, probe, limit = WAIT_LIMIT_MS) {
  const deadline = Date.now() + limit;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting until ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// Starts `quil view ...`; resolves with the page's address once it is served.
function startView(extra) {
  const child = spawn(args.tool, ['view', ...extra], {stdio: ['ignore', 'pipe', 'pipe']});
  children.push(child);
  let output = '';
  child.stderr.on('data', (data) => { output += data; process.stderr.write(data); });
  return new Promise((resolve, reject) => {
    child.stdout.on('data', (data) => {
      output += data;
      const served = /Serving the view at (\S+)/.exec(output);
      if (served) resolve({child, url: served[1]});
    });
    child.on('exit', (code) => reject(new Error(`quil view ended with ${code}: ${output}`)));
  });
}

function stopView(child) {
  return new Promise((resolve) => {
    child.removeAllListeners('exit');
    child.on('exit', (code, signal) => resolve({code, signal}));
    child.kill('SIGINT');
  });
}

async function openPage(browser, url) {
  const page = await browser.newPage({viewport: {width: 1640, height: 1100}});
  const errors = [];
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  page.on('pageerror', (error) => errors.push(String(error)));
  await page.goto(url);
  await until('frames arrive', () => page.evaluate(() => window.quilView.framesReceived > 5));
  return {page, errors};
}

async function shot(page, name) {
  await page.screenshot({path: path.join(args.out, `${name}.png`), fullPage: true});
}

const number = (page, id) => page.$eval(`#${id}`, (e) => Number(e.textContent));

// Colour of a canvas pixel at canvas coordinates.
const pixel = (page, id, x, y) => page.evaluate(([id, x, y]) =>
  Array.from(document.getElementById(id).getContext('2d').getImageData(Math.round(x), Math.round(y), 1, 1).data),
  [id, x, y]);

// Colours tell apart heights 10 mm apart on the colour scale.
const differs = (a, b) => Math.abs(a[0] - b[0]) + Math.abs(a[1] - b[1]) + Math.abs(a[2] - b[2]) > 20;

// The object on the belt in the profile drawn: the points more than 1 mm above the belt.
const objectInProfile = (page) => page.evaluate(() => {
  const profile = window.quilView.profile;
  if (!profile) return null;
  const present = profile.z.filter((z) => z !== null);
  if (present.length < profile.z.length / 2) return null;
  const belt = Math.min(...present);
  let first = -1, last = -1;
  profile.z.forEach((z, i) => {
    if (z !== null && z > belt + 1) { if (first < 0) first = i; last = i; }
  });
  if (first < 0 || first < 3 || last > profile.z.length - 4) return null;
  // One object, not two side by side.
  for (let i = first; i <= last; i++) if (profile.z[i] === null || profile.z[i] <= belt + 1) return null;
  if (profile.x[last] - profile.x[first] < 10) return null;
  let top = first;
  for (let i = first; i <= last; i++) if (profile.z[i] > profile.z[top]) top = i;
  if (profile.z[top] < belt + 10) return null;
  return {belt, first: profile.x[first], last: profile.x[last], topX: profile.x[top],
          top: profile.z[top], block: profile.block};
});

async function canvasImage(page, id) {
  return page.$eval(`#${id}`, (canvas) => canvas.toDataURL());
}

// A WebSocket client that does the handshake and then never reads again.
function stalledBrowser(url) {
  const {hostname, port} = new URL(url);
  return new Promise((resolve, reject) => {
    const socket = net.connect(Number(port), hostname, () => {
      socket.write('GET /ws HTTP/1.1\r\nHost: ' + hostname + '\r\nUpgrade: websocket\r\n' +
                   'Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n' +
                   'Sec-WebSocket-Version: 13\r\n\r\n');
    });
    socket.once('data', (data) => {
      if (!String(data).startsWith('HTTP/1.1 101')) reject(new Error('no upgrade'));
      socket.pause();
      resolve(socket);
    });
    socket.on('error', reject);
  });
}

const sensorArgs = () => ['--sim', '--host', `${args.address}:${args['sensor-port']}`,
  '--port', args['udp-port'], '--local-address', args.address];

// The header on one line in a window 1,200 pixels wide; in one of 1,400, the plots two side by
// side across it, the height map's axis counting profiles (not rows) from 0 at its newest row, at
// the top; units written as units.
async function layout(page) {
  const measure = async (width) => {
    await page.setViewportSize({width, height: 1000});
    await until('the canvases fit the window', () => page.evaluate(() =>
      document.getElementById('profile').width === document.getElementById('profile').clientWidth));
    return page.evaluate(() => {
      const box = (e) => e.getBoundingClientRect();
      const shown = [...document.querySelectorAll('header > *')].filter((e) => box(e).height > 0);
      return {header: shown.map((e) => ({name: e.id || e.tagName, top: box(e).top, bottom: box(e).bottom})),
              profile: box(document.getElementById('profile')), map: box(document.getElementById('heightmap'))};
    });
  };
  const header = (await measure(1200)).header;
  check(Math.max(...header.map((e) => e.top)) < Math.min(...header.map((e) => e.bottom)),
        `the header is one line at 1,200 pixels (${header.map((e) => `${e.name} ${e.top}-${e.bottom}`).join(', ')})`);
  const boxes = await measure(1400);
  check(boxes.profile.top === boxes.map.top && boxes.profile.width > 600 && boxes.map.width > 600,
        `the profile and the height map side by side (${boxes.profile.width} and ${boxes.map.width} px wide)`);
  await page.evaluate(() => { window.quilView.dirty = true; });
  const map = await until('the map\'s axis counts profiles', () => page.evaluate(() => {
    const axes = window.quilView.profileAxesForTests().map;
    return window.quilView.rowEvery > 1 ? {axes, rowEvery: window.quilView.rowEvery} : null;
  }));
  const profilesAgo = (py) => map.axes.y[0] + (1 - (py - map.axes.top) / map.axes.height) * (map.axes.y[1] - map.axes.y[0]);
  check(profilesAgo(map.axes.top) === 0 && profilesAgo(map.axes.top + map.axes.height) === 300 * map.rowEvery,
        `the height map's axis: 0 profiles ago at the top, ${300 * map.rowEvery} at the bottom (a row is ${map.rowEvery} profiles)`);
  const units = await page.$$eval('#measurements td:nth-child(4)', (cells) => cells.map((c) => c.textContent));
  check(units.includes('mm²') && !units.some((u) => /[a-z][23]$/.test(u)), `units as written (${units.join(', ')})`);
}

async function live(browser) {
  const {child, url} = await startView([...sensorArgs(), '--rate', '500',
    '--listen', `${args.address}:${args['listen-port']}`, '--record-dir', args.out]);
  const {page, errors} = await openPage(browser, url);
  await shot(page, '1-loaded');

  const before = await number(page, 'profiles');
  await until('the profile count goes up', async () => (await number(page, 'profiles')) > before + 100);
  await until('profiles per second are shown', async () => (await number(page, 'rate')) > 300);
  check(await page.$eval('#identity', (e) => e.textContent.includes('virtual sensor')), 'identity shown');
  check(await page.$eval('#sensorState', (e) => e.textContent === 'sensor connected' &&
    e.classList.contains('live')), 'the sensor\'s state comes first');
  await layout(page);

  // Freeze the view on a profile with an object wholly in view.
  const object = await until('an object lies under the line in the paused view', async () => {
    await until('an object lies under the line', () => objectInProfile(page), 60000);
    await page.click('#pause');
    // The live view may have been drawn since the click: count from a draw asked for once paused.
    const draws = await until('the view is paused', () => page.evaluate(() => {
      const v = window.quilView;
      if (!v.paused) return null;
      v.dirty = true;
      return {before: v.draws};
    }));
    await until('the paused picture is drawn', () => page.evaluate((d) => window.quilView.draws > d, draws.before));
    const frozen = await objectInProfile(page);
    if (!frozen) await page.click('#pause');
    return frozen;
  }, 60000);
  await shot(page, '2-paused');

  // The object is a band of another colour than the belt, where its x lies.
  const axes = await page.evaluate(() => {
    const a = window.quilView.profileAxesForTests();
    return a;
  });
  const toPx = (x, z, a) => [a.left + (x - a.x[0]) / (a.x[1] - a.x[0]) * a.width,
                             a.top + (1 - (z - a.y[0]) / (a.y[1] - a.y[0])) * a.height];
  const onObject = await pixel(page, 'profile', ...toPx(object.topX, object.top, axes.profile));
  const beltX = object.first - 8 > axes.profile.x[0] ? object.first - 8 : object.last + 8;
  const onBelt = await pixel(page, 'profile', ...toPx(beltX, object.belt, axes.profile));
  const white = [255, 255, 255];
  check(differs(onObject, white) && differs(onBelt, white), 'profile points are drawn where they lie');
  check(differs(onObject, onBelt), 'the object is drawn in another colour than the belt');
  // In the height map the newest rows (top) show the object's band at its x.
  const map = axes.map;
  const mapRowY = map.top + map.height / 300 * 2.5;
  const mapX = (x) => map.left + (x - map.x[0]) / (map.x[1] - map.x[0]) * map.width;
  const mapObject = await pixel(page, 'heightmap', mapX(object.topX), mapRowY);
  const mapBelt = await pixel(page, 'heightmap', mapX(beltX), mapRowY);
  check(differs(mapObject, mapBelt), 'the height map shows the object as a band of another colour');

  // Paused: the pictures stay while the stream goes on.
  const profileImage = await canvasImage(page, 'profile');
  const mapImage = await canvasImage(page, 'heightmap');
  const counted = await number(page, 'profiles');
  await until('the stream goes on while paused', async () => (await number(page, 'profiles')) > counted + 200);
  check(profileImage === await canvasImage(page, 'profile'), 'the paused profile stays');
  check(mapImage === await canvasImage(page, 'heightmap'), 'the paused height map stays');

  // A two-point measure across the object reports its width within a pixel's worth of mm.
  const box = await page.$eval('#profile', (e) => { const b = e.getBoundingClientRect(); return [b.left, b.top]; });
  const [ax, ay] = toPx(object.first, object.top, axes.profile);
  const [bx, by] = toPx(object.last, object.top, axes.profile);
  await page.mouse.click(box[0] + Math.round(ax), box[1] + Math.round(ay));
  await page.mouse.click(box[0] + Math.round(bx), box[1] + Math.round(by));
  const measured = await page.evaluate(() => window.quilView.measured);
  const mmPerPixel = (axes.profile.x[1] - axes.profile.x[0]) / axes.profile.width;
  const width = object.last - object.first;
  check(Math.abs(measured.dx - width) <= mmPerPixel,
        `measured ${measured.dx.toFixed(3)} mm across an object ${width.toFixed(3)} mm wide (pixel ${mmPerPixel.toFixed(3)} mm)`);
  const sensorWidth = await page.evaluate(() => {
    const v = window.quilView;
    return v.measurement && v.measurement.block === v.profile.block - 1 ? v.measurement.values[1] : null;
  });
  if (sensorWidth !== null) {
    // The sensor finds an edge by the true height, the page by the drawn points: at a sloped
    // edge the two may be one point apart.
    const pointSpacing = await page.evaluate(() => {
      const x = window.quilView.profile.x;
      return x.length > 1 ? (x[x.length - 1] - x[0]) / (x.length - 1) : 0;
    });
    check(Math.abs(measured.dx - sensorWidth) <= mmPerPixel + pointSpacing,
          `the sensor measured ${sensorWidth} mm too (a point is ${pointSpacing.toFixed(3)} mm)`);
  }
  check(await page.$eval('#measure', (e) => e.textContent.includes('Δx')), 'the measure is shown');
  await shot(page, '3-measured');

  await page.click('#colour');
  await page.click('#pause');
  await until('the view moves again', async () => mapImage !== await canvasImage(page, 'heightmap'));
  await shot(page, '4-brightness');

  // A message the server does not understand is ignored and counted.
  await page.evaluate(() => window.quilView.socket.send('{"type":"set","exposure":1}'));
  await until('the ignored message is counted', async () => (await number(page, 'ignored')) === 1);

  // A browser that stops reading costs the stream nothing: the server drops its frames.
  const stalled = await stalledBrowser(url);
  const start = await number(page, 'profiles');
  const dropped = await until('the stalled browser\'s frames are dropped',
    () => page.evaluate(() => window.quilView.lastView && window.quilView.lastView.dropped > 0
      ? window.quilView.lastView.dropped : 0), 60000);
  const after = await number(page, 'profiles');
  check(dropped > 0, `${dropped} frames to the stalled browser dropped`);
  for (const id of ['lost', 'kernel', 'queue']) {
    check((await number(page, id)) === 0, `nothing lost (${id})`);
  }
  check(after > start, 'the stream went on');
  await shot(page, '5-stalled-browser');
  stalled.destroy();

  check(errors.length === 0, `no console errors (${errors.join('; ')})`);
  const stop = await stopView(child);
  check(stop.code === 0, 'quil view ends with status 0 at Ctrl-C');
}

async function recording(browser) {
  const {child, url} = await startView([...sensorArgs(), '--rate', '200',
    '--listen', `${args.address}:${args['listen-port']}`, '--record-dir', args.out]);
  const {page, errors} = await openPage(browser, url);
  check(!(await page.$eval('#record', (e) => e.hidden)), 'a live sensor offers the record button');
  await page.click('#record');
  const file = await until('the recording runs for a second', () => page.$eval('#recordStatus', (e) => {
    const m = /^(quil-view-\S+\.pcap): (\d+\.\d) s, (\d+\.\d) MB/.exec(e.textContent);
    return m && Number(m[2]) >= 1.0 ? m[1] : null;
  }));
  await shot(page, '1-recording');
  await page.click('#record');
  await until('the recording stops', () => page.$eval('#recordStatus', (e) => e.textContent.includes('(stopped)')));
  await shot(page, '2-recorded');
  check(errors.length === 0, `no console errors (${errors.join('; ')})`);
  check((await stopView(child)).code === 0, 'quil view ends with status 0 at Ctrl-C');
  await page.close();

  const recorded = path.join(args.out, file);
  check(fs.existsSync(recorded.replace(/\.pcap$/, '.json')), 'the recording has its description file');
  const summary = JSON.parse(execFileSync(args.tool, ['stream', '--from', recorded, '--format', 'jsonl',
    '-o', path.join(args.out, 'recorded.jsonl'), '--json', '--allow-loss']));
  check(summary.profiles >= 150, `quil stream --from reads the recording (${summary.profiles} profiles)`);

  const replay = await startView(['--from', recorded, '--listen', `${args.address}:${args['second-port']}`]);
  const shown = await openPage(browser, replay.url);
  check(await shown.page.$eval('#record', (e) => e.hidden), 'a recording offers no record button');
  const identity = await shown.page.$eval('#identity', (e) => e.textContent);
  check(identity.startsWith('Varkon Virtual laser profile sensor, serial '),
        `the recording's description names the sensor (${identity})`);
  const names = await shown.page.$$eval('#measurements tbody tr', (rows) =>
    rows.map((r) => `${r.cells[2].textContent} (${r.cells[3].textContent})`));
  check(names[0] === 'Object height (mm)' && names[3] === 'Cross-section area (mm²)',
        `the recording's measurement names and units (${names.join(', ')})`);
  await until('the recording\'s profiles are drawn', () => shown.page.evaluate(() =>
    window.quilView.profile !== null && window.quilView.profile.z.some((z) => z !== null)));
  await until('the recording plays to its end', () => shown.page.evaluate(() => window.quilView.finished));
  await shot(shown.page, '3-from-recording');
  check(shown.errors.length === 0, `no console errors (${shown.errors.join('; ')})`);
  check((await stopView(replay.child)).code === 0, 'quil view --from ends with status 0 at Ctrl-C');
}

(async () => {
  const limit = setTimeout(() => { console.error('scenario took too long'); process.exit(1); }, SCENARIO_LIMIT_MS);
  const browser = await chromium.launch({executablePath: '/usr/bin/chromium', args: ['--no-sandbox']});
  let status = 0;
  try {
    if (scenario === 'live') await live(browser);
    else if (scenario === 'recording') await recording(browser);
    else throw new Error(`no scenario ${scenario}`);
  } catch (error) {
    console.error(String(error.stack || error));
    status = 1;
  } finally {
    await browser.close();
    for (const child of children) if (child.exitCode === null) child.kill('SIGKILL');
    clearTimeout(limit);
  }
  process.exit(status);
})();
