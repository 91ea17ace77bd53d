// A stand-in for `silog view` while developing the page: serves the page's files and canned
// answers of the HTTP interface from a generated log. The browser tests run against the real
// server; this one only lets the page be worked on without it.
//
//   node lib/fixture-server.mjs [--port 4230] [--entries 5000] [--rate 0]

import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const WEB = path.resolve(here, '../../../tools/silog/view/web');
const CSP =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data: blob:; connect-src 'self'; frame-src blob:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

const args = process.argv.slice(2);
const opt = (name, def) => {
    const i = args.indexOf(`--${name}`);
    return i >= 0 ? args[i + 1] : def;
};
const PORT = Number(opt('port', 4230));
const ENTRIES = Number(opt('entries', 5000));
const RATE = Number(opt('rate', 0));
const TOKEN = opt('token', '');

const TYPES = ['Message', 'Message', 'Message', 'Debug', 'Verbose', 'Warning', 'Error', 'EnterMethod', 'LeaveMethod', 'Checkpoint', 'VariableValue'];
const SEV = { Debug: 0, Verbose: 0, Warning: 2, Error: 3, InternalError: 3, Assert: 3, Fatal: 4, EnterMethod: 5, LeaveMethod: 5, ResetCallstack: 5, Separator: 5 };
const instance = Math.random().toString(36).slice(2);
const rows = [];
let seq = 0;
let dropped = 0;
let cleared = 0;
let received = 0;
let watchVersion = 1;
let flowVersion = 1;
const watches = new Map();
const start = Date.parse('2026-12-11T08:00:00Z');

function pad(n, w = 2) {
    return String(n).padStart(w, '0');
}
function stamp(t) {
    const d = new Date(t);
    return `${d.getFullYear()}-${pad(d.getMonth() + 1)}-${pad(d.getDate())} ${pad(d.getHours())}:${pad(d.getMinutes())}:${pad(d.getSeconds())}.${pad(d.getMilliseconds(), 3)}`;
}

function utf8(text) {
    return Buffer.concat([Buffer.from([0xef, 0xbb, 0xbf]), Buffer.from(text, 'utf8')]);
}

function bmp(w, h) {
    const rowSize = Math.ceil((w * 3) / 4) * 4;
    const size = 54 + rowSize * h;
    const b = Buffer.alloc(size);
    b.write('BM', 0);
    b.writeUInt32LE(size, 2);
    b.writeUInt32LE(54, 10);
    b.writeUInt32LE(40, 14);
    b.writeInt32LE(w, 18);
    b.writeInt32LE(h, 22);
    b.writeUInt16LE(1, 26);
    b.writeUInt16LE(24, 28);
    b.writeUInt32LE(rowSize * h, 34);
    for (let y = 0; y < h; y++)
        for (let x = 0; x < w; x++) {
            const o = 54 + y * rowSize + x * 3;
            b[o] = (x * 255) / w;
            b[o + 1] = (y * 255) / h;
            b[o + 2] = 160;
        }
    return b;
}

function ico() {
    const w = 16;
    const h = 16;
    const pixels = w * h * 4;
    const mask = h * 4;
    const dib = Buffer.alloc(40 + pixels + mask);
    dib.writeUInt32LE(40, 0);
    dib.writeInt32LE(w, 4);
    dib.writeInt32LE(h * 2, 8);
    dib.writeUInt16LE(1, 12);
    dib.writeUInt16LE(32, 14);
    for (let i = 0; i < w * h; i++) {
        const x = i % w;
        const y = Math.floor(i / w);
        const inside = (x - 7.5) ** 2 + (y - 7.5) ** 2 < 49;
        dib.writeUInt32LE(inside ? 0xff2a7de1 : 0, 40 + i * 4);
    }
    const head = Buffer.alloc(22);
    head.writeUInt16LE(1, 2);
    head.writeUInt16LE(1, 4);
    head[6] = w;
    head[7] = h;
    head.writeUInt16LE(1, 10);
    head.writeUInt16LE(32, 12);
    head.writeUInt32LE(dib.length, 14);
    head.writeUInt32LE(22, 18);
    return Buffer.concat([head, dib]);
}

