// The log view: a virtual list. Only the rows on screen exist as elements (a fixed pool,
// reused); the scroll bar is a separate element whose height is capped, and its position is
// scaled to the row index, so a million rows stay reachable past the browser's element height
// limit. The wheel and the keys move by rows, not by scaled pixels.

import { el, clear, oneLine, timeOfDay, fmtInt } from './util.js';
import { typeIcon, typeShape } from './icons.js';
import { BLOCK } from './rows.js';

const MAX_SCROLL_HEIGHT = 8_000_000; // px; below every browser's limit

export const COLUMNS = [
    { key: 'time', label: 'Time', width: 108 },
    { key: 'type', label: 'Type', width: 128 },
    { key: 'title', label: 'Title', width: 0 }, // takes the rest
    { key: 'session', label: 'Session', width: 90 },
    { key: 'app', label: 'Application', width: 110 },
    { key: 'host', label: 'Host', width: 100 },
    { key: 'pid', label: 'Process', width: 52, short: 'PID' },
    { key: 'tid', label: 'Thread', width: 52, short: 'TID' },
];

export class LogList {
    constructor(root, source, handlers) {
        this.root = root;
        this.source = source;
        this.handlers = handlers; // onSelect(row, index), onOpen(row), onFollow(bool), onView()
        this.head = root.querySelector('.log-head');
        this.body = root.querySelector('.log-body');
        this.scroller = root.querySelector('.log-scroll');
        this.spacer = root.querySelector('.log-spacer');
        this.rowsEl = root.querySelector('.log-rows');
        this.empty = root.querySelector('.log-empty');
        this.top = 0; // fractional index of the first row on screen
        this.following = true;
        this.selectedIndex = -1;
        this.selectedSeq = 0;
        this.pool = [];
        this.rowHeight = 22;
        this.expectScroll = -1;
        this.frame = 0;
        this.widths = COLUMNS.map((c) => c.width);
        this.maxScrollHeight = MAX_SCROLL_HEIGHT;
        this.buildHead();
        this.applyWidths();
        this.measure();
        this.bind();
    }

    buildHead() {
        clear(this.head);
        COLUMNS.forEach((column, i) => {
            const cell = el('div', `cell c-${column.key}`, column.short || column.label);
            cell.title = column.label;
            cell.setAttribute('role', 'columnheader');
            if (column.width) {
                const grip = el('div', 'grip');
                grip.addEventListener('pointerdown', (event) => this.startResize(event, i));
                cell.appendChild(grip);
            }
            this.head.appendChild(cell);
        });
    }

    applyWidths() {
        const template = this.widths.map((w) => (w ? `${w}px` : 'minmax(120px, 1fr)')).join(' ');
        this.root.style.setProperty('--columns', template);
    }

    startResize(event, index) {
        event.preventDefault();
        const startX = event.clientX;
        const startWidth = this.widths[index];
        const move = (e) => {
            this.widths[index] = Math.max(40, startWidth + e.clientX - startX);
            this.applyWidths();
        };
        const up = () => {
            window.removeEventListener('pointermove', move);
            window.removeEventListener('pointerup', up);
        };
        window.addEventListener('pointermove', move);
        window.addEventListener('pointerup', up);
    }

    measure() {
        const probe = getComputedStyle(this.root).getPropertyValue('--row-height');
        const height = parseFloat(probe);
        if (height > 0) this.rowHeight = height;
        this.viewHeight = this.body.clientHeight;
        const scrollbar = this.scroller.offsetWidth - this.scroller.clientWidth;
        this.root.style.setProperty('--scrollbar', `${scrollbar}px`);
        const needed = Math.ceil(this.viewHeight / this.rowHeight) + 1;
        while (this.pool.length < needed) this.pool.push(this.makeRow());
        while (this.pool.length > needed) this.pool.pop().node.remove();
    }

    makeRow() {
        const node = el('div', 'row');
        node.setAttribute('role', 'row');
        const cells = {};
        for (const column of COLUMNS) {
            const cell = el('div', `cell c-${column.key}`);
            cells[column.key] = cell;
            node.appendChild(cell);
        }
        const iconSlot = el('span', 'type-icon');
        const typeName = el('span', 'type-name');
        cells.type.append(iconSlot, typeName);
        this.rowsEl.appendChild(node);
        return { node, cells, iconSlot, typeName, shape: '', seq: -1, index: -1 };
    }

