// The process flow: hosts, processes, threads and their scopes (methods entered and left),
// with enter and leave times, durations and the scopes still open. A click on a node narrows
// the log to its process or thread and its time span.

import { getJson } from './api.js';
import { el, clear, fmtTime, fmtDuration, fmtInt, visibleText } from './util.js';
import { icon } from './icons.js';

export class Flow {
    constructor(root, onNarrow) {
        this.root = root;
        this.tree = root.querySelector('.flow-tree');
        this.summary = root.querySelector('.flow-summary');
        this.onNarrow = onNarrow;
        this.version = -1;
        this.data = null;
        this.expanded = new Map(); // node key -> bool (set by the user)
        this.loading = false;
        root.querySelector('.flow-expand').addEventListener('click', () => this.expandAll(true));
        root.querySelector('.flow-collapse').addEventListener('click', () => this.expandAll(false));
    }

    async update(version, force = false) {
        if (!force && version === this.version) return;
        if (this.loading) {
            this.again = true;
            return;
        }
        this.loading = true;
        try {
            const answer = await getJson('api/flow');
            this.version = answer.version;
            this.data = answer;
            this.render();
        } catch {
            // reported by the connection state
        } finally {
            this.loading = false;
            if (this.again) {
                this.again = false;
                this.update(-2, true);
            }
        }
    }

    isOpen(key, byDefault) {
        return this.expanded.has(key) ? this.expanded.get(key) : byDefault;
    }

    expandAll(open) {
        const walk = (key, scopes) => {
            scopes.forEach((s, i) => {
                const k = `${key}/${i}:${s.enter}`;
                this.expanded.set(k, open);
                walk(k, s.scopes || []);
            });
        };
        for (const host of this.data?.hosts || []) {
            const hk = `h:${host.hostName}`;
            this.expanded.set(hk, true);
            for (const p of host.processes) {
                const pk = `${hk}/p:${p.processId}:${p.enter}`;
                this.expanded.set(pk, true);
                for (const t of p.threads) {
                    const tk = `${pk}/t:${t.threadId}`;
                    this.expanded.set(tk, open || true);
                    walk(tk, t.scopes || []);
                }
            }
        }
        this.render();
    }

    render() {
        const hosts = this.data?.hosts || [];
        const fragment = document.createDocumentFragment();
        let threads = 0;
        let openScopes = 0;
        const countOpen = (scopes) => {
            for (const s of scopes) {
                if (s.open) openScopes++;
                countOpen(s.scopes || []);
            }
        };
        for (const host of hosts) {
            const hk = `h:${host.hostName}`;
            const hostNode = this.node(hk, 'host', host.hostName || '(no host)', null, true, { host: host.hostName }, 0);
            fragment.appendChild(hostNode.li);
            if (!hostNode.open) continue;
            for (const p of host.processes) {
                const pk = `${hk}/p:${p.processId}:${p.enter}`;
                const pNode = this.node(pk, 'process', `Process ${p.processId}${p.title ? ` · ${p.title}` : ''}`, p, true, {
                    host: host.hostName,
                    pid: p.processId,
                    from: p.enter,
                    to: p.leave,
                }, 1);
                hostNode.children.appendChild(pNode.li);
                for (const t of p.threads) {
                    threads++;
                    countOpen(t.scopes || []);
                }
                if (!pNode.open) continue;
                for (const t of p.threads) {
                    const tk = `${pk}/t:${t.threadId}`;
                    const scopes = t.scopes || [];
                    const tNode = this.node(tk, 'thread', `Thread ${t.threadId}${t.title ? ` · ${t.title}` : ''}`, t, true, {
                        host: host.hostName,
                        pid: p.processId,
                        tid: t.threadId,
                        from: t.enter ?? firstEnter(scopes),
                        to: t.leave ?? (t.open ? null : lastLeave(scopes)),
                    }, 2, scopes.length);
                    pNode.children.appendChild(tNode.li);
                    if (tNode.open) this.scopes(tNode.children, tk, scopes, host.hostName, p.processId, t.threadId, 3);
                }
            }
        }
        clear(this.tree).appendChild(fragment);
        if (!hosts.length) this.tree.appendChild(el('div', 'placeholder', 'No process flow yet: it shows methods, threads and processes entered and left.'));
        this.summary.textContent = hosts.length ? `${hosts.length} host${hosts.length > 1 ? 's' : ''} · ${threads} thread${threads === 1 ? '' : 's'} · ${openScopes} open scope${openScopes === 1 ? '' : 's'}` : '';
    }

    scopes(parent, key, scopes, host, pid, tid, depth) {
        // Newest last, as they happened; a thread keeps up to 500 closed top-level scopes.
        scopes.forEach((scope, i) => {
            const k = `${key}/${i}:${scope.enter}`;
            const children = scope.scopes || [];
            const node = this.node(k, 'scope', scope.title, scope, scope.open, { host, pid, tid, from: scope.enter, to: scope.leave }, depth, children.length);
            parent.appendChild(node.li);
            if (node.open && children.length) this.scopes(node.children, k, children, host, pid, tid, depth + 1);
        });
    }

    node(key, kind, label, span, defaultOpen, narrow, depth, childCount) {
        const li = el('li', `flow-node ${kind}${span && span.open ? ' open-scope' : ''}`);
        const line = el('div', 'flow-line');
        const hasChildren = kind === 'host' || kind === 'process' || childCount > 0;
        const open = hasChildren && this.isOpen(key, defaultOpen);
        const toggle = el('button', `twisty${hasChildren ? '' : ' leaf'}`, hasChildren ? (open ? '▾' : '▸') : '');
        toggle.type = 'button';
        toggle.tabIndex = -1;
        if (hasChildren) {
            toggle.addEventListener('click', (event) => {
                event.stopPropagation();
                this.expanded.set(key, !open);
                this.render();
            });
        }
        const name = el('button', 'flow-label');
        name.type = 'button';
        name.appendChild(icon(kind));
        name.appendChild(el('span', 'flow-title', visibleText(label)));
        name.title = 'Show the log of this span';
        name.addEventListener('click', () => this.onNarrow(narrow));
        line.append(toggle, name);
        if (childCount && kind === 'thread') line.appendChild(el('span', 'flow-count', `${fmtInt(childCount)} scope${childCount === 1 ? '' : 's'}`));
        let when = null;
        if (span) {
            const enter = span.enter !== null && span.enter !== undefined;
            const leave = span.leave !== null && span.leave !== undefined;
            const right = el('span', 'flow-times');
            if (span.open) right.appendChild(el('span', 'badge open', 'open'));
            else if (enter && leave) right.appendChild(el('span', 'duration', fmtDuration(span.leave - span.enter)));
            line.appendChild(right);
            when = el('div', 'flow-when', `${enter ? fmtTime(span.enter) : '?'} → ${span.open ? 'open' : leave ? fmtTime(span.leave) : '?'}`);
        }
        li.appendChild(line);
        if (when) li.appendChild(when);
        const children = el('ul', 'flow-children');
        if (open) li.appendChild(children);
        return { li, children, open };
    }
}

function firstEnter(scopes) {
    return scopes.length ? scopes[0].enter : null;
}

function lastLeave(scopes) {
    if (!scopes.length) return null;
    const last = scopes[scopes.length - 1];
    return last.open ? null : last.leave;
}
