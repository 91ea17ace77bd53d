// silog view's page: wires the log list, filters, histogram, detail pane, watches, process
// flow and sources to the server's state stream.

import { apiUrl, getJson, StateStream, token } from './api.js';
import { RowSource, BLOCK } from './rows.js';
import { LogList } from './list.js';
import { Histogram } from './histogram.js';
import { Facets } from './facets.js';
import { Detail } from './detail.js';
import { Watches } from './watches.js';
import { Flow } from './flow.js';
import * as F from './filters.js';
import { el, clear, fmtInt, fmtTime, throttle, serial, debounce, oneLine } from './util.js';

const $ = (selector) => document.querySelector(selector);

const app = {
    filter: F.fromHash(location.hash),
    server: null, // the last state from the server
    instance: null,
    tab: 'entry',
    pause: null, // {total, last, first} when the tail was paused
    lost: null, // state when the connection broke
    selectedSeq: 0,
};
window.silogView = app; // for the browser tests and the benchmark

// ---------------------------------------------------------------- theme

const THEMES = ['system', 'light', 'dark'];
const systemDark = matchMedia('(prefers-color-scheme: dark)');
// The palette in force: the switch's choice, or the system's while the switch says "system".
function applyScheme() {
    const theme = $('#theme').dataset.mode || 'system';
    document.documentElement.dataset.scheme = theme === 'system' ? (systemDark.matches ? 'dark' : 'light') : theme;
}
function applyTheme(theme) {
    const button = $('#theme');
    button.dataset.mode = theme;
    applyScheme();
    button.title = `Theme: ${theme} (click to change)`;
    $('#theme-label').textContent = theme === 'system' ? 'Auto' : theme === 'light' ? 'Light' : 'Dark';
    try {
        localStorage.setItem('silog-view-theme', theme);
    } catch {
        // private mode: the choice lasts for this page only
    }
    histogram?.draw();
    if (watches?.chart && watches.selected) watches.select(watches.selected);
}

// ---------------------------------------------------------------- parts

const source = new RowSource(onRows, onRowsError);
const list = new LogList($('#log'), source, {
    onSelect: (row) => selectRow(row),
    onOpen: (row) => {
        if (row) {
            selectRow(row);
            openDetail(row.seq);
        }
    },
    onFollow: (on) => followChanged(on),
    onView: (first, end) => {
        $('#status-view').textContent = source.total ? `rows ${fmtInt(first + 1)}–${fmtInt(end)} of ${fmtInt(source.total)}` : '';
    },
});
const histogram = new Histogram($('#histogram'), (from, to) => applyFilter({ ...app.filter, from, to }));
const facets = new Facets(
    $('#facets'),
    (key, value) => applyFilter(F.toggleValue(app.filter, key, value)),
    (key, value) => applyFilter({ ...app.filter, [key]: app.filter[key].length === 1 && app.filter[key][0] === value ? [] : [value] }),
    sourceName,
);
const detail = new Detail($('#detail'), sourceName);
const watches = new Watches($('#panel-watches'));
const flow = new Flow($('#panel-flow'), narrowTo);

function sourceName(id) {
    const s = app.server?.sources?.find((x) => x.id === id);
    if (!s) return id ? `source ${id}` : '';
    const who = [s.appName, s.hostName].filter(Boolean).join(' on ');
    return who ? `${who} (${s.kind})` : `${s.kind} ${s.name}`;
}

// ---------------------------------------------------------------- filter

function applyFilter(filter, { fromHash = false } = {}) {
    app.filter = filter;
    if (!fromHash) {
        const hash = F.toHash(filter);
        history.replaceState(null, '', `${location.pathname}${location.search}${hash}`);
    }
    $('#q').value = filter.q;
    $('#re').setAttribute('aria-pressed', filter.re ? 'true' : 'false');
    $('#q').classList.remove('invalid');
    $('#q-error').hidden = true;
    renderFilterChips();
    facets.setFilter(filter);
    updateExportLinks();
    const keep = list.following ? 0 : list.selectedSeq;
    source.setParams(F.toParams(filter));
    list.selectedIndex = -1;
    app.filterApplied = performance.now();
    if (list.following || !keep) {
        list.top = 0;
        loadTail();
    } else {
        jumpToSeq(keep, true);
    }
    histogram.load(F.toParams(filter));
}

