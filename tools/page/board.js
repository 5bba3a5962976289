'use strict';

// The board page: every cell is an element the server's view fills in. The
// view carries the engine's own state line; nothing here works out tactics.

const SIZE = 20;
// Hot for what wins soon, cool for what only builds; the names come with the
// engine's state line.
const CLASS_COLOURS = [
  '#e5322d', '#f0642a', '#f5892b', '#f8a93a', '#f6c945', '#e3dc4e', '#bfe05a',
  '#8fd46a', '#5fc08a', '#4fb3b8', '#5b9fe0', '#8d8cf0', '#c07ae8', '#c9c9c9',
];
const SOURCES = {
  search: 'search', fast: 'fast reply', forced: 'single listed move', database: 'database reply',
};

const ui = {
  session: null,
  view: null,
  busy: false,
  cells: [],
  classNames: [],  // the threat classes' names, as the engine's state gives them
  replyTimes: [],  // ms from a click to the drawn reply, per engine move
  noticeTimer: 0,
  pollTimer: 0,
};
// While the engine thinks the page asks for the view this often.
const POLL_MS = 250;
window.tarvoBoard = ui;

const $ = (id) => document.getElementById(id);

function buildBoard() {
  const board = $('board');
  const cols = $('cols');
  const rows = $('rows');
  for (let i = 0; i < SIZE; i++) {
    cols.append(Object.assign(document.createElement('span'), { textContent: i }));
    rows.append(Object.assign(document.createElement('span'), { textContent: i }));
  }
  for (let y = 0; y < SIZE; y++) {
    for (let x = 0; x < SIZE; x++) {
      const cell = document.createElement('div');
      cell.className = 'cell';
      cell.setAttribute('role', 'gridcell');
      cell.dataset.x = x;
      cell.dataset.y = y;
      const parts = {};
      for (const name of ['s', 'tb', 'tw', 'l', 'p', 'd']) {
        parts[name] = document.createElement('span');
        parts[name].className = name;
        cell.append(parts[name]);
      }
      cell.addEventListener('click', () => clickCell(x, y));
      board.append(cell);
      ui.cells.push({ el: cell, ...parts });
    }
  }
}

// The legend, once the engine has named the classes.
function buildLegend(names) {
  if (!names || names.join('\n') === ui.classNames.join('\n')) return;
  ui.classNames = names;
  const legend = $('legend');
  legend.replaceChildren();
  names.forEach((name, k) => {
    const item = document.createElement('li');
    const swatch = Object.assign(document.createElement('span'), { className: 'sw', textContent: k });
    swatch.style.background = CLASS_COLOURS[k];
    item.append(swatch, document.createTextNode(name));
    legend.append(item);
  });
}

// Talking to the server

async function post(path, body) {
  const response = await fetch(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
  });
  const data = await response.json().catch(() => ({ error: `The server answered ${response.status}.` }));
  if (!response.ok) {
    const error = new Error(data.error || `The server answered ${response.status}.`);
    error.status = response.status;
    throw error;
  }
  return data;
}

async function openSession() {
  const view = await post('/api/open', {});
  ui.session = view.session;
  ui.view = null;
  render(view);
}

function thinkingNow(view) {
  return Boolean(view && view.thinking && view.thinking.active);
}

// The think's news, until it ends; a poll never makes the page busy.
function schedulePoll(view) {
  clearTimeout(ui.pollTimer);
  if (thinkingNow(view)) ui.pollTimer = setTimeout(poll, POLL_MS);
}

async function poll() {
  if (ui.busy) {
    schedulePoll(ui.view);  // the action under way brings a view of its own
    return;
  }
  try {
    render(await post('/api/act', { session: ui.session, action: 'view' }));
  } catch (error) {
    showNotice(error.message === 'Failed to fetch' ? 'The board server does not answer.' : error.message);
    if (error.status !== 410) schedulePoll(ui.view);
  }
}

