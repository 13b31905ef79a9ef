// One tile per sensor: its state as colour and word, since when, the latest NORM and a
// small chart of NORM against the working threshold. A tile knows whether it is on
// screen; the page subscribes to live records only for those that are.
import { el, setText } from './dom.js';
import { TileChart } from './charts.js';
import { clockText, countdownText, durationText, recordLabel, stateKind, timeOf } from './model.js';

export class Tile {
  constructor(sensor, { onOpen, onRemove }) {
    this.sensor = sensor;
    this.chart = null;
    this.chartMeta = undefined;
    this.visible = false;
    this.drawn = false; // a live record has been shown
    const id = sensor.id;
    this.idEl = el('h2', { class: 'tile-id', title: id, text: id });
    this.stateEl = el('span', { class: 'state-word' });
    this.badge = el('span', { class: 'badge' }, el('span', { class: 'dot', 'aria-hidden': 'true' }), this.stateEl);
    this.portText = el('bdi');
    this.portEl = el('div', { class: 'tile-port' }, this.portText);
    this.normLabel = el('span', { class: 'norm-label', text: 'NORM' });
    this.normEl = el('span', { class: 'norm-value', dataset: { field: 'norm' }, text: '–' });
    this.sinceEl = el('div', { class: 'tile-since' });
    this.chartBox = el('div', { class: 'tile-chart', 'aria-hidden': 'true' });
    this.removeBtn = el('button', {
      type: 'button',
      class: 'tile-remove',
      title: 'Remove this sensor from the page (it comes back if its gateway does)',
      text: 'Remove',
      onclick: (ev) => {
        ev.stopPropagation();
        onRemove(sensor);
      },
    });
    this.root = el(
      'article',
      {
        class: 'tile',
        tabindex: '0',
        role: 'button',
        dataset: { sensor: id, state: '' },
        onclick: () => onOpen(sensor),
        onkeydown: (ev) => {
          if (ev.key === 'Enter' || ev.key === ' ') {
            ev.preventDefault();
            onOpen(sensor);
          }
        },
      },
      el('header', { class: 'tile-head' }, this.idEl, this.badge),
      this.portEl,
      el('div', { class: 'tile-norm' }, this.normLabel, this.normEl),
      this.sinceEl,
      this.chartBox,
      el('div', { class: 'tile-foot' }, this.removeBtn),
    );
    this.root.tile = this;
  }

  // The state, port and times, from the sensor's status (cheap: text only changes).
  update(now = Date.now()) {
    const s = this.sensor;
    const status = s.status || {};
    const state = typeof status.state === 'string' ? status.state : s.status ? '?' : 'no status';
    if (this.root.dataset.state !== state) {
      this.root.dataset.state = state;
      this.root.dataset.kind = stateKind(state);
    }
    setText(this.stateEl, state);
    const port = typeof status.port === 'string' ? status.port : s.meta && typeof s.meta.port === 'string' ? s.meta.port : '';
    setText(this.portText, port);
    if (this.portEl.title !== port) this.portEl.title = port;
    setText(this.normLabel, recordLabel(s.meta, 'norm'));
    setText(this.sinceEl, sinceText(s, now));
    this.removeBtn.hidden = state !== 'offline';
  }

  // The latest NORM and the chart, for a tile on screen.
  draw() {
    const s = this.sensor;
    const last = s.series && s.series.last;
    setText(this.normEl, last && Number.isFinite(last.norm) ? last.norm : '–');
    this.drawn = !!last;
    if (!this.visible || !s.series) return;
    if (this.chart && this.chartMeta !== s.meta) this.dropChart();
    if (!this.chart) {
      this.chart = new TileChart(this.chartBox, s.meta, this.chartBox.clientWidth);
      this.chartMeta = s.meta;
    }
    this.chart.draw(s.series);
  }

  resize() {
    if (this.chart) this.chart.resize(this.chartBox.clientWidth);
  }

  dropChart() {
    if (this.chart) this.chart.destroy();
    this.chart = null;
  }
}

// "since 12:04:31 (3 min)", "last seen 12:04:31", "back in 4:12" for a yielded port.
export function sinceText(s, now) {
  const status = s.status || {};
  const since = timeOf(status.since);
  if (status.state === 'offline') {
    const seen = Number.isFinite(s.lastSeen) ? Math.max(s.lastSeen, Number.isFinite(since) ? since : 0) : since;
    return Number.isFinite(seen) ? `last seen ${clockText(seen, now)}` : 'last seen: unknown';
  }
  let text = Number.isFinite(since) ? `since ${clockText(since, now)} (${durationText(now - since)})` : '';
  if (status.state === 'yielded') {
    const until = timeOf(status.until);
    if (Number.isFinite(until)) text = `back in ${countdownText(until, now)}` + (text ? ` · ${text}` : '');
  }
  return text;
}
