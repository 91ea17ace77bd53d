// Renders the data attached to an entry as its viewer shows it. Text contexts put a UTF-8
// byte order mark first and end each line with CR LF; list, value list, inspector and table
// contexts escape their items as the logging library writes them.

import { el, clear, bytesToText, fmtInt, fmtBytes, copyText, visibleText } from './util.js';
import { highlight, LANGUAGES } from './highlight.js';

const HEX_LIMIT = 256 * 1024; // bytes shown in a hex dump; the rest is in the download
const TEXT_LIMIT = 2_000_000; // characters shown as text

export function splitLines(text) {
    const lines = text.split(/\r\n|\n|\r/);
    if (lines.length && lines[lines.length - 1] === '') lines.pop();
    return lines;
}

// Undoes the escape rule of the value list and inspector contexts: a backslash makes the next
// character literal; returns the pieces split at the first unescaped `sep`.
export function splitEscaped(line, sep) {
    let key = '';
    let i = 0;
    for (; i < line.length; i++) {
        const c = line[i];
        if (c === '\\' && i + 1 < line.length) {
            key += line[++i];
        } else if (c === sep) {
            break;
        } else {
            key += c;
        }
    }
    if (i >= line.length) return [key, null];
    let value = '';
    for (i++; i < line.length; i++) {
        const c = line[i];
        if (c === '\\' && i + 1 < line.length) value += line[++i];
        else value += c;
    }
    return [key, value];
}

// An inspector group line: "[name]" with brackets inside the name escaped.
function groupName(line) {
    if (line.length < 2 || line[0] !== '[' || line[line.length - 1] !== ']') return null;
    const inner = line.slice(1, -1);
    let name = '';
    for (let i = 0; i < inner.length; i++) {
        const c = inner[i];
        if (c === '\\' && i + 1 < inner.length) name += inner[++i];
        else if (c === '[' || c === ']' || c === '=') return null;
        else name += c;
    }
    return name;
}

// One row of the table context: quoted entries ("" for a quote) separated by ", "; header
// titles may be unquoted.
export function parseCsvLine(line) {
    const cells = [];
    let i = 0;
    const n = line.length;
    while (i <= n) {
        while (i < n && (line[i] === ' ' || line[i] === '\t')) i++;
        let cell = '';
        if (line[i] === '"') {
            i++;
            while (i < n) {
                if (line[i] === '"') {
                    if (line[i + 1] === '"') {
                        cell += '"';
                        i += 2;
                    } else {
                        i++;
                        break;
                    }
                } else {
                    cell += line[i++];
                }
            }
            while (i < n && line[i] !== ',') i++;
        } else {
            const end = line.indexOf(',', i);
            cell = (end < 0 ? line.slice(i) : line.slice(i, end)).trim();
            i = end < 0 ? n : end;
        }
        cells.push(cell);
        if (i >= n) break;
        i++; // the comma
        if (i === n) cells.push('');
    }
    return cells;
}

export function hexDump(bytes, limit = HEX_LIMIT) {
    const count = Math.min(bytes.length, limit);
    const lines = [];
    const hex = '0123456789abcdef';
    for (let offset = 0; offset < count; offset += 16) {
        let line = offset.toString(16).padStart(8, '0') + '  ';
        let chars = '';
        for (let i = 0; i < 16; i++) {
            if (offset + i < count) {
                const b = bytes[offset + i];
                line += hex[b >> 4] + hex[b & 15] + ' ';
                chars += b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.';
            } else {
                line += '   ';
            }
            if (i === 7) line += ' ';
        }
        lines.push(`${line} ${chars}`);
    }
    return lines.join('\n');
}

function toolbar(...buttons) {
    const bar = el('div', 'data-tools');
    bar.append(...buttons);
    return bar;
}

