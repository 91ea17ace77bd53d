// Entry type icons: small SVGs drawn with the current text colour, built once per shape and
// cloned into rows.

const SVG = 'http://www.w3.org/2000/svg';

// Each shape: a list of [element, attributes]. 16x16 grid, stroked with currentColor.
const SHAPES = {
    info: [['circle', { cx: 8, cy: 8, r: 6.5 }], ['path', { d: 'M8 7v4.5M8 4.5v.5' }]],
    warning: [['path', { d: 'M8 1.8 15 14H1z' }], ['path', { d: 'M8 6v4M8 11.8v.4' }]],
    error: [['circle', { cx: 8, cy: 8, r: 6.5 }], ['path', { d: 'M5.5 5.5l5 5M10.5 5.5l-5 5' }]],
    fatal: [['path', { d: 'M5.2 1.5h5.6l3.7 3.7v5.6l-3.7 3.7H5.2l-3.7-3.7V5.2z', fill: 'currentColor' }],
        ['path', { d: 'M5.8 5.8l4.4 4.4M10.2 5.8l-4.4 4.4', class: 'knock' }]],
    assert: [['rect', { x: 1.5, y: 1.5, width: 13, height: 13, rx: 2 }], ['path', { d: 'M8 4.5v5M8 11.3v.4' }]],
    debug: [['circle', { cx: 8, cy: 9, r: 4 }], ['path', { d: 'M8 5V3M3 9h1M12 9h1M4 5l1.5 1.5M12 5l-1.5 1.5' }]],
    verbose: [['path', { d: 'M2.5 4.5h11M2.5 8h11M2.5 11.5h7' }]],
    enter: [['path', { d: 'M1.5 8h9M7 4.5 10.5 8 7 11.5M13.5 2v12' }]],
    leave: [['path', { d: 'M14.5 8h-9M9 4.5 5.5 8 9 11.5M2.5 2v12' }]],
    separator: [['path', { d: 'M1 8h14', 'stroke-dasharray': '2 2' }]],
    reset: [['path', { d: 'M13 8a5 5 0 1 1-1.5-3.6M13 2v3h-3' }]],
    comment: [['path', { d: 'M2 3h12v8H7l-3 3v-3H2z' }]],
    variable: [['path', { d: 'M2 4l4 8M6 4l-4 8M9 6.5h5M9 9.5h5' }]],
    checkpoint: [['path', { d: 'M3.5 15V2M3.5 2.5h9l-2 3 2 3h-9' }]],
    conditional: [['path', { d: 'M8 1.5 14.5 8 8 14.5 1.5 8z' }], ['path', { d: 'M6.3 6.5a1.8 1.8 0 1 1 2.3 1.7L8 9v.8M8 11.3v.3' }]],
    text: [['path', { d: 'M3 1.5h7l3 3v10H3z' }], ['path', { d: 'M5.5 7h5M5.5 9.5h5M5.5 12h3' }]],
    binary: [['path', { d: 'M2 3h3v5H2zM9.5 3v5M13 9v5M3.5 9v5M8 9h3v5H8z' }]],
    graphic: [['rect', { x: 1.5, y: 2.5, width: 13, height: 11, rx: 1 }], ['path', { d: 'M1.5 11l4-4 3 3 2-2 4 4' }], ['circle', { cx: 11, cy: 5.5, r: 1 }]],
    source: [['path', { d: 'M5 4 1.5 8 5 12M11 4l3.5 4-3.5 4M9.5 2.5l-3 11' }]],
    object: [['path', { d: 'M5.5 2C3.5 2 4 7 2 8c2 1 1.5 6 3.5 6M10.5 2c2 0 1.5 5 3.5 6-2 1-1.5 6-3.5 6' }]],
    web: [['circle', { cx: 8, cy: 8, r: 6.5 }], ['path', { d: 'M1.5 8h13M8 1.5c-3 3.5-3 9.5 0 13M8 1.5c3 3.5 3 9.5 0 13' }]],
    system: [['circle', { cx: 8, cy: 8, r: 2.5 }], ['path', { d: 'M8 1v2.5M8 12.5V15M1 8h2.5M12.5 8H15M3 3l1.8 1.8M11.2 11.2 13 13M3 13l1.8-1.8M11.2 4.8 13 3' }]],
    memory: [['rect', { x: 3.5, y: 3.5, width: 9, height: 9 }], ['path', { d: 'M6 1v2.5M10 1v2.5M6 12.5V15M10 12.5V15M1 6h2.5M1 10h2.5M12.5 6H15M12.5 10H15' }]],
    table: [['rect', { x: 1.5, y: 2.5, width: 13, height: 11 }], ['path', { d: 'M1.5 6h13M1.5 9.5h13M6 2.5v11' }]],
    database: [['ellipse', { cx: 8, cy: 3.5, rx: 5.5, ry: 2 }], ['path', { d: 'M2.5 3.5v9c0 1.1 2.5 2 5.5 2s5.5-.9 5.5-2v-9M2.5 8c0 1.1 2.5 2 5.5 2s5.5-.9 5.5-2' }]],
    control: [['path', { d: 'M9.5 1.5l5 5-7 7h-4l-2-2z' }], ['path', { d: 'M6 5l5 5M3.5 13.5H15' }]],
    host: [['rect', { x: 1.5, y: 2, width: 13, height: 9, rx: 1 }], ['path', { d: 'M5 14h6M8 11v3' }]],
    process: [['rect', { x: 1.5, y: 2.5, width: 13, height: 11, rx: 1 }], ['path', { d: 'M1.5 5.5h13' }]],
    thread: [['path', { d: 'M3 2c5 3-5 9 0 12M8 2c5 3-5 9 0 12M13 2c-2 2 0 4 0 4' }]],
    scope: [['path', { d: 'M5 2C2.5 2 3.5 7 1.5 8c2 1 1 6 3.5 6M11 2c2.5 0 1.5 5 3.5 6-2 1-1 6-3.5 6M6 8h4' }]],
    watch: [['circle', { cx: 8, cy: 9, r: 5.5 }], ['path', { d: 'M8 9V6M6 1.5h4M8 1.5v2' }]],
};

