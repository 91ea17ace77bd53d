// Opens the page of silog view in the test browser and reads what it shows. Every request of
// every frame is recorded, and so are dialogs and Content-Security-Policy violations, so a
// test can say that nothing left the page's origin and that no injected script ran.

export async function openPage(context, url, { theme = 'light' } = {}) {
    const page = await context.newPage();
    const record = { requests: [], dialogs: [], errors: [] };
    const byRequest = new Map();
    page.on('request', (r) => {
        const item = { url: r.url(), failure: null };
        byRequest.set(r, item);
        record.requests.push(item);
    });
    page.on('requestfailed', (r) => {
        const item = byRequest.get(r);
        if (item) item.failure = r.failure()?.errorText || 'failed';
    });
    page.on('dialog', async (d) => {
        record.dialogs.push(d.message());
        await d.dismiss().catch(() => {});
    });
    page.on('pageerror', (e) => record.errors.push(e.message));
    await page.addInitScript(() => {
        window.__violations = [];
        document.addEventListener('securitypolicyviolation', (e) => window.__violations.push(`${e.violatedDirective} ${e.blockedURI}`));
    });
    await page.emulateMedia({ colorScheme: theme });
    await page.goto(url);
    page.record = record;
    return page;
}

export async function waitReady(page, timeout = 15000) {
    await page.waitForFunction(() => window.silogView?.ready && window.silogView.source.known && window.silogView.server, null, { timeout });
}

// Waits until the list shows `total` rows for the current filter.
export async function waitTotal(page, total, timeout = 15000) {
    try {
        await page.waitForFunction((t) => window.silogView.source.known && window.silogView.source.total === t, total, { timeout });
    } catch (err) {
        const now = await page.evaluate(() => [window.silogView.source.total, location.hash]);
        throw new Error(`the page shows ${now[0]} rows for "${now[1]}", expected ${total}: ${err.message}`);
    }
}

// The rows drawn on screen: seq, the text of each cell, classes and background.
export function shownRows(page) {
    return page.evaluate(() =>
        [...document.querySelectorAll('#log-rows .row')]
            .filter((r) => !r.hidden && r.dataset.seq && !r.classList.contains('loading'))
            .map((r) => ({
                seq: Number(r.dataset.seq),
                time: r.querySelector('.c-time').textContent,
                type: r.querySelector('.type-name').textContent,
                title: r.querySelector('.c-title').textContent,
                session: r.querySelector('.c-session').textContent,
                app: r.querySelector('.c-app').textContent,
                host: r.querySelector('.c-host').textContent,
                pid: r.querySelector('.c-pid').textContent,
                tid: r.querySelector('.c-tid').textContent,
                className: r.className,
                background: getComputedStyle(r).backgroundColor,
                rowColor: getComputedStyle(r).getPropertyValue('--row-bg').trim(),
                panel: getComputedStyle(document.documentElement).getPropertyValue('--panel').trim(),
                top: r.getBoundingClientRect().top,
            }))
            .sort((a, b) => a.top - b.top),
    );
}

// Waits until the rows on screen are loaded (no placeholder) and returns them.
export async function settledRows(page, timeout = 10000) {
    await page.waitForFunction(() => window.silogView.list.settled(), null, { timeout });
    return shownRows(page);
}

export function setHash(page, hash) {
    return page.evaluate((h) => {
        location.hash = h;
    }, hash);
}

// Requests to anywhere but the page's own origin (blob: and data: URLs are local) that the
// browser did not block by the Content-Security-Policy before they left: a blocked one is
// reported with the failure "csp".
export function foreignRequests(record, origin) {
    return record.requests
        .filter((r) => !r.url.startsWith(`${origin}/`) && !r.url.startsWith('blob:') && !r.url.startsWith('data:'))
        .filter((r) => !(r.failure === 'csp' || /BLOCKED_BY_CSP/.test(r.failure || '')))
        .map((r) => `${r.url} (${r.failure || 'sent'})`);
}

export function blockedRequests(record) {
    return record.requests.filter((r) => r.failure === 'csp' || /BLOCKED_BY_CSP/.test(r.failure || '')).map((r) => r.url);
}
