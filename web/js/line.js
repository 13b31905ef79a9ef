// The line page: every sensor under one topic prefix, found from the retained messages
// its gateway keeps on the broker, one tile each; the opened sensor in a panel beside.
import { Connection } from './connection.js';
import { el, setText, clear } from './dom.js';
import { DETAIL_SECONDS, LiveSeries, TILE_SECONDS } from './charts.js';
import { Tile } from './tiles.js';
import { Detail, showReply } from './detail.js';
import { clockText, compareIds, newRequestId, parsePayload, parseTopic, subscribable, timeOf } from './model.js';

const REPLY_WAIT_MS = 20000; // a write with verify waits for the sensor twice, after a live cycle
// The page is redrawn on one beat: the opened sensor's chart 4 times a second, the tiles
// 4, 2 or 1 times a second as few or many are on screen (every redraw of a wall screen
// full of tiles costs the same whatever changed), the times once a second along with them.
const BEAT_MS = 250;
function tileEvery(visible) {
  return visible <= 12 ? 1 : visible <= 32 ? 2 : 4;
}
const AUDITS_KEPT = 200;

export function pageOptions(search, location) {
  const q = new URLSearchParams(search);
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  const broker = q.get('broker') || `${scheme}//${location.host || '127.0.0.1:9001'}`;
  const prefix = (q.get('prefix') || 'varno').replace(/\/+$/, '') || 'varno';
  return { broker, prefix };
}

export class LinePage {
  constructor({ broker, prefix }) {
    this.prefix = prefix;
    this.sensors = new Map(); // id -> sensor
    this.order = []; // ids in tile order
    this.removed = new Map(); // id -> the status.since removed by the operator
    this.pending = new Map(); // request id -> {sensor, command, replyEl, timer}
    this.opened = null;
    this.detail = null;
    this.changeover = null;
    this.user = '';

    this.buildShell(broker);
    this.conn = new Connection(broker, {
      onState: (state, detail) => this.connState(state, detail),
      onMessage: (topic, payload, packet) => this.message(topic, payload, packet),
      onAuthNeeded: (why) => this.askLogin(why),
      onConnect: () => {},
    });
    for (const sub of ['status', 'params', 'meta', 'reply', 'audit']) this.conn.want(`${prefix}/+/${sub}`);
    this.conn.want(`${prefix}/_line/changeover`);

    this.observer = new IntersectionObserver((entries) => this.seen(entries), { rootMargin: '120px 0px' });
    this.resizer = new ResizeObserver(() => {
      clearTimeout(this.resizeTimer);
      this.resizeTimer = setTimeout(() => {
        for (const s of this.sensors.values()) if (s.tile && s.tile.visible) s.tile.resize();
      }, 100);
    });
    this.resizer.observe(this.grid);
    this.beat = 0;
    setInterval(() => this.tick(), BEAT_MS);
    document.addEventListener('keydown', (ev) => {
      if (ev.key === 'Escape' && this.opened && !this.loginBox.open) this.close();
    });
    this.conn.connect();
  }

  // ---- the page's frame ----

  buildShell(broker) {
    this.connEl = el('span', { class: 'conn-text' });
    this.connPill = el('div', { class: 'conn', role: 'status', title: broker }, el('span', { class: 'dot' }), this.connEl);
    this.countsEl = el('div', { class: 'counts' });
    this.changeEl = el('div', { class: 'changeover', hidden: true });
    this.userEl = el('span', { class: 'user' });
    this.signOut = el('button', { type: 'button', class: 'quiet', hidden: true, text: 'Sign out', onclick: () => this.logout() });
    const header = el(
      'header',
      { class: 'top' },
      el('div', { class: 'brand' }, el('span', { class: 'brand-name', text: 'VARNO' }), el('span', { class: 'brand-sub', text: `line · ${this.prefix}` })),
      this.changeEl,
      el('div', { class: 'top-right' }, this.countsEl, this.connPill, this.userEl, this.signOut),
    );
    this.emptyEl = el('p', { class: 'empty', text: 'No sensor has reported under this prefix yet.' });
    this.grid = el('main', { class: 'grid', 'aria-label': 'Sensors' });
    this.panel = el('div', { class: 'panel-wrap', hidden: true });
    this.buildLogin();
    document.body.replaceChildren(header, el('div', { class: 'body' }, el('div', { class: 'grid-wrap' }, this.emptyEl, this.grid), this.panel), this.loginBox);
  }

