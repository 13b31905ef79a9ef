// The line page's model without a browser: topics, payloads, the checks made before a
// write, and the texts shown. Usage: node --test tests/web/model.test.mjs
import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  blockToWrite, changedBytes, checkValue, compareIds, countdownText, paramValue, parsePayload,
  parseTopic, percentOf, recordLabel, replyText, stateKind, subscribable,
} from '../../web/js/model.js';

const meta = {
  parameters: [
    { name: 'a', byte: 0, min: 0, max: 255, label: 'A' },
    { name: 'b', byte: 1, min: 10, max: 20, label: 'B' },
    { name: 'c', byte: 3, min: 0, max: 3, label: 'C', choices: [{ value: 0, label: 'X' }, { value: 2, label: 'Y' }] },
  ],
};
const params = { values: [1, 11, 77, 0, 9] };

test('topics: the sensor level is any string, and the prefix must match whole', () => {
  assert.deepEqual(parseTopic('varno', 'varno/s1/status'), { sensor: 's1', rest: 'status' });
  assert.deepEqual(parseTopic('varno', 'varno/<b onclick=x>é/cmd/read'), { sensor: '<b onclick=x>é', rest: 'cmd/read' });
  assert.deepEqual(parseTopic('plant/line1', 'plant/line1/s9/live'), { sensor: 's9', rest: 'live' });
  assert.equal(parseTopic('varno', 'varnox/s1/status'), null);
  assert.equal(parseTopic('varno', 'varno/s1'), null);
  assert.equal(parseTopic('varno', 'varno//status'), null);
  assert.equal(subscribable('s1'), true);
  assert.equal(subscribable('a+b'), false);
  assert.equal(subscribable(''), false);
});

test('payloads: a JSON object or nothing', () => {
  assert.deepEqual(parsePayload(new TextEncoder().encode('{"state":"online"}')), { state: 'online' });
  assert.equal(parsePayload(new Uint8Array()), null);
  assert.equal(parsePayload('[1,2]'), null);
  assert.equal(parsePayload('{oops'), null);
  assert.equal(parsePayload('null'), null);
});

test('states: known ones by name, any other as unknown', () => {
  assert.equal(stateKind('port-busy'), 'port-busy');
  assert.equal(stateKind('yielded'), 'yielded');
  assert.equal(stateKind('toString'), 'unknown');
  assert.equal(stateKind('<b>'), 'unknown');
});

test('tiles are ordered by id with numbers as numbers', () => {
  assert.deepEqual(['s10', 's2', 's1', 'press-b', 'press-a'].sort(compareIds), ['press-a', 'press-b', 's1', 's2', 's10']);
});

test('a value is checked against its range', () => {
  const [a, b, c] = meta.parameters;
  assert.deepEqual(checkValue(a, ' 255 '), { value: 255 });
  assert.match(checkValue(a, '256').error, /^A: 256 is outside 0 to 255$/);
  assert.match(checkValue(b, '9').error, /outside 10 to 20/);
  assert.match(checkValue(a, '1.5').error, /not a whole number/);
  assert.match(checkValue(a, '').error, /no value/);
  assert.match(checkValue(a, '0x10').error, /not a whole number/);
  assert.deepEqual(checkValue(c, '2'), { value: 2 });
  assert.deepEqual(checkValue(c, '1'), { value: 1 }, 'a value no choice names, in range');
  assert.match(checkValue(c, '4').error, /outside 0 to 3/);
});

test('the block to write: entered values at their bytes, the others kept from params', () => {
  assert.deepEqual(blockToWrite(meta, params, { a: '5', b: '20', c: '2' }), { values: [5, 20, 77, 2, 9] });
  const bad = blockToWrite(meta, params, { a: '300', b: '5', c: '0' });
  assert.equal(bad.values, undefined);
  assert.equal(bad.errors.length, 2);
  assert.match(blockToWrite(meta, null, { a: '1', b: '11', c: '0' }).errors[0], /Byte 2 .* unknown/);
  assert.match(blockToWrite(null, params, {}).errors[0], /no meta/);
});

test('values come from the block by byte, else by name', () => {
  assert.equal(paramValue(params, meta.parameters[1]), 11);
  assert.equal(paramValue({ named: { b: 12 } }, meta.parameters[1]), 12);
  assert.equal(paramValue(null, meta.parameters[1]), undefined);
});

test('a percentage from the codes at 0 % and 100 %', () => {
  const p = { percent: { code_at_0: 46, code_at_100: 0 } };
  assert.equal(percentOf(p, 46), 0);
  assert.equal(percentOf(p, 0), 100);
  assert.equal(percentOf(p, 23), 50);
  assert.equal(percentOf({}, 23), null);
});

test('an audit names the bytes that changed', () => {
  assert.deepEqual(changedBytes(meta, [1, 2, 3, 4], [1, 5, 3, 0]), [
    { name: 'B', before: 2, after: 5 },
    { name: 'C', before: 4, after: 0 },
  ]);
  assert.deepEqual(changedBytes(meta, [0, 0, 1], [0, 0, 2]), [{ name: 'byte 2', before: 1, after: 2 }]);
});

test("a reply's text: ok with what was done, else the gateway's error as it is", () => {
  assert.equal(replyText({ ok: true, command: 'write', target: 'ram', verify: true, verified: true }), 'ok: written to ram, verified');
  assert.equal(replyText({ ok: true, command: 'write', target: 'ram', verify: true, verified: false }), 'ok: written to ram, not verified');
  assert.equal(replyText({ ok: false, error: '<b>no</b>', exit: 5 }), '<b>no</b> (exit 5)');
  assert.equal(replyText({ ok: false }), 'failed');
});

test('time left until a yielded port is taken back', () => {
  assert.equal(countdownText(1000 + 125000, 1000), '2:05');
  assert.equal(countdownText(0, 5000), '0:00');
  assert.equal(countdownText(3723000, 0), '1:02:03');
});

test("a record field's label: meta's, else its name in capitals", () => {
  assert.equal(recordLabel({ record: [{ name: 'norm', label: 'Norm.' }] }, 'norm'), 'Norm.');
  assert.equal(recordLabel({ record: [{ name: 'norm', meaning: 'x' }] }, 'norm'), 'NORM');
  assert.equal(recordLabel(null, 'dat0'), 'DAT0');
});
