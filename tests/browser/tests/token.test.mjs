// The token rule: with a token in force (given, or generated for an address other than the
// loopback one) every API request and the page itself need it; the page works when its URL
// carries it and adds it to each of its requests.

import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch } from '../lib/browser.mjs';
import { ViewServer, feed } from '../lib/harness.mjs';
import { openPage, waitReady, waitTotal, settledRows, foreignRequests } from '../lib/page.mjs';

const cleanup = [];
after(async () => {
    for (const fn of cleanup.reverse()) await fn();
});

async function status(url, headers = {}) {
    const r = await fetch(url, { headers });
    await r.arrayBuffer();
    return r.status;
}

test('a given token: 401 without it, the page works with it in its URL', async () => {
    const token = 'tok-3f9a1c77e2';
    const server = await new ViewServer({ token }).start();
    cleanup.push(() => server.stop());
    assert.equal(server.token, token);
    const o = server.origin;
    const cases = [
        ['/api/state', {}, 401],
        ['/api/rows?limit=1', {}, 401],
        ['/api/events', {}, 401],
        ['/api/export?format=csv', {}, 401],
        ['/', {}, 401],
        [`/api/state?token=${token}x`, {}, 401],
        ['/api/state', { Authorization: `Bearer ${token}x` }, 401],
        [`/api/state?token=${token}`, {}, 200],
        ['/api/state', { Authorization: `Bearer ${token}` }, 200],
        [`/?token=${token}`, {}, 200],
        // The page's own files carry no log data; module imports cannot carry the token.
        ['/static/app.js', {}, 200],
    ];
    for (const [path, headers, expected] of cases) assert.equal(await status(o + path, headers), expected, `${path} ${JSON.stringify(headers)}`);

    await feed(['--count', '50', `tcp(host=127.0.0.1,port=${server.tcpPort})`]);
    const browser = await launch();
    cleanup.push(() => browser.close());
    // Without the token the page is refused.
    const bare = await browser.context.newPage();
    const response = await bare.goto(`${o}/`);
    assert.equal(response.status(), 401);
    assert.equal(await bare.$('#log-rows'), null);
    // With it, the page shows the log, and every API request it made carried the token.
    const page = await openPage(browser.context, server.pageUrl());
    await waitReady(page);
    await waitTotal(page, 50);
    assert.equal((await settledRows(page)).at(-1).title, 'message 49');
    const api = page.record.requests.filter((r) => r.url.includes('/api/'));
    assert.ok(api.length >= 3);
    for (const r of api) assert.equal(new URL(r.url).searchParams.get('token'), token, r.url);
    assert.deepEqual(foreignRequests(page.record, o), []);
});

test('an address other than the loopback one: a token is generated and printed in the URL', async () => {
    const server = await new ViewServer({ httpHost: '0.0.0.0' }).start();
    cleanup.push(() => server.stop());
    assert.match(server.url, /[?&]token=[A-Za-z0-9_-]{16,}/);
    assert.equal(await status(`${server.origin}/api/state`), 401);
    assert.equal(await status(server.api('/api/state')), 200);
});
