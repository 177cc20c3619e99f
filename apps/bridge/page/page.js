// The bridge's status page: one EventSource on /events brings a snapshot
// (the JSON of /api/status) about twelve times a second; the page keeps its
// elements and changes only what changed.
//
// Every string in a snapshot may come from the network (an sACN source name
// is whatever a sender chose): strings are only ever set as textContent or
// as attribute values, never parsed as markup.
'use strict';

const SLOTS = 512;

// A stable colour per source, from its CID (sACN) or address (Art-Net), so a
// source keeps its tint while others come and go.
function sourceHue(source) {
  const key = source.cid || source.address || '';
  let hash = 2166136261;
  for (let i = 0; i < key.length; i++) {
    hash ^= key.charCodeAt(i);
    hash = Math.imul(hash, 16777619);
  }
  return (hash >>> 0) % 360;
}

function slotColour(level, hue) {
  const light = 6 + (level / 255) * 56;
  return hue === null ? `hsl(0, 0%, ${light}%)` : `hsl(${hue}, 75%, ${light}%)`;
}

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = String(text);
  return node;
}

function cell(row, text, className) {
  row.appendChild(element('td', className, text));
}

function rate(value) {
  return (value || 0).toFixed(1);
}

function duration(seconds) {
  const s = Math.floor(seconds);
  const h = Math.floor(s / 3600);
  const m = Math.floor((s % 3600) / 60);
  return h > 0 ? `${h} h ${m} min` : m > 0 ? `${m} min ${s % 60} s` : `${s} s`;
}

function dropText(drops) {
  return Object.entries(drops || {}).filter(([, n]) => n > 0).map(([kind, n]) => `${kind}=${n}`).join(' ');
}

// The elements of one universe, made once and then updated.
class UniverseView {
  constructor(universe) {
    this.root = element('section', 'universe');
    this.root.dataset.universe = universe.universe;
    const title = element('div', 'title');
    title.appendChild(element('span', 'name', universe.universe));
    this.facts = element('span', 'facts');
    this.fading = element('span', 'fading');
    this.dropped = element('span', 'dropped');
    title.append(this.facts, this.fading, this.dropped);
    this.grid = element('div', 'grid');
    this.slots = [];
    this.shown = [];
    for (let i = 0; i < SLOTS; i++) {
      const slot = element('div', 'slot');
      slot.dataset.slot = String(i + 1);
      this.grid.appendChild(slot);
      this.slots.push(slot);
      this.shown.push('');
    }
    const table = element('table', 'sources');
    const head = element('thead');
    const headRow = element('tr');
    for (const name of ['', 'source', 'CID', 'address', 'priority', 'packets/s', 'sequence errors',
      'last packet', 'state']) {
      headRow.appendChild(element('th', '', name));
    }
    head.appendChild(headRow);
    this.sources = element('tbody');
    table.append(head, this.sources);
    this.root.append(title, this.grid, table);
  }

  update(universe, numbers) {
    const sources = universe.sources || [];
    this.facts.textContent = `${rate(universe.packets_per_second)} packets/s · ` +
      `${sources.filter((s) => !s.gone).length} source(s) · to ${(universe.interfaces || []).join(', ')}` +
      ` · merge ${universe.merge} · ${universe.state}`;
    this.root.dataset.state = universe.state;
    this.fading.textContent = (universe.state === 'fail-safe' ? `every source gone: ${universe.loss}` : '') +
      (universe.join_error ? ` ${universe.join_error}` : '');
    const drops = dropText(universe.drops);
    this.dropped.textContent = drops ? `dropped: ${drops}` : '';
    const hues = sources.map(sourceHue);
    for (let i = 0; i < SLOTS; i++) {
      const level = universe.levels[i] | 0;
      const owner = universe.owners[i];
      const source = owner >= 0 && owner < sources.length ? sources[owner] : null;
      const key = `${level}/${source ? hues[owner] : '-'}/${universe.priorities[i]}/${numbers ? 1 : 0}`;
      if (this.shown[i] === key) continue;
      this.shown[i] = key;
      const slot = this.slots[i];
      slot.style.backgroundColor = slotColour(level, source ? hues[owner] : null);
      slot.dataset.level = String(level);
      slot.dataset.owner = source ? (source.cid || source.address) : '';
      const priority = source && source.priority !== null ?
        ` at priority ${universe.priorities[i]}${source.per_slot_priority ? ' (per slot)' : ''}` : '';
      slot.dataset.priority = String(universe.priorities[i]);
      slot.title = `slot ${i + 1}: ${level}` + (source ? ` from ${source.name || source.address}${priority}` : ' (no source)');
      slot.textContent = numbers ? String(level) : '';
    }
    this.updateSources(sources, hues);
  }