function copyButton(label, getText) {
    const button = el('button', 'btn small', label);
    button.type = 'button';
    button.addEventListener('click', async () => {
        const ok = await copyText(getText());
        button.textContent = ok ? 'Copied' : 'Copy failed';
        setTimeout(() => (button.textContent = label), 1200);
    });
    return button;
}

function downloadLink(bytes, name, label = 'Download') {
    const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    const link = el('a', 'btn small', label);
    link.href = url;
    link.download = name;
    link.dataset.blob = url;
    return link;
}

function textBlock(text, className = 'data-text') {
    const pre = el('pre', className);
    if (text.length > TEXT_LIMIT) {
        pre.textContent = text.slice(0, TEXT_LIMIT);
        pre.appendChild(el('span', 'more', `\n… ${fmtInt(text.length - TEXT_LIMIT)} more characters (copy or download for all)`));
    } else {
        pre.textContent = text;
    }
    return pre;
}

function renderList(text) {
    const list = el('ol', 'data-list');
    for (const line of splitLines(text)) list.appendChild(el('li', '', visibleText(line)));
    return list;
}

function kvTable(pairs) {
    const table = el('table', 'kv');
    const body = el('tbody');
    for (const [key, value] of pairs) {
        const tr = el('tr');
        tr.append(el('th', '', visibleText(key)), el('td', value === null ? 'novalue' : '', value === null ? '' : visibleText(value)));
        body.appendChild(tr);
    }
    table.appendChild(body);
    return table;
}

function renderValueList(text) {
    return kvTable(splitLines(text).map((line) => splitEscaped(line, '=')));
}

function renderInspector(text) {
    const wrap = el('div', 'inspector');
    let group = { name: null, pairs: [] };
    const groups = [group];
    for (const line of splitLines(text)) {
        const name = groupName(line);
        if (name !== null) {
            group = { name, pairs: [] };
            groups.push(group);
        } else {
            group.pairs.push(splitEscaped(line, '='));
        }
    }
    for (const g of groups) {
        if (g.name === null && g.pairs.length === 0) continue;
        const section = el('details', 'group');
        section.open = true;
        const summary = el('summary', '', g.name === null ? 'General' : visibleText(g.name));
        summary.appendChild(el('span', 'count', String(g.pairs.length)));
        section.append(summary, kvTable(g.pairs));
        wrap.appendChild(section);
    }
    return wrap;
}

function renderTable(text) {
    const lines = splitLines(text);
    let header = null;
    let start = 0;
    // A header line is followed by an empty line.
    if (lines.length >= 2 && lines[1] === '') {
        header = parseCsvLine(lines[0]);
        start = 2;
    }
    const rows = [];
    for (let i = start; i < lines.length; i++) if (lines[i] !== '') rows.push(parseCsvLine(lines[i]));
    const width = Math.max(header ? header.length : 0, ...rows.map((r) => r.length));
    const wrap = el('div', 'grid-wrap');
    const table = el('table', 'grid');
    if (header) {
        const thead = el('thead');
        const tr = el('tr');
        tr.appendChild(el('th', 'rownum', '#'));
        for (let i = 0; i < width; i++) tr.appendChild(el('th', '', visibleText(header[i] ?? '')));
        thead.appendChild(tr);
        table.appendChild(thead);
    }
    const body = el('tbody');
    const shown = rows.slice(0, 5000);
    shown.forEach((cells, r) => {
        const tr = el('tr');
        tr.appendChild(el('td', 'rownum', String(r + 1)));
        for (let i = 0; i < width; i++) tr.appendChild(el('td', '', visibleText(cells[i] ?? '')));
        body.appendChild(tr);
    });
    table.appendChild(body);
    wrap.appendChild(table);
    const note = el('div', 'data-note', `${fmtInt(rows.length)} rows × ${width} columns${rows.length > shown.length ? ` (first ${fmtInt(shown.length)} shown)` : ''}`);
    const frag = document.createDocumentFragment();
    frag.append(note, wrap);
    return frag;
}

