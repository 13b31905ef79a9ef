// Building the page's elements. Text from the broker only ever goes in as text (a text
// node or an attribute value), never as markup.

// el('div', {class: 'x', dataset: {sensor: id}, title: t, onclick: f}, child, 'text', ...)
export function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  setAttrs(e, attrs);
  append(e, children);
  return e;
}

const SVG = 'http://www.w3.org/2000/svg';
export function svg(tag, attrs, ...children) {
  const e = document.createElementNS(SVG, tag);
  for (const [k, v] of Object.entries(attrs || {})) if (v != null) e.setAttribute(k, String(v));
  append(e, children);
  return e;
}

function setAttrs(e, attrs) {
  for (const [k, v] of Object.entries(attrs || {})) {
    if (v == null || v === false) continue;
    if (k === 'class') e.className = v;
    else if (k === 'dataset') for (const [dk, dv] of Object.entries(v)) e.dataset[dk] = String(dv);
    else if (k === 'text') e.textContent = String(v);
    else if (k.startsWith('on') && typeof v === 'function') e.addEventListener(k.slice(2), v);
    else if (v === true) e.setAttribute(k, '');
    else e.setAttribute(k, String(v));
  }
}

function append(e, children) {
  for (const c of children.flat()) {
    if (c == null || c === false) continue;
    e.append(c instanceof Node ? c : document.createTextNode(String(c)));
  }
}

// Sets an element's text only when it changed (no layout work for a repeat).
export function setText(e, text) {
  const t = text == null ? '' : String(text);
  if (e.textContent !== t) e.textContent = t;
}

export function clear(e) {
  e.replaceChildren();
}