// One action at a time; a click while the engine works is ignored.
async function act(action, extra = {}, clickedAt = null) {
  if (ui.busy) return false;
  setBusy(true, action);
  try {
    let view;
    try {
      view = await post('/api/act', { session: ui.session, action, ...extra });
    } catch (error) {
      if (error.status !== 410) throw error;
      showNotice(`${error.message} A new one was started.`);
      await openSession();
      return false;
    }
    setBusy(false);
    render(view);
    if (clickedAt !== null && view.mode === 'play' && view.replyMs !== null) {
      // Drawn: after the next frame has been laid out and painted.
      await new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)));
      const ms = Math.round(performance.now() - clickedAt);
      ui.replyTimes.push(ms);
      document.body.dataset.replyMs = ms;
      $('status').textContent += ` · reply drawn in ${ms} ms`;
    }
    return true;
  } catch (error) {
    showNotice(error.message === 'Failed to fetch' ? 'The board server does not answer.' : error.message);
    return false;
  } finally {
    setBusy(false);
  }
}

function setBusy(busy, action) {
  ui.busy = busy;
  document.body.toggleAttribute('data-busy', busy);
  updateControls(ui.view);
  if (busy) {
    const analysing = ui.view && ui.view.mode === 'analysis';
    $('status').textContent = action === 'stop' ? 'Stopping…' : action === 'click' && !analysing ? 'Engine thinking…'
      : analysing ? 'Analysing…' : 'Working…';
    $('board').classList.remove('can-play');
  }
}

// What can be pressed: nothing while an action is under way, and while the
// engine thinks nothing that would change the game.
function updateControls(view) {
  const thinking = thinkingNow(view);
  const free = !ui.busy && !thinking;
  const analysis = Boolean(view) && view.mode === 'analysis';
  $('status').classList.toggle('busy', ui.busy || thinking);
  for (const id of ['new-game', 'mode-analysis', 'load']) $(id).disabled = !free;
  for (const id of ['time', 'colour']) $(id).disabled = ui.busy;
  $('think-time').disabled = !free || !analysis;
  $('think').disabled = !free || !analysis || Boolean(view.over);
  $('stop').disabled = ui.busy || !thinking || view.thinking.stopping;
  if (view) updateSteps(view);
}

function clickCell(x, y) {
  const view = ui.view;
  if (!view || ui.busy || !['human', 'analysis'].includes(view.turn)) return;
  const cell = ui.cells[x + SIZE * y];
  if (cell.el.dataset.stone) return;
  const clickedAt = performance.now();
  // The stone shows at once; the view that comes back confirms it. While
  // the engine thinks the server refuses it and says why.
  if (!thinkingNow(view)) cell.el.dataset.colour = colourOf(sideToMove(view));
  act('click', { x, y }, clickedAt);
}

function showNotice(text) {
  const notice = $('notice');
  notice.textContent = text;
  notice.hidden = false;
  clearTimeout(ui.noticeTimer);
  ui.noticeTimer = setTimeout(() => { notice.hidden = true; }, 9000);
}

// Drawing

function colourOf(mark) {
  if (!mark) return '';
  return mark === ui.view.firstMark ? 'black' : 'white';
}

function sideToMove(view) {
  if (view.state.moveCount === 0 && !view.base) return view.firstMark;
  return view.state.side;
}

function setData(el, name, value) {
  if (value === null || value === undefined || value === '') delete el.dataset[name];
  else if (el.dataset[name] !== String(value)) el.dataset[name] = value;
}

function byCell(points) {
  const map = new Map();
  (points || []).forEach((p, i) => map.set(p[0] + SIZE * p[1], [p, i]));
  return map;
}

// The latest finished iteration of a think under way, or null.
function latestIteration(view) {
  if (!thinkingNow(view)) return null;
  const iterations = view.thinking.iterations;
  return iterations.length ? iterations[iterations.length - 1] : null;
}

