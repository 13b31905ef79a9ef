// The line page under load: mosquitto serving the built page, a load generator holding
// the retained status, params and meta of SENSORS sensors and sending live records at
// 9 a second for the first LIVE of them (those on screen), and the page in headless
// Chromium on a wall screen's window (3840 x 2400).
//
// Measures the CPU of Chromium's processes (utime + stime from /proc, every process of
// the browser) from minute 1 to the end, the time from the page's connect to every tile
// on screen shown with its state and to their NORM shown, and the page's JS heap (after a
// garbage collection) at minute 1 and at the end. Prints "key value" lines.
//
// Chromium runs as a plain process, as on a wall screen, with its DevTools port used only
// to set up the timing, to read it and to read the heap (Runtime and Page, never the
// Network domain, which a browser driver keeps on and which costs per websocket frame).
//
// Usage: node bench/web/line_page_bench.mjs [BUILD DIR] [--minutes M] [--sensors N] [--live K]
import fs from 'node:fs';
import path from 'node:path';
import { spawn } from 'node:child_process';
import {
  Broker, CHROMIUM, CHROMIUM_ARGS, client, ensurePage, killAll, requireModule, sleep, tempDir, waitFor,
} from '../../tests/web/harness.mjs';

// A DevTools client on one page target: send(method, params) -> result.
async function devtools(port) {
  const list = await waitFor('the DevTools port', async () => {
    const r = await fetch(`http://127.0.0.1:${port}/json/list`).catch(() => null);
    const targets = r && r.ok ? await r.json() : [];
    return targets.find((t) => t.type === 'page');
  }, 15000, 200);
  const WebSocket = requireModule('ws');
  const ws = new WebSocket(list.webSocketDebuggerUrl, { perMessageDeflate: false });
  await new Promise((res, rej) => { ws.once('open', res); ws.once('error', rej); });
  let next = 0;
  const waiting = new Map();
  ws.on('message', (data) => {
    const m = JSON.parse(data.toString());
    if (m.id && waiting.has(m.id)) {
      const { res, rej } = waiting.get(m.id);
      waiting.delete(m.id);
      if (m.error) rej(new Error(m.error.message));
      else res(m.result);
    }
  });
  return {
    send: (method, params = {}) => new Promise((res, rej) => {
      const id = ++next;
      waiting.set(id, { res, rej });
      ws.send(JSON.stringify({ id, method, params }));
    }),
    close: () => ws.close(),
  };
}

const args = process.argv.slice(2);
const opt = (name, dflt) => {
  const i = args.indexOf(`--${name}`);
  return i >= 0 ? Number(args[i + 1]) : dflt;
};
const build = path.resolve(args.find((a, i) => !a.startsWith('--') && !(i > 0 && args[i - 1].startsWith('--'))) || 'build');
const minutes = opt('minutes', 10);
const nSensors = opt('sensors', 500);
const nLive = opt('live', 64);
const RATE = 9;
const print = (k, v) => console.log(`${k} ${v}`);