  buildLogin() {
    this.loginWhy = el('p', { class: 'login-why' });
    this.loginUser = el('input', { type: 'text', name: 'username', autocomplete: 'username', required: true, 'aria-label': 'User name' });
    this.loginPass = el('input', { type: 'password', name: 'password', autocomplete: 'current-password', 'aria-label': 'Password' });
    const form = el(
      'form',
      { class: 'login', method: 'dialog' },
      el('h2', { text: 'Sign in to the broker' }),
      this.loginWhy,
      el('label', {}, 'User name', this.loginUser),
      el('label', {}, 'Password', this.loginPass),
      el(
        'div',
        { class: 'actions' },
        el('button', { type: 'submit', class: 'primary', text: 'Sign in' }),
        el('button', {
          type: 'button',
          class: 'quiet',
          text: 'Without an account',
          onclick: () => {
            this.loginPass.value = '';
            this.loginBox.close();
            this.conn.connect('', '');
          },
        }),
      ),
      el('p', { class: 'muted small', text: 'The password is kept by this page only while it is open.' }),
    );
    form.addEventListener('submit', (ev) => {
      ev.preventDefault();
      const user = this.loginUser.value.trim();
      const pass = this.loginPass.value;
      this.loginPass.value = '';
      this.loginBox.close();
      this.user = user;
      this.showUser();
      this.conn.connect(user, pass);
    });
    this.loginBox = el('dialog', { class: 'login-dialog' }, form);
    this.loginBox.addEventListener('cancel', (ev) => ev.preventDefault());
  }

  askLogin(why) {
    setText(this.loginWhy, why);
    this.user = '';
    this.showUser();
    if (!this.loginBox.open) this.loginBox.showModal();
    this.loginUser.focus();
  }

  showUser() {
    setText(this.userEl, this.user ? `signed in as ${this.user}` : '');
    this.signOut.hidden = !this.user;
  }

  logout() {
    this.conn.logout();
    this.conn.close();
    this.user = '';
    this.showUser();
    this.connState('disconnected', 'signed out');
    this.askLogin('Signed out.');
  }

  by() {
    return this.user || 'line page';
  }

  connState(state, detail) {
    document.body.dataset.broker = state;
    const word = { connected: 'connected', connecting: 'connecting…', disconnected: 'disconnected' }[state] || state;
    setText(this.connEl, word);
    this.connPill.title = detail || '';
    this.connPill.dataset.state = state;
  }

  // ---- what the broker sends ----

  message(topic, payload, packet) {
    if (topic === `${this.prefix}/_line/changeover`) {
      this.changeover = parsePayload(payload);
      this.showChangeover();
      return;
    }
    const t = parseTopic(this.prefix, topic);
    if (!t || t.sensor === '_line') return;
    const retained = !!(packet && packet.retain);
    const body = parsePayload(payload);
    switch (t.rest) {
      case 'live':
        if (body) this.live(t.sensor, body);
        return;
      case 'status':
      case 'params':
      case 'meta':
        this.retained(t.sensor, t.rest, body, retained);
        return;
      case 'reply':
        if (body) this.reply(body);
        return;
      case 'audit':
        if (body) this.audit(t.sensor, body);
        return;
    }
  }

  sensorOf(id) {
    let s = this.sensors.get(id);
    if (!s) {
      s = { id, status: null, params: null, meta: null, series: null, tile: null, audits: [], lastSeen: NaN };
      this.sensors.set(id, s);
    }
    return s;
  }