function sniffImage(bytes) {
    const b = bytes;
    if (b.length >= 2 && b[0] === 0x42 && b[1] === 0x4d) return 'image/bmp';
    if (b.length >= 3 && b[0] === 0xff && b[1] === 0xd8 && b[2] === 0xff) return 'image/jpeg';
    if (b.length >= 8 && b[0] === 0x89 && b[1] === 0x50 && b[2] === 0x4e && b[3] === 0x47) return 'image/png';
    if (b.length >= 4 && b[0] === 0 && b[1] === 0 && (b[2] === 1 || b[2] === 2) && b[3] === 0) return 'image/x-icon';
    if (b.length >= 4 && b[0] === 0x47 && b[1] === 0x49 && b[2] === 0x46) return 'image/gif';
    return null;
}

const IMAGE_TYPES = { Bitmap: 'image/bmp', Jpeg: 'image/jpeg', Icon: 'image/x-icon' };
const IMAGE_EXT = { 'image/bmp': 'bmp', 'image/jpeg': 'jpg', 'image/x-icon': 'ico', 'image/png': 'png', 'image/gif': 'gif' };

function renderImage(bytes, viewerId, seq, urls) {
    const type = sniffImage(bytes) || IMAGE_TYPES[viewerId];
    const url = URL.createObjectURL(new Blob([bytes], { type }));
    urls.push(url);
    const wrap = el('div', 'image-wrap');
    const img = el('img', 'data-image');
    img.alt = `${viewerId} image`;
    const info = el('div', 'data-note', `${viewerId} · ${fmtBytes(bytes.length)}`);
    img.addEventListener('load', () => {
        // Icons and thumbnails are drawn larger, pixel for pixel.
        if (img.naturalWidth && img.naturalWidth <= 64 && img.naturalHeight <= 64) {
            img.classList.add('small');
            img.style.width = `${img.naturalWidth * 4}px`;
        }
        info.textContent = `${viewerId} · ${img.naturalWidth} × ${img.naturalHeight} px · ${fmtBytes(bytes.length)}`;
    });
    img.addEventListener('error', () => {
        img.remove();
        info.textContent = `The browser cannot draw this ${viewerId.toLowerCase()} image (${fmtBytes(bytes.length)}).`;
    });
    img.src = url;
    wrap.appendChild(img);
    const frag = document.createDocumentFragment();
    frag.append(info, toolbar(downloadLink(bytes, `entry-${seq}.${IMAGE_EXT[type] || 'bin'}`)), wrap);
    return frag;
}

function renderMetafile(bytes, seq) {
    // An enhanced metafile has " EMF" at offset 40; the rest are Windows metafiles.
    const emf = bytes.length > 44 && bytes[40] === 0x20 && bytes[41] === 0x45 && bytes[42] === 0x4d && bytes[43] === 0x46;
    const frag = document.createDocumentFragment();
    frag.append(
        el('div', 'data-note', `A Windows ${emf ? 'enhanced metafile' : 'metafile'} (${fmtBytes(bytes.length)}); a browser cannot draw it.`),
        toolbar(downloadLink(bytes, `entry-${seq}.${emf ? 'emf' : 'wmf'}`, 'Download metafile')),
    );
    return frag;
}

// Web content goes only into a frame without scripts, forms, popups or same-origin rights;
// the frame's document inherits the page's policy (no network but this origin) and gets a
// stricter one of its own on top.
const FRAME_POLICY =
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src data:; style-src 'unsafe-inline'; form-action 'none'\">";