  updateSources(sources, hues) {
    const rows = [];
    sources.forEach((source, index) => {
      const row = element('tr');
      row.dataset.key = source.cid || source.address;
      if (source.gone) row.className = 'gone';
      else if (source.preview) row.className = 'preview';
      const swatch = element('span', 'swatch');
      swatch.style.backgroundColor = `hsl(${hues[index]}, 75%, 50%)`;
      const first = element('td');
      first.appendChild(swatch);
      row.appendChild(first);
      cell(row, source.name || '—', 'name');
      cell(row, source.cid || '—', 'cid');
      cell(row, source.address, 'address');
      cell(row, source.priority === null ? '—' : source.priority + (source.per_slot_priority ? ' (per slot)' : ''),
        'number priority');
      cell(row, rate(source.packets_per_second), 'number rate');
      cell(row, source.sequence_errors, 'number sequence-errors');
      cell(row, `${source.seconds_since_last.toFixed(2)} s ago`, 'number last');
      const state = source.gone ? source.gone : source.preview ? 'preview (not output)' :
        source.lost ? 'lost' : source.awaiting_priorities ? 'waiting for priorities' :
        source.held ? 'held for sync' : 'live';
      cell(row, source.role ? `${state} (${source.role})` : state, 'state');
      rows.push(row);
    });
    if (rows.length === 0) {
      const row = element('tr');
      const empty = element('td', 'empty', 'no source');
      empty.colSpan = 9;
      row.appendChild(empty);
      rows.push(row);
    }
    this.sources.replaceChildren(...rows);
  }
}

function fillTable(id, items, makeRow, emptyText, columns) {
  const body = document.querySelector(`#${id} tbody`);
  const rows = items.map(makeRow);
  if (rows.length === 0) {
    const row = element('tr');
    const empty = element('td', 'empty', emptyText);
    empty.colSpan = columns;
    row.appendChild(empty);
    rows.push(row);
  }
  body.replaceChildren(...rows);
}

const views = new Map();

function render(status) {
  const numbers = document.getElementById('numbers').checked;
  document.getElementById('version').textContent = `version ${status.version}`;
  document.getElementById('uptime').textContent = `up ${duration(status.uptime_seconds)}`;
  document.getElementById('identify').hidden = !status.identify;
  document.getElementById('remote').textContent =
    status.last_remote_change ? `last remote change: ${status.last_remote_change}` : '';

  const container = document.getElementById('universes');
  const seen = new Set();
  for (const universe of status.universes) {
    seen.add(universe.universe);
    let view = views.get(universe.universe);
    if (!view) {
      view = new UniverseView(universe);
      views.set(universe.universe, view);
      container.appendChild(view.root);
    }
    view.root.classList.toggle('numbers', numbers);
    view.update(universe, numbers);
  }
  for (const [name, view] of views) {
    if (!seen.has(name)) {
      view.root.remove();
      views.delete(name);
    }
  }

  fillTable('interfaces', status.interfaces, (item) => {
    const row = element('tr');
    row.dataset.serial = item.serial;
    cell(row, item.serial, 'serial');
    cell(row, item.type || '—', 'number');
    cell(row, item.state, `state ${item.state}`);
    cell(row, item.mode, 'number');
    cell(row, item.output ? rate(item.reports_out_per_second) : '—', 'number');
    cell(row, item.input ? rate(item.input_blocks_per_second) : '—', 'number');
    return row;
  }, 'no interface', 6);

  fillTable('sends', status.sends, (item) => {
    const row = element('tr');
    cell(row, item.universe);
    cell(row, item.serial);
    cell(row, rate(item.packets_per_second), 'number');
    return row;
  }, 'no input mapped to the network', 3);

  const kinds = Object.keys(status.drops.sacn);
  const inUniverses = {};
  for (const universe of status.universes) {
    for (const [kind, n] of Object.entries(universe.drops)) inUniverses[kind] = (inUniverses[kind] || 0) + n;
  }
  const dropped = kinds.filter((k) => status.drops.sacn[k] + status.drops.artnet[k] + (inUniverses[k] || 0) > 0);
  fillTable('drops', dropped, (kind) => {
    const row = element('tr');
    cell(row, kind);
    cell(row, status.drops.sacn[kind], 'number');
    cell(row, status.drops.artnet[kind], 'number');
    cell(row, inUniverses[kind] || 0, 'number');
    return row;
  }, 'nothing dropped', 4);
}

function connect() {
  const link = document.getElementById('link');
  const events = new EventSource('events');
  events.onopen = () => {
    link.textContent = 'live';
    link.className = 'up';
  };
  events.onmessage = (message) => {
    try {
      render(JSON.parse(message.data));
    } catch (error) {
      link.textContent = `bad snapshot: ${error.message}`;
      link.className = 'down';
    }
  };
  // EventSource reconnects by itself (the bridge restarting, too many pages
  // open); say so meanwhile.
  events.onerror = () => {
    link.textContent = 'reconnecting…';
    link.className = 'down';
    // A refusal (503: too many pages open) ends an EventSource for good.
    if (events.readyState === EventSource.CLOSED) setTimeout(connect, 3000);
  };
}

document.addEventListener('DOMContentLoaded', connect);