// The line to draw, as cells numbered from the search's first move on.
function lineCells(view) {
  const latest = latestIteration(view);
  if (latest) return (latest.line || []).map((p, i) => [p, i + 1]);
  const choice = view.state.choice;
  if (!choice || !choice.move) return [];
  const line = choice.line || [choice.move];
  if (choice.position === 'current') return line.map((p, i) => [p, i + 1]);
  if (choice.position === 'previous') return line.slice(1).map((p, i) => [p, i + 2]);
  return [];
}

function render(view) {
  // A poll's answer may come after a newer action's.
  if (ui.view && view.session === ui.view.session && view.seq < ui.view.seq) return;
  ui.view = view;
  schedulePoll(view);
  const state = view.state;
  if (!state) return;
  buildLegend(state.classNames);
  const threats = {
    x: new Map(state.threats.x.map(([x, y, k]) => [x + SIZE * y, k])),
    o: new Map(state.threats.o.map(([x, y, k]) => [x + SIZE * y, k])),
  };
  const blackMark = view.firstMark;
  const whiteMark = blackMark === 'x' ? 'o' : 'x';
  const listed = byCell(state.listed.moves);
  const numbers = new Map(view.numbers.map(([x, y, n]) => [x + SIZE * y, n]));
  const line = new Map(lineCells(view).map(([p, n]) => [p[0] + SIZE * p[1], n]));
  const db = state.database || {};
  const children = byCell((db.children || []).map((c) => c.move));
  const reply = db.recommended ? db.recommended[0] + SIZE * db.recommended[1] : -1;
  const last = state.lastMove ? state.lastMove[0] + SIZE * state.lastMove[1] : -1;
  const five = new Set(((view.over && view.over.five) || []).map(([x, y]) => x + SIZE * y));
  const mover = sideToMove(view);
  // The line's first move was played by the side to move then: now, or before the last move.
  const lineMover = !latestIteration(view) && state.choice && state.choice.position === 'previous'
    ? other(state.side) : mover;

  ui.cells.forEach((c, i) => {
    const mark = state.stones[i] === '-' ? '' : state.stones[i];
    setData(c.el, 'stone', mark);
    setData(c.el, 'colour', colourOf(mark));
    setData(c.el, 'move', mark ? numbers.get(i) : '');
    c.s.textContent = mark && numbers.has(i) ? numbers.get(i) : '';
    c.el.classList.toggle('last', i === last);
    c.el.classList.toggle('five', five.has(i));

    const kx = threats.x.get(i);
    const ko = threats.o.get(i);
    setData(c.el, 'threatX', kx);
    setData(c.el, 'threatO', ko);
    const kb = threats[blackMark].get(i);
    const kw = threats[whiteMark].get(i);
    paintThreat(c.tb, kb);
    paintThreat(c.tw, kw);
    const tip = [`${i % SIZE},${Math.floor(i / SIZE)}`];
    if (kb !== undefined) tip.push(`black: ${kb} ${ui.classNames[kb]}`);
    if (kw !== undefined) tip.push(`white: ${kw} ${ui.classNames[kw]}`);
    if (c.el.title !== tip.join(' · ')) c.el.title = tip.join(' · ');

    const letter = listed.has(i) ? String.fromCharCode(97 + listed.get(i)[1]) : '';
    setData(c.el, 'listed', letter);
    c.l.textContent = letter;
    c.l.classList.toggle('on', letter !== '' && !mark);

    const n = line.get(i);
    setData(c.p, 'n', n && !mark ? n : '');
    c.p.classList.toggle('on', Boolean(n) && !mark);
    // Odd numbers are moves of the side that made the line's first move.
    const lineColour = n ? colourOf(n % 2 === 1 ? lineMover : other(lineMover)) : '';
    c.p.classList.toggle('black', lineColour === 'black');
    c.p.classList.toggle('white', lineColour === 'white');

    const isReply = i === reply && !mark;
    c.d.className = isReply ? 'd reply on' : children.has(i) && !mark ? 'd child on' : 'd';
  });

  const board = $('board');
  board.classList.toggle('can-play', !ui.busy && !thinkingNow(view) && ['human', 'analysis'].includes(view.turn));
  board.style.setProperty('--next-stone', colourOf(mover) === 'black' ? 'var(--black-stone)' : 'var(--white-stone)');

  $('mode-analysis').setAttribute('aria-pressed', String(view.mode === 'analysis'));
  if (document.activeElement !== $('time')) $('time').value = view.timeMs;
  renderStatus(view);
  renderFacts(view);
  renderExplorer(view, reply);
  renderThinking(view);
  updateControls(view);
  $('log').textContent = view.messages.join('\n');
  if (view.notice) showNotice(view.notice);
}


