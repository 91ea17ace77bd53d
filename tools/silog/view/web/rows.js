// The rows of the current filter as the page holds them: a few blocks around what is on
// screen, fetched from the server on demand. The page never holds the whole log: the server
// filters and counts, the page asks for the window it draws.

import { getJson } from './api.js';

export const BLOCK = 100;
const MAX_BLOCKS = 60; // 6,000 rows at most in the page
const MAX_LIMIT = 1000;
const END_SEQ = Number.MAX_SAFE_INTEGER; // a seq past every row: "the end of the filter"

export class RowSource {
    constructor(onChange, onError) {
        this.onChange = onChange; // (reason) after rows or total changed
        this.onError = onError;
        this.params = {};
        this.gen = 0;
        this.total = 0;
        this.last = 0; // newest seq the server considered for `total`
        this.blocks = new Map(); // block index -> {rows: Array(BLOCK), count}
        this.pending = new Map(); // block index -> generation it was requested in
        this.inflight = 0;
        this.queue = null; // the latest range asked for while requests were in flight
        this.known = false; // total has been answered for this filter
        this.focus = 0;
    }

    // A new filter: every offset changes meaning.
    setParams(params) {
        this.params = params;
        this.reset();
        this.known = false;
        this.total = 0;
    }

    // Offsets shifted (rows dropped or cleared): forget every block, keep the total as a guess.
    reset() {
        this.invalidate();
        this.blocks.clear();
    }

    // Answers on their way are for old offsets; the held rows stay on screen until new ones
    // replace them (no flicker while following a log that drops its oldest rows).
    invalidate() {
        this.gen++;
        this.pending.clear();
        this.queue = null;
    }

    row(index) {
        const block = this.blocks.get(Math.floor(index / BLOCK));
        return block ? block.rows[index % BLOCK] : undefined;
    }

    complete(blockIndex) {
        const block = this.blocks.get(blockIndex);
        if (!block) return false;
        if (block.count === BLOCK) return true;
        return this.known && block.count >= Math.min(BLOCK, this.total - blockIndex * BLOCK);
    }

    // Ask for rows [from, to) unless they are there or on their way. Before the first answer
    // for a filter the tail or a jump loads the first rows.
    ensure(from, to) {
        if (!this.known) return;
        from = Math.max(0, from);
        to = Math.min(to, this.total);
        if (to <= from) return;
        this.focus = from;
        let first = Math.floor(from / BLOCK);
        let lastBlock = Math.floor((to - 1) / BLOCK);
        const ready = (b) => this.complete(b) || this.pending.get(b) === this.gen;
        while (first <= lastBlock && ready(first)) first++;
        while (lastBlock >= first && ready(lastBlock)) lastBlock--;
        if (first > lastBlock) return;
        const count = Math.min(MAX_LIMIT / BLOCK, lastBlock - first + 1);
        this.fetch({ offset: first * BLOCK, limit: count * BLOCK });
    }

    // Re-read rows [from, to) even when held (the tail grows, a partial block fills up).
    refresh(from, to) {
        from = Math.max(0, Math.floor(from / BLOCK) * BLOCK);
        const limit = Math.min(MAX_LIMIT, Math.max(BLOCK, to - from));
        this.fetch({ offset: from, limit }, true);
    }

    async fetch(query, force = false) {
        const gen = this.gen;
        const known = query.seq === undefined;
        const firstBlock = known ? Math.floor(query.offset / BLOCK) : 0;
        const blockCount = known ? Math.ceil(query.limit / BLOCK) : 0;
        if (this.inflight >= 2 && !force) {
            this.queue = [query.offset, query.offset + query.limit];
            return null;
        }
        for (let b = firstBlock; b < firstBlock + blockCount; b++) this.pending.set(b, gen);
        this.inflight++;
        let answer = null;
        try {
            answer = await getJson('api/rows', { ...this.params, ...query });
        } catch (err) {
            if (gen === this.gen) this.onError(err);
        }
        this.inflight--;
        for (let b = firstBlock; b < firstBlock + blockCount; b++) {
            if (this.pending.get(b) === gen) this.pending.delete(b);
        }
        if (answer && gen === this.gen) this.accept(answer);
        this.drainQueue();
        return answer && gen === this.gen ? answer : null;
    }

