// The combined filter of the log view. It lives in the page's URL fragment (so a link or a
// reload keeps it) and turns into the query parameters that the server's filtering takes.

export const LIST_KEYS = ['types', 'session', 'app', 'host', 'pid', 'tid', 'source'];

export function emptyFilter() {
    return {
        types: [],
        session: [],
        app: [],
        host: [],
        pid: [],
        tid: [],
        source: [],
        q: '',
        re: false,
        from: null,
        to: null,
    };
}

export function isEmpty(filter) {
    return (
        LIST_KEYS.every((key) => filter[key].length === 0) &&
        !filter.q &&
        filter.from === null &&
        filter.to === null
    );
}

// Query parameters for /api/rows, /api/histogram and /api/export.
export function toParams(filter, { withTime = true } = {}) {
    const params = {};
    for (const key of LIST_KEYS) {
        if (filter[key].length) params[key] = filter[key];
    }
    if (filter.q) {
        params.q = filter.q;
        if (filter.re) params.re = 1;
    }
    if (withTime) {
        if (filter.from !== null) params.from = filter.from;
        if (filter.to !== null) params.to = filter.to;
    }
    return params;
}

export function key(filter) {
    return JSON.stringify(toParams(filter));
}

// In the fragment each value of a list is a parameter of its own (types=Error&types=Warning),
// so values may hold commas.
export function toHash(filter) {
    const params = new URLSearchParams();
    for (const key of LIST_KEYS) {
        for (const value of filter[key]) params.append(key, value);
    }
    if (filter.q) params.set('q', filter.q);
    if (filter.re) params.set('re', '1');
    if (filter.from !== null) params.set('from', String(filter.from));
    if (filter.to !== null) params.set('to', String(filter.to));
    const text = params.toString();
    return text ? `#${text}` : '';
}

export function fromHash(hash) {
    const filter = emptyFilter();
    const params = new URLSearchParams(hash.replace(/^#/, ''));
    for (const key of LIST_KEYS) filter[key] = params.getAll(key);
    filter.q = params.get('q') || '';
    filter.re = params.get('re') === '1';
    const from = Number(params.get('from'));
    const to = Number(params.get('to'));
    if (params.has('from') && isFinite(from)) filter.from = from;
    if (params.has('to') && isFinite(to)) filter.to = to;
    return filter;
}

export function toggleValue(filter, key, value) {
    const values = filter[key];
    const index = values.indexOf(value);
    const next = { ...filter, [key]: index >= 0 ? values.filter((v) => v !== value) : [...values, value] };
    return next;
}
