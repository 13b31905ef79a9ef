// Live records kept per sensor, and the two charts drawn from them (uPlot): the small one
// of a tile (NORM and the working threshold, last 30 s) and the large one of the opened
// sensor (NORM, DAT0, DAT1, the threshold with its hysteresis band).
import uPlot from 'uplot';
import { recordField, recordLabel } from './model.js';

export const TILE_SECONDS = 30;
export const DETAIL_SECONDS = 120;

// The fields the charts draw, by their record names.
const FIELDS = ['norm', 'dat0', 'dat1', 'trsh', 'hysteresis'];

export class LiveSeries {
  constructor(seconds = DETAIL_SECONDS) {
    this.seconds = seconds;
    this.t = [];
    this.cols = Object.fromEntries(FIELDS.map((f) => [f, []]));
    this.last = null; // the latest record
    this.version = 0; // grows with every record taken
  }

  // Takes one live record; false when it has no usable time.
  add(rec) {
    const ms = Date.parse(rec.time);
    if (!Number.isFinite(ms)) return false;
    const t = ms / 1000;
    const n = this.t.length;
    if (n && t < this.t[n - 1] - this.seconds) this.clear(); // the gateway's clock went back
    this.t.push(t);
    for (const f of FIELDS) this.cols[f].push(Number.isFinite(rec[f]) ? rec[f] : null);
    this.last = rec;
    this.version++;
    const from = t - this.seconds;
    if (this.t[0] < from) {
      let k = 0;
      while (k < this.t.length && this.t[k] < from) ++k;
      // Cut in chunks: an array shifts less often.
      if (k >= 32 || k === this.t.length) this.cut(k);
    }
    return true;
  }

  cut(k) {
    this.t.splice(0, k);
    for (const f of FIELDS) this.cols[f].splice(0, k);
  }

  clear() {
    this.cut(this.t.length);
    this.last = null;
  }

  // [times, ...columns] of the last `seconds`, for uPlot.
  window(seconds, fields) {
    const n = this.t.length;
    if (!n) return [[], ...fields.map(() => [])];
    const from = this.t[n - 1] - seconds;
    let lo = 0;
    let hi = n;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (this.t[mid] < from) lo = mid + 1;
      else hi = mid;
    }
    return [this.t.slice(lo), ...fields.map((f) => this.cols[f].slice(lo))];
  }
}

const COLORS = {
  norm: '#4cc9f0',
  dat0: '#f4a261',
  dat1: '#b392f0',
  trsh: '#ffd166',
  band: 'rgba(255, 209, 102, 0.13)',
  grid: 'rgba(255,255,255,0.07)',
  axis: '#9aa7b8',
};

// The y range of NORM as meta gives it (its min and max), else none (auto).
function normRange(meta) {
  const f = recordField(meta, 'norm');
  return f && Number.isFinite(f.min) && Number.isFinite(f.max) && f.min < f.max ? [f.min, f.max] : null;
}

// NORM's range from meta, else from 0 to a little above the highest value (a round 50),
// so that the threshold is seen against the whole signal.
function yScale(meta) {
  const r = normRange(meta);
  return r ? { range: () => r } : { range: (u, min, max) => [Math.min(0, min ?? 0), Math.ceil(((max ?? 0) + 5) / 50) * 50 || 50] };
}

// The tile's chart: NORM and the working threshold, no axes, no legend, no cursor.
export class TileChart {
  constructor(parent, meta, width) {
    this.meta = meta;
    this.version = -1;
    this.plot = new uPlot(
      {
        width: Math.max(60, width),
        height: 56,
        pxAlign: 0,
        cursor: { show: false },
        legend: { show: false },
        select: { show: false },
        axes: [{ show: false }, { show: false }],
        scales: { x: { time: false }, y: yScale(meta) },
        series: [
          {},
          { stroke: COLORS.norm, width: 1.5, points: { show: false } },
          { stroke: COLORS.trsh, width: 1, dash: [4, 3], points: { show: false } },
        ],
      },
      [[], [], []],
      parent,
    );
  }

  draw(series) {
    if (series.version === this.version) return;
    this.version = series.version;
    const [t, norm, trsh] = series.window(TILE_SECONDS, ['norm', 'trsh']);
    // The window ends at the latest record and is always 30 s wide.
    const end = t.length ? t[t.length - 1] : 0;
    this.plot.batch(() => {
      this.plot.setData([t, norm, trsh], false);
      this.plot.setScale('x', { min: end - TILE_SECONDS, max: end });
    });
  }

  resize(width) {
    this.plot.setSize({ width: Math.max(60, width), height: 56 });
  }

  destroy() {
    this.plot.destroy();
  }
}

// Seconds since the epoch as the local "HH:MM:SS".
function clock(t) {
  const d = new Date(t * 1000);
  return [d.getHours(), d.getMinutes(), d.getSeconds()].map((n) => String(n).padStart(2, '0')).join(':');
}

// The opened sensor's chart, with axes and a legend naming the fields as meta does.
export class DetailChart {
  constructor(parent, meta, width, height) {
    this.version = -1;
    const axis = { stroke: COLORS.axis, grid: { stroke: COLORS.grid }, ticks: { stroke: COLORS.grid } };
    const label = (name) => recordLabel(meta, name);
    this.plot = new uPlot(
      {
        width,
        height,
        cursor: { drag: { x: false, y: false } },
        legend: { live: false },
        scales: { x: { time: true }, y: yScale(meta) },
        axes: [{ ...axis, values: (u, splits) => splits.map(clock) }, { ...axis, size: 44 }],
        series: [
          { label: 'time' },
          { label: label('norm'), stroke: COLORS.norm, width: 2, points: { show: false } },
          { label: label('dat0'), stroke: COLORS.dat0, width: 1, points: { show: false } },
          { label: label('dat1'), stroke: COLORS.dat1, width: 1, points: { show: false } },
          { label: label('trsh'), stroke: COLORS.trsh, width: 1.5, dash: [6, 4], points: { show: false } },
          { label: label('hysteresis'), stroke: 'rgba(255, 209, 102, 0.55)', width: 1, dash: [2, 3], points: { show: false } },
        ],
        bands: [{ series: [5, 4], fill: COLORS.band }],
      },
      [[], [], [], [], [], []],
      parent,
    );
  }

  draw(series) {
    if (series.version === this.version) return;
    this.version = series.version;
    const data = series.window(DETAIL_SECONDS, ['norm', 'dat0', 'dat1', 'trsh', 'hysteresis']);
    const t = data[0];
    const end = t.length ? t[t.length - 1] : 0;
    this.plot.batch(() => {
      this.plot.setData(data, false);
      this.plot.setScale('x', { min: end - DETAIL_SECONDS, max: end });
    });
  }

  resize(width, height) {
    this.plot.setSize({ width, height });
  }

  destroy() {
    this.plot.destroy();
  }
}
