// The live view's page: draws what the server sends, at most once per animation frame. The
// server decides the pace; a paused page keeps its picture and only the health strip moves on.
'use strict';

const MAP_ROWS = 300;
const HISTORY_LENGTH = 300;
const LOSS_MEMORY_MS = 3000;

const $ = (id) => document.getElementById(id);

const view = {
  sensors: [],
  sensor: 0,
  paused: false,
  colourBy: 'height',
  profile: null,       // the profile drawn: {block, x, z, brightness}
  measurement: null,   // the values shown
  measurePoints: [],   // the two-point measure, in mm
  cursor: null,
  history: [],
  historyIndex: 1,
  map: null,           // ImageData of the height map, newest row at the top
  rowEvery: 1,         // a height map row for every n-th profile, as the server chose
  framesReceived: 0,
  draws: 0,
  dirty: true,
  lastLoss: null,
  lossSeen: -Infinity,
  socket: null,
  finished: false,
};
window.quilView = view;

// A colour scale from dark blue through green to yellow, for heights and brightness alike.
const SCALE = [[68, 1, 84], [59, 82, 139], [33, 145, 140], [94, 201, 98], [253, 231, 37]];
function scaleColour(t) {
  const at = Math.min(Math.max(t, 0), 1) * (SCALE.length - 1);
  const i = Math.min(Math.floor(at), SCALE.length - 2);
  const f = at - i;
  return SCALE[i].map((c, k) => Math.round(c + (SCALE[i + 1][k] - c) * f));
}
const css = (rgb) => `rgb(${rgb[0]},${rgb[1]},${rgb[2]})`;

// Round tick steps (1, 2, 5 times a power of ten) for about `count` ticks across a span.
function ticks(low, high, count) {
  const raw = (high - low) / count;
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= raw);
  const list = [];
  for (let v = Math.ceil(low / step) * step; v <= high + step * 1e-9; v += step) {
    list.push(Math.abs(v) < step * 1e-9 ? 0 : v);
  }
  return list;
}

// A plot area inside a canvas with data ranges on both axes.
class Axes {
  constructor(canvas, margin) {
    this.canvas = canvas;
    this.margin = margin;  // {left, right, top, bottom}
  }
  get width() { return this.canvas.width - this.margin.left - this.margin.right; }
  get height() { return this.canvas.height - this.margin.top - this.margin.bottom; }
  setRanges(x, y) { this.x = x; this.y = y; }
  toPx(x, y) {
    return [this.margin.left + (x - this.x[0]) / (this.x[1] - this.x[0]) * this.width,
            this.margin.top + (1 - (y - this.y[0]) / (this.y[1] - this.y[0])) * this.height];
  }
  fromPx(px, py) {
    return [this.x[0] + (px - this.margin.left) / this.width * (this.x[1] - this.x[0]),
            this.y[0] + (1 - (py - this.margin.top) / this.height) * (this.y[1] - this.y[0])];
  }
  inside(px, py) {
    return px >= this.margin.left && px <= this.margin.left + this.width &&
           py >= this.margin.top && py <= this.margin.top + this.height;
  }
  drawFrame(ctx, xLabel, yLabel, xTicks = true) {
    const [yLow, yHigh] = [Math.min(...this.y), Math.max(...this.y)];
    ctx.strokeStyle = '#444';
    ctx.fillStyle = '#222';
    ctx.font = '12px system-ui, sans-serif';
    ctx.strokeRect(this.margin.left + 0.5, this.margin.top + 0.5, this.width, this.height);
    ctx.textAlign = 'center';
    ctx.textBaseline = 'top';
    if (xTicks) {
      for (const v of ticks(this.x[0], this.x[1], 8)) {
        const [px] = this.toPx(v, this.y[0]);
        const bottom = this.margin.top + this.height;
        ctx.beginPath(); ctx.moveTo(px, bottom); ctx.lineTo(px, bottom + 5); ctx.stroke();
        ctx.fillText(String(+v.toFixed(6)), px, bottom + 7);
      }
    }
    ctx.fillText(xLabel, this.margin.left + this.width / 2, this.canvas.height - 14);
    ctx.textAlign = 'right';
    ctx.textBaseline = 'middle';
    for (const v of ticks(yLow, yHigh, 6)) {
      const [, py] = this.toPx(this.x[0], v);
      ctx.beginPath(); ctx.moveTo(this.margin.left - 5, py); ctx.lineTo(this.margin.left, py); ctx.stroke();
      ctx.fillText(String(+v.toFixed(6)), this.margin.left - 7, py);
    }
    ctx.save();
    ctx.translate(12, this.margin.top + this.height / 2);
    ctx.rotate(-Math.PI / 2);
    ctx.textAlign = 'center';
    ctx.fillText(yLabel, 0, 0);
    ctx.restore();
  }
}

