// The opened sensor: a large chart, the parameter block as the gateway's meta describes it
// (filled from params), the commands with their answers, the jump buffer drawn against
// the threshold, and the writes audited since the page opened.
import { el, svg, setText, clear } from './dom.js';
import { DetailChart } from './charts.js';
import {
  allowedWrites, blockToWrite, changedBytes, checkValue, clockText, labelOf, metaParameters,
  paramValue, percentOf, recordLabel, replyText, stateKind, timeOf,
} from './model.js';
import { sinceText } from './tiles.js';

// Each command: its data-action, its button's text, the topic and the payload it sends.
const ACTIONS = [
  { action: 'read-ram', text: 'Read RAM', command: 'read', payload: { from: 'ram' } },
  { action: 'read-eeprom', text: 'Read EEPROM', command: 'read', payload: { from: 'eeprom' } },
  { action: 'check', text: 'Line check', command: 'check', payload: {} },
  { action: 'jumpbuf', text: 'Jump buffer', command: 'jumpbuf', payload: {} },
];
const WRITES = [
  { action: 'write-ram', text: 'Write RAM', target: 'ram' },
  { action: 'write-eeprom', text: 'Write EEPROM', target: 'eeprom' },
];

export class Detail {
  // app: send(sensor, command, payload, onReply), by()
  constructor(app, sensor) {
    this.app = app;
    this.sensor = sensor;
    this.inputs = new Map(); // parameter name -> {p, input, pct}
    this.builtFor = undefined; // the parameters (as JSON) the editor was built from
    this.paramsShown = undefined; // the params message the inputs were last filled from
    this.edited = new Set();
    this.valuesFrom = '';
    this.auditCount = -1;

    const id = sensor.id;
    this.title = el('h2', { class: 'detail-id', title: id, text: id });
    this.stateEl = el('span', { class: 'state-word' });
    this.badge = el('span', { class: 'badge' }, el('span', { class: 'dot', 'aria-hidden': 'true' }), this.stateEl);
    this.infoEl = el('div', { class: 'detail-info' });
    this.closeBtn = el('button', { type: 'button', class: 'close', title: 'Close (Esc)', 'aria-label': 'Close', text: '×', onclick: () => app.close() });
    this.chartBox = el('div', { class: 'detail-chart' });
    this.latestEl = el('div', { class: 'latest' });

    this.buttons = ACTIONS.map((a) =>
      el('button', { type: 'button', dataset: { action: a.action }, text: a.text, onclick: () => this.run(a) }),
    );
    this.replyEl = el('div', { class: 'reply', role: 'status', 'aria-live': 'polite', dataset: { reply: '' }, text: 'No command sent yet.' });
    this.jumpBox = el('div', { class: 'jumpbuf', hidden: true });

    this.sourceEl = el('div', { class: 'params-source' });
    this.grid = el('div', { class: 'params-grid' });
    this.verify = el('input', { type: 'checkbox', checked: true, id: 'verify-write' });
    this.writeButtons = WRITES.map((w) =>
      el('button', { type: 'button', class: 'write', dataset: { action: w.action }, text: w.text, onclick: () => this.write(w) }),
    );
    this.allowEl = el('div', { class: 'allow-note' });
    this.checkEl = el('div', { class: 'input-check', role: 'alert', hidden: true });
    this.resetBtn = el('button', { type: 'button', class: 'quiet', text: 'Undo my changes', onclick: () => this.fill(true) });

    this.auditList = el('ol', { class: 'audit-list' });

    this.root = el(
      'aside',
      { class: 'detail', dataset: { detail: id }, 'aria-label': `Sensor ${id}` },
      el('header', { class: 'detail-head' }, el('div', { class: 'detail-title' }, this.title, this.badge), this.closeBtn),
      this.infoEl,
      el('section', { class: 'card' }, this.chartBox, this.latestEl),
      el(
        'section',
        { class: 'card' },
        el('h3', { text: 'Commands' }),
        el('div', { class: 'actions' }, ...this.buttons),
        this.replyEl,
        this.jumpBox,
      ),
      el(
        'section',
        { class: 'card' },
        el('h3', { text: 'Parameters' }),
        this.sourceEl,
        this.grid,
        this.checkEl,
        el(
          'div',
          { class: 'actions write-actions' },
          ...this.writeButtons,
          el('label', { class: 'check' }, this.verify, ' verify (read back)'),
          this.resetBtn,
        ),
        this.allowEl,
      ),
      el('section', { class: 'card' }, el('h3', { text: 'Writes seen since this page opened' }), this.auditList),
    );
    this.chart = null;
    this.resizer = new ResizeObserver(() => this.resizeChart());
    this.resizer.observe(this.chartBox);
  }

