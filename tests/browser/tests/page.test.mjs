// The page of silog view against the real server, with the feeder's fixed script: the rows,
// hostile titles kept inert, every filter, the detail pane of every viewer, watches, the
// process flow, the keyboard and the export. Nothing may leave the page's origin, no injected
// script may run, and the page itself must live within its Content-Security-Policy.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch } from '../lib/browser.mjs';
import { ViewServer, feed } from '../lib/harness.mjs';
import { openPage, waitReady, waitTotal, shownRows, settledRows, setHash, foreignRequests, blockedRequests } from '../lib/page.mjs';

let server;
let browser;
let page;
let script; // the feeder's summary of what it sent
let rows; // every row the server keeps, from its API

before(async () => {
    server = await new ViewServer().start();
    browser = await launch();
    await browser.context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: server.origin });
    page = await openPage(browser.context, server.pageUrl());
    await waitReady(page);
    // The page is open while the script arrives, clears included.
    script = JSON.parse(await feed(['--script', `tcp(host=127.0.0.1,port=${server.tcpPort})`]));
    await server.waitState((s) => s.received >= Object.values(script.packets).reduce((a, b) => a + b, 0));
    rows = (await server.json('/api/rows?limit=1000')).rows;
    assert.equal(rows.length, script.rowsAfterLastClear);
    await waitTotal(page, rows.length);
});

after(async () => {
    await browser?.close();
    await server?.stop();
});

const byTitle = (prefix) => rows.find((r) => r.title.startsWith(prefix));

// Each test starts from the whole log.
async function clearFilter() {
    await setHash(page, '');
    await waitTotal(page, rows.length);
}

async function serverTotal(query) {
    return (await server.json(`/api/rows?limit=0&${query}`)).total;
}

// Applies a filter through the URL fragment and waits until the page shows the server's
// count for it.
async function filterBy(hash, query) {
    const expected = await serverTotal(query);
    await setHash(page, hash);
    await waitTotal(page, expected);
    return expected;
}

