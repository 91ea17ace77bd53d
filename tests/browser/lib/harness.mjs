// Starts the real `silog view` and the feeder of a native build on free ports, for the browser
// tests, the screenshot of the demo and the benchmark.

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export function buildDir() {
    const dir = process.env.SILOG_BUILD_DIR;
    if (!dir) throw new Error('SILOG_BUILD_DIR is not set: the path of the native build tree');
    return path.resolve(dir);
}

function findExecutable(root, name) {
    const stack = [root];
    while (stack.length) {
        const dir = stack.pop();
        let items;
        try {
            items = fs.readdirSync(dir, { withFileTypes: true });
        } catch {
            continue;
        }
        for (const item of items) {
            const full = path.join(dir, item.name);
            if (item.isDirectory()) {
                if (item.name !== 'CMakeFiles' && !item.name.startsWith('.')) stack.push(full);
            } else if (item.name === name) {
                try {
                    fs.accessSync(full, fs.constants.X_OK);
                    return full;
                } catch {
                    // not executable
                }
            }
        }
    }
    return null;
}

const found = {};
export function binary(name) {
    if (!found[name]) {
        const root = buildDir();
        const direct = [path.join(root, 'bin', name), path.join(root, 'tools/silog', name), path.join(root, 'tools/silog/view', name), path.join(root, 'tests/tools', name)];
        found[name] = direct.find((p) => fs.existsSync(p)) || findExecutable(root, name);
        if (!found[name]) throw new Error(`${name} not found under ${root}: build it first`);
    }
    return found[name];
}

export function freePort() {
    return new Promise((resolve, reject) => {
        const server = net.createServer();
        server.unref();
        server.on('error', reject);
        server.listen(0, '127.0.0.1', () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
    });
}

export function tempDir(prefix = 'silog-view-test-') {
    return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

function sleep(ms) {
    return new Promise((r) => setTimeout(r, ms));
}

// A running `silog view`. Options: http port (default free), tcp port (default free), pipe
// name (default unique), keep, token, files, extra arguments.
export class ViewServer {
    constructor(options = {}) {
        this.options = options;
        this.output = '';
    }

    async start() {
        const o = this.options;
        // Port 0: silog view takes a free port and prints it (no race with other programs
        // for a port chosen here); a restart asks for the ports of the first start.
        this.httpPort = this.httpPort || o.httpPort || 0;
        this.tcpPort = this.tcpPort || o.tcpPort || 0;
        this.pipe = this.pipe || o.pipe || `silog-view-test-${process.pid}-${Math.random().toString(36).slice(2, 8)}`;
        const args = ['view', '--pipe', this.pipe, '--tcp', String(this.tcpPort), '--http', `${o.httpHost || '127.0.0.1'}:${this.httpPort}`];
        if (o.keep) args.push('--keep', String(o.keep));
        if (o.token) args.push('--token', o.token);
        if (o.args) args.push(...o.args);
        if (o.files) args.push(...o.files);
        this.output = '';
        // options.command: the program and its first arguments (e.g. Wine's runner and
        // silog.exe); the native silog by default.
        const [program, ...before] = o.command || [binary('silog')];
        this.proc = spawn(program, [...before, ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
        this.proc.stdout.on('data', (d) => (this.output += d));
        this.proc.stderr.on('data', (d) => (this.output += d));
        this.exited = new Promise((resolve) => this.proc.on('exit', (code, signal) => resolve({ code, signal })));
        const deadline = Date.now() + 15000;
        while (Date.now() < deadline) {
            const match = /http:\/\/[^\s]+/.exec(this.output);
            if (match) {
                this.url = match[0];
                break;
            }
            if (this.proc.exitCode !== null) throw new Error(`silog view exited: ${this.output}`);
            await sleep(50);
        }
        if (!this.url) throw new Error(`silog view printed no URL: ${this.output}`);
        const tcp = /listening on TCP port (\d+)/.exec(this.output);
        if (tcp) this.tcpPort = Number(tcp[1]);
        const u = new URL(this.url);
        // A server on every address is reached through the loopback address.
        if (u.hostname === '0.0.0.0' || u.hostname === '[::]') u.hostname = '127.0.0.1';
        this.origin = u.origin;
        this.httpPort = Number(u.port);
        this.token = u.searchParams.get('token') || o.token || '';
        // Ready when the state answers.
        while (Date.now() < deadline) {
            try {
                const r = await fetch(this.api('/api/state'));
                if (r.ok) return this;
            } catch {
                // not yet listening
            }
            await sleep(50);
        }
        throw new Error(`silog view did not answer: ${this.output}`);
    }

    // The URL of an API path with the token.
    api(pathAndQuery) {
        const u = new URL(pathAndQuery, this.origin);
        if (this.token) u.searchParams.set('token', this.token);
        return u.toString();
    }

    pageUrl(hash = '') {
        const u = new URL('/', this.origin);
        if (this.token) u.searchParams.set('token', this.token);
        return u.toString() + hash;
    }

    async json(pathAndQuery) {
        const r = await fetch(this.api(pathAndQuery));
        if (!r.ok) throw new Error(`${pathAndQuery}: ${r.status} ${await r.text()}`);
        return r.json();
    }

    async stop() {
        if (!this.proc || this.proc.exitCode !== null) return;
        this.proc.kill('SIGTERM');
        const timer = setTimeout(() => this.proc.kill('SIGKILL'), 5000);
        await this.exited;
        clearTimeout(timer);
    }

    // Waits until the server's state satisfies `test`.
    async waitState(test, timeout = 15000) {
        const deadline = Date.now() + timeout;
        let state;
        while (Date.now() < deadline) {
            state = await this.json('/api/state');
            if (test(state)) return state;
            await sleep(50);
        }
        throw new Error(`state not reached: ${JSON.stringify(state)}`);
    }
}

// Runs the feeder to completion; returns its output. `command`: the program and its first
// arguments (a Windows feeder under Wine), the native feeder by default.
export function feed(args, { timeout = 120000, command } = {}) {
    return new Promise((resolve, reject) => {
        const [program, ...before] = command || [binary('view-feed')];
        const proc = spawn(program, [...before, ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
        let out = '';
        proc.stdout.on('data', (d) => (out += d));
        proc.stderr.on('data', (d) => (out += d));
        const timer = setTimeout(() => {
            proc.kill('SIGKILL');
            reject(new Error(`view-feed timed out: ${args.join(' ')}\n${out}`));
        }, timeout);
        proc.on('exit', (code) => {
            clearTimeout(timer);
            if (code === 0) resolve(out);
            else reject(new Error(`view-feed ${args.join(' ')} exited ${code}: ${out}`));
        });
    });
}

export function spawnFeed(args) {
    const proc = spawn(binary('view-feed'), args, { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    proc.stdout.on('data', (d) => (out += d));
    proc.stderr.on('data', (d) => (out += d));
    proc.done = new Promise((resolve) => proc.on('exit', (code) => resolve({ code, out })));
    return proc;
}

export { sleep };
