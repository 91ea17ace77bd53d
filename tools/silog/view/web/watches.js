// The watches panel: every watch with its latest value, and for the chosen one its history,
// drawn as a chart when the values are numbers.

// uPlot is loaded with the first chart, not with the page.
let uPlotModule = null;
function loadPlot() {
    if (!uPlotModule) uPlotModule = import('./vendor/uPlot.esm.js').then((m) => m.default);
    return uPlotModule;
}
import { getJson } from './api.js';
import { el, clear, fmtTime, fmtInt, visibleText } from './util.js';

export class Watches {
    constructor(root) {
        this.root = root;
        this.list = root.querySelector('.watch-list');
        this.history = root.querySelector('.watch-history');
        this.filterInput = root.querySelector('.watch-filter');
        this.version = -1;
        this.watches = [];
        this.selected = null;
        this.chart = null;
        this.loading = false;
        this.filterInput.addEventListener('input', () => this.renderList());
        new ResizeObserver(() => this.resizeChart()).observe(this.history);
    }

    async update(version, force = false) {
        if (!force && version === this.version) return;
        if (this.loading) {
            this.again = true;
            return;
        }
        this.loading = true;
        try {
            const answer = await getJson('api/watches');
            this.version = answer.version;
            this.watches = answer.watches || [];
            this.renderList();
            if (this.selected) {
                if (this.watches.some((w) => w.name === this.selected)) await this.loadHistory(this.selected);
                else this.clearHistory();
            }
        } catch {
            // reported by the connection state
        } finally {
            this.loading = false;
            if (this.again) {
                this.again = false;
                this.update(-2, true);
            }
        }
    }

    renderList() {
        const needle = this.filterInput.value.trim().toLowerCase();
        const table = el('table', 'watch-table');
        const head = el('thead');
        const hr = el('tr');
        for (const name of ['Name', 'Value', 'Time', 'Count']) hr.appendChild(el('th', '', name));
        head.appendChild(hr);
        const body = el('tbody');
        let shown = 0;
        for (const watch of this.watches) {
            if (needle && !watch.name.toLowerCase().includes(needle)) continue;
            shown++;
            const tr = el('tr', watch.name === this.selected ? 'selected' : '');
            tr.dataset.name = watch.name;
            const nameCell = el('td', 'w-name', visibleText(watch.name));
            nameCell.appendChild(el('div', 'w-type', watch.numeric ? `${watch.watchType} · chart` : watch.watchType));
            tr.append(
                nameCell,
                el('td', 'w-value', visibleText(watch.value)),
                el('td', 'w-time', watch.timestamp ? watch.timestamp.slice(11) : fmtTime(watch.t)),
                el('td', 'w-count num', fmtInt(watch.count)),
            );
            tr.addEventListener('click', () => this.select(watch.name));
            body.appendChild(tr);
        }
        table.append(head, body);
        clear(this.list).appendChild(table);
        if (!this.watches.length) this.list.appendChild(el('div', 'placeholder', 'No watches yet.'));
        else if (!shown) this.list.appendChild(el('div', 'placeholder', 'No watch matches.'));
    }

    async select(name) {
        this.selected = name;
        for (const tr of this.list.querySelectorAll('tr[data-name]')) tr.classList.toggle('selected', tr.dataset.name === name);
        await this.loadHistory(name);
    }

    clearHistory() {
        this.selected = null;
        this.chart?.destroy();
        this.chart = null;
        clear(this.history);
    }

    async loadHistory(name) {
        let answer;
        try {
            answer = await getJson('api/watch', { name, limit: 2000 });
        } catch (err) {
            clear(this.history).appendChild(el('div', 'placeholder', `History of ${name}: ${err.message}`));
            return;
        }
        if (name !== this.selected) return;
        const watch = this.watches.find((w) => w.name === name);
        const history = answer.history || [];
        const numbers = history.map((h) => (typeof h.number === 'number' ? h.number : parseNumber(h.value, answer.watchType)));
        const numeric = (watch ? watch.numeric : false) && history.length > 0 && numbers.every((n) => n !== null);
        if (numeric) this.Plot = await loadPlot();
        if (name !== this.selected) return;
        this.renderHistory(answer, history, numeric ? numbers : null);
    }

    renderHistory(answer, history, numbers) {
        const root = this.history;
        const head = el('div', 'section-head');
        head.appendChild(el('h3', '', visibleText(answer.name)));
        head.appendChild(el('span', 'muted', `${answer.watchType} · ${fmtInt(history.length)} updates`));
        const keep = this.chart && numbers && this.chartName === answer.name;
        if (keep) {
            root.firstChild.replaceWith(head);
            const xs = history.map((h) => h.t / 1000);
            this.chart.setData([xs, numbers]);
        } else {
            this.chart?.destroy();
            this.chart = null;
            clear(root).appendChild(head);
            const chartBox = el('div', 'watch-chart');
            root.appendChild(chartBox);
            if (numbers) {
                this.chartName = answer.name;
                this.chart = this.makeChart(chartBox, history, numbers, answer.name);
            } else {
                chartBox.remove();
            }
            root.appendChild(el('div', 'watch-values'));
        }
        const values = root.querySelector('.watch-values');
        const table = el('table', 'kv compact');
        const body = el('tbody');
        for (let i = history.length - 1; i >= Math.max(0, history.length - 200); i--) {
            const tr = el('tr');
            tr.append(el('th', '', fmtTime(history[i].t, true)), el('td', '', visibleText(history[i].value)));
            body.appendChild(tr);
        }
        table.appendChild(body);
        clear(values).appendChild(table);
    }

    makeChart(box, history, numbers, name) {
        const style = getComputedStyle(this.root);
        const stroke = style.getPropertyValue('--accent').trim() || '#3b82f6';
        const axis = style.getPropertyValue('--muted').trim() || '#888';
        const grid = style.getPropertyValue('--grid').trim() || 'rgba(128,128,128,0.2)';
        const width = Math.max(200, box.clientWidth || this.history.clientWidth - 16);
        const options = {
            width,
            height: 180,
            legend: { show: true, live: true },
            cursor: { drag: { x: true, y: false } },
            scales: { x: { time: true } },
            axes: [
                { stroke: axis, grid: { stroke: grid, width: 1 }, ticks: { stroke: grid } },
                { stroke: axis, grid: { stroke: grid, width: 1 }, ticks: { stroke: grid }, size: 56 },
            ],
            series: [{}, { label: name, stroke, width: 1.5, fill: `${stroke}22`, points: { show: history.length < 60 } }],
        };
        return new this.Plot(options, [history.map((h) => h.t / 1000), numbers], box);
    }

    resizeChart() {
        if (!this.chart) return;
        const box = this.history.querySelector('.watch-chart');
        if (box && box.clientWidth) this.chart.setSize({ width: box.clientWidth, height: 180 });
    }
}

function parseNumber(value, type) {
    if (type === 'Boolean') return /^true$/i.test(value) ? 1 : /^false$/i.test(value) ? 0 : null;
    const text = String(value).trim();
    if (text === '') return null;
    if (/^0x[0-9a-f]+$/i.test(text)) return parseInt(text, 16);
    // Decimal commas of some locales.
    const n = Number(text.replace(/^([+-]?\d+),(\d+)$/, '$1.$2'));
    return isFinite(n) ? n : null;
}
