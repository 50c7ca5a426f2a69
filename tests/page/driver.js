// Drives a funsize-diff page in the browser as a person would (pointer moves,
// clicks, typing) and writes what it saw into <pre id="test-results">, one
// "key=value" line each with the value URI-encoded, for the test to read from
// the dumped DOM. The test appends this file and an `async function steps()`
// of its own to the page; "state" is "ready" when the page drew without an
// error and the steps ran through.
'use strict';
const results = [];
const canvas = document.getElementById('map-canvas');
const mapBox = document.getElementById('map');
const tip = document.getElementById('tip');

function report(key, value) {
  results.push(key + '=' + encodeURIComponent(String(value)));
}
const wait = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function centre(box) { return [box.x + box.w / 2, box.y + box.h / 2]; }
function mouse(type, x, y) {
  canvas.dispatchEvent(new MouseEvent(type, { clientX: x, clientY: y, bubbles: true }));
}
// The tooltip over a function's box: its class and its lines, or "none"
// when the function was not drawn.
function hover(name) {
  const box = funsizePage.boxOf(name);
  if (!box) return 'none';
  mouse('mousemove', ...centre(box));
  if (tip.hidden) return 'hidden';
  return tip.className + ': ' + Array.from(tip.children, (line) => line.textContent).join(' / ');
}
function clickAt(x, y) { mouse('click', x, y); }
function clickBox(name, what) {
  const box = funsizePage.boxOf(name, what);
  if (!box) return false;
  // A folder or file is clicked in its title bar, a function in its middle.
  if (what === 'group') clickAt(box.x + 4, box.y + 4);
  else clickAt(...centre(box));
  return true;
}
// Whether a function's box is filled with the colour that the style sheet
// gives `kind`: the colour most of a grid of points in the box have (its
// label covers a few of them).
function pixelIs(name, kind) {
  const box = funsizePage.boxOf(name);
  if (!box) return 'none';
  const rect = canvas.getBoundingClientRect();
  const ratio = canvas.width / rect.width;
  const ctx = canvas.getContext('2d');
  const votes = new Map();
  for (let i = 1; i < 6; ++i) {
    for (let j = 1; j < 6; ++j) {
      const x = box.x - rect.left + box.w * i / 6, y = box.y - rect.top + box.h * j / 6;
      const p = ctx.getImageData(Math.floor(x * ratio), Math.floor(y * ratio), 1, 1).data;
      const seen = 'rgb(' + p[0] + ', ' + p[1] + ', ' + p[2] + ')';
      votes.set(seen, (votes.get(seen) || 0) + 1);
    }
  }
  const got = Array.from(votes).sort((a, b) => b[1] - a[1])[0][0];
  const probe = document.createElement('span');
  probe.style.color = 'var(--' + kind + ')';
  document.body.appendChild(probe);
  const want = getComputedStyle(probe).color;
  probe.remove();
  return got === want ? 'yes' : got + ' is not ' + want;
}
// The functions whose boxes are not filled with the colour of their kind
// ({name: kind}), or "".
function pixels(kinds) {
  return Object.keys(kinds).filter((name) => pixelIs(name, kinds[name]) !== 'yes')
    .map((name) => name + ': ' + pixelIs(name, kinds[name])).join('; ');
}
// The tooltip of the first box of class `kind` met when the pointer sweeps
// a folder's or file's box from its bottom right corner.
function sweep(group, kind) {
  const box = funsizePage.boxOf(group, 'group');
  for (let y = box.y + box.h - 2; y > box.y + 14; y -= 1) {
    for (let x = box.x + box.w - 2; x > box.x; x -= 1) {
      mouse('mousemove', x, y);
      if (!tip.hidden && tip.className === kind) return Array.from(tip.children, (line) => line.textContent).join(' / ');
    }
  }
  return 'not found';
}
// Clicks the first "smaller functions" box met when the pointer sweeps the
// map from its bottom right corner.
function openSmaller() {
  const r = canvas.getBoundingClientRect();
  for (let y = r.bottom - 2; y > r.top; y -= 2) {
    for (let x = r.right - 2; x > r.left; x -= 2) {
      mouse('mousemove', x, y);
      if (!tip.hidden && tip.className === 'rest') return clickAt(x, y), true;
    }
  }
  return false;
}
const text = (id) => document.getElementById(id).textContent;
const click = (id) => document.getElementById(id).click();
function column(cls) {
  return Array.from(document.querySelectorAll('#functions-body td.' + cls), (td) => td.textContent).join(',');
}
function heading(key) { return document.querySelector('#functions-head th[data-key="' + key + '"]'); }
function sortBy(key) { heading(key).click(); }
function heads() { return Array.from(document.querySelectorAll('#functions-head th'), (th) => th.textContent).join(','); }
// The legend's entries, "-" for a hidden one.
function legend() {
  return Array.from(document.querySelectorAll('#legend li'), (li) => (li.offsetParent ? li.textContent : '-')).join(',');
}
async function filter(text) {
  const box = document.getElementById('filter');
  box.value = text;
  box.dispatchEvent(new Event('input', { bubbles: true }));
  await wait(500);
}
function crumbs() {
  return Array.from(document.querySelectorAll('#crumbs button, #crumbs .here'), (e) => e.textContent).join('>');
}
function crumb(label) {
  const button = Array.from(document.querySelectorAll('#crumbs button')).find((b) => b.textContent === label);
  if (button) button.click();
  return !!button;
}
function drawn() {
  return mapBox.dataset.functionBoxes + ' functions, ' + mapBox.dataset.smallerBoxes + ' smaller boxes of ' +
         mapBox.dataset.smallerFunctions + ' in ' + mapBox.dataset.view;
}
function zoomed() { return drawn() + ' / ' + crumbs(); }

window.addEventListener('load', async function () {
  const state = [document.body.dataset.ready === '1' ? 'ready' : 'not ready'];
  try {
    await steps();
  } catch (e) {
    state.push('driver error: ' + (e && e.stack ? e.stack : e));
  }
  report('state', state.concat(window.pageErrors || []).join(' | '));
  const out = document.createElement('pre');
  out.id = 'test-results';
  out.textContent = results.join('\n');
  document.body.appendChild(out);
});
