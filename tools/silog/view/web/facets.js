// The facet sidebar: the values of each field with their counts over the kept rows; clicking
// values combines them into the filter (values of one field are alternatives, fields add up).

import { getJson } from './api.js';
import { el, clear, fmtInt, oneLine } from './util.js';
import { typeIcon, typeSev } from './icons.js';

const GROUPS = [
    { key: 'types', field: 'logEntryType', label: 'Entry types' },
    { key: 'session', field: 'sessionName', label: 'Sessions' },
    { key: 'app', field: 'appName', label: 'Applications' },
    { key: 'host', field: 'hostName', label: 'Hosts' },
    { key: 'pid', field: 'processId', label: 'Processes' },
    { key: 'tid', field: 'threadId', label: 'Threads' },
    { key: 'source', field: 'source', label: 'Sources' },
];

const SHORT = 8;

export class Facets {
    constructor(root, onToggle, onOnly, sourceName) {
        this.root = root;
        this.onToggle = onToggle; // (key, value)
        this.onOnly = onOnly; // (key, value): this value alone
        this.sourceName = sourceName;
        this.data = null;
        this.filter = null;
        this.showAll = new Set();
        this.busy = false;
    }

    async load() {
        if (this.busy) {
            this.again = true;
            return;
        }
        this.busy = true;
        try {
            this.data = await getJson('api/facets');
            this.render();
        } catch {
            // reported by the connection state
        } finally {
            this.busy = false;
            if (this.again) {
                this.again = false;
                this.load();
            }
        }
    }

    setFilter(filter) {
        this.filter = filter;
        this.render();
    }

    render() {
        if (!this.filter) return;
        const data = this.data || {};
        const fragment = document.createDocumentFragment();
        for (const group of GROUPS) {
            const counts = data[group.field] || {};
            const selected = this.filter[group.key];
            let entries = Object.entries(counts).sort((a, b) => b[1] - a[1] || compareValues(a[0], b[0]));
            for (const value of selected) if (!(value in counts)) entries.push([value, 0]);
            if (!entries.length) continue;
            const section = el('section', `facet facet-${group.key}`);
            const head = el('h4', '', group.label);
            if (selected.length) head.appendChild(el('span', 'badge', String(selected.length)));
            section.appendChild(head);
            const list = el('ul');
            // Every entry type is listed (there are 26); other fields show their most frequent.
            const limit = this.showAll.has(group.key) || group.key === 'types' ? Infinity : SHORT;
            entries.forEach(([value, count], i) => {
                const isSelected = selected.includes(value);
                if (i >= limit && !isSelected) return;
                const li = el('li', isSelected ? 'selected' : '');
                const button = el('button', 'facet-value');
                button.type = 'button';
                button.dataset.key = group.key;
                button.dataset.value = value;
                button.setAttribute('aria-pressed', isSelected ? 'true' : 'false');
                const box = el('span', 'check');
                button.appendChild(box);
                if (group.key === 'types') {
                    const iconSlot = el('span', `type-icon sev-${typeSev(value)}`);
                    iconSlot.appendChild(typeIcon(value));
                    button.appendChild(iconSlot);
                }
                const text = group.key === 'source' ? this.sourceName(Number(value)) || `source ${value}` : value === '' ? '(empty)' : oneLine(value);
                button.appendChild(el('span', 'facet-name', text));
                button.appendChild(el('span', 'facet-count', fmtInt(count)));
                button.title = 'Click to add to the filter; Alt+click for this value alone';
                button.addEventListener('click', (event) => {
                    if (event.altKey) this.onOnly(group.key, value);
                    else this.onToggle(group.key, value);
                });
                li.appendChild(button);
                list.appendChild(li);
            });
            section.appendChild(list);
            if (entries.length > SHORT && group.key !== 'types') {
                const more = el('button', 'link small', this.showAll.has(group.key) ? 'Show fewer' : `Show all ${entries.length}`);
                more.type = 'button';
                more.addEventListener('click', () => {
                    if (this.showAll.has(group.key)) this.showAll.delete(group.key);
                    else this.showAll.add(group.key);
                    this.render();
                });
                section.appendChild(more);
            }
            fragment.appendChild(section);
        }
        clear(this.root).appendChild(fragment);
    }
}

function compareValues(a, b) {
    const na = Number(a);
    const nb = Number(b);
    if (isFinite(na) && isFinite(nb)) return na - nb;
    return a < b ? -1 : a > b ? 1 : 0;
}