  retained(id, kind, body, retained) {
    const s = this.sensorOf(id);
    s[kind] = body;
    if (body && !retained && !(kind === 'status' && body.state === 'offline')) s.lastSeen = Date.now();
    if (kind === 'status' && body && body.state !== 'offline') {
      const since = timeOf(body.since);
      if (Number.isFinite(since) && !(s.lastSeen >= since)) s.lastSeen = since;
    }
    if (kind === 'status' && this.removed.has(id)) {
      // A removed sensor comes back with any status but the one it was removed with.
      if (body && this.removed.get(id) === JSON.stringify(body)) return;
      this.removed.delete(id);
    }
    if (this.removed.has(id)) return;
    if (!s.status && !s.params && !s.meta) {
      this.dropTile(s);
      return;
    }
    if (!s.tile) this.addTile(s);
    s.tile.update();
    if (this.opened === s) this.detail.update();
    this.countStates();
  }

  live(id, rec) {
    const s = this.sensors.get(id);
    if (!s) return;
    if (!s.series) s.series = new LiveSeries(this.opened === s ? DETAIL_SECONDS : TILE_SECONDS);
    if (s.series.add(rec)) {
      const t = timeOf(rec.time);
      if (!(s.lastSeen >= t)) s.lastSeen = t;
    }
  }

  audit(id, body) {
    const s = this.sensorOf(id);
    s.audits.push(body);
    if (s.audits.length > AUDITS_KEPT) s.audits.splice(0, s.audits.length - AUDITS_KEPT);
    if (this.opened === s) this.detail.update();
  }

  reply(body) {
    const id = body.id;
    if (typeof id !== 'string' || !this.pending.has(id)) return;
    const p = this.pending.get(id);
    this.pending.delete(id);
    clearTimeout(p.timer);
    showReply(p.replyEl, p.command, body);
    p.onReply(body);
  }

  // Sends a command to a sensor's gateway; the answer goes to replyEl and onReply.
  send(sensor, command, payload, onReply, replyEl) {
    const id = newRequestId();
    payload.id = id;
    const topic = `${this.prefix}/${sensor.id}/cmd/${command}`;
    delete replyEl.dataset.ok;
    replyEl.dataset.reply = command;
    setText(replyEl, `${command}: sent, waiting for the gateway…`);
    if (!subscribable(sensor.id)) {
      showReply(replyEl, command, { ok: false, error: 'This sensor id cannot be addressed in a topic.' });
      return;
    }
    const timer = setTimeout(() => {
      if (!this.pending.delete(id)) return;
      showReply(replyEl, command, { ok: false, error: `No answer from the gateway within ${REPLY_WAIT_MS / 1000} s.` });
    }, REPLY_WAIT_MS);
    this.pending.set(id, { command, replyEl, timer, onReply });
    this.conn.publish(topic, payload, (err) => {
      if (!err || !this.pending.has(id)) return;
      this.pending.delete(id);
      clearTimeout(timer);
      const why = err.code === 135 ? 'the broker does not let this account send commands (not authorised)' : err.message;
      showReply(replyEl, command, { ok: false, error: `Not sent: ${why}.` });
    });
  }

  // ---- tiles ----

  addTile(s) {
    s.tile = new Tile(s, { onOpen: (x) => this.open(x), onRemove: (x) => this.remove(x) });
    let i = this.order.findIndex((id) => compareIds(id, s.id) > 0);
    if (i < 0) i = this.order.length;
    const before = i < this.order.length ? this.sensors.get(this.order[i]).tile.root : null;
    this.order.splice(i, 0, s.id);
    this.grid.insertBefore(s.tile.root, before);
    this.observer.observe(s.tile.root);
    this.emptyEl.hidden = true;
  }

  dropTile(s) {
    if (!s.tile) return;
    this.observer.unobserve(s.tile.root);
    s.tile.dropChart();
    s.tile.root.remove();
    this.setVisible(s, false);
    s.tile = null;
    this.order.splice(this.order.indexOf(s.id), 1);
    this.emptyEl.hidden = this.order.length > 0;
    if (this.opened === s) this.close();
    this.countStates();
  }

  remove(s) {
    this.removed.set(s.id, JSON.stringify(s.status));
    s.series = null;
    this.dropTile(s);
  }

  seen(entries) {
    for (const e of entries) {
      const tile = e.target.tile;
      if (tile) this.setVisible(tile.sensor, e.isIntersecting);
    }
  }