const TYPE_SHAPE = {
    Message: 'info',
    Warning: 'warning',
    Error: 'error',
    InternalError: 'error',
    Fatal: 'fatal',
    Assert: 'assert',
    Debug: 'debug',
    Verbose: 'verbose',
    EnterMethod: 'enter',
    LeaveMethod: 'leave',
    Separator: 'separator',
    ResetCallstack: 'reset',
    Comment: 'comment',
    VariableValue: 'variable',
    Checkpoint: 'checkpoint',
    Conditional: 'conditional',
    Text: 'text',
    Binary: 'binary',
    Graphic: 'graphic',
    Source: 'source',
    Object: 'object',
    WebContent: 'web',
    System: 'system',
    MemoryStatistic: 'memory',
    DatabaseResult: 'table',
    DatabaseStructure: 'database',
};

const cache = new Map();

function build(shape) {
    const svg = document.createElementNS(SVG, 'svg');
    svg.setAttribute('viewBox', '0 0 16 16');
    svg.setAttribute('class', 'icon');
    svg.setAttribute('aria-hidden', 'true');
    for (const [tag, attrs] of SHAPES[shape] || SHAPES.info) {
        const part = document.createElementNS(SVG, tag);
        for (const [name, value] of Object.entries(attrs)) part.setAttribute(name, String(value));
        svg.appendChild(part);
    }
    return svg;
}

export function icon(shape) {
    if (!cache.has(shape)) cache.set(shape, build(shape));
    return cache.get(shape).cloneNode(true);
}

export function typeShape(logEntryType, kind) {
    if (kind === 'control') return 'control';
    return TYPE_SHAPE[logEntryType] || 'info';
}

export function typeIcon(logEntryType, kind) {
    return icon(typeShape(logEntryType, kind));
}

// Severity of a type, as the server reports it in `sev`; used where only the name is known
// (the facet list).
const SEV = {
    Debug: 0,
    Verbose: 0,
    Warning: 2,
    Error: 3,
    InternalError: 3,
    Assert: 3,
    Fatal: 4,
    EnterMethod: 5,
    LeaveMethod: 5,
    ResetCallstack: 5,
    Separator: 5,
};
export function typeSev(logEntryType) {
    return SEV[logEntryType] ?? 1;
}

export const SEV_NAMES = ['debug', 'info', 'warning', 'error', 'fatal', 'flow'];
