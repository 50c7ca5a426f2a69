// The funsize-diff page: a treemap of the new build and a table of every
// function, drawn from the JSON data that the program wrote into the page
// (see html.cpp for its layout).
//
// The treemap nests directory, file, archive member and function. Only what
// can be seen is laid out: the functions (and folders) of a box that would
// get less than a pixel are drawn together as one "N smaller functions" box
// of their parent, so a build of a million functions lays out and draws
// about as many boxes as the canvas has room for. Zooming lays out again
// from the chosen box. The table shows one page of rows at a time.
//
// Names never become markup: every text goes in through textContent.
(function () {
  'use strict';

  const MIN_AREA = 1;        // square pixels below which a box is folded into its parent's rest
  const HEADER = 14;         // height of a folder's or file's title bar
  const ROWS_PER_PAGE = 100;

  const data = JSON.parse(document.getElementById('funsize-data').textContent);
  const oneSide = !!data.oneSide;
  const stride = oneSide ? 3 : 4;
  const fns = data.fns;
  const count = Math.floor(fns.length / stride);
  const unitPaths = [], unitMembers = [], unitLabels = [];
  for (let k = 0; k + 2 < data.units.length; k += 3) {
    unitPaths.push(data.units[k]);
    unitMembers.push(data.units[k + 1]);
    unitLabels.push(data.units[k + 2] || data.units[k]);
  }

  // Sizes as arrays of numbers: -1 where the function is missing on that side.
  const oldSize = new Float64Array(count), newSize = new Float64Array(count);
  const unitOf = new Int32Array(count);
  for (let i = 0; i < count; ++i) {
    unitOf[i] = fns[i * stride];
    oldSize[i] = oneSide ? -1 : fns[i * stride + 2];
    newSize[i] = fns[i * stride + stride - 1];
  }
  const fnName = (i) => fns[i * stride + 1];

  function kindOf(oldBytes, newBytes) {
    if (oneSide) return 'same';
    if (newBytes < 0) return 'removed';
    if (oldBytes < 0) return 'added';
    if (newBytes > oldBytes) return 'grown';
    if (newBytes < oldBytes) return 'shrunk';
    return 'same';
  }
  const fnKind = (i) => kindOf(oldSize[i], newSize[i]);

  // ---- The tree: folders, files, archive members; functions hang on the last.

  function makeGroup(label, kind, parent) {
    return { label: label, kind: kind, parent: parent, groups: [], byKey: new Map(), units: [],
             value: 0, old: 0, drawable: 0, total: 0 };
  }
  function child(parent, label, kind) {
    const key = kind + ':' + label;
    let g = parent.byKey.get(key);
    if (!g) {
      g = makeGroup(label, kind, parent);
      parent.byKey.set(key, g);
      parent.groups.push(g);
    }
    return g;
  }

  const tree = makeGroup('all', 'root', null);
  const unitGroup = unitPaths.map(function (path, u) {
    const parts = path.split('/').filter((p) => p !== '');
    let g = tree;
    for (let k = 0; k + 1 < parts.length; ++k) g = child(g, parts[k], 'dir');
    if (parts.length) g = child(g, parts[parts.length - 1], 'file');
    if (unitMembers[u]) g = child(g, unitMembers[u], 'member');
    g.units.push(u);  // more than one when paths differ only in doubled slashes
    return g;
  });
  // The functions of each file, in one array: those of file u are
  // byUnit[unitStart[u] .. unitStart[u + 1]). Filled by counting, so that a
  // million functions cost no million small arrays.
  const unitStart = new Int32Array(unitGroup.length + 1);
  for (let i = 0; i < count; ++i) unitStart[unitOf[i] + 1] += 1;
  for (let u = 0; u < unitGroup.length; ++u) unitStart[u + 1] += unitStart[u];
  const byUnit = new Int32Array(count);
  {
    const fill = unitStart.slice(0, unitGroup.length);
    for (let i = 0; i < count; ++i) byUnit[fill[unitOf[i]]++] = i;
  }

  // Sums for every group: per file in one pass over the functions, then
  // added up the folders.
  {
    const units = unitGroup.length;
    const value = new Float64Array(units), old = new Float64Array(units), drawable = new Int32Array(units);
    for (let i = 0; i < count; ++i) {
      const u = unitOf[i], v = newSize[i], o = oldSize[i];
      if (v > 0) { value[u] += v; drawable[u] += 1; }
      if (o > 0) old[u] += o;
    }
    for (let u = 0; u < units; ++u) {
      for (let g = unitGroup[u]; g; g = g.parent) {
        g.value += value[u];
        g.old += old[u];
        g.drawable += drawable[u];
        g.total += unitStart[u + 1] - unitStart[u];
      }
    }
  }
  (function order(g) {
    g.byKey = null;
    g.groups.sort((a, b) => b.value - a.value);
    g.groups.forEach(order);
  })(tree);

  // "dir/file(member)", as the file column writes it; "all" for the root.
  function groupPath(g) {
    const chain = [];
    for (let p = g; p && p.kind !== 'root'; p = p.parent) chain.unshift(p);
    let text = '';
    for (const p of chain) {
      if (p.kind === 'member') text += '(' + p.label + ')';
      else text += (text === '' ? '' : '/') + p.label;
    }
    return text || 'all';
  }

  // ---- Treemap

  const mapBox = document.getElementById('map');
  const canvas = document.getElementById('map-canvas');
  const emptyNote = document.getElementById('map-empty');
  const tip = document.getElementById('tip');
  const crumbs = document.getElementById('crumbs');
  const style = getComputedStyle(document.documentElement);
  const colour = {};
  for (const k of ['same', 'grown', 'shrunk', 'added', 'rest', 'group', 'group-edge', 'ink'])
    colour[k] = style.getPropertyValue('--' + k).trim();

  let view = tree;      // the group the treemap shows
  // Opened "smaller functions" boxes of the view: each entry is the rank,
  // by size, of the first item of the view's own (folders, files and
  // functions directly in it) that the box held. Empty at a group's full
  // view.
  let ranks = [];
  const FORCED = 500;    // items shown when none of a box's would get a pixel
  let laid = null;      // the laid-out hierarchy of the view
  let firstDraw = true;

  // The items directly in `g`, the largest first: its folders and files
  // ({g}) and its functions ({f}), each with its value v.
  function itemsOf(g) {
    const items = [];
    for (const c of g.groups) if (c.value > 0) items.push({ g: c, v: c.value });
    for (const u of g.units) {
      for (let k = unitStart[u]; k < unitStart[u + 1]; ++k) {
        const i = byUnit[k];
        if (newSize[i] > 0) items.push({ f: i, v: newSize[i] });
      }
    }
    return items.sort((a, b) => b.v - a.v);
  }

  // The view opened at a rank: the items of `g` from that rank on, as many
  // as get a pixel at `area` square pixels for all of them, the others as
  // one box that opens at the next rank. When not one would get a pixel,
  // the largest FORCED items share half of the area and the box the other
  // half (it stands for far more bytes than its area then).
  function rankedTree(g, rank, area) {
    const items = itemsOf(g).slice(rank);
    let total = 0;
    for (const it of items) total += it.v;
    let scale = area / total, shown = 0, forced = false;
    while (shown < items.length && items[shown].v * scale >= MIN_AREA) ++shown;
    if (shown === 0 && items.length > 0) {
      shown = Math.min(items.length, FORCED);
      let front = 0;
      for (let k = 0; k < shown; ++k) front += items[k].v;
      scale = area / 2 / front;
      forced = true;
    }
    const node = { g: g, f: -1, v: 0, children: [] };
    let restBytes = 0, restOld = 0, restCount = 0, front = 0;
    items.forEach(function (it, k) {
      if (k < shown) {
        front += it.v;
        node.children.push(it.g ? visibleTree(it.g, scale) : { f: it.f, v: it.v });
      } else {
        restBytes += it.v;
        restOld += it.g ? it.g.old : Math.max(oldSize[it.f], 0);
        restCount += it.g ? it.g.drawable : 1;
      }
    });
    if (restCount > 0) {
      node.children.push({ f: -1, rest: restCount, v: forced ? front : restBytes, bytes: restBytes, old: restOld,
                           of: g, rank: rank + shown });
    }
    return node;
  }

  // The boxes of `g` that are big enough at `scale` square pixels per byte;
  // the rest of g's functions become one box.
  function visibleTree(g, scale) {
    const node = { g: g, f: -1, v: g.value, children: [] };
    let restValue = 0, restOld = 0, restCount = 0;
    for (const c of g.groups) {
      if (c.value <= 0) continue;
      if (c.value * scale >= MIN_AREA) node.children.push(visibleTree(c, scale));
      else { restValue += c.value; restOld += c.old; restCount += c.drawable; }
    }
    for (const u of g.units) {
      for (let k = unitStart[u]; k < unitStart[u + 1]; ++k) {
        const i = byUnit[k], v = newSize[i];
        if (v <= 0) continue;  // missing from the new build, or empty
        if (v * scale >= MIN_AREA) node.children.push({ f: i, v: v });
        else { restValue += v; restOld += Math.max(oldSize[i], 0); restCount += 1; }
      }
    }
    // The squarified layout wants the largest first. Only what is drawn is
    // sorted, which at full view of a large build is a fraction of it.
    node.children.sort((a, b) => b.v - a.v);
    // The box of the view's own small items opens at the rank after the
    // items drawn (they are the largest).
    if (restCount > 0) {
      node.children.push({ f: -1, rest: restCount, v: restValue, bytes: restValue, old: restOld, of: g,
                           rank: g.groups.filter((c) => c.value * scale >= MIN_AREA).length +
                                 node.children.filter((c) => c.f >= 0).length });
    }
    return node;
  }

  function headerOf(n) {
    return n.depth > 0 && n.data.g && n.y1 - n.y0 > 2 * HEADER && n.x1 - n.x0 > 30 ? HEADER : 0;
  }
  function edgeOf(n) {
    return n.depth > 0 && n.data.g && n.y1 - n.y0 > 6 && n.x1 - n.x0 > 6 ? 1 : 0;
  }

  function fitText(text, width) {
    const room = Math.floor((width - 4) / 6.2);  // about the width of one character at 11px
    if (room <= 0) return '';
    if (text.length <= room) return text;
    let cut = text.slice(0, Math.max(room - 1, 0));
    if (/[\ud800-\udbff]$/.test(cut)) cut = cut.slice(0, -1);  // not half a character
    return cut + '\u2026';
  }

  function draw() {
    const rect = canvas.getBoundingClientRect();
    const width = Math.max(1, Math.floor(rect.width)), height = Math.max(1, Math.floor(rect.height));
    const ratio = window.devicePixelRatio || 1;
    canvas.width = Math.floor(width * ratio);
    canvas.height = Math.floor(height * ratio);
    const ctx = canvas.getContext('2d');
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    ctx.clearRect(0, 0, width, height);

    let functionBoxes = 0, smallerBoxes = 0, smallerFunctions = 0;
    laid = null;
    emptyNote.hidden = view.value > 0;
    if (view.value > 0) {
      const top = ranks.length ? rankedTree(view, ranks[ranks.length - 1], width * height)
                               : visibleTree(view, (width * height) / view.value);
      const root = d3.hierarchy(top)
        .sum((d) => (d.children ? 0 : d.v));
      d3.treemap().tile(d3.treemapSquarify).size([width, height])
        .paddingOuter(edgeOf).paddingTop((n) => headerOf(n) || edgeOf(n))
        .paddingInner((n) => (n.data.g && n.data.g.groups.length ? 2 : 0))(root);
      laid = root;

      // One path per colour: a million rectangles are filled in a few calls.
      const paths = { same: new Path2D(), grown: new Path2D(), shrunk: new Path2D(), added: new Path2D(), rest: new Path2D() };
      const groupFill = new Path2D(), groupEdge = new Path2D();
      const labels = [];
      root.each(function (n) {
        const w = n.x1 - n.x0, h = n.y1 - n.y0;
        if (n.data.g) {
          if (n.depth === 0) return;
          groupFill.rect(n.x0, n.y0, w, h);
          if (w > 2 && h > 2) groupEdge.rect(n.x0 + 0.5, n.y0 + 0.5, w - 1, h - 1);
          if (headerOf(n)) labels.push([n.data.g.label, n.x0 + 3, n.y0 + 11, w, true]);
          return;
        }
        const gap = w >= 3 && h >= 3 ? 1 : 0;
        if (n.data.f >= 0) {
          functionBoxes += 1;
          paths[fnKind(n.data.f)].rect(n.x0, n.y0, w - gap, h - gap);
          if (w >= 40 && h >= 15) labels.push([fnName(n.data.f), n.x0 + 3, n.y0 + 12, w, false]);
        } else {
          smallerBoxes += 1;
          smallerFunctions += n.data.rest;
          paths.rest.rect(n.x0, n.y0, w - gap, h - gap);
          if (w >= 60 && h >= 15) labels.push([n.data.rest + ' smaller functions', n.x0 + 3, n.y0 + 12, w, false]);
        }
      });
      ctx.fillStyle = colour.group;
      ctx.fill(groupFill);
      ctx.strokeStyle = colour['group-edge'];
      ctx.lineWidth = 1;
      ctx.stroke(groupEdge);
      for (const k in paths) {
        ctx.fillStyle = colour[k];
        ctx.fill(paths[k]);
      }
      ctx.textBaseline = 'alphabetic';
      for (const [text, x, y, w, bold] of labels) {
        ctx.font = (bold ? '600 ' : '') + '11px system-ui, sans-serif';
        ctx.fillStyle = colour.ink;
        ctx.fillText(fitText(text, w), x, y);
      }
    }

    mapBox.dataset.functionBoxes = functionBoxes;
    mapBox.dataset.smallerBoxes = smallerBoxes;
    mapBox.dataset.smallerFunctions = smallerFunctions;
    mapBox.dataset.view = groupPath(view) + (ranks.length ? ' from #' + (ranks[ranks.length - 1] + 1) : '');
    if (firstDraw) {
      firstDraw = false;
      mapBox.dataset.firstDrawMs = performance.now().toFixed(0);
    }
  }

  // The innermost laid-out box under the point (canvas coordinates).
  function hit(x, y) {
    let n = laid;
    if (!n || x < n.x0 || y < n.y0 || x >= n.x1 || y >= n.y1) return null;
    for (;;) {
      const kids = n.children;
      let next = null;
      if (kids) {
        for (const c of kids) {
          if (x >= c.x0 && x < c.x1 && y >= c.y0 && y < c.y1) { next = c; break; }
        }
      }
      if (!next) return n;
      n = next;
    }
  }

  function sizesText(oldBytes, newBytes) {
    if (oneSide) return 'size ' + Math.max(newBytes, 0);
    const show = (b) => (b < 0 ? '\u2014' : String(b));
    const delta = Math.max(newBytes, 0) - Math.max(oldBytes, 0);
    return 'old ' + show(oldBytes) + '  new ' + show(newBytes) + '  delta ' + signed(delta);
  }
  function signed(v) { return v > 0 ? '+' + v : String(v); }

  function showTip(n, clientX, clientY) {
    let kind, name, where, sizes;
    if (n.data.g) {
      const g = n.data.g;
      kind = 'group';
      name = groupPath(g);
      where = g.total + (g.total === 1 ? ' function' : ' functions');
      sizes = sizesText(oneSide ? -1 : g.old, g.value);
    } else if (n.data.f >= 0) {
      const i = n.data.f;
      kind = fnKind(i);
      name = fnName(i);
      where = unitLabels[unitOf[i]];
      sizes = sizesText(oldSize[i], newSize[i]);
    } else {
      kind = 'rest';
      name = n.data.rest + (n.data.rest === 1 ? ' smaller function' : ' smaller functions');
      where = groupPath(n.data.of);
      sizes = sizesText(oneSide ? -1 : n.data.old, n.data.bytes);
    }
    tip.className = kind;
    tip.replaceChildren();
    for (const [cls, text] of [['name', name], ['where', where], ['sizes', sizes]]) {
      const line = document.createElement('div');
      line.className = cls;
      line.textContent = text;
      tip.appendChild(line);
    }
    tip.hidden = false;
    const room = tip.getBoundingClientRect();
    const left = Math.min(clientX + 14, window.innerWidth - room.width - 4);
    const top = clientY + 16 + room.height > window.innerHeight ? clientY - room.height - 8 : clientY + 16;
    tip.style.left = Math.max(left, 0) + 'px';
    tip.style.top = Math.max(top, 0) + 'px';
  }

  function pointOf(event) {
    const rect = canvas.getBoundingClientRect();
    return [event.clientX - rect.left, event.clientY - rect.top];
  }

  canvas.addEventListener('mousemove', function (event) {
    const n = hit(...pointOf(event));
    if (n && n.depth > 0) showTip(n, event.clientX, event.clientY);
    else tip.hidden = true;
  });
  canvas.addEventListener('mouseleave', function () { tip.hidden = true; });
  canvas.addEventListener('click', function (event) {
    const n = hit(...pointOf(event));
    if (!n || n.depth === 0) return;
    if (!n.data.g && n.data.f < 0 && n.data.of === view) {
      // The view's own smaller items: open them.
      ranks.push(n.data.rank);
      tip.hidden = true;
      draw();
      showCrumbs();
      return;
    }
    const target = n.data.g || n.parent.data.g;
    if (target !== view) zoomTo(target);
  });

  function zoomTo(g) {
    view = g;
    ranks = [];
    tip.hidden = true;
    draw();
    showCrumbs();
  }

  function showCrumbs() {
    const chain = [];
    for (let g = view; g; g = g.parent) chain.unshift(g);
    crumbs.replaceChildren();
    // The groups down to the view, then the opened "smaller" boxes; the
    // last step is where the map stands, the others go back there.
    const steps = chain.map((g) => ({ label: g.kind === 'member' ? '(' + g.label + ')' : g.label,
                                      go: () => zoomTo(g) }));
    ranks.forEach(function (r, k) {
      steps.push({ label: 'smaller, from #' + (r + 1), go: function () {
        ranks = ranks.slice(0, k + 1);
        draw();
        showCrumbs();
      } });
    });
    steps.forEach(function (step, k) {
      if (k > 0) {
        const sep = document.createElement('span');
        sep.className = 'sep';
        sep.textContent = '\u203a';
        crumbs.appendChild(sep);
      }
      let item;
      if (k === steps.length - 1) {
        item = document.createElement('span');
        item.className = 'here';
      } else {
        item = document.createElement('button');
        item.type = 'button';
        item.addEventListener('click', step.go);
      }
      item.textContent = step.label;
      crumbs.appendChild(item);
    });
  }

  let resizeTimer = 0;
  window.addEventListener('resize', function () {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(draw, 150);
  });

  // ---- Table

  const columns = oneSide
    ? [{ key: 'name', label: 'Function' }, { key: 'file', label: 'File' }, { key: 'new', label: 'Size', num: true }]
    : [{ key: 'name', label: 'Function' }, { key: 'file', label: 'File' }, { key: 'old', label: 'Old', num: true },
       { key: 'new', label: 'New', num: true }, { key: 'delta', label: 'Delta', num: true }];
  const head = document.getElementById('functions-head');
  const body = document.getElementById('functions-body');
  const filterBox = document.getElementById('filter');
  const changedOnly = document.getElementById('changed-only');
  const shown = document.getElementById('rows-shown');
  const prev = document.getElementById('page-prev');
  const next = document.getElementById('page-next');

  let sortKey = null, sortDir = 1;  // no key: the order of the comparison, largest change first
  let rows = null;                  // indices of the rows that pass the filter, in table order
  let page = 0;

  const headCells = columns.map(function (col) {
    const th = document.createElement('th');
    th.dataset.key = col.key;
    if (col.num) th.className = 'num';
    th.addEventListener('click', function () {
      if (sortKey === col.key) sortDir = -sortDir;
      else { sortKey = col.key; sortDir = col.num ? -1 : 1; }
      sortRows();
      page = 0;
      showRows();
    });
    head.appendChild(th);
    return th;
  });

  function numberKey(key) {
    const values = new Float64Array(count);
    for (let i = 0; i < count; ++i) {
      if (key === 'old') values[i] = oldSize[i];
      else if (key === 'new') values[i] = newSize[i];
      else values[i] = Math.max(newSize[i], 0) - Math.max(oldSize[i], 0);
    }
    return values;
  }

  function sortRows() {
    if (sortKey === null) return;
    const dir = sortDir;
    if (sortKey === 'name' || sortKey === 'file') {
      const text = sortKey === 'name' ? fnName : (i) => unitLabels[unitOf[i]];
      rows.sort(function (a, b) {
        const x = text(a), y = text(b);
        return x < y ? -dir : x > y ? dir : a - b;
      });
    } else {
      const values = numberKey(sortKey);
      rows.sort((a, b) => dir * (values[a] - values[b]) || a - b);
    }
  }

  function applyFilter() {
    const query = filterBox.value.trim().toLowerCase();
    const onlyChanged = !oneSide && changedOnly.checked;
    const lowerLabels = query ? unitLabels.map((s) => s.toLowerCase()) : null;
    const picked = new Int32Array(count);
    let n = 0;
    for (let i = 0; i < count; ++i) {
      if (onlyChanged && fnKind(i) === 'same') continue;
      if (query && !fnName(i).toLowerCase().includes(query) && !lowerLabels[unitOf[i]].includes(query)) continue;
      picked[n++] = i;
    }
    rows = picked.slice(0, n);
    sortRows();
    page = 0;
    showRows();
  }

  function cell(tr, text, cls) {
    const td = document.createElement('td');
    if (cls) td.className = cls;
    td.textContent = text;
    tr.appendChild(td);
  }

  function showRows() {
    columns.forEach(function (col, k) {
      const th = headCells[k];
      const sorted = col.key === sortKey;
      th.textContent = col.label + (sorted ? (sortDir < 0 ? ' \u25bc' : ' \u25b2') : '');
      th.setAttribute('aria-sort', sorted ? (sortDir < 0 ? 'descending' : 'ascending') : 'none');
    });
    const pages = Math.max(1, Math.ceil(rows.length / ROWS_PER_PAGE));
    page = Math.min(Math.max(page, 0), pages - 1);
    const from = page * ROWS_PER_PAGE, to = Math.min(rows.length, from + ROWS_PER_PAGE);
    const dash = (b) => (b < 0 ? '\u2014' : String(b));
    const fragment = document.createDocumentFragment();
    for (let r = from; r < to; ++r) {
      const i = rows[r];
      const tr = document.createElement('tr');
      tr.className = fnKind(i);
      cell(tr, fnName(i), 'name');
      cell(tr, unitLabels[unitOf[i]], 'file');
      if (oneSide) {
        cell(tr, dash(newSize[i]), 'num new');
      } else {
        cell(tr, dash(oldSize[i]), 'num old');
        cell(tr, dash(newSize[i]), 'num new');
        cell(tr, signed(Math.max(newSize[i], 0) - Math.max(oldSize[i], 0)), 'num delta');
      }
      fragment.appendChild(tr);
    }
    body.replaceChildren(fragment);
    shown.textContent = rows.length === 0 ? 'no rows'
      : 'rows ' + (from + 1) + '\u2013' + to + ' of ' + rows.length + (rows.length < count ? ' (of ' + count + ')' : '');
    prev.disabled = page === 0;
    next.disabled = page >= pages - 1;
  }

  let filterTimer = 0;
  filterBox.addEventListener('input', function () {
    clearTimeout(filterTimer);
    filterTimer = setTimeout(applyFilter, 150);
  });
  changedOnly.addEventListener('change', applyFilter);
  prev.addEventListener('click', function () { page -= 1; showRows(); });
  next.addEventListener('click', function () { page += 1; showRows(); });

  // For scripts that drive the page (its tests): where a function's box, or
  // a folder's or file's box, was drawn, in client coordinates; null when it
  // was not drawn on its own.
  window.funsizePage = {
    boxOf: function (name, what) {
      let found = null;
      if (laid) {
        laid.each(function (n) {
          if (found || n.depth === 0) return;
          const match = what === 'group' ? n.data.g && n.data.g.label === name : n.data.f >= 0 && fnName(n.data.f) === name;
          if (match) found = n;
        });
      }
      if (!found) return null;
      const rect = canvas.getBoundingClientRect();
      return { x: rect.left + found.x0, y: rect.top + found.y0, w: found.x1 - found.x0, h: found.y1 - found.y0 };
    },
  };

  if (oneSide) document.body.classList.add('one-side');
  rows = new Int32Array(count);
  for (let i = 0; i < count; ++i) rows[i] = i;
  showRows();
  showCrumbs();
  draw();
  document.body.dataset.ready = '1';
})();