    bind() {
        this.rowsEl.addEventListener(
            'wheel',
            (event) => {
                event.preventDefault();
                let rows;
                if (event.deltaMode === 1) rows = event.deltaY;
                else if (event.deltaMode === 2) rows = event.deltaY * this.pageRows();
                else rows = event.deltaY / this.rowHeight;
                this.scrollBy(rows, true);
            },
            { passive: false },
        );
        // A scroll event comes from the user only right after their hand was on the scroll
        // bar; the others come from the list's own changes (a shorter log clamps the bar) and
        // must not pause the tail.
        const touched = () => (this.userScrollAt = performance.now());
        this.scroller.addEventListener('pointerdown', () => {
            this.pointerDown = true;
            touched();
        });
        window.addEventListener('pointerup', () => (this.pointerDown = false));
        this.scroller.addEventListener('wheel', touched, { passive: true });
        this.scroller.addEventListener('keydown', touched);
        this.scroller.addEventListener('scroll', () => {
            const value = this.scroller.scrollTop;
            if (this.expectScroll >= 0 && Math.abs(value - this.expectScroll) <= 1) return;
            this.expectScroll = -1;
            const byUser = this.pointerDown || performance.now() - (this.userScrollAt || -1e9) < 1000;
            if (!byUser && this.following) {
                this.layout();
                return;
            }
            const maxScroll = this.spacer.offsetHeight - this.scroller.clientHeight;
            const maxTop = this.maxTop();
            const next = maxScroll > 0 ? (value / maxScroll) * maxTop : 0;
            this.setTop(next, byUser);
        });
        this.rowsEl.addEventListener('click', (event) => {
            const rowNode = event.target.closest('.row');
            if (!rowNode) return;
            const item = this.pool.find((p) => p.node === rowNode);
            if (!item || item.index < 0) return;
            this.select(item.index, false);
            this.handlers.onOpen?.(this.source.row(item.index));
        });
        this.rowsEl.addEventListener('dblclick', () => this.handlers.onOpenFull?.());
        new ResizeObserver(() => {
            this.measure();
            if (this.following) this.top = this.maxTop();
            this.layout();
        }).observe(this.body);
    }

    pageRows() {
        return Math.max(1, Math.floor(this.viewHeight / this.rowHeight) - 1);
    }

    maxTop() {
        return Math.max(0, this.source.total - this.viewHeight / this.rowHeight);
    }

    // The user moved: leaving the end pauses the tail, reaching it resumes.
    scrollBy(rows, byUser) {
        this.setTop(this.top + rows, byUser);
    }

    setTop(value, byUser) {
        const maxTop = this.maxTop();
        const next = Math.min(maxTop, Math.max(0, value));
        if (byUser) {
            if (next < maxTop - 0.01 && this.following && next < this.top) this.setFollowing(false);
            else if (next >= maxTop - 0.01 && !this.following && value >= this.top) this.setFollowing(true);
        }
        this.top = next;
        this.layout();
    }

    setFollowing(on) {
        if (this.following === on) return;
        this.following = on;
        this.handlers.onFollow?.(on);
        if (on) this.toEnd();
    }

    toEnd() {
        this.top = this.maxTop();
        this.layout();
    }

    // After new data (rows or a new total): keep the end in view when following.
    refresh() {
        if (this.following) this.top = this.maxTop();
        else this.top = Math.min(this.top, this.maxTop());
        this.layout();
    }

    layout() {
        if (this.frame) return;
        this.frame = requestAnimationFrame(() => {
            this.frame = 0;
            this.draw();
        });
    }

    syncScrollbar() {
        const total = this.source.total;
        const fullHeight = total * this.rowHeight;
        const height = Math.min(fullHeight, this.maxScrollHeight);
        if (this.spacer.offsetHeight !== Math.round(height)) this.spacer.style.height = `${Math.round(height)}px`;
        const maxScroll = Math.max(0, height - this.scroller.clientHeight);
        const maxTop = this.maxTop();
        const target = maxTop > 0 ? Math.round((this.top / maxTop) * maxScroll) : 0;
        if (Math.abs(this.scroller.scrollTop - target) > 1) {
            this.expectScroll = target;
            this.scroller.scrollTop = target;
        }
    }

    draw() {
        const source = this.source;
        const total = source.total;
        this.syncScrollbar();
        const first = Math.floor(this.top);
        // The row the view stands on, by seq: a paused view finds it again after offsets move.
        const topRow = source.row(first);
        if (topRow && !this.anchorFrozen) this.anchorSeq = topRow.seq;
        const shift = -(this.top - first) * this.rowHeight;
        this.rowsEl.style.transform = `translateY(${shift}px)`;
        source.ensure(first - BLOCK / 2, first + this.pool.length + BLOCK / 2);
        for (let i = 0; i < this.pool.length; i++) {
            const item = this.pool[i];
            const index = first + i;
            if (index >= total) {
                if (!item.node.hidden) {
                    item.node.hidden = true;
                    item.index = -1;
                    item.seq = -1;
                }
                continue;
            }
            item.node.hidden = false;
            const row = source.row(index);
            item.index = index;
            if (!row) {
                if (item.seq !== 0) this.fillPlaceholder(item);
                continue;
            }
            if (item.seq !== row.seq) this.fill(item, row);
            item.node.classList.toggle('selected', row.seq === this.selectedSeq);
        }
        this.empty.hidden = total > 0 || !source.known;
        this.handlers.onView?.(first, Math.min(total, first + this.pool.length));
    }

