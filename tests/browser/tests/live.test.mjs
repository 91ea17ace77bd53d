// The page while entries arrive: the live tail, pausing with the "N new" marker, keeping its
// place while --keep drops old rows, the scaled scroll bar of a long log, and a restart of
// silog view.

import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import net from 'node:net';
import { launch } from '../lib/browser.mjs';
import { ViewServer, feed, sleep } from '../lib/harness.mjs';
import { openPage, waitReady, waitTotal, settledRows } from '../lib/page.mjs';

const cleanup = [];
after(async () => {
    for (const fn of cleanup.reverse()) await fn();
});

async function start(options) {
    const server = await new ViewServer(options).start();
    cleanup.push(() => server.stop());
    const browser = await launch();
    cleanup.push(() => browser.close());
    const page = await openPage(browser.context, server.pageUrl());
    await waitReady(page);
    return { server, page, browser };
}

function messages(server, count, threads = 1) {
    return feed(['--count', String(count), '--threads', String(threads), `tcp(host=127.0.0.1,port=${server.tcpPort})`]);
}

const lastShown = (page) => page.evaluate(() => Math.max(0, ...[...document.querySelectorAll('#log-rows .row:not([hidden])')].map((r) => Number(r.dataset.seq) || 0)));

test('live tail follows new rows; scrolling up or Space pauses with an "N new" marker; End resumes', async () => {
    const { server, page } = await start();
    await messages(server, 3000, 3);
    let state = await server.waitState((s) => s.kept === 3000);
    await waitTotal(page, 3000);
    await page.waitForFunction((last) => window.silogView.list.settled() && Math.max(...[...document.querySelectorAll('#log-rows .row:not([hidden])')].map((r) => Number(r.dataset.seq))) === last, state.last);
    assert.equal(await page.textContent('#follow-label'), 'Live');

    // The wheel pauses; the rows on screen stay while more arrive.
    await page.mouse.move(500, 400);
    await page.mouse.wheel(0, -600);
    await page.waitForFunction(() => !window.silogView.list.following);
    const before = (await settledRows(page)).map((r) => r.seq);
    await messages(server, 500);
    state = await server.waitState((s) => s.kept === 3500);
    await page.waitForSelector('#new-marker:not([hidden])');
    await page.waitForFunction(() => document.querySelector('#new-count').textContent === '500 new');
    assert.deepEqual((await settledRows(page)).map((r) => r.seq), before);
    assert.equal(await page.textContent('#follow-label'), 'Paused');

    // The marker resumes, Space pauses and resumes, End jumps to the newest row.
    await page.click('#new-marker');
    await page.waitForFunction((last) => window.silogView.list.following && window.silogView.list.settled() && [...document.querySelectorAll('#log-rows .row')].some((r) => Number(r.dataset.seq) === last), state.last);
    assert.ok(await page.isHidden('#new-marker'));
    await page.locator('#log-rows').focus();
    await page.keyboard.press(' ');
    await messages(server, 200);
    state = await server.waitState((s) => s.kept === 3700);
    await page.waitForFunction(() => document.querySelector('#new-count').textContent === '200 new');
    assert.ok((await lastShown(page)) < state.last);
    await page.keyboard.press('End');
    await page.waitForFunction((last) => window.silogView.list.settled() && window.silogView.list.selectedSeq === last, state.last);
    assert.equal(await lastShown(page), state.last);
});

test('paused, the view keeps its rows while --keep drops older ones; the status counts the drops', async () => {
    const { server, page } = await start({ keep: 3000 });
    await messages(server, 2000);
    await waitTotal(page, 2000);
    // Look at the rows from seq 1001 on, paused.
    await page.evaluate(() => {
        const list = window.silogView.list;
        list.setFollowing(false);
        list.setTop(1000, false);
    });
    const before = (await settledRows(page)).map((r) => r.seq);
    assert.equal(before[0], 1001);
    // 1,500 more: the 500 oldest go, every offset moves by 500.
    await messages(server, 1500);
    const state = await server.waitState((s) => s.dropped === 500);
    assert.equal(state.kept, 3000);
    await page.waitForFunction(() => window.silogView.list.top < 600 && window.silogView.list.settled());
    assert.deepEqual((await settledRows(page)).map((r) => r.seq), before);
    await page.waitForFunction(() => document.querySelector('#status-dropped').textContent === '500 dropped by --keep');
    // Following again shows the newest row.
    await page.locator('#log-rows').focus();
    await page.keyboard.press('End');
    await page.waitForFunction((last) => window.silogView.list.settled() && window.silogView.list.selectedSeq === last, state.last);
});