// CPU seconds (utime + stime) of the Chromium under `root`, with all its processes.
const TICK = 100; // USER_HZ on Linux
function treeCpu(root) {
  const kids = new Map();
  const cpu = new Map();
  for (const p of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(p)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${p}/stat`, 'utf8');
      const f = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      const ppid = Number(f[1]);
      cpu.set(Number(p), (Number(f[11]) + Number(f[12])) / TICK);
      if (!kids.has(ppid)) kids.set(ppid, []);
      kids.get(ppid).push(Number(p));
    } catch { /* gone */ }
  }
  let sum = 0;
  let n = 0;
  const walk = (pid) => {
    sum += cpu.get(pid) || 0;
    n++;
    for (const k of kids.get(pid) || []) walk(k);
  };
  // Only the browser's tree: not the broker, which is a child of this process too.
  for (const k of kids.get(root) || []) {
    let comm = '';
    try { comm = fs.readFileSync(`/proc/${k}/comm`, 'utf8'); } catch { /* gone */ }
    if (/chrom/i.test(comm)) walk(k);
  }
  return { sum, n };
}

const dir = tempDir('line-bench');
const broker = new Broker({ dir, httpDir: ensurePage(build), persistence: false });
let timer = 0;
try {
  await broker.start();
  const gen = await client(broker);
  const ids = Array.from({ length: nSensors }, (_, i) => `line-${String(i).padStart(3, '0')}`);
  const now = new Date().toISOString();
  const named = ['threshold', 'hysteresis', 'power', 'pmod', 'hold', 'trigger', 'backlim', 'regcnt', 'average', 'deadtimemode', 'deadtime', 'outmode', 'trshmod', 'deltatrsh', 'frei15'];
  const values = [128, 160, 16, 0, 10, 0, 10, 20, 2, 1, 10, 0, 0, 30, 0];
  for (const id of ids) {
    await gen.publishAsync2(`varno/${id}/status`, JSON.stringify({ state: 'online', port: `/dev/serial/by-id/usb-${id}`, since: now, dropped: 0 }), { retain: true });
    await gen.publishAsync2(`varno/${id}/params`, JSON.stringify({ source: 'ram', values, named: Object.fromEntries(named.map((n, i) => [n, values[i]])), time: now }), { retain: true });
    await gen.publishAsync2(`varno/${id}/meta`, JSON.stringify({
      gateway: 'varno-gateway', version: '3.0', sensor: id, port: `/dev/serial/by-id/usb-${id}`, allow_write: ['ram'],
      parameters: named.map((name, byte) => ({ name, byte, min: 0, max: 255, label: name.toUpperCase(), meaning: `byte ${byte}` })),
      record: ['time', 't_s', 'dat0', 'dat1', 'norm', 'edge', 'in0', 'in1', 'trsh', 'hysteresis', 'edge_pct', 'win_pct', 'seq'].map((name) => ({ name, label: name.toUpperCase(), min: 0, max: 255 })),
    }), { retain: true });
  }
  // Live records for the first nLive sensors, 9 a second each, spread over the period.
  let seq = 0;
  const t0 = Date.now();
  timer = setInterval(() => {
    seq++;
    const time = new Date().toISOString();
    const t_s = (Date.now() - t0) / 1000;
    for (let i = 0; i < nLive; ++i) {
      const norm = Math.round(180 + 60 * Math.sin(t_s * 2 + i) + (seq % 7));
      gen.publish(`varno/${ids[i]}/live`, JSON.stringify({ time, t_s, dat0: norm - 20, dat1: 255 - norm, norm, edge: 0, in0: 0, in1: 0, trsh: 128, hysteresis: 160, edge_pct: null, win_pct: null, seq }), { qos: 1 });
    }
  }, 1000 / RATE);

  const profile = `${dir}/chromium-profile`;
  fs.mkdirSync(profile);
  const devPort = 30000 + Math.floor(Math.random() * 20000);
  const chromium = spawn(CHROMIUM, [...CHROMIUM_ARGS, `--user-data-dir=${profile}`, `--remote-debugging-port=${devPort}`,
    '--window-size=3840,2400', '--hide-scrollbars', 'about:blank'], { stdio: 'ignore' });
  const cdp = await devtools(devPort);
  const evaluate = async (expression) => (await cdp.send('Runtime.evaluate', { expression, returnByValue: true })).result.value;
  // In the page: when it connects, and when every tile on screen has its state, then its NORM.
  const probe = (expect, live) => {
    window.__bench = { expect, live };
    const onScreen = () => {
      const h = innerHeight;
      return [...document.querySelectorAll('.grid [data-sensor]')].filter((t) => {
        const r = t.getBoundingClientRect();
        return r.bottom > 0 && r.top < h;
      });
    };
    const look = () => {
      const b = window.__bench;
      if (b.connected == null && document.body?.dataset.broker === 'connected') b.connected = performance.now();
      if (b.connected != null) {
        const tiles = onScreen();
        const full = tiles.length > 0 && document.querySelectorAll('.grid [data-sensor]').length >= b.expect;
        if (b.tiles == null && full && tiles.every((t) => t.dataset.state === 'online')) {
          b.tiles = performance.now();
          b.onScreen = tiles.length;
        }
        if (b.norm == null && b.tiles != null && tiles.slice(0, b.live).every((t) => /^\d+$/.test(t.querySelector('[data-field="norm"]').textContent))) b.norm = performance.now();
      }
      if (b.norm == null) requestAnimationFrame(look);
    };
    requestAnimationFrame(look);
  };
  await cdp.send('Page.enable');
  await cdp.send('Emulation.setDeviceMetricsOverride', { width: 3840, height: 2400, deviceScaleFactor: 1, mobile: false });
  await cdp.send('Page.addScriptToEvaluateOnNewDocument', { source: `(${probe})(${nSensors}, ${nLive})` });
  await cdp.send('Page.navigate', { url: broker.pageUrl });
  const b = await waitFor('every tile on screen with its NORM', () => evaluate('window.__bench && window.__bench.norm != null ? window.__bench : null'), 60000, 100);
  print('tiles_on_screen', b.onScreen);
  print('tiles_followed_live', await evaluate("[...window.linePage.conn.wanted.keys()].filter((t) => t.endsWith('/live')).length"));
  print('connect_to_tiles_ms', Math.round(b.tiles - b.connected));
  print('connect_to_norm_ms', Math.round(b.norm - b.connected));

  const heap = async () => {
    await cdp.send('HeapProfiler.collectGarbage');
    const { usedSize } = await cdp.send('Runtime.getHeapUsage');
    return Math.round(usedSize / 1024);
  };
  const minute = 60000;
  const start = Date.now();
  await sleep(Math.max(0, minute - (Date.now() - start)));
  const heap1 = await heap();
  const cpu1 = treeCpu(process.pid);
  const w1 = Date.now();
  print('heap_min1_kib', heap1);
  await sleep(Math.max(0, minutes * minute - (Date.now() - start)));
  const cpu2 = treeCpu(process.pid);
  const w2 = Date.now();
  const heap2 = await heap();
  print('heap_end_kib', heap2);
  print('minutes', minutes);
  print('chromium_processes', cpu2.n);
  print('chromium_cpu_pct_of_core', ((100 * (cpu2.sum - cpu1.sum)) / ((w2 - w1) / 1000)).toFixed(1));
  print('records_per_s_on_screen', nLive * RATE);
  cdp.close();
  const gone = new Promise((r) => chromium.once('exit', r));
  chromium.kill('SIGTERM');
  await Promise.race([gone, sleep(5000)]);
  clearInterval(timer);
  gen.end(true);
} finally {
  clearInterval(timer);
  await broker.stop().catch(() => {});
  killAll();
  fs.rmSync(dir, { recursive: true, force: true, maxRetries: 5, retryDelay: 200 });
}
