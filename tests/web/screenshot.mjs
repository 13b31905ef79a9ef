// Takes docs/line-page.png: six simulated sensors with their gateways, one gateway
// stopped (its tile offline), a recipe change-over on the line, one sensor opened with its
// jump buffer read. Usage: node tests/web/screenshot.mjs [BUILD DIR] [OUTPUT PNG]
import fs from 'node:fs';
import path from 'node:path';
import {
  Broker, Gateway, SOURCE_DIR, browser, buildDir, client, ensureMeta, ensurePage, killAll,
  sleep, startSensor, tempDir, waitFor,
} from './harness.mjs';

const build = buildDir();
const out = path.resolve(process.argv.slice(2).filter((a) => !a.startsWith('-'))[1] || path.join(SOURCE_DIR, 'docs/line-page.png'));
const dir = tempDir('line-shot');
const broker = new Broker({ dir, httpDir: ensurePage(build) });
try {
  await broker.start();
  const names = ['press-1', 'press-2', 'cutter-a', 'cutter-b', 'folder', 'stacker'];
  const c = await client(broker);
  const gateways = [];
  for (const [i, name] of names.entries()) {
    const s = await startSensor(build, dir, name, ['--seed', String(i + 3)]);
    gateways.push(new Gateway(build, { broker: broker.url, port: s.link, sensor: name, allowWrite: 'ram' }).start());
  }
  for (const name of names) await ensureMeta(c, 'varno', name, path.join(dir, `sensor-${name}`), 'ram');
  await c.publishAsync2('varno/_line/changeover', JSON.stringify({ recipe: 'Carton 330 × 240, matt', time: new Date(Date.now() - 47 * 60e3).toISOString(), by: 'anna', result: 'applied' }), { retain: true });
  await sleep(1500);
  gateways[4].kill('SIGTERM'); // "folder" goes offline
  const context = await browser(dir);
  const page = await context.newPage();
  await page.setViewportSize({ width: 1600, height: 1000 });
  await page.goto(`${broker.pageUrl}?broker=ws://127.0.0.1:${broker.wsPort}`);
  await waitFor('the tiles', () => page.locator('[data-sensor][data-state="online"]').count().then((n) => n >= 5), 15000);
  await page.locator('[data-sensor="cutter-a"]').click();
  await page.locator('[data-action="jumpbuf"]').click();
  await waitFor('the jump buffer', () => page.locator('.jump-svg').count(), 15000);
  await sleep(Number(process.env.SHOT_WAIT_MS || 31000)); // the charts fill their 30 s
  await page.screenshot({ path: out });
  if (process.env.SHOT_PANEL) {
    await page.evaluate(() => document.querySelector('.panel-wrap').scrollTo(0, 620));
    await page.screenshot({ path: process.env.SHOT_PANEL });
  }
  console.log(`line-page screenshot: ${out}`);
  await context.close();
  c.end(true);
} finally {
  await broker.stop().catch(() => {});
  killAll();
  fs.rmSync(dir, { recursive: true, force: true });
}