test('a long log: the scroll bar is scaled past the height limit and reaches every row; the wheel moves by rows', async () => {
    const { server, page } = await start();
    const count = 200_000;
    await messages(server, count, 4);
    await server.waitState((s) => s.kept === count, 60000);
    await waitTotal(page, count, 30000);
    // Lower the cap so that this log exceeds it (a million rows exceed the real one).
    const geometry = await page.evaluate(() => {
        const list = window.silogView.list;
        list.maxScrollHeight = 1_000_000;
        list.setFollowing(false);
        list.setTop(0, false);
        list.draw();
        return { spacer: document.querySelector('.log-spacer').offsetHeight, rowHeight: list.rowHeight, view: list.viewHeight };
    });
    assert.equal(geometry.spacer, 1_000_000);
    assert.ok(count * geometry.rowHeight > geometry.spacer);
    // Moves the scroll bar as a drag would, and waits until the list has followed it.
    const scrollTo = async (fraction) => {
        const want = await page.evaluate((f) => {
            const scroller = document.querySelector('.log-scroll');
            scroller.scrollTop = Math.round(f * (scroller.scrollHeight - scroller.clientHeight));
            return (scroller.scrollTop / (scroller.scrollHeight - scroller.clientHeight)) * window.silogView.list.maxTop();
        }, fraction);
        await page.waitForFunction((w) => Math.abs(window.silogView.list.top - w) < 1 && window.silogView.list.settled(), want);
        return settledRows(page);
    };
    const visible = Math.floor(geometry.view / geometry.rowHeight);
    let shown = await scrollTo(1);
    assert.equal(shown.at(-1).seq, count, 'the bottom of the bar shows the last row');
    shown = await scrollTo(0.5);
    const middle = shown[0].seq;
    assert.ok(Math.abs(middle - (count - visible) / 2) < count / 1000, `the middle of the bar shows the middle rows (${middle})`);
    shown = await scrollTo(0);
    assert.equal(shown[0].seq, 1);
    // Three wheel notches of 100 px move by rows, not by scaled pixels.
    await page.mouse.move(500, 400);
    for (let i = 0; i < 3; i++) await page.mouse.wheel(0, 100);
    await page.waitForFunction((rows) => Math.abs(window.silogView.list.top - rows) < 0.5, 300 / geometry.rowHeight);
    // Any position: a jump far down draws its rows.
    shown = await scrollTo(0.8137);
    assert.ok(shown.length >= visible - 1 && shown[0].seq > count * 0.8);
});

test('silog view stops and comes back: the page says so, reconnects and shows the new run, with what its limit dropped', async () => {
    const { server, page } = await start();
    await messages(server, 300);
    await waitTotal(page, 300);
    await server.stop();
    await page.waitForSelector('#banner.error:not([hidden])');
    assert.match(await page.textContent('#banner-text'), /not answering\. Retrying in [\d.]+ s/);
    assert.equal(await page.textContent('#conn-label'), 'Disconnected');
    // The same ports, a new run with a small limit, fed while the page still waits.
    await sleep(1500);
    server.options.keep = 100;
    await server.start();
    await messages(server, 400);
    const state = await server.waitState((s) => s.last === 400);
    assert.equal(state.dropped, 300);
    await page.waitForSelector('#banner.info:not([hidden])', { timeout: 20000 });
    const text = await page.textContent('#banner-text');
    assert.match(text, /silog view was restarted/);
    assert.match(text, /100 entries kept, 300 dropped by its limit/);
    assert.equal(await page.textContent('#conn-label'), 'Connected');
    await waitTotal(page, 100);
    // Still following: the newest row of the new run is on screen.
    await page.waitForFunction((last) => window.silogView.list.settled() && [...document.querySelectorAll('#log-rows .row')].some((r) => Number(r.dataset.seq) === last), state.last);
    assert.equal(await page.textContent('#follow-label'), 'Live');
    assert.deepEqual(page.record.errors, []);
});

