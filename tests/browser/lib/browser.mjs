// Starts Debian's chromium (never a downloaded browser) headless with a fresh profile.

import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

export const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';

export async function launch() {
    if (!fs.existsSync(CHROMIUM)) throw new Error(`${CHROMIUM} is missing: apt-get install -y --no-install-recommends chromium`);
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'silog-view-chromium-'));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: CHROMIUM,
        headless: true,
        args: [
            '--headless',
            '--no-sandbox',
            '--disable-gpu',
            '--disable-quic',
            '--no-first-run',
            '--disable-background-networking',
            '--disable-component-update',
            '--disable-sync',
            '--enable-precise-memory-info',
        ],
        viewport: { width: 1440, height: 900 },
        acceptDownloads: true,
    });
    const close = async () => {
        await context.close().catch(() => {});
        fs.rmSync(profile, { recursive: true, force: true });
    };
    return { context, close, profile };
}