  setVisible(s, on) {
    const tile = s.tile;
    if (!tile || tile.visible === on) return;
    tile.visible = on;
    this.followLive(s);
    if (on) tile.draw();
    else tile.dropChart();
  }

  // Live records are subscribed for a tile on screen and for the opened sensor only.
  followLive(s) {
    if (!subscribable(s.id)) return;
    const topic = `${this.prefix}/${s.id}/live`;
    if ((s.tile && s.tile.visible) || this.opened === s) this.conn.want(topic, 0);
    else {
      this.conn.unwant(topic);
    }
  }

  tick() {
    const beat = this.beat++;
    if (this.detail) this.detail.draw();
    const visible = [];
    for (const s of this.sensors.values()) if (s.tile && s.tile.visible) visible.push(s);
    // A tile's first NORM is shown at once; after that, at the tiles' rate.
    const all = beat % tileEvery(visible.length) === 0;
    for (const s of visible) if (s.series && (all || !s.tile.drawn)) s.tile.draw();
    if (beat % 4 === 0) {
      const now = Date.now();
      for (const s of visible) s.tile.update(now);
      if (this.detail) this.detail.update(now);
      if (this.changeover) this.showChangeover();
    }
  }

  countStates() {
    const n = {};
    let all = 0;
    for (const s of this.sensors.values()) {
      if (!s.tile) continue;
      all++;
      const st = s.status && typeof s.status.state === 'string' ? s.status.state : 'no status';
      n[st] = (n[st] || 0) + 1;
    }
    const parts = [`${all} sensor${all === 1 ? '' : 's'}`];
    for (const st of ['online', 'no-reply', 'port-lost', 'port-busy', 'yielded', 'offline']) if (n[st]) parts.push(`${n[st]} ${st}`);
    const other = Object.entries(n).filter(([st]) => !['online', 'no-reply', 'port-lost', 'port-busy', 'yielded', 'offline'].includes(st));
    const others = other.reduce((a, [, c]) => a + c, 0);
    if (others) parts.push(`${others} other`);
    setText(this.countsEl, parts.join(' · '));
  }

  showChangeover() {
    const c = this.changeover;
    if (!c) {
      this.changeEl.hidden = true;
      return;
    }
    clear(this.changeEl);
    const recipe = c.recipe == null ? '?' : String(c.recipe);
    const when = clockText(timeOf(c.time));
    const parts = [];
    if (when) parts.push(`since ${when}`);
    if (c.by != null && c.by !== '') parts.push(`by ${String(c.by)}`);
    this.changeEl.append(
      el('span', { class: 'changeover-label', text: 'Recipe' }),
      el('strong', { class: 'changeover-recipe', text: recipe }),
      el('span', { class: 'changeover-when', text: parts.join(' ') }),
    );
    if (c.result != null && c.result !== 'applied')
      this.changeEl.append(el('span', { class: 'changeover-result', text: String(c.result) }));
    this.changeEl.dataset.result = c.result == null ? '' : String(c.result);
    this.changeEl.hidden = false;
  }

  // ---- the opened sensor ----

  open(s) {
    if (this.opened === s) return;
    this.close();
    this.opened = s;
    if (s.series) s.series.seconds = DETAIL_SECONDS;
    this.followLive(s);
    this.detail = new Detail(this, s);
    this.panel.replaceChildren(this.detail.root);
    this.panel.hidden = false;
    document.body.classList.add('has-detail');
    s.tile.root.classList.add('opened');
    this.detail.update();
    this.detail.draw();
    this.detail.closeBtn.focus({ preventScroll: true });
  }

  close() {
    const s = this.opened;
    if (!s) return;
    this.opened = null;
    this.detail.destroy();
    this.detail = null;
    this.panel.hidden = true;
    this.panel.replaceChildren();
    document.body.classList.remove('has-detail');
    if (s.tile) s.tile.root.classList.remove('opened');
    if (s.series) s.series.seconds = TILE_SECONDS;
    this.followLive(s);
  }
}

export function start() {
  const page = new LinePage(pageOptions(location.search, location));
  window.linePage = page; // for a look from the browser's console
  return page;
}
