// The tape console: reads the daemon's read-only routes every few seconds
// and draws the host's libraries, their drives, slots and operations; every
// action that touches a library goes through a confirmation dialog.
//
// Same origin only: every request is a relative URL of the daemon that
// served this page. The bearer token, when the daemon wants one, is asked
// once and kept in sessionStorage (this tab's session only).
'use strict';

(function () {
  const API = '/d2/r/tapectl';
  const POLL_MS = 3000;          // selected library and operations
  const LIBRARIES_MS = 30000;    // every library, and what the host sees now
  const TOKEN_KEY = 'kestrel3.console.token';
  const CELL_W = 104, CELL_H = 46; // as --cell-w and --cell-h in console.css
  const OVERSCAN_ROWS = 4;
  const PAGE_SLOTS = 4096;       // slots per request when a whole library is read

  const $ = (id) => document.getElementById(id);

  const state = {
    hostUuid: '',
    seen: [],            // changers of info (seen by the host now)
    stored: new Map(),   // serial -> library of the inventory
    current: '',         // selected library serial
    operations: [],
    slots: [],           // current library's slots read so far, from its first, in slot order
    inDrive: new Map(),  // slot number -> drive holding that slot's cartridge
    selected: null,      // slot number of the picked cartridge
    picking: false,      // choosing the target slot of a move
    busy: 0,             // actions in flight
    inventoryRoute: true,  // false once the daemon answered 404 (an older daemon)
    operationsRoute: true,
    firstRender: 0,      // ms from navigation to the first grid drawn
  };

  // ---- HTTP -------------------------------------------------------------

  class Api_Error extends Error {
    constructor(status, message, body) {
      super(message);
      this.status = status;
      this.body = body;
    }
  }

  let tokenPrompt = null;

  // One request; resolves with { text, data } (data: the parsed JSON or null),
  // rejects with Api_Error carrying the daemon's message.
  async function request(method, path, body) {
    for (let attempt = 0; ; ++attempt) {
      const headers = { Accept: 'application/json' };
      const token = sessionStorage.getItem(TOKEN_KEY);
      if (token) headers.Authorization = 'Bearer ' + token;
      const init = { method, headers, credentials: 'same-origin', cache: 'no-store',
                     redirect: 'error' };
      if (body !== undefined) {
        headers['Content-Type'] = 'application/json';
        init.body = JSON.stringify(body);
      }
      let res;
      try {
        res = await fetch(path, init);
      } catch (e) {
        throw new Api_Error(0, 'The daemon cannot be reached (' + e.message + ')');
      }
      const text = await res.text();
      if (res.status === 401 && attempt === 0 && await askToken(!!token)) continue;
      if (!res.ok) {
        const data = parse(text);
        let message = data && typeof data.message === 'string' ? data.message : '';
        if (!message) message = text.trim() || res.statusText || 'no message';
        if (data && data.faulty === true) message += ' (the drive is now marked faulty)';
        throw new Api_Error(res.status, message, data);
      }
      // Parsed on first use: an unchanged poll of a large library is
      // compared as text and never parsed.
      let parsed;
      return { text, get data() { if (parsed === undefined) parsed = parse(text); return parsed; } };
    }
  }

  function parse(text) {
    try { return text ? JSON.parse(text) : null; } catch (e) { return null; }
  }

  // Shows the token dialog (once at a time); true when a token was given.
  function askToken(rejected) {
    if (tokenPrompt) return tokenPrompt;
    const dlg = $('token');
    $('token-text').value = '';
    tokenPrompt = new Promise((resolve) => {
      dlg.querySelector('h3').textContent = rejected ? 'The access token was refused' : 'Access token';
      dlg.onclose = () => {
        tokenPrompt = null;
        const value = $('token-text').value.trim();
        if (dlg.returnValue === 'forget') sessionStorage.removeItem(TOKEN_KEY);
        if (dlg.returnValue === 'ok' && value) {
          sessionStorage.setItem(TOKEN_KEY, value);
          resolve(true);
          return;
        }
        resolve(false);
      };
      dlg.showModal();
    });
    return tokenPrompt;
  }

  // ---- Reading the daemon -----------------------------------------------
  //
  // The first picture comes from one small read: the inventory as a page
  // (every library with its drives, the first screenful of its slots and
  // "slot_count"). Nothing else is asked before it is drawn. Then the host's
  // device listing (info) is asked, and the rest of the selected library is
  // read in pages of PAGE_SLOTS slots, one after another: each page is
  // parsed on its own and the grid is redrawn only when the page holds
  // slots in view, so the page scrolls while the rest comes in.
  //
  // state.slots holds the selected library's slots read so far, in slot
  // order, from its first slot on: slots not read yet are the ones after
  // it. Every 3 s the slots in view (and the drives) are read again; the
  // whole library is read again, in pages, every LIBRARIES_MS and after an
  // action, which keeps the counts and Find right for slots out of view.

  function inventoryPath(serial, from, count) {
    return API + '/inventory?' + (serial ? 'serial_number=' + encodeURIComponent(serial) + '&' : '') +
      'from=' + from + '&count=' + count;
  }

  async function loadLibraries() {
    if (state.inventoryRoute) {
      try {
        const r = await request('GET', inventoryPath('', 1, firstPageSlots()));
        const stored = new Map();
        for (const lib of Array.isArray(r.data) ? r.data : []) stored.set(lib.serial_number, lib);
        state.stored = stored;
        if (!state.current) state.current = knownSerials()[0] || '';
        const lib = state.stored.get(state.current);
        if (lib) takeSlots(0, sortedSlots(lib), false);
        if (!window.consoleFirstDataMs) window.consoleFirstDataMs = Math.round(performance.now());
        drawLibraries();
        drawLibrary();
      } catch (e) {
        if (e.status === 404) state.inventoryRoute = false;
        else showError('Reading the inventory failed', e);
      }
    }
    readRest();
    try {
      const r = await request('GET', API + '/info');
      state.hostUuid = r.data && r.data.host_uuid || '';
      state.seen = r.data && Array.isArray(r.data.changers) ? r.data.changers : [];
    } catch (e) {
      showError('Listing the host\'s libraries failed', e);
    }
    if (!state.current || !knownSerials().includes(state.current)) selectLibrary(knownSerials()[0] || '');
    drawLibraries();
    drawLibrary();
    $('updated').textContent = 'Updated ' + new Date().toLocaleTimeString();
  }

  // Slots enough to fill the grid at its largest in this window.
  function firstPageSlots() {
    const cols = Math.ceil(Math.max(window.innerWidth, 800) / CELL_W);
    const rows = Math.ceil(Math.max(window.innerHeight * 0.62, 240) / CELL_H) + OVERSCAN_ROWS + 1;
    return Math.max(200, cols * rows);
  }

  function sortedSlots(lib) {
    return Array.isArray(lib.slots) ? lib.slots.slice().sort((a, b) => a.slot_number - b.slot_number) : [];
  }

  // True while the selected library's slots are not all read.
  function partial() {
    const lib = state.stored.get(state.current);
    return !!lib && typeof lib.slot_count === 'number' && state.slots.length < lib.slot_count;
  }

  // Puts slots read from the daemon (in slot order, following each other in
  // the library) into state.slots from index `at` on. Where slots were read
  // before, their numbers must line up; when they do not, the library
  // changed (a rescan): what was read from `at` on is dropped for these.
  // `last`: the read ended the library, so nothing follows them. True when
  // the numbers lined up.
  function takeSlots(at, slots, last) {
    const have = state.slots;
    if (at > have.length) return false;
    let same = true;
    for (let i = 0; i < slots.length && at + i < have.length; ++i) {
      if (have[at + i].slot_number !== slots[i].slot_number) { same = false; break; }
    }
    if (!same) have.length = at;
    for (let i = 0; i < slots.length; ++i) have[at + i] = slots[i];
    if (last && have.length > at + slots.length) {
      have.length = at + slots.length;
      same = false;
    }
    return same;
  }

  // Takes a library's description from an inventory reply (drives,
  // "slot_count"); its slots are taken by the caller.
  function takeLibrary(serial, lib) {
    const known = state.stored.get(serial);
    if (lib) state.stored.set(serial, Object.assign({}, lib, { slots: known ? known.slots : [] }));
    else state.stored.delete(serial);
  }

  // Reads the selected library whole, in pages; one read at a time, and one
  // more when asked again meanwhile.
  const read = { running: false, again: false, generation: 0 };

  async function readRest() {
    if (read.running) { read.again = true; return; }
    read.running = true;
    try {
      do {
        read.again = false;
        await readWhole(state.current, read.generation);
      } while (read.again);
    } catch (e) {
      showError('Reading the inventory failed', e);
    } finally {
      read.running = false;
    }
  }

  async function readWhole(serial, generation) {
    if (!serial || !state.inventoryRoute || !state.stored.has(serial)) return;
    let at = 0;
    let next = request('GET', inventoryPath(serial, 1, PAGE_SLOTS));
    for (;;) {
      const r = await next;
      if (generation !== read.generation) return;
      const lib = Array.isArray(r.data) && r.data.length ? r.data[0] : null;
      const slots = lib ? sortedSlots(lib) : [];
      // A reply without "slot_count" is the whole library, not a page.
      const last = !lib || typeof lib.slot_count !== 'number' || slots.length < PAGE_SLOTS ||
        at + slots.length >= lib.slot_count;
      // The next page is on its way while this one is taken in.
      if (!last) {
        next = request('GET', inventoryPath(serial, slots[slots.length - 1].slot_number + 1, PAGE_SLOTS));
      }
      const drivesBefore = JSON.stringify((state.stored.get(serial) || {}).drives);
      takeLibrary(serial, lib);
      takeSlots(at, slots, last);
      if (last) break;
      if (JSON.stringify(lib.drives) !== drivesBefore || inView(at, slots.length)) {
        drawLibrary();
      } else {
        drawCounts();
      }
      at += slots.length;
    }
    drawLibrary();
    if (!window.consoleAllSlotsMs && state.slots.length) {
      window.consoleAllSlotsMs = Math.round(performance.now());
    }
  }

  // True when slots [at, at + n) of the grid are drawn now.
  function inView(at, n) {
    return at < gridLast * gridCols && at + n > gridFirst * gridCols;
  }

  // The slots in view and the drives, read again; text compared first, so
  // an unchanged reply is not parsed.
  let viewText = '';
  async function readView() {
    const serial = state.current;
    if (!serial || !state.inventoryRoute || !state.stored.has(serial)) return;
    const at = Math.max(0, Math.min(gridFirst * gridCols, state.slots.length - 1));
    const from = state.slots.length ? state.slots[at].slot_number : 1;
    const count = Math.max(1, (gridLast - gridFirst) * gridCols);
    const path = inventoryPath(serial, from, count);
    const r = await request('GET', path);
    if (serial !== state.current || path + r.text === viewText) return;
    viewText = path + r.text;
    const lib = Array.isArray(r.data) && r.data.length ? r.data[0] : null;
    const slots = lib ? sortedSlots(lib) : [];
    takeLibrary(serial, lib);
    const end = !lib || slots.length < count;
    const same = takeSlots(at, slots, end && !read.running);
    if (!same || (lib && typeof lib.slot_count === 'number' && !read.running &&
        state.slots.length !== lib.slot_count)) {
      readRest();  // the library changed out of view
    }
    drawLibrary();
  }

  function knownSerials() {
    const serials = [...state.stored.keys()];
    for (const c of state.seen) if (!serials.includes(c.serial_number)) serials.push(c.serial_number);
    return serials;
  }

  // Another library is shown: its first page (kept from the last read of
  // every library) is drawn at once, the rest read after it.
  function selectLibrary(serial) {
    if (serial === state.current) return;
    state.current = serial;
    read.generation++;
    const lib = state.stored.get(serial);
    state.slots = lib ? sortedSlots(lib) : [];
    viewText = '';
    clearSelection();
    foundSlot = null;
    $('grid').scrollTop = 0;
    readRest();
  }

  async function pollCurrent() {
    const tasks = [];
    tasks.push(readView().catch((e) => showError('Reading the inventory failed', e)));
    if (state.operationsRoute) {
      tasks.push(request('GET', API + '/operations').then((r) => {
        state.operations = Array.isArray(r.data) ? r.data : [];
        drawOperations();
      }, (e) => {
        if (e.status === 404) state.operationsRoute = false;
        else showError('Reading the operations failed', e);
      }));
    }
    await Promise.all(tasks);
    $('updated').textContent = 'Updated ' + new Date().toLocaleTimeString();
  }

  // Polls the slots in view and the operations every POLL_MS, or less
  // often when a poll takes long: never more than a fifth of the time is
  // spent waiting for replies, and polls never overlap. Paused while the
  // tab is hidden.
  let lastLibraries = -Infinity;
  async function pollLoop() {
    const t0 = performance.now();
    if (!document.hidden) {
      if (t0 - lastLibraries >= LIBRARIES_MS) {
        lastLibraries = t0;
        await loadLibraries();
      } else {
        await pollCurrent();
      }
    }
    const took = performance.now() - t0;
    setTimeout(pollLoop, Math.max(POLL_MS, 4 * took));
  }

  // ---- Drawing ----------------------------------------------------------

  function esc(v) {
    return String(v === undefined || v === null ? '' : v).replace(/[&<>"']/g, (c) => (
      { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' }[c]));
  }

  function seenChanger(serial) {
    return state.seen.find((c) => c.serial_number === serial) || null;
  }

  function drawLibraries() {
    $('host').textContent = state.hostUuid ? 'host ' + state.hostUuid : '';
    const serials = knownSerials();
    $('libraries').innerHTML = serials.map((s) => {
      const lib = state.stored.get(s) || seenChanger(s) || {};
      const count = typeof lib.slot_count === 'number' ? lib.slot_count : (lib.slots || []).length;
      const note = state.stored.has(s) ? count + ' slots' : 'not in the inventory';
      return '<button type="button" data-library="' + esc(s) + '"' +
        (s === state.current ? ' class="current"' : '') + '>' + esc(s) +
        '<small>' + esc([lib.vendor, lib.model].filter(Boolean).join(' ')) + ' · ' + esc(note) +
        '</small></button>';
    }).join('');
    $('empty-note').hidden = serials.length > 0;
    $('library').hidden = serials.length === 0;
  }

  function slotKind(slot) {
    if (slot.is_porter) return 'porter';
    if (state.inDrive.has(slot.slot_number)) return 'indrive';
    const tag = slot.media_tag;
    // A cartridge without a label has no tag: the inventory says the slot holds one.
    if (slot.occupied && !tag) return 'unlabelled';
    if (slot.state === 'empty' || tag === undefined || tag === null) return 'empty';
    if (slot.state === 'clean' || /^CLN/i.test(tag)) return 'cleaning';
    return 'full';
  }

  function drawLibrary() {
    const serial = state.current;
    const lib = state.stored.get(serial);
    const seen = seenChanger(serial);
    const any = lib || seen;
    $('library').hidden = !any;
    if (!any) return;
    $('lib-title').textContent = serial;
    $('lib-detail').textContent = [any.vendor, any.model, any.sg_name,
      seen ? '' : '(not seen by the host now)'].filter(Boolean).join(' · ');
    const drives = lib && Array.isArray(lib.drives) ? lib.drives : [];
    state.inDrive = new Map();
    for (const d of drives) {
      if (d.slot_number !== null && d.slot_number !== undefined) state.inDrive.set(d.slot_number, d);
    }
    drawCounts();
    if (state.selected !== null && !state.slots.some((s) => s.slot_number === state.selected &&
        (slotKind(s) === 'full' || slotKind(s) === 'cleaning'))) {
      clearSelection();
    }
    drawDrives(drives);
    drawGrid(true);
    drawSelection();
    drawOperations();
  }

  // The counts of the selected library's slots; while it is read, how far
  // the read has come.
  function drawCounts() {
    const lib = state.stored.get(state.current);
    let html;
    if (!state.inventoryRoute) {
      html = '<span>This daemon has no inventory route; the console can only list its libraries.</span>';
    } else if (!lib) {
      html = '<span>Not in the inventory yet: a rescan reads it (and moves cartridges).</span>';
    } else if (partial()) {
      html = '<span><b>' + state.slots.length + '</b> of <b>' + lib.slot_count +
        '</b> slots read; reading the rest…</span>';
    } else {
      const counts = { full: 0, empty: 0, cleaning: 0, porter: 0, indrive: 0, unlabelled: 0 };
      for (const s of state.slots) counts[slotKind(s)]++;
      html = ['full', 'indrive', 'unlabelled', 'empty', 'cleaning', 'porter'].map((k) =>
        '<span><b>' + counts[k] + '</b> ' + (k === 'indrive' ? 'in drives' : k) + '</span>').join('');
    }
    $('lib-counts').innerHTML = html;
  }

  // The host column appears when the library's drives are attached to more
  // than one host (several daemons sharing one inventory); with one host it
  // would repeat one id on every row.
  function drawDrives(drives) {
    const picked = pickedSlot();
    const hosts = new Set(drives.map((d) => d.host_id || ''));
    const showHost = hosts.size > 1;
    $('drives-host').hidden = !showHost;
    $('drives').tBodies[0].innerHTML = drives.length ? drives.map((d) => {
      const loaded = d.slot_number !== null && d.slot_number !== undefined;
      const cartridge = loaded
        ? '<span class="tag">' + esc(d.media_tag || '(no label)') + '</span> <span class="muted">from slot ' +
          esc(d.slot_number) + '</span>'
        : '<span class="muted">empty</span>';
      let buttons = '';
      if (loaded) {
        buttons += '<button type="button" data-unload="' + esc(d.serial_number) + '">Unload…</button>';
      } else if (picked && picked.media_tag) {
        buttons += '<button type="button" data-load="' + esc(d.serial_number) + '">Load ' +
          esc(picked.media_tag) + '…</button>';
      }
      return '<tr data-drive="' + esc(d.serial_number) + '"' + (d.faulty ? ' class="faulty"' : '') + '>' +
        '<td class="num">' + esc(d.drive_number) + '</td>' +
        '<td class="tag">' + esc(d.serial_number) + '</td>' +
        '<td>' + esc(d.dev_name || '') + (d.sg_name ? ' <span class="muted">' + esc(d.sg_name) + '</span>' : '') + '</td>' +
        (showHost ? '<td class="tag host">' + esc(d.host_id || '') + '</td>' : '') +
        '<td class="cartridge">' + cartridge + '</td>' +
        '<td class="num failures">' + esc(d.failures === undefined ? '' : d.failures) + '</td>' +
        '<td class="faulty-flag">' + (d.faulty ? '<b>faulty</b>' : 'no') + '</td>' +
        '<td>' + buttons + '</td></tr>';
    }).join('') : '<tr><td colspan="7" class="muted">No drives in the inventory.</td></tr>';
  }

  // The grid draws only the rows in view (plus a few): its cost does not
  // grow with the number of slots, so 50,000 slots scroll as well as 50.
  let gridCols = 1, gridFirst = -1, gridLast = -1, gridFrame = 0;

  function drawGrid(force) {
    const grid = $('grid');
    // A library read in part so far scrolls over all its slots; those not
    // read yet are drawn as placeholders until they are.
    const n = partial() ? state.stored.get(state.current).slot_count : state.slots.length;
    const cols = Math.max(1, Math.floor((grid.clientWidth - 6) / CELL_W));
    const rows = Math.ceil(n / cols);
    if (cols !== gridCols) force = true;
    gridCols = cols;
    $('grid-spacer').style.height = (rows * CELL_H + 4) + 'px';
    const first = Math.max(0, Math.floor(grid.scrollTop / CELL_H) - OVERSCAN_ROWS);
    const last = Math.min(rows, Math.ceil((grid.scrollTop + grid.clientHeight) / CELL_H) + OVERSCAN_ROWS);
    if (!force && first === gridFirst && last === gridLast) return;
    gridFirst = first;
    gridLast = last;
    const box = $('grid-rows');
    box.style.gridTemplateColumns = 'repeat(' + cols + ', ' + CELL_W + 'px)';
    box.style.top = (first * CELL_H) + 'px';
    const parts = [];
    const end = Math.min(n, last * cols);
    for (let i = first * cols; i < end; ++i) {
      const s = state.slots[i];
      if (!s) {
        parts.push('<div class="cell loading" title="not read yet"><b>…</b><i></i></div>');
        continue;
      }
      const kind = slotKind(s);
      const tag = s.media_tag === undefined || s.media_tag === null ? '' : s.media_tag;
      const loaded = s.state !== 'empty' && s.media_tag !== undefined && s.media_tag !== null;
      let label = loaded || kind === 'unlabelled' ? (tag || '(no label)') : 'empty';
      const holder = kind === 'indrive' ? state.inDrive.get(s.slot_number) : null;
      parts.push('<div class="cell ' + kind + (s.slot_number === state.selected ? ' selected' : '') +
        (s.slot_number === foundSlot ? ' found' : '') + '" data-slot="' + s.slot_number +
        '" data-kind="' + kind + '" data-tag="' + esc(tag) + '" title="slot ' + s.slot_number +
        (s.is_porter ? ' (porter)' : '') + (tag ? ': ' + esc(tag) : '') +
        (holder ? ', in drive ' + esc(holder.serial_number) : '') + '"><b>' + s.slot_number +
        (s.is_porter ? ' porter' : '') + (holder ? ' ⇢ drive ' + esc(holder.drive_number) : '') +
        '</b><i>' + esc(label) + '</i></div>');
    }
    box.innerHTML = parts.join('');
    grid.classList.toggle('picking', state.picking);
    if (!state.firstRender && state.slots.length > 0) {
      state.firstRender = performance.now();
      window.consoleFirstRenderMs = Math.round(state.firstRender);
      requestAnimationFrame(() => { window.consoleFirstFrameMs = Math.round(performance.now()); });
      $('footer').textContent = n + ' slots drawn ' + Math.round(state.firstRender) +
        ' ms after the page was opened.';
    }
  }

  function scheduleGrid() {
    if (gridFrame) return;
    gridFrame = requestAnimationFrame(() => { gridFrame = 0; drawGrid(false); });
  }

  function drawOperations() {
    const mine = state.operations.find((o) => o.serial_number === state.current);
    const describe = (op, queued) => {
      const what = [op.kind];
      if (op.media_tag) what.push(op.media_tag);
      if (op.drive) what.push('drive ' + op.drive);
      if (Array.isArray(op.slots) && op.slots.length === 2) what.push('slot ' + op.slots[0] + ' → ' + op.slots[1]);
      const secs = typeof op.seconds === 'number' ? op.seconds.toFixed(1) + ' s' : '';
      return '<li' + (queued ? ' class="queued"' : '') + '>' + esc(what.join(' · ')) + ' — ' +
        (queued ? 'waiting ' : 'running ') + esc(secs) + '</li>';
    };
    const running = mine && Array.isArray(mine.running) ? mine.running : [];
    const queued = mine && Array.isArray(mine.queued) ? mine.queued : [];
    const box = $('operations');
    box.classList.toggle('muted', !running.length && !queued.length && !state.busy);
    let html = running.map((o) => describe(o, false)).join('') + queued.map((o) => describe(o, true)).join('');
    if (!html && state.busy) html = '<li>Waiting for the daemon…</li>';
    box.innerHTML = html ? '<ul>' + html + '</ul>' : 'Nothing running.';
  }

  // ---- Picking and actions ----------------------------------------------

  let foundSlot = null;

  function pickedSlot() {
    return state.selected === null ? null : state.slots.find((s) => s.slot_number === state.selected) || null;
  }

  function clearSelection() {
    state.selected = null;
    state.picking = false;
  }

  function drawSelection() {
    const box = $('selection');
    const s = pickedSlot();
    box.classList.toggle('active', !!s);
    if (!s) {
      box.textContent = 'Pick a cartridge in the grid to load or move it.';
      return;
    }
    if (state.picking) {
      box.innerHTML = 'Moving <span class="tag">' + esc(s.media_tag) + '</span> from slot ' + s.slot_number +
        ': pick an empty slot. <button type="button" id="pick-cancel">Cancel</button>';
      return;
    }
    box.innerHTML = 'Cartridge <span class="tag">' + esc(s.media_tag || '(no label)') + '</span> in slot ' +
      s.slot_number + ' — load it with a drive\'s button, or ' +
      '<button type="button" id="move-start">Move to a slot…</button>' +
      '<button type="button" id="pick-cancel" class="quiet">Clear</button>';
  }

  function onGridClick(ev) {
    const cell = ev.target.closest('.cell');
    if (!cell) return;
    const n = Number(cell.dataset.slot);
    const kind = cell.dataset.kind;
    const s = state.slots.find((x) => x.slot_number === n);
    if (!s) return;
    if (state.picking) {
      const from = pickedSlot();
      if (kind !== 'empty' || !from) return;
      confirmAction('Move a cartridge',
        'Move cartridge ' + (from.media_tag || '(no label)') + ' from slot ' + from.slot_number +
        ' to slot ' + n + ' of library ' + state.current + '?', false,
        () => act('Moving ' + from.media_tag, 'POST', API + '/media/transfer',
          { serial_number: state.current, media_tag: from.media_tag, from: from.slot_number, to: n }));
      return;
    }
    if (kind === 'full' || kind === 'cleaning') {
      state.selected = state.selected === n ? null : n;
    } else {
      state.selected = null;
    }
    redrawPicks();
  }

  function redrawPicks() {
    const lib = state.stored.get(state.current);
    drawDrives(lib && Array.isArray(lib.drives) ? lib.drives : []);
    drawGrid(true);
    drawSelection();
  }

  function onSelectionClick(ev) {
    if (ev.target.id === 'move-start') {
      state.picking = true;
    } else if (ev.target.id === 'pick-cancel') {
      clearSelection();
    } else {
      return;
    }
    redrawPicks();
  }

  function onDrivesClick(ev) {
    const b = ev.target.closest('button');
    if (!b) return;
    if (b.dataset.unload) {
      const serial = b.dataset.unload;
      const d = (state.stored.get(state.current).drives || []).find((x) => x.serial_number === serial);
      const what = d && d.media_tag ? 'cartridge ' + d.media_tag + ' back to slot ' + d.slot_number : 'its cartridge';
      confirmAction('Unload a drive', 'Unload drive ' + serial + ' and put ' + what + '?', false,
        () => act('Unloading ' + serial, 'POST', API + '/drive/unload', { serial_number: serial }));
    } else if (b.dataset.load) {
      const serial = b.dataset.load;
      const s = pickedSlot();
      if (!s) return;
      confirmAction('Load a drive', 'Load cartridge ' + s.media_tag + ' from slot ' + s.slot_number +
        ' into drive ' + serial + '?', false,
        () => act('Loading ' + s.media_tag, 'POST', API + '/drive/load',
          { serial_number: serial, media_tag: s.media_tag }));
    }
  }

  function onRefresh() {
    const serial = state.current;
    confirmAction('Refresh the library', 'Read the slots of library ' + serial +
      ' again? No cartridge is moved.', false,
      () => act('Refreshing ' + serial, 'GET', API + '/changer/refresh?serial_number=' + encodeURIComponent(serial)));
  }

  function onRescan() {
    const serial = state.current;
    confirmAction('Rescan the library', 'Rescan library ' + serial + ' from scratch?', true,
      () => act('Rescanning ' + serial, 'GET', API + '/list?serial_number=' + encodeURIComponent(serial)));
  }

  // The confirmation dialog; `run` is called only after Confirm. With
  // `moves`, a warning that cartridges move must be acknowledged first.
  function confirmAction(title, text, moves, run) {
    const dlg = $('confirm');
    $('confirm-title').textContent = title;
    $('confirm-text').textContent = text;
    $('confirm-warning').hidden = !moves;
    $('confirm-warning').textContent = moves
      ? 'A rescan empties every drive and loads cartridges into the drives to match them with ' +
        'their host devices: the robot moves cartridges for minutes, and nothing else runs on ' +
        'this library meanwhile.' : '';
    $('confirm-ack-label').hidden = !moves;
    $('confirm-ack').checked = false;
    $('confirm-ok').disabled = moves;
    dlg.returnValue = '';
    dlg.onclose = () => {
      if (dlg.returnValue === 'ok' && (!moves || $('confirm-ack').checked)) run();
    };
    dlg.showModal();
    $('confirm-cancel').focus();
  }

  async function act(what, method, path, body) {
    state.busy++;
    clearSelection();
    redrawPicks();
    drawOperations();
    setTimeout(pollCurrent, 300);  // show the operation while it runs
    try {
      await request(method, path, body);
      hideError();
    } catch (e) {
      showError(what + ' failed', e);
    } finally {
      state.busy--;
      viewText = '';
      readRest();
      await pollCurrent();
    }
  }

  // ---- Errors -----------------------------------------------------------

  function showError(what, e) {
    const status = e && e.status ? ' (HTTP ' + e.status + ')' : '';
    $('error-text').textContent = what + ': ' + (e && e.message ? e.message : String(e)) + status;
    $('error').hidden = false;
  }

  function hideError() { $('error').hidden = true; }

  // ---- Start ------------------------------------------------------------

  function onFind(ev) {
    ev.preventDefault();
    const q = $('find-text').value.trim();
    if (!q) return;
    let i = state.slots.findIndex((s) => (s.media_tag || '').toUpperCase() === q.toUpperCase());
    if (i < 0 && /^\d+$/.test(q)) i = state.slots.findIndex((s) => s.slot_number === Number(q));
    if (i < 0) {
      showError('Find', new Api_Error(0, partial()
        ? 'No slot read so far holds ' + q + '; the rest of the library is still being read'
        : 'No slot holds ' + q));
      return;
    }
    foundSlot = state.slots[i].slot_number;
    const grid = $('grid');
    grid.scrollTop = Math.max(0, Math.floor(i / gridCols) * CELL_H - grid.clientHeight / 3);
    drawGrid(true);
  }

  function start() {
    $('libraries').addEventListener('click', (ev) => {
      const b = ev.target.closest('button[data-library]');
      if (!b || b.dataset.library === state.current) return;
      selectLibrary(b.dataset.library);
      drawLibraries();
      drawLibrary();
      pollCurrent();
    });
    $('grid').addEventListener('scroll', scheduleGrid, { passive: true });
    window.addEventListener('resize', scheduleGrid);
    $('grid').addEventListener('click', onGridClick);
    $('drives').addEventListener('click', onDrivesClick);
    $('selection').addEventListener('click', onSelectionClick);
    $('refresh').addEventListener('click', onRefresh);
    $('rescan').addEventListener('click', onRescan);
    $('confirm-ack').addEventListener('change', () => { $('confirm-ok').disabled = !$('confirm-ack').checked; });
    $('error-close').addEventListener('click', hideError);
    $('find').addEventListener('submit', onFind);
    $('token-button').addEventListener('click', () => askToken(false).then((given) => { if (given) loadLibraries(); }));
    window.addEventListener('keydown', (ev) => {
      if (ev.key === 'Escape' && (state.picking || state.selected !== null)) { clearSelection(); redrawPicks(); }
    });
    pollLoop();
  }

  document.addEventListener('DOMContentLoaded', start);
})();