  destroy() {
    this.resizer.disconnect();
    if (this.chart) this.chart.destroy();
    this.chart = null;
  }

  chartSize() {
    const w = Math.max(200, this.chartBox.clientWidth);
    return [w, Math.round(Math.min(360, Math.max(200, w * 0.42)))];
  }

  resizeChart() {
    if (!this.chart) return;
    const [w, h] = this.chartSize();
    this.chart.resize(w, h);
  }

  // Everything that follows status, meta and params (text only; cheap to repeat).
  update(now = Date.now()) {
    const s = this.sensor;
    const status = s.status || {};
    const state = typeof status.state === 'string' ? status.state : 'no status';
    setText(this.stateEl, state);
    this.root.dataset.kind = stateKind(state);
    const meta = s.meta || {};
    const parts = [];
    const port = typeof status.port === 'string' ? status.port : typeof meta.port === 'string' ? meta.port : '';
    if (port) parts.push(`port ${port}`);
    const since = sinceText(s, now);
    if (since) parts.push(since);
    if (typeof meta.gateway === 'string') parts.push(`${meta.gateway} ${typeof meta.version === 'string' ? meta.version : ''}`.trim());
    if (Number.isFinite(status.dropped) && status.dropped > 0) parts.push(`${status.dropped} live records dropped`);
    setText(this.infoEl, parts.join(' · '));

    // The editor is built anew only when meta describes other parameters (a retained
    // meta sent again on reconnecting changes nothing), and filled from params when a new
    // params message came: what a read showed stays until then.
    if (this.builtFor !== parametersKey(s.meta)) this.build();
    else if (s.params !== this.paramsShown) this.fill(false);
    this.updateAllow();
    if (this.auditCount !== s.audits.length) this.renderAudits();
  }

  // The large chart and the latest values, on the page's redraw tick.
  draw() {
    const s = this.sensor;
    if (!s.series) return;
    if (this.chart && this.chartMeta !== s.meta) {
      this.chart.destroy();
      this.chart = null;
      clear(this.chartBox);
    }
    if (!this.chart) {
      const [w, h] = this.chartSize();
      this.chart = new DetailChart(this.chartBox, s.meta, w, h);
      this.chartMeta = s.meta;
    }
    this.chart.draw(s.series);
    const last = s.series.last;
    if (last) {
      const meta = s.meta;
      const show = ['norm', 'dat0', 'dat1', 'trsh', 'hysteresis', 'edge', 'edge_pct', 'win_pct'];
      const text = show
        .filter((f) => f in last)
        .map((f) => `${recordLabel(meta, f)} ${last[f] == null ? '–' : last[f]}`)
        .join('   ');
      setText(this.latestEl, `${clockText(timeOf(last.time))}   ${text}`);
    }
  }

  // ---- the parameter editor ----

  build() {
    const s = this.sensor;
    this.builtFor = parametersKey(s.meta);
    this.inputs.clear();
    this.edited.clear();
    clear(this.grid);
    const ps = metaParameters(s.meta);
    if (!ps.length) {
      this.grid.append(
        el('p', { class: 'muted', text: s.meta ? 'The gateway describes no parameters.' : 'Waiting for the gateway to describe its parameters (meta)…' }),
      );
      this.fill(true);
      return;
    }
    for (const p of ps) {
      const label = labelOf(p, p.name);
      const meaning = typeof p.meaning === 'string' ? p.meaning : '';
      const unit = typeof p.unit === 'string' ? p.unit : '';
      let input;
      if (Array.isArray(p.choices) && p.choices.length) {
        input = el('select', { dataset: { param: p.name }, title: meaning });
        for (const c of p.choices) {
          if (!c || !Number.isInteger(c.value)) continue;
          input.append(el('option', { value: String(c.value), text: `${c.value} · ${labelOf(c, String(c.value))}` }));
        }
        input.named = new Set(p.choices.map((c) => c && c.value));
      } else {
        input = el('input', {
          type: 'number', inputmode: 'numeric', step: '1', min: String(p.min), max: String(p.max),
          dataset: { param: p.name }, title: meaning,
        });
      }
      const pct = el('span', { class: 'pct' });
      const row = el(
        'div',
        { class: 'param', title: meaning },
        el('label', { class: 'param-name' }, el('span', { class: 'param-label', text: label }), el('span', { class: 'param-range', text: `${p.min}…${p.max}` })),
        input,
        el('span', { class: 'param-unit', text: unit }, pct),
      );
      input.setAttribute('aria-label', `${label} (${p.min} to ${p.max})`);
      input.addEventListener('input', () => {
        this.edited.add(p.name);
        row.classList.add('edited');
        this.showPercent(p, input, pct);
        const r = checkValue(p, input.value);
        row.classList.toggle('invalid', !!r.error);
      });
      if (input.tagName === 'SELECT') input.addEventListener('change', () => input.dispatchEvent(new Event('input')));
      this.grid.append(row);
      this.inputs.set(p.name, { p, input, pct, row });
    }
    this.fill(true);
  }

