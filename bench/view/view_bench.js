// CPU time per profile of `quil view` with 0, 1 and 3 browsers beside `quil stream` alone, on a
// virtual sensor (quil-sim, in a process of its own) at 2,000 profiles/s, and the page's frame
// rate. Targets: the view with browsers costs at most 10 % more CPU than `quil stream`; the page
// draws at least 30 frames a second.
//   node bench/view/view_bench.js BUILD_DIR
// Needs `npm ci` in tests/view (playwright-core) and Debian's chromium.
'use strict';

const path = require('path');
const {spawn} = require('child_process');
const fs = require('fs');
const {chromium} = require(path.join(__dirname, '../../tests/view/node_modules/playwright-core'));

const build = process.argv[2] || 'build';
const tool = path.join(build, 'tools/quil');
const simulator = path.join(build, 'sim/quil-sim');
const ADDRESS = '127.0.200.1';
const SENSOR = `${ADDRESS}:8200`;
const RATE = 2000;
const WARM_UP_MS = 2000;
const MEASURE_MS = 10000;
const TICKS = 100;  // per second, as /proc counts CPU time

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function cpuSeconds(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / TICKS;  // utime + stime
}

function start(program, args) {
  const child = spawn(program, args, {stdio: ['ignore', 'pipe', 'inherit']});
  let output = '';
  child.stdout.on('data', (data) => { output += data; });
  child.served = () => (/Serving the view at (\S+)/.exec(output) || [])[1];
  return child;
}

async function stop(child) {
  const ended = new Promise((resolve) => child.on('exit', resolve));
  child.kill('SIGINT');
  await ended;
}

// CPU seconds per profile of `child` over the measuring time, at the sensor's nominal rate.
async function measure(child) {
  await sleep(WARM_UP_MS);
  const before = cpuSeconds(child.pid);
  await sleep(MEASURE_MS);
  const used = cpuSeconds(child.pid) - before;
  return used / (RATE * MEASURE_MS / 1000);
}

const login = ['--host', SENSOR, '--role', 'operator', '--password', 'operator',
  '--local-address', ADDRESS];

async function viewWith(browsers, browser) {
  const child = start(tool, ['view', ...login, '--port', '8201', '--listen', `${ADDRESS}:8202`]);
  for (let i = 0; i < 100 && !child.served(); i++) await sleep(100);
  if (!child.served()) throw new Error('quil view did not start');
  const pages = [];
  for (let i = 0; i < browsers; i++) {
    const page = await browser.newPage({viewport: {width: 1640, height: 1100}});
    await page.goto(child.served());
    pages.push(page);
  }
  const perProfile = await measure(child);
  let fps = null;
  if (pages.length) {
    const before = await pages[0].evaluate(() => window.quilView.draws);
    await sleep(5000);
    fps = (await pages[0].evaluate(() => window.quilView.draws) - before) / 5;
  }
  for (const page of pages) await page.close();
  await stop(child);
  return {perProfile, fps};
}

(async () => {
  const sensor = start(simulator, ['--address', ADDRESS, '--ws-port', '8200', '--rate', String(RATE)]);
  await sleep(500);
  const browser = await chromium.launch({executablePath: '/usr/bin/chromium', args: ['--no-sandbox']});
  try {
    const stream = start(tool, ['stream', ...login, '--port', '8201', '--data-ids', '0', '1',
      '--format', 'jsonl', '-o', '/dev/null', '--allow-loss']);
    const alone = await measure(stream);
    await stop(stream);
    const results = [['quil stream alone', alone, null]];
    for (const browsers of [0, 1, 3]) {
      const {perProfile, fps} = await viewWith(browsers, browser);
      results.push([`quil view, ${browsers} browser${browsers === 1 ? '' : 's'}`, perProfile, fps]);
    }
    console.log(`at ${RATE} profiles/s, over ${MEASURE_MS / 1000} s:`);
    console.log('what                    CPU µs/profile  vs stream  page frames/s');
    for (const [name, perProfile, fps] of results) {
      const share = ((perProfile / alone - 1) * 100).toFixed(0);
      console.log(`${name.padEnd(24)}${(perProfile * 1e6).toFixed(2).padStart(14)}` +
                  `${(share + ' %').padStart(11)}${fps === null ? '' : fps.toFixed(1).padStart(15)}`);
    }
  } finally {
    await browser.close();
    await stop(sensor);
  }
})();
