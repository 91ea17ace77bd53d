// The page's side of the HTTP interface of silog view: the token from the page's own URL goes
// on every request; state arrives as server-sent events; when the stream breaks the client
// polls /api/state with back-off until the server answers again.

const pageParams = new URLSearchParams(location.search);
export const token = pageParams.get('token') || '';

// Lists (arrays) go out as comma-separated values with each value's own commas encoded, as
// the server splits lists at literal commas only.
export function apiUrl(path, params) {
    const url = new URL(path, document.baseURI);
    const parts = [];
    for (const [key, value] of Object.entries(params || {})) {
        if (value === undefined || value === null || value === '') continue;
        if (Array.isArray(value)) {
            if (!value.length) continue;
            parts.push(`${encodeURIComponent(key)}=${value.map((v) => encodeURIComponent(String(v))).join(',')}`);
        } else {
            parts.push(`${encodeURIComponent(key)}=${encodeURIComponent(String(value))}`);
        }
    }
    if (token) parts.push(`token=${encodeURIComponent(token)}`);
    return url.pathname + (parts.length ? `?${parts.join('&')}` : '');
}

export class ApiError extends Error {
    constructor(status, message) {
        super(message);
        this.status = status;
    }
}

export async function getJson(path, params, signal) {
    let response;
    try {
        response = await fetch(apiUrl(path, params), { signal, cache: 'no-store' });
    } catch (err) {
        if (err.name === 'AbortError') throw err;
        throw new ApiError(0, 'no connection');
    }
    if (!response.ok) {
        let message = `${response.status} ${response.statusText}`;
        try {
            const body = await response.json();
            if (body && body.error) message = body.error;
        } catch {
            // keep the status text
        }
        throw new ApiError(response.status, message);
    }
    return response.json();
}

// Keeps one event stream open. onState gets every state; onConnection gets
// {connected, retryIn, attempt} whenever the connection changes.
export class StateStream {
    constructor(onState, onConnection) {
        this.onState = onState;
        this.onConnection = onConnection;
        this.source = null;
        this.attempt = 0;
        this.timer = null;
        this.connected = false;
    }

    start() {
        this.open();
    }

    open() {
        clearTimeout(this.timer);
        const source = new EventSource(apiUrl('api/events'));
        this.source = source;
        source.addEventListener('state', (event) => {
            let state;
            try {
                state = JSON.parse(event.data);
            } catch {
                return;
            }
            if (!this.connected) {
                this.connected = true;
                this.attempt = 0;
                this.onConnection({ connected: true });
            }
            this.onState(state);
        });
        source.onerror = () => {
            // EventSource's own retry has a fixed delay and gives up on HTTP errors; the page
            // does its own back-off instead.
            source.close();
            if (this.source !== source) return;
            this.source = null;
            this.scheduleRetry();
        };
    }

    scheduleRetry() {
        const wasConnected = this.connected;
        this.connected = false;
        const delay = Math.min(10000, 500 * 2 ** this.attempt);
        this.attempt++;
        this.onConnection({ connected: false, retryIn: delay, attempt: this.attempt, wasConnected });
        this.timer = setTimeout(() => this.probe(), delay);
    }

    async probe() {
        try {
            await getJson('api/state');
        } catch (err) {
            if (err.status === 401) {
                this.onConnection({ connected: false, unauthorized: true });
                return;
            }
            if (err.status === 503) {
                // Too many event streams: wait and try again.
            }
            this.scheduleRetry();
            return;
        }
        this.open();
    }

    retryNow() {
        if (this.connected) return;
        clearTimeout(this.timer);
        this.probe();
    }
}