test('clear commands arriving at a page that shows rows, watches and flow: each view empties as a viewer empties it', async () => {
    const { server, page } = await start();
    const conn = `tcp(host=127.0.0.1,port=${server.tcpPort})`;
    const first = JSON.parse(await feed(['--script', conn]));
    let state = await server.waitState((s) => s.kept === first.rowsAfterLastClear);
    const firstLast = state.last;
    await waitTotal(page, first.rowsAfterLastClear);
    await page.click('#tab-watches');
    await page.waitForSelector('.watch-table tr[data-name="counter"]');
    assert.equal(await page.textContent('.watch-table tr[data-name="counter"] .w-count'), '10');
    await page.click('#tab-flow');
    await page.waitForSelector('.flow-node.process');
    const firstProcess = await page.textContent('.flow-node.process > .flow-line .flow-title');

    // The same script again: it starts with ClearLog, ClearWatches, ClearProcessFlow,
    // ClearAutoViews and ClearAll before its own rows, watches and scopes.
    const second = JSON.parse(await feed(['--script', conn]));
    state = await server.waitState((s) => s.last > firstLast && s.kept === second.rowsAfterLastClear);
    await page.waitForFunction((flow) => window.silogView.flow.version === flow, state.flow);
    const processes = await page.$$eval('.flow-node.process > .flow-line .flow-title', (els) => els.map((e) => e.textContent));
    assert.equal(processes.length, 1);
    assert.notEqual(processes[0], firstProcess, 'the first run\'s process went with ClearProcessFlow');
    await page.click('#tab-watches');
    await page.waitForFunction((w) => window.silogView.watches.version === w, state.watches);
    assert.equal(await page.textContent('.watch-table tr[data-name="counter"] .w-count'), '10', 'the first run\'s updates went with ClearWatches');
    assert.equal(await page.$('.watch-table tr[data-name="before.clear"]'), null);

    // The log holds the second run's rows only, from its ClearAll row on, which is marked.
    await page.waitForFunction((n) => window.silogView.source.total === n && window.silogView.list.settled(), second.rowsAfterLastClear);
    await page.locator('#log-rows').focus();
    await page.keyboard.press('Home');
    const shown = await settledRows(page);
    assert.ok(shown.every((r) => r.seq > firstLast), 'no row of the first run is left');
    assert.equal(shown[0].seq, state.cleared + 1);
    assert.match(shown[0].className, /\bcontrol\b/);
    assert.equal(shown[0].type, 'ClearAll');
    assert.equal(shown[0].title, 'Control command ClearAll');
    assert.equal(await page.textContent('#status-cleared'), `cleared up to #${state.cleared.toLocaleString('en-US')}`);
    assert.equal(await page.$eval('#log-rows', (el) => getComputedStyle(el.querySelector('.row.control')).borderTopStyle), 'dashed');
});