test('rows: every kept row, in order, with its type, colour and cells; hostile titles stay text', async () => {
    await page.keyboard.press('Home');
    let shown = await settledRows(page);
    assert.deepEqual(
        shown.map((r) => r.seq),
        rows.slice(0, shown.length).map((r) => r.seq),
    );
    await page.keyboard.press('End');
    await page.waitForFunction((last) => document.querySelector(`#log-rows .row[data-seq="${last}"]`) !== null, rows.at(-1).seq);
    shown = await settledRows(page);
    assert.deepEqual(
        shown.map((r) => r.seq),
        rows.slice(rows.length - shown.length).map((r) => r.seq),
    );
    // Every row's cells, checked on the rows as the server has them.
    const all = [];
    for (let offset = 0; offset < rows.length; offset += 20) {
        await page.evaluate((o) => {
            const app = window.silogView;
            app.list.setFollowing(false);
            app.list.setTop(o, false);
        }, offset);
        await settledRows(page);
        all.push(...(await shownRows(page)));
    }
    const seen = new Map(all.map((r) => [r.seq, r]));
    assert.equal(seen.size, rows.length);
    for (const row of rows) {
        const cell = seen.get(row.seq);
        if (row.kind === 'control') {
            assert.match(cell.className, /\bcontrol\b/);
            assert.equal(cell.type, row.controlCommandType);
            continue;
        }
        assert.equal(cell.type, row.logEntryType);
        assert.equal(cell.time, row.timestamp.slice(11, 23));
        assert.equal(cell.session, row.sessionName);
        assert.equal(cell.app, row.appName);
        assert.equal(cell.host, row.hostName);
        assert.equal(cell.pid, String(row.processId));
        assert.equal(cell.tid, String(row.threadId));
        assert.match(cell.className, new RegExp(`\\bsev-${row.sev}\\b`));
        if (row.color) {
            // The entry's own colour, whole in the row's band and as a tint behind its text.
            assert.match(cell.className, /\bcolored\b/);
            assert.equal(cell.rowColor, row.color, `colour of ${row.title}`);
            assert.notEqual(cell.background, 'rgba(0, 0, 0, 0)', `tint of ${row.title}`);
        } else {
            assert.doesNotMatch(cell.className, /\bcolored\b/);
        }
    }
    const text = (prefix) => seen.get(byTitle(prefix).seq).title;
    assert.equal(text('<img src=x'), '<img src=x onerror=window.__pwned=1>');
    assert.equal(text('</script>'), '</script><script>window.__pwned=1</script>');
    assert.equal(text('invoice'), 'invoice⟦RLO⟧fdp.exe⟦PDF⟧ done');
    assert.match(text('escape'), /^escape ⟦ESC⟧\[31mred⟦ESC⟧\[0m bell ⟦BEL⟧ end$/);
    assert.ok(text('huge title').length <= 1001 && text('huge title').endsWith('…'), 'a long title is cut by the server');
    const injected = await page.evaluate(() => ({
        pwned: window.__pwned,
        images: document.querySelectorAll('#log-rows img, #log-rows script').length,
    }));
    assert.deepEqual(injected, { pwned: undefined, images: 0 });
});

test('filters: each facet, text, regular expression, time range and their combination; kept in the URL; x clears', async () => {
    const worker = rows.find((r) => r.title === 'worker processing');
    const cases = [
        { name: 'type', hash: '#types=Error', query: 'types=Error', ok: (r) => r.type === 'Error' },
        { name: 'two types', hash: '#types=Warning&types=Fatal', query: 'types=Warning,Fatal', ok: (r) => r.type === 'Warning' || r.type === 'Fatal' },
        { name: 'session', hash: '#session=Hostile', query: 'session=Hostile', ok: (r) => r.session === 'Hostile' },
        { name: 'application', hash: '#app=view-feed', query: 'app=view-feed', ok: (r) => r.app === 'view-feed' },
        { name: 'host', hash: `#host=${worker.hostName}`, query: `host=${worker.hostName}`, ok: (r) => r.host === worker.hostName },
        { name: 'process', hash: `#pid=${worker.processId}`, query: `pid=${worker.processId}`, ok: (r) => r.pid === String(worker.processId) },
        { name: 'thread', hash: `#tid=${worker.threadId}`, query: `tid=${worker.threadId}`, ok: (r) => r.tid === String(worker.threadId) },
        { name: 'source', hash: '#source=1', query: 'source=1', ok: () => true },
        { name: 'text', hash: '#q=PATIENT', query: 'q=PATIENT', ok: (r) => /patient/i.test(r.title) },
        { name: 'regex', hash: '#q=%5EWorker%5C.%28Step%7CProcess%29%24&re=1', query: 're=1&q=%5EWorker%5C.%28Step%7CProcess%29%24', ok: (r) => /^Worker\.(Step|Process)$/.test(r.title) },
        { name: 'combined', hash: '#session=Main&types=EnterMethod&q=images', query: 'session=Main&types=EnterMethod&q=images', ok: (r) => r.session === 'Main' && r.type === 'EnterMethod' && /images/i.test(r.title) },
    ];
    for (const c of cases) {
        const expected = await filterBy(c.hash, c.query);
        assert.ok(expected > 0, `${c.name}: the script has matching rows`);
        const shown = await settledRows(page);
        // Control rows pass every filter but time and source; entries must match.
        const entries = shown.filter((r) => !/\bcontrol\b/.test(r.className));
        assert.ok(entries.length > 0, c.name);
        for (const r of entries) assert.ok(c.ok(r), `${c.name}: row ${r.seq} "${r.title}"`);
        assert.match(await page.textContent('#status-match'), new RegExp(`^${expected} of \\d+ rows match$`));
    }
    // Facets are clicked, values of one field add up, fields combine.
    await setHash(page, '');
    await waitTotal(page, rows.length);
    await page.click('.facet-value[data-key="types"][data-value="Warning"]');
    await page.click('.facet-value[data-key="types"][data-value="Error"]');
    await page.click('.facet-value[data-key="session"][data-value="Main"]');
    await waitTotal(page, await serverTotal('types=Warning,Error&session=Main'));
    assert.equal(new URL(page.url()).hash, '#types=Warning&types=Error&session=Main');
    // The search box, with and without regular expressions, and a bad expression.
    await page.keyboard.press('x');
    await waitTotal(page, rows.length);
    await page.keyboard.press('/');
    await page.keyboard.type('worker');
    await waitTotal(page, await serverTotal('q=worker'));
    await page.click('#re');
    await page.fill('#q', 'Worker\\.St(');
    await page.waitForSelector('#q.invalid');
    assert.match(await page.textContent('#q-error'), /regular expression/);
    await page.fill('#q', 'Worker\\.St');
    await waitTotal(page, await serverTotal('re=1&q=Worker%5C.St'));
    assert.equal(await page.$('#q.invalid'), null);
    // A time range from a drag across the histogram narrows to the rows of that span.
    await page.keyboard.press('Escape');
    await page.keyboard.press('x');
    await waitTotal(page, rows.length);
    const box = await page.locator('#histogram canvas').boundingBox();
    await page.mouse.move(box.x + box.width * 0.05, box.y + box.height / 2);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width * 0.6, box.y + box.height / 2, { steps: 5 });
    await page.mouse.up();
    await page.waitForFunction(() => window.silogView.filter.from !== null);
    const range = await page.evaluate(() => [window.silogView.filter.from, window.silogView.filter.to]);
    await waitTotal(page, await serverTotal(`from=${range[0]}&to=${range[1]}`));
    for (const r of await settledRows(page)) {
        const row = rows.find((x) => x.seq === r.seq);
        assert.ok(row.t >= range[0] && row.t <= range[1], `row ${r.seq} in the dragged range`);
    }
    // The URL keeps the filter over a reload; one key clears all of it.
    await setHash(page, '#session=Main&q=image');
    const kept = await serverTotal('session=Main&q=image');
    await page.reload();
    await waitReady(page);
    await waitTotal(page, kept);
    assert.equal(await page.inputValue('#q'), 'image');
    assert.equal(await page.locator('#chips .chip').count(), 1);
    await page.locator('#log-rows').focus();
    await page.keyboard.press('x');
    await waitTotal(page, rows.length);
    assert.equal(new URL(page.url()).hash, '');
});

// What each viewer must show for the script's entry with that viewer.
const VIEWERS = {
    Data: async (d, text) => assert.equal(await d.locator('.viewer-Data pre').textContent(), text),
    List: async (d, text) => assert.deepEqual(await d.locator('.data-list li').allTextContents(), text.split('\r\n').filter(Boolean)),
    ValueList: async (d) => {
        const keys = await d.locator('.viewer-ValueList .kv th').allTextContents();
        assert.ok(keys.length >= 2, 'keys');
    },
    Inspector: async (d) => {
        assert.ok((await d.locator('.inspector details.group').count()) >= 1, 'groups');
        assert.ok((await d.locator('.inspector .kv th').count()) >= 2, 'properties');
    },
    Table: async (d) => {
        assert.ok((await d.locator('.grid thead th').count()) >= 2, 'header');
        assert.ok((await d.locator('.grid tbody tr').count()) >= 1, 'rows');
    },
    Binary: async (d) => {
        const dump = await d.locator('.viewer-Binary pre.hex').textContent();
        assert.equal(dump.split('\n')[0], '00000000  00 01 02 03 04 05 06 07  08 09 0a 0b 0c 0d 0e 0f  ................');
        assert.equal(dump.split('\n')[4], '00000040  40 41 42 43 44 45 46 47  48 49 4a 4b 4c 4d 4e 4f  @ABCDEFGHIJKLMNO');
        assert.equal(dump.split('\n').length, 16);
    },
    Bitmap: async (d) => assert.equal(await waitImage(d), 8),
    Jpeg: async (d) => assert.equal(await waitImage(d), 16),
    Icon: async (d) => assert.equal(await waitImage(d), 16),
    Metafile: async (d) => assert.match(await d.locator('.viewer-Metafile a[download]').getAttribute('download'), /\.(wmf|emf)$/),
    Web: async (d) => {
        const frame = d.locator('iframe.web-frame');
        assert.equal(await frame.getAttribute('sandbox'), '');
        assert.match(await frame.getAttribute('src'), /^blob:/);
        // Give the frame's script, fetch, image and frame every chance to run.
        await page.waitForTimeout(800);
        const inner = page.frames().find((f) => f.url().startsWith('blob:'));
        assert.ok(inner, 'the web content frame loaded');
        assert.equal(await page.evaluate(() => window.__pwned), undefined);
    },
};
for (const lang of ['Html', 'JavaScript', 'VbScript', 'Perl', 'Sql', 'Ini', 'Python', 'Xml']) {
    VIEWERS[`${lang}Source`] = async (d, text) => {
        const pre = d.locator('pre.source');
        assert.equal(await pre.textContent(), text);
        assert.ok((await pre.locator('span[class^="tok-"]').count()) >= 2, `${lang} is highlighted`);
    };
}

async function waitImage(detail) {
    const img = detail.locator('img.data-image');
    await img.waitFor();
    await page.waitForFunction((el) => el.complete && el.naturalWidth > 0, await img.elementHandle());
    return img.evaluate((el) => el.naturalWidth);
}

test('detail pane: every viewer renders its data, with every field and the raw bytes to copy', async () => {
    await clearFilter();
    const withData = rows.filter((r) => r.kind === 'entry' && r.dataSize > 0);
    const viewers = new Set(withData.map((r) => r.viewerId));
    for (const v of Object.keys(VIEWERS)) assert.ok(viewers.has(v), `the script has a ${v} entry`);
    const detail = page.locator('#detail');
    for (const row of withData) {
        await page.evaluate((seq) => window.silogView.detail.show(seq), row.seq);
        await page.waitForFunction((seq) => document.querySelector('#detail').dataset.seq === String(seq), row.seq);
        const entry = await server.json(`/api/entry?seq=${row.seq}`);
        const bytes = Buffer.from(entry.data, 'base64');
        const text = bytes.subarray(bytes[0] === 0xef ? 3 : 0).toString('utf8');
        assert.ok(VIEWERS[row.viewerId], `a check for ${row.viewerId}`);
        await VIEWERS[row.viewerId](detail, text);
        // The fields, and the raw bytes with a copy button.
        const fields = await detail.locator('.fields').textContent();
        for (const value of [row.viewerId, row.logEntryType, row.sessionName, String(row.threadId), row.timestamp]) assert.ok(fields.includes(value), `${row.title}: field ${value}`);
        await detail.locator('details.raw summary').click();
        assert.equal(await detail.locator('details.raw summary').textContent(), `Raw data · ${bytes.length} bytes`);
        await detail.locator('details.raw button', { hasText: 'Copy hex' }).click();
        const copied = await page.evaluate(() => navigator.clipboard.readText());
        const hex = copied
            .split('\n')
            .map((line) => line.slice(10, 58).replace(/\s+/g, ''))
            .join('');
        assert.equal(hex, bytes.toString('hex'), `${row.title}: copied bytes`);
    }
    // A title of a mebibyte: shown in part, in full on demand, copied in full.
    const huge = byTitle('huge title');
    await page.evaluate((seq) => window.silogView.detail.show(seq), huge.seq);
    await page.waitForFunction((seq) => document.querySelector('#detail').dataset.seq === String(seq), huge.seq);
    const full = (await server.json(`/api/entry?seq=${huge.seq}`)).title;
    assert.ok(full.length >= 1 << 20);
    assert.ok((await detail.locator('.detail-title').textContent()).length < full.length);
    await detail.locator('button', { hasText: 'Copy title' }).click();
    assert.equal((await page.evaluate(() => navigator.clipboard.readText())).length, full.length);
    await detail.locator('button', { hasText: 'Show all' }).click();
    assert.equal(await detail.locator('.detail-title').textContent(), full);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
});

test('watches: the latest value of each, a chart of a numeric one, the history of any', async () => {
    await clearFilter();
    await page.click('#tab-watches');
    await page.waitForSelector('.watch-table tr[data-name]');
    const shown = await page.$$eval('.watch-table tr[data-name]', (trs) => trs.map((tr) => [tr.dataset.name, tr.querySelector('.w-value').textContent]));
    assert.deepEqual(Object.fromEntries(shown), script.watches);
    assert.ok(!shown.some(([name]) => name === 'before.clear'), 'ClearWatches removed the watch sent before it');
    await page.click('.watch-table tr[data-name="temperature"]');
    await page.waitForSelector('.watch-history .uplot canvas');
    const history = await page.$$eval('.watch-values tr td', (tds) => tds.map((td) => td.textContent));
    assert.equal(history.length, 10);
    assert.equal(history[0], script.watches.temperature);
    // The chart holds the ten values, oldest first.
    const data = await page.evaluate(() => window.silogView.watches.chart.data[1]);
    assert.equal(data.length, 10);
    assert.equal(data.at(-1), Number(script.watches.temperature));
    // A Boolean has a history but no chart.
    await page.click('.watch-table tr[data-name="online"]');
    await page.waitForFunction(() => document.querySelector('.watch-history h3')?.textContent === 'online');
    assert.equal(await page.$('.watch-history .uplot'), null);
    assert.deepEqual(await page.$$eval('.watch-values tr td', (tds) => tds.map((td) => td.textContent)), ['False', 'True']);
});

test('process flow: hosts, processes, threads and scopes with times; open scopes marked; a click narrows the log', async () => {
    await clearFilter();
    await page.click('#tab-flow');
    await page.waitForSelector('.flow-node.host');
    const flow = await server.json('/api/flow');
    const proc = flow.hosts[0].processes[0];
    const titles = await page.$$eval('.flow-title', (els) => els.map((e) => e.textContent));
    assert.ok(titles.includes(flow.hosts[0].hostName));
    assert.ok(titles.includes(`Process ${proc.processId} · view-feed.exe`));
    assert.ok(titles.includes(`Thread ${proc.threads[0].threadId} · Main Thread`));
    assert.ok(titles.includes('Main.Run') && titles.includes('Main.Idle'));
    assert.ok(!titles.includes('Before.Clear'), 'ClearProcessFlow removed the scope entered before it');
    // The open scope is marked; a closed one shows its leave time.
    const idle = page.locator('.flow-node.scope', { has: page.locator('.flow-title', { hasText: 'Main.Idle' }) });
    assert.match(await idle.getAttribute('class'), /open-scope/);
    assert.equal(await idle.locator('.badge.open').count(), 1);
    const run = page.locator('.flow-node.scope', { has: page.locator('> .flow-line .flow-title', { hasText: 'Main.Run' }) });
    assert.match(await run.locator('> .flow-when').textContent(), /^\d\d:\d\d:\d\d\.\d{3} → \d\d:\d\d:\d\d\.\d{3}$/);
    // Nested scopes open on demand.
    await run.locator('> .flow-line .twisty').click();
    await page.waitForSelector('.flow-title:text-is("Images.Load")');
    // A click on the worker thread narrows the log to its thread and time.
    const worker = proc.threads.find((t) => t.title === 'Worker');
    await page.click(`.flow-title:text-is("Thread ${worker.threadId} · Worker")`);
    await page.waitForFunction((tid) => window.silogView.filter.tid[0] === String(tid), worker.threadId);
    const f = await page.evaluate(() => window.silogView.filter);
    assert.deepEqual([f.pid, f.tid], [[String(proc.processId)], [String(worker.threadId)]]);
    const expected = await serverTotal(`pid=${proc.processId}&tid=${worker.threadId}&from=${f.from}&to=${f.to}`);
    await waitTotal(page, expected);
    const entries = (await settledRows(page)).filter((r) => !/\bcontrol\b/.test(r.className));
    assert.deepEqual(
        entries.map((r) => r.title),
        ['Worker.Process', 'worker processing', 'Worker.Step', 'Worker.Step', 'Worker.Process'],
    );
    await page.keyboard.press('x');
    await waitTotal(page, rows.length);
});

test('keyboard: j/k and arrows select, Enter opens, / searches, Escape leaves, Space pauses, Home and End', async () => {
    await clearFilter();
    await page.click('#tab-entry');
    await page.locator('#log-rows').focus();
    await page.keyboard.press('Home');
    await page.waitForFunction((seq) => window.silogView.list.selectedSeq === seq, rows[0].seq);
    await page.keyboard.press('j');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('k');
    await page.waitForFunction((seq) => window.silogView.list.selectedSeq === seq, rows[1].seq);
    assert.equal(await page.locator('#log-rows .row.selected').getAttribute('data-seq'), String(rows[1].seq));
    await page.keyboard.press('Enter');
    await page.waitForFunction((seq) => document.querySelector('#detail').dataset.seq === String(seq), rows[1].seq);
    assert.equal(await page.textContent('#follow-label'), 'Paused');
    await page.keyboard.press('End');
    await page.waitForFunction((seq) => window.silogView.list.selectedSeq === seq, rows.at(-1).seq);
    assert.equal(await page.textContent('#follow-label'), 'Live');
    await page.keyboard.press(' ');
    assert.equal(await page.textContent('#follow-label'), 'Paused');
    await page.keyboard.press(' ');
    assert.equal(await page.textContent('#follow-label'), 'Live');
    await page.keyboard.press('/');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'q');
    await page.keyboard.type('j');
    assert.equal(await page.inputValue('#q'), 'j', 'keys type into the search box');
    await page.keyboard.press('Escape');
    assert.notEqual(await page.evaluate(() => document.activeElement.id), 'q');
    await page.keyboard.press('Escape');
    assert.equal(await page.evaluate(() => window.silogView.list.selectedSeq), 0);
    await page.keyboard.press('x');
    await waitTotal(page, rows.length);
});

