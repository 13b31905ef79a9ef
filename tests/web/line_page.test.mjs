// The line page in headless Chromium against the real thing: Debian's mosquitto serving
// the built page on its websockets listener, simulated sensors with a varno-gateway each.
// Usage: node tests/web/line_page.test.mjs BUILD_DIR
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {
  Broker, Gateway, SOURCE_DIR, browser, buildDir, client, ensureMeta, ensurePage, killAll,
  missing, sleep, startSensor, tempDir, waitFor,
} from './harness.mjs';

const build = buildDir();
const why = missing(build);
if (why) console.log(`# SKIP the line page's browser tests: ${why}`);

const KEEPALIVE = 5;
const HOSTILE_ID = '<img src=x onerror=window.__pwned=1>';
const HOSTILE_ERROR = '<script>window.__pwned=4</script><img src=x onerror="window.__pwned=5">refused';

// The tile of a sensor (any string as id), found by its data-sensor in the page.
async function tileOf(page, id) {
  return page.evaluate((id) => {
    const t = [...document.querySelectorAll('[data-sensor]')].find((e) => e.dataset.sensor === id);
    if (!t) return null;
    return {
      state: t.dataset.state,
      norm: t.querySelector('[data-field="norm"]').textContent,
      text: t.textContent,
    };
  }, id);
}

async function tileIds(page) {
  return page.evaluate(() => [...document.querySelectorAll('.grid [data-sensor]')].map((e) => e.dataset.sensor));
}

async function openSensor(page, id) {
  await page.evaluate((id) => {
    [...document.querySelectorAll('[data-sensor]')].find((e) => e.dataset.sensor === id).click();
  }, id);
  await page.waitForFunction((id) => document.querySelector('.detail')?.dataset.detail === id, id);
}

// The answer shown for `command`, once it has come (data-ok set).
async function answer(page, command, ms = 25000) {
  const sel = `[data-reply="${command}"][data-ok]`;
  await page.waitForSelector(sel, { timeout: ms });
  return page.$eval(sel, (e) => ({ ok: e.dataset.ok, text: e.textContent }));
}

async function click(page, action) {
  // No answer from before may pass for the new one.
  await page.$eval(`[data-action="${action}"]`, (b) => b.click());
}

const hex = (values) => values.map((v) => v.toString(16).toUpperCase().padStart(2, '0')).join(' ');