// Shows the row with seq (or the first one after it) a third down the screen.
async function jumpToSeq(seq, select) {
    const before = Math.floor(list.pool.length / 3);
    const index = await source.around(seq, before, list.pool.length + BLOCK, true);
    if (index === null) {
        list.top = 0;
        source.fetch({ offset: 0, limit: BLOCK });
        return;
    }
    list.top = Math.max(0, index - before);
    list.layout();
    if (select && source.total) list.select(Math.min(index, source.total - 1), false);
}

function renderFilterChips() {
    const chips = $('#chips');
    clear(chips);
    const f = app.filter;
    const add = (label, remove) => {
        const chip = el('span', 'chip');
        chip.appendChild(el('span', '', label));
        const x = el('button', 'chip-x', '×');
        x.type = 'button';
        x.title = 'Remove this filter';
        x.addEventListener('click', remove);
        chip.appendChild(x);
        chips.appendChild(chip);
    };
    const names = { types: 'type', session: 'session', app: 'app', host: 'host', pid: 'process', tid: 'thread', source: 'source' };
    for (const key of F.LIST_KEYS) {
        if (!f[key].length) continue;
        const values = key === 'source' ? f[key].map((v) => sourceName(Number(v))) : f[key].map((v) => oneLine(v));
        add(`${names[key]}: ${values.join(' | ')}`, () => applyFilter({ ...app.filter, [key]: [] }));
    }
    if (f.from !== null || f.to !== null) {
        const label = `time: ${f.from !== null ? fmtTime(f.from, true) : '…'} – ${f.to !== null ? fmtTime(f.to, true) : 'now'}`;
        add(label, () => applyFilter({ ...app.filter, from: null, to: null }));
    }
    $('#clear-filters').disabled = F.isEmpty(f);
}

function clearFilters() {
    applyFilter(F.emptyFilter());
}

function narrowTo({ host, pid, tid, from, to }) {
    const f = { ...app.filter };
    f.host = host !== undefined && host !== null ? [String(host)] : [];
    f.pid = pid !== undefined && pid !== null ? [String(pid)] : [];
    f.tid = tid !== undefined && tid !== null ? [String(tid)] : [];
    // Whole milliseconds around the span: row times and flow times may differ in fractions.
    f.from = from === null || from === undefined ? null : Math.floor(from);
    f.to = to === null || to === undefined ? null : Math.ceil(to);
    list.setFollowing(to === null || to === undefined);
    applyFilter(f);
}

function updateExportLinks() {
    const params = F.toParams(app.filter);
    $('#export-jsonl').href = apiUrl('api/export', { ...params, format: 'jsonl' });
    $('#export-csv').href = apiUrl('api/export', { ...params, format: 'csv' });
}

// ---------------------------------------------------------------- rows

function onRows(reason, shift) {
    if (reason === 'moved' && !list.following) {
        if (shift !== null) {
            // The rows on screen moved by `shift` places: follow them.
            list.top = Math.max(0, list.top + shift);
        } else {
            // Moved by more than the page holds: find the view's row again by its seq.
            list.anchorFrozen = true;
            refreshPaused();
        }
    }
    list.rowsArrived();
    list.refresh();
    updateStatus();
    if (app.filterApplied && source.total >= 0) {
        app.lastFilterTime = performance.now() - app.filterApplied;
        app.filterApplied = 0;
    }
    if (!source.total) $('#log-empty-text').textContent = emptyText();
}

function emptyText() {
    if (!app.server) return 'Waiting for silog view…';
    if (!F.isEmpty(app.filter)) return 'No entry matches the filter. Press x to clear it.';
    if (app.server.cleared) return 'The log was cleared. New entries appear here.';
    return 'No entries yet. Entries appear here as they arrive.';
}

