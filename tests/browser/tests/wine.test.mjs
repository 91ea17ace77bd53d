// Under Wine: silog.exe view receives the Windows feeder's log through a real Windows named
// pipe, and the Linux browser shows it. Runs when the run script was given a win64 build
// (SILOG_WIN64_BUILD_DIR); otherwise reported as skipped.

import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launch } from '../lib/browser.mjs';
import { ViewServer, feed } from '../lib/harness.mjs';
import { openPage, waitReady, waitTotal, settledRows, setHash, foreignRequests } from '../lib/page.mjs';

const win64 = process.env.SILOG_WIN64_BUILD_DIR;
const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../..');
const wineRun = path.join(root, 'scripts/wine-run');

const cleanup = [];
after(async () => {
    for (const fn of cleanup.reverse()) await fn();
});

test('silog.exe view under Wine shows what view-feed.exe logs to its pipe', { skip: win64 ? false : 'no win64 build given (run BUILD --win64 WIN64_BUILD)', timeout: 180000 }, async () => {
    const exe = (name) => path.join(path.resolve(win64), 'bin', name);
    for (const name of ['silog.exe', 'view-feed.exe']) assert.ok(fs.existsSync(exe(name)), `${exe(name)} is built`);
    const pipe = `silog-view-wine-${process.pid}`;
    const server = await new ViewServer({ command: [wineRun, exe('silog.exe')], pipe, httpPort: 0, tcpPort: 0 }).start();
    cleanup.push(() => server.stop());
    const script = JSON.parse(await feed(['--script', `pipe(pipename=${pipe})`], { command: [wineRun, exe('view-feed.exe')], timeout: 120000 }));
    await server.waitState((s) => s.kept === script.rowsAfterLastClear, 60000);
    const state = await server.json('/api/state');
    assert.equal(state.sources[0].kind, 'pipe');
    assert.match(state.sources[0].appName, /^view-feed/);

    const browser = await launch();
    cleanup.push(() => browser.close());
    const page = await openPage(browser.context, server.pageUrl());
    await waitReady(page);
    await waitTotal(page, script.rowsAfterLastClear);
    await setHash(page, '#session=Hostile');
    await waitTotal(page, (await server.json('/api/rows?limit=0&session=Hostile')).total);
    const titles = (await settledRows(page)).map((r) => r.title);
    assert.ok(titles.includes('<img src=x onerror=window.__pwned=1>'));
    assert.ok(titles.includes('invoice⟦RLO⟧fdp.exe⟦PDF⟧ done'));
    // A Windows bitmap drawn by the Linux browser.
    const bitmap = (await server.json('/api/rows?limit=1000&kinds=entry')).rows.find((r) => r.viewerId === 'Bitmap');
    await page.evaluate((seq) => window.silogView.detail.show(seq), bitmap.seq);
    await page.waitForFunction(() => document.querySelector('#detail img.data-image')?.naturalWidth === 8);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.deepEqual(foreignRequests(page.record, server.origin), []);
});