function other(mark) { return mark === 'x' ? 'o' : 'x'; }

function paintThreat(el, k) {
  if (k === undefined) {
    el.classList.remove('on');
    el.textContent = '';
    return;
  }
  el.classList.add('on');
  el.style.setProperty('--k', CLASS_COLOURS[k]);
  el.textContent = k;
}

function colourName(mark, view) {
  const name = colourOf(mark) === 'black' ? 'black' : 'white';
  if (view.mode !== 'play') return `${name} (${mark})`;
  return `${name} (${mark}, ${mark === view.human ? 'you' : 'engine'})`;
}

function renderStatus(view) {
  const status = $('status');
  let text;
  if (view.over) {
    text = view.over.winner ? `${colourName(view.over.winner, view)} wins — five in a row` : 'Draw: the board is full';
  } else if (thinkingNow(view)) {
    text = `Thinking · ${colourName(sideToMove(view), view)} to move`;
  } else if (view.turn === 'analysis') {
    text = `Analysis · ${colourName(sideToMove(view), view)} to move`;
  } else if (view.turn === 'human') {
    text = `Your move · ${colourOf(view.human)}`;
  } else {
    text = 'The engine is to move';
  }
  if (!view.engineRunning) text += ' · engine stopped';
  status.textContent = text;
}

function point(p) { return p ? `${p[0]},${p[1]}` : '–'; }

function valueText(v) {
  if (v >= 20000) return `${v} (won)`;
  if (v <= -20000) return `${v} (lost)`;
  return String(v);
}

function renderFacts(view) {
  const state = view.state;
  $('f-side').textContent = `${colourName(sideToMove(view), view)}, move ${state.moveCount + 1}`;
  const result = state.listed.result;
  const count = state.listed.moves.length;
  $('f-listed').textContent = result > 0 ? 'the side to move wins' : result < 0 ? 'the side to move is lost'
    : `${count} move${count === 1 ? '' : 's'} listed`;
  $('f-score').textContent = `${state.score} · x ${state.xScore}, o ${state.oScore}`;

  const choice = state.choice;
  const shown = choice && (choice.position === 'current' || (view.mode === 'play' && choice.position === 'previous'));
  $('choice-title').textContent = view.mode === 'analysis' ? 'Engine’s choice here' : 'Last engine move';
  const searched = shown && choice.value !== undefined;
  const latest = latestIteration(view);
  const facts = latest ? {
    'f-move': `${point(latest.line && latest.line[0])} · thinking`,
    'f-value': `${latest.eval} · win ${percent(latest.winrate)}`,
    'f-work': `${latest.nodes.toLocaleString('en')} nodes · ${latest.ms} ms · depth ${latest.depth}/${latest.selDepth}`,
    'f-line': (latest.line || []).map(point).join(' '),
  } : {
    'f-move': shown ? `${point(choice.move)} · ${SOURCES[choice.source] || choice.source}` : '–',
    'f-value': shown ? (searched ? `${valueText(choice.value)} · static ${choice.static}` : `static ${choice.static}`) : '–',
    'f-work': shown ? (searched ? `${choice.nodes.toLocaleString('en')} nodes · ${choice.ms} ms · depth ${choice.depth}/${choice.selectiveDepth}` : `${choice.ms} ms`) : '–',
    'f-line': shown ? (choice.line ? choice.line.map(point).join(' ') : point(choice.move)) : '–',
  };
  for (const [id, text] of Object.entries(facts)) $(id).textContent = text;

  const db = state.database || {};
  let node = '–';
  if (!db.open) node = 'no experience file';
  else if (db.error) node = 'the file could not be read';
  else if (!db.follows || !db.node) node = 'this game has left the stored lines';
  else {
    const n = db.node;
    node = `class ${n.outcome} · second-player wins ${n.whole} whole / ${n.cut} cut · ply ${n.ply} · to end ${n.toEnd}`;
  }
  $('f-node').textContent = node;
  $('f-recommended').textContent = db.recommended ? point(db.recommended) : '–';
}