function onRowsError(err) {
    if (err.status === 400) {
        $('#q').classList.add('invalid');
        $('#q-error').textContent = err.message;
        $('#q-error').hidden = false;
    }
}

let tailBusy = false;
let tailAgain = false;
async function loadTail() {
    if (tailBusy) {
        tailAgain = true;
        return;
    }
    tailBusy = true;
    // The tail covers the screen and the overscan above it.
    await source.tail(list.pool.length + BLOCK);
    tailBusy = false;
    if (tailAgain) {
        tailAgain = false;
        loadTail();
    }
}

// While paused the rows on screen stay; only the count of new rows changes. The screen is
// read again around its first row by seq, so when --keep drops or a clear removes older rows
// (every offset moves) the view keeps its rows and the offset is corrected.
// Serial: two overlapping runs would let the older one's answer move the view after the newer
// one had read where it stood, and the newer answer (after rows were dropped) would be lost.
const refreshPaused = throttle(serial(async () => {
    if (list.following) return;
    const first = Math.floor(list.top);
    const anchor = list.anchor();
    if (anchor) {
        const frac = list.top - first;
        const index = await source.around(anchor, BLOCK / 2, list.pool.length + BLOCK, true);
        list.anchorFrozen = false;
        if (index !== null && !list.following && Math.floor(list.top) === first) {
            list.top = index + frac;
            list.layout();
        }
    }
    if (app.pause) {
        const found = await source.offsetOf(app.pause.last + 1);
        if (found && app.pause) app.pause.fresh = Math.max(0, found.total - found.offset);
    }
    updateNewMarker();
}), 400);

function followChanged(on) {
    $('#follow').classList.toggle('paused', !on);
    $('#follow').setAttribute('aria-pressed', on ? 'true' : 'false');
    $('#follow-label').textContent = on ? 'Live' : 'Paused';
    if (on) {
        app.pause = null;
        loadTail();
    } else {
        app.pause = { total: source.total, last: source.last };
    }
    updateNewMarker();
}

function updateNewMarker() {
    const marker = $('#new-marker');
    if (list.following || !app.pause) {
        marker.hidden = true;
        return;
    }
    const fresh = app.pause.fresh ?? Math.max(0, source.total - app.pause.total + (app.pause.dropped || 0));
    marker.hidden = fresh === 0;
    $('#new-count').textContent = `${fmtInt(fresh)} new`;
}

function selectRow(row) {
    app.selectedSeq = row.seq;
    if (app.tab === 'entry') showDetailSoon(row.seq);
}

const showDetailSoon = debounce((seq) => detail.show(seq), 60);

function openDetail(seq) {
    setTab('entry');
    detail.show(seq);
}

// ---------------------------------------------------------------- server state

let lastFacets = -Infinity;
let lastHistogram = -Infinity;
function onState(state) {
    const previous = app.server;
    if (app.instance && state.instance !== app.instance) {
        restarted(state);
        return;
    }
    app.instance = state.instance;
    app.server = state;
    if (app.lost) reconnected(state);
    if (previous && (state.first !== previous.first || state.cleared !== previous.cleared)) {
        // Rows dropped by --keep or cleared: offsets moved.
        source.invalidate();
        if (app.pause) app.pause.dropped = (app.pause.dropped || 0) + Math.max(0, state.dropped - previous.dropped);
    }
    const grew = !previous || state.last !== previous.last || state.cleared !== previous.cleared;
    if (grew) {
        if (list.following) loadTail();
        else refreshPaused();
    }
    const now = performance.now();
    // Facets and the histogram cost a scan of the kept rows: at most once a second, and
    // less often for a large log.
    const every = state.kept > 200_000 ? 2500 : 1000;
    if (grew && now - lastFacets > every) {
        lastFacets = now;
        facets.load();
    }
    if (grew && now - lastHistogram > every) {
        lastHistogram = now;
        histogram.load(F.toParams(app.filter));
    } else if (grew) scheduleSlow();
    if (app.tab === 'watches') watches.update(state.watches);
    if (app.tab === 'flow') flow.update(state.flow);
    $('#tab-watches').classList.toggle('changed', app.tab !== 'watches' && state.watches !== watches.version);
    $('#tab-flow').classList.toggle('changed', app.tab !== 'flow' && state.flow !== flow.version);
    renderSources(state);
    updateStatus();
    renderFilterChips();
}

