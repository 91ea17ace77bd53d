// Takes a screenshot of the page of silog view: node screenshot.mjs URL OUT.png
//   [--width 1440] [--height 900] [--theme light|dark] [--select N] [--tab entry|watches|flow|sources]
//   [--watch NAME] [--wait-rows N] [--clip x,y,w,h] [--settle MS]
// Waits until the page shows rows (or says there are none), then saves the PNG.

import { launch } from './lib/browser.mjs';

const [url, out, ...rest] = process.argv.slice(2);
if (!url || !out) {
    console.error('usage: node screenshot.mjs URL OUT.png [--theme light|dark] [--select SEQ] [--tab TAB] [--watch NAME]');
    process.exit(2);
}
const opt = (name, def) => {
    const i = rest.indexOf(`--${name}`);
    return i >= 0 ? rest[i + 1] : def;
};

const { context, close } = await launch();
try {
    const page = context.pages()[0] || (await context.newPage());
    await page.setViewportSize({ width: Number(opt('width', 1440)), height: Number(opt('height', 900)) });
    const theme = opt('theme', 'light');
    await page.emulateMedia({ colorScheme: theme === 'dark' ? 'dark' : 'light' });
    await page.goto(url, { waitUntil: 'load' });
    await page.waitForFunction(() => window.silogView?.ready && window.silogView.source.known, null, { timeout: 15000 });
    const minRows = Number(opt('wait-rows', 1));
    await page.waitForFunction((n) => window.silogView.source.total >= n || window.silogView.source.known, minRows, { timeout: 15000 });
    const select = opt('select');
    if (select) {
        await page.evaluate((seq) => {
            const app = window.silogView;
            app.list.setFollowing(false);
            app.detail.show(Number(seq));
            app.list.selectedSeq = Number(seq);
            app.list.layout();
        }, select);
        await page.waitForFunction((seq) => document.querySelector('#detail')?.dataset.seq === String(seq), select, { timeout: 10000 });
    }
    const tab = opt('tab');
    if (tab) await page.evaluate((t) => window.silogView.setTab(t), tab);
    const watch = opt('watch');
    if (watch) {
        await page.waitForSelector(`.watch-table tr[data-name]`, { timeout: 10000 });
        await page.evaluate((name) => window.silogView.watches.select(name), watch);
        await page.waitForSelector('.watch-history .section-head', { timeout: 10000 });
    }
    await page.waitForTimeout(Number(opt('settle', 700)));
    const clip = opt('clip');
    if (clip) {
        const [x, y, width, height] = clip.split(',').map(Number);
        await page.screenshot({ path: out, clip: { x, y, width, height } });
    } else {
        await page.screenshot({ path: out });
    }
    console.log(out);
} finally {
    await close();
}