// A TCP relay between the page and the server that can drop every connection and refuse new
// ones, as a broken network would, while the server goes on.
async function relay(port) {
    const sockets = new Set();
    let down = false;
    const server = net.createServer((client) => {
        if (down) return client.destroy();
        const upstream = net.connect(port, '127.0.0.1');
        for (const s of [client, upstream]) {
            sockets.add(s);
            s.on('close', () => sockets.delete(s));
            s.on('error', () => {});
        }
        client.pipe(upstream).pipe(client);
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    return {
        port: server.address().port,
        cut() {
            down = true;
            for (const s of sockets) s.destroy();
        },
        restore() {
            down = false;
        },
        close: () => new Promise((resolve) => server.close(resolve)),
    };
}

test('the page loses its connection while the server goes on: it reconnects, fetches what it missed and says what --keep dropped meanwhile', async () => {
    const server = await new ViewServer({ keep: 500 }).start();
    cleanup.push(() => server.stop());
    const link = await relay(server.httpPort);
    cleanup.push(() => link.close());
    const browser = await launch();
    cleanup.push(() => browser.close());
    const page = await openPage(browser.context, `http://127.0.0.1:${link.port}/`);
    await waitReady(page);
    await messages(server, 300);
    await waitTotal(page, 300);
    const before = await server.json('/api/state');
    // The page counts what arrived while away from the last state it had: let it have this one.
    await page.waitForFunction((received) => window.silogView.server.received === received, before.received);
    link.cut();
    await page.waitForSelector('#banner.error:not([hidden])');
    assert.equal(await page.textContent('#conn-label'), 'Disconnected');
    await messages(server, 700);
    const state = await server.waitState((s) => s.last === before.last + 700);
    assert.equal(state.dropped, 500);
    link.restore();
    await page.waitForSelector('#banner.warn:not([hidden])', { timeout: 20000 });
    assert.equal(
        await page.textContent('#banner-text'),
        `Reconnected. ${state.received - before.received} packets arrived while the page was away; the server's limit (--keep 500) dropped 500 entries meanwhile.`,
    );
    await waitTotal(page, 500);
    await page.waitForFunction((last) => window.silogView.list.settled() && [...document.querySelectorAll('#log-rows .row')].some((r) => Number(r.dataset.seq) === last), state.last);
});

test('each clear command on its own: ClearWatches, ClearProcessFlow, ClearAutoViews, ClearLog, ClearAll', async () => {
    const { server, page } = await start();
    const conn = `tcp(host=127.0.0.1,port=${server.tcpPort})`;
    const control = (name) => feed(['--control', name, conn]);
    const script = JSON.parse(await feed(['--script', conn]));
    let state = await server.waitState((s) => s.kept === script.rowsAfterLastClear);
    await waitTotal(page, script.rowsAfterLastClear);
    const rowsNow = async () => (await settledRows(page)).map((r) => [r.seq, r.type]);
    const watchCount = async () => {
        await page.click('#tab-watches');
        await page.waitForFunction((v) => window.silogView.watches.version === v, (await server.json('/api/state')).watches);
        return page.locator('.watch-table tr[data-name]').count();
    };
    const flowHosts = async () => {
        await page.click('#tab-flow');
        await page.waitForFunction((v) => window.silogView.flow.version === v, (await server.json('/api/state')).flow);
        return page.locator('.flow-node.host').count();
    };
    // Each step: the command, then what the log, the watches and the flow show.
    const steps = [
        { name: 'ClearWatches', rows: 'kept', watches: 0, hosts: 1 },
        { name: 'ClearProcessFlow', rows: 'kept', watches: 0, hosts: 0 },
        { name: 'ClearAutoViews', rows: 'kept', watches: 0, hosts: 0 },
        { name: 'ClearLog', rows: 'cleared', watches: 0, hosts: 0 },
    ];
    assert.equal(await watchCount(), Object.keys(script.watches).length);
    assert.equal(await flowHosts(), 1);
    let total = script.rowsAfterLastClear;
    for (const step of steps) {
        await control(step.name);
        state = await server.waitState((s) => s.received === state.received + 2); // the client's header and the command
        total = step.rows === 'kept' ? total + 1 : 1;
        await waitTotal(page, total);
        await page.locator('#log-rows').focus();
        await page.keyboard.press('End');
        await page.waitForFunction((seq) => window.silogView.list.selectedSeq === seq && window.silogView.list.settled(), state.last);
        const last = (await settledRows(page)).at(-1);
        assert.equal(last.type, step.name, `${step.name} is the newest row`);
        assert.match(last.className, /\bcontrol\b/, `${step.name} is marked`);
        assert.equal(await watchCount(), step.watches, `${step.name}: watches`);
        assert.equal(await flowHosts(), step.hosts, `${step.name}: flow`);
        if (step.rows === 'cleared') assert.deepEqual(await rowsNow(), [[state.last, 'ClearLog']]);
    }
    // New content, then ClearAll empties every view at once.
    await feed(['--script', conn]);
    await server.waitState((s) => s.watches > state.watches && s.kept === script.rowsAfterLastClear);
    assert.ok((await watchCount()) > 0 && (await flowHosts()) > 0);
    await control('ClearAll');
    state = await server.waitState((s) => s.kept === 1);
    await waitTotal(page, 1);
    assert.deepEqual(await rowsNow(), [[state.last, 'ClearAll']]);
    assert.equal(await watchCount(), 0);
    assert.equal(await flowHosts(), 0);
    await page.click('#tab-entry');
    assert.equal(await page.textContent('#status-cleared'), `cleared up to #${(state.last - 1).toLocaleString('en-US')}`);
});