function renderExplorer(view, reply) {
  const body = $('explorer');
  const db = view.state.database || {};
  // The views of a think come four times a second: rows under the pointer stay.
  const key = JSON.stringify([db.children || [], reply]);
  if (body.dataset.key === key) return;
  body.dataset.key = key;
  const rows = (db.children || []).map((c) => {
    const row = document.createElement('tr');
    row.dataset.move = `${c.move[0]},${c.move[1]}`;
    const games = c.games.join(' / ') + (c.counted ? '' : ' +');
    for (const text of [point(c.move), games, c.outcome, c.ply, c.toEnd]) {
      row.append(Object.assign(document.createElement('td'), { textContent: text }));
    }
    if (c.move[0] + SIZE * c.move[1] === reply) row.classList.add('reply');
    row.title = `play ${point(c.move)}`;
    row.addEventListener('click', () => clickCell(c.move[0], c.move[1]));
    return row;
  });
  body.replaceChildren(...rows);
  $('explorer-empty').hidden = rows.length > 0;
  $('explorer-table').hidden = rows.length === 0;
}

function percent(rate) {
  return rate === undefined ? '–' : `${Math.round(rate * 100)}%`;
}

function seconds(ms) {
  return `${(ms / 1000).toFixed(ms < 10000 ? 1 : 0)} s`;
}

function countText(n) {
  if (n >= 1e9) return `${(n / 1e9).toFixed(1)}G`;
  if (n >= 1e6) return `${(n / 1e6).toFixed(1)}M`;
  if (n >= 1e4) return `${Math.round(n / 1e3)}k`;
  return String(n);
}

// A think's iterations, the newest on top, and how far it has got.
function renderThinking(view) {
  const thinking = view.thinking;
  if (document.activeElement !== $('think-time')) $('think-time').value = Math.round(view.thinkMs / 1000);
  let text;
  if (!thinking) {
    text = view.mode === 'analysis'
      ? 'Think searches deeper, depth by depth, for the time in the box; Stop ends it with the move so far.'
      : 'In analysis mode the engine can think here for up to a minute.';
  } else if (thinking.active) {
    const at = thinking.searching || {};
    const where = at.depth ? `depth ${at.depth}${at.move ? ` at ${point(at.move)}` : ''} · ` : '';
    const time = `${seconds(thinking.elapsedMs)} of ${seconds(thinking.thinkMs)}`;
    text = `${thinking.stopping ? 'Stopping · ' : ''}${where}${time}`;
  } else {
    const how = thinking.fault ? 'Ended by an engine fault' : thinking.stopped ? 'Stopped' : 'Done';
    text = `${how} after ${seconds(thinking.elapsedMs)}${thinking.move ? ` · move ${point(thinking.move)}` : ''}`;
    // A move the engine takes without a search ends a think at once.
    const choice = view.state.choice;
    if (!thinking.fault && choice && choice.source !== 'search') {
      text += ` (${SOURCES[choice.source] || choice.source}: nothing to search)`;
    }
  }
  $('think-at').textContent = text;

  const iterations = thinking ? thinking.iterations : [];
  const body = $('iterations');
  // Rows are only added: a row the reader is pointing at stays where it is.
  if (body.childElementCount > iterations.length || body.dataset.think !== (thinking ? thinking.id : '')) {
    body.replaceChildren();
  }
  body.dataset.think = thinking ? thinking.id : '';
  for (let k = body.childElementCount; k < iterations.length; k++) {
    const it = iterations[k];
    const row = document.createElement('tr');
    const line = (it.line || []).map(point).join(' ');
    for (const text of [`${it.depth}/${it.selDepth}`, it.eval, percent(it.winrate), countText(it.nodes),
      seconds(it.ms), line]) {
      row.append(Object.assign(document.createElement('td'), { textContent: text }));
    }
    row.dataset.depth = it.depth;
    row.lastChild.title = line;
    body.prepend(row);
  }
  $('iterations-table').hidden = iterations.length === 0;
}

