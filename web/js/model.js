// What the line page reads from the broker, without the DOM: topics, payloads, the
// parameter block as the gateway's `meta` describes it, and the checks made before a
// command is sent. Everything here is plain data in, plain data out.

// States the page has a colour for; any other state string is shown as it is, in a
// neutral colour.
export const KNOWN_STATES = ['online', 'no-reply', 'port-lost', 'port-busy', 'offline', 'yielded'];

export function stateKind(state) {
  return KNOWN_STATES.includes(state) ? state : 'unknown';
}

// `<prefix>/<sensor>/<rest>` -> {sensor, rest}; null for a topic outside the prefix or
// without a sensor level. The sensor id is any string of one topic level.
export function parseTopic(prefix, topic) {
  const head = prefix + '/';
  if (typeof topic !== 'string' || !topic.startsWith(head)) return null;
  const tail = topic.slice(head.length);
  const slash = tail.indexOf('/');
  if (slash <= 0) return null;
  return { sensor: tail.slice(0, slash), rest: tail.slice(slash + 1) };
}

// A sensor id can be subscribed to on its own only when it holds no wildcard.
export function subscribable(sensor) {
  return typeof sensor === 'string' && sensor.length > 0 && !/[+#/\u0000]/.test(sensor);
}

const decoder = new TextDecoder();

// The payload as a JSON object, or null (an empty retained message clears a topic; a
// payload that is no JSON object is ignored).
export function parsePayload(payload) {
  if (payload == null || payload.length === 0) return null;
  try {
    const text = typeof payload === 'string' ? payload : decoder.decode(payload);
    const v = JSON.parse(text);
    return v && typeof v === 'object' && !Array.isArray(v) ? v : null;
  } catch {
    return null;
  }
}

// Order of the tiles: by sensor id, digits as numbers (s2 before s10).
const collator = new Intl.Collator('en', { numeric: true, sensitivity: 'variant' });
export function compareIds(a, b) {
  return collator.compare(a, b) || (a < b ? -1 : a > b ? 1 : 0);
}

// An ISO time -> milliseconds since the epoch, or NaN.
export function timeOf(iso) {
  return typeof iso === 'string' ? Date.parse(iso) : NaN;
}

// "12:04:31" for today, "7 Dec 12:04" for another day (local time); "" for no time.
export function clockText(ms, now = Date.now()) {
  if (!Number.isFinite(ms)) return '';
  const d = new Date(ms);
  const two = (n) => String(n).padStart(2, '0');
  const today = new Date(now);
  if (d.toDateString() === today.toDateString())
    return `${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
  const month = d.toLocaleString('en', { month: 'short' });
  return `${d.getDate()} ${month} ${two(d.getHours())}:${two(d.getMinutes())}`;
}

// A duration in ms as "under a minute", "12 min", "3 h 05 min", "2 d 4 h" (it changes once
// a minute at most: a wall screen of tiles is not redrawn every second for it).
export function durationText(ms) {
  if (!Number.isFinite(ms)) return '';
  const s = Math.max(0, Math.floor(ms / 1000));
  if (s < 60) return 'under a minute';
  const m = Math.floor(s / 60);
  if (m < 60) return `${m} min`;
  const h = Math.floor(m / 60);
  if (h < 48) return `${h} h ${String(m % 60).padStart(2, '0')} min`;
  return `${Math.floor(h / 24)} d ${h % 24} h`;
}

// Time left until `untilMs` as "m:ss" (or "h:mm:ss"); "0:00" once it has passed.
export function countdownText(untilMs, now = Date.now()) {
  if (!Number.isFinite(untilMs)) return '';
  const s = Math.max(0, Math.ceil((untilMs - now) / 1000));
  const h = Math.floor(s / 3600);
  const mm = Math.floor((s % 3600) / 60);
  const ss = String(s % 60).padStart(2, '0');
  return h > 0 ? `${h}:${String(mm).padStart(2, '0')}:${ss}` : `${mm}:${ss}`;
}

// ---- meta: the gateway's description of the parameter block and the live record ----

// The parameters meta describes that the page can edit: each with a whole-number byte
// index and a range. Anything else in meta is left out (and shown nowhere).
export function metaParameters(meta) {
  const list = meta && Array.isArray(meta.parameters) ? meta.parameters : [];
  return list.filter(
    (p) =>
      p && typeof p.name === 'string' && Number.isInteger(p.byte) && p.byte >= 0 &&
      Number.isFinite(p.min) && Number.isFinite(p.max) && p.min <= p.max,
  );
}

// The label a record field or parameter has in meta, else its name.
export function labelOf(entry, fallback) {
  if (entry && typeof entry.label === 'string' && entry.label) return entry.label;
  if (entry && typeof entry.name === 'string' && entry.name) return entry.name;
  return fallback;
}

export function recordField(meta, name) {
  const list = meta && Array.isArray(meta.record) ? meta.record : [];
  return list.find((f) => f && f.name === name) || null;
}

// A record field's label: meta's, else its name in capitals as the panel shows it (NORM).
export function recordLabel(meta, name) {
  const f = recordField(meta, name);
  return f && typeof f.label === 'string' && f.label ? f.label : name.toUpperCase();
}

// The targets cmd/write may write, as the gateway says (null when it says nothing).
export function allowedWrites(meta) {
  return meta && Array.isArray(meta.allow_write) ? meta.allow_write.filter((t) => typeof t === 'string') : null;
}

// A parameter's value from params: the block's byte, else its name in `named`.
export function paramValue(params, p) {
  if (params && Array.isArray(params.values) && p.byte < params.values.length) return params.values[p.byte];
  if (params && params.named && typeof params.named === 'object' && p.name in params.named) return params.named[p.name];
  return undefined;
}

// The share a code stands for when meta gives the codes at 0 % and 100 %.
export function percentOf(p, code) {
  const pc = p && p.percent;
  if (!pc || !Number.isFinite(pc.code_at_0) || !Number.isFinite(pc.code_at_100)) return null;
  if (pc.code_at_0 === pc.code_at_100 || !Number.isFinite(code)) return null;
  return ((code - pc.code_at_0) / (pc.code_at_100 - pc.code_at_0)) * 100 + 0; // never -0
}

// Checks one entered value against the parameter's range. Its choices only name values:
// a value in range that none of them names (one the sensor holds) may be written back.
// Returns {value} or {error} with a sentence for the operator.
export function checkValue(p, raw) {
  const name = labelOf(p, p.name);
  const text = String(raw ?? '').trim();
  if (text === '') return { error: `${name}: no value entered (${p.min} to ${p.max})` };
  if (!/^[+-]?\d+$/.test(text)) return { error: `${name}: "${text}" is not a whole number (${p.min} to ${p.max})` };
  const value = Number(text);
  if (value < p.min || value > p.max) return { error: `${name}: ${value} is outside ${p.min} to ${p.max}` };
  return { value };
}

// The block to write: every parameter meta describes from `entered` (name -> text), the
// bytes meta does not describe kept from the current params. Returns {values} or
// {errors} (one sentence per bad value; nothing is to be sent then).
export function blockToWrite(meta, params, entered) {
  const ps = metaParameters(meta);
  if (ps.length === 0) return { errors: ['The gateway has not described the parameter block (no meta yet).'] };
  const current = params && Array.isArray(params.values) ? params.values : [];
  const length = Math.max(current.length, ...ps.map((p) => p.byte + 1));
  const values = new Array(length);
  for (let i = 0; i < length; ++i) values[i] = current[i];
  const errors = [];
  for (const p of ps) {
    const r = checkValue(p, entered[p.name]);
    if (r.error) errors.push(r.error);
    else values[p.byte] = r.value;
  }
  const missing = values.findIndex((v) => !Number.isInteger(v));
  if (!errors.length && missing >= 0)
    errors.push(`Byte ${missing} of the block is unknown: read the parameters first.`);
  return errors.length ? { errors } : { values };
}

// The bytes an audit's before and after differ in, named from meta:
// [{name, before, after}].
export function changedBytes(meta, before, after) {
  if (!Array.isArray(before) || !Array.isArray(after)) return [];
  const ps = metaParameters(meta);
  const out = [];
  for (let i = 0; i < Math.max(before.length, after.length); ++i) {
    if (before[i] === after[i]) continue;
    const p = ps.find((q) => q.byte === i);
    out.push({ name: p ? labelOf(p, p.name) : `byte ${i}`, before: before[i], after: after[i] });
  }
  return out;
}

// A request id no other page or tab will use.
export function newRequestId(prefix = 'web') {
  const bytes = new Uint8Array(6);
  globalThis.crypto.getRandomValues(bytes);
  const hex = Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
  newRequestId.counter = (newRequestId.counter || 0) + 1;
  return `${prefix}-${hex}-${newRequestId.counter}`;
}

// The reply as one line of text for the operator.
export function replyText(reply) {
  if (!reply || typeof reply !== 'object') return '';
  if (reply.ok === true) {
    const what = typeof reply.command === 'string' ? reply.command : 'command';
    if (what === 'write') {
      const verified = reply.verified === true ? ', verified' : reply.verify ? ', not verified' : '';
      return `ok: written to ${textOf(reply.target)}${verified}`;
    }
    if (what === 'read') return `ok: read from ${textOf(reply.target)}`;
    if (what === 'check') return 'ok: the line answers';
    if (what === 'jumpbuf') return 'ok: jump buffer read';
    return `ok: ${what}`;
  }
  const error = typeof reply.error === 'string' && reply.error ? reply.error : 'failed';
  return reply.exit != null ? `${error} (exit ${textOf(reply.exit)})` : error;
}

function textOf(v) {
  return v == null ? '' : String(v);
}