const SAMPLES = [
    ['Text', 'Data', 'Patient record exported', utf8('Line one of the text\r\nLine two\r\n\tindented <b>not bold</b>\r\n')],
    ['Source', 'SqlSource', 'Query patient images', utf8("SELECT p.id, p.name -- the patient\r\nFROM patients p\r\nWHERE p.id = 42 AND p.name LIKE 'M%'\r\nORDER BY p.name;\r\n")],
    ['Source', 'XmlSource', 'Configuration XML', utf8('<?xml version="1.0"?>\r\n<!-- settings -->\r\n<config mode="normal">\r\n  <path value="C:\\Ondarix\\ox3.exe"/>\r\n</config>\r\n')],
    ['Source', 'IniSource', 'deruz64.ini', utf8('[Settings]\r\n; comment\r\nDetectOndarix=1\r\nLinkMode=0\r\n[Paths]\r\nImage=C:\\Images\r\n')],
    ['Source', 'PythonSource', 'Script', utf8('def hello(name):\r\n    """Greets."""\r\n    return f"Hello {name}"  # done\r\n')],
    ['Source', 'JavaScriptSource', 'Script', utf8('function f(a) {\r\n  // note\r\n  return a + 1; /* x */\r\n}\r\nconst s = "text";\r\n')],
    ['Binary', 'Binary', 'Received block', Buffer.from(Array.from({ length: 300 }, (_, i) => (i * 7) & 255))],
    ['Object', 'Inspector', 'TOx3Server properties', utf8('[General]\r\nName=Ox3\r\nVersion=3.0.1.582\r\n[Connection]\r\nMode=shared memory\r\nKey\\=with\\=equals=a\\\\b\r\n')],
    ['VariableValue', 'ValueList', 'Settings', utf8('DetectOndarix=1\r\nLinkMode=lmNormal\r\nPath=C:\\Program Files\\x\r\n')],
    ['Text', 'List', 'Loaded modules', utf8('kernel32.dll\r\nole32.dll\r\noleaut32.dll\r\n')],
    ['DatabaseResult', 'Table', 'Patients', utf8('Id, Name, Born\r\n\r\n"1", "Müller, Anna", "1970-01-02"\r\n"2", "Say ""hi""", "1980-03-04"\r\n')],
    ['WebContent', 'Web', 'Report <b>html</b>', utf8('<h1>Report</h1><p>Hello <b>world</b></p><img src="http://198.51.100.7/x.png"><script>window.parent.__pwned=1;alert(1)</script><ul><li>one</li><li>two</li></ul>')],
    ['Graphic', 'Bitmap', 'Screenshot', bmp(96, 64)],
    ['Graphic', 'Icon', 'Application icon', ico()],
    ['Graphic', 'Metafile', 'Chart', Buffer.from([0xd7, 0xcd, 0xc6, 0x9a, 0, 0, 0, 0])],
    ['Message', 'Title', '<img src=x onerror="window.__pwned=1">', Buffer.alloc(0)],
    ['Message', 'Title', 'Bidi \u202Egnp.exe\u202C here', Buffer.alloc(0)],
];

function add(row, data) {
    received++;
    row.seq = ++seq;
    row.data = data;
    rows.push(row);
}

function entry(t, type, viewer, title, data, extra = {}) {
    add(
        {
            seq: 0,
            kind: 'entry',
            t,
            timestamp: stamp(t),
            logEntryType: type,
            sev: SEV[type] ?? 1,
            viewerId: viewer,
            title,
            titleLength: Buffer.byteLength(title),
            sessionName: extra.session || 'Main',
            appName: extra.app || 'ondahost.exe',
            hostName: extra.host || 'PRAXIS-PC1',
            processId: extra.pid || 4242,
            threadId: extra.tid || 17,
            color: extra.color || null,
            dataSize: data.length,
            source: extra.source || 1,
        },
        data,
    );
}

