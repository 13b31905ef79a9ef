// What the line page's tests (and the bench and the screenshot) run: Debian's mosquitto
// with a TCP listener for the gateways and a websockets listener serving the built page,
// simulated sensors with a real varno-gateway each, a Node MQTT client, and headless
// Chromium driven by playwright-core.
import { spawn, spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const SOURCE_DIR = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const require = createRequire(path.join(SOURCE_DIR, 'web/package.json'));

export const CHROMIUM = process.env.VARNO_CHROMIUM || '/usr/bin/chromium';
export const CHROMIUM_ARGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

export function mosquittoPath() {
  for (const p of ['/usr/sbin/mosquitto', '/usr/bin/mosquitto']) if (fs.existsSync(p)) return p;
  return null;
}

// The build folder: the first argument, else VARNO_BUILD_DIR, else build/.
export function buildDir() {
  const arg = process.argv.slice(2).find((a) => !a.startsWith('-'));
  return path.resolve(arg || process.env.VARNO_BUILD_DIR || path.join(SOURCE_DIR, 'build'));
}

// What is missing to run the browser tests, or null.
export function missing(build) {
  if (!fs.existsSync(CHROMIUM)) return `${CHROMIUM} is missing (scripts/deps.sh installs chromium)`;
  return null;
}

export function requireModule(name) {
  return require(name);
}

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

export async function waitFor(what, fn, ms = 10000, every = 50) {
  const until = Date.now() + ms;
  let last;
  for (;;) {
    try {
      last = await fn();
      if (last) return last;
    } catch (e) {
      last = e;
    }
    if (Date.now() > until) throw new Error(`timed out after ${ms} ms waiting for ${what}` + (last instanceof Error ? `: ${last.message}` : ''));
    await sleep(every);
  }
}

export function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.once('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

function portOpen(port) {
  return new Promise((resolve) => {
    const c = net.connect(port, '127.0.0.1');
    c.once('connect', () => { c.destroy(); resolve(true); });
    c.once('error', () => resolve(false));
  });
}

function portClosed(port) {
  return portOpen(port).then((open) => !open);
}

export function tempDir(tag) {
  return fs.mkdtempSync(path.join(os.tmpdir(), `varno-${tag}-`));
}

// Every child a test starts, stopped at the end whatever happened.
const children = new Set();
function track(proc) {
  children.add(proc);
  proc.once('exit', () => children.delete(proc));
  return proc;
}
export function killAll() {
  for (const p of children) {
    try { p.kill('SIGKILL'); } catch { /* gone */ }
  }
}
process.once('exit', killAll);

// mosquitto on 127.0.0.1: a TCP listener (gateways, the tests' client) and a websockets
// listener serving `httpDir`. With `accounts` ({user: password}) it asks for an account,
// with `acl` (the file's text) it applies one.
export class Broker {
  constructor({ dir, httpDir, accounts = null, acl = null, persistence = true }) {
    this.dir = dir;
    this.httpDir = httpDir;
    this.accounts = accounts;
    this.acl = acl;
    this.persistence = persistence;
    this.proc = null;
    this.log = '';
  }

  async start() {
    if (!this.port) {
      this.port = await freePort();
      this.wsPort = await freePort();
    }
    const conf = [];
    if (process.getuid && process.getuid() === 0) conf.push('user root');
    conf.push(`per_listener_settings false`);
    if (this.accounts) {
      const pw = path.join(this.dir, 'passwd');
      fs.writeFileSync(pw, '');
      for (const [u, p] of Object.entries(this.accounts)) {
        const r = spawnSync('mosquitto_passwd', ['-b', pw, u, p]);
        if (r.status !== 0) throw new Error(`mosquitto_passwd failed: ${r.stderr}`);
      }
      conf.push(`password_file ${pw}`, 'allow_anonymous false');
    } else conf.push('allow_anonymous true');
    if (this.acl) {
      const acl = path.join(this.dir, 'acl');
      fs.writeFileSync(acl, this.acl);
      conf.push(`acl_file ${acl}`);
    }
    if (this.persistence) conf.push('persistence true', `persistence_location ${this.dir}/`, 'autosave_interval 1');
    conf.push(`listener ${this.port} 127.0.0.1`);
    conf.push(`listener ${this.wsPort} 127.0.0.1`, 'protocol websockets', `http_dir ${this.httpDir}`);
    conf.push('log_dest stdout', 'log_type error', 'log_type warning', 'log_type notice', 'log_type information');
    const file = path.join(this.dir, 'mosquitto.conf');
    fs.writeFileSync(file, conf.join('\n') + '\n');
    this.proc = track(spawn(mosquittoPath(), ['-c', file], { stdio: ['ignore', 'pipe', 'pipe'] }));
    this.proc.stdout.on('data', (d) => { this.log += d; });
    this.proc.stderr.on('data', (d) => { this.log += d; });
    await waitFor('mosquitto to listen', async () => (await portOpen(this.port)) && (await portOpen(this.wsPort)), 8000);
  }

  async stop() {
    if (!this.proc) return;
    const p = this.proc;
    this.proc = null;
    if (p.exitCode == null) {
      const gone = new Promise((r) => p.once('exit', r));
      p.kill('SIGTERM');
      await Promise.race([gone, sleep(5000)]);
      if (p.exitCode == null) p.kill('SIGKILL');
    }
    await waitFor('the broker to let its ports go', async () => (await portClosed(this.port)) && (await portClosed(this.wsPort)), 8000);
  }

  get url() { return `mqtt://127.0.0.1:${this.port}`; }
  get pageUrl() { return `http://127.0.0.1:${this.wsPort}/`; }
}

// varno-sensor-sim behind a link in `dir`.
export async function startSensor(build, dir, name, extra = []) {
  const link = path.join(dir, `sensor-${name}`);
  const proc = track(spawn(path.join(build, 'varno-sensor-sim'), ['--link', link, ...extra], { stdio: ['ignore', 'pipe', 'pipe'] }));
  let out = '';
  proc.stdout.on('data', (d) => { out += d; });
  await waitFor(`the simulated sensor ${name}`, () => out.includes('\n') && fs.existsSync(link), 8000);
  return { proc, link, stop: () => stopProc(proc) };
}

async function stopProc(proc, sig = 'SIGTERM') {
  if (proc.exitCode != null || proc.signalCode != null) return;
  const gone = new Promise((r) => proc.once('exit', r));
  proc.kill(sig);
  await Promise.race([gone, sleep(5000)]);
  if (proc.exitCode == null && proc.signalCode == null) proc.kill('SIGKILL');
}

// varno-gateway for one sensor, with --trace: every frame it sends to the sensor is in
// its log, so a test sees what went on the sensor's line.
export class Gateway {
  constructor(build, { broker, port, sensor, allowWrite = null, keepalive = 5, prefix = null, extra = [] }) {
    this.build = build;
    this.args = ['--broker', broker, '--port', port, '--sensor', sensor, '--keepalive', String(keepalive), '--trace'];
    if (allowWrite) this.args.push('--allow-write', allowWrite);
    if (prefix) this.args.push('--prefix', prefix);
    this.args.push(...extra);
    this.log = '';
  }

  start() {
    // The build may be relinked at that moment: one more try.
    for (let i = 0; i < 2; ++i) {
      try {
        this.proc = track(spawn(path.join(this.build, 'varno-gateway'), this.args, { stdio: ['ignore', 'pipe', 'pipe'] }));
        this.proc.stdout.on('data', (d) => { this.log += d; });
        this.proc.stderr.on('data', (d) => { this.log += d; });
        return this;
      } catch (e) {
        if (i) throw e;
      }
    }
    return this;
  }

  // Frames sent to the sensor ("55 01 ..."), from the trace, after `from` characters.
  framesSent(from = 0) {
    const out = [];
    for (const m of this.log.slice(from).matchAll(/ sent \d+: ((?:[0-9A-F]{2} ?)+)/g)) out.push(m[1].trim());
    return out;
  }

  kill(sig = 'SIGKILL') { this.proc.kill(sig); }
  stop() { return stopProc(this.proc); }
}

// A Node MQTT client on the broker's TCP listener, keeping what it receives.
export async function client(broker, options = {}) {
  const mqtt = require('mqtt');
  const c = mqtt.connect(broker.url, { protocolVersion: 5, reconnectPeriod: 500, ...options });
  c.seen = [];
  c.on('message', (topic, payload, packet) => c.seen.push({ topic, text: payload.toString(), retain: packet.retain }));
  await new Promise((resolve, reject) => {
    c.once('connect', resolve);
    c.once('error', reject);
  });
  c.publishAsync2 = (topic, text, opts = {}) => new Promise((res, rej) => c.publish(topic, text, { qos: 1, ...opts }, (e) => (e ? rej(e) : res())));
  return c;
}

// A parameter-block description as the gateway's meta gives it, for a gateway that does
// not publish one yet: the names of the block's bytes from its own params message.
export function metaFor(sensor, port, params, allowWrite) {
  const names = Object.keys(params.named);
  return {
    gateway: 'varno-gateway', version: '3.0', sensor, port,
    allow_write: allowWrite ? (allowWrite === 'eeprom' ? ['ram', 'eeprom'] : ['ram']) : [],
    parameters: names.map((name, byte) => ({
      name, byte, min: 0, max: 255, label: name.toUpperCase(), meaning: `byte ${byte} of the parameter block`,
      ...(name === 'trigger' ? { max: 3, choices: [{ value: 0, label: 'CONT' }, { value: 1, label: 'EXT' }, { value: 2, label: 'EXTSTAT' }, { value: 3, label: 'ADJ EXT' }] } : {}),
    })),
    record: ['time', 't_s', 'dat0', 'dat1', 'norm', 'edge', 'in0', 'in1', 'trsh', 'hysteresis', 'edge_pct', 'win_pct', 'seq'].map((name) => ({
      name, label: name.toUpperCase(), ...(['dat0', 'dat1', 'norm', 'trsh', 'hysteresis'].includes(name) ? { min: 0, max: 255 } : {}),
    })),
  };
}

// Waits for a sensor's retained params and, when its gateway has published no meta
// within `ms`, publishes one (retained) in its place.
export async function ensureMeta(c, prefix, sensor, port, allowWrite, ms = 3000) {
  await c.subscribeAsync([`${prefix}/${sensor}/params`, `${prefix}/${sensor}/meta`], { qos: 1 });
  const params = await waitFor(`${sensor}'s params`, () => c.seen.find((m) => m.topic === `${prefix}/${sensor}/params`), 15000);
  try {
    await waitFor(`${sensor}'s meta`, () => c.seen.find((m) => m.topic === `${prefix}/${sensor}/meta`), ms);
    return false;
  } catch {
    const meta = metaFor(sensor, port, JSON.parse(params.text), allowWrite);
    await c.publishAsync2(`${prefix}/${sensor}/meta`, JSON.stringify(meta), { retain: true });
    return true;
  }
}

// Headless Chromium with a fresh profile.
export async function browser(dir) {
  const { chromium } = require('playwright-core');
  const profile = path.join(dir, 'chromium-profile');
  fs.mkdirSync(profile, { recursive: true });
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: CHROMIUM_ARGS,
    viewport: { width: 1400, height: 900 },
  });
  return context;
}

// Builds the page into `out` when it is not there (the tests use the build's copy).
export function ensurePage(build) {
  const out = path.join(build, 'web');
  if (!fs.existsSync(path.join(out, 'index.html'))) {
    const r = spawnSync(path.join(SOURCE_DIR, 'scripts/web-build.sh'), [out], { stdio: 'inherit' });
    if (r.status !== 0) throw new Error('scripts/web-build.sh failed');
  }
  return out;
}