// After a burst, the last histogram and facet refresh comes once it is over.
const scheduleSlow = debounce(() => {
    lastFacets = lastHistogram = performance.now();
    facets.load();
    histogram.load(F.toParams(app.filter));
}, 1200);

function restarted(state) {
    const before = app.server;
    app.instance = state.instance;
    app.server = state;
    app.lost = null;
    source.setParams(F.toParams(app.filter));
    list.selectedSeq = 0;
    list.selectedIndex = -1;
    detail.showEmpty();
    list.setFollowing(true);
    loadTail();
    facets.load();
    histogram.load(F.toParams(app.filter));
    watches.update(-1, true);
    flow.update(-1, true);
    renderSources(state);
    updateStatus();
    showBanner(
        'info',
        `silog view was restarted: this is a new run (${fmtInt(state.kept)} entries kept${state.dropped ? `, ${fmtInt(state.dropped)} dropped by its limit` : ''}). The entries of the earlier run${before ? ` (${fmtInt(before.kept)})` : ''} are gone with it.`,
    );
}

function reconnected(state) {
    const lost = app.lost;
    app.lost = null;
    const arrived = Math.max(0, state.received - lost.received);
    const dropped = Math.max(0, state.dropped - lost.dropped);
    source.invalidate();
    if (list.following) loadTail();
    else refreshPaused();
    facets.load();
    histogram.load(F.toParams(app.filter));
    watches.update(-1, true);
    flow.update(-1, true);
    let text = `Reconnected. ${fmtInt(arrived)} packet${arrived === 1 ? '' : 's'} arrived while the page was away`;
    text += dropped ? `; the server's limit (--keep ${fmtInt(state.keep)}) dropped ${fmtInt(dropped)} entries meanwhile.` : '; nothing was dropped.';
    showBanner(dropped ? 'warn' : 'info', text);
}

function onConnection(info) {
    const conn = $('#conn');
    if (info.connected) {
        conn.className = 'conn ok';
        $('#conn-label').textContent = 'Connected';
        if (!app.lost) hideBanner('error');
        return;
    }
    conn.className = 'conn down';
    $('#conn-label').textContent = info.unauthorized ? 'No access' : 'Disconnected';
    if (info.unauthorized) {
        showBanner('error', 'silog view refused this page: open the URL with the token that silog view printed when it started.');
        return;
    }
    if (!app.lost && app.server) app.lost = { ...app.server };
    const seconds = Math.round(info.retryIn / 100) / 10;
    showBanner('error', `silog view is not answering. Retrying in ${seconds} s (attempt ${info.attempt}).`, { retry: true });
}

function showBanner(kind, text, { retry = false } = {}) {
    const banner = $('#banner');
    banner.className = `banner ${kind}`;
    banner.hidden = false;
    $('#banner-text').textContent = text;
    $('#banner-retry').hidden = !retry;
    clearTimeout(app.bannerTimer);
    if (kind !== 'error') app.bannerTimer = setTimeout(() => hideBanner(kind), 15000);
}

function hideBanner(kind) {
    const banner = $('#banner');
    if (!kind || banner.classList.contains(kind)) banner.hidden = true;
}