describe('the line page', { skip: why || false }, () => {
  let dir, broker, mq, context, page, gw;
  const sensors = {};

  before(async () => {
    dir = tempDir('line-page');
    broker = new Broker({ dir, httpDir: ensurePage(build), persistence: true });
    await broker.start();
    mq = await client(broker);
    await mq.subscribeAsync('varno/#', { qos: 1 });
    // s1 takes writes to RAM, s2 takes none, s3's gateway is the one that dies.
    const setup = { s1: 'ram', s2: null, s3: null };
    gw = {};
    for (const [id, allow] of Object.entries(setup)) {
      sensors[id] = await startSensor(build, dir, id, ['--seed', String(Object.keys(gw).length + 1)]);
      gw[id] = new Gateway(build, { broker: broker.url, port: sensors[id].link, sensor: id, allowWrite: allow, keepalive: KEEPALIVE }).start();
    }
    for (const [id, allow] of Object.entries(setup)) await ensureMeta(mq, 'varno', id, sensors[id].link, allow);
    context = await browser(dir);
    page = await context.newPage();
    page.on('pageerror', (e) => console.log(`# page error: ${e.message}`));
    await page.goto(broker.pageUrl);
  });

  after(async () => {
    await context?.close().catch(() => {});
    mq?.end(true);
    await broker?.stop().catch(() => {});
    killAll();
    if (dir) fs.rmSync(dir, { recursive: true, force: true });
  });

  test('shows a tile for every sensor, online, in the order of their ids, with a live NORM', { timeout: 30000 }, async () => {
    await page.waitForSelector('body[data-broker="connected"]', { timeout: 10000 });
    await waitFor('three online tiles with a NORM', async () => {
      for (const id of ['s1', 's2', 's3']) {
        const t = await tileOf(page, id);
        if (!t || t.state !== 'online' || !/^\d+$/.test(t.norm)) return false;
      }
      return true;
    }, 15000);
    assert.deepEqual(await tileIds(page), ['s1', 's2', 's3']);
    // NORM follows the live records: the simulated sensor's value moves within seconds.
    const seen = new Set();
    await waitFor('NORM to change', async () => {
      seen.add((await tileOf(page, 's1')).norm);
      return seen.size >= 3;
    }, 10000, 100);
    // The tile's chart has NORM and the threshold to draw.
    await waitFor("the tile's chart to hold NORM and TRSH", () => page.evaluate(() => {
      const chart = window.linePage.sensors.get('s1').tile.chart;
      const data = chart ? chart.plot.data : [[], [], []];
      return data[1].length > 5 && data[2].every((v) => Number.isFinite(v));
    }), 5000);
  });

  test('a write to RAM from the page goes on the line, is answered ok and audited', { timeout: 40000 }, async () => {
    await openSensor(page, 's1');
    await page.waitForSelector('[data-param]');
    const params = await page.$$eval('[data-param]', (es) => es.map((e) => [e.dataset.param, e.value]));
    assert.ok(params.length >= 2 && params.every(([, v]) => /^\d+$/.test(v)), `filled from params: ${JSON.stringify(params)}`);
    const first = params[0][0];
    const current = Number(params[0][1]);
    const wanted = current === 99 ? 98 : 99;
    await page.fill(`[data-param="${first}"]`, String(wanted));
    const values = await page.$$eval('[data-param]', (es) => es.map((e) => Number(e.value)));
    const from = gw.s1.log.length;
    await click(page, 'write-ram');
    const a = await answer(page, 'write');
    assert.equal(a.ok, 'true', a.text);
    assert.match(a.text, /verified/);
    const sent = gw.s1.framesSent(from).filter((f) => f.startsWith('55 01'));
    assert.deepEqual(sent, [`55 01 ${hex(values)}`]);
    // The audit of that write, shown with the change by the parameter's label.
    await page.waitForFunction(
      ({ current, wanted }) => [...document.querySelectorAll('.audit-list li')].some((li) => li.textContent.includes(`${current} → ${wanted}`) && li.dataset.verify === 'match'),
      { current, wanted }, { timeout: 10000 },
    );
  });

  test('a value out of range is refused by the page and nothing is sent', { timeout: 20000 }, async () => {
    const name = await page.$eval('input[data-param]', (e) => e.dataset.param);
    const max = Number(await page.$eval(`[data-param="${name}"]`, (e) => e.max));
    const cmds = mq.seen.length;
    const from = gw.s1.log.length;
    await page.fill(`[data-param="${name}"]`, String(max + 1));
    await click(page, 'write-ram');
    const a = await answer(page, 'write', 3000);
    assert.equal(a.ok, 'false');
    const check = await page.$eval('.input-check', (e) => (e.hidden ? '' : e.textContent));
    assert.match(check, new RegExp(`${max + 1} is outside`));
    await sleep(1500);
    assert.equal(mq.seen.slice(cmds).filter((m) => m.topic.includes('/cmd/')).length, 0, 'no command published');
    assert.equal(gw.s1.framesSent(from).filter((f) => /^55 0[12]/.test(f)).length, 0, 'nothing written on the line');
    await page.click('text=Undo my changes');
  });

  test('reads EEPROM, checks the line and draws the jump buffer against the threshold', { timeout: 40000 }, async () => {
    const replies = mq.seen.length;
    await click(page, 'read-eeprom');
    let a = await answer(page, 'read');
    assert.equal(a.ok, 'true', a.text);
    const reply = JSON.parse(mq.seen.slice(replies).find((m) => m.topic === 'varno/s1/reply').text);
    await sleep(1500); // the page's once-a-second update keeps what was read
    const shown = await page.$$eval('[data-param]', (es) => es.map((e) => Number(e.value)));
    assert.deepEqual(shown, reply.values.slice(0, shown.length), 'the inputs hold what was read');
    await click(page, 'check');
    a = await answer(page, 'check');
    assert.equal(a.ok, 'true', a.text);
    await click(page, 'jumpbuf');
    a = await answer(page, 'jumpbuf');
    assert.equal(a.ok, 'true', a.text);
    const bars = await page.$$eval('.jump-svg rect.bar', (rs) => rs.map((r) => Number(r.dataset.value)));
    assert.equal(bars.length, 16);
    assert.equal(await page.locator('.jump-svg .trsh-line').count(), 1);
  });

  test("a write the gateway refuses shows its reason, and nothing goes on the line", { timeout: 40000 }, async () => {
    await openSensor(page, 's2');
    await page.waitForSelector('[data-param]');
    const from = gw.s2.log.length;
    const replies = mq.seen.length;
    await click(page, 'write-ram');
    const a = await answer(page, 'write');
    assert.equal(a.ok, 'false');
    const reply = JSON.parse(mq.seen.slice(replies).find((m) => m.topic === 'varno/s2/reply').text);
    assert.equal(reply.ok, false);
    assert.ok(a.text.includes(reply.error), `"${a.text}" shows the gateway's "${reply.error}"`);
    await sleep(500);
    assert.equal(gw.s2.framesSent(from).filter((f) => /^55 0[12]/.test(f)).length, 0);
  });

  test('hostile ids, states, labels and error texts are shown as text and never run', { timeout: 40000 }, async () => {
    const base = `varno/${HOSTILE_ID}`;
    await mq.publishAsync2(`${base}/status`, JSON.stringify({ state: '<script>window.__pwned=2</script>', port: '<img src=x onerror=window.__pwned=3>', since: '<b>x</b>' }), { retain: true });
    await mq.publishAsync2(`${base}/meta`, JSON.stringify({
      allow_write: ['ram'],
      parameters: [{ name: '<img src=x onerror=window.__pwned=6>', byte: 0, min: 0, max: 255, label: '<script>window.__pwned=7</script>', meaning: '"><img src=x onerror=window.__pwned=8>' }],
      record: [{ name: 'norm', label: '<img src=x onerror=window.__pwned=9>' }],
    }), { retain: true });
    await mq.publishAsync2(`${base}/params`, JSON.stringify({ source: '<i>ram</i>', values: [7], time: 'x' }), { retain: true });
    // The test answers this sensor's commands itself, with markup in the error.
    mq.on('message', (topic, payload) => {
      if (topic !== `${base}/cmd/check`) return;
      const { id } = JSON.parse(payload.toString());
      mq.publish(`${base}/reply`, JSON.stringify({ id, command: 'check', ok: false, exit: 3, error: HOSTILE_ERROR }), { qos: 1 });
    });
    await mq.publishAsync2(`${base}/audit`, JSON.stringify({ time: '<x>', id: '<svg onload=window.__pwned=10>', by: '<img src=x onerror=window.__pwned=11>', target: 'ram', before: [1], after: [2], verify: '<script>1</script>' }));
    await waitFor('the hostile tile', () => tileOf(page, HOSTILE_ID), 10000);
    await openSensor(page, HOSTILE_ID);
    await click(page, 'check');
    const a = await answer(page, 'check');
    assert.equal(a.ok, 'false');
    assert.ok(a.text.includes(HOSTILE_ERROR), a.text);
    await sleep(500);
    const t = await tileOf(page, HOSTILE_ID);
    assert.ok(t.text.includes(HOSTILE_ID), 'the id appears literally');
    assert.ok(t.text.includes('<script>window.__pwned=2</script>'), 'the state appears literally');
    const detail = await page.$eval('.detail', (d) => d.textContent);
    assert.ok(detail.includes('<script>window.__pwned=7</script>'), 'the label appears literally');
    assert.ok(detail.includes('<img src=x onerror=window.__pwned=11>'), 'the audit appears literally');
    const result = await page.evaluate(() => ({ pwned: window.__pwned, imgs: document.querySelectorAll('img, script:not([src]), svg[onload]').length }));
    assert.deepEqual(result, { pwned: undefined, imgs: 0 });
    // Clean up: the hostile sensor leaves the broker and the page.
    for (const sub of ['status', 'meta', 'params']) await mq.publishAsync2(`${base}/${sub}`, '', { retain: true });
    await waitFor('the hostile tile to go', async () => !(await tileOf(page, HOSTILE_ID)), 5000);
  });

  test('subscribes to live records only for tiles on screen', { timeout: 40000 }, async () => {
    await page.setViewportSize({ width: 900, height: 600 });
    await page.keyboard.press('Escape');
    // Enough retained sensors that the last is far below the fold.
    const ids = Array.from({ length: 80 }, (_, i) => `zz-fake-${String(i).padStart(3, '0')}`);
    for (const id of ids) await mq.publishAsync2(`varno/${id}/status`, JSON.stringify({ state: 'online', port: 'none', since: new Date().toISOString(), dropped: 0 }), { retain: true });
    const last = ids[ids.length - 1];
    await waitFor('the last tile', () => tileOf(page, last), 10000);
    const live = (norm) => JSON.stringify({ time: new Date().toISOString(), t_s: 1, dat0: 1, dat1: 1, norm, edge: 0, in0: 0, in1: 0, trsh: 100, hysteresis: 120, edge_pct: null, win_pct: null, seq: norm });
    const wanted = () => page.evaluate((id) => window.linePage.conn.wanted.has(`varno/${id}/live`), last);
    assert.equal(await wanted(), false, 'an off-screen tile is not followed');
    await mq.publishAsync2(`varno/${last}/live`, live(42));
    await sleep(800);
    assert.equal((await tileOf(page, last)).norm, '–', 'its live records do not reach the page');
    await page.evaluate((id) => [...document.querySelectorAll('[data-sensor]')].find((e) => e.dataset.sensor === id).scrollIntoView(), last);
    await waitFor('the tile on screen to be followed', wanted, 5000);
    await sleep(300); // the SUBSCRIBE goes out
    await waitFor('its NORM', async () => {
      await mq.publishAsync2(`varno/${last}/live`, live(43));
      return (await tileOf(page, last)).norm === '43';
    }, 5000, 300);
    // s1 is off screen now: no longer followed.
    await waitFor('s1 to be let go', () => page.evaluate(() => !window.linePage.conn.wanted.has('varno/s1/live')), 5000);
    for (const id of ids) await mq.publishAsync2(`varno/${id}/status`, '', { retain: true });
    await page.setViewportSize({ width: 1400, height: 900 });
    await page.evaluate(() => document.querySelector('.grid-wrap').scrollTo(0, 0));
    await waitFor('the fake tiles to go', async () => (await tileIds(page)).length === 3, 5000);
  });

  test('a gateway killed with SIGKILL turns its tile offline, which stays until removed', { timeout: 40000 }, async () => {
    const killed = Date.now();
    gw.s3.kill('SIGKILL');
    await waitFor('s3 offline', async () => (await tileOf(page, 's3'))?.state === 'offline', 2.5 * KEEPALIVE * 1000, 100);
    console.log(`# s3 offline on the page ${((Date.now() - killed) / 1000).toFixed(1)} s after SIGKILL`);
    await sleep(2000);
    const t = await tileOf(page, 's3');
    assert.equal(t.state, 'offline');
    assert.match(t.text, /last seen \d\d:\d\d:\d\d/);
    assert.equal((await tileOf(page, 's1')).state, 'online');
    await page.evaluate(() => [...document.querySelectorAll('[data-sensor]')].find((e) => e.dataset.sensor === 's3').querySelector('.tile-remove').click());
    assert.equal(await tileOf(page, 's3'), null);
    assert.deepEqual(await tileIds(page), ['s1', 's2']);
  });

  test('after a broker restart the page reconnects by itself and the tiles come back live', { timeout: 60000 }, async () => {
    await broker.stop();
    await page.waitForSelector('body:not([data-broker="connected"])', { timeout: 10000 });
    await sleep(1000);
    // The page shows old values, dimmed, while the broker is away.
    await broker.start();
    const back = Date.now();
    await page.waitForSelector('body[data-broker="connected"]', { timeout: 15000 });
    console.log(`# page connected again ${((Date.now() - back) / 1000).toFixed(1)} s after the broker's start`);
    const before = (await tileOf(page, 's1')).norm;
    await waitFor('s1 and s2 online and live again', async () => {
      const [a, b] = [await tileOf(page, 's1'), await tileOf(page, 's2')];
      return a?.state === 'online' && b?.state === 'online' && a.norm !== before;
    }, 20000, 200);
    // The removed sensor stays removed (its retained status has not changed).
    assert.deepEqual(await tileIds(page), ['s1', 's2']);
  });
});