const profileAxes = new Axes($('profile'), {left: 64, right: 16, top: 12, bottom: 44});
const mapAxes = new Axes($('heightmap'), {left: 64, right: 90, top: 12, bottom: 44});
const historyAxes = new Axes($('history'), {left: 64, right: 16, top: 12, bottom: 30});

// The canvases take the width the layout gives them, one canvas pixel per CSS pixel, whatever
// changed it: the window, or a scroll bar that came or went. Resizing clears a canvas, so the
// picture (a paused one as it was) is drawn again before the browser shows the cleared one.
function fitCanvases() {
  for (const canvas of document.querySelectorAll('canvas')) {
    if (!canvas.style.height) canvas.style.height = `${canvas.height}px`;
    const width = Math.max(Math.round(canvas.clientWidth), 200);
    if (canvas.width !== width) {
      canvas.width = width;
      view.dirty = true;
    }
  }
  drawIfChanged();
}
const canvasResizes = new ResizeObserver(fitCanvases);
for (const canvas of document.querySelectorAll('canvas')) canvasResizes.observe(canvas);
fitCanvases();

// The newest row at the top: 0 profiles ago there, a row being rowEvery profiles.
function setMapRanges(sensor) {
  mapAxes.setRanges(sensor.x, [MAP_ROWS * view.rowEvery, 0]);
}

// Units as they are written: "mm2" is mm², "mm3" mm³.
function displayUnit(unit) {
  return unit.replace(/([A-Za-zµ])([23])(?![0-9])/g, (_, letter, power) => letter + (power === '2' ? '²' : '³'));
}

function sensorInfo() { return view.sensors.find((sensor) => sensor.id === view.sensor); }

// Where the plots lie in their canvases, for tests that read pixels.
view.profileAxesForTests = () => {
  const describe = (axes) => ({left: axes.margin.left, top: axes.margin.top, width: axes.width,
                               height: axes.height, x: axes.x, y: axes.y});
  return {profile: describe(profileAxes), map: describe(mapAxes)};
};

// --- Messages from the server -------------------------------------------------------------

function connect() {
  const socket = new WebSocket(`ws://${location.host}/ws`);
  view.socket = socket;
  socket.onopen = () => {
    view.sensors = [];  // a new connection watches the first sensor until the page says which
    setState('page connected', 'live');
  };
  socket.onclose = () => {
    setState('page disconnected: the view is not served any more', 'down');
    setTimeout(connect, 2000);
  };
  socket.onmessage = (event) => {
    const message = JSON.parse(event.data);
    if (message.type === 'hello') hello(message);
    else if (message.type === 'frame') frame(message);
    else if (message.type === 'dropped') $('missed').textContent = message.total;
    else if (message.type === 'notice') notice(message.text);
  };
}

function send(message) {
  if (view.socket && view.socket.readyState === WebSocket.OPEN) {
    view.socket.send(JSON.stringify(message));
  }
}

function setState(text, kind) {
  const state = $('state');
  state.textContent = state.title = text;
  state.className = 'state page ' + kind;
}

