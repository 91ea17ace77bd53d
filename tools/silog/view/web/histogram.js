// The time histogram above the log: stacked bars by severity over the filtered rows. A click
// narrows the time range to one bar, a drag to the dragged span.

import { getJson } from './api.js';
import { fmtTime, fmtInt, el } from './util.js';
import { SEV_NAMES } from './icons.js';

export class Histogram {
    constructor(root, onRange) {
        this.root = root;
        this.onRange = onRange;
        this.canvas = root.querySelector('canvas');
        this.label = root.querySelector('.hist-label');
        this.tip = root.querySelector('.hist-tip');
        this.data = null;
        this.drag = null;
        this.hover = -1;
        this.busy = false;
        this.again = false;
        this.params = {};
        this.bind();
        new ResizeObserver(() => this.draw()).observe(this.canvas);
    }

    // Bars of at least 4 px, and of at least 1 ms: a burst of a few milliseconds gets a few
    // wide bars rather than many empty slivers.
    bucketCount(span) {
        const byWidth = Math.max(10, Math.min(400, Math.floor(this.canvas.clientWidth / 4)));
        if (span === undefined || !isFinite(span)) return byWidth;
        return Math.max(10, Math.min(byWidth, Math.ceil(span)));
    }

    async load(params) {
        this.params = params;
        if (this.busy) {
            this.again = true;
            return;
        }
        this.busy = true;
        try {
            const span = params.from !== undefined && params.to !== undefined ? params.to - params.from : this.data ? this.data.to - this.data.from : undefined;
            let answer = await getJson('api/histogram', { ...params, buckets: this.bucketCount(span) });
            const wanted = this.bucketCount(answer.to - answer.from);
            if (answer.counts && wanted !== answer.counts.length) {
                answer = await getJson('api/histogram', { ...params, buckets: wanted });
            }
            if (params === this.params) this.data = answer;
            this.draw();
        } catch {
            // the connection state is reported elsewhere
        } finally {
            this.busy = false;
            if (this.again) {
                this.again = false;
                this.load(this.params);
            }
        }
    }

    colors() {
        const style = getComputedStyle(this.root);
        return SEV_NAMES.map((name) => style.getPropertyValue(`--sev-${name}`).trim() || '#888');
    }

    draw() {
        const canvas = this.canvas;
        const ratio = window.devicePixelRatio || 1;
        const width = canvas.clientWidth;
        const height = canvas.clientHeight;
        if (!width || !height) return;
        if (canvas.width !== Math.round(width * ratio) || canvas.height !== Math.round(height * ratio)) {
            canvas.width = Math.round(width * ratio);
            canvas.height = Math.round(height * ratio);
        }
        const ctx = canvas.getContext('2d');
        ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
        ctx.clearRect(0, 0, width, height);
        const data = this.data;
        if (!data || !data.counts || !data.counts.length) {
            this.label.textContent = '';
            return;
        }
        const counts = data.counts;
        let max = 1;
        for (const bucket of counts) max = Math.max(max, bucket.reduce((a, b) => a + b, 0));
        const colors = this.colors();
        const barWidth = width / counts.length;
        const plotHeight = height - 2;
        // Severity order bottom to top: errors first so that they are never hidden by a sliver.
        const order = [4, 3, 2, 1, 0, 5];
        counts.forEach((bucket, i) => {
            let y = height;
            for (const sev of order) {
                const value = bucket[sev] || 0;
                if (!value) continue;
                const h = Math.max(1, (value / max) * plotHeight);
                ctx.fillStyle = colors[sev];
                ctx.fillRect(i * barWidth + 0.5, y - h, Math.max(1, barWidth - 1), h);
                y -= h;
            }
        });
        if (this.hover >= 0 && this.hover < counts.length) {
            ctx.fillStyle = 'rgba(128,128,128,0.18)';
            ctx.fillRect(this.hover * barWidth, 0, barWidth, height);
        }
        if (this.drag && this.drag.moved) {
            const x0 = Math.min(this.drag.x0, this.drag.x1);
            const x1 = Math.max(this.drag.x0, this.drag.x1);
            ctx.fillStyle = 'rgba(70,130,230,0.25)';
            ctx.fillRect(x0, 0, x1 - x0, height);
        }
        this.label.textContent = `${fmtTime(data.from, true)} – ${fmtTime(data.to, true)}  ·  ${fmtInt(max)} max per ${
            data.bucket >= 1000 ? `${(data.bucket / 1000).toFixed(data.bucket >= 10000 ? 0 : 1)} s` : `${Math.max(1, Math.round(data.bucket))} ms`
        }`;
    }

    timeAt(x) {
        const data = this.data;
        const width = this.canvas.clientWidth;
        return data.from + (Math.min(width, Math.max(0, x)) / width) * (data.to - data.from);
    }

    bucketAt(x) {
        if (!this.data) return -1;
        return Math.floor((x / this.canvas.clientWidth) * this.data.counts.length);
    }

    bind() {
        const canvas = this.canvas;
        canvas.addEventListener('pointerdown', (event) => {
            if (!this.data || !this.data.counts) return;
            canvas.setPointerCapture(event.pointerId);
            this.drag = { x0: event.offsetX, x1: event.offsetX, moved: false };
        });
        canvas.addEventListener('pointermove', (event) => {
            if (this.drag) {
                this.drag.x1 = event.offsetX;
                if (Math.abs(this.drag.x1 - this.drag.x0) > 3) this.drag.moved = true;
                this.draw();
                return;
            }
            const bucket = this.bucketAt(event.offsetX);
            if (bucket !== this.hover) {
                this.hover = bucket;
                this.draw();
                this.showTip(bucket, event.offsetX);
            }
        });
        canvas.addEventListener('pointerleave', () => {
            this.hover = -1;
            this.tip.hidden = true;
            this.draw();
        });
        canvas.addEventListener('pointerup', (event) => {
            const drag = this.drag;
            this.drag = null;
            if (!drag || !this.data) return;
            const data = this.data;
            if (drag.moved) {
                const from = this.timeAt(Math.min(drag.x0, drag.x1));
                const to = this.timeAt(Math.max(drag.x0, drag.x1));
                this.onRange(Math.floor(from), Math.ceil(to));
            } else {
                const bucket = this.bucketAt(event.offsetX);
                if (bucket < 0 || bucket >= data.counts.length) return;
                const from = data.from + bucket * data.bucket;
                this.onRange(Math.floor(from), Math.ceil(from + data.bucket));
            }
            this.draw();
        });
    }

    showTip(bucket, x) {
        const data = this.data;
        if (!data || bucket < 0 || bucket >= data.counts.length) {
            this.tip.hidden = true;
            return;
        }
        const counts = data.counts[bucket];
        const from = data.from + bucket * data.bucket;
        this.tip.replaceChildren(el('div', 'tip-time', `${fmtTime(from)} – ${fmtTime(from + data.bucket)}`));
        SEV_NAMES.forEach((name, sev) => {
            if (!counts[sev]) return;
            const line = el('div', `tip-line sev-${sev}`);
            line.append(el('span', 'dot'), el('span', '', `${name} ${fmtInt(counts[sev])}`));
            this.tip.appendChild(line);
        });
        this.tip.hidden = false;
        const width = this.canvas.clientWidth;
        this.tip.style.left = `${Math.min(width - 160, Math.max(0, x + 12))}px`;
    }
}