    // Stores the rows of an answer at their offsets. `exclusive`: drop every other row held
    // (used for the tail, the only part on screen while following, where anything else may
    // have shifted).
    accept(answer, exclusive = false) {
        const totalChanged = answer.total !== this.total || !this.known;
        const rows = answer.rows || [];
        const offset = answer.offset || 0;
        // Rows dropped or cleared since the held rows were read move every offset: an answer
        // that disagrees with them replaces them, and where a row is in both, the distance it
        // moved is passed on so that a paused view can stay on its rows.
        let shift = null;
        let moved = false;
        if (!exclusive) {
            for (let i = 0; i < rows.length; i++) {
                const held = this.row(offset + i);
                if (held && held.seq !== rows[i].seq) {
                    moved = true;
                    break;
                }
            }
        }
        if (moved) {
            const at = new Map(rows.map((r, i) => [r.seq, offset + i]));
            search: for (const [b, block] of this.blocks) {
                for (let k = 0; k < BLOCK; k++) {
                    const r = block.rows[k];
                    if (r && at.has(r.seq)) {
                        shift = at.get(r.seq) - (b * BLOCK + k);
                        break search;
                    }
                }
            }
        }
        if (answer.total < this.total || exclusive || moved) this.blocks.clear();
        this.total = answer.total;
        this.last = Math.max(this.last, answer.last || 0);
        this.known = true;
        for (let i = 0; i < rows.length; i++) {
            const index = offset + i;
            const b = Math.floor(index / BLOCK);
            let block = this.blocks.get(b);
            if (!block) {
                block = { rows: new Array(BLOCK), count: 0 };
                this.blocks.set(b, block);
            }
            if (block.rows[index % BLOCK] === undefined) block.count++;
            block.rows[index % BLOCK] = rows[i];
        }
        // A block past the new end is stale.
        const lastIndex = Math.floor(Math.max(0, this.total - 1) / BLOCK);
        for (const index of this.blocks.keys()) if (index > lastIndex) this.blocks.delete(index);
        this.evict();
        this.onChange(moved ? 'moved' : totalChanged ? 'total' : 'rows', shift);
    }

    evict() {
        if (this.blocks.size <= MAX_BLOCKS) return;
        const focusBlock = Math.floor(this.focus / BLOCK);
        const order = [...this.blocks.keys()].sort((a, b) => Math.abs(b - focusBlock) - Math.abs(a - focusBlock));
        for (const index of order) {
            if (this.blocks.size <= MAX_BLOCKS) break;
            this.blocks.delete(index);
        }
    }

    drainQueue() {
        if (!this.queue || this.inflight >= 2) return;
        const [from, to] = this.queue;
        this.queue = null;
        this.ensure(from, to);
    }

    // The newest `count` rows of the filter, in one request: from the end of the filter
    // (a seq past every row) moved back by `count`.
    async tail(count) {
        const gen = this.gen;
        this.inflight++;
        let answer = null;
        try {
            answer = await getJson('api/rows', { ...this.params, seq: END_SEQ, offset: -count, limit: Math.min(MAX_LIMIT, count) });
        } catch (err) {
            if (gen === this.gen) this.onError(err);
        }
        this.inflight--;
        if (!answer || gen !== this.gen) return false;
        this.accept(answer, true);
        this.drainQueue();
        return true;
    }

    // Rows around the first row with seq >= `seq`: `before` rows before it; returns the
    // offset of that row among the matches, or null.
    async around(seq, before = 0, limit = BLOCK, exclusive = false) {
        const gen = this.gen;
        let answer;
        try {
            answer = await getJson('api/rows', { ...this.params, seq, offset: -before, limit });
        } catch (err) {
            if (gen === this.gen) this.onError(err);
            return null;
        }
        if (gen !== this.gen) return null;
        this.accept(answer, exclusive);
        const rows = answer.rows || [];
        const at = rows.findIndex((r) => r.seq >= seq);
        return at >= 0 ? answer.offset + at : answer.offset + rows.length;
    }

    // The offset of the first row with seq >= `seq` under the current filter, without
    // loading rows.
    async offsetOf(seq) {
        try {
            const answer = await getJson('api/rows', { ...this.params, seq, limit: 0 });
            return { offset: answer.offset, total: answer.total };
        } catch {
            return null;
        }
    }
}