// The sensor's state: there, or away since a time and why.
function showSensorState(sensor) {
  const badge = $('sensorState');
  const away = sensor && sensor.away;
  if (!sensor) {
    badge.textContent = badge.title = 'no sensor yet';
    badge.className = 'state';
  } else if (away) {
    const since = new Date(away.since).toLocaleTimeString();
    badge.textContent = badge.title = `sensor not connected since ${since}: ${away.reason}`;
    badge.className = 'state down';
  } else {
    badge.textContent = badge.title = 'sensor connected';
    badge.className = 'state live';
  }
  $('health').classList.toggle('away', Boolean(away));
}

function notice(text) {
  const element = $('notice');
  element.textContent = text;
  element.hidden = false;
}

function hello(message) {
  const before = sensorInfo();
  view.sensors = message.sensors;
  const chooser = $('sensor');
  chooser.innerHTML = '';
  message.sensors.forEach((sensor) => {
    const option = document.createElement('option');
    option.value = sensor.id;
    option.textContent = sensor.name;
    chooser.appendChild(option);
  });
  if (!view.sensors.length) {
    $('identity').textContent = 'no sensor to show yet';
    showSensorState(null);
    return;
  }
  const now = sensorInfo() || view.sensors[0];
  chooser.value = now.id;
  showSensorState(now);
  // Another sensor came or went: the picture of this one stays.
  const described = (sensor) => JSON.stringify({...sensor, away: null});
  if (before && described(before) === described(now)) return;
  chooseSensor(now.id);
}

function chooseSensor(id) {
  view.sensor = id;
  const sensor = sensorInfo();
  send({type: 'select', sensor: id});
  $('identity').textContent = $('identity').title = `${sensor.identity} (${sensor.kind})`;
  showSensorState(sensor);
  $('record').hidden = !sensor.canRecord;
  profileAxes.setRanges(sensor.x, sensor.z);
  setMapRanges(sensor);
  view.map = new ImageData(sensor.columns, MAP_ROWS);
  clearMapRows(0, MAP_ROWS, [255, 255, 255]);
  view.profile = null;
  view.measurement = null;
  view.history = [];
  view.measurePoints = [];
  buildMeasurementTable();
  view.dirty = true;
}

function frame(message) {
  if (message.sensor !== view.sensor) return;
  view.framesReceived++;
  view.lastView = message.view;
  showHealth(message);
  showRecording(message.recording);
  view.finished = message.finished;
  if (message.finished) setState('the recording has played to its end', 'ended');
  if (view.paused) return;
  for (const [, row] of message.rows) addMapRow(row);
  if (message.profile) view.profile = message.profile;
  if (message.measurement) {
    view.measurement = message.measurement;
    view.history.push(message.measurement.values);
    if (view.history.length > HISTORY_LENGTH) view.history.shift();
  }
  view.dirty = true;
}

function showHealth(message) {
  const health = message.health;
  $('rate').textContent = Math.round(health.profileRate);
  $('profiles').textContent = health.profiles;
  $('lost').textContent = health.blocksLost;
  $('kernel').textContent = health.kernelDrops;
  $('queue').textContent = health.queueDrops;
  $('ignored').textContent = message.view.notUnderstood;
  $('browsers').textContent = message.view.browsers;
  $('buffer').textContent = health.receiveBufferCapped
    ? `receive buffer: the system granted ${health.receiveBufferGranted} of ` +
      `${health.receiveBufferRequested} bytes; a fast stream may overflow it. Raise the limit ` +
      `with "sysctl -w net.core.rmem_max=${health.receiveBufferRequested}" (as root)`
    : '';
  const loss = health.blocksLost + health.kernelDrops + health.queueDrops;
  if (view.lastLoss !== null && loss > view.lastLoss) view.lossSeen = performance.now();
  view.lastLoss = loss;
  $('health').classList.toggle('losing', performance.now() - view.lossSeen < LOSS_MEMORY_MS);
  $('buffer').classList.toggle('warning', health.receiveBufferCapped);
  // A paused picture keeps the axis and the note its rows were drawn with.
  if (!view.paused && health.rowEvery !== view.rowEvery) {
    view.rowEvery = health.rowEvery;
    setMapRanges(sensorInfo());
    $('mapNote').textContent = view.rowEvery > 1 ? `(one profile in ${view.rowEvery})` : '';
    view.dirty = true;
  }
}

