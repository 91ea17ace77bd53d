// The detail pane: every field of the selected entry and its data as its viewer shows it,
// with the raw bytes always at hand.

import { getJson } from './api.js';
import { el, clear, fmtInt, fmtTime, base64ToBytes, visibleText } from './util.js';
import { typeIcon } from './icons.js';
import { renderData, renderRaw, copyButton, toolbar } from './viewers.js';

const TITLE_PREVIEW = 20_000;

export class Detail {
    constructor(root, sourceName) {
        this.root = root;
        this.sourceName = sourceName; // (id) -> text
        this.urls = [];
        this.seq = 0;
        this.request = null;
        this.showEmpty();
    }

    showEmpty() {
        this.release();
        clear(this.root).appendChild(el('div', 'placeholder', 'Select an entry to see its fields and data. Enter opens the selected row.'));
    }

    release() {
        for (const url of this.urls) URL.revokeObjectURL(url);
        this.urls = [];
        for (const link of this.root.querySelectorAll('[data-blob]')) URL.revokeObjectURL(link.dataset.blob);
    }

    async show(seq) {
        if (!seq) return;
        this.seq = seq;
        this.request?.abort();
        const controller = new AbortController();
        this.request = controller;
        let entry;
        try {
            entry = await getJson('api/entry', { seq }, controller.signal);
        } catch (err) {
            if (err.name === 'AbortError') return;
            if (seq !== this.seq) return;
            this.release();
            clear(this.root).appendChild(
                el('div', 'placeholder', err.status === 404 ? `Entry ${seq} is no longer kept by the server.` : `Could not load entry ${seq}: ${err.message}`),
            );
            return;
        }
        if (seq !== this.seq) return;
        this.render(entry);
    }

    render(entry) {
        this.release();
        const root = clear(this.root);
        root.dataset.seq = entry.seq;
        const control = entry.kind === 'control';
        const head = el('div', `detail-head sev-${entry.sev ?? 1}`);
        const iconSlot = el('span', 'type-icon');
        iconSlot.appendChild(typeIcon(entry.logEntryType, entry.kind));
        head.append(iconSlot, el('span', 'detail-type', control ? `Control command · ${entry.controlCommandType}` : entry.logEntryType));
        head.appendChild(el('span', 'detail-seq', `#${entry.seq}`));
        root.appendChild(head);

        if (!control) {
            const title = entry.title || '';
            const titleBox = el('div', 'detail-title');
            const shown = title.length > TITLE_PREVIEW ? title.slice(0, TITLE_PREVIEW) : title;
            titleBox.textContent = visibleText(shown);
            root.appendChild(titleBox);
            const tools = [copyButton('Copy title', () => title)];
            if (title.length > TITLE_PREVIEW) {
                const more = el('button', 'btn small', `Show all ${fmtInt(title.length)} characters`);
                more.type = 'button';
                more.addEventListener('click', () => {
                    titleBox.textContent = visibleText(title);
                    more.remove();
                });
                tools.push(more);
            }
            root.appendChild(toolbar(...tools));
        }

        // Fields as a compact grid of name/value pairs; long values take a whole line.
        const fields = el('div', 'fields');
        const add = (name, value, wide = false) => {
            if (value === undefined || value === null || value === '') return;
            const key = el('div', `f-name${wide ? ' wide' : ''}`, name);
            const cell = el('div', `f-value${wide ? ' wide' : ''}`);
            if (value instanceof Node) cell.appendChild(value);
            else cell.textContent = visibleText(String(value));
            fields.append(key, cell);
        };
        add('Time', entry.timestamp || fmtTime(entry.t, true), true);
        if (entry.t !== null && entry.t !== undefined) add('UTC', new Date(entry.t).toISOString(), true);
        add('Sequence', entry.seq);
        if (control) {
            add('Command', entry.controlCommandType);
        } else {
            add('Viewer', entry.viewerId);
            add('Entry type', entry.logEntryType);
            add('Session', entry.sessionName);
            add('Process', entry.processId);
            add('Thread', entry.threadId);
            add('Application', entry.appName, true);
            add('Host', entry.hostName, true);
            if (entry.color) {
                const swatch = el('span', 'swatch-wrap');
                const chip = el('span', 'swatch');
                chip.style.backgroundColor = entry.color;
                swatch.append(chip, document.createTextNode(entry.color));
                add('Colour', swatch);
            }
            add('Title', entry.titleLength !== undefined ? `${fmtInt(entry.titleLength)} bytes` : undefined);
        }
        add('Data', `${fmtInt(entry.dataSize ?? 0)} bytes`);
        add('Source', this.sourceName(entry.source), true);
        root.appendChild(fields);

        const bytes = base64ToBytes(entry.data);
        if (bytes.length) {
            let rendered = null;
            try {
                rendered = renderData(entry, bytes, this.urls);
            } catch (err) {
                rendered = { node: el('div', 'data-note', `This data could not be shown as ${entry.viewerId}: ${err.message}`), text: null, label: entry.viewerId };
            }
            if (rendered) {
                const section = el('section', `data viewer-${entry.viewerId}`);
                const header = el('div', 'section-head');
                header.appendChild(el('h3', '', rendered.label));
                if (rendered.text !== null) header.appendChild(copyButton('Copy', () => rendered.text));
                section.append(header, rendered.node);
                root.appendChild(section);
            }
            root.appendChild(renderRaw(bytes, entry.seq));
        }
    }
}
