// The rows of the current filter as the page holds them: a few blocks around what is on
// screen, fetched from the server on demand. The page never holds the whole log: the server
// filters and counts, the page asks for the window it draws.

import { getJson } from './api.js';

export const BLOCK = 100;
const MAX_BLOCKS = 60; // 6,000 rows at most in the page
const MAX_LIMIT = 1000;

export class RowSource {
    constructor(onChange, onError) {
        this.onChange = onChange; // (reason) after rows or total changed
        this.onError = onError;
        this.params = {};
        this.gen = 0;
        this.total = 0;
        this.last = 0; // newest seq the server considered for `total`
        this.blocks = new Map(); // block index -> rows (a full block, or the partial last one)
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
        this.gen++;
        this.blocks.clear();
        this.pending.clear();
        this.queue = null;
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
        if (!block) return undefined;
        return block[index % BLOCK];
    }

    // Ask for rows [from, to) unless they are there or on their way.
    ensure(from, to) {
        from = Math.max(0, from);
        if (this.known) to = Math.min(to, this.total);
        if (to <= from) {
            if (!this.known) this.fetch(0, BLOCK);
            return;
        }
        this.focus = from;
        let first = Math.floor(from / BLOCK);
        let lastBlock = Math.floor((to - 1) / BLOCK);
        while (first <= lastBlock && (this.complete(first) || this.pending.get(first) === this.gen)) first++;
        while (lastBlock >= first && (this.complete(lastBlock) || this.pending.get(lastBlock) === this.gen)) lastBlock--;
        if (first > lastBlock) return;
        const count = Math.min(MAX_LIMIT / BLOCK, lastBlock - first + 1);
        this.fetch(first * BLOCK, count * BLOCK);
    }

    complete(blockIndex) {
        const block = this.blocks.get(blockIndex);
        if (!block) return false;
        return block.length === BLOCK || (this.known && blockIndex * BLOCK + block.length >= this.total);
    }

    // Re-read rows [from, to) even when held (the tail grows, a partial block fills up).
    refresh(from, to) {
        from = Math.max(0, Math.floor(from / BLOCK) * BLOCK);
        const limit = Math.min(MAX_LIMIT, Math.max(BLOCK, to - from));
        this.fetch(from, limit, true);
    }

    async fetch(offset, limit, force = false) {
        const gen = this.gen;
        const firstBlock = Math.floor(offset / BLOCK);
        const blockCount = Math.ceil(limit / BLOCK);
        if (this.inflight >= 2 && !force) {
            this.queue = [offset, offset + limit];
            return;
        }
        for (let b = firstBlock; b < firstBlock + blockCount; b++) this.pending.set(b, gen);
        this.inflight++;
        let answer;
        try {
            answer = await getJson('api/rows', { ...this.params, offset, limit });
        } catch (err) {
            this.inflight--;
            for (let b = firstBlock; b < firstBlock + blockCount; b++) {
                if (this.pending.get(b) === gen) this.pending.delete(b);
            }
            if (gen === this.gen) this.onError(err);
            return;
        }
        this.inflight--;
        for (let b = firstBlock; b < firstBlock + blockCount; b++) {
            if (this.pending.get(b) === gen) this.pending.delete(b);
        }
        if (gen !== this.gen) {
            this.drainQueue();
            return;
        }
        this.accept(answer, offset);
        this.drainQueue();
    }

    accept(answer, offset, exclusive = false) {
        const totalChanged = answer.total !== this.total || !this.known;
        if (answer.total < this.total) {
            // The filtered log shrank: rows were dropped or cleared, the held blocks shifted.
            this.blocks.clear();
        }
        this.total = answer.total;
        this.last = Math.max(this.last, answer.last || 0);
        this.known = true;
        const rows = answer.rows || [];
        const written = new Set();
        for (let i = 0; i < rows.length; i += BLOCK) {
            const index = Math.floor((offset + i) / BLOCK);
            this.blocks.set(index, rows.slice(i, i + BLOCK));
            written.add(index);
        }
        if (exclusive) for (const index of [...this.blocks.keys()]) if (!written.has(index)) this.blocks.delete(index);
        // A block past the new end is stale.
        const lastIndex = Math.floor(Math.max(0, this.total - 1) / BLOCK);
        for (const index of this.blocks.keys()) if (index > lastIndex) this.blocks.delete(index);
        this.evict();
        this.onChange(totalChanged ? 'total' : 'rows');
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

    // The offset of the first row with seq >= `seq` under the current filter, or null when
    // the server cannot say.
    async offsetOf(seq) {
        try {
            const answer = await getJson('api/rows', { ...this.params, seq, limit: 1 });
            if (typeof answer.offset === 'number' && answer.rows && answer.rows.length && answer.rows[0].seq >= seq) {
                return { offset: answer.offset, total: answer.total };
            }
            if (answer.rows && answer.rows.length === 0 && typeof answer.offset === 'number') {
                return { offset: answer.offset, total: answer.total };
            }
        } catch {
            // fall through
        }
        return null;
    }
}

// The newest `count` rows of the filter. `estimate` is an upper bound of the filter's total
// (the last total plus every packet that arrived since): one request usually does; when
// the guess was off, a second one reads the real end.
RowSource.prototype.tail = async function tail(count, estimate) {
    const gen = this.gen;
    const read = async (end) => {
        const offset = Math.max(0, Math.floor((end - count) / BLOCK) * BLOCK);
        const limit = Math.min(1000, end - offset + BLOCK);
        const answer = await getJson('api/rows', { ...this.params, offset, limit });
        return { answer, offset };
    };
    try {
        let { answer, offset } = await read(estimate);
        const end = offset + (answer.rows ? answer.rows.length : 0);
        if (gen === this.gen && (end < answer.total || (answer.total > 0 && offset >= answer.total))) {
            ({ answer, offset } = await read(answer.total));
        }
        if (gen !== this.gen) return false;
        // Only the tail is on screen while following: rows held from elsewhere may have
        // shifted and are dropped.
        this.accept(answer, offset, true);
        return true;
    } catch (err) {
        if (gen === this.gen) this.onError(err);
        return false;
    }
};