function generate(i, t) {
    const sample = i % 97 === 5 ? SAMPLES[Math.floor(i / 97) % SAMPLES.length] : null;
    if (sample) {
        entry(t, sample[0], sample[1], sample[2], sample[3]);
        return;
    }
    const type = TYPES[(i * 7 + (i >> 3)) % TYPES.length];
    const titles = {
        Message: `Command ${i} sent to the imaging server`,
        Debug: `Probe connection: Version = 3.0.1.${i % 1000}`,
        Verbose: `Dispatching messages while waiting (${i % 50} ms)`,
        Warning: `Imaging application slow to answer (${i % 900} ms)`,
        Error: `AdminCommand failed with code ${-1000 - (i % 5)}`,
        EnterMethod: 'TOx3Link.SendCommand',
        LeaveMethod: 'TOx3Link.SendCommand',
        Checkpoint: `Checkpoint #${i}`,
        VariableValue: `ReturnText = "OK ${i}"`,
    };
    entry(t, type, 'Title', titles[type], Buffer.alloc(0), {
        session: ['Main', 'SiLog', 'Control'][i % 3],
        tid: [17, 18, 23][i % 3],
        pid: i % 11 === 0 ? 5151 : 4242,
        color: i % 53 === 0 ? '#ffe08a' : i % 89 === 0 ? '#1f4e79' : null,
        source: i % 11 === 0 ? 2 : 1,
    });
}

for (let i = 0; i < ENTRIES; i++) generate(i, start + i * 37);
for (let i = 0; i < 200; i++) {
    const t = start + i * 1000;
    const history = watches.get('Temperature') || [];
    history.push({ t, value: (20 + 5 * Math.sin(i / 10)).toFixed(2) });
    watches.set('Temperature', history);
}
watches.set('LinkMode', [{ t: start, value: 'lmNormal' }]);
watches.set('Commands', [{ t: start, value: '12' }, { t: start + 5000, value: '17' }]);

const flow = {
    version: 1,
    hosts: [
        {
            hostName: 'PRAXIS-PC1',
            processes: [
                {
                    processId: 4242,
                    open: true,
                    enter: start,
                    leave: null,
                    threads: [
                        {
                            threadId: 17,
                            open: true,
                            enter: start,
                            leave: null,
                            scopes: [
                                { title: 'ONDA_INITI', enter: start + 10, leave: start + 830, open: false, scopes: [{ title: 'TLinkConfig.Load', enter: start + 12, leave: start + 40, open: false, scopes: [] }] },
                                { title: 'ONDA_COMMAND', enter: start + 900, leave: null, open: true, scopes: [{ title: 'TOx3Link.SendCommand', enter: start + 905, leave: null, open: true, scopes: [] }] },
                            ],
                        },
                        { threadId: 18, open: false, enter: start + 100, leave: start + 5000, scopes: [] },
                    ],
                },
            ],
        },
    ],
};

function matches(row, q) {
    if (q.types && row.kind === 'entry' && !q.types.includes(row.logEntryType)) return false;
    if (q.session && !q.session.includes(row.sessionName)) return false;
    if (q.app && !q.app.includes(row.appName)) return false;
    if (q.host && !q.host.includes(row.hostName)) return false;
    if (q.source && !q.source.includes(String(row.source))) return false;
    if (q.pid && !q.pid.includes(String(row.processId))) return false;
    if (q.tid && !q.tid.includes(String(row.threadId))) return false;
    if (q.from !== undefined && row.t < q.from) return false;
    if (q.to !== undefined && row.t > q.to) return false;
    if (q.re && !q.re.test(row.title)) return false;
    if (q.q && !q.re && !row.title.toLowerCase().includes(q.q)) return false;
    return true;
}

function parseFilter(params) {
    const list = (k) => (params.get(k) ? params.get(k).split(',') : undefined);
    const q = { types: list('types'), session: list('session'), app: list('app'), host: list('host'), source: list('source'), pid: list('pid'), tid: list('tid') };
    if (params.has('from')) q.from = Number(params.get('from'));
    if (params.has('to')) q.to = Number(params.get('to'));
    if (params.get('q')) {
        if (params.get('re') === '1') q.re = new RegExp(params.get('q'), params.get('case') === '1' ? '' : 'i');
        else q.q = params.get('q').toLowerCase();
    }
    return q;
}