function showRecording(recording) {
  const button = $('record');
  if (!recording) return;
  button.textContent = recording.recording ? 'Stop recording' : 'Record';
  button.classList.toggle('on', recording.recording);
  if (!recording.file) {
    $('recordStatus').textContent = '';
    return;
  }
  const megabytes = (recording.bytes / 1e6).toFixed(1);
  let text = `${recording.file}: ${recording.seconds.toFixed(1)} s, ${megabytes} MB`;
  if (!recording.recording) text += ' (stopped)';
  if (recording.datagramsDropped) text += `, ${recording.datagramsDropped} datagrams not written`;
  if (recording.error) text += ` - ${recording.error}`;
  $('recordStatus').textContent = $('recordStatus').title = text;
}

// --- The height map ------------------------------------------------------------------------

function clearMapRows(from, to, rgb) {
  const data = view.map.data;
  for (let i = from * view.map.width * 4; i < to * view.map.width * 4; i += 4) {
    data[i] = rgb[0]; data[i + 1] = rgb[1]; data[i + 2] = rgb[2]; data[i + 3] = 255;
  }
}

// A row of cells 0 to 254 across the z range (255: no point), or null for a lost profile,
// which stays white.
function addMapRow(row) {
  const map = view.map;
  const rowBytes = map.width * 4;
  map.data.copyWithin(rowBytes, 0, map.data.length - rowBytes);
  if (row === null) {
    clearMapRows(0, 1, [255, 255, 255]);
    return;
  }
  const cells = atob(row);
  for (let c = 0; c < map.width; c++) {
    const value = cells.charCodeAt(c);
    const rgb = value === 255 ? [0, 0, 0] : scaleColour(value / 254);
    map.data.set([rgb[0], rgb[1], rgb[2], 255], c * 4);
  }
}

let mapBitmap = null;
function drawHeightMap() {
  const canvas = $('heightmap');
  const ctx = canvas.getContext('2d');
  const sensor = sensorInfo();
  ctx.fillStyle = '#fff';
  ctx.fillRect(0, 0, canvas.width, canvas.height);
  if (!mapBitmap) {
    mapBitmap = document.createElement('canvas');
  }
  mapBitmap.width = view.map.width;
  mapBitmap.height = view.map.height;
  mapBitmap.getContext('2d').putImageData(view.map, 0, 0);
  ctx.imageSmoothingEnabled = false;
  ctx.drawImage(mapBitmap, mapAxes.margin.left, mapAxes.margin.top, mapAxes.width, mapAxes.height);
  mapAxes.drawFrame(ctx, 'x (mm)', 'profiles ago');
  // The colour scale, with its units.
  const left = canvas.width - mapAxes.margin.right + 16;
  const top = mapAxes.margin.top;
  for (let py = 0; py < mapAxes.height; py++) {
    ctx.fillStyle = css(scaleColour(1 - py / mapAxes.height));
    ctx.fillRect(left, top + py, 14, 1);
  }
  ctx.strokeRect(left + 0.5, top + 0.5, 14, mapAxes.height);
  ctx.fillStyle = '#222';
  ctx.textAlign = 'left';
  ctx.textBaseline = 'middle';
  for (const v of ticks(sensor.z[0], sensor.z[1], 5)) {
    const py = top + (1 - (v - sensor.z[0]) / (sensor.z[1] - sensor.z[0])) * mapAxes.height;
    ctx.fillText(String(+v.toFixed(6)), left + 18, py);
  }
  ctx.textAlign = 'center';
  ctx.textBaseline = 'top';
  ctx.fillText('z (mm)', left + 26, canvas.height - 30);
}

