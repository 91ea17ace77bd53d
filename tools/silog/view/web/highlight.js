// A small source highlighter for the languages the source viewers name: HTML, JavaScript,
// VBScript, Perl, SQL, INI, Python and XML. It only tokenises (comments, strings, numbers,
// keywords, tags); every token is added as a text node inside a span.

import { el } from './util.js';

function words(list) {
    return new Set(list.split(' '));
}

const KEYWORDS = {
    javascript: words(
        'async await break case catch class const continue debugger default delete do else export extends false finally for from function if import in instanceof let new null of return static super switch this throw true try typeof undefined var void while with yield',
    ),
    vbscript: words(
        'and as byref byval call case class const dim do each else elseif empty end eqv erase error exit explicit false for function get goto if imp in is let loop mod new next not nothing null on option or preserve private property public randomize redim rem resume select set step sub then to true until wend while with xor',
    ),
    perl: words(
        'and cmp continue do else elsif eq exit for foreach ge gt if last le local lt my ne next no not or our package print printf require return sub undef unless until use while xor',
    ),
    sql: words(
        'add all alter and as asc begin between by case check column commit constraint create cross default delete desc distinct drop else end exec exists foreign from full group having in index inner insert into is join key left like limit not null on or order outer primary procedure references right rollback select set table then top transaction union unique update values view when where with',
    ),
    python: words(
        'and as assert async await break class continue def del elif else except False finally for from global if import in is lambda None nonlocal not or pass raise return True try while with yield',
    ),
};