function visible() {
    return rows.filter((r) => r.seq > cleared || r.kind === 'control');
}

let cache = { key: null, list: null, version: -1 };
function filtered(params) {
    const key = ['types', 'session', 'app', 'host', 'source', 'pid', 'tid', 'from', 'to', 'q', 're', 'case'].map((k) => params.get(k)).join('|');
    if (cache.key === key && cache.version === seq) return cache.list;
    const q = parseFilter(params);
    const list = rows.filter((r) => (r.seq > cleared || (r.kind === 'control' && r.seq === cleared)) && matches(r, q));
    cache = { key, list, version: seq };
    return list;
}

function publicRow(r) {
    const { data, ...rest } = r;
    return { ...rest, title: r.title.length > 1000 ? `${r.title.slice(0, 999)}…` : r.title };
}

function state() {
    const kept = visible();
    return {
        instance,
        version: 'fixture',
        first: rows.length ? rows[0].seq : 0,
        last: seq,
        kept: kept.length,
        keep: 1000000,
        dropped,
        received,
        cleared,
        sources: [
            { id: 1, kind: 'pipe', name: 'silog', banner: 'hostname=PRAXIS-PC1 appname=ondahost.exe', appName: 'ondahost.exe', hostName: 'PRAXIS-PC1', state: 'connected', error: '', packets: received },
            { id: 2, kind: 'tcp', name: '127.0.0.1:51234', banner: '', appName: 'imaging-sim.exe', hostName: 'PRAXIS-PC1', state: 'closed', error: '', packets: 12 },
        ],
        watches: watchVersion,
        flow: flowVersion,
    };
}

const streams = new Set();
function send(res, status, body, type = 'application/json; charset=utf-8', extra = {}) {
    res.writeHead(status, { 'Content-Type': type, 'Content-Security-Policy': CSP, 'X-Content-Type-Options': 'nosniff', 'Cache-Control': 'no-store', ...extra });
    res.end(typeof body === 'string' || Buffer.isBuffer(body) ? body : JSON.stringify(body));
}

const MIME = { '.js': 'text/javascript', '.css': 'text/css', '.html': 'text/html; charset=utf-8', '.svg': 'image/svg+xml' };