// --- The profile ---------------------------------------------------------------------------

function drawProfile() {
  const canvas = $('profile');
  const ctx = canvas.getContext('2d');
  const sensor = sensorInfo();
  ctx.fillStyle = '#fff';
  ctx.fillRect(0, 0, canvas.width, canvas.height);
  profileAxes.drawFrame(ctx, 'x (mm)', `${sensor.zAxis} (mm)`);
  const profile = view.profile;
  if (profile) {
    const byBrightness = view.colourBy === 'brightness' && profile.brightness.length > 0;
    for (let i = 0; i < profile.z.length; i++) {
      const z = profile.z[i];
      if (z === null) continue;  // no laser line here
      const x = profile.x.length ? profile.x[i] : sensor.x[0] + (sensor.x[1] - sensor.x[0]) * (i + 0.5) / profile.z.length;
      const t = byBrightness ? profile.brightness[i] / 255 : (z - sensor.z[0]) / (sensor.z[1] - sensor.z[0]);
      ctx.fillStyle = css(scaleColour(t));
      const [px, py] = profileAxes.toPx(x, z);
      ctx.fillRect(Math.round(px) - 1, Math.round(py) - 1, 3, 3);
    }
  }
  ctx.strokeStyle = '#d32f2f';
  ctx.fillStyle = '#d32f2f';
  view.measurePoints.forEach((point, i) => {
    const [px, py] = profileAxes.toPx(point.x, point.z);
    ctx.beginPath(); ctx.arc(px, py, 5, 0, 2 * Math.PI); ctx.stroke();
    if (i === 1) {
      const [qx, qy] = profileAxes.toPx(view.measurePoints[0].x, view.measurePoints[0].z);
      ctx.beginPath(); ctx.moveTo(qx, qy); ctx.lineTo(px, py); ctx.stroke();
    }
  });
}

// Where a click on the plot lands: x as clicked, z on the profile there when a point is near.
function profilePointAt(px, py) {
  const [x, clickedZ] = profileAxes.fromPx(px, py);
  let z = clickedZ;
  const profile = view.profile;
  if (profile && profile.x.length) {
    let best = -1;
    for (let i = 0; i < profile.x.length; i++) {
      if (profile.z[i] === null) continue;
      if (best < 0 || Math.abs(profile.x[i] - x) < Math.abs(profile.x[best] - x)) best = i;
    }
    const mmPerPixel = (profileAxes.x[1] - profileAxes.x[0]) / profileAxes.width;
    if (best >= 0 && Math.abs(profile.x[best] - x) <= 3 * mmPerPixel) z = profile.z[best];
  }
  return {x, z};
}

function canvasPosition(event) {
  const box = event.target.getBoundingClientRect();
  return [event.clientX - box.left, event.clientY - box.top];
}

$('profile').addEventListener('mousemove', (event) => {
  const [px, py] = canvasPosition(event);
  if (!profileAxes.x || !profileAxes.inside(px, py)) {
    $('readout').textContent = '';
    return;
  }
  const [x, z] = profileAxes.fromPx(px, py);
  $('readout').textContent = `x ${x.toFixed(2)} mm, z ${z.toFixed(2)} mm`;
});

$('profile').addEventListener('click', (event) => {
  const [px, py] = canvasPosition(event);
  if (!profileAxes.x || !profileAxes.inside(px, py)) return;
  if (view.measurePoints.length === 2) view.measurePoints = [];
  view.measurePoints.push(profilePointAt(px, py));
  if (view.measurePoints.length === 2) {
    const [a, b] = view.measurePoints;
    const dx = b.x - a.x;
    const dz = b.z - a.z;
    view.measured = {dx, dz, distance: Math.hypot(dx, dz)};
    $('measure').textContent = `Δx ${dx.toFixed(2)} mm, Δz ${dz.toFixed(2)} mm, ` +
      `distance ${Math.hypot(dx, dz).toFixed(2)} mm`;
  } else {
    $('measure').textContent = 'Click the second point.';
  }
  view.dirty = true;
});