function renderWeb(text, urls) {
    const wrap = el('div', 'web');
    const tabs = el('div', 'tabs small');
    const rendered = el('button', 'tab active', 'Rendered');
    const sourceTab = el('button', 'tab', 'Source');
    rendered.type = sourceTab.type = 'button';
    tabs.append(rendered, sourceTab);
    const frame = el('iframe', 'web-frame');
    frame.setAttribute('sandbox', '');
    frame.setAttribute('referrerpolicy', 'no-referrer');
    frame.setAttribute('title', 'Web content (sandboxed, no scripts, no network)');
    const url = URL.createObjectURL(new Blob([FRAME_POLICY, text], { type: 'text/html' }));
    urls.push(url);
    frame.src = url;
    const source = el('pre', 'data-text source');
    source.hidden = true;
    highlight(source, text, 'HtmlSource');
    rendered.addEventListener('click', () => {
        frame.hidden = false;
        source.hidden = true;
        rendered.classList.add('active');
        sourceTab.classList.remove('active');
    });
    sourceTab.addEventListener('click', () => {
        frame.hidden = true;
        source.hidden = false;
        sourceTab.classList.add('active');
        rendered.classList.remove('active');
    });
    wrap.append(tabs, el('div', 'data-note', 'Shown in a sandbox: scripts, forms and network requests are blocked.'), frame, source);
    return wrap;
}

// Renders the viewer part; returns {node, text} where text is what "Copy" copies.
export function renderData(entry, bytes, urls) {
    const viewerId = entry.viewerId;
    if (!bytes.length) return null;
    if (viewerId in IMAGE_TYPES) return { node: renderImage(bytes, viewerId, entry.seq, urls), text: null, label: viewerId };
    if (viewerId === 'Metafile') return { node: renderMetafile(bytes, entry.seq), text: null, label: 'Metafile' };
    if (viewerId === 'Binary') {
        const text = hexDump(bytes);
        const frag = document.createDocumentFragment();
        if (bytes.length > HEX_LIMIT) frag.appendChild(el('div', 'data-note', `First ${fmtBytes(HEX_LIMIT)} of ${fmtBytes(bytes.length)} shown.`));
        frag.appendChild(textBlock(text, 'data-text hex'));
        return { node: frag, text, label: 'Binary' };
    }
    const text = bytesToText(bytes);
    switch (viewerId) {
        case 'List':
            return { node: renderList(text), text, label: 'List' };
        case 'ValueList':
            return { node: renderValueList(text), text, label: 'Value list' };
        case 'Inspector':
            return { node: renderInspector(text), text, label: 'Object properties' };
        case 'Table':
            return { node: renderTable(text), text, label: 'Table' };
        case 'Web':
            return { node: renderWeb(text, urls), text, label: 'Web content' };
        default:
            break;
    }
    if (viewerId in LANGUAGES) {
        const pre = el('pre', 'data-text source');
        highlight(pre, text.length > TEXT_LIMIT ? text.slice(0, TEXT_LIMIT) : text, viewerId);
        return { node: pre, text, label: viewerId.replace(/Source$/, ' source') };
    }
    return { node: textBlock(text), text, label: 'Text' };
}

export function renderRaw(bytes, seq) {
    const details = el('details', 'raw');
    const summary = el('summary', '', `Raw data · ${fmtInt(bytes.length)} bytes`);
    details.appendChild(summary);
    let filled = false;
    const body = el('div', 'raw-body');
    details.appendChild(body);
    // The dump of a large block is built when opened.
    const fill = () => {
        if (filled) return;
        filled = true;
        const dump = hexDump(bytes);
        body.append(
            toolbar(
                copyButton('Copy hex', () => hexDump(bytes, Infinity)),
                copyButton('Copy Base64', () => {
                    let bin = '';
                    for (let i = 0; i < bytes.length; i += 0x8000) bin += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
                    return btoa(bin);
                }),
                downloadLink(bytes, `entry-${seq}.bin`),
            ),
        );
        if (bytes.length > HEX_LIMIT) body.appendChild(el('div', 'data-note', `First ${fmtBytes(HEX_LIMIT)} shown.`));
        body.appendChild(textBlock(dump, 'data-text hex'));
    };
    details.addEventListener('toggle', () => details.open && fill());
    return details;
}

export { copyButton, toolbar, clear };