    fillPlaceholder(item) {
        item.seq = 0;
        item.node.className = 'row loading';
        item.node.style.removeProperty('--row-bg');
        for (const cell of Object.values(item.cells)) if (cell !== item.cells.type) cell.textContent = '';
        item.typeName.textContent = '';
        clear(item.iconSlot);
        item.shape = '';
        item.cells.title.textContent = '…';
    }

    fill(item, row) {
        item.seq = row.seq;
        const control = row.kind === 'control';
        let className = `row sev-${row.sev ?? 1}`;
        if (control) className += ' control';
        if (row.color) {
            className += ' colored';
            item.node.style.setProperty('--row-bg', row.color);
        } else {
            item.node.style.removeProperty('--row-bg');
        }
        item.node.className = className;
        item.node.dataset.seq = row.seq;
        const c = item.cells;
        c.time.textContent = timeOfDay(row);
        const shape = typeShape(row.logEntryType, row.kind);
        if (item.shape !== shape) {
            clear(item.iconSlot);
            item.iconSlot.appendChild(typeIcon(row.logEntryType, row.kind));
            item.shape = shape;
        }
        item.typeName.textContent = control ? row.controlCommandType : row.logEntryType;
        if (control) {
            c.title.textContent = `Control command ${row.controlCommandType}`;
            c.session.textContent = c.app.textContent = c.host.textContent = '';
            c.pid.textContent = c.tid.textContent = '';
        } else {
            c.title.textContent = oneLine(row.title);
            c.session.textContent = oneLine(row.sessionName);
            c.app.textContent = oneLine(row.appName);
            c.host.textContent = oneLine(row.hostName);
            c.pid.textContent = row.processId ?? '';
            c.tid.textContent = row.threadId ?? '';
        }
        c.title.title = control ? '' : row.titleLength > 1000 ? `${fmtInt(row.titleLength)} bytes` : '';
    }

    // Selection by index in the filtered rows.
    select(index, scroll = true) {
        const total = this.source.total;
        if (total === 0) return;
        index = Math.min(total - 1, Math.max(0, index));
        this.selectedIndex = index;
        const row = this.source.row(index);
        this.selectedSeq = row ? row.seq : 0;
        if (scroll) this.reveal(index);
        for (const item of this.pool) item.node.classList.toggle('selected', item.index === index && item.seq === this.selectedSeq);
        this.layout();
        if (row) this.handlers.onSelect?.(row, index);
        else this.pendingSelect = index;
    }

    // The seq of the row the view stands on. While the offsets are known to have moved (frozen)
    // it is the one the last drawing recorded; otherwise the row at the top now, as the last
    // drawing may predate a move of the view (a scroll, a jump) that is not drawn yet. 0 when
    // that row is not held.
    anchor() {
        if (this.anchorFrozen) return this.anchorSeq;
        const row = this.source.row(Math.floor(this.top));
        return row ? row.seq : 0;
    }

    reveal(index) {
        const visible = this.viewHeight / this.rowHeight;
        if (index < this.top) this.setTop(index, true);
        else if (index + 1 > this.top + visible) this.setTop(index + 1 - visible, true);
    }

    // Rows arrived: a selection waiting for its row can complete.
    rowsArrived() {
        if (this.pendingSelect !== undefined) {
            const row = this.source.row(this.pendingSelect);
            if (row) {
                const index = this.pendingSelect;
                this.pendingSelect = undefined;
                this.selectedSeq = row.seq;
                this.handlers.onSelect?.(row, index);
            }
        }
        // The selected row may have moved (rows dropped or cleared): find it by seq.
        if (this.selectedSeq) {
            const row = this.source.row(this.selectedIndex);
            if (!row || row.seq !== this.selectedSeq) {
                const first = Math.floor(this.top);
                for (let i = Math.max(0, first - BLOCK); i < first + this.pool.length + BLOCK; i++) {
                    const r = this.source.row(i);
                    if (r && r.seq === this.selectedSeq) {
                        this.selectedIndex = i;
                        break;
                    }
                }
            }
        }
    }

    move(delta) {
        if (this.following) this.setFollowing(false);
        const start = this.selectedIndex < 0 ? Math.floor(this.top) + (delta > 0 ? -1 : this.pool.length - 1) : this.selectedIndex;
        this.select(start + delta);
    }

    home() {
        this.setFollowing(false);
        this.setTop(0, false);
        this.select(0);
    }

    end() {
        this.setFollowing(true);
        if (this.source.total) this.select(this.source.total - 1);
        this.setFollowing(true);
    }

    // True when the screen shows the held rows of the current filter (no frame pending, no
    // row waiting for its data); for tests and the benchmark.
    settled() {
        if (this.frame || !this.source.known) return false;
        const first = Math.floor(this.top);
        for (let i = 0; i < this.pool.length; i++) {
            const index = first + i;
            if (index >= this.source.total) break;
            const row = this.source.row(index);
            const item = this.pool[i];
            if (!row || item.index !== index || item.seq !== row.seq) return false;
        }
        return true;
    }

    visibleRange() {
        const first = Math.floor(this.top);
        return [first, Math.min(this.source.total, first + this.pool.length)];
    }
}