test('export: the filtered rows as JSON lines and as CSV, from the page origin', async () => {
    await clearFilter();
    await setHash(page, '#session=Hostile');
    const expected = await serverTotal('session=Hostile');
    await waitTotal(page, expected);
    const jsonl = await page.getAttribute('#export-jsonl', 'href');
    const csv = await page.getAttribute('#export-csv', 'href');
    assert.match(jsonl, /^\/api\/export\?session=Hostile&format=jsonl/);
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#export-jsonl')]);
    const body = await new Promise((resolve) => {
        const chunks = [];
        download.createReadStream().then((s) => {
            s.on('data', (c) => chunks.push(c));
            s.on('end', () => resolve(Buffer.concat(chunks).toString('utf8')));
        });
    });
    const lines = body.split('\n').filter(Boolean).map((l) => JSON.parse(l));
    // The control rows of the view pass the session filter as well.
    assert.equal(lines.length, expected);
    assert.ok(lines.some((l) => l.title === '<img src=x onerror=window.__pwned=1>'));
    const csvText = await page.evaluate(async (url) => (await fetch(url)).text(), csv);
    assert.equal(csvText.split('\r\n')[0], 'seq,timestamp,logEntryType,title,sessionName,appName,hostName,processId,threadId,viewerId,dataSize');
    await page.keyboard.press('x');
    await waitTotal(page, rows.length);
});

test('nothing left the origin, no injected script or dialog ran, the page kept to its policy', async () => {
    assert.deepEqual(foreignRequests(page.record, server.origin), []);
    assert.deepEqual(page.record.dialogs, []);
    assert.deepEqual(page.record.errors, []);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.deepEqual(await page.evaluate(() => window.__violations), []);
    assert.ok(page.record.requests.some((r) => r.url.includes('/api/entry')), 'the record holds the page requests');
    // The web content's image was tried and stopped by the policy, inside the browser.
    assert.ok(blockedRequests(page.record).includes('http://example.com/track.png'));
});