// The page asks for an account when the broker wants one, keeps the password in memory
// only, and shows the broker's refusal of a command from a read-only account (the ACL
// shipped in docs/examples).
describe('the line page with accounts', { skip: why || false }, () => {
  let dir, broker, context, page;

  before(async () => {
    dir = tempDir('line-page-acl');
    const acl = fs.readFileSync(path.join(SOURCE_DIR, 'docs/examples/mosquitto-varno.acl'), 'utf8');
    broker = new Broker({ dir, httpDir: ensurePage(build), accounts: { operator: 'op-secret', wallscreen: 'wall-secret', s1: 'gw-secret' }, acl, persistence: false });
    await broker.start();
    const s1 = await startSensor(build, dir, 's1');
    fs.writeFileSync(path.join(dir, 'gw.pw'), 'gw-secret\n');
    new Gateway(build, { broker: broker.url, port: s1.link, sensor: 's1', allowWrite: 'ram', extra: ['--username', 's1', '--password-file', path.join(dir, 'gw.pw')] }).start();
    const mq = await client(broker, { username: 'operator', password: 'op-secret' });
    await ensureMeta(mq, 'varno', 's1', s1.link, 'ram');
    mq.end(true);
    context = await browser(dir);
    page = await context.newPage();
  });

  after(async () => {
    await context?.close().catch(() => {});
    await broker?.stop().catch(() => {});
    killAll();
    if (dir) fs.rmSync(dir, { recursive: true, force: true });
  });

  test('asks for an account, refuses a wrong one, and connects with the right one', { timeout: 40000 }, async () => {
    await page.goto(broker.pageUrl);
    await page.waitForSelector('dialog.login-dialog[open]', { timeout: 10000 });
    await page.fill('input[name="username"]', 'wallscreen');
    await page.fill('input[name="password"]', 'wrong');
    await page.click('button[type="submit"]');
    await page.waitForSelector('dialog.login-dialog[open]', { timeout: 10000 });
    assert.match(await page.$eval('.login-why', (e) => e.textContent), /refused/);
    await page.fill('input[name="username"]', 'wallscreen');
    await page.fill('input[name="password"]', 'wall-secret');
    await page.click('button[type="submit"]');
    await page.waitForSelector('body[data-broker="connected"]', { timeout: 10000 });
    await waitFor('s1 online', async () => (await tileOf(page, 's1'))?.state === 'online', 10000);
    const kept = await page.evaluate(() => ({ storage: localStorage.length + sessionStorage.length, cookie: document.cookie, url: location.href, field: document.querySelector('input[name="password"]').value }));
    assert.deepEqual(kept, { storage: 0, cookie: '', url: broker.pageUrl, field: '' });
  });

  test("a read-only account's command is refused by the broker, and the page says so", { timeout: 30000 }, async () => {
    await openSensor(page, 's1');
    await click(page, 'check');
    const a = await answer(page, 'check', 10000);
    assert.equal(a.ok, 'false');
    assert.match(a.text, /not authori[sz]ed/i);
  });
});