// --- Measurement values and their history ----------------------------------------------------

function measurementName(i) {
  const named = sensorInfo().measurements[i];
  return named && named.name ? {name: named.name, unit: displayUnit(named.unit)} : {name: `value ${i}`, unit: ''};
}

function buildMeasurementTable() {
  const body = $('measurements').tBodies[0];
  body.innerHTML = '';
  for (let i = 0; i < 7; i++) {
    const row = body.insertRow();
    const named = measurementName(i);
    row.insertCell().textContent = i;
    row.insertCell().textContent = '';
    row.insertCell().textContent = named.name;
    row.insertCell().textContent = named.unit;
    row.addEventListener('click', () => { view.historyIndex = i; view.dirty = true; });
  }
}

function formatValue(value) {
  return value === null ? 'none' : (Math.abs(value) >= 1000 ? value.toFixed(0) : value.toFixed(2));
}

function drawMeasurements() {
  const rows = $('measurements').tBodies[0].rows;
  for (let i = 0; i < rows.length; i++) {
    rows[i].classList.toggle('chosen', i === view.historyIndex);
    rows[i].cells[1].textContent = view.measurement ? formatValue(view.measurement.values[i]) : '';
  }
  const named = measurementName(view.historyIndex);
  $('historyName').textContent = named.name + (named.unit ? ` (${named.unit})` : '');
  const canvas = $('history');
  const ctx = canvas.getContext('2d');
  ctx.fillStyle = '#fff';
  ctx.fillRect(0, 0, canvas.width, canvas.height);
  const values = view.history.map((v) => v[view.historyIndex]).filter((v) => v !== null);
  let low = Math.min(...values), high = Math.max(...values);
  if (!values.length) { low = 0; high = 1; }
  if (high - low < 1e-6) { low -= 1; high += 1; }
  historyAxes.setRanges([-HISTORY_LENGTH + 1, 0], [low, high]);
  historyAxes.drawFrame(ctx, 'updates ago', named.unit || named.name);
  ctx.strokeStyle = '#1565c0';
  ctx.beginPath();
  let drawing = false;
  view.history.forEach((v, i) => {
    const value = v[view.historyIndex];
    if (value === null) { drawing = false; return; }
    const [px, py] = historyAxes.toPx(i - view.history.length + 1, value);
    if (drawing) ctx.lineTo(px, py); else ctx.moveTo(px, py);
    drawing = true;
  });
  ctx.stroke();
}

// --- Controls ------------------------------------------------------------------------------

$('sensor').addEventListener('change', (event) => chooseSensor(Number(event.target.value)));
$('pause').addEventListener('click', () => {
  view.paused = !view.paused;
  $('pause').textContent = view.paused ? 'Resume' : 'Pause';
  $('pause').classList.toggle('on', view.paused);
  view.dirty = true;
});
$('colour').addEventListener('click', () => {
  view.colourBy = view.colourBy === 'height' ? 'brightness' : 'height';
  $('colour').textContent = `Colour: ${view.colourBy}`;
  view.dirty = true;
});
$('record').addEventListener('click', () => {
  const recording = $('record').classList.contains('on');
  send({type: 'record', sensor: view.sensor, action: recording ? 'stop' : 'start'});
});

function drawIfChanged() {
  if (view.dirty && view.sensors.length) {
    view.dirty = false;
    drawProfile();
    drawHeightMap();
    drawMeasurements();
    view.draws++;
  }
}

function draw() {
  drawIfChanged();
  requestAnimationFrame(draw);
}

connect();
requestAnimationFrame(draw);