function updateStatus() {
    const s = app.server;
    if (!s) return;
    $('#status-match').textContent = F.isEmpty(app.filter) ? `${fmtInt(source.total)} rows` : `${fmtInt(source.total)} of ${fmtInt(s.kept)} rows match`;
    $('#status-kept').textContent = `kept ${fmtInt(s.kept)} / ${fmtInt(s.keep)}`;
    const dropped = $('#status-dropped');
    dropped.textContent = s.dropped ? `${fmtInt(s.dropped)} dropped by --keep` : '';
    dropped.hidden = !s.dropped;
    const cleared = $('#status-cleared');
    cleared.textContent = s.cleared ? `cleared up to #${fmtInt(s.cleared)}` : '';
    cleared.hidden = !s.cleared;
    $('#status-received').textContent = `${fmtInt(s.received)} received`;
    const live = s.sources.filter((x) => x.state === 'connected' || x.state === 'following' || x.state === 'reading').length;
    $('#status-sources').textContent = `${s.sources.length} source${s.sources.length === 1 ? '' : 's'}${live ? `, ${live} live` : ''}`;
    updateNewMarker();
}

function renderSources(state) {
    const key = JSON.stringify(state.sources);
    if (key === app.sourcesKey) return;
    app.sourcesKey = key;
    const root = $('#sources');
    const table = el('table', 'sources-table');
    const head = el('thead');
    const hr = el('tr');
    for (const name of ['', 'Source', 'Packets']) hr.appendChild(el('th', '', name));
    head.appendChild(hr);
    const body = el('tbody');
    for (const s of state.sources) {
        const tr = el('tr', `state-${s.state}`);
        tr.dataset.id = s.id;
        const dot = el('td', 'dot-cell');
        dot.appendChild(el('span', `state-dot ${s.state}`));
        const name = el('td', 'src-name');
        const line = el('div', 'src-line');
        line.append(el('span', 'src-kind', s.kind), el('span', 'src-title', oneLine(s.name)));
        name.appendChild(line);
        const who = [s.appName, s.hostName].filter(Boolean).map(oneLine).join(' on ');
        if (who) name.appendChild(el('div', 'small', who));
        if (s.banner) name.appendChild(el('div', 'muted small', oneLine(s.banner)));
        if (s.error) name.appendChild(el('div', 'error-text small', oneLine(s.error)));
        const count = el('td', 'num');
        count.append(el('div', '', fmtInt(s.packets)), el('div', `src-state small ${s.state}`, s.state));
        tr.append(dot, name, count);
        tr.addEventListener('click', () => applyFilter(F.toggleValue(app.filter, 'source', String(s.id))));
        tr.title = 'Click to filter the log to this source';
        body.appendChild(tr);
    }
    table.append(head, body);
    clear(root).appendChild(table);
    if (!state.sources.length) root.appendChild(el('div', 'placeholder', 'No sources yet.'));
    facets.render();
}

// ---------------------------------------------------------------- tabs and keys

function setTab(tab) {
    app.tab = tab;
    for (const button of document.querySelectorAll('.side-tabs .tab')) {
        const on = button.dataset.tab === tab;
        button.classList.toggle('active', on);
        button.setAttribute('aria-selected', on ? 'true' : 'false');
    }
    for (const panel of document.querySelectorAll('.panel')) panel.hidden = panel.id !== `panel-${tab}`;
    if (tab === 'watches' && app.server) {
        watches.update(app.server.watches);
        $('#tab-watches').classList.remove('changed');
    }
    if (tab === 'flow' && app.server) {
        flow.update(app.server.flow);
        $('#tab-flow').classList.remove('changed');
    }
    if (tab === 'entry' && list.selectedSeq && detail.seq !== list.selectedSeq) detail.show(list.selectedSeq);
}

function isTyping(target) {
    return target && (target.tagName === 'INPUT' || target.tagName === 'TEXTAREA' || target.isContentEditable);
}