const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://x');
    const p = url.pathname;
    if (p.startsWith('/static/')) {
        const file = path.join(WEB, path.normalize(p.slice(8)).replace(/^(\.\.[/\\])+/, ''));
        if (!file.startsWith(WEB) || !fs.existsSync(file)) return send(res, 404, { error: 'not found' });
        return send(res, 200, fs.readFileSync(file), MIME[path.extname(file)] || 'application/octet-stream');
    }
    if (TOKEN && url.searchParams.get('token') !== TOKEN) return send(res, 401, { error: 'token required' });
    const params = url.searchParams;
    if (p === '/') return send(res, 200, fs.readFileSync(path.join(WEB, 'index.html')), 'text/html; charset=utf-8');
    if (p === '/api/state') return send(res, 200, state());
    if (p === '/api/events') {
        res.writeHead(200, { 'Content-Type': 'text/event-stream', 'Cache-Control': 'no-store', 'Content-Security-Policy': CSP });
        res.write(`event: state\ndata: ${JSON.stringify(state())}\n\n`);
        streams.add(res);
        req.on('close', () => streams.delete(res));
        return;
    }
    if (p === '/api/rows') {
        let list;
        try {
            list = filtered(params);
        } catch (err) {
            return send(res, 400, { error: `bad regular expression: ${err.message}` });
        }
        let offset = Number(params.get('offset') || 0);
        const limit = Math.min(1000, Number(params.get('limit') ?? 100));
        if (params.has('seq')) {
            const s = Number(params.get('seq'));
            let lo = 0;
            let hi = list.length;
            while (lo < hi) {
                const mid = (lo + hi) >> 1;
                if (list[mid].seq < s) lo = mid + 1;
                else hi = mid;
            }
            offset = Math.min(list.length, Math.max(0, lo + Number(params.get('offset') || 0)));
        }
        return send(res, 200, { total: list.length, offset, last: seq, rows: list.slice(offset, offset + limit).map(publicRow) });
    }
    if (p === '/api/entry') {
        const r = rows.find((x) => x.seq === Number(params.get('seq')));
        if (!r) return send(res, 404, { error: 'no such entry' });
        return send(res, 200, { ...r, data: r.data.toString('base64') });
    }
    if (p === '/api/facets') {
        const f = { logEntryType: {}, sessionName: {}, appName: {}, hostName: {}, processId: {}, threadId: {}, source: {} };
        for (const r of visible()) {
            if (r.kind !== 'entry') continue;
            f.logEntryType[r.logEntryType] = (f.logEntryType[r.logEntryType] || 0) + 1;
            f.sessionName[r.sessionName] = (f.sessionName[r.sessionName] || 0) + 1;
            f.appName[r.appName] = (f.appName[r.appName] || 0) + 1;
            f.hostName[r.hostName] = (f.hostName[r.hostName] || 0) + 1;
            f.processId[r.processId] = (f.processId[r.processId] || 0) + 1;
            f.threadId[r.threadId] = (f.threadId[r.threadId] || 0) + 1;
            f.source[r.source] = (f.source[r.source] || 0) + 1;
        }
        return send(res, 200, f);
    }
    if (p === '/api/histogram') {
        const list = filtered(params).filter((r) => r.t !== null);
        const buckets = Math.min(400, Number(params.get('buckets') || 120));
        const from = params.has('from') ? Number(params.get('from')) : list.length ? list[0].t : 0;
        const to = params.has('to') ? Number(params.get('to')) : list.length ? list[list.length - 1].t : 0;
        const bucket = Math.max(1, (to - from) / buckets);
        const counts = Array.from({ length: buckets }, () => [0, 0, 0, 0, 0, 0]);
        for (const r of list) {
            const i = Math.min(buckets - 1, Math.floor((r.t - from) / bucket));
            if (i >= 0) counts[i][r.sev ?? 1]++;
        }
        return send(res, 200, { from, to, bucket, counts });
    }
    if (p === '/api/watches') {
        const list = [...watches.entries()]
            .sort((a, b) => (a[0] < b[0] ? -1 : 1))
            .map(([name, h]) => ({ name, value: h[h.length - 1].value, watchType: name === 'LinkMode' ? 'String' : 'Float', t: h[h.length - 1].t, timestamp: stamp(h[h.length - 1].t), count: h.length, numeric: name !== 'LinkMode' }));
        return send(res, 200, { version: watchVersion, watches: list });
    }
    if (p === '/api/watch') {
        const h = watches.get(params.get('name'));
        if (!h) return send(res, 404, { error: 'no such watch' });
        return send(res, 200, { name: params.get('name'), watchType: 'Float', history: h.slice(-Number(params.get('limit') || 2000)) });
    }
    if (p === '/api/flow') return send(res, 200, { ...flow, version: flowVersion });
    if (p === '/api/export') {
        const list = filtered(params);
        const lines = list.map((r) => JSON.stringify(publicRow(r))).join('\n');
        return send(res, 200, lines, 'application/x-ndjson', { 'Content-Disposition': 'attachment; filename="silog-view.jsonl"' });
    }
    send(res, 404, { error: 'unknown path' });
});

setInterval(() => {
    const body = `event: state\ndata: ${JSON.stringify(state())}\n\n`;
    for (const s of streams) s.write(body);
}, 200);

if (RATE > 0) {
    let i = ENTRIES;
    setInterval(() => {
        const n = Math.max(1, Math.round(RATE / 10));
        for (let k = 0; k < n; k++, i++) generate(i, Date.now());
        const h = watches.get('Temperature');
        h.push({ t: Date.now(), value: (20 + 5 * Math.sin(i / 1000)).toFixed(2) });
        watchVersion++;
    }, 100);
}

server.listen(PORT, '127.0.0.1', () => console.log(`fixture at http://127.0.0.1:${PORT}/`));