  showPercent(p, input, pct) {
    const v = percentOf(p, Number(input.value));
    setText(pct, v == null ? '' : ` = ${Math.round(v)} %`);
  }

  // The inputs from the latest values (params, or a read's answer); `all` also drops
  // the operator's changes.
  fill(all, values = null, from = null) {
    const s = this.sensor;
    const params = values ? { values } : s.params;
    if (all) this.edited.clear();
    if (!values) this.paramsShown = s.params;
    for (const { p, input, pct, row } of this.inputs.values()) {
      if (!all && this.edited.has(p.name)) continue;
      const v = paramValue(params, p);
      if (input.named && Number.isInteger(v) && !input.named.has(v)) {
        // A value the sensor holds that no choice names: shown, and written back as it is.
        input.named.add(v);
        input.append(el('option', { value: String(v), text: `${v} · (unnamed)` }));
      }
      input.value = v == null ? '' : String(v);
      row.classList.remove('edited', 'invalid');
      this.showPercent(p, input, pct);
    }
    if (from) this.valuesFrom = from;
    else if (s.params) {
      const src = typeof s.params.source === 'string' ? s.params.source.toUpperCase() : '?';
      this.valuesFrom = `Values in ${src}, as the gateway last read or wrote them at ${clockText(timeOf(s.params.time)) || '?'}.`;
    } else this.valuesFrom = 'No parameter block from the gateway yet.';
    setText(this.sourceEl, this.valuesFrom);
    if (all) this.hideCheck();
  }

  updateAllow() {
    const allowed = allowedWrites(this.sensor.meta);
    let note = '';
    if (allowed) {
      note = allowed.length
        ? `This gateway allows writes to ${allowed.map((t) => t.toUpperCase()).join(' and ')}.`
        : 'This gateway allows no writes (it was started without --allow-write); it will refuse them.';
    }
    for (const [i, w] of WRITES.entries()) {
      const b = this.writeButtons[i];
      const ok = !allowed || allowed.includes(w.target);
      b.classList.toggle('not-allowed', !ok);
      b.title = ok ? `Send these values to the sensor's ${w.target.toUpperCase()}` : `The gateway does not allow writes to ${w.target.toUpperCase()}`;
    }
    setText(this.allowEl, note);
  }

  showCheck(lines) {
    clear(this.checkEl);
    this.checkEl.append(el('strong', { text: 'Nothing was sent:' }), el('ul', {}, ...lines.map((l) => el('li', { text: l }))));
    this.checkEl.hidden = false;
  }

  hideCheck() {
    this.checkEl.hidden = true;
    clear(this.checkEl);
  }

  // ---- commands ----

  run(a) {
    this.app.send(this.sensor, a.command, { ...a.payload }, (reply) => this.answered(a.command, reply), this.replyEl);
  }

  write(w) {
    const entered = {};
    for (const [name, { input }] of this.inputs) entered[name] = input.value;
    const r = blockToWrite(this.sensor.meta, this.sensor.params, entered);
    if (r.errors) {
      this.showCheck(r.errors);
      setText(this.replyEl, 'Nothing sent: a value is out of range (see the parameters).');
      this.replyEl.dataset.reply = 'write';
      this.replyEl.dataset.ok = 'false';
      return;
    }
    this.hideCheck();
    const payload = { to: w.target, values: r.values, verify: this.verify.checked, by: this.app.by() };
    this.app.send(this.sensor, 'write', payload, (reply) => this.answered('write', reply), this.replyEl);
  }

  answered(command, reply) {
    if (!reply || reply.ok !== true) return;
    if (command === 'read' && Array.isArray(reply.values)) {
      const target = typeof reply.target === 'string' ? reply.target.toUpperCase() : '';
      this.fill(true, reply.values, `Values read from ${target} at ${clockText(Date.now())}.`);
    } else if (command === 'write') {
      this.edited.clear();
      for (const { row } of this.inputs.values()) row.classList.remove('edited');
    } else if (command === 'jumpbuf' && Array.isArray(reply.values)) {
      this.drawJumpBuffer(reply.values, reply.trsh);
    }
  }

