// Small DOM and formatting helpers. Every piece of log text reaches the document through
// text nodes (textContent), never through markup: log content is written by other programs.

export function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined && text !== null) node.textContent = text;
    return node;
}

export function clear(node) {
    while (node.firstChild) node.removeChild(node.firstChild);
    return node;
}

const numberFormat = new Intl.NumberFormat('en-US');
export function fmtInt(n) {
    return numberFormat.format(n);
}

export function fmtBytes(n) {
    if (n < 1024) return `${n} B`;
    if (n < 1024 * 1024) return `${(n / 1024).toFixed(1)} KiB`;
    return `${(n / 1024 / 1024).toFixed(1)} MiB`;
}

// Bidirectional formatting characters can make a title display as something it is not
// ("invoice<RLO>fdp.exe" reads as "invoiceexe.pdf"), and control characters are invisible:
// both are shown as named markers.
const BIDI_NAMES = {
    0x061c: 'ALM',
    0x200e: 'LRM',
    0x200f: 'RLM',
    0x202a: 'LRE',
    0x202b: 'RLE',
    0x202c: 'PDF',
    0x202d: 'LRO',
    0x202e: 'RLO',
    0x2066: 'LRI',
    0x2067: 'RLI',
    0x2068: 'FSI',
    0x2069: 'PDI',
};
const CONTROL_NAMES = ['NUL', 'SOH', 'STX', 'ETX', 'EOT', 'ENQ', 'ACK', 'BEL', 'BS', 'TAB', 'LF', 'VT', 'FF', 'CR', 'SO', 'SI', 'DLE', 'DC1', 'DC2', 'DC3', 'DC4', 'NAK', 'SYN', 'ETB', 'CAN', 'EM', 'SUB', 'ESC', 'FS', 'GS', 'RS', 'US'];
const BIDI = /[\u061C\u200E\u200F\u202A-\u202E\u2066-\u2069]/g;
const CONTROL = /[\u0000-\u0008\u000B\u000C\u000E-\u001F\u007F]/g;
export function visibleText(text) {
    if (!text) return '';
    return text
        .replace(BIDI, (c) => `⟦${BIDI_NAMES[c.charCodeAt(0)]}⟧`)
        .replace(CONTROL, (c) => `⟦${c === '\u007f' ? 'DEL' : CONTROL_NAMES[c.charCodeAt(0)]}⟧`);
}

// One line for a list cell: line breaks and tabs become visible separators.
export function oneLine(text) {
    return visibleText(text).replace(/\r\n|\r|\n/g, ' ⏎ ').replace(/\t/g, ' ');
}

function pad(n, w = 2) {
    return String(n).padStart(w, '0');
}

// "hh:nn:ss.zzz" from the packet's own timestamp text when present, else from t.
export function timeOfDay(row) {
    if (row.timestamp && row.timestamp.length >= 23) return row.timestamp.slice(11, 23);
    if (row.t === null || row.t === undefined) return '';
    const d = new Date(row.t);
    return `${pad(d.getHours())}:${pad(d.getMinutes())}:${pad(d.getSeconds())}.${pad(d.getMilliseconds(), 3)}`;
}

export function fmtTime(t, withDate = false) {
    if (t === null || t === undefined) return '';
    const d = new Date(t);
    const time = `${pad(d.getHours())}:${pad(d.getMinutes())}:${pad(d.getSeconds())}.${pad(d.getMilliseconds(), 3)}`;
    if (!withDate) return time;
    return `${d.getFullYear()}-${pad(d.getMonth() + 1)}-${pad(d.getDate())} ${time}`;
}

export function fmtDuration(ms) {
    if (ms === null || ms === undefined || !isFinite(ms)) return '';
    // Times carry milliseconds: a shorter span is below what they can tell.
    if (ms < 1) return '< 1 ms';
    if (ms < 1000) return `${ms.toFixed(ms < 10 ? 1 : 0)} ms`;
    if (ms < 60000) return `${(ms / 1000).toFixed(2)} s`;
    const m = Math.floor(ms / 60000);
    const s = Math.round((ms % 60000) / 1000);
    if (m < 60) return `${m} min ${s} s`;
    return `${Math.floor(m / 60)} h ${m % 60} min`;
}

export function base64ToBytes(b64) {
    if (!b64) return new Uint8Array(0);
    const bin = atob(b64);
    const out = new Uint8Array(bin.length);
    for (let i = 0; i < bin.length; i++) out[i] = bin.charCodeAt(i);
    return out;
}

// UTF-8 text of a data block, without the byte order mark that text contexts put first.
export function bytesToText(bytes) {
    let start = 0;
    if (bytes.length >= 3 && bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf) start = 3;
    return new TextDecoder('utf-8').decode(bytes.subarray(start));
}

export async function copyText(text) {
    try {
        if (navigator.clipboard && window.isSecureContext) {
            await navigator.clipboard.writeText(text);
            return true;
        }
    } catch {
        // fall through to the selection copy
    }
    const area = el('textarea', 'copy-buffer');
    area.value = text;
    document.body.appendChild(area);
    area.select();
    let ok = false;
    try {
        ok = document.execCommand('copy');
    } catch {
        ok = false;
    }
    area.remove();
    return ok;
}

export function throttle(fn, ms) {
    let last = 0;
    let timer = null;
    const run = () => {
        timer = null;
        last = performance.now();
        fn();
    };
    return () => {
        if (timer) return;
        const wait = Math.max(0, last + ms - performance.now());
        timer = setTimeout(run, wait);
    };
}

// One run of an async fn at a time: a call while it runs asks for one more run after it, so
// an answer computed from older state never lands after a newer one.
export function serial(fn) {
    let running = null;
    let again = false;
    return () => {
        if (running) {
            again = true;
            return running;
        }
        running = (async () => {
            try {
                do {
                    again = false;
                    await fn();
                } while (again);
            } finally {
                running = null;
            }
        })();
        return running;
    };
}

export function debounce(fn, ms) {
    let timer = null;
    return (...args) => {
        clearTimeout(timer);
        timer = setTimeout(() => fn(...args), ms);
    };
}