function updateSteps(view) {
  const record = view.record;
  const free = !ui.busy && !thinkingNow(view);
  $('step-back').disabled = !free || !record || record.index === 0;
  $('step-forward').disabled = !free || !record || record.index >= record.length;
  $('step-at').textContent = record ? `${record.index} / ${record.length}` : view.base ? view.base.name : 'no record';
  $('take-back').disabled = !free || view.numbers.length === 0 && !view.base;
}

// Controls

function wireControls() {
  $('new-game').addEventListener('click', () => act('new-game', { humanFirst: $('colour').value === 'first' }));
  $('take-back').addEventListener('click', () => act('take-back'));
  $('mode-analysis').addEventListener('click', () => act('mode', { analysis: ui.view.mode !== 'analysis' }));
  $('time').addEventListener('change', () => {
    const ms = Number($('time').value);
    if (Number.isFinite(ms)) act('time', { ms: Math.round(ms) });
  });
  $('think').addEventListener('click', () => {
    const s = Number($('think-time').value);
    act('think', { ms: Math.round((Number.isFinite(s) && s > 0 ? s : 10) * 1000) });
  });
  $('stop').addEventListener('click', () => act('stop'));
  $('step-back').addEventListener('click', () => step(-1));
  $('step-forward').addEventListener('click', () => step(1));
  document.addEventListener('keydown', (event) => {
    if (event.target.closest('input, select, textarea')) return;
    if (event.key === 'ArrowLeft') step(-1);
    if (event.key === 'ArrowRight') step(1);
  });
  $('load').addEventListener('change', async (event) => {
    const file = event.target.files[0];
    event.target.value = '';
    if (!file) return;
    if (file.size > 1 << 20) {
      showNotice(`${file.name} is larger than 1 MB: no record or position. Nothing was changed.`);
      return;
    }
    act('load', { name: file.name, text: await file.text() });
  });
  for (const box of document.querySelectorAll('[data-layer]')) {
    const apply = () => $('board').classList.toggle(`hide-${box.dataset.layer}`, !box.checked);
    box.addEventListener('change', apply);
    apply();
  }
  // A page that goes away ends its engine at once rather than after the idle time.
  window.addEventListener('pagehide', () => {
    if (ui.session) {
      navigator.sendBeacon('/api/close', new Blob([JSON.stringify({ session: ui.session })], { type: 'application/json' }));
    }
  });
  window.addEventListener('pageshow', (event) => {
    if (event.persisted) act('view');
  });
}

function step(delta) {
  const record = ui.view && ui.view.record;
  if (!record) return;
  const index = record.index + delta;
  if (index < 0 || index > record.length) return;
  act('step', { index });
}

buildBoard();
wireControls();
setBusy(true);
openSession()
  .catch((error) => showNotice(`The engine could not be started: ${error.message}`))
  .finally(() => setBusy(false));