  // The jump buffer's values as bars, with a line at the working threshold.
  drawJumpBuffer(values, trsh) {
    const meta = this.sensor.meta;
    const nums = values.map((v) => (Number.isFinite(v) ? v : 0));
    const norm = meta && Array.isArray(meta.record) ? meta.record.find((f) => f && f.name === 'norm') : null;
    // NORM's top as meta gives it, else room above the highest value and the threshold.
    const highest = Math.max(...nums, Number.isFinite(trsh) ? trsh : 0, 1);
    const top = norm && Number.isFinite(norm.max) ? Math.max(norm.max, highest) : Math.ceil((highest * 1.15) / 10) * 10;
    const W = 640;
    const H = 200;
    const padL = 34;
    const padB = 22;
    const ph = H - padB - 8;
    const bw = (W - padL - 8) / Math.max(1, nums.length);
    const y = (v) => 8 + ph - (v / top) * ph;
    const g = svg('svg', { viewBox: `0 0 ${W} ${H}`, class: 'jump-svg', role: 'img', 'aria-label': 'Jump buffer' });
    g.append(svg('line', { x1: padL, x2: W - 8, y1: y(0), y2: y(0), class: 'axis' }));
    g.append(svg('text', { x: padL - 6, y: y(top) + 4, class: 'tick', 'text-anchor': 'end' }, String(top)));
    g.append(svg('text', { x: padL - 6, y: y(0) + 4, class: 'tick', 'text-anchor': 'end' }, '0'));
    nums.forEach((v, i) => {
      const above = Number.isFinite(trsh) && v >= trsh;
      const x = padL + i * bw + bw * 0.15;
      g.append(
        svg('rect', { x, y: y(v), width: bw * 0.7, height: Math.max(0, y(0) - y(v)), class: above ? 'bar above' : 'bar', 'data-value': v },
          svg('title', {}, `${i + 1}: ${v}`)),
      );
      g.append(svg('text', { x: x + bw * 0.35, y: H - 6, class: 'tick', 'text-anchor': 'middle' }, String(i + 1)));
    });
    if (Number.isFinite(trsh)) {
      g.append(svg('line', { x1: padL, x2: W - 8, y1: y(trsh), y2: y(trsh), class: 'trsh-line' }));
      const ly = y(trsh) - 5 < 14 ? y(trsh) + 15 : y(trsh) - 5; // below the line near the top
      g.append(svg('text', { x: W - 10, y: ly, class: 'trsh-label', 'text-anchor': 'end' }, `${recordLabel(meta, 'trsh')} ${trsh}`));
    }
    clear(this.jumpBox);
    this.jumpBox.append(
      el('div', { class: 'jump-head', text: `Jump buffer at ${clockText(Date.now())}: ${nums.join(' ')}` + (Number.isFinite(trsh) ? '' : ' (no threshold known)') }),
      g,
    );
    this.jumpBox.hidden = false;
  }

  renderAudits() {
    const audits = this.sensor.audits;
    this.auditCount = audits.length;
    clear(this.auditList);
    if (!audits.length) {
      this.auditList.append(el('li', { class: 'muted', text: 'None yet.' }));
      return;
    }
    const meta = this.sensor.meta;
    for (const a of audits.slice().reverse()) {
      const when = clockText(timeOf(a.time)) || '?';
      const target = typeof a.target === 'string' ? a.target.toUpperCase() : '?';
      const by = a.by == null || a.by === '' ? 'someone' : String(a.by);
      const verify = a.verify == null ? '' : String(a.verify);
      const changes = changedBytes(meta, a.before, a.after);
      const changed = changes.length
        ? changes.map((c) => `${c.name} ${c.before} → ${c.after}`).join(', ')
        : 'no value changed';
      this.auditList.append(
        el(
          'li',
          { dataset: { audit: a.id == null ? '' : String(a.id), verify } },
          el('span', { class: 'audit-when', text: when }),
          el('span', { class: 'audit-what', text: `${by} wrote ${target}` }),
          el('span', { class: `audit-verify v-${/^[a-z -]+$/.test(verify) ? verify.replace(/ /g, '-') : 'other'}`, text: verify ? `verify: ${verify}` : '' }),
          el('span', { class: 'audit-changes', text: changed }),
        ),
      );
    }
  }
}

function parametersKey(meta) {
  return JSON.stringify(metaParameters(meta));
}

export function showReply(replyEl, command, reply) {
  replyEl.dataset.reply = command;
  replyEl.dataset.ok = reply && reply.ok === true ? 'true' : 'false';
  setText(replyEl, replyText(reply));
}