document.addEventListener('keydown', (event) => {
    if (event.ctrlKey || event.metaKey || event.altKey) return;
    const typing = isTyping(event.target);
    if (event.key === 'Escape') {
        if (typing) {
            event.target.blur();
            $('#log-rows').focus();
        } else if (!$('#help').hidden) {
            $('#help').hidden = true;
        } else if (list.selectedSeq) {
            list.selectedSeq = 0;
            list.selectedIndex = -1;
            list.layout();
            detail.showEmpty();
        }
        event.preventDefault();
        return;
    }
    if (typing) {
        if (event.key === 'Enter' && event.target.id === 'q') {
            applyTextNow();
            event.target.blur();
            $('#log-rows').focus();
        }
        return;
    }
    if (event.target.tagName === 'BUTTON' && (event.key === ' ' || event.key === 'Enter')) return;
    switch (event.key) {
        case 'ArrowDown':
        case 'j':
            list.move(1);
            break;
        case 'ArrowUp':
        case 'k':
            list.move(-1);
            break;
        case 'PageDown':
            list.move(list.pageRows());
            break;
        case 'PageUp':
            list.move(-list.pageRows());
            break;
        case 'Home':
            list.home();
            break;
        case 'End':
            list.end();
            break;
        case 'Enter':
            if (list.selectedSeq) openDetail(list.selectedSeq);
            break;
        case ' ':
            list.setFollowing(!list.following);
            break;
        case '/':
            $('#q').focus();
            $('#q').select();
            break;
        case 'x':
            clearFilters();
            break;
        case '?':
            $('#help').hidden = !$('#help').hidden;
            break;
        default:
            return;
    }
    event.preventDefault();
});

const applyTextSoon = debounce(() => applyTextNow(), 150);
function applyTextNow() {
    const q = $('#q').value;
    if (q === app.filter.q) return;
    applyFilter({ ...app.filter, q });
}

function bindControls() {
    $('#q').addEventListener('input', applyTextSoon);
    $('#re').addEventListener('click', () => applyFilter({ ...app.filter, re: !app.filter.re }));
    $('#clear-filters').addEventListener('click', clearFilters);
    $('#follow').addEventListener('click', () => list.setFollowing(!list.following));
    $('#new-marker').addEventListener('click', () => list.setFollowing(true));
    $('#banner-retry').addEventListener('click', () => stream.retryNow());
    $('#banner-close').addEventListener('click', () => hideBanner());
    $('#help-button').addEventListener('click', () => ($('#help').hidden = !$('#help').hidden));
    $('#help-close').addEventListener('click', () => ($('#help').hidden = true));
    $('#theme').addEventListener('click', () => {
        const current = $('#theme').dataset.mode || 'system';
        applyTheme(THEMES[(THEMES.indexOf(current) + 1) % THEMES.length]);
    });
    for (const button of document.querySelectorAll('.side-tabs .tab')) button.addEventListener('click', () => setTab(button.dataset.tab));
    window.addEventListener('hashchange', () => applyFilter(F.fromHash(location.hash), { fromHash: true }));
    systemDark.addEventListener('change', () => {
        applyScheme();
        histogram.draw();
    });
    // The splitter between the log and the side pane.
    const split = $('#splitter');
    split.addEventListener('pointerdown', (event) => {
        split.setPointerCapture(event.pointerId);
        const move = (e) => {
            const width = Math.min(window.innerWidth - 420, Math.max(280, window.innerWidth - e.clientX));
            document.documentElement.style.setProperty('--side-width', `${width}px`);
        };
        const up = () => {
            split.removeEventListener('pointermove', move);
            split.removeEventListener('pointerup', up);
        };
        split.addEventListener('pointermove', move);
        split.addEventListener('pointerup', up);
    });
}

// ---------------------------------------------------------------- start

let stream;
function start() {
    let theme = 'system';
    try {
        theme = localStorage.getItem('silog-view-theme') || 'system';
    } catch {
        theme = 'system';
    }
    applyTheme(THEMES.includes(theme) ? theme : 'system');
    bindControls();
    applyFilter(app.filter, { fromHash: true });
    setTab('entry');
    stream = new StateStream(onState, onConnection);
    stream.start();
    $('#log-rows').focus();
    app.ready = true;
}

Object.assign(app, { list, source, histogram, facets, detail, watches, flow, applyFilter, setTab, token, getJson });
start();