// Ordered rules per language; the first alternative that matches at a position wins.
const RULES = {
    javascript: [
        ['comment', /\/\/[^\n]*|\/\*[\s\S]*?(?:\*\/|$)/],
        ['string', /"(?:[^"\\\n]|\\.)*"?|'(?:[^'\\\n]|\\.)*'?|`(?:[^`\\]|\\[\s\S])*`?/],
        ['number', /\b(?:0x[\da-fA-F]+|\d+(?:\.\d+)?(?:[eE][+-]?\d+)?)\b/],
        ['word', /[A-Za-z_$][\w$]*/],
    ],
    vbscript: [
        ['comment', /'[^\n]*|\brem\b[^\n]*/i],
        ['string', /"(?:[^"\n]|"")*"?/],
        ['number', /\b(?:&h[\da-fA-F]+|\d+(?:\.\d+)?)\b/],
        ['word', /[A-Za-z_]\w*/],
    ],
    perl: [
        ['comment', /#[^\n]*/],
        ['string', /"(?:[^"\\]|\\.)*"?|'(?:[^'\\]|\\.)*'?/],
        ['variable', /[$@%][A-Za-z_]\w*|\$\d+/],
        ['number', /\b\d+(?:\.\d+)?\b/],
        ['word', /[A-Za-z_]\w*/],
    ],
    sql: [
        ['comment', /--[^\n]*|\/\*[\s\S]*?(?:\*\/|$)/],
        ['string', /'(?:[^']|'')*'?/],
        ['name', /"[^"\n]*"?|\[[^\]\n]*\]?/],
        ['number', /\b\d+(?:\.\d+)?\b/],
        ['word', /[A-Za-z_@#][\w@#$]*/],
    ],
    python: [
        ['comment', /#[^\n]*/],
        ['string', /(?:[rRbBuUfF]{1,2})?(?:"""[\s\S]*?(?:"""|$)|'''[\s\S]*?(?:'''|$)|"(?:[^"\\\n]|\\.)*"?|'(?:[^'\\\n]|\\.)*'?)/],
        ['number', /\b(?:0[xX][\da-fA-F]+|\d+(?:\.\d+)?(?:[eE][+-]?\d+)?)\b/],
        ['decorator', /@[A-Za-z_][\w.]*/],
        ['word', /[A-Za-z_]\w*/],
    ],
    ini: [
        ['comment', /^[ \t]*[;#][^\n]*/m],
        ['section', /^[ \t]*\[[^\]\n]*\]?/m],
        ['key', /^[ \t]*[^=\n;#[]+?(?==)/m],
        ['value', /=[^\n]*/],
    ],
    markup: [
        ['comment', /<!--[\s\S]*?(?:-->|$)/],
        ['cdata', /<!\[CDATA\[[\s\S]*?(?:\]\]>|$)/],
        ['meta', /<[!?][^>]*>?/],
        ['tag', /<\/?[A-Za-z][^\s/>]*(?:\s+[^\s=/>]+(?:\s*=\s*(?:"[^"]*"|'[^']*'|[^\s>]+))?)*\s*\/?>/],
        ['entity', /&#?\w+;/],
    ],
};

export const LANGUAGES = {
    HtmlSource: 'markup',
    XmlSource: 'markup',
    JavaScriptSource: 'javascript',
    VbScriptSource: 'vbscript',
    PerlSource: 'perl',
    SqlSource: 'sql',
    IniSource: 'ini',
    PythonSource: 'python',
};

const compiled = {};
function compile(language) {
    if (!compiled[language]) {
        const rules = RULES[language];
        const flags = rules.some(([, re]) => re.flags.includes('m')) ? 'gm' : 'g';
        const ignoreCase = rules.some(([, re]) => re.flags.includes('i'));
        const source = rules.map(([, re]) => `(${re.source})`).join('|');
        compiled[language] = { re: new RegExp(source, flags + (ignoreCase ? 'i' : '')), names: rules.map(([name]) => name) };
    }
    return compiled[language];
}

function span(className, text) {
    return el('span', `tok-${className}`, text);
}

function markupTag(fragment, text) {
    const match = /^(<\/?)([^\s/>]*)/.exec(text);
    fragment.appendChild(span('punct', match[1]));
    fragment.appendChild(span('tag', match[2]));
    let rest = text.slice(match[0].length);
    const attr = /(\s+)([^\s=/>]+)(?:(\s*=\s*)("[^"]*"|'[^']*'|[^\s>]+))?|(\s*\/?>)/y;
    let m;
    attr.lastIndex = 0;
    let pos = 0;
    while (pos < rest.length && (m = attr.exec(rest))) {
        if (m[5] !== undefined) {
            fragment.appendChild(span('punct', m[5]));
        } else {
            fragment.appendChild(document.createTextNode(m[1]));
            fragment.appendChild(span('attr', m[2]));
            if (m[3] !== undefined) {
                fragment.appendChild(document.createTextNode(m[3]));
                fragment.appendChild(span('string', m[4]));
            }
        }
        pos = attr.lastIndex;
        if (m[0] === '') break;
    }
    if (pos < rest.length) fragment.appendChild(document.createTextNode(rest.slice(pos)));
}

// Fills `target` with the highlighted text. Large texts are left plain (the tokeniser is
// linear, but a huge number of spans is not).
export function highlight(target, text, viewerId) {
    const language = LANGUAGES[viewerId];
    if (!language || text.length > 300_000) {
        target.textContent = text;
        return;
    }
    const { re, names } = compile(language);
    const keywords = KEYWORDS[language];
    const fragment = document.createDocumentFragment();
    re.lastIndex = 0;
    let pos = 0;
    let m;
    while ((m = re.exec(text))) {
        if (m[0] === '') {
            re.lastIndex++;
            continue;
        }
        if (m.index > pos) fragment.appendChild(document.createTextNode(text.slice(pos, m.index)));
        const group = m.slice(1).findIndex((g) => g !== undefined);
        const name = names[group];
        const token = m[0];
        if (name === 'word') {
            const isKeyword = keywords && (keywords.has(token) || keywords.has(token.toLowerCase()));
            if (isKeyword) fragment.appendChild(span('keyword', token));
            else fragment.appendChild(document.createTextNode(token));
        } else if (name === 'tag') {
            markupTag(fragment, token);
        } else if (name === 'value') {
            fragment.appendChild(span('punct', '='));
            fragment.appendChild(span('string', token.slice(1)));
        } else {
            fragment.appendChild(span(name, token));
        }
        pos = m.index + token.length;
    }
    if (pos < text.length) fragment.appendChild(document.createTextNode(text.slice(pos)));
    target.replaceChildren(fragment);
}
